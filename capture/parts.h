// What the rig's units share inside the library: its failure report and
// settings, the recording and its log, the frame clock, the scripted events
// and the audio takeover's step per frame. Not part of the contract (rig.h).
#pragma once

#include <cstdint>
#include <string>

#include "interpose.h"

namespace riglib {

// "rig: MESSAGE" on stderr, then exit status RIG_EXIT_STATUS.
[[noreturn]] void fail(const std::string& message);
// A variable of the environment, or null when unset or empty.
const char* setting(const char* name);

// The definition behind `next`; the rig fails when the program has none.
template <typename Signature>
typename interpose::Next<Signature>::Function required(const interpose::Next<Signature>& next)
{
    if (const auto function = next.get())
        return function;
    fail(std::string("cannot find the real ") + next.name() +
         " (is the program linked with the library that has it?)");
}

// ---- the recording (rig.cpp) -------------------------------------------------------------

// Which part this process plays. Every process starts as a candidate; the
// first to show a window or swap claims the recording (there is one per set
// of outputs, whatever the processes) and records; one that finds it claimed
// by another, or is forked from the recorder, is a bystander and left alone.
enum class Role { candidate, recorder, bystander };
Role role();
// Claims the recording for this process unless another holds it; the answer
// is the role that results (never candidate).
Role claim();

// One line to RIG_LOG (no newline in line), in the recorder only.
void log_line(const std::string& line);
// Whether lines go anywhere: a line need not be made when not.
bool logging();
// Whether frame K is within RIG_FRAMES (every frame when unset).
bool recorded(uint64_t frame);
// Whether frame K wants a picture read back: saved or streamed.
bool wants_picture(uint64_t frame);

// A picture read back from the GL: rgb bytes, bottom row first, as the GL reads.
struct Picture {
    int width = 0, height = 0;
    const unsigned char* rgb = nullptr;
};
// Frame K's picture, in the recorder: a new one, or null when the frame passed
// without one (the last picture again; black before the first).
void record(uint64_t frame, const Picture* picture);

// ---- the frame clock (clock.cpp) ----------------------------------------------------------

// Frames completed: the frame being drawn now.
uint64_t frame();
// Whether the clock is scripted (RIG_TICKS or RIG_FPS); else every clock is real.
bool scripted();
// RIG_FPS, or 0 when the clock is not paced by a frame rate.
uint32_t frame_rate();
// Frame K's SDL tick count, as the log names it.
uint32_t ticks(uint64_t frame);
// The recorded window's buffer swap ended frame `frame`, on the calling thread.
void frame_swapped(uint64_t frame);

// ---- frames (swap.cpp) --------------------------------------------------------------------

// How the program is told things: by the library its recorded window swaps through.
enum class Kind { unknown, sdl12, sdl2, x11 };

// A window's drawable size in pixels; `extra` is what the hook passed along.
using SizeOf = void (*)(const void* window, void* extra, int* width, int* height);

// One buffer swap as a hook sees it, around the real swap (made while it is
// in scope): whether it ends a frame of the recording, the picture read back
// first when the recording wants it. The first window swapped with OpenGL is
// the recorded one; swaps of others, and swaps within a swap (a library's swap
// ending in another hooked one), end no frame.
class Swap {
public:
    Swap(Kind kind, const void* window, bool opengl, SizeOf size, void* extra = nullptr);
    ~Swap();
    Swap(const Swap&) = delete;
    Swap& operator=(const Swap&) = delete;

    bool ends() const { return ends_; }

private:
    bool outer_ = false;
    bool ends_ = false;
    uint64_t frame_ = 0;
};

// ---- scripted events (events.cpp) ---------------------------------------------------------

void set_kind(Kind kind);
// Frame K has begun: events due by then that are pushed (SDL 2) or queued in
// the X connection (X programs) are delivered now.
void frame_began(uint64_t frame);
// The SDL 2 part (sdl2.cpp): pushes scripted input into SDL 2's queue.
enum class Input { key_down, key_up, mouse, expose, quit };
// A scripted key: its ASCII code ('a' to 'z', '0' to '9', ' ', '.'), which SDL
// 1.2 and SDL 2 both take as its key code, or one of these, which they name
// apart.
constexpr char key_escape = 0, key_left = 1, key_right = 2, key_home = 3;
// False when SDL 2 refused it.
bool sdl2_push(Input input, char key);

// ---- the audio takeover and the load-time set-ups -----------------------------------------

void clock_at_load();
void events_at_load();
// The audio takeover's settings (audio.cpp), and its step once frame K's clock
// interval is over, in the recorder.
void audio_at_load();
void audio_after_frame(uint64_t frame);

}  // namespace riglib
