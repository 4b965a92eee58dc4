// Test support for the sprite loader: PNG files written by hand (png.h), so that tests can
// make well-formed and deliberately damaged images alike, and a count of the
// surfaces the image loader decodes against those freed.
#pragma once

#include <SDL.h>

#include <set>

#include "png.h"

// Kept by link-time wraps of IMG_Load and SDL_FreeSurface (a test program links
// with -Wl,--wrap=IMG_Load -Wl,--wrap=SDL_FreeSurface): each forwards to the
// real function and records what passed through it.
extern std::set<SDL_Surface*> live_surfaces;  // decoded, not yet freed
extern int surfaces_decoded;
