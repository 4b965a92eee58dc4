# Compiler settings every target of the build shares, desktop and web alike.
#
# Warnings: -Wall -Wextra -Wshadow everywhere. CI's builds make them errors
# (tools/test configures with -DCMAKE_COMPILE_WARNING_AS_ERROR=ON); a build by
# hand only shows them.
#
# Optimisation: -O2 unless a build type says otherwise. Assertions stay on (no
# NDEBUG): they guard GL invariants.
add_compile_options(-Wall -Wextra -Wshadow)
if(NOT CMAKE_BUILD_TYPE)
    add_compile_options(-O2)
endif()

# Exceptions in the browser build are caught as on the desktop (Emscripten's
# default turns every throw into an abort).
if(EMSCRIPTEN)
    add_compile_options(-sDISABLE_EXCEPTION_CATCHING=0)
    add_link_options(-sDISABLE_EXCEPTION_CATCHING=0)
endif()

# vorna_exact_arithmetic(target...): the effects' figures are defined to the bit,
# so the code that computes them (and the tests that recompute them) is built
# with no fused multiply-add; -ffast-math is never used anywhere.
function(vorna_exact_arithmetic)
    foreach(target IN LISTS ARGN)
        target_compile_options(${target} PRIVATE -ffp-contract=off)
    endforeach()
endfunction()
