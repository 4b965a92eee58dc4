// The surface count behind tests/support/images.h.
#include "images.h"

#include <SDL_image.h>

std::set<SDL_Surface*> live_surfaces;
int surfaces_decoded = 0;

extern "C" {
SDL_Surface* __real_IMG_Load(const char* file);
void __real_SDL_FreeSurface(SDL_Surface* surface);

SDL_Surface* __wrap_IMG_Load(const char* file)
{
    SDL_Surface* surface = __real_IMG_Load(file);
    if (surface) {
        live_surfaces.insert(surface);
        ++surfaces_decoded;
    }
    return surface;
}

void __wrap_SDL_FreeSurface(SDL_Surface* surface)
{
    live_surfaces.erase(surface);
    __real_SDL_FreeSurface(surface);
}
}
