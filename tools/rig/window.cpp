// The rig's report of the program's window (RIG_LOG "window" lines), so that a
// capture tool learns the video's size, and that no OpenGL is coming, before
// the first frame. The contract is in rig.h.
#include "parts.h"

#include <SDL.h>
#include <dlfcn.h>

#include <string>

extern "C" SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    using SetVideoMode = SDL_Surface* (*)(int, int, int, Uint32);
    static const auto real = reinterpret_cast<SetVideoMode>(dlsym(RTLD_NEXT, "SDL_SetVideoMode"));
    if (!real)
        riglib::fail("cannot find the real SDL_SetVideoMode (is the program linked with SDL 1.2?)");
    SDL_Surface* surface = real(width, height, bpp, flags);
    if (surface)
        riglib::log_line("window " + std::to_string(surface->w) + "x" + std::to_string(surface->h) +
                         ((surface->flags & SDL_OPENGL) ? " opengl" : " no-opengl"));
    return surface;
}
