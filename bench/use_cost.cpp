// Benchmark: what GLProgram2::use costs when nothing changed. Builds a program
// from three files whose modification second is long over, then times use()
// against a bare glUseProgram and counts the status queries, clock readings and
// allocations it makes (this program replaces stat, time, malloc and operator new
// to count them). The argument is the number of calls (default 200000); 0 only
// builds, so that strace can compare the system calls of two runs.
#include <GL/glew.h>
#include <SDL.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "interpose.h"
#include "opengl.h"

extern "C" void* __libc_malloc(size_t);

namespace {

bool counting = false;
long stats = 0, clocks = 0, allocations = 0;
const interpose::Next<int(const char*, struct stat*)> real_stat("stat");
const interpose::Next<time_t(time_t*)> real_time("time");

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void write_old(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
    // An hour ago: the modification second is over, so polling needs no read.
    const timeval then[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    utimes(path.c_str(), then);
}

}  // namespace

extern "C" int stat(const char* path, struct stat* buf) noexcept
{
    if (counting)
        ++stats;
    return real_stat(path, buf);
}

extern "C" time_t time(time_t* out) noexcept
{
    if (counting)
        ++clocks;
    return real_time(out);
}

extern "C" void* malloc(size_t size)
{
    if (counting)
        ++allocations;
    return __libc_malloc(size);
}

void* operator new(size_t size)
{
    if (counting)
        ++allocations;
    if (void* p = __libc_malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

int main(int argc, char** argv)
{
    const long calls = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200000;
    if (!real_stat.get() || !real_time.get()) {
        std::fprintf(stderr, "bench_use_cost: cannot find stat or time in the C library\n");
        return 1;
    }

    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(64, 64, 32, SDL_OPENGL) ||
        glewInit() != GLEW_OK) {
        std::fprintf(stderr, "bench_use_cost: cannot open an OpenGL window: %s\n", SDL_GetError());
        return 1;
    }

    char dir[] = "/tmp/vorna-use-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0 || mkdir("shaders", 0755) != 0) {
        std::fprintf(stderr, "bench_use_cost: cannot make a scratch folder\n");
        return 1;
    }
    write_old("shaders/std.glsl", "#version 110\n");
    write_old("plain.vert", "void main() { gl_Position = ftransform(); }\n");
    write_old("plain.frag", "void main() { gl_FragColor = vec4(1.0); }\n");

    int status = 0;
    {
        GLProgram2 program("plain.vert", "plain.frag");
        for (int i = 0; i < 100; ++i)
            program.use();

        counting = true;
        const double start = now();
        for (long i = 0; i < calls; ++i)
            program.use();
        const double used = now() - start;
        counting = false;

        const double bare_start = now();
        for (long i = 0; i < calls; ++i)
            glUseProgram(program.program);
        const double bare = now() - bare_start;

        if (calls > 0) {
            const double n = static_cast<double>(calls);
            std::printf("use_calls %ld\n", calls);
            std::printf("use_ns %.1f\n", used / n * 1e9);
            std::printf("bare_glUseProgram_ns %.1f\n", bare / n * 1e9);
            std::printf("stat_per_use %.3f\n", static_cast<double>(stats) / n);
            std::printf("time_per_use %.3f\n", static_cast<double>(clocks) / n);
            std::printf("allocations_per_use %.3f\n", static_cast<double>(allocations) / n);
        }
        GLint current = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &current);
        if (static_cast<GLuint>(current) != program.program || glGetError() != GL_NO_ERROR)
            status = 1;
    }
    for (const char* name : {"shaders/std.glsl", "plain.vert", "plain.frag"})
        unlink(name);
    rmdir("shaders");
    if (chdir("/") == 0)
        rmdir(dir);
    SDL_Quit();
    return status;
}
