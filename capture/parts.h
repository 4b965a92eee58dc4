// What the rig's units share inside the library: its failure report, its log,
// its frame clock and the end of the recording. Not part of the contract (rig.h).
#pragma once

#include <cstdint>
#include <string>

#include "interpose.h"

namespace riglib {

// "rig: MESSAGE" on stderr, then exit status RIG_EXIT_STATUS.
[[noreturn]] void fail(const std::string& message);
// A variable of the environment, or null when unset or empty.
const char* setting(const char* name);
// One line to RIG_LOG (no newline in line), when it is set.
void log_line(const std::string& line);
// RIG_FPS, or 0 when the clock is not paced by a frame rate.
uint32_t frame_rate();
// Whether frame K is within RIG_FRAMES (every frame when unset).
bool recorded(unsigned frame);

// The definition behind `next`; the rig fails when the program has none.
template <typename Signature>
typename interpose::Next<Signature>::Function required(const interpose::Next<Signature>& next)
{
    if (const auto function = next.get())
        return function;
    fail(std::string("cannot find the real ") + next.name() +
         " (is the program linked with SDL 1.2?)");
}

// The audio takeover's settings, read in the rig's load-time set-up, and its
// step after swap K completed (audio.cpp).
void audio_at_load();
void audio_after_frame(unsigned frame);

}  // namespace riglib
