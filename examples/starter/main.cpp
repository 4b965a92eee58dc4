// The starter demo, ten seconds: our starfield and radar over a shader backdrop
// of its own. Copy this folder to begin a demo of yours (docs/making-a-demo.md):
// this unit is the shell and the timeline, backdrop.* the new effect, assets/
// the folder the demo runs in.
#include <GL/glew.h>
#include <GL/glu.h>
#include <SDL.h>
#include <SDL_mixer.h>
#include <sys/stat.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "backdrop.h"
#include "main.h"
#include "radar.h"
#include "stars.h"

namespace {

// The demo's name, at the head of its failure messages.
const char* const kName = "starter";

[[noreturn]] void fail(const std::string& message)
{
    std::cerr << kName << ": " << message << std::endl;
    SDL_Quit();
    std::_Exit(1);
}

// What a global throws while it is built (a shader that does not compile)
// escapes before main: say it in one line instead of the runtime's abort.
[[noreturn]] void report_escaped_exception()
{
    std::string message = "unexpected error";
    try {
        if (std::exception_ptr escaped = std::current_exception())
            std::rethrow_exception(escaped);
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
    }
    fail(message);
}

}  // namespace

// Built first: the window and its GL context, which the effects below need.
Demo demo;

namespace {

Vec3 eye = {0, 0, 0};
Backdrop backdrop;
Stars stars;
Radar radar;

}  // namespace

Demo::Demo()
{
    std::set_terminate(report_escaped_exception);
    // As the release demo: OpenGL windows only on X11, and under sdl12-compat
    // straight to the window (so frames match classic SDL's), one per refresh.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    setenv("SDL12COMPAT_OPENGL_SCALING", "0", 0);
    setenv("SDL12COMPAT_SYNC_TO_VBLANK", "1", 0);
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        fail(std::string("cannot initialise SDL: ") + SDL_GetError());
    if (!SDL_SetVideoMode(1280, 720, 32, SDL_OPENGL))
        fail(std::string("cannot open a 1280x720 OpenGL window: ") + SDL_GetError());
    if (glewInit() != GLEW_OK)
        fail("cannot load the OpenGL entry points (GLEW)");
    start();

    // Music is optional: put a music.mp3 beside the shaders to have some.
    struct stat info;
    if (stat("music.mp3", &info) == 0 && S_ISREG(info.st_mode) &&
        SDL_InitSubSystem(SDL_INIT_AUDIO) == 0 && Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 512) == 0)
        Mix_PlayMusic(Mix_LoadMUS("music.mp3"), 0);
}

Demo::~Demo()
{
    SDL_Quit();
}

void Demo::start()
{
    running = true;
    time = 0;
}

void Demo::handleEvents()
{
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT ||
            (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE))
            running = false;
}

void Demo::update()
{
    eye = camera_eye(time);
}

// The timeline. The draw order is the layer order (depth testing stays off):
// backdrop, starfield, radar.
void Demo::render()
{
    const float t = time;

    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(65.0, 1280.0 / 720.0, 0.1, 150.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(eye.x, eye.y, eye.z, 0, 0, 0, 0, 1, 0);
    // The starfield fades by its alpha: blending must be on (in our demo the
    // logo's sprite turns it on; here nothing else would).
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    // In over the first second, out over the last.
    backdrop.time = t;
    backdrop.brightness = t < 1 ? t : t > 9 ? 10 - t : 1;
    backdrop.render();

    if (t > 0 && t < 6) {
        stars.alpha = t < 2 ? t * 0.5f : t > 4 ? (6 - t) * 0.5f : 1;
        stars.render();
    }
    if (t > 4 && t < 10) {
        radar.update();
        radar.render();
    }

    if (t > 10)
        running = false;
}

void run_frame()
{
    demo.time = static_cast<float>(SDL_GetTicks()) * 0.001f;
    demo.handleEvents();
    demo.update();
    demo.render();
    SDL_GL_SwapBuffers();
}

int main()
{
    while (demo.running)
        run_frame();
    return 0;
}

#ifdef VORNA_DEV_PLAYER
// For the development player (dev/player.h): the timeline's windows, and what
// a frame leaves for the next, which it saves to seek. Only the radar: it
// steps once per frame, while the rest is set anew in every frame.
void dev::describe(dev::Timeline& timeline)
{
    timeline.windows = {0, 4, 6, 10};
    timeline.keep(radar);
}
#endif
