// A radar sweep in the world plane z = 0: a fading trail of eleven lines behind
// a turning tip, and a target blip lit when the trail passes over its bearing.
#pragma once

#include <cstdint>

class Radar {
public:
    float trailRed;  // colour of the trail line being drawn
    float trailGreen;
    float trailBlue;
    float tipX;  // outer end of the last trail line, world units
    float tipY;
    float endAngle;    // bearing of the leading trail line, degrees
    float startAngle;  // bearing of the trailing trail line, degrees
    float targetX;     // the target, world units; never moves
    float targetY;
    float targetAngle;       // bearing of the target, degrees
    float blipBrightness;    // grey level of the target point; no lower bound
    int32_t tipQuadrant;     // quadrant of the leading line's tip
    int32_t targetQuadrant;  // quadrant of the target
    float trailOffset;       // radians by which the line being drawn leads sweep
    bool sweepForward;       // direction of the sweep's oscillation
    bool firstLine;          // the next line drawn works out quadrants and endAngle
    float sweep;             // sweep angle, radians

    Radar();
    ~Radar();

    void update();  // one step of the sweep; fades the blip
    void render();
};
