# Programs built on the DLL for people: the command-line host kestrine-show,
# the C example host, the DLL's version resource and the release package, with
# their tests. kestrine-show's option and series reading is portable code,
# tested natively and under Wine like the core.
if(KESTRINE_FUZZ)
    return()
endif()

add_library(kestrine_show_core STATIC tools/kestrine-show/show_arguments.cpp
            tools/kestrine-show/series_text.cpp tools/kestrine-show/series_follow.cpp
            tools/kestrine-show/straight_alpha.cpp)
target_include_directories(kestrine_show_core PUBLIC tools/kestrine-show)
# The headline value is written in the card's own number style.
target_link_libraries(kestrine_show_core PUBLIC kestrine_core)

# The card drawn into memory and written as a PNG: kestrine-show --png and
# kestrine-snapshot draw with the Windows layer itself, since the DLL exports
# no drawing.
if(TARGET kestrine_win)
    add_library(kestrine_card_png STATIC tools/kestrine-show/card_png.cpp)
    target_link_libraries(kestrine_card_png PUBLIC kestrine_win kestrine_show_core)
endif()

if(KESTRINE_TESTS)
    add_executable(show_tool_tests tests/tools/show_arguments_test.cpp
                   tests/tools/series_text_test.cpp tests/tools/series_follow_test.cpp
                   tests/tools/straight_alpha_test.cpp)
    target_link_libraries(show_tool_tests PRIVATE kestrine_show_core GTest::gtest_main)
    add_test(NAME show_tool_tests COMMAND show_tool_tests --gtest_brief=1)
endif()

if(NOT WIN32 OR NOT TARGET kestrine)
    return()
endif()

# File version, product name and description, shown by the DLL's Properties
# dialog. The file version follows the project; the interface version that
# KestrineVersion reports is a separate number.
enable_language(RC)
configure_file(cmake/kestrine_version.h.in ${CMAKE_BINARY_DIR}/generated/kestrine_version.h @ONLY)
target_sources(kestrine PRIVATE src/kestrine.rc)
target_include_directories(kestrine PRIVATE ${CMAKE_BINARY_DIR}/generated)

# kestrine-show loads kestrine.dll from its own folder at run time, as hosts do.
add_executable(kestrine-show tools/kestrine-show/kestrine_show.cpp)
target_link_libraries(kestrine-show PRIVATE kestrine_show_core kestrine_card_png shell32)
add_dependencies(kestrine-show kestrine)
# Its manifest declares per-monitor DPI awareness.
if(MSVC)
    target_sources(kestrine-show PRIVATE tools/kestrine-show/kestrine-show.manifest)
else()
    target_sources(kestrine-show PRIVATE tools/kestrine-show/kestrine_show.rc)
endif()

if(KESTRINE_TESTS)
add_executable(version_resource_tests tests/dll/version_resource_test.cpp)
target_include_directories(version_resource_tests PRIVATE include)
target_link_libraries(version_resource_tests PRIVATE version GTest::gtest_main)
add_dependencies(version_resource_tests kestrine kestrine-show)
add_test(NAME version_resource_tests COMMAND version_resource_tests --gtest_brief=1)

# A DLL without Kestrine's exports, to check how kestrine-show reports one.
add_library(show_test_empty SHARED tests/tools/empty_dll.c)
set_target_properties(show_test_empty PROPERTIES PREFIX "")
# Its pictures are compared with the frames of a card that the test runs
# itself on the Windows layer.
add_executable(show_cli_tests tests/tools/show_cli_test.cpp tests/card/card_test_support.cpp)
target_include_directories(show_cli_tests PRIVATE tests/card tests/shared)
target_link_libraries(show_cli_tests PRIVATE kestrine_win kestrine_show_core GTest::gtest_main)
add_dependencies(show_cli_tests kestrine-show show_test_empty)
add_test(NAME show_cli_tests COMMAND show_cli_tests --gtest_brief=1
         --gtest_filter=-show_cli_without_fonts.*)
# A prefix without the font replacements, as a Linux user running a Windows
# program under Wine has it: none of the card's listed families exists.
if(CMAKE_HOST_UNIX)
    add_test(NAME show_cli_without_fonts
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-prefix-copy.sh nofonts
                     wine reg delete "HKCU\\Software\\Wine\\Fonts\\Replacements" /f --
                     wine $<TARGET_FILE:show_cli_tests> --gtest_brief=1
                     --gtest_filter=show_cli_without_fonts.*)
endif()
# Ctrl+C comes from a terminal as a signal, which only the host can send.
if(CMAKE_HOST_UNIX)
    add_test(NAME show_follow_interrupt
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tools/follow_interrupt_test.sh
                     $<TARGET_FILE:kestrine-show>)
    set_tests_properties(show_follow_interrupt PROPERTIES TIMEOUT 120)
endif()
endif()  # KESTRINE_TESTS

# The C example links the import library (libkestrine.dll.a with mingw,
# kestrine.lib with MSVC) rather than loading the DLL by hand.
add_executable(kestrine-host-c examples/host-c/host.c)
target_include_directories(kestrine-host-c PRIVATE include)
target_link_libraries(kestrine-host-c PRIVATE kestrine)
add_test(NAME example_host_c COMMAND kestrine-host-c)

# A script host nobody here wrote: Node.js for Windows with the koffi FFI
# module (fetched from the npm registry into build/node), running the Node.js
# example and its checks in a Windows 10 prefix of its own.
if(CMAKE_HOST_UNIX)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(_node_arch x86)
    else()
        set(_node_arch x64)
    endif()
    add_test(NAME node_host
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/node/node_host_test.sh ${_node_arch} ${CMAKE_BINARY_DIR})
    # The first run also fetches about 40 MB and copies the prefix.
    set_tests_properties(node_host PROPERTIES TIMEOUT 300)
endif()

# On x86, each export called through a __stdcall pointer with the arguments
# pushed by hand, the stack pointer compared across the call.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_C_COMPILER_ID STREQUAL "GNU")
    add_executable(stdcall_host tests/dll/stdcall_host.c)
    add_dependencies(stdcall_host kestrine)
    add_test(NAME stdcall_host COMMAND stdcall_host)
endif()

# The release package: what a Windows user needs to call the DLL, flat in one
# folder so that kestrine-show finds kestrine.dll beside itself, with a CMake
# package configuration for find_package(Kestrine CONFIG). One per
# architecture: -win64 (x86-64) and -win32 (x86).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(KESTRINE_DIST_ARCH win32)
    set(KESTRINE_DIST_PROCESSOR x86)
else()
    set(KESTRINE_DIST_ARCH win64)
    set(KESTRINE_DIST_PROCESSOR x86-64)
endif()
set(KESTRINE_DIST_NAME kestrine-${PROJECT_VERSION}-${KESTRINE_DIST_ARCH})
set(KESTRINE_DIST_ZIP ${CMAKE_BINARY_DIR}/dist/${KESTRINE_DIST_NAME}.zip)
set(_stage ${CMAKE_BINARY_DIR}/dist/${KESTRINE_DIST_NAME})
include(CMakePackageConfigHelpers)
set(_package_config ${CMAKE_BINARY_DIR}/generated/package)
# The import library's name is the one this build gives it (libkestrine.dll.a
# with mingw, kestrine.lib with MSVC), read from the target at generation.
configure_file(cmake/KestrineConfig.cmake.in ${_package_config}/KestrineConfig.cmake.configured @ONLY)
file(GENERATE OUTPUT ${_package_config}/KestrineConfig.cmake
     INPUT ${_package_config}/KestrineConfig.cmake.configured)
# The version file also refuses a consumer of the other architecture.
write_basic_package_version_file(${_package_config}/KestrineConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
# The README's pictures and pages, so that its links work in the package.
set(_doc_files ${CMAKE_SOURCE_DIR}/docs/card.png ${CMAKE_SOURCE_DIR}/docs/card-hover.png
    ${CMAKE_SOURCE_DIR}/docs/card-from-script.png ${CMAKE_SOURCE_DIR}/docs/card-high-contrast.png
    ${CMAKE_SOURCE_DIR}/docs/kestrine-show.md
    ${CMAKE_SOURCE_DIR}/docs/threading.md ${CMAKE_SOURCE_DIR}/docs/building-on-windows.md
    ${CMAKE_SOURCE_DIR}/docs/performance.md ${CMAKE_SOURCE_DIR}/docs/contributing.md)
set(_strip_commands)
if(CMAKE_STRIP)
    set(_strip_commands COMMAND ${CMAKE_STRIP} --strip-debug ${_stage}/kestrine.dll
        ${_stage}/kestrine-show.exe)
endif()
add_custom_command(OUTPUT ${KESTRINE_DIST_ZIP}
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${CMAKE_BINARY_DIR}/dist
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:kestrine> $<TARGET_LINKER_FILE:kestrine>
        $<TARGET_FILE:kestrine-show> ${CMAKE_SOURCE_DIR}/include/kestrine.h
        ${CMAKE_SOURCE_DIR}/src/kestrine.def ${CMAKE_SOURCE_DIR}/README.md
        ${CMAKE_SOURCE_DIR}/LICENSE ${_package_config}/KestrineConfig.cmake
        ${_package_config}/KestrineConfigVersion.cmake ${_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}/docs
    COMMAND ${CMAKE_COMMAND} -E copy ${_doc_files} ${_stage}/docs
    ${_strip_commands}
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/dist
        ${CMAKE_COMMAND} -E tar cf ${KESTRINE_DIST_NAME}.zip --format=zip ${KESTRINE_DIST_NAME}
    DEPENDS kestrine kestrine-show ${CMAKE_SOURCE_DIR}/include/kestrine.h
        ${_package_config}/KestrineConfig.cmake ${_package_config}/KestrineConfigVersion.cmake
        ${CMAKE_SOURCE_DIR}/src/kestrine.def ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
        ${_doc_files}
    COMMENT "Packing ${KESTRINE_DIST_NAME}.zip"
    VERBATIM)
add_custom_target(kestrine_dist ALL DEPENDS ${KESTRINE_DIST_ZIP})
# Unpacks with unzip and runs the program under Wine: a test of the cross build.
if(CMAKE_HOST_UNIX)
    add_test(NAME dist_package
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tools/dist_package_test.sh ${KESTRINE_DIST_ZIP})
endif()
# A project of a user's, built against the unpacked package the way this build
# was made (the cross toolchain, or on Windows the same generator, platform
# and configuration) and run: under Wine here, natively on Windows.
set(_consumer_options)
if(CMAKE_CROSSCOMPILING)
    get_filename_component(_toolchain ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    list(APPEND _consumer_options -DTOOLCHAIN=${_toolchain} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR})
elseif(CMAKE_GENERATOR MATCHES "^Visual Studio")
    list(APPEND _consumer_options -DPLATFORM=${CMAKE_GENERATOR_PLATFORM})
else()
    list(APPEND _consumer_options -DC_COMPILER=${CMAKE_C_COMPILER})
endif()
add_test(NAME dist_consumer
         COMMAND ${CMAKE_COMMAND} -DZIP=${KESTRINE_DIST_ZIP} -DWORK=${CMAKE_BINARY_DIR}/dist-consumer
                 "-DGENERATOR=${CMAKE_GENERATOR}" -DCONFIG=$<CONFIG> ${_consumer_options}
                 -P ${CMAKE_SOURCE_DIR}/tests/tools/dist_consumer_test.cmake)
set_tests_properties(dist_consumer PROPERTIES TIMEOUT 300)
