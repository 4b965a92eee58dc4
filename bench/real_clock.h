// The benchmark's clock: CLOCK_MONOTONIC in nanoseconds, read by a raw system
// call, which the rig's frame clock (capture/rig.h) leaves alone, so that the
// preloads stacked with the rig time real frames.
#pragma once

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

inline uint64_t real_now_ns()
{
    timespec ts;
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}
