// The benchmark's baseline: the demo's window (1280x720, OpenGL, 32 bits) doing
// nothing but clear, drain events and swap, for N frames (argument, default 300).
// With --renderer after N it first prints the GL's renderer and version.
#include <GL/gl.h>
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const long frames = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 300;
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(1280, 720, 32, SDL_OPENGL)) {
        std::fprintf(stderr, "bench_empty_loop: cannot open a 1280x720 OpenGL window: %s\n",
                     SDL_GetError());
        return 1;
    }
    if (argc > 2 && std::strcmp(argv[2], "--renderer") == 0)
        std::printf("%s, OpenGL %s\n", glGetString(GL_RENDERER), glGetString(GL_VERSION));
    for (long k = 0; k < frames; ++k) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        SDL_GL_SwapBuffers();
    }
    SDL_Quit();
    return 0;
}
