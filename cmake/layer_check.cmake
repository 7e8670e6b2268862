# The layers of src/ and the one direction their includes go: dll -> card ->
# draw -> core. Checked when the build is configured, so that a file reaching
# up a layer, or Windows headers in the portable core, fail every build
# (the native one included) before anything compiles.
set(_kestrine_layers core draw card dll)
foreach(_layer IN LISTS _kestrine_layers)
    list(FIND _kestrine_layers ${_layer} _rank)
    file(GLOB _files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${_layer}/*.h
         ${CMAKE_SOURCE_DIR}/src/${_layer}/*.cpp)
    foreach(_file IN LISTS _files)
        file(STRINGS ${_file} _includes REGEX "^[ \t]*#[ \t]*include")
        foreach(_line IN LISTS _includes)
            if(_layer STREQUAL "core" AND _line MATCHES "<(windows|windef|winuser|wingdi|gdiplus|objidl|shellscalingapi)\\.h>")
                message(FATAL_ERROR "${_file}: the portable core must build without Windows headers: ${_line}")
            endif()
            if(_line MATCHES "\"(core|draw|card|dll)/")
                list(FIND _kestrine_layers ${CMAKE_MATCH_1} _target)
                if(_target GREATER _rank)
                    message(FATAL_ERROR "${_file}: ${_layer} includes from ${CMAKE_MATCH_1}, a layer above it: ${_line}")
                endif()
            endif()
        endforeach()
    endforeach()
endforeach()
