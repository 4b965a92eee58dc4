// The effects read the demo clock from the application object, so the tests
// supply one: it opens the demo's 1280x720 OpenGL window without music.
#include "gl_window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "main.h"

namespace {

// A loaded virtual X server now and then refuses a connection (EAGAIN while
// its listen queue is full); a test should not fail for that. No parachute:
// a crash should end the test at once, not hang in SDL's signal handler.
bool open_window()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) == 0) {
            if (SDL_SetVideoMode(1280, 720, 32, SDL_OPENGL))
                return true;
            SDL_Quit();
        }
        SDL_Delay(200);
    }
    return false;
}

}  // namespace

Demo::Demo()
{
    if (!open_window()) {
        std::fprintf(stderr,
                     "tests: cannot open a 1280x720 OpenGL window: %s "
                     "(run the tests under xvfb-run)\n",
                     SDL_GetError());
        std::exit(1);
    }
    if (glewInit() != GLEW_OK) {
        std::fprintf(stderr, "tests: glewInit failed\n");
        std::exit(1);
    }
    start();
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

Demo demo;

namespace {

// Finishes the GL's work before the process exits: closing the context later,
// with the software renderer's compiler already torn down by the exit, can
// crash while it flushes what a case left unfinished.
class FinishGLWork : public ::testing::Environment {
public:
    void TearDown() override { glFinish(); }
};

const auto* const finish_gl_work = ::testing::AddGlobalTestEnvironment(new FinishGLWork);

}  // namespace

std::vector<uint8_t> read_back_buffer()
{
    std::vector<uint8_t> frame(1280 * 720 * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, 1280, 720, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}

Rgba pixel_at(const std::vector<uint8_t>& frame, int x, int y)
{
    const uint8_t* p = &frame[(static_cast<size_t>(y) * 1280 + x) * 4];
    return Rgba{p[0], p[1], p[2], p[3]};
}

float get_float(GLenum name)
{
    GLfloat value = 0;
    glGetFloatv(name, &value);
    return value;
}

int get_int(GLenum name)
{
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

bool is_enabled(GLenum capability)
{
    return glIsEnabled(capability) == GL_TRUE;
}
