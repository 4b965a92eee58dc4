// Test support: the GL window every drawing test runs in, and read-backs of
// what the GL holds.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <vector>

// RGBA bytes of the whole 1280x720 back buffer, bottom row first.
std::vector<uint8_t> read_back_buffer();

// The RGBA of one window pixel (x, y from the bottom-left).
struct Rgba {
    uint8_t r, g, b, a;
};
Rgba pixel_at(const std::vector<uint8_t>& frame, int x, int y);

float get_float(GLenum name);
int get_int(GLenum name);
bool is_enabled(GLenum capability);
