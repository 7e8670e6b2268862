# The portable core: no <windows.h>, built natively (plain and sanitized) and
# for Windows. One test file per source module.
set(KESTRINE_CORE_SOURCES
    src/interface/request_building.cpp
    src/chart/axis_scale.cpp
    src/chart/labels.cpp
    src/chart/axis_ticks.cpp
    src/chart/head_position.cpp
    src/chart/curve_columns.cpp
    src/chart/pixel_blend.cpp
    src/chart/text_reach.cpp
    src/chart/animation_clock.cpp
    src/window/placement.cpp
    src/interface/offer_registry.cpp
)

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
    tests/core/offer_registry_test.cpp
)
