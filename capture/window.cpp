// The rig's report of an SDL 1.2 program's window (RIG_LOG "window" lines), so
// that a capture tool learns that no OpenGL is coming before any frame. Showing
// a window claims the recording for the process. The contract is in rig.h.
#include <SDL.h>

#include <string>

#include "parts.h"

namespace {

const interpose::Next<SDL_Surface*(int, int, int, Uint32)> real_set_video_mode("SDL_SetVideoMode");

}  // namespace

extern "C" SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    SDL_Surface* surface = riglib::required(real_set_video_mode)(width, height, bpp, flags);
    if (surface && riglib::claim() == riglib::Role::recorder)
        riglib::log_line("window " + std::to_string(surface->w) + "x" + std::to_string(surface->h) +
                         ((surface->flags & SDL_OPENGL) ? " opengl" : " no-opengl"));
    return surface;
}
