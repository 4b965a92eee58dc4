// Benchmark preload: where the demo's start-up goes. Notes when each step of
// the start-up finishes and how long it took, by wrapping the library calls that
// make it up, and chains each to the next definition (so it stacks with the rig).
//
//   BENCH_STARTUP_LOG=PATH  written at exit, one line per step that ran:
//                           "NAME END_NS TOTAL_NS CALLS": CLOCK_MONOTONIC time the
//                           last call returned, time spent in all calls, calls.
//                           "loaded" is this library's own load, after the
//                           program's libraries; "first-swap" the first swap.
#include <GL/gl.h>
#include <SDL.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "interpose.h"
#include "real_clock.h"

namespace {

struct Step {
    const char* name;
    uint64_t end = 0, total = 0;
    unsigned calls = 0;
};

enum { loaded, sdl_init, video_mode, glew, music, image_load, mipmaps, first_swap, steps };
Step table[steps] = {{"loaded"},        {"SDL_Init"}, {"SDL_SetVideoMode"},  {"glewInit"},
                     {"Mix_PlayMusic"}, {"IMG_Load"}, {"gluBuild2DMipmaps"}, {"first-swap"}};

void note(int step, uint64_t start)
{
    const uint64_t end = real_now_ns();
    table[step].end = end;
    table[step].total += end - start;
    ++table[step].calls;
}

__attribute__((constructor)) void load()
{
    note(loaded, real_now_ns());
}

__attribute__((destructor)) void save()
{
    const char* path = std::getenv("BENCH_STARTUP_LOG");
    if (!path || !*path)
        return;
    FILE* log = std::fopen(path, "w");
    if (!log)
        return;
    for (const Step& step : table)
        if (step.calls)
            std::fprintf(log, "%s %llu %llu %u\n", step.name,
                         static_cast<unsigned long long>(step.end),
                         static_cast<unsigned long long>(step.total), step.calls);
    std::fclose(log);
}

const interpose::Next<int(Uint32)> real_sdl_init("SDL_Init");
const interpose::Next<SDL_Surface*(int, int, int, Uint32)> real_set_video_mode("SDL_SetVideoMode");
const interpose::Next<unsigned()> real_glew_init("glewInit");
const interpose::Next<int(void*, int)> real_mix_play_music("Mix_PlayMusic");
const interpose::Next<SDL_Surface*(const char*)> real_img_load("IMG_Load");
const interpose::Next<GLint(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*)>
    real_build_mipmaps("gluBuild2DMipmaps");
const interpose::Next<void()> real_swap("SDL_GL_SwapBuffers");

}  // namespace

extern "C" {

int SDL_Init(Uint32 flags)
{
    const uint64_t start = real_now_ns();
    const int result = real_sdl_init(flags);
    note(sdl_init, start);
    return result;
}

SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    const uint64_t start = real_now_ns();
    SDL_Surface* result = real_set_video_mode(width, height, bpp, flags);
    note(video_mode, start);
    return result;
}

unsigned glewInit(void)
{
    const uint64_t start = real_now_ns();
    const unsigned result = real_glew_init();
    note(glew, start);
    return result;
}

int Mix_PlayMusic(void* music, int loops)
{
    const uint64_t start = real_now_ns();
    const int result = real_mix_play_music(music, loops);
    note(::music, start);
    return result;
}

SDL_Surface* IMG_Load(const char* file)
{
    const uint64_t start = real_now_ns();
    SDL_Surface* result = real_img_load(file);
    note(image_load, start);
    return result;
}

GLint gluBuild2DMipmaps(GLenum target, GLint internal, GLsizei width, GLsizei height, GLenum format,
                        GLenum type, const void* data)
{
    const uint64_t start = real_now_ns();
    const GLint result = real_build_mipmaps(target, internal, width, height, format, type, data);
    note(mipmaps, start);
    return result;
}

void SDL_GL_SwapBuffers(void)
{
    const uint64_t start = real_now_ns();
    real_swap();
    if (table[first_swap].calls == 0)
        note(first_swap, start);
}

}  // extern "C"
