// A plain Xlib and GLX program for the capture tests (kinds.h), on
// gettimeofday: it ends when the window manager asks it to close the window.
// Paced: sleep, nap or spin. With "helper" it first waits for a thread of its
// own to start, by naps it counts rather than by the clock (as libjack does),
// and fails when the thread has not started after a hundred of them.
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "kinds.h"
#include "tone.h"

namespace {

timeval start;

double seconds()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_usec - start.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    const kinds::Pace pace = kinds::pace_of(argc, argv);
    Display* display = XOpenDisplay(nullptr);
    int attributes[] = {
        GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, None};
    XVisualInfo* visual =
        display ? glXChooseVisual(display, DefaultScreen(display), attributes) : nullptr;
    if (!visual) {
        std::fprintf(stderr, "kind_glx: no X display or no GLX visual\n");
        return 1;
    }
    const Window root = RootWindow(display, visual->screen);
    XSetWindowAttributes settings{};
    settings.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    const Window window =
        XCreateWindow(display, root, 0, 0, kinds::kWidth, kinds::kHeight, 0, visual->depth,
                      InputOutput, visual->visual, CWColormap, &settings);
    Atom close = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &close, 1);
    XMapWindow(display, window);
    GLXContext context = glXCreateContext(display, visual, nullptr, True);
    glXMakeCurrent(display, window, context);

    if (argc > 1 && std::strcmp(argv[1], "helper") == 0) {
        std::atomic<bool> started{false};
        std::thread helper([&started] {
            usleep(20000);
            started = true;
        });
        for (int naps = 0; !started && naps < 100; ++naps)
            usleep(1000);
        const bool in_time = started;
        helper.join();
        if (!in_time) {
            std::fprintf(stderr, "kind_glx: the helper thread did not start in 100 naps\n");
            return 1;
        }
    }
    gettimeofday(&start, nullptr);
    unsigned picture = 0;
    for (bool open = true; open;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            open = !(event.type == ClientMessage &&
                     static_cast<Atom>(event.xclient.data.l[0]) == close);
        }
        const unsigned colour =
            kinds::next_colour(pace, seconds, picture, [](kinds::Pace how, double left) {
                if (how == kinds::Pace::sleep)
                    usleep(static_cast<useconds_t>(left * 1e6));
                else if (how == kinds::Pace::nap)
                    usleep(1000);
            });
        glClearColor(tone::red(colour) / 255.0f, tone::kGreen / 255.0f, tone::kBlue / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glXSwapBuffers(display, window);
    }
    glXMakeCurrent(display, None, nullptr);
    glXDestroyContext(display, context);
    XCloseDisplay(display);
    return 0;
}
