// The application shell: platform set-up, the scene's global objects, the main
// loop and the thirty-second timeline that decides what each frame shows.
#include "main.h"

#include <GL/glew.h>
#include <GL/glu.h>
#include <SDL.h>
#include <SDL_mixer.h>

#include <cstdio>
#include <cstdlib>
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
    if (message.rfind("File not found: ", 0) == 0)
        message += " (start the demo from the folder that holds its media)";
    fail(message);
}

}  // namespace

// Construction order matters: demo opens the window and its GL context, which
// the sprites need for their textures.
Demo demo;

namespace {

Mix_Music* music = nullptr;  // never freed: SDL_Quit and the exit reclaim it

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
    std::set_terminate(report_escaped_exception);

    // SDL 1.2 makes OpenGL windows only on X11; without a display it would
    // fall back to a text-mode driver that takes over the terminal.
    setenv("SDL_VIDEODRIVER", "x11", 0);

    // Audio, joystick or CD-ROM may be missing and fail SDL_Init as a whole;
    // only the video subsystem is essential.
    SDL_Init(SDL_INIT_EVERYTHING);
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        fail(std::string("cannot initialise SDL: ") + SDL_GetError() +
             " (is an X display running? see DISPLAY)");
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
