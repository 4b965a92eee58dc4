// The rig's implementation: scripted clock and input, recorded frames, for any
// SDL 1.2 OpenGL program it is preloaded into. The contract is in rig.h.
#include "rig.h"

#include "parts.h"
#include "schedule.h"

#include <GL/gl.h>
#include <SDL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& message)
{
    std::fprintf(stderr, "rig: %s\n", message.c_str());
    std::fflush(stderr);
    _exit(RIG_EXIT_STATUS);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

// Plain decimal digits only, as the clock's settings (schedule.h).
uint32_t parse_number(const std::string& text, const char* variable, uint64_t max = UINT32_MAX)
{
    uint32_t value = 0;
    try {
        value = schedule::number(text, variable);
    } catch (const schedule::Refused& refused) {
        die(refused.what());
    }
    if (value > max)
        die(std::string(variable) + ": " + text + " is out of range");
    return value;
}

const char* env(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

struct Injected {
    unsigned frame;
    SDL_Event event;
    std::string name;  // as the log names it
};

SDL_Event key_event(Uint8 type, SDLKey sym)
{
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.key.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = sym;
    event.key.keysym.mod = KMOD_NONE;
    return event;
}

SDL_Event plain_event(Uint8 type)
{
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = type;
    if (type == SDL_MOUSEMOTION) {
        event.motion.x = 640;
        event.motion.y = 360;
    }
    return event;
}

void add_events(std::vector<Injected>& out, unsigned frame, const std::string& name)
{
    if (name == "escape" || name == "escape-down")
        out.push_back({frame, key_event(SDL_KEYDOWN, SDLK_ESCAPE), "escape-down"});
    if (name == "escape" || name == "escape-up")
        out.push_back({frame, key_event(SDL_KEYUP, SDLK_ESCAPE), "escape-up"});
    // key-a to key-z and key-0 to key-9: SDL 1.2 names these keys by their
    // ASCII code; the others by name.
    static const struct {
        const char* name;
        SDLKey sym;
    } named[] = {{"space", SDLK_SPACE},
                 {"period", SDLK_PERIOD},
                 {"left", SDLK_LEFT},
                 {"right", SDLK_RIGHT},
                 {"home", SDLK_HOME}};
    const std::string key = name.rfind("key-", 0) == 0 ? name.substr(4) : "";
    SDLKey sym = SDLK_UNKNOWN;
    if (key.size() == 1 && ((key[0] >= 'a' && key[0] <= 'z') || (key[0] >= '0' && key[0] <= '9')))
        sym = static_cast<SDLKey>(key[0]);
    for (const auto& entry : named)
        if (key == entry.name)
            sym = entry.sym;
    if (sym != SDLK_UNKNOWN) {
        out.push_back({frame, key_event(SDL_KEYDOWN, sym), name + "-down"});
        out.push_back({frame, key_event(SDL_KEYUP, sym), name + "-up"});
    }
    if (name == "mouse")
        out.push_back({frame, plain_event(SDL_MOUSEMOTION), "mouse"});
    if (name == "expose")
        out.push_back({frame, plain_event(SDL_VIDEOEXPOSE), "expose"});
    if (name == "quit")
        out.push_back({frame, plain_event(SDL_QUIT), "quit"});
}

class Rig {
public:
    Rig();

    Uint32 ticks(unsigned frame) const;
    bool poll_injected(SDL_Event* event, unsigned frame);
    void record(unsigned frame);
    void log_swap(unsigned frame, Uint32 ticks);
    void log_text(const std::string& line);
    uint32_t frame_rate() const { return clock.fps(); }
    bool recorded(unsigned frame) const { return frame < frame_limit; }

private:
    schedule::Clock clock;  // RIG_TICKS or RIG_FPS; real() without either

    std::vector<Injected> events;  // in frame order, stable
    size_t next_event = 0;

    std::string frame_dir;
    bool save_all = false;
    std::vector<unsigned> save_list;  // sorted
    int video_fd = -1;
    bool video_ppm = false;             // RIG_VIDEO_FORMAT=ppm: a header before each frame
    unsigned frame_limit = UINT32_MAX;  // RIG_FRAMES
    FILE* log = nullptr;

    std::vector<unsigned char> bottom_up, top_down;

    bool saves(unsigned frame) const;
    void save_ppm(unsigned frame, int width, int height);
    void stream(const unsigned char* data, size_t size);
};

const interpose::Next<Uint32()> real_get_ticks("SDL_GetTicks");
const interpose::Next<void()> real_swap_buffers("SDL_GL_SwapBuffers");
const interpose::Next<int(SDL_Event*)> real_poll_event("SDL_PollEvent");

Rig::Rig()
{
    riglib::required(real_get_ticks);
    riglib::required(real_swap_buffers);
    riglib::required(real_poll_event);
    try {
        clock = schedule::Clock::parse(env("RIG_TICKS"), env("RIG_FPS"), env("RIG_START_MS"),
                                       {"RIG_TICKS", "RIG_FPS", "RIG_START_MS"});
    } catch (const schedule::Refused& refused) {
        die(refused.what());
    }

    if (const char* text = env("RIG_EVENTS")) {
        for (const std::string& entry : split(text, ',')) {
            const std::string::size_type colon = entry.find(':');
            if (colon == std::string::npos)
                die("RIG_EVENTS: \"" + entry + "\" is not FRAME:NAME");
            const unsigned frame = parse_number(entry.substr(0, colon), "RIG_EVENTS");
            const size_t before = events.size();
            add_events(events, frame, entry.substr(colon + 1));
            if (events.size() == before)
                die("RIG_EVENTS: unknown event \"" + entry.substr(colon + 1) +
                    "\" (escape, escape-down, escape-up, key-a to key-z, key-0 to key-9, "
                    "key-space, key-period, key-left, key-right, key-home, mouse, expose, quit)");
        }
        std::stable_sort(events.begin(), events.end(),
                         [](const Injected& a, const Injected& b) { return a.frame < b.frame; });
    }

    const char* dir = env("RIG_FRAME_DIR");
    const char* save_text = env("RIG_SAVE_FRAMES");
    if (save_text && !dir)
        die("RIG_SAVE_FRAMES needs RIG_FRAME_DIR");
    if (dir) {
        struct stat info;
        if (stat(dir, &info) != 0 || !S_ISDIR(info.st_mode))
            die(std::string("RIG_FRAME_DIR: ") + dir + " is not a directory");
        frame_dir = dir;
        save_all = !save_text || std::string(save_text) == "all";
        if (!save_all) {
            for (const std::string& entry : split(save_text, ','))
                save_list.push_back(parse_number(entry, "RIG_SAVE_FRAMES"));
            std::sort(save_list.begin(), save_list.end());
        }
    }

    if (const char* video = env("RIG_VIDEO")) {
        const std::string target = video;
        if (target.rfind("fd:", 0) == 0) {
            video_fd = static_cast<int>(parse_number(target.substr(3), "RIG_VIDEO", INT32_MAX));
            if (fcntl(video_fd, F_GETFD) == -1)
                die("RIG_VIDEO: file descriptor " + target.substr(3) + " is not open");
        } else {
            video_fd = open(video, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (video_fd == -1)
                die("RIG_VIDEO: cannot open " + target + ": " + std::strerror(errno));
        }
    }

    // A recording of a fixed length, for capture tools that stop the program
    // with an event and must not record what it draws while it ends.
    if (const char* text = env("RIG_FRAMES"))
        frame_limit = parse_number(text, "RIG_FRAMES");
    if (const char* text = env("RIG_VIDEO_FORMAT")) {
        if (std::string(text) != "raw" && std::string(text) != "ppm")
            die(std::string("RIG_VIDEO_FORMAT: \"") + text + "\" is not raw or ppm");
        video_ppm = std::string(text) == "ppm";
    }

    if (const char* path = env("RIG_LOG")) {
        log = std::fopen(path, "we");
        if (!log)
            die(std::string("RIG_LOG: cannot open ") + path + ": " + std::strerror(errno));
        // Line by line, so a crash or a kill still leaves every completed frame.
        setvbuf(log, nullptr, _IOLBF, 0);
    }
}

Uint32 Rig::ticks(unsigned frame) const
{
    if (!clock.real())
        return clock.at(frame);
    return real_get_ticks();
}

bool Rig::poll_injected(SDL_Event* event, unsigned frame)
{
    if (next_event == events.size() || events[next_event].frame > frame)
        return false;
    // A null event only asks whether one is pending, and consumes nothing.
    if (event) {
        *event = events[next_event].event;
        log_text("event " + std::to_string(frame) + " " + events[next_event].name);
        ++next_event;
    }
    return true;
}

bool Rig::saves(unsigned frame) const
{
    if (frame_dir.empty())
        return false;
    return save_all || std::binary_search(save_list.begin(), save_list.end(), frame);
}

void Rig::record(unsigned frame)
{
    if (frame >= frame_limit)
        return;
    const bool save = saves(frame);
    if (!save && video_fd == -1)
        return;
    const SDL_Surface* screen = SDL_GetVideoSurface();
    if (!screen)
        return;
    const int width = screen->w;
    const int height = screen->h;
    const size_t row = static_cast<size_t>(width) * 3;
    bottom_up.resize(row * height);
    top_down.resize(row * height);

    // The program's own pack settings must neither shape our read nor change.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_PACK_LSB_FIRST, GL_FALSE);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottom_up.data());
    glPopClientAttrib();

    // The GL reads bottom row first; images and video go top row first.
    for (int y = 0; y < height; ++y)
        std::memcpy(&top_down[row * (height - 1 - y)], &bottom_up[row * y], row);

    if (save)
        save_ppm(frame, width, height);
    if (video_fd != -1) {
        if (video_ppm) {
            char header[64];
            const int length =
                std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", width, height);
            stream(reinterpret_cast<const unsigned char*>(header), static_cast<size_t>(length));
        }
        stream(top_down.data(), row * height);
        // The reader sees the end of the stream at the last recorded frame,
        // however long the program takes to end after it.
        if (frame + 1 == frame_limit) {
            close(video_fd);
            video_fd = -1;
        }
    }
}

void Rig::save_ppm(unsigned frame, int width, int height)
{
    char name[64];
    std::snprintf(name, sizeof name, RIG_FRAME_FILE, frame);
    const std::string path = frame_dir + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wbe");
    if (!file)
        die("cannot write " + path + ": " + std::strerror(errno));
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    const bool written = std::fwrite(top_down.data(), 1, top_down.size(), file) == top_down.size();
    if (std::fclose(file) != 0 || !written)
        die("cannot write " + path + ": " + std::strerror(errno));
}

void Rig::stream(const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(video_fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            die(std::string("RIG_VIDEO: write failed: ") + std::strerror(errno));
        data += written;
        size -= static_cast<size_t>(written);
    }
}

void Rig::log_swap(unsigned frame, Uint32 ticks)
{
    log_text("frame " + std::to_string(frame) + " ticks " + std::to_string(ticks));
}

// A write that fails (a full disk, /dev/full) may show only when the buffer
// goes out, so each line is flushed and the stream's error flag checked.
void Rig::log_text(const std::string& line)
{
    if (!log)
        return;
    std::fprintf(log, "%s\n", line.c_str());
    if (std::fflush(log) != 0 || std::ferror(log))
        die(std::string("RIG_LOG: write failed: ") + std::strerror(errno));
}

// Completed swaps: the frame number that the clock and the events key on. SDL's
// own threads may read the clock, so it is atomic.
std::atomic<unsigned> swaps{0};

Rig& rig()
{
    static Rig instance;
    return instance;
}

// The rig's one load-time set-up: every variable is read now, so a bad one
// stops the program before it opens a window.
__attribute__((constructor)) void load()
{
    rig();
    riglib::audio_at_load();
}

}  // namespace

namespace riglib {

void fail(const std::string& message)
{
    die(message);
}

const char* setting(const char* name)
{
    return env(name);
}

void log_line(const std::string& line)
{
    rig().log_text(line);
}

uint32_t frame_rate()
{
    return rig().frame_rate();
}

bool recorded(unsigned frame)
{
    return rig().recorded(frame);
}

}  // namespace riglib

extern "C" {

Uint32 SDL_GetTicks(void)
{
    return rig().ticks(swaps.load());
}

int SDL_PollEvent(SDL_Event* event)
{
    Rig& r = rig();
    if (r.poll_injected(event, swaps.load()))
        return 1;
    return real_poll_event(event);
}

void SDL_GL_SwapBuffers(void)
{
    Rig& r = rig();
    const unsigned frame = swaps.load();
    r.record(frame);
    real_swap_buffers();
    const Uint32 ticks = r.ticks(frame);
    swaps.store(frame + 1);
    riglib::audio_after_frame(frame);
    r.log_swap(frame, ticks);
}

}  // extern "C"
