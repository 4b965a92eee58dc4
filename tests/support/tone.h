// The capture tests' own SDL 1.2 OpenGL program (tone.cpp): what it draws and
// plays, so that a test can tell from a recording which second of its clock a
// frame shows and which second of its sound a sample belongs to.
#pragma once

#include <cmath>
#include <cstdint>

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

}  // namespace tone
