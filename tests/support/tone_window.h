// The SDL 2 tone programs' window (tone_sdl2.cpp, tone_openal.cpp): tone.h's
// picture, every frame painted for its second of SDL_GetTicks, until a quit event.
#pragma once

#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>

#include <cstdio>

#include "tone.h"

namespace tone {

// SDL 2 with video and audio, and an OpenGL window; null (said on stderr) when not.
inline SDL_Window* open_window(const char* program)
{
    SDL_Window* window = nullptr;
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0 ||
        !(window = SDL_CreateWindow(program, 0, 0, kWidth, kHeight, SDL_WINDOW_OPENGL)) ||
        !SDL_GL_CreateContext(window)) {
        std::fprintf(stderr, "%s: %s\n", program, SDL_GetError());
        return nullptr;
    }
    return window;
}

// Draws until a quit event, calling each_frame() before every picture.
template <typename EachFrame>
void draw_until_quit(SDL_Window* window, EachFrame each_frame)
{
    for (bool open = true; open;) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            open = open && event.type != SDL_QUIT;
        each_frame();
        const unsigned second = SDL_GetTicks() / 1000;
        glClearColor(red(second) / 255.0f, kGreen / 255.0f, kBlue / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapWindow(window);
    }
}

}  // namespace tone
