# Fails the web build when a src/ unit calls a GL, GLU or SDL_GL_ function that
# platform.h does not rename: such a call would reach the GL while a batch of
# lines is still waiting to be drawn, and draw or change state out of order.
# Also checks that every call in VORNA_WEB_FLUSHED_CALLS has its #define.
#
# cmake -DPLATFORM_H=web/platform.h -DSOURCES="a.cpp;b.cpp" -DSTAMP=out -P check_renames.cmake
cmake_minimum_required(VERSION 3.13)
file(READ ${PLATFORM_H} platform)
string(REGEX MATCHALL "#define (gl|glu|SDL_GL_)[A-Za-z0-9_]+ vorna_web_" defines "${platform}")
set(renamed)
foreach(line IN LISTS defines)
    string(REGEX REPLACE "#define ([A-Za-z0-9_]+) .*" "\\1" name "${line}")
    list(APPEND renamed ${name})
endforeach()
string(REGEX MATCHALL "X\\([A-Za-z]+, *[A-Za-z0-9_]+," entries "${platform}")
if(NOT entries)
    message(FATAL_ERROR "${PLATFORM_H}: no VORNA_WEB_FLUSHED_CALLS entries found")
endif()
foreach(entry IN LISTS entries)
    string(REGEX REPLACE "X\\([A-Za-z]+, *([A-Za-z0-9_]+)," "\\1" name "${entry}")
    if(NOT name IN_LIST renamed)
        message(FATAL_ERROR "${PLATFORM_H}: ${name} is in VORNA_WEB_FLUSHED_CALLS "
                            "but has no #define ${name} vorna_web_${name}")
    endif()
endforeach()
set(missing)
foreach(source IN LISTS SOURCES)
    file(READ ${source} text)
    string(REGEX MATCHALL "(^|[^A-Za-z0-9_])(gl|glu|SDL_GL_)[A-Z][A-Za-z0-9_]*" calls "${text}")
    foreach(call IN LISTS calls)
        string(REGEX REPLACE "^[^A-Za-z0-9_]" "" call "${call}")
        if(NOT call IN_LIST renamed)
            list(APPEND missing "${source}: ${call}")
        endif()
    endforeach()
endforeach()
if(missing)
    list(REMOVE_DUPLICATES missing)
    list(JOIN missing "\n  " missing)
    message(FATAL_ERROR "calls platform.h does not rename (add them to "
                        "VORNA_WEB_FLUSHED_CALLS and its #defines):\n  ${missing}")
endif()
file(WRITE ${STAMP} "")
