// Benchmark preload: counts heap allocations per frame (between swaps), split
// into those our program asked for and everyone's. Ours: the first caller
// outside the C and C++ runtimes lies in the main executable, so a std::string
// built by our code counts, and Mesa's or SDL's own allocations do not.
// Chains to the next SDL_GL_SwapBuffers, so it stacks with the rig.
//
//   BENCH_ALLOC_LOG=PATH  written at exit: "frame K ours N all M" per frame (frame
//                         0 includes everything before the first swap), then up
//                         to 32 "ours K ADDRESS SYMBOL" lines naming where our
//                         allocations after frame 0 came from.
#include <SDL.h>
#include <dlfcn.h>
#include <link.h>
#include <unwind.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "interpose.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

struct Range {
    uintptr_t begin, end;
};

// Executable segments of the main program, and of the runtimes that allocate on
// a caller's behalf (the caller behind them decides whose allocation it is).
Range program[8];
int program_count = 0;
Range runtimes[32];
int runtime_count = 0;

constexpr unsigned max_frames = 1u << 16;
std::atomic<unsigned> ours[max_frames];
std::atomic<unsigned> all[max_frames];
std::atomic<unsigned> frame{0};

struct Origin {
    unsigned frame;
    uintptr_t address;
};
constexpr int max_origins = 32;
Origin origins[max_origins];
std::atomic<int> origin_count{0};

std::atomic<bool> ready{false};
__attribute__((tls_model("initial-exec"))) thread_local bool busy =
    false;  // our own unwinding may allocate: not counted
const interpose::Next<void()> real_swap("SDL_GL_SwapBuffers");

bool inside(const Range* ranges, int count, uintptr_t address)
{
    for (int i = 0; i < count; ++i)
        if (address >= ranges[i].begin && address < ranges[i].end)
            return true;
    return false;
}

bool is_runtime(const char* name)
{
    const char* base = std::strrchr(name, '/');
    base = base ? base + 1 : name;
    return std::strncmp(base, "libc.so", 7) == 0 || std::strncmp(base, "libstdc++.so", 12) == 0 ||
           std::strncmp(base, "libgcc_s.so", 11) == 0 || std::strncmp(base, "libm.so", 7) == 0;
}

int collect(dl_phdr_info* info, size_t, void* first)
{
    bool& is_first = *static_cast<bool*>(first);
    const bool main_program = is_first;
    is_first = false;
    const bool runtime = !main_program && info->dlpi_name && is_runtime(info->dlpi_name);
    if (!main_program && !runtime)
        return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X))
            continue;
        const Range range{info->dlpi_addr + segment.p_vaddr,
                          info->dlpi_addr + segment.p_vaddr + segment.p_memsz};
        if (main_program && program_count < 8)
            program[program_count++] = range;
        if (runtime && runtime_count < 32)
            runtimes[runtime_count++] = range;
    }
    return 0;
}

struct Walk {
    uintptr_t caller;  // the allocator's return address, inside a runtime
    bool started;
    uintptr_t found;
};

// Walks out from the allocator: frames up to the runtime call that allocated
// are our own hook's; from there the first frame outside the runtimes is the origin.
_Unwind_Reason_Code step(_Unwind_Context* context, void* data)
{
    Walk& walk = *static_cast<Walk*>(data);
    const uintptr_t ip = _Unwind_GetIP(context);
    if (!walk.started) {
        walk.started = ip == walk.caller;
        return _URC_NO_REASON;
    }
    if (ip == 0 || !inside(runtimes, runtime_count, ip - 1)) {
        walk.found = ip;
        return _URC_END_OF_STACK;
    }
    return _URC_NO_REASON;
}

void count(uintptr_t caller)
{
    if (!ready.load(std::memory_order_relaxed) || busy)
        return;
    busy = true;
    const unsigned k = frame.load(std::memory_order_relaxed);
    const unsigned slot = k < max_frames ? k : max_frames - 1;
    all[slot].fetch_add(1, std::memory_order_relaxed);
    uintptr_t origin = caller;
    if (inside(runtimes, runtime_count, caller - 1)) {
        Walk walk{caller, false, 0};
        _Unwind_Backtrace(step, &walk);
        origin = walk.found;
    }
    if (origin && inside(program, program_count, origin - 1)) {
        ours[slot].fetch_add(1, std::memory_order_relaxed);
        if (k > 0) {
            const int n = origin_count.fetch_add(1, std::memory_order_relaxed);
            if (n < max_origins)
                origins[n] = Origin{k, origin};
        }
    }
    busy = false;
}

#define CALLER reinterpret_cast<uintptr_t>(__builtin_return_address(0))

__attribute__((constructor)) void load()
{
    // Looked up now, not in the first frame's count (null in a process without
    // SDL, the launcher itself: nothing calls it there).
    real_swap.get();
    bool first = true;
    dl_iterate_phdr(collect, &first);
    // Warm the unwinder up now, so its first use does not happen inside a count.
    busy = true;
    Walk walk{0, false, 0};
    _Unwind_Backtrace(step, &walk);
    busy = false;
    ready = true;
}

__attribute__((destructor)) void save()
{
    ready = false;
    const char* path = std::getenv("BENCH_ALLOC_LOG");
    if (!path || !*path)
        return;
    FILE* log = std::fopen(path, "w");
    if (!log)
        return;
    const unsigned frames = frame.load() + 1;
    for (unsigned k = 0; k < frames && k < max_frames; ++k)
        std::fprintf(log, "frame %u ours %u all %u\n", k, ours[k].load(), all[k].load());
    const int n = origin_count.load() < max_origins ? origin_count.load() : max_origins;
    for (int i = 0; i < n; ++i) {
        Dl_info info;
        const char* symbol = "?";
        if (dladdr(reinterpret_cast<void*>(origins[i].address), &info) && info.dli_sname)
            symbol = info.dli_sname;
        std::fprintf(log, "ours %u %#lx %s\n", origins[i].frame,
                     static_cast<unsigned long>(origins[i].address), symbol);
    }
    std::fclose(log);
}

}  // namespace

extern "C" {

void* malloc(size_t size)
{
    count(CALLER);
    return __libc_malloc(size);
}

void* calloc(size_t n, size_t size)
{
    count(CALLER);
    return __libc_calloc(n, size);
}

void* realloc(void* p, size_t size)
{
    count(CALLER);
    return __libc_realloc(p, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    count(CALLER);
    return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size)
{
    count(CALLER);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    count(CALLER);
    void* p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

void SDL_GL_SwapBuffers(void)
{
    real_swap();
    frame.fetch_add(1, std::memory_order_relaxed);
}

}  // extern "C"

// operator new, in all its forms, straight to the C allocator so each counts once.
void* operator new(size_t size)
{
    count(CALLER);
    if (void* p = __libc_malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* operator new[](size_t size)
{
    count(CALLER);
    if (void* p = __libc_malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    count(CALLER);
    return __libc_malloc(size ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    count(CALLER);
    return __libc_malloc(size ? size : 1);
}

void* operator new(size_t size, std::align_val_t alignment)
{
    count(CALLER);
    if (void* p = __libc_memalign(static_cast<size_t>(alignment), size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* operator new[](size_t size, std::align_val_t alignment)
{
    count(CALLER);
    if (void* p = __libc_memalign(static_cast<size_t>(alignment), size ? size : 1))
        return p;
    throw std::bad_alloc();
}
