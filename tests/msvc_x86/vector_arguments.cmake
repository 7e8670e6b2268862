# 32-bit MSVC passes at most three __m128/__m128d/__m128i arguments by value
# and rejects a fourth with C2719; GCC and Clang accept any number, so no
# build here would notice. This reads the sources instead: every parameter
# list (of functions, lambdas and function types) with more than three such
# by-value parameters is reported, and the check fails.
#   cmake -DSOURCES=<dirs or files> [-DEXPECT=name,name,...] -P vector_arguments.cmake
# With EXPECT, it passes only when exactly the functions named are reported
# (how the check's own test shows that it catches them).
if(NOT SOURCES)
    message(FATAL_ERROR "usage: cmake -DSOURCES=<dirs or files> [-DEXPECT=name,name,...] -P vector_arguments.cmake")
endif()

set(files)
foreach(path IN LISTS SOURCES)
    if(IS_DIRECTORY "${path}")
        file(GLOB_RECURSE found "${path}/*.h" "${path}/*.hpp" "${path}/*.cpp" "${path}/*.c")
        list(APPEND files ${found})
    elseif(EXISTS "${path}")
        list(APPEND files "${path}")
    else()
        message(FATAL_ERROR "no such file or folder: ${path}")
    endif()
endforeach()
list(SORT files)

set(vector_types "__m128|__m128d|__m128i")
# A parameter that takes a vector by value: the type, maybe const, maybe a
# name, maybe a default; not a pointer or a reference.
set(by_value "^(const )?(${vector_types})( const)?( [A-Za-z_][A-Za-z_0-9]*)?( ?=.*)?$")

set(reported)
set(report)
foreach(file IN LISTS files)
    file(READ "${file}" text)
    # List separators and brackets mean something to CMake's lists, and
    # nothing to a parameter list.
    string(REPLACE ";" " " text "${text}")
    string(REGEX REPLACE "[][]" " " text "${text}")
    # Comments, strings and characters, left to right, so that a quote in a
    # comment or a slash in a string is taken for what it is.
    string(REGEX REPLACE "//[^\n]*|/\\*([^*]|\\*+[^*/])*\\*+/|\"([^\"\\\\\n]|\\\\.)*\"|'([^'\\\\\n]|\\\\.)*'"
           " " text "${text}")
    string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
    # Innermost parentheses first; each group read is then replaced by a mark,
    # so that a default argument's call or a function pointer's parameters
    # leave the list around them one parameter each.
    while(text MATCHES "\\(")
        string(REGEX MATCHALL "[A-Za-z_0-9@~]* ?\\([^()]*\\)" groups "${text}")
        if(NOT groups)
            break()  # an unbalanced parenthesis: nothing more to read
        endif()
        foreach(group IN LISTS groups)
            if(NOT group MATCHES "(${vector_types})")
                continue()
            endif()
            string(REGEX REPLACE " ?\\(.*" "" name "${group}")
            string(REGEX REPLACE "^[^(]*\\((.*)\\)$" "\\1" parameters "${group}")
            string(REPLACE "," ";" parameters "${parameters}")
            set(count 0)
            foreach(parameter IN LISTS parameters)
                string(STRIP "${parameter}" parameter)
                if(parameter MATCHES "${by_value}")
                    math(EXPR count "${count} + 1")
                endif()
            endforeach()
            if(count GREATER 3)
                if(name STREQUAL "")
                    set(name "lambda")
                endif()
                list(APPEND reported "${name}")
                string(APPEND report "${file}: ${name} takes ${count} vectors by value: ${group}\n")
            endif()
        endforeach()
        string(REGEX REPLACE "\\([^()]*\\)" "@" text "${text}")
    endwhile()
endforeach()

list(LENGTH files checked)
if(DEFINED EXPECT)
    list(SORT reported)
    string(REPLACE "," ";" expected "${EXPECT}")
    list(SORT expected)
    if(NOT reported STREQUAL expected)
        message(FATAL_ERROR "reported: ${reported}\nexpected: ${expected}\n${report}")
    endif()
    message(STATUS "${checked} files read, the expected ones reported: ${reported}")
elseif(report)
    message(FATAL_ERROR "32-bit MSVC rejects a fourth vector argument by value (C2719); "
                        "take the others by const&:\n${report}")
else()
    message(STATUS "${checked} files read, none takes more than three vectors by value")
endif()
