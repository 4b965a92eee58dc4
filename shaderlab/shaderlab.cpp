// shaderlab: a live shader editor. It draws full-window quads with the user's
// shaders and rebuilds them whenever one of their files is saved. It takes two
// kinds of file (shaderlab/pass.h has the details):
//
//   cd assets && ../build/shaderlab                  shaders/plasma.vert, shaders/plasma.frag
//   cd assets && ../build/shaderlab VERTEX FRAGMENT  the prelude form: each file
//                        preceded by "shaders/std.glsl", relative to the working
//                        directory, which must hold it (start it from assets/)
//   shaderlab [OPTIONS] FRAGMENT                     the shared form: a
//                        mainImage(out vec4 fragColor, in vec2 fragCoord), as
//                        shared-shader sites run them, from any folder
//   shaderlab --help                                 the usage, on stdout
//
// Options (any form; each path relative to the working directory):
//   -c N=SOURCE     iChannelN (N 0 to 3) of the image pass reads SOURCE: an image
//                   file (PNG or JPEG: usual orientation, mipmapped, repeating),
//                   `music` (the 512x2 texture of -m's music: row 0 its spectrum,
//                   row 1 its waveform; shaderlab/channels.h), or a buffer A to D
//   -c X.N=SOURCE   the same for buffer X's pass
//   -b X=FILE       buffer pass X (A to D), in the shared form, drawn each frame
//                   before the image pass, in the order A to D, into an RGBA32F
//                   target of the window's size that starts black. A pass reading
//                   a buffer drawn before it in the frame sees this frame's
//                   picture, any other (itself: -c A.0=A) the previous frame's.
//   -i FILE         common code put before the code of every shared-form pass
//   -m FILE         music (SDL_mixer: MP3, OGG, WAV...) played from the start,
//                   positioned by the clock: its position is iTime
//
// Window: 1280x720 through SDL 1.2 and GLEW: OpenGL 2.0 for the prelude form
// without inputs, 3.0 otherwise. Mesa gives SDL 1.2's context (which can ask for
// no version or profile) its compatibility profile: GL 4.5 on llvmpipe. The
// shared form is compiled as GLSL 3.30 in its core profile (#version 330), which
// such a context accepts and which has what shared shaders use (texture, tanh,
// out parameters, integer operations); the file's own #version line, if it
// has one, is used instead. Each frame clears to black and draws each pass's
// quad with corners at -1 and 1 (gl_Vertex in the prelude form), with identity
// matrices; gl_FragCoord.xy runs over 0..1280 and 0..720. Frames are paced by
// the display (swap interval 1) where the driver allows it, otherwise held to at
// least 1000/60 ms each by a sleep (and never under 1000/240 ms).
//
// Uniforms, set in every pass that declares them (the shared form declares the
// i* ones itself):
//   float time, iTime     seconds since start, from SDL_GetTicks (milliseconds /
//                         1000), less the time paused, moved by seeking
//   vec2 resolution       (1280, 720);  vec3 iResolution (1280, 720, 1)
//   vec2 mouse            the pointer's last position over the window, in pixels
//                         from the bottom-left (0 to 1279, 0 to 719); (0, 0) until
//                         it first moves there
//   vec4 iMouse           left button: xy its position while down (kept after),
//                         zw where it last went down, z negative once released,
//                         w positive only in the frame it went down; 0 before
//   float iTimeDelta      the SDL clock's seconds since the previous frame (1/60
//                         in the first frame, 0 while paused)
//   int iFrame            frames drawn while running since start or restart
//                         (a float iFrame, declared so in the prelude form, works)
//   float iFrameRate      1 / iTimeDelta (60 until a frame takes time)
//   vec4 iDate            local year, month (0 to 11), day, seconds since midnight
//   float iSampleRate     the mixer's rate (44100 without music)
//   sampler2D iChannel0-3, vec3 iChannelResolution[4] (width, height, 1; 0 for
//                         none), float iChannelTime[4] (iTime; 0 for images)
//
// Keys: Escape or closing the window quits, status 0. Space pauses and resumes:
// time and iFrame stand still and the buffers keep their pictures (the image
// pass is still drawn each frame, and every pass once after a save that
// builds). Left and Right seek one second back (not before 0) and forth; R sets
// time and iFrame back to 0 and clears the buffers. The music follows each.
// The title is "shaderlab: NAME at SECONDS s, frame N", then ", paused" while
// paused and " (error)" while a pass is broken (NAME: "VERTEX, FRAGMENT" or
// the image pass's FRAGMENT).
//
// Editing: every frame polls each pass's files (kit::File): the prelude form's
// three, a shared-form pass's own and the common file. A save that builds shows
// on that frame and prints "shaderlab: rebuilt NAME" on stderr (NAME the
// pass's, as above). A save that does not build (or a file that cannot be read,
// or is no regular file) keeps that pass's last good program in effect, prints
// "shaderlab: " and the message once, not again until it changes or a build
// succeeds, adds " (error)" to the title and draws the messages over the
// picture (shaderlab/overlay.h) until a save builds. The message is
// "FRAGMENT: fragment shader compilation failed:" (or VERTEX and "vertex", or
// "VERTEX,FRAGMENT: link failed:", FRAGMENT alone in the shared form), then the
// GL's whole log with each location told as the user's "FILE:LINE:COLUMN:"
// (the prelude's and shaderlab's own lines not counted; an error inside
// shaderlab's own text is told as such). A shader that never finishes hangs the
// GL and the window with it: there is no time limit but the driver's.
//
// Start-up failures (wrong arguments, a missing, unreadable or non-regular file
// such as a FIFO, an image or music that cannot be loaded, a first build that
// fails, no X display, no suitable OpenGL window) end before the first frame
// with one line "shaderlab: <why>" on stderr and status 1.
#include <GL/glew.h>
#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <ios>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channels.h"
#include "file.h"
#include "overlay.h"
#include "pass.h"

namespace {

const int kWidth = 1280;
const int kHeight = 720;
const char* const kPrelude = "shaders/std.glsl";
const char* const kUsage =
    "usage: shaderlab [OPTIONS] FRAGMENT          a shader in the shared form (mainImage)\n"
    "       shaderlab [OPTIONS] VERTEX FRAGMENT   two shaders after shaders/std.glsl\n"
    "       shaderlab [OPTIONS]                   shaders/plasma.vert shaders/plasma.frag\n"
    "       (the last two from a folder holding shaders/std.glsl, such as assets/)\n"
    "options:\n"
    "  -c N=SOURCE     iChannelN (N 0 to 3) of the image pass: an image file (PNG, JPEG),\n"
    "                  music (the spectrum and waveform of -m's music), or a buffer A to D\n"
    "  -c X.N=SOURCE   the same for buffer X's pass (-c A.0=A: A reads its last frame)\n"
    "  -b X=FILE       buffer pass X (A to D) in the shared form, drawn before the image\n"
    "  -i FILE         common code before every pass in the shared form\n"
    "  -m FILE         music played with the picture; its position is iTime\n"
    "keys: Space pause, Left/Right seek one second, R restart, Escape quit\n";

// One line on stderr, then exit 1. The GL's logs run over several lines; they
// are joined so that the reason stays one line.
[[noreturn]] void fail(std::string message)
{
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    for (char& c : message)
        if (c == '\n')
            c = ' ';
    std::cerr << "shaderlab: " << message << std::endl;
    SDL_Quit();
    std::_Exit(1);
}

// Passes are numbered 0 to 3 for the buffers A to D and 4 for the image.
const int kImagePass = 4;

struct Options {
    std::string vertex, fragment, common, music;
    std::string buffers[4];      // buffer X's file, "" for none
    std::string channels[5][4];  // each pass's iChannel sources, "" for none
};

int buffer_index(const std::string& name)
{
    return name.size() == 1 && name[0] >= 'A' && name[0] <= 'D' ? name[0] - 'A' : -1;
}

Options parse(int argc, char** argv)
{
    Options options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
            continue;
        }
        if (arg != "-c" && arg != "-b" && arg != "-i" && arg != "-m")
            fail("unknown option " + arg + " (shaderlab --help)");
        if (i + 1 == argc)
            fail(arg + " needs a value (shaderlab --help)");
        const std::string value = argv[++i];
        const size_t equals = value.find('=');
        const std::string name = value.substr(0, equals);
        const std::string source = equals == std::string::npos ? "" : value.substr(equals + 1);
        if (arg == "-i") {
            options.common = value;
        } else if (arg == "-m") {
            options.music = value;
        } else if (arg == "-b") {
            if (buffer_index(name) < 0 || source.empty())
                fail("-b expects X=FILE with X one of A, B, C, D, not \"" + value + "\"");
            options.buffers[buffer_index(name)] = source;
        } else {
            // N, or X.N for buffer X's pass.
            const int pass = name.size() == 3 && name[1] == '.' ? buffer_index(name.substr(0, 1))
                             : name.size() == 1                 ? kImagePass
                                                                : -1;
            const char n = name.empty() ? 0 : name.back();
            if (pass < 0 || n < '0' || n > '3' || source.empty())
                fail("-c expects N=SOURCE or X.N=SOURCE (N 0 to 3, X A to D), not \"" + value +
                     "\"");
            options.channels[pass][n - '0'] = source;
        }
    }
    if (files.size() > 2)
        fail("expected a fragment file, or a vertex and a fragment file (shaderlab --help)");
    options.vertex = files.size() == 1 ? "" : files.size() == 2 ? files[0] : "shaders/plasma.vert";
    options.fragment = files.empty() ? "shaders/plasma.frag" : files.back();

    for (int pass = 0; pass < 5; ++pass) {
        if (pass < kImagePass && options.buffers[pass].empty()) {
            for (const std::string& source : options.channels[pass])
                if (!source.empty())
                    fail(std::string("-c ") + char('A' + pass) + ".N: there is no buffer " +
                         char('A' + pass) + " (add -b " + char('A' + pass) + "=FILE)");
            continue;
        }
        for (const std::string& source : options.channels[pass]) {
            const int buffer = buffer_index(source);
            if (buffer >= 0 && options.buffers[buffer].empty())
                fail("-c ...=" + source + ": there is no buffer " + source + " (add -b " + source +
                     "=FILE)");
            if (source == "music" && options.music.empty())
                fail("-c ...=music needs the music: add -m FILE");
        }
    }
    return options;
}

// Before any window opens, so a mistyped path costs no window flashing up. A
// FIFO would block the open until someone writes to it.
void check_file(const std::string& path, bool shader)
{
    std::string problem = irregular_file(path);
    if (problem.empty() && shader) {
        try {
            kit::File(path).raw_read();
        } catch (const std::ios_base::failure&) {
            problem = "cannot read " + path;
        } catch (const std::exception& error) {
            problem = error.what();
        }
    }
    if (!problem.empty() && path == kPrelude)
        problem += " (run shaderlab from a folder that holds shaders/std.glsl, such as assets/)";
    if (!problem.empty())
        fail(problem);
}

void open_window(bool needs_gl3)
{
    // SDL 1.2 makes OpenGL windows only on X11; without a display it would
    // fall back to a text-mode driver that takes over the terminal.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        fail(std::string("cannot initialise SDL: ") + SDL_GetError() +
             " (is an X display running? see DISPLAY)");
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_SWAP_CONTROL, 1);
    if (!SDL_SetVideoMode(kWidth, kHeight, 32, SDL_OPENGL))
        fail(std::string("cannot open a 1280x720 OpenGL window: ") + SDL_GetError());
    const GLenum glew = glewInit();
    if (glew != GLEW_OK)
        fail(std::string("cannot load the OpenGL entry points (GLEW): ") +
             reinterpret_cast<const char*>(glewGetErrorString(glew)));
    const std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    // The passes call the 2.0 entry points without looking: null ones would crash.
    if (!GLEW_VERSION_2_0)
        fail("OpenGL 2.0 is needed for GLSL shaders; this GL is " + version);
    if (needs_gl3 && !GLEW_VERSION_3_0)
        fail("OpenGL 3.0 is needed for the shared form, channels and buffers; this GL is " +
             version);
}

// The clock of `time` and iTime in milliseconds: SDL's clock since the start
// or the last reset, less the time spent paused, moved by seeking. Unsigned
// arithmetic survives the wrap.
class Clock {
public:
    explicit Clock(Uint32 now) : origin(now) {}

    bool paused() const { return paused_; }
    Uint32 elapsed(Uint32 now) const { return paused_ ? frozen : now - origin; }
    void toggle_pause(Uint32 now)
    {
        if (paused_)
            origin = now - frozen;
        else
            frozen = now - origin;
        paused_ = !paused_;
    }
    void reset(Uint32 now)
    {
        origin = now;
        frozen = 0;
    }
    void seek(Uint32 now, int delta_ms)
    {
        const Uint32 at = elapsed(now);
        const Uint32 to = delta_ms < 0 && at < static_cast<Uint32>(-delta_ms) ? 0 : at + delta_ms;
        if (paused_)
            frozen = to;
        else
            origin = now - to;
    }

private:
    Uint32 origin;
    Uint32 frozen = 0;
    bool paused_ = false;
};

// What a channel reads: an image, the music, a buffer, or nothing.
struct Channel {
    enum Kind { none, image, music, buffer } kind = none;
    int index = 0;  // into the images, or the buffer's number
};

struct Stage {
    std::unique_ptr<Pass> pass;
    std::unique_ptr<Target> target;  // null for the image pass: it draws into the window
    Channel channels[4];
    std::string error;  // the last message, "" while its build is good
};

// The left button's state behind iMouse, and the pointer's position behind `mouse`.
struct Pointer {
    float position[2] = {0, 0};
    float drag[2] = {0, 0};
    float click[2] = {0, 0};
    bool down = false;
    bool clicked = false;  // went down during this frame
};

class Lab {
public:
    explicit Lab(const Options& options);
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    bool handle_events(Uint32 now);
    void rebuild();
    void draw(Uint32 now);

private:
    std::vector<Texture> images;
    std::unique_ptr<Music> music;
    std::vector<Stage> stages;  // the buffers in order, then the image pass
    int buffer_stage[4] = {-1, -1, -1, -1};
    Overlay overlay;
    Clock clock;
    Pointer pointer;
    int frame = 0;
    bool first_frame = true;
    Uint32 last_now = 0;
    float frame_rate = 60;
    bool rebuilt = false;  // a pass rebuilt since the last draw
    std::string title;

    void restart(Uint32 now);
    void seek(Uint32 now, int delta_ms);
    void report(Stage& stage, const std::string& message);
    void show_errors();
    Texture texture_of(const Channel& channel) const;
    void draw_stage(const Stage& stage, float time, float delta);
    void show_title(Uint32 ms);
};

Lab::Lab(const Options& options) : overlay(kWidth, kHeight), clock(0)
{
    std::map<std::string, int> image_index;
    const auto channel_of = [&](const std::string& source) {
        Channel channel;
        if (source.empty())
            return channel;
        if (source == "music") {
            channel.kind = Channel::music;
        } else if (buffer_index(source) >= 0) {
            channel.kind = Channel::buffer;
            channel.index = buffer_index(source);
        } else {
            channel.kind = Channel::image;
            if (!image_index.count(source)) {
                image_index[source] = static_cast<int>(images.size());
                try {
                    images.push_back(load_image(source));
                } catch (const std::exception& error) {
                    fail(error.what());
                }
            }
            channel.index = image_index[source];
        }
        return channel;
    };

    for (int pass = 0; pass < 5; ++pass) {
        const bool image = pass == kImagePass;
        if (!image && options.buffers[pass].empty())
            continue;
        Stage stage;
        stage.pass = std::make_unique<Pass>(image ? options.fragment : options.buffers[pass],
                                            image ? options.vertex : "", options.common);
        if (!image) {
            try {
                stage.target = std::make_unique<Target>(kWidth, kHeight);
            } catch (const std::exception& error) {
                fail(error.what());
            }
            buffer_stage[pass] = static_cast<int>(stages.size());
        }
        for (int n = 0; n < 4; ++n)
            stage.channels[n] = channel_of(options.channels[pass][n]);
        try {
            stage.pass->update();
        } catch (const std::exception& error) {
            fail(error.what());
        }
        stages.push_back(std::move(stage));
    }
    if (!options.music.empty()) {
        try {
            music = std::make_unique<Music>(options.music);
        } catch (const std::exception& error) {
            fail(error.what());
        }
    }
    // The clock and the music start together, once all is built.
    clock.reset(SDL_GetTicks());
    if (music)
        music->play_from(0, false);
}

Lab::~Lab()
{
    for (const Texture& image : images)
        glDeleteTextures(1, &image.name);
}

void Lab::report(Stage& stage, const std::string& message)
{
    // A missing file fails every poll until it is back (an editor may remove it
    // for an instant while saving): the same message is printed only once.
    if (message == stage.error)
        return;
    stage.error = message;
    std::cerr << "shaderlab: " << message;
    if (message.empty() || message.back() != '\n')
        std::cerr << '\n';
    std::cerr.flush();
    show_errors();
}

void Lab::show_errors()
{
    std::string text;
    for (const Stage& stage : stages)
        text += stage.error;
    overlay.set_text(text);
}

void Lab::rebuild()
{
    for (Stage& stage : stages) {
        try {
            if (!stage.pass->update())
                continue;
        } catch (const std::exception& error) {
            report(stage, error.what());
            continue;
        }
        rebuilt = true;
        std::cerr << "shaderlab: rebuilt " << stage.pass->name() << std::endl;
        if (!stage.error.empty()) {
            stage.error.clear();
            show_errors();
        }
    }
}

void Lab::restart(Uint32 now)
{
    clock.reset(now);
    frame = 0;
    for (const Stage& stage : stages)
        if (stage.target)
            stage.target->clear();
    if (music)
        music->play_from(0, clock.paused());
}

void Lab::seek(Uint32 now, int delta_ms)
{
    clock.seek(now, delta_ms);
    if (music)
        music->play_from(clock.elapsed(now) / 1000.0, clock.paused());
}

bool Lab::handle_events(Uint32 now)
{
    bool running = true;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            running = false;
        } else if (event.type == SDL_KEYDOWN) {
            const SDLKey key = event.key.keysym.sym;
            if (key == SDLK_ESCAPE) {
                running = false;
            } else if (key == SDLK_SPACE) {
                clock.toggle_pause(now);
                if (music && clock.paused())
                    music->pause();
                else if (music)
                    music->resume();
            } else if (key == SDLK_r) {
                restart(now);
            } else if (key == SDLK_LEFT || key == SDLK_RIGHT) {
                seek(now, key == SDLK_LEFT ? -1000 : 1000);
            }
        } else if (event.type == SDL_MOUSEMOTION) {
            // SDL counts rows from the top, the GL from the bottom.
            pointer.position[0] = static_cast<float>(event.motion.x);
            pointer.position[1] = static_cast<float>(kHeight - 1 - event.motion.y);
            if (pointer.down) {
                pointer.drag[0] = pointer.position[0];
                pointer.drag[1] = pointer.position[1];
            }
        } else if ((event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_MOUSEBUTTONUP) &&
                   event.button.button == SDL_BUTTON_LEFT) {
            pointer.down = event.type == SDL_MOUSEBUTTONDOWN;
            if (pointer.down) {
                pointer.clicked = true;
                pointer.drag[0] = pointer.click[0] = static_cast<float>(event.button.x);
                pointer.drag[1] = pointer.click[1] =
                    static_cast<float>(kHeight - 1 - event.button.y);
            }
        }
    }
    return running;
}

Texture Lab::texture_of(const Channel& channel) const
{
    switch (channel.kind) {
    case Channel::image:
        return images[channel.index];
    case Channel::music:
        return music->texture();
    case Channel::buffer:
        return stages[buffer_stage[channel.index]].target->front();
    case Channel::none:
        break;
    }
    return Texture{};
}

void Lab::draw_stage(const Stage& stage, float time, float delta)
{
    if (stage.target) {
        stage.target->bind();
    } else {
        if (stages.size() > 1)
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, kWidth, kHeight);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // Not Pass::update: it would poll the files again and swallow the error
    // of an edit saved since rebuild(), which would then never be reported.
    glUseProgram(stage.pass->program());
    const Uniforms& u = stage.pass->uniforms();
    glUniform1f(u.time, time);
    glUniform2f(u.resolution, kWidth, kHeight);
    glUniform2fv(u.mouse, 1, pointer.position);
    glUniform3f(u.iResolution, kWidth, kHeight, 1);
    glUniform1f(u.iTime, time);
    glUniform1f(u.iTimeDelta, delta);
    if (u.iFrame_is_float)
        glUniform1f(u.iFrame, static_cast<float>(frame));
    else
        glUniform1i(u.iFrame, frame);
    glUniform1f(u.iFrameRate, frame_rate);
    const float sign_z = pointer.down ? 1.0f : -1.0f;
    const float sign_w = pointer.clicked ? 1.0f : -1.0f;
    glUniform4f(u.iMouse, pointer.drag[0], pointer.drag[1], sign_z * pointer.click[0],
                sign_w * pointer.click[1]);
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    glUniform4f(u.iDate, static_cast<float>(local.tm_year + 1900), static_cast<float>(local.tm_mon),
                static_cast<float>(local.tm_mday),
                static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec));
    glUniform1f(u.iSampleRate, music ? static_cast<float>(music->sample_rate()) : 44100.0f);

    float resolutions[4][3] = {};
    float times[4] = {};
    for (int n = 0; n < 4; ++n) {
        const Texture texture = texture_of(stage.channels[n]);
        glActiveTexture(GL_TEXTURE0 + n);
        glBindTexture(GL_TEXTURE_2D, texture.name);
        glUniform1i(u.iChannel[n], n);
        resolutions[n][0] = static_cast<float>(texture.width);
        resolutions[n][1] = static_cast<float>(texture.height);
        resolutions[n][2] = texture.name ? 1.0f : 0.0f;
        const Channel::Kind kind = stage.channels[n].kind;
        times[n] = kind == Channel::music || kind == Channel::buffer ? time : 0.0f;
    }
    glUniform3fv(u.iChannelResolution, 4, &resolutions[0][0]);
    glUniform1fv(u.iChannelTime, 4, times);

    glBegin(GL_QUADS);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    glVertex2f(1, 1);
    glVertex2f(-1, 1);
    glEnd();
    glUseProgram(0);
    for (int n = 3; n >= 0; --n) {
        glActiveTexture(GL_TEXTURE0 + n);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    if (stage.target)
        stage.target->swap();
    // Leaves: the window's framebuffer bound after the image pass, texture unit 0 active.
}

void Lab::draw(Uint32 now)
{
    const Uint32 ms = clock.elapsed(now);
    const float time = static_cast<float>(ms) / 1000.0f;
    float delta = 0;
    if (first_frame)
        delta = 1.0f / 60.0f;
    else if (!clock.paused())
        delta = static_cast<float>(now - last_now) / 1000.0f;
    if (delta > 0)
        frame_rate = 1.0f / delta;
    first_frame = false;
    last_now = now;

    if (music && !clock.paused())
        music->update_texture();
    // While paused the buffers keep their pictures, unless a save asks for more.
    const bool advance = !clock.paused() || rebuilt;
    for (const Stage& stage : stages)
        if (!stage.target || advance)
            draw_stage(stage, time, delta);
    overlay.draw();
    show_title(ms);
    if (!clock.paused())
        ++frame;
    pointer.clicked = false;
    rebuilt = false;
}

void Lab::show_title(Uint32 ms)
{
    std::string text = "shaderlab: " + stages.back().pass->name() + " at " +
                       std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) +
                       std::to_string(ms % 100 / 10) + " s, frame " + std::to_string(frame);
    if (clock.paused())
        text += ", paused";
    for (const Stage& stage : stages)
        if (!stage.error.empty()) {
            text += " (error)";
            break;
        }
    // Said only when it changes: each caption is a round trip to the X server.
    if (text != title) {
        title = text;
        SDL_WM_SetCaption(title.c_str(), "shaderlab");
    }
}

void run(const Options& options)
{
    int swap_control = 0;
    SDL_GL_GetAttribute(SDL_GL_SWAP_CONTROL, &swap_control);
    // A driver may accept the interval and still not wait (a hidden window):
    // a floor of 1/240 s then keeps the loop from spinning. The real clock, not
    // SDL_GetTicks, so that a scripted clock paces nothing.
    const auto min_frame =
        std::chrono::microseconds(swap_control == 1 ? 1000000 / 240 : 1000000 / 60);

    Lab lab(options);
    bool running = true;
    while (running) {
        const auto started = std::chrono::steady_clock::now();
        const Uint32 now = SDL_GetTicks();  // one reading for the whole frame
        running = lab.handle_events(now);
        lab.rebuild();
        lab.draw(now);
        SDL_GL_SwapBuffers();
        std::this_thread::sleep_until(started + min_frame);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    const bool prelude_form = !options.vertex.empty();
    if (prelude_form) {
        check_file(kPrelude, true);
        check_file(options.vertex, true);
    }
    check_file(options.fragment, true);
    if (!options.common.empty())
        check_file(options.common, true);
    for (const std::string& buffer : options.buffers)
        if (!buffer.empty())
            check_file(buffer, true);
    // Anything beyond the prelude form's two files needs OpenGL 3.0.
    bool inputs = !options.music.empty();
    for (const std::string& buffer : options.buffers)
        inputs = inputs || !buffer.empty();
    for (const auto& pass : options.channels)
        for (const std::string& source : pass)
            if (!source.empty()) {
                inputs = true;
                if (source != "music" && buffer_index(source) < 0)
                    check_file(source, false);
            }
    if (!options.music.empty())
        check_file(options.music, false);

    open_window(!prelude_form || inputs);
    run(options);
    SDL_Quit();
    return 0;
}
