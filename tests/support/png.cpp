// Hand-written PNG pieces behind tests/support/png.h.
#include "png.h"

#include <algorithm>

void put_be32(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

namespace {

uint32_t crc32(const std::string& bytes)
{
    uint32_t crc = 0xffffffffu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

std::string png_chunk(const std::string& type, const std::string& data)
{
    std::string out;
    put_be32(out, static_cast<uint32_t>(data.size()));
    out += type + data;
    put_be32(out, crc32(type + data));
    return out;
}

std::string zlib_stored(const std::string& raw)
{
    std::string out("\x78\x01", 2);
    size_t offset = 0;
    do {
        const size_t length = std::min<size_t>(65535, raw.size() - offset);
        out.push_back(offset + length == raw.size() ? 1 : 0);
        out.push_back(static_cast<char>(length & 0xff));
        out.push_back(static_cast<char>(length >> 8));
        out.push_back(static_cast<char>(~length & 0xff));
        out.push_back(static_cast<char>((~length >> 8) & 0xff));
        out.append(raw, offset, length);
        offset += length;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_be32(out, (b << 16) | a);
    return out;
}

std::string png_rgba(int width, int height, const std::string& pixels)
{
    std::string header;
    put_be32(header, static_cast<uint32_t>(width));
    put_be32(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, no interlace
    std::string raw;
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
        raw += '\0' + pixels.substr(y * row, row);  // filter type 0: none
    return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", header) +
           png_chunk("IDAT", zlib_stored(raw)) + png_chunk("IEND", "");
}
