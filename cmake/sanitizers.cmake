# The sanitizer build, for CI (tools/test builds it in build-asan):
# AddressSanitizer and UndefinedBehaviorSanitizer on everything built here; any
# report fails. Its runtime defaults and suppressions live in sanitizers/.
option(VORNA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(NOT VORNA_SANITIZE)
    return()
endif()
set(VORNA_SANITIZE_FLAGS
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
# GCC 12's maybe-uninitialized analysis misfires on instrumented libstdc++ code
# (std::regex); the normal build keeps the warning.
add_compile_options(${VORNA_SANITIZE_FLAGS} -Wno-maybe-uninitialized)
add_link_options(${VORNA_SANITIZE_FLAGS})
# The runtimes' defaults (suppressions, preloading) and a dlclose that keeps
# libraries loaded for the leak check travel inside every target.
set(dir ${CMAKE_CURRENT_LIST_DIR}/sanitizers)
add_library(vorna_sanitizer_options OBJECT ${dir}/options.cpp)
target_compile_definitions(vorna_sanitizer_options PRIVATE
    VORNA_ASAN_SUPPRESSIONS="${dir}/asan.supp"
    VORNA_LSAN_SUPPRESSIONS="${dir}/lsan.supp")
link_libraries(vorna_sanitizer_options)
