# The Windows layer: module state, GDI+ lifetime, text drawing, frame renderer,
# window procedure, UI thread and the exports, as a static library that the DLL
# and the Windows test programs share. Only the DLL has DllMain and the .def.
set(KESTRINE_WIN_SOURCES
    src/draw/module_lock.cpp
    src/draw/gdiplus_lifetime.cpp
    src/draw/text_drawing.cpp
    src/draw/frame_renderer.cpp
    src/draw/card_base.cpp
    src/draw/tiled_surface.cpp
    src/draw/frame_layers.cpp
    src/card/card_registry.cpp
    src/card/hand_over.cpp
    src/card/card_layers.cpp
    src/card/card_accessible.cpp
    src/card/display_settings.cpp
    src/card/window_proc.cpp
    src/card/ui_thread.cpp
    src/dll/module_state.cpp
    src/dll/exports.cpp
)
# Pieces still being written are left out until their file exists.
set(_present)
foreach(f ${KESTRINE_WIN_SOURCES})
    if(EXISTS ${CMAKE_SOURCE_DIR}/${f})
        list(APPEND _present ${f})
    endif()
endforeach()
set(KESTRINE_WIN_SOURCES ${_present})

if(KESTRINE_WIN_SOURCES)
    add_library(kestrine_win STATIC ${KESTRINE_WIN_SOURCES})
    target_link_libraries(kestrine_win PUBLIC kestrine_core gdiplus gdi32 user32)
    target_compile_definitions(kestrine_win PUBLIC UNICODE _UNICODE)
endif()

# kestrine.dll: DllMain plus the layer, exporting exactly the names in
# src/kestrine.def. kestrine_test.dll is the same code with a few more exports
# that let end-to-end tests count records and watch frames; only tests load it.
# On x86 the three exports are __stdcall, whose symbols carry the bytes their
# arguments take (ShowKestrine@52). MSVC matches the plain names of a .def to
# those by itself; mingw's linker does not, so it is given a copy of the .def
# with the suffixes, exports the names without them (--kill-at), and the
# import library is remade with dlltool -k: hosts compiled with kestrine.h
# link the decorated symbols, and the DLL is asked for the plain names.
set(KESTRINE_X86_STDCALL_SUFFIXES ShowKestrine@52 CloseKestrine@0 KestrineVersion@0)
function(kestrine_exports target def)
    if(NOT (MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4))
        target_sources(${target} PRIVATE ${def})
        return()
    endif()
    file(READ ${def} text)
    foreach(decorated IN LISTS KESTRINE_X86_STDCALL_SUFFIXES)
        string(REGEX REPLACE "@.*" "" plain ${decorated})
        string(REGEX REPLACE "\n([ \t]+)${plain}([ \t]*)\n" "\n\\1${decorated}\\2\n" text "${text}")
    endforeach()
    get_filename_component(name ${def} NAME_WE)
    set(x86_def ${CMAKE_BINARY_DIR}/generated/${name}_x86.def)
    file(WRITE ${x86_def} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    target_sources(${target} PRIVATE ${x86_def})
    # No fuzzy matching of plain and decorated names: a suffix that no longer
    # fits the function's arguments fails the link.
    target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--disable-stdcall-fixup)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_DLLTOOL} -k -d ${x86_def} -D $<TARGET_FILE_NAME:${target}>
                -l $<TARGET_LINKER_FILE_NAME:${target}>
        WORKING_DIRECTORY $<TARGET_LINKER_FILE_DIR:${target}>
        VERBATIM)
endfunction()

if(TARGET kestrine_win AND EXISTS ${CMAKE_SOURCE_DIR}/src/dll/exports.cpp)
    target_include_directories(kestrine_win PUBLIC include)
    target_compile_definitions(kestrine_win PUBLIC KESTRINE_STATIC)

    add_library(kestrine SHARED src/dll/dll_main.cpp)
    kestrine_exports(kestrine ${CMAKE_SOURCE_DIR}/src/kestrine.def)
    target_link_libraries(kestrine PRIVATE kestrine_win)
    set_target_properties(kestrine PROPERTIES PREFIX "" OUTPUT_NAME kestrine)
endif()
if(TARGET kestrine AND KESTRINE_TESTS)
    add_library(kestrine_test SHARED src/dll/dll_main.cpp tests/dll/test_dll_seams.cpp)
    kestrine_exports(kestrine_test ${CMAKE_SOURCE_DIR}/tests/dll/kestrine_test.def)
    target_link_libraries(kestrine_test PRIVATE kestrine_win)
    set_target_properties(kestrine_test PROPERTIES PREFIX "" OUTPUT_NAME kestrine_test)

    # The export table as a host's loader sees it, read without Wine.
    if(CMAKE_HOST_UNIX AND CMAKE_OBJDUMP)
        add_test(NAME export_names
                 COMMAND bash ${CMAKE_SOURCE_DIR}/tests/dll/export_names_test.sh ${CMAKE_OBJDUMP}
                         $<TARGET_FILE:kestrine>)
        set_tests_properties(export_names PROPERTIES LABELS no-wine)
    endif()

    # On Windows, the DLL this build made read as the cross builds' DLLs are
    # read natively on Linux: its architecture, its three exports, and no
    # import of a compiler runtime (VCRUNTIME140.dll, MSVCP140.dll).
    if(CMAKE_HOST_WIN32)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            set(_dll_option --win32=$<TARGET_FILE:kestrine>)
        else()
            set(_dll_option --win64=$<TARGET_FILE:kestrine>)
        endif()
        add_executable(dll_file_tests tests/dll/dll_file_test.cpp)
        target_link_libraries(dll_file_tests PRIVATE GTest::gtest)
        add_dependencies(dll_file_tests kestrine)
        add_test(NAME dll_files COMMAND dll_file_tests --gtest_brief=1 ${_dll_option})
    endif()

    # Cards run on the test's own thread, with the window procedure called directly,
    # and on threads of their own, reached through the exports.
    add_executable(window_tests tests/card/window_proc_test.cpp tests/card/ui_thread_test.cpp
                tests/card/card_layers_test.cpp tests/card/hand_over_test.cpp
                tests/card/card_accessible_test.cpp tests/card/display_settings_test.cpp
                tests/card/card_test_support.cpp)
    target_include_directories(window_tests PRIVATE tests/shared)
    target_link_libraries(window_tests PRIVATE kestrine_win GTest::gtest_main oleacc oleaut32)
    add_test(NAME window_tests COMMAND window_tests --gtest_brief=1)

    # A real host: loads the DLL by name, drives it with real input.
    add_executable(replace_sender tests/dll/replace_sender.cpp)
    add_executable(card_host_test tests/dll/exports_test.cpp)
    target_include_directories(card_host_test PRIVATE include tests/shared)
    target_link_libraries(card_host_test PRIVATE GTest::gtest psapi)
    add_dependencies(card_host_test kestrine kestrine_test replace_sender)
    add_test(NAME card_host COMMAND card_host_test --dll=kestrine.dll --gtest_brief=1
             --gtest_filter=-Counted*:Dpi120*)
    add_test(NAME card_host_counted COMMAND card_host_test --dll=kestrine_test.dll
             --gtest_brief=1 --gtest_filter=Counted*)
    # Its own Wine prefix (LogPixels 120), X server and wineserver: a test of
    # the cross build only. On Windows, ctest runs the Windows tests natively
    # and registers none of the Wine harness's own.
    if(CMAKE_HOST_UNIX)
        add_test(NAME card_host_dpi120
                 COMMAND ${CMAKE_SOURCE_DIR}/tests/dll/run_dpi120.sh $<TARGET_FILE:card_host_test>)
    endif()

    # A screen reader's view of the cards, in a process of its own.
    add_executable(card_access_test tests/dll/accessibility_test.cpp)
    target_include_directories(card_access_test PRIVATE include tests/shared)
    target_link_libraries(card_access_test PRIVATE GTest::gtest ole32 oleaut32)
    add_dependencies(card_access_test kestrine_test)
    add_test(NAME card_access COMMAND card_access_test --dll=kestrine_test.dll --gtest_brief=1)

    # The harness: a test program that crashes ends with Wine's backtrace
    # instead of hanging on a crash dialog.
    if(CMAKE_HOST_UNIX)
        add_executable(crash_on_purpose tests/dll/crash_on_purpose.c)
        add_test(NAME wine_crash_ends
                 COMMAND bash ${CMAKE_SOURCE_DIR}/tests/dll/crash_ends_test.sh
                         ${CMAKE_SOURCE_DIR}/scripts/wine-run $<TARGET_FILE:crash_on_purpose>)
        set_tests_properties(wine_crash_ends PROPERTIES TIMEOUT 60)
    endif()

    add_executable(kestrine_bench tools/kestrine_bench.cpp)
    target_include_directories(kestrine_bench PRIVATE include)
    add_dependencies(kestrine_bench kestrine_test)
endif()

# Drawing: module state, text and frame renderer on real GDI+ under Wine, and
# the programs that draw cards into memory (snapshots, render benchmark).
if(TARGET kestrine_win AND KESTRINE_TESTS)
    add_executable(win_drawing_tests tests/draw/drawing_test_support.cpp
                   tests/draw/module_state_test.cpp tests/draw/text_drawing_test.cpp
                   tests/draw/frame_renderer_test.cpp tests/draw/frame_layers_test.cpp
                   tests/draw/tiled_surface_test.cpp)
    target_include_directories(win_drawing_tests PRIVATE tests/shared)
    target_link_libraries(win_drawing_tests PRIVATE kestrine_win GTest::gtest_main)
    add_test(NAME win_drawing_tests COMMAND win_drawing_tests --gtest_brief=1)

    # The Windows sources as MSVC sees them: with the SDK's min and max macros.
    # A shell script handing GCC's options to the cross compiler; with MSVC
    # the real macros are in force anyway.
    if(CMAKE_HOST_UNIX AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_test(NAME windows_h_min_max
                 COMMAND sh ${CMAKE_SOURCE_DIR}/tests/msvc_macros/check.sh ${CMAKE_CXX_COMPILER}
                         ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${KESTRINE_GOOGLETEST_DIR}/googletest/include)
    endif()
endif()
if(TARGET kestrine_win)
    add_executable(kestrine-snapshot tools/kestrine-snapshot/snapshot.cpp)
    target_link_libraries(kestrine-snapshot PRIVATE kestrine_card_png shell32)

    add_executable(kestrine-bench-render tools/kestrine-bench-render/render_bench.cpp)
    target_link_libraries(kestrine-bench-render PRIVATE kestrine_win)
endif()
