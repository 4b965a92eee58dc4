// An SDL 2 program for the capture tests (kinds.h), on SDL_GetPerformanceCounter:
// an SDL quit event ends it. Paced: sleep (SDL_Delay).
#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>

#include <cstdio>

#include "kinds.h"
#include "tone.h"

namespace {

Uint64 start = 0;

double seconds()
{
    return static_cast<double>(SDL_GetPerformanceCounter() - start) /
           static_cast<double>(SDL_GetPerformanceFrequency());
}

}  // namespace

int main(int argc, char** argv)
{
    const kinds::Pace pace = kinds::pace_of(argc, argv);
    SDL_Window* window = nullptr;
    if (SDL_Init(SDL_INIT_VIDEO) != 0 ||
        !(window = SDL_CreateWindow("kind_sdl2", 0, 0, kinds::kWidth, kinds::kHeight,
                                    SDL_WINDOW_OPENGL)) ||
        !SDL_GL_CreateContext(window)) {
        std::fprintf(stderr, "kind_sdl2: %s\n", SDL_GetError());
        return 1;
    }
    start = SDL_GetPerformanceCounter();
    unsigned picture = 0;
    for (bool open = true; open;) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            open = open && event.type != SDL_QUIT;
        const unsigned colour = kinds::next_colour(
            pace, seconds, picture,
            [](kinds::Pace, double left) { SDL_Delay(static_cast<Uint32>(left * 1000) + 1); });
        glClearColor(tone::red(colour) / 255.0f, tone::kGreen / 255.0f, tone::kBlue / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapWindow(window);
    }
    SDL_Quit();
    return 0;
}
