// Wave lines: a sine row of short segments and a band of widening lines, all
// in one cycling colour, animated one fixed step per update (per frame).
#include "wave.h"

#include <GL/gl.h>

#include <cmath>

namespace {

// One ramp step: climb by `up` while below `top`, fall by `down` while above 0;
// the call that finds a bound reached only turns the direction.
void ramp(float& value, bool& rising, float up, float down, float top)
{
    if (rising) {
        if (value < top)
            value += up;
        else
            rising = false;
    } else {
        if (value > 0.0f)
            value -= down;
        else
            rising = true;
    }
}

}  // namespace

Wave::Wave()
    : cursor(1.0f),
      divisor(10.0f),
      step(2.0f),
      lineWidth(1.0f),
      red(0.0f),
      green(0.0f),
      blue(0.5f),
      redRising(false),
      greenRising(false),
      blueRising(true),
      growing(false),
      lineWidthRising(true),
      floorCount(0),
      phase(1.0f)
{
}

Wave::~Wave() {}

void Wave::update()
{
    phase += 0.5f;

    if (growing) {
        floorCount = 0;
        if (step >= 2.0f) {
            growing = false;
        } else {
            step += 0.01f;
            divisor += 0.1f;
        }
    } else if (step > 1.0f) {
        step -= 0.01f;
        divisor -= 0.1f;
    } else if (step > 0.01f) {
        step -= 0.01f;
        // Not strict: 0.1f - 0.01f is exactly 0.09f, so on the floor every
        // call is a hit and grow mode starts after 501 calls in a row.
        if (step <= 0.09f) {
            step = 0.1f;
            divisor += 0.1f;
            floorCount += 1;
            if (floorCount > 500)
                growing = true;
        }
    } else {
        growing = true;
    }

    ramp(red, redRising, 0.01f, 0.01f, 1.0f);
    ramp(green, greenRising, 0.02f, 0.02f, 1.0f);
    ramp(blue, blueRising, 0.01f, 0.09f, 1.0f);
    ramp(lineWidth, lineWidthRising, 10.0f, 10.0f, 40.0f);
}

void Wave::render()
{
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);

    // Out-of-range colours and widths go to the GL as they are; it refuses a
    // width of 0 or below and keeps the one in force.
    glLineWidth(lineWidth);
    glColor3f(red, green, blue);

    // The heights are worked in double and rounded once; with the divisor near
    // zero the second ends reach millions of units, and their rounding shows.
    cursor = -40.0f;
    do {
        glBegin(GL_LINES);
        const float s = cursor + phase;
        const float x = 4.0f * cursor;
        glVertex2f(x, static_cast<float>(std::sin(static_cast<double>(s)) * 20.0));
        glVertex2f(static_cast<float>(static_cast<double>(x) + 0.001),
                   static_cast<float>(std::sin(static_cast<double>(s) + 0.01) * 20.0 /
                                      static_cast<double>(divisor)));
        glEnd();
        cursor += step;
    } while (cursor < 40.0f);

    // The band's width is summed in double and rounded each time, which is why
    // the last pair ends just under 10.
    float width = 0.0f;
    for (int i = 50; i <= 99; ++i) {
        width = static_cast<float>(static_cast<double>(width) + 0.2);
        glLineWidth(width);
        const float y = static_cast<float>(i);
        glBegin(GL_LINES);
        glVertex2f(-300.0f, y);
        glVertex2f(300.0f, y);
        glVertex2f(-300.0f, -y);
        glVertex2f(300.0f, -y);
        glEnd();
    }

    // Leaves texturing, depth testing and lighting off, the line width at the
    // band's last (9.999995) and the current colour at the wave's.
}
