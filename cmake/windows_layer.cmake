# The Windows layer: module state, GDI+ lifetime, text drawing, frame renderer,
# window procedure, UI thread and the exports, as a static library that the DLL
# and the Windows test programs share. Only the DLL has DllMain and the .def.
set(KESTRINE_WIN_SOURCES
    src/draw/module_lock.cpp
    src/draw/gdiplus_lifetime.cpp
    src/draw/text_drawing.cpp
    src/draw/frame_renderer.cpp
    src/draw/card_base.cpp
    src/draw/frame_layers.cpp
    src/card/card_registry.cpp
    src/card/record_ownership.cpp
    src/card/card_layers.cpp
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
if(TARGET kestrine_win AND EXISTS ${CMAKE_SOURCE_DIR}/src/dll/exports.cpp)
    target_include_directories(kestrine_win PUBLIC include)
    target_compile_definitions(kestrine_win PUBLIC KESTRINE_STATIC)

    add_library(kestrine SHARED src/dll/dll_main.cpp src/kestrine.def)
    target_link_libraries(kestrine PRIVATE kestrine_win)
    set_target_properties(kestrine PROPERTIES PREFIX "" OUTPUT_NAME kestrine)
endif()
if(TARGET kestrine AND KESTRINE_TESTS)
    add_library(kestrine_test SHARED src/dll/dll_main.cpp tests/dll/test_dll_seams.cpp
                tests/dll/kestrine_test.def)
    target_link_libraries(kestrine_test PRIVATE kestrine_win)
    set_target_properties(kestrine_test PROPERTIES PREFIX "" OUTPUT_NAME kestrine_test)

    # Cards run on the test's own thread, with the window procedure called directly,
    # and on threads of their own, reached through the exports.
    add_executable(window_tests tests/card/window_proc_test.cpp tests/card/ui_thread_test.cpp
                tests/card/card_layers_test.cpp tests/card/hand_over_test.cpp
                tests/card/card_test_support.cpp)
    target_link_libraries(window_tests PRIVATE kestrine_win GTest::gtest_main)
    add_test(NAME window_tests COMMAND window_tests --gtest_brief=1)

    # A real host: loads the DLL by name, drives it with real input.
    add_executable(replace_sender tests/dll/replace_sender.cpp)
    add_executable(card_host_test tests/dll/exports_test.cpp)
    target_include_directories(card_host_test PRIVATE include)
    target_link_libraries(card_host_test PRIVATE GTest::gtest psapi)
    add_dependencies(card_host_test kestrine kestrine_test replace_sender)
    add_test(NAME card_host COMMAND card_host_test --dll=kestrine.dll --gtest_brief=1
             --gtest_filter=-Counted*:Dpi120*)
    add_test(NAME card_host_counted COMMAND card_host_test --dll=kestrine_test.dll
             --gtest_brief=1 --gtest_filter=Counted*)
    # Its own Wine prefix (LogPixels 120), X server and wineserver.
    add_test(NAME card_host_dpi120
             COMMAND ${CMAKE_SOURCE_DIR}/tests/dll/run_dpi120.sh $<TARGET_FILE:card_host_test>)

    # The harness: a test program that crashes ends with Wine's backtrace
    # instead of hanging on a crash dialog.
    add_executable(crash_on_purpose tests/dll/crash_on_purpose.c)
    add_test(NAME wine_crash_ends
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/dll/crash_ends_test.sh
                     ${CMAKE_SOURCE_DIR}/scripts/wine-run $<TARGET_FILE:crash_on_purpose>)
    set_tests_properties(wine_crash_ends PROPERTIES TIMEOUT 60)

    add_executable(kestrine_bench tools/kestrine_bench.cpp)
    target_include_directories(kestrine_bench PRIVATE include)
    add_dependencies(kestrine_bench kestrine_test)
endif()

# Drawing: module state, text and frame renderer on real GDI+ under Wine, and
# the programs that draw cards into memory (snapshots, render benchmark).
if(TARGET kestrine_win AND KESTRINE_TESTS)
    add_executable(win_drawing_tests tests/draw/drawing_test_support.cpp
                   tests/draw/module_state_test.cpp tests/draw/text_drawing_test.cpp
                   tests/draw/frame_renderer_test.cpp tests/draw/frame_layers_test.cpp)
    target_link_libraries(win_drawing_tests PRIVATE kestrine_win GTest::gtest_main)
    add_test(NAME win_drawing_tests COMMAND win_drawing_tests --gtest_brief=1)

    # The Windows sources as MSVC sees them: with the SDK's min and max macros.
    add_test(NAME windows_h_min_max
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/msvc_macros/check.sh ${CMAKE_CXX_COMPILER}
                     ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${KESTRINE_GOOGLETEST_DIR}/googletest/include)
endif()
if(TARGET kestrine_win)
    add_executable(kestrine-snapshot tools/kestrine-snapshot/snapshot.cpp)
    target_link_libraries(kestrine-snapshot PRIVATE kestrine_card_png shell32)

    add_executable(kestrine-bench-render tools/kestrine-bench-render/render_bench.cpp)
    target_link_libraries(kestrine-bench-render PRIVATE kestrine_win)
endif()
