# The portable core: every file in src/core and nothing else, built natively
# (plain, sanitized and fuzzed) and for Windows. One test file per source module.
file(GLOB KESTRINE_CORE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/core/*.cpp)
file(GLOB KESTRINE_CORE_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/core/*.h)


set(KESTRINE_CORE_TESTS
    tests/core/request_building_test.cpp
    tests/core/axis_scale_test.cpp
    tests/core/labels_test.cpp
    tests/core/axis_ticks_test.cpp
    tests/core/head_position_test.cpp
    tests/core/curve_columns_test.cpp
    tests/core/pixel_blend_test.cpp
    tests/core/text_reach_test.cpp
    tests/core/animation_clock_test.cpp
    tests/core/placement_test.cpp
    tests/core/readout_test.cpp
    tests/core/card_description_test.cpp
    tests/core/card_palette_test.cpp
)
