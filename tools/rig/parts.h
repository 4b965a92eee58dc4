// What the rig's units share inside the library: its failure report, its log,
// its frame clock and the end of the recording. Not part of the contract (rig.h).
#pragma once

#include <cstdint>
#include <string>

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

// The definition the rig's own hides (the program's SDL); the rig fails when
// there is none.
void* next_definition(const char* name);
template <typename Function>
Function real(const char* name)
{
    return reinterpret_cast<Function>(next_definition(name));
}

// The audio takeover's step after swap K completed (audio.cpp).
void audio_after_frame(unsigned frame);

}  // namespace riglib
