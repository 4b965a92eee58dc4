// The development player's code; its contract is written at the top of
// player.h. Compiled without the renames, so the SDL calls here are SDL's own
// (or, in tests, the preload rig's).
#include "player.h"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>

#include "main.h"

std::function<void()> dev::Timeline::save() const
{
    std::vector<std::function<void()>> restores;
    for (const auto& saver : savers_)
        restores.push_back(saver());
    return [restores]() {
        for (const auto& restore : restores)
            restore();
    };
}

namespace {

const int64_t kRate = 60;              // frames a second, as a 60 Hz screen shows them
const int64_t kCheckpointFrames = 60;  // a saved state every second of demo time

// Frame K of a 60 Hz run is on screen from ceil(K * 1000 / 60) ms to the next.
int64_t frame_at(int64_t ms)
{
    return ms * kRate / 1000;
}
int64_t frame_start(int64_t frame)
{
    return (frame * 1000 + kRate - 1) / kRate;
}

// What the renamed calls of the demo's main unit see.
Uint32 frame_ticks = 0;  // the clock of the frame being run, as a 60 fps capture gives it
Mix_Music* track = nullptr;
int track_loops = 0;

struct Options {
    int64_t at_ms = -1;  // -1: not given
    int64_t loop_from_ms = -1, loop_to_ms = -1;
};

// Constant-initialised, so that nothing overwrites what read_options stores.
Options options;
const char* program = "demo-dev";

[[noreturn]] void usage_error(const std::string& message)
{
    std::fprintf(stderr,
                 "%s: %s\nusage: %s [--at SECONDS] [--loop FROM:TO]   (from the demo's folder)\n",
                 program, message.c_str(), program);
    std::exit(2);
}

// Seconds as the user writes them ("15", "2.5"), to whole milliseconds.
bool parse_seconds(const std::string& text, int64_t& ms)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(seconds <= 1e6))
        return false;
    ms = std::llround(seconds * 1000.0);
    return true;
}

// Runs before the demo's globals are built (they open the window and start the
// music), so that a bad option ends the program first; glibc hands the
// arguments to such functions as to main.
[[gnu::constructor(101)]] void read_options(int argc, char** argv, char**)
{
    if (argc > 0) {
        const char* slash = std::strrchr(argv[0], '/');
        program = slash ? slash + 1 : argv[0];
    }
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name != "--at" && name != "--loop")
            usage_error("unknown argument \"" + name + "\"");
        if (i + 1 == argc)
            usage_error(name + " wants a value");
        const std::string value = argv[++i];
        if (name == "--at") {
            if (!parse_seconds(value, options.at_ms))
                usage_error("--at wants seconds, not \"" + value + "\"");
            continue;
        }
        const std::string::size_type colon = value.find(':');
        if (colon == std::string::npos ||
            !parse_seconds(value.substr(0, colon), options.loop_from_ms) ||
            !parse_seconds(value.substr(colon + 1), options.loop_to_ms) ||
            options.loop_from_ms >= options.loop_to_ms)
            usage_error("--loop wants FROM:TO in seconds, FROM before TO, not \"" + value + "\"");
    }
}

class Player {
public:
    Player();

    bool quitting() const { return quit_; }
    // One display frame: keys, clock, the frame for the clock, title, swap.
    void iterate();

private:
    dev::Timeline timeline_;

    // The clock, in milliseconds: base_ms_ at real tick base_ticks_, running unless paused.
    int64_t base_ms_ = 0;
    Uint32 base_ticks_ = 0;
    bool started_ = false;
    bool paused_ = false;
    bool quit_ = false;
    int64_t loop_from_ = -1, loop_to_ = -1;  // -1: no loop
    int64_t played_to_ = 0;                  // the clock of the last frame shown, or of a seek

    // The timeline's state: ready to run frame next_; shown_ is on screen.
    int64_t next_ = 0;
    int64_t shown_ = -1;
    int64_t end_ = -1;  // the frame that ends the demo, once seen
    std::map<int64_t, std::function<void()>> checkpoints_;  // the state before frame K
    std::function<void()> before_shown_;

    bool music_started_ = false;
    std::string title_;

    int64_t position(Uint32 now) const;
    void seek(int64_t ms, Uint32 now);
    void key(const SDL_keysym& key, Uint32 now);
    void follow_music(int64_t ms);
    void show(int64_t frame);
    void run(int64_t frame, bool shown);
    void set_title(int64_t ms);
};

Player::Player()
{
    if (!GLEW_VERSION_3_0) {
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        std::fprintf(stderr,
                     "%s: stepping frames without drawing them needs OpenGL 3.0 "
                     "(GL_RASTERIZER_DISCARD); this one is %s\n",
                     program, version ? version : "unknown");
        std::exit(1);
    }
    dev::describe(timeline_);
    checkpoints_[0] = timeline_.save();
    loop_from_ = options.loop_from_ms;
    loop_to_ = options.loop_to_ms;
    base_ms_ = options.at_ms >= 0 ? options.at_ms : std::max<int64_t>(loop_from_, 0);
}

int64_t Player::position(Uint32 now) const
{
    return paused_ ? base_ms_ : base_ms_ + static_cast<Uint32>(now - base_ticks_);
}

void Player::seek(int64_t ms, Uint32 now)
{
    base_ms_ = std::max<int64_t>(ms, 0);
    if (end_ >= 0)
        base_ms_ = std::min(base_ms_, frame_start(end_));
    base_ticks_ = now;
    played_to_ = base_ms_;
    follow_music(base_ms_);
}

void Player::key(const SDL_keysym& key, Uint32 now)
{
    const int64_t ms = position(now);
    const int64_t step = key.mod & KMOD_SHIFT ? 10000 : 1000;
    const size_t windows = timeline_.windows.size();
    switch (key.sym) {
    case SDLK_ESCAPE:
        quit_ = true;
        break;
    case SDLK_SPACE:
        if (paused_ && end_ >= 0 && frame_at(ms) >= end_) {
            paused_ = false;
            seek(std::max<int64_t>(loop_from_, 0), now);
        } else {
            paused_ = !paused_;
            seek(ms, now);
        }
        break;
    case SDLK_LEFT:
        seek(ms - step, now);
        break;
    case SDLK_RIGHT:
        seek(ms + step, now);
        break;
    case SDLK_HOME:
        seek(0, now);
        break;
    case SDLK_PERIOD:
        if (paused_ && shown_ >= 0)
            seek(frame_start(shown_ + 1), now);
        break;
    case SDLK_l:
        if (loop_to_ >= 0) {
            loop_from_ = loop_to_ = -1;
        } else {
            // The window holding the clock; past the last start, the last window.
            for (size_t i = 0; i + 1 < windows; ++i) {
                const int64_t from = std::llround(timeline_.windows[i] * 1000.0);
                const int64_t to = std::llround(timeline_.windows[i + 1] * 1000.0);
                if (ms < to || i + 2 == windows) {
                    loop_from_ = from;
                    loop_to_ = to;
                    break;
                }
            }
        }
        break;
    default:
        if (key.sym >= SDLK_1 && key.sym <= SDLK_9) {
            const size_t window = key.sym - SDLK_1;
            if (window + 1 < windows)
                seek(std::llround(timeline_.windows[window] * 1000.0), now);
        }
    }
}

void Player::follow_music(int64_t ms)
{
    if (!track)
        return;
    if (paused_) {
        Mix_PauseMusic();
        return;
    }
    if (!music_started_) {
        Mix_PlayMusic(track, track_loops);
        music_started_ = true;
    }
    Mix_SetMusicPosition(static_cast<double>(ms) / 1000.0);
    Mix_ResumeMusic();
}

void Player::iterate()
{
    const Uint32 now = SDL_GetTicks();
    if (!started_) {
        started_ = true;
        seek(base_ms_, now);
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT)
            quit_ = true;
        else if (event.type == SDL_KEYDOWN)
            key(event.key.keysym, now);
    }

    // A loop wraps where playing crosses its end, or the demo's if that comes
    // first; a seek past it plays on.
    int64_t ms = position(now);
    const int64_t loop_end = end_ >= 0 ? std::min(loop_to_, frame_start(end_)) : loop_to_;
    if (loop_to_ >= 0 && played_to_ < loop_end && ms >= loop_end && loop_end > loop_from_) {
        seek(loop_from_ + (ms - loop_from_) % (loop_end - loop_from_), now);
        ms = position(now);
    }
    show(frame_at(ms));
    played_to_ = ms;
    // The demo ended in or before that frame: stay on its last one, or loop.
    if (end_ >= 0 && frame_at(ms) >= end_) {
        if (loop_to_ >= 0 && loop_from_ < frame_start(end_) && !paused_) {
            seek(loop_from_, now);
        } else {
            if (!paused_) {
                paused_ = true;
                follow_music(0);
            }
            base_ms_ = frame_start(end_);
        }
        ms = frame_start(end_);
    }
    set_title(ms);
    SDL_GL_SwapBuffers();
    if (paused_)
        SDL_Delay(10);  // nothing moves: no need to redraw at full speed
}

void Player::show(int64_t frame)
{
    if (end_ >= 0)
        frame = std::min(frame, end_);
    if (frame == shown_ && next_ == shown_ + 1) {
        before_shown_();
        next_ = frame;
    } else {
        // The nearest saved state at or before the frame, when the current one
        // lies past the frame or further back.
        auto saved = std::prev(checkpoints_.upper_bound(frame));
        if (frame < next_ || saved->first > next_) {
            saved->second();
            next_ = saved->first;
        }
    }
    while (next_ < frame) {
        run(next_, false);
        if (end_ >= 0 && end_ < frame) {
            show(end_);
            return;
        }
    }
    run(frame, true);
    shown_ = frame;
}

void Player::run(int64_t frame, bool shown)
{
    if (frame % kCheckpointFrames == 0 && !checkpoints_.count(frame))
        checkpoints_[frame] = timeline_.save();
    if (shown)
        before_shown_ = timeline_.save();
    frame_ticks = static_cast<Uint32>(frame * 1000 / kRate);
    if (!shown)
        glEnable(GL_RASTERIZER_DISCARD);
    run_frame();
    if (!shown) {
        glDisable(GL_RASTERIZER_DISCARD);
        // What a swap would do: without it the GL holds every frame's work
        // (Mesa's, some 80 MiB by 5 s) until the next frame shown.
        glFlush();
    }
    next_ = frame + 1;
    // The timeline ends the demo here: the player stops on this frame instead.
    if (!demo.running) {
        demo.running = true;
        if (end_ < 0 || frame < end_)
            end_ = frame;
    }
}

void Player::set_title(int64_t ms)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s  %" PRId64 ".%03" PRId64 " s  frame %" PRId64 "%s%s",
                  program, ms / 1000, ms % 1000, shown_,
                  end_ >= 0 && shown_ == end_ ? "  end"
                  : paused_                   ? "  paused"
                                              : "",
                  loop_to_ >= 0 ? "  loop" : "");
    if (title_ != text) {
        title_ = text;
        SDL_WM_SetCaption(text, nullptr);
    }
}

}  // namespace

extern "C" Uint32 vorna_dev_SDL_GetTicks(void)
{
    return frame_ticks;
}

extern "C" int vorna_dev_SDL_PollEvent(SDL_Event*)
{
    return 0;
}

extern "C" void vorna_dev_SDL_GL_SwapBuffers(void) {}

extern "C" int vorna_dev_Mix_PlayMusic(Mix_Music* music, int loops)
{
    track = music;
    track_loops = loops;
    return music ? 0 : -1;
}

int main()
{
    Player player;
    while (!player.quitting())
        player.iterate();
    return 0;
}
