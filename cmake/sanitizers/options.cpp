// Sanitizer runtime defaults, linked into every target of the sanitizer build
// (VORNA_SANITIZE), so that a plain ctest there behaves as tools/test does.
// Options in ASAN_OPTIONS, LSAN_OPTIONS or UBSAN_OPTIONS still override them.

extern "C" {

// Libraries stay loaded until the process ends. SDL_Quit unloads the GL, and
// with it Mesa's driver, before the leak check runs at exit; a leak inside an
// unloaded library has no module name, so no suppression could ever match it.
int dlclose(void*)
{
    return 0;
}

// The tests preload the rig (itself sanitized) into the sanitized demo. The
// preload then loads before the runtime, which the runtime would refuse; the demo
// carries the runtime itself, so every allocation still goes through it.
// Errors inside system libraries that no caller can mend would be listed, with
// reasons, in asan.supp beside this file; leaks inside Mesa and SDL are in lsan.supp.
const char* __asan_default_options()
{
    return "verify_asan_link_order=0:detect_stack_use_after_return=1:strict_init_order=1:"
           "check_initialization_order=1:suppressions=" VORNA_ASAN_SUPPRESSIONS;
}

const char* __lsan_default_options()
{
    return "suppressions=" VORNA_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

}  // extern "C"
