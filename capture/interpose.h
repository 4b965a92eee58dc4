// Interposition: how our preload libraries (the rig, the benchmark's preloads,
// the tests' hooks) stand in for a function of the program's libraries and
// still reach the real one.
//
// A preload defines the function under its real name, with C linkage, and
// calls the definition it hides through a `Next` made from that name:
//
//   const interpose::Next<void()> real_swap("SDL_GL_SwapBuffers");
//   extern "C" void SDL_GL_SwapBuffers(void) { ...; real_swap(); ... }
//
// The real function is looked up once, on first use, as the next definition
// after the library that calls it (dlsym with RTLD_NEXT), so preloads stack:
// each reaches the next, and the last the program's own library. A process that
// has no such function (an SDL 1.2 call in an SDL 2 program) answers null from
// get(); calling it then is the caller's mistake.
//
// A preload reads its settings in one load-time set-up (one constructor
// function), so that a bad setting stops the program before it opens a window.
#pragma once

#include <dlfcn.h>

#include <atomic>

// Hidden: each library keeps its own copy, whose RTLD_NEXT is that library's.
// With default visibility the loader would bind every preload's calls to the
// first copy loaded, and all of them would look up from there.
#pragma GCC visibility push(hidden)
namespace interpose {

template <typename Signature>
class Next;

template <typename Result, typename... Args>
class Next<Result(Args...)> {
public:
    using Function = Result (*)(Args...);

    constexpr explicit Next(const char* name) : name_(name) {}
    Next(const Next&) = delete;
    Next& operator=(const Next&) = delete;

    const char* name() const { return name_; }

    // The hidden definition, or null when no later library has one. Threads may
    // race to the first look-up; they find the same answer.
    Function get() const
    {
        if (!looked_up_.load(std::memory_order_acquire)) {
            function_.store(reinterpret_cast<Function>(dlsym(RTLD_NEXT, name_)),
                            std::memory_order_relaxed);
            looked_up_.store(true, std::memory_order_release);
        }
        return function_.load(std::memory_order_relaxed);
    }

    Result operator()(Args... args) const { return get()(args...); }

private:
    const char* name_;
    mutable std::atomic<Function> function_{nullptr};
    mutable std::atomic<bool> looked_up_{false};
};

}  // namespace interpose
#pragma GCC visibility pop
