// The rig's report of the program's window (RIG_LOG "window" lines), so that a
// capture tool learns the video's size, and that no OpenGL is coming, before
// the first frame. The contract is in rig.h.
#include "parts.h"

#include <SDL.h>

#include <string>

extern "C" SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    static const auto real =
        riglib::real<SDL_Surface* (*)(int, int, int, Uint32)>("SDL_SetVideoMode");
    SDL_Surface* surface = real(width, height, bpp, flags);
    if (surface)
        riglib::log_line("window " + std::to_string(surface->w) + "x" + std::to_string(surface->h) +
                         ((surface->flags & SDL_OPENGL) ? " opengl" : " no-opengl"));
    return surface;
}
