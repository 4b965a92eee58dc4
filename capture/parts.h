// What the rig's units share inside the library: its failure report and
// settings, the recording and its log, the frame clock, the scripted events
// and the audio takeover's step per frame. Not part of the contract (rig.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "interpose.h"
#include "schedule.h"

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
// Whether frame K is within RIG_FROM and RIG_FRAMES (every frame when unset),
// and whether it is past the end of them.
bool recorded(uint64_t frame);
bool past_end(uint64_t frame);
// Whether frame K wants a picture read back: saved or streamed, or kept to be
// shown again in the first frame recorded.
bool wants_picture(uint64_t frame);

// A picture read back from the GL: RGBA bytes, 4 a pixel, bottom row first, as
// the GL reads.
struct Picture {
    int width = 0, height = 0;
    const unsigned char* rgba = nullptr;
};
// Frame K's picture, in the recorder: a new one, or null when the frame passed
// without one (the last picture again; black before the first).
void record(uint64_t frame, const Picture* picture);
// Frame K's sound, `bytes` of the track's samples (sound.cpp), in the recorder.
void record_sound(uint64_t frame, const unsigned char* data, size_t bytes);
// Whether the recording streams its video (RIG_VIDEO): the sound's stream
// then begins with the first picture, so that a reader gets both in step.
bool streams_video();

// ---- pictures in the recording's formats (pixels.cpp) --------------------------------------

// RGBA rows, `stride` bytes apart from the top row (negative: stored bottom up).
struct Rgba {
    int width = 0, height = 0;
    const unsigned char* top = nullptr;
    ptrdiff_t stride = 0;
};
// rgb24, top row first, width * height * 3 bytes.
void to_rgb24(const Rgba& picture, unsigned char* out);
// yuv420p, BT.709 in limited range: the Y plane, then U and V at half the size
// each way; an odd width or height is padded to even with black. Chroma is the
// mean of each 2x2 block.
void to_yuv420p(const Rgba& picture, unsigned char* out);
size_t yuv420p_size(int width, int height);

// ---- the frame clock (clock.cpp) ----------------------------------------------------------

// Frames completed: the frame being drawn now.
uint64_t frame();
// Whether the clock is scripted (RIG_TICKS or RIG_FPS); else every clock is real.
bool scripted();
// RIG_FPS (num 0 when the clock is not paced by a frame rate).
schedule::Rate frame_rate();
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

// ---- sound (sound.cpp): the track, its sources and what the log says of them ---------------

// A stream of samples: rate, channels and SDL's sample format code (bits in
// the low byte; 0x8000 signed, 0x1000 big-endian, 0x0100 float), which the
// sources of both SDL versions and OpenAL's loopback all fit.
struct SoundFormat {
    int rate = 0;
    int channels = 0;
    uint16_t format = 0;
};
// Bytes of one sample of an SDL format code.
inline int sample_bytes(uint16_t format)
{
    return (format & 0xFF) / 8;
}
constexpr int kLowestRate = 8000, kHighestRate = 192000;
// Whether a program's device at this rate is refused (said once, as "sound
// refused RATE").
bool rate_refused(int rate);

// A device the track pulls from once frame K's clock interval is over.
class SoundSource {
public:
    virtual ~SoundSource() = default;
    virtual SoundFormat format() const = 0;
    // Exactly `samples` sample frames of its next stretch into `out`, in its
    // format; false when it plays nothing now (paused, nothing queued).
    virtual bool render(size_t samples, std::vector<unsigned char>& out) = 0;
};

// Whether the program's sound is taken over (RIG_AUDIO), in this process.
bool sound_taken_over();
// The track's format once fixed (rate 0 before): by the first source, or by
// default (44100 Hz, stereo, 16 bits) at the first picture of a stream.
SoundFormat track_format();
// A source starts or stops playing into the track; the first fixes its format.
void add_source(SoundSource* source);
void remove_source(SoundSource* source);
// One line of the log about sound, said once per text, kept until the log is open.
void sound_note(const std::string& line);
// The track is fixed and said, before the first picture is streamed.
void sound_ready();

// ---- the load-time set-ups and the step after each frame ----------------------------------

void clock_at_load();
void events_at_load();
void sound_at_load();
// Frame K's clock interval is over, in the recorder: its sound is pulled.
void sound_after_frame(uint64_t frame);

}  // namespace riglib
