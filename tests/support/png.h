// Test support: PNG files written by hand, piece by piece, so that tests can
// make well-formed and deliberately damaged images alike.
#pragma once

#include <cstdint>
#include <string>

void put_be32(std::string& out, uint32_t value);

// One PNG chunk: length, type, data and the CRC over type and data.
std::string png_chunk(const std::string& type, const std::string& data);

// A zlib stream of stored (uncompressed) deflate blocks, closed by its Adler-32.
std::string zlib_stored(const std::string& raw);

// A whole PNG of 8-bit RGBA pixels: `pixels` holds the rows from the top,
// width * 4 bytes each.
std::string png_rgba(int width, int height, const std::string& pixels);
