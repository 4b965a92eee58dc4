// Benchmark preload: the wall-clock time at which every SDL_GL_SwapBuffers
// returns, for frame times and start-up time, and (under callgrind) one profile
// dump per frame. Chains to the next SDL_GL_SwapBuffers, so it stacks with the rig.
//
//   BENCH_SWAP_LOG=PATH    written at exit: "t0 NS" (BENCH_T0_NS, when set by
//                          bench_launch just before exec) and "swap K NS" per
//                          swap, CLOCK_MONOTONIC nanoseconds.
//
// Every swap ends in a call of bench_frame_end(), so that callgrind run with
// --dump-after=bench_frame_end writes one profile per frame: dump K+1 holds
// frame K alone (dump 1 also holds start-up).
#include <SDL.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "interpose.h"
#include "real_clock.h"

namespace {

// Preallocated: the log must not add allocations or I/O to the frames it times.
constexpr unsigned max_swaps = 1u << 20;
uint64_t stamps[max_swaps];
unsigned swaps = 0;
const interpose::Next<void()> real_swap("SDL_GL_SwapBuffers");

__attribute__((destructor)) void save()
{
    const char* path = std::getenv("BENCH_SWAP_LOG");
    if (!path || !*path)
        return;
    FILE* log = std::fopen(path, "w");
    if (!log)
        return;
    if (const char* t0 = std::getenv("BENCH_T0_NS"))
        std::fprintf(log, "t0 %s\n", t0);
    for (unsigned k = 0; k < swaps && k < max_swaps; ++k)
        std::fprintf(log, "swap %u %llu\n", k, static_cast<unsigned long long>(stamps[k]));
    std::fclose(log);
}

}  // namespace

// A marker for profilers, kept out of line and not folded away.
extern "C" __attribute__((noinline, visibility("default"))) void bench_frame_end(void)
{
    asm volatile("");
}

extern "C" void SDL_GL_SwapBuffers(void)
{
    real_swap();
    if (swaps < max_swaps)
        stamps[swaps] = real_now_ns();
    ++swaps;
    bench_frame_end();
}
