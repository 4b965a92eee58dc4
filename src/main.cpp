// The application shell: platform set-up, the scene's global objects, the main
// loop and the thirty-second timeline that decides what each frame shows.
#include "main.h"

#include <GL/glew.h>
#include <GL/glu.h>
#include <SDL.h>
#include <SDL_mixer.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "radar.h"
#include "sprite.h"
#include "stars.h"
#include "wave.h"

namespace {

// Ends the process before the first frame with one readable line: nothing can
// be drawn without SDL and its GL context, and a scene object that failed to
// load leaves no demo to play.
[[noreturn]] void fail(const std::string& message)
{
    std::cerr << "demo: " << message << std::endl;
    SDL_Quit();
    std::_Exit(1);
}

// The sprite says "File not found" for every image it could not load; only a
// missing one should send the user to look for the media folder. For the rest
// the image loader's reason is still SDL's error: nothing has run since.
std::string image_failure(const std::string& file)
{
    struct stat info;
    std::string reason;
    if (stat(file.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return "File not found: " + file +
                   " (start the demo from the folder that holds its media)";
        reason = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
    } else if (access(file.c_str(), R_OK) != 0) {
        reason = std::strerror(errno);
    } else if (*SDL_GetError()) {
        reason = SDL_GetError();
    } else {
        reason = "not an image this demo can decode";
    }
    return "cannot read " + file + ": " + reason;
}

// Opens /dev/null on whichever of standard input, output and error is closed,
// so that no later file or socket takes their numbers: with the X connection
// on descriptor 2, the progress lines would go to the X server and the demo
// would hang.
void open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number, which is fd: those below it are open.
        const int null = open("/dev/null", O_RDWR);
        if (null != -1 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

// The scene objects are globals, so what they throw while loading escapes
// before main and would otherwise end as the runtime's "terminate called"
// noise and a core dump.
[[noreturn]] void report_escaped_exception()
{
    std::string message = "unexpected error";
    if (std::exception_ptr escaped = std::current_exception()) {
        try {
            std::rethrow_exception(escaped);
        } catch (const std::string& text) {
            message = text;
        } catch (const char* text) {
            message = text;
        } catch (const std::exception& error) {
            message = error.what();
        } catch (...) {
        }
    }
    const std::string not_found = "File not found: ";
    if (message.rfind(not_found, 0) == 0)
        message = image_failure(message.substr(not_found.size()));
    fail(message);
}

}  // namespace

// Construction order matters: demo opens the window and its GL context, which
// the sprites need for their textures.
Demo demo;

namespace {

// Never freed: SDL_Quit and the exit reclaim it. Kept (used) although nothing
// reads it: the compiler would drop the store, and with no audio device to
// hold the track, the leak checker would then report it as lost.
[[gnu::used]] Mix_Music* music = nullptr;

Vec3 eye = {0, 0, 0};
Vec3 center = {0, 0, 0};
Stars stars;
Radar radar;
Sprite vornaLogo("vornalogo.png");
Sprite text1("text1.png");
Sprite text2("text2.png");
Wave wave;

}  // namespace

Demo::Demo()
{
    // First of all: the globals are built in this order, and SDL opens the X
    // connection below.
    open_standard_descriptors();
    std::set_terminate(report_escaped_exception);

    // SDL 1.2 makes OpenGL windows only on X11; without a display it would
    // fall back to a text-mode driver that takes over the terminal.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    // sdl12-compat (SDL 1.2 on SDL 2) would have us draw into a framebuffer
    // object that it scales onto the window at every swap. Our window never
    // changes size, so that only adds a copy per frame, rounds blends a level
    // apart and puts a point lying exactly between two pixel rows on the other
    // row; drawing straight to the window gives classic SDL's frames to the
    // byte. Classic SDL ignores the variable; a value set by the user stands.
    setenv("SDL12COMPAT_OPENGL_SCALING", "0", 0);
    // sdl12-compat also turns the wait for the vertical refresh off, where
    // classic SDL leaves the driver's default (on: one frame per refresh). The
    // wave and the radar step once per frame, so they would race.
    setenv("SDL12COMPAT_SYNC_TO_VBLANK", "1", 0);

    // Audio, joystick or CD-ROM may be missing and fail SDL_Init as a whole;
    // only the video subsystem is essential.
    SDL_Init(SDL_INIT_EVERYTHING);
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        // sdl12-compat (SDL 1.2 on SDL 2) undoes the whole call when any one
        // subsystem fails, video included, where classic SDL keeps what came
        // up; yet it counts them all as started until they are shut down.
        // Shut them down, then start them one by one, video first, so that
        // only video is fatal and its own reason is the one reported.
        SDL_QuitSubSystem(SDL_INIT_EVERYTHING);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0 || !SDL_WasInit(SDL_INIT_VIDEO)) {
            // The hint fits X11 alone: another driver asked for by name fails
            // for reasons of its own, which SDL's message gives.
            const bool x11 = std::strcmp(std::getenv("SDL_VIDEODRIVER"), "x11") == 0;
            fail(std::string("cannot initialise SDL: ") + SDL_GetError() +
                 (x11 ? " (is an X display running? see DISPLAY)" : ""));
        }
        const Uint32 others = SDL_INIT_EVERYTHING & ~SDL_INIT_VIDEO;
        for (Uint32 subsystem = 1; subsystem != 0 && subsystem <= others; subsystem <<= 1)
            if (others & subsystem)
                SDL_InitSubSystem(subsystem);
    }
    if (!SDL_SetVideoMode(1280, 720, 32, SDL_OPENGL))
        fail(std::string("cannot open a 1280x720 OpenGL window: ") + SDL_GetError());
    GLenum glew = glewInit();
    if (glew != GLEW_OK)
        fail(std::string("cannot load the OpenGL entry points (GLEW): ") +
             reinterpret_cast<const char*>(glewGetErrorString(glew)));

    start();

    // Without an audio device or the music file the demo plays in silence:
    // the mixer rejects a null track.
    Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 512);
    // Only a regular file goes to the mixer: a FIFO would block its open, and
    // a link to a device would have it decode without end.
    struct stat info;
    if (stat("biisi.mp3", &info) == 0 && S_ISREG(info.st_mode))
        music = Mix_LoadMUS("biisi.mp3");
    Mix_PlayMusic(music, 5);
    Mix_VolumeMusic(MIX_MAX_VOLUME);
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
    // Drain everything pending: clearing running does not stop the drain.
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)
            running = false;
        else if (event.type == SDL_QUIT)
            running = false;
    }
}

void Demo::update()
{
    eye = camera_eye(time);
}

void Demo::render()
{
    // Every bound is strict, so a clock exactly on a bound matches neither side.
    const float t = time;

    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(65.0, 1280.0 / 720.0, 0.1, 150.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(eye.x, eye.y, eye.z, center.x, center.y, center.z, 0, 1, 0);

    // The logo goes first with the alpha the previous frame left: it turns
    // blending on for everything after it, and its fades show a frame late.
    vornaLogo.x = 500;
    vornaLogo.y = 128;
    vornaLogo.render();

    if (t > 2 && t < 100) {
        const float a = (t - 2) * 0.5f;
        stars.alpha = a;
        vornaLogo.alpha = a;
    }
    if (t > 4) {
        stars.alpha = 1;
        vornaLogo.alpha = 1;
    }
    if (t > 6)
        stars.alpha = (t - 6) * -0.25f + 1;
    if (t > 10)
        stars.alpha = 0;

    if (t > 0 && t < 10)
        stars.render();
    if (t > 10 && t < 20) {
        wave.update();
        wave.render();
    }
    if (t > 20 && t < 25) {
        radar.update();
        radar.render();
    }

    if (t > 10 && t < 20) {
        text1.alpha = 1;
        text2.alpha = 0;
        vornaLogo.alpha = 0;
        text1.x = 650;
        text1.y = (t - 10) * 50;
        text1.render();
    }
    if (t > 20 && t < 30) {
        text1.alpha = 0;
        text2.alpha = 1;
        vornaLogo.alpha = 0;
        text2.x = 350;
        text2.y = (t - 20) * 50;
        text2.render();
    }

    if (t > 30)
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
// For the development player (dev/player.h): where the timeline's windows
// start, and every global that a frame changes, which it saves to seek.
void dev::describe(dev::Timeline& timeline)
{
    timeline.windows = {0, 10, 20, 25, 30};
    timeline.keep(stars.alpha, radar, wave, vornaLogo, text1, text2);
}
#endif
