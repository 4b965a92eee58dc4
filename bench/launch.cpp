// Benchmark launcher: notes the CLOCK_MONOTONIC time, hands it on as BENCH_T0_NS
// and execs the command, so the swap clock can time process start to first frame.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "real_clock.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_launch PROGRAM [ARG...]\n");
        return 2;
    }
    setenv("BENCH_T0_NS", std::to_string(real_now_ns()).c_str(), 1);
    execv(argv[1], argv + 1);
    std::fprintf(stderr, "bench_launch: cannot run %s: %s\n", argv[1], std::strerror(errno));
    return 127;
}
