// shaderlab: a live shader editor on the toolkit's GLProgram2. It draws one
// full-window quad with a vertex and a fragment shader, each preceded by the
// prelude "shaders/std.glsl", and rebuilds them whenever one of the three is saved.
//
//   cd assets && ../build/shaderlab                        shaders/plasma.vert, shaders/plasma.frag
//   cd assets && ../build/shaderlab VERTEX FRAGMENT        any other pair
//   shaderlab --help                                       the usage, on stdout
//
// Paths are relative to the working directory, and so is the prelude, which
// must be there: start it from assets/ or a folder laid out the same way.
//
// Window: 1280x720, OpenGL 2.0 or later through SDL 1.2 and GLEW. Each frame
// clears to black and draws the quad with corners at -1 and 1 in gl_Vertex,
// with identity matrices: pass gl_Vertex through (or use ftransform()) and it
// covers the window; gl_FragCoord.xy runs over 0..1280 and 0..720.
// Frames are paced by the display (swap interval 1) where the driver allows
// it, otherwise held to at least 1000/60 ms each by a sleep (and never under
// 1000/240 ms).
//
// Uniforms, each set only when the program has one of that name:
//   uniform float time;        seconds since start, from SDL_GetTicks
//                              (milliseconds / 1000), less the time paused
//   uniform vec2 resolution;   the window's size in pixels: (1280, 720)
//   uniform vec2 mouse;        the pointer's last position over the window, in
//                              pixels from the bottom-left (0 to 1279, 0 to 719);
//                              (0, 0) until it first moves there
//
// Keys: Escape or closing the window quits, status 0. Space pauses `time` and
// resumes it where it stopped. R sets `time` back to 0 (while paused it stays 0).
//
// Editing: every frame polls the three files (GLProgram2::update). A save that
// builds shows on that frame and prints "shaderlab: rebuilt VERTEX, FRAGMENT"
// on stderr. A save that does not build (or a file that cannot be read) keeps
// the last good program on screen, prints "shaderlab: " and the toolkit's
// message (the file name(s), then the GL's log) on stderr once, not again
// until the message changes or a build succeeds, and the window title
// "shaderlab: VERTEX, FRAGMENT" gains " (error)" until a save builds again.
//
// Start-up failures (wrong arguments, a missing or unreadable file, a first
// build that fails, no X display, no OpenGL 2.0 window) end before the first
// frame with one line "shaderlab: <why>" on stderr and status 1.
#include <GL/glew.h>
#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <exception>
#include <ios>
#include <iostream>
#include <string>
#include <thread>

#include "file.h"
#include "opengl.h"

namespace {

const int kWidth = 1280;
const int kHeight = 720;
const char* const kPrelude = "shaders/std.glsl";
const char* const kUsage =
    "usage: shaderlab [VERTEX FRAGMENT]   (default shaders/plasma.vert shaders/plasma.frag;\n"
    "       run it from a folder holding shaders/std.glsl, such as assets/)\n";

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

// Before any window opens, so a mistyped path costs no window flashing up.
void check_readable(const std::string& path)
{
    try {
        kit::File(path).raw_read();
    } catch (const std::ios_base::failure&) {
        fail("cannot read " + path);
    } catch (const std::exception& error) {
        std::string message = error.what();
        if (path == kPrelude)
            message +=
                " (run shaderlab from a folder that holds shaders/std.glsl, such as assets/)";
        fail(message);
    }
}

void open_window()
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
    // GLProgram2 calls the 2.0 entry points without looking: null ones would crash.
    if (!GLEW_VERSION_2_0)
        fail(std::string("OpenGL 2.0 is needed for GLSL shaders; this GL is ") +
             reinterpret_cast<const char*>(glGetString(GL_VERSION)));
}

// The `time` uniform in milliseconds: SDL's clock since the start or the last
// reset, less the time spent paused. Unsigned arithmetic survives the wrap.
class Clock {
public:
    explicit Clock(Uint32 now) : origin(now) {}

    Uint32 elapsed(Uint32 now) const { return paused ? frozen : now - origin; }
    void toggle_pause(Uint32 now)
    {
        if (paused)
            origin = now - frozen;
        else
            frozen = now - origin;
        paused = !paused;
    }
    void reset(Uint32 now)
    {
        origin = now;
        frozen = 0;
    }

private:
    Uint32 origin;
    Uint32 frozen = 0;
    bool paused = false;
};

class Lab {
public:
    Lab(const std::string& vertex, const std::string& fragment, Uint32 now)
        : files(vertex + ", " + fragment),
          program(build(vertex, fragment)),
          clock(now),
          shown(program.program)
    {
        show_state();
    }

    bool handle_events(Uint32 now);
    void rebuild();
    void draw(Uint32 now);

private:
    const std::string files;  // "VERTEX, FRAGMENT", for the title and messages
    GLProgram2 program;
    Clock clock;
    float mouse[2] = {0, 0};
    GLuint shown;            // the program object drawn: a new one means a rebuild
    std::string last_error;  // empty while the last build is good

    static GLProgram2 build(const std::string& vertex, const std::string& fragment);
    void report(const std::string& message);
    void show_state();
    bool has_uniform(const char* name) const
    {
        return glGetUniformLocation(program.program, name) != -1;
    }
};

GLProgram2 Lab::build(const std::string& vertex, const std::string& fragment)
{
    try {
        return GLProgram2(vertex, fragment);
    } catch (const std::ios_base::failure&) {
        fail("cannot read " + std::string(kPrelude) + ", " + vertex + " or " + fragment);
    } catch (const std::exception& error) {
        fail(error.what());
    }
}

void Lab::show_state()
{
    const std::string title = "shaderlab: " + files + (last_error.empty() ? "" : " (error)");
    SDL_WM_SetCaption(title.c_str(), "shaderlab");
}

// A missing file fails every poll until it is back (an editor may remove it for
// an instant while saving): the same message is printed only once.
void Lab::report(const std::string& message)
{
    if (message == last_error)
        return;
    last_error = message;
    std::cerr << "shaderlab: " << message;
    if (message.empty() || message.back() != '\n')
        std::cerr << '\n';
    std::cerr.flush();
    show_state();
}

void Lab::rebuild()
{
    try {
        program.update();
    } catch (const std::ios_base::failure& error) {
        // A file that shrank while it was read: an editor still writing it.
        report("cannot read " + std::string(kPrelude) + ", " + files + ": " + error.what());
        return;
    } catch (const std::exception& error) {
        report(error.what());
        return;
    }
    // Every successful link swaps a new program object in.
    if (program.program == shown)
        return;
    shown = program.program;
    std::cerr << "shaderlab: rebuilt " << files << std::endl;
    if (!last_error.empty()) {
        last_error.clear();
        show_state();
    }
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
            if (key == SDLK_ESCAPE)
                running = false;
            else if (key == SDLK_SPACE)
                clock.toggle_pause(now);
            else if (key == SDLK_r)
                clock.reset(now);
        } else if (event.type == SDL_MOUSEMOTION) {
            // SDL counts rows from the top, the GL from the bottom.
            mouse[0] = static_cast<float>(event.motion.x);
            mouse[1] = static_cast<float>(kHeight - 1 - event.motion.y);
        }
    }
    return running;
}

void Lab::draw(Uint32 now)
{
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    // Not use(): it would poll the files again and swallow the error of an
    // edit saved since rebuild(), which would then never be reported.
    glUseProgram(program.program);
    if (has_uniform("time"))
        program.set_float("time", static_cast<float>(clock.elapsed(now)) / 1000.0f);
    if (has_uniform("resolution")) {
        const float resolution[2] = {kWidth, kHeight};
        program.set_vector2("resolution", resolution);
    }
    if (has_uniform("mouse"))
        program.set_vector2("mouse", mouse);
    glBegin(GL_QUADS);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    glVertex2f(1, 1);
    glVertex2f(-1, 1);
    glEnd();
    program.unuse();
}

void run(const std::string& vertex, const std::string& fragment)
{
    int swap_control = 0;
    SDL_GL_GetAttribute(SDL_GL_SWAP_CONTROL, &swap_control);
    // A driver may accept the interval and still not wait (a hidden window):
    // a floor of 1/240 s then keeps the loop from spinning. The real clock, not
    // SDL_GetTicks, so that a scripted clock paces nothing.
    const auto min_frame =
        std::chrono::microseconds(swap_control == 1 ? 1000000 / 240 : 1000000 / 60);

    Lab lab(vertex, fragment, SDL_GetTicks());
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
    std::string vertex = "shaders/plasma.vert";
    std::string fragment = "shaders/plasma.frag";
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 3) {
        vertex = argv[1];
        fragment = argv[2];
    } else if (argc != 1) {
        fail("expected no arguments or a vertex and a fragment file (shaderlab --help)");
    }
    for (const std::string& path : {std::string(kPrelude), vertex, fragment})
        check_readable(path);

    open_window();
    run(vertex, fragment);
    SDL_Quit();
    return 0;
}
