// Test support: runs the real demo binary as a child process in a scratch copy
// of its run folder, optionally under the preload rig, and reads back what the
// rig recorded (frames, swap log) and what the disk audio driver wrote.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "command.h"

// Where the build put the programs under test.
std::string demo_binary();
std::string rig_library();
std::string glew_fail_library();
// The media folder (VORNA_ASSETS, set by ctest).
std::string assets_dir();
// A fixture file kept beside this helper.
std::string support_file(const std::string& name);

// Whether the programs run here load sdl12-compat (SDL 1.2 on SDL 2) rather
// than classic SDL: LD_LIBRARY_PATH names its folder, as ctest sets it for the
// suites' second run, and every child inherits it. Where the two SDLs differ,
// tests expect per SDL.
bool on_sdl12_compat();
// Where sdl12-compat keeps its libSDL-1.2.so.0, beside classic SDL.
std::string sdl12_compat_dir();
// The file of the SDL 1.2 library a running process has mapped ("" if none).
std::string loaded_sdl(pid_t pid);

struct Rgb {
    uint8_t r, g, b;
};

// A frame the rig saved: rgb bytes, top row first.
struct Frame {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;

    // x from the left, y from the bottom, as the GL and the overlay count.
    Rgb at(int x, int y) const;
    bool all_black() const;
};

struct Swap {
    unsigned frame;
    unsigned ticks;
};

struct Injected {
    unsigned frame;
    std::string name;
};

struct Outcome : Result {
    // Lines of err that start with "demo: ", the demo's own failure reports.
    std::vector<std::string> demo_lines() const;
};

class DemoRun {
public:
    // A scratch folder holding links to every file of the media folder.
    DemoRun();
    // Another program (the command line given) in an empty scratch folder, or
    // in one holding links to every file of `media` (another demo's folder).
    explicit DemoRun(std::vector<std::string> command, const std::string& media = "");

    std::string dir() const { return folder_.path().string(); }
    void remove_media(const std::string& name);
    void replace_media(const std::string& name, const std::string& source);

    // The child's environment is ours (DISPLAY included) plus these changes.
    // Audio always goes to the disk driver, into audio_file().
    void set_env(const std::string& name, const std::string& value);
    void unset_env(const std::string& name);
    // Start the demo with its standard output and error closed.
    void close_output() { demo_.close_output(); }

    // Preload the rig with this tick schedule (RIG_TICKS) and these events
    // (RIG_EVENTS), logging every swap and saving the frames listed in save
    // (RIG_SAVE_FRAMES: "all", "0,3", or "" for none).
    void use_rig(const std::string& ticks, const std::string& events = "",
                 const std::string& save = "");
    void preload(const std::string& library);

    // Runs to the end, or kills the child after limit_s seconds.
    Outcome run(double limit_s = 60);
    // Or in two steps, to act on the running child in between; wait kills
    // the child if it has not ended limit_s seconds after the call.
    void start();
    pid_t pid() const { return demo_.pid(); }
    Outcome wait(double limit_s = 60);

    std::vector<Swap> swaps() const;
    std::vector<Injected> injected() const;
    bool has_frame(unsigned k) const;
    Frame frame(unsigned k) const;
    std::string audio_file() const;
    // A path in the folder of what the run leaves (never the run folder).
    std::string output(const std::string& name) const { return out_ + "/" + name; }
    // The recorded audio as signed 16-bit samples (empty if none was written).
    std::vector<int16_t> audio() const;

private:
    // Declared in this order so that the child is killed first and our own X
    // connection (a Display*) closed last.
    std::unique_ptr<void, void (*)(void*)> display_;
    Scratch folder_;   // the run folder and the demo's working directory
    std::string out_;  // what the run leaves: log, frames, audio
    std::vector<std::string> preload_;
    Command demo_;
};
