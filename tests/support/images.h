// Test support for the sprite loader: PNG files written by hand, so that tests can
// make well-formed and deliberately damaged images alike, and a count of the
// surfaces the image loader decodes against those freed.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <set>
#include <string>

void put_be32(std::string& out, uint32_t value);

// One PNG chunk: length, type, data and the CRC over type and data.
std::string png_chunk(const std::string& type, const std::string& data);

// A zlib stream of stored (uncompressed) deflate blocks, closed by its Adler-32.
std::string zlib_stored(const std::string& raw);

// Kept by link-time wraps of IMG_Load and SDL_FreeSurface (a test program links
// with -Wl,--wrap=IMG_Load -Wl,--wrap=SDL_FreeSurface): each forwards to the
// real function and records what passed through it.
extern std::set<SDL_Surface*> live_surfaces;  // decoded, not yet freed
extern int surfaces_decoded;
