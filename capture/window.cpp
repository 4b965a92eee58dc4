// The rig's report of the program's window (RIG_LOG "window" lines), so that a
// capture tool learns the video's size, and that no OpenGL is coming, before
// the first frame. The contract is in rig.h.
#include "parts.h"

#include <SDL.h>

#include <string>

namespace {

const interpose::Next<SDL_Surface*(int, int, int, Uint32)> real_set_video_mode("SDL_SetVideoMode");

}  // namespace

extern "C" SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    SDL_Surface* surface = riglib::required(real_set_video_mode)(width, height, bpp, flags);
    if (surface)
        riglib::log_line("window " + std::to_string(surface->w) + "x" + std::to_string(surface->h) +
                         ((surface->flags & SDL_OPENGL) ? " opengl" : " no-opengl"));
    return surface;
}
