// The capture tests' programs of each kind (kind_*.cpp: SDL 2, GLUT, GLFW and
// plain GLX), each reading time from its own kind of clock. Every frame is
// painted in the colour of the whole second its clock reads, tone::red(second),
// until the program is asked to quit in its kind's own terms.
//
// Paced (a first argument "sleep", "nap" or "spin", where the program offers
// it), the program instead draws 10 pictures a second, picture n no earlier
// than n / 10 s on its clock, painted tone::red(n): it waits for its next
// picture sleeping what is left (sleep), in naps of a millisecond (nap), or
// reading the clock without pause (spin).
#pragma once

#include <cstring>

namespace kinds {

constexpr int kWidth = 160, kHeight = 120;
constexpr int kPicturesPerSecond = 10;

enum class Pace { none, sleep, nap, spin };

inline Pace pace_of(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "sleep") == 0)
        return Pace::sleep;
    if (std::strcmp(mode, "nap") == 0)
        return Pace::nap;
    if (std::strcmp(mode, "spin") == 0)
        return Pace::spin;
    return Pace::none;
}

// What to paint with the clock at `seconds`: its whole second, or when paced
// the number of the picture, which `picture` counts.
template <typename Wait>
unsigned next_colour(Pace pace, double (*clock)(), unsigned& picture, Wait wait)
{
    if (pace == Pace::none)
        return static_cast<unsigned>(clock());
    const double due = static_cast<double>(picture) / kPicturesPerSecond;
    for (double now = clock(); now < due; now = clock())
        wait(pace, due - now);
    return picture++;
}

}  // namespace kinds
