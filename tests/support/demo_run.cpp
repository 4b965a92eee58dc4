// Runs the demo binary as a child process in a scratch run folder, and reads
// back the rig's frames and log and the disk audio driver's recording.
#include "demo_run.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "rig.h"

namespace fs = std::filesystem;

namespace {

// Xvfb resets itself whenever its last client disconnects and refuses
// connections while it does, so a demo started just after the previous test's
// demo ended may find no display. A connection of our own, held for the whole
// run (and retried while such a reset finishes), keeps the server up.
Display* hold_display()
{
    if (!std::getenv("DISPLAY"))
        return nullptr;
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) {
            fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
            return display;
        }
        usleep(10000);
    }
    throw std::runtime_error("cannot connect to the X display");
}

void close_display(void* display)
{
    XCloseDisplay(static_cast<Display*>(display));
}

}  // namespace

std::string demo_binary()
{
    return DEMO_BINARY;
}
std::string rig_library()
{
    return RIG_LIBRARY;
}
std::string glew_fail_library()
{
    return GLEW_FAIL_LIBRARY;
}

std::string assets_dir()
{
    const char* dir = std::getenv("VORNA_ASSETS");
    if (!dir)
        throw std::runtime_error("VORNA_ASSETS is not set (run the tests through ctest)");
    return dir;
}

std::string support_file(const std::string& name)
{
    return std::string(SUPPORT_DIR) + "/" + name;
}

bool on_sdl12_compat()
{
    const char* path = std::getenv("LD_LIBRARY_PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (folder == SDL12_COMPAT_DIR || folder == SDL12_COMPAT_DIR "/")
            return true;
    return false;
}

std::string sdl12_compat_dir()
{
    return SDL12_COMPAT_DIR;
}

std::string loaded_sdl(pid_t pid)
{
    std::istringstream maps(read_file("/proc/" + std::to_string(pid) + "/maps"));
    for (std::string line; std::getline(maps, line);) {
        const std::string::size_type path = line.find('/');
        if (path != std::string::npos && line.find("/libSDL-1.2.so", path) != std::string::npos)
            return line.substr(path);
    }
    return "";
}

Rgb Frame::at(int x, int y) const
{
    const uint8_t* p = &rgb[(static_cast<size_t>(height - 1 - y) * width + x) * 3];
    return Rgb{p[0], p[1], p[2]};
}

bool Frame::all_black() const
{
    for (uint8_t value : rgb)
        if (value != 0)
            return false;
    return true;
}

std::vector<std::string> Outcome::demo_lines() const
{
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("demo: ", 0) == 0)
            lines.push_back(line);
    return lines;
}

DemoRun::DemoRun() : DemoRun(std::vector<std::string>{demo_binary()}, assets_dir()) {}

DemoRun::DemoRun(std::vector<std::string> command, const std::string& media)
    : display_(hold_display(), close_display),
      out_((folder_.path() / ".out").string()),
      demo_(std::move(command))
{
    if (!media.empty())
        for (const fs::directory_entry& entry : fs::directory_iterator(media))
            fs::create_symlink(entry.path(), folder_.path() / entry.path().filename());
    fs::create_directories(out_ + "/frames");
    demo_.in_dir(dir());
    set_env("SDL_AUDIODRIVER", "disk");
    set_env("SDL_DISKAUDIOFILE", audio_file());
    // The driver sleeps this long (ms) per 512-frame buffer (11.6 ms of sound):
    // a little faster than real time instead of its default of 150.
    set_env("SDL_DISKAUDIODELAY", "5");
}

void DemoRun::remove_media(const std::string& name)
{
    fs::remove(folder_.path() / name);
}

void DemoRun::replace_media(const std::string& name, const std::string& source)
{
    remove_media(name);
    fs::copy_file(source, folder_.path() / name);
}

void DemoRun::set_env(const std::string& name, const std::string& value)
{
    demo_.set(name, value);
}

void DemoRun::unset_env(const std::string& name)
{
    demo_.unset(name);
}

void DemoRun::use_rig(const std::string& ticks, const std::string& events, const std::string& save)
{
    preload(rig_library());
    set_env("RIG_TICKS", ticks);
    set_env("RIG_LOG", out_ + "/rig.log");
    if (!save.empty()) {
        set_env("RIG_FRAME_DIR", out_ + "/frames");
        set_env("RIG_SAVE_FRAMES", save);
    }
    if (!events.empty())
        set_env("RIG_EVENTS", events);
}

void DemoRun::preload(const std::string& library)
{
    preload_.push_back(library);
}

void DemoRun::start()
{
    std::string preload;
    for (const std::string& library : preload_)
        preload += (preload.empty() ? "" : ":") + library;
    if (!preload.empty())
        demo_.set("LD_PRELOAD", preload);
    demo_.start();
}

Outcome DemoRun::wait(double limit_s)
{
    return Outcome{demo_.wait(limit_s)};
}

Outcome DemoRun::run(double limit_s)
{
    start();
    return wait(limit_s);
}

std::vector<Swap> DemoRun::swaps() const
{
    std::vector<Swap> swaps;
    std::istringstream in(read_file(out_ + "/rig.log"));
    for (std::string line; std::getline(in, line);) {
        Swap swap;
        if (std::sscanf(line.c_str(), "frame %u ticks %u", &swap.frame, &swap.ticks) == 2)
            swaps.push_back(swap);
    }
    return swaps;
}

std::vector<Injected> DemoRun::injected() const
{
    std::vector<Injected> events;
    std::istringstream in(read_file(out_ + "/rig.log"));
    for (std::string line; std::getline(in, line);) {
        unsigned frame = 0;
        char name[32];
        if (std::sscanf(line.c_str(), "event %u %31s", &frame, name) == 2)
            events.push_back(Injected{frame, name});
    }
    return events;
}

namespace {

std::string frame_path(const std::string& out, unsigned k)
{
    char name[64];
    std::snprintf(name, sizeof name, RIG_FRAME_FILE, k);
    return out + "/frames/" + name;
}

}  // namespace

bool DemoRun::has_frame(unsigned k) const
{
    return fs::exists(frame_path(out_, k));
}

Frame DemoRun::frame(unsigned k) const
{
    const std::string path = frame_path(out_, k);
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    Frame frame;
    in >> magic >> frame.width >> frame.height >> maxval;
    in.get();  // the one whitespace byte before the pixels
    if (!in || magic != "P6" || maxval != 255 || frame.width <= 0 || frame.height <= 0)
        throw std::runtime_error("not a frame the rig saved: " + path);
    frame.rgb.resize(static_cast<size_t>(frame.width) * frame.height * 3);
    in.read(reinterpret_cast<char*>(frame.rgb.data()),
            static_cast<std::streamsize>(frame.rgb.size()));
    if (!in)
        throw std::runtime_error("truncated frame: " + path);
    return frame;
}

std::string DemoRun::audio_file() const
{
    return out_ + "/audio.raw";
}

std::vector<int16_t> DemoRun::audio() const
{
    const std::string bytes = read_file(audio_file());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}
