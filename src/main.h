// The application object: platform set-up, the demo clock and the main loop's steps.
#pragma once

#include <cmath>

struct Vec3 {
    float x, y, z;  // world units
};

class Demo {
public:
    bool running;  // the main loop goes on while this is true
    float time;    // demo clock: seconds since SDL_Init, read once per frame

    Demo();
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    void start();
    void handleEvents();
    void update();
    void render();
};

// The one application object; the sprites read its clock for their pulse.
extern Demo demo;

// One iteration of the main loop: clock, events, camera, frame, buffer swap.
// main repeats it while demo.running; the web build (web/) runs it once per
// browser frame instead, since a browser page cannot be held in a loop.
void run_frame();

// The camera's eye for clock t: a Lissajous path around the origin. x uses the
// single-precision sine; y and z are worked in double and rounded when stored,
// which fixes where the eye passes next to the origin (near t = 5*pi).
inline Vec3 camera_eye(float t)
{
    return Vec3{20.0f * std::sin(t),
                static_cast<float>(20.0 * std::sin(0.6 * static_cast<double>(t))),
                static_cast<float>(20.0 * std::sin(0.2 * static_cast<double>(t)))};
}
