// Radar sweep: an oscillating sweep with an eleven-line fading trail, and a
// target blip lit whenever the trail lies over the target's bearing.
#include "radar.h"

#include <GL/gl.h>

#include <cmath>

namespace {

// Degrees per radian as the radar has always reckoned them: 180 / 3.1415 in
// single precision, not 180 / pi. Bearings and detection depend on it.
constexpr float kDegreesPerRadian = 180.0f / 3.1415f;

// Angle from +y towards +x, folded into -90..90 degrees. The quotient is
// single, the arctangent and scaling double; y = 0 gives +-90.0027, not an error.
float bearing(float x, float y)
{
    return static_cast<float>(std::atan(static_cast<double>(x / y)) *
                              static_cast<double>(kDegreesPerRadian));
}

// Quadrants run clockwise from +y: 1 (+,+), 2 (+,-), 3 (-,-), 4 (-,+). A point
// on an axis has none, and `quadrant` keeps what it held.
void assign_quadrant(int32_t& quadrant, float x, float y)
{
    if (x > 0.0f && y > 0.0f)
        quadrant = 1;
    else if (x > 0.0f && y < 0.0f)
        quadrant = 2;
    else if (x < 0.0f && y < 0.0f)
        quadrant = 3;
    else if (x < 0.0f && y > 0.0f)
        quadrant = 4;
}

}  // namespace

Radar::Radar()
    : trailRed(0.0f),
      trailGreen(0.0f),
      trailBlue(0.0f),
      tipX(0.0f),
      tipY(100.0f),
      endAngle(0.0f),
      startAngle(0.0f),
      targetX(500.0f),
      targetY(128.0f),
      targetAngle(0.0f),
      blipBrightness(1.0f),
      tipQuadrant(1),
      targetQuadrant(1),
      trailOffset(0.0f),
      sweepForward(true),
      firstLine(true),
      sweep(10.0f)
{
}

Radar::~Radar() {}

void Radar::update()
{
    if (sweepForward) {
        if (sweep >= 1500.0f)
            sweepForward = false;
        else
            sweep += 0.1f;
    } else {
        if (sweep > 0.0f)
            sweep -= 0.05f;
        else
            sweepForward = true;
    }
    blipBrightness -= 0.15f;
}

void Radar::render()
{
    glDisable(GL_TEXTURE_2D);
    glLineWidth(2.0f);

    trailRed = 0.4f;
    trailGreen = 1.0f;
    trailBlue = 0.4f;
    trailOffset = 0.1f;
    // Re-armed every frame so that the quadrants and endAngle describe this
    // frame's trail, the one startAngle is taken from.
    firstLine = true;

    do {
        glColor3f(trailRed, trailGreen, trailBlue);
        glBegin(GL_LINES);
        glVertex2f(0.0f, 0.0f);

        const double theta = static_cast<double>((trailOffset + sweep) + 3.1415f);
        tipX = static_cast<float>(std::sin(theta) * 100.0);
        tipY = static_cast<float>(std::cos(theta) * 100.0);

        if (firstLine) {
            assign_quadrant(tipQuadrant, tipX, tipY);
            assign_quadrant(targetQuadrant, targetX, targetY);
            endAngle = bearing(tipX, tipY);
            firstLine = false;
        }

        glVertex2f(tipX, tipY);
        glEnd();

        trailRed -= 0.1f;
        trailGreen -= 0.1f;
        trailBlue -= 0.1f;
        // Stepped in double against a float offset: ten steps leave 3.5e-9, not
        // 0, so an eleventh line is drawn at the sweep itself.
        trailOffset = static_cast<float>(static_cast<double>(trailOffset) - 0.01);
    } while (trailOffset > 0.0f);

    startAngle = bearing(tipX, tipY);
    targetAngle = bearing(targetX, targetY);

    if (tipQuadrant == targetQuadrant && targetAngle < endAngle && targetAngle > startAngle)
        blipBrightness = 1.0f;

    glColor3f(blipBrightness, blipBrightness, blipBrightness);
    glPointSize(9.0f);
    glBegin(GL_POINTS);
    glVertex2f(targetX, targetY);
    glEnd();

    // Leaves texturing off, the line width at 2, the point size at 9 and the
    // current colour at the blip's grey.
}
