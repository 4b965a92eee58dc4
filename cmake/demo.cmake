# What a demo is built from, one list of units for the desktop and the browser
# alike: a unit is a path without ".cpp" (and its ".h", if any), relative to the
# folder that names it; a new effect is one more line in one list.
#
# vorna_library(NAME UNITS unit...)
#     The effects and the toolkit that every demo links, as the static library
#     NAME. For the web its units are compiled with the web layer's renames
#     (web/platform.h), checked to make no GL call the layer does not wrap.
#
# vorna_demo(NAME UNITS main [unit...] ASSETS DIR [OUTPUT DIR] [SITE DIR]
#            [TITLE text] [BLURB text])
#     A demo: its main unit (src/main.h's Demo, demo and run_frame()) and its
#     own effects, linked with the library vorna, started from ASSETS.
#     Desktop: the program NAME and its development player NAME-dev (dev/) in
#     OUTPUT (default: this folder's build folder). Web: the site in SITE
#     (default: site/ in this folder's build folder), with ASSETS as its data
#     and a page titled TITLE, BLURB under it.

function(vorna_library name)
    cmake_parse_arguments(ARG "" "" "UNITS" ${ARGN})
    list(TRANSFORM ARG_UNITS APPEND .cpp OUTPUT_VARIABLE sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    vorna_exact_arithmetic(${name})
    if(EMSCRIPTEN)
        vorna_web_units(${name} ${ARG_UNITS})
    else()
        target_link_libraries(${name} PUBLIC
            SDL::SDL PkgConfig::SDL_IMAGE GLEW::GLEW OpenGL::GLU OpenGL::GL)
    endif()
endfunction()

function(vorna_demo name)
    cmake_parse_arguments(ARG "" "ASSETS;OUTPUT;SITE;TITLE;BLURB" "UNITS" ${ARGN})
    if(NOT ARG_UNITS OR NOT ARG_ASSETS)
        message(FATAL_ERROR "vorna_demo(${name}): UNITS and ASSETS are required")
    endif()
    list(TRANSFORM ARG_UNITS APPEND .cpp OUTPUT_VARIABLE sources)
    if(EMSCRIPTEN)
        if(NOT ARG_SITE)
            set(ARG_SITE ${CMAKE_CURRENT_BINARY_DIR}/site)
        endif()
        vorna_web_site(${name} UNITS ${ARG_UNITS} ASSETS ${ARG_ASSETS} SITE ${ARG_SITE}
                       TITLE "${ARG_TITLE}" BLURB "${ARG_BLURB}")
        return()
    endif()
    if(NOT ARG_OUTPUT)
        set(ARG_OUTPUT ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE vorna PkgConfig::SDL_MIXER)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT})
    vorna_exact_arithmetic(${name})
    vorna_dev_player(${name} ${sources} OUTPUT ${ARG_OUTPUT})
endfunction()
