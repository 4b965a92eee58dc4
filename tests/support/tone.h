// The capture tests' own SDL 1.2 OpenGL program (tone.cpp): what it draws and
// plays, so that a test can tell from a recording which second of its clock a
// frame shows and which second of its sound a sample belongs to.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tone {

// An odd window, which the video pads to even sizes.
constexpr int kWidth = 161;
constexpr int kHeight = 121;
// Mono, signed 16-bit, at a rate that no usual frame rate divides.
constexpr int kRate = 22050;
constexpr int kAmplitude = 8000;

// Second s of the clock is painted in this colour...
inline uint8_t red(unsigned second)
{
    return static_cast<uint8_t>(30 + 40 * (second % 6));
}
constexpr uint8_t kGreen = 60, kBlue = 200;

// ... and second s of the samples played is a tone of this pitch, its phase
// starting at 0 with the second.
inline double pitch(unsigned second)
{
    return 300.0 + 150.0 * (second % 6);
}

inline int16_t sample(uint64_t n)
{
    const unsigned second = static_cast<unsigned>(n / kRate);
    const double phase = 2 * M_PI * pitch(second) * static_cast<double>(n % kRate) / kRate;
    return static_cast<int16_t>(std::lround(kAmplitude * std::sin(phase)));
}

// The sample formats the SDL 2 tone programs play, by name, as SDL 2 codes them.
struct Format {
    const char* name;
    uint16_t code;  // bits in the low byte; 0x8000 signed, 0x1000 big-endian, 0x0100 float
};
constexpr Format kFormats[] = {{"u8", 0x0008},    {"s8", 0x8008},  {"s16", 0x8010},
                               {"s16be", 0x9010}, {"s32", 0x8020}, {"f32", 0x8120}};

// Sample n of channel c in a format, written at `at`: the tone, each channel
// further along it, so that a channel in the wrong place shows. 32-bit
// integers carry n in their low bits, so that every bit of them is checked.
inline void put(uint16_t format, uint64_t n, int c, unsigned char* at)
{
    const int value = sample(n + 100 * static_cast<uint64_t>(c));
    const int bytes = (format & 0xFF) / 8;
    uint32_t raw;
    if (format & 0x0100) {
        const float single = static_cast<float>(value) / 32768;
        std::memcpy(&raw, &single, 4);
    } else if (bytes == 1) {
        raw = static_cast<uint8_t>((value >> 8) + (format & 0x8000 ? 0 : 128));
    } else if (bytes == 2) {
        raw = static_cast<uint16_t>(value);
    } else {
        raw = static_cast<uint32_t>(value) << 16 | static_cast<uint32_t>(n & 0xFFFF);
    }
    for (int i = 0; i < bytes; ++i)
        at[format & 0x1000 ? bytes - 1 - i : i] = static_cast<unsigned char>(raw >> (8 * i));
}

}  // namespace tone
