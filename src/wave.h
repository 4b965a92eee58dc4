// Self-animating wave lines in the world plane z = 0: sine segments whose
// spacing, height divisor, colour and width cycle one step per update, over a
// fixed band of 100 widening horizontal lines.
#pragma once

#include <cstdint>

class Wave {
public:
    float cursor;     // curve parameter of the segment being drawn
    float divisor;    // divides the height of each segment's second end
    float step;       // curve parameter from one segment to the next
    float lineWidth;  // GL line width of the curve, pixels
    float red;
    float green;
    float blue;
    bool redRising;
    bool greenRising;
    bool blueRising;
    bool growing;  // step/divisor cycle: true = grow, false = shrink
    bool lineWidthRising;
    int32_t floorCount;  // shrink-mode hits of the 0.1 floor in a row
    float phase;         // phase of the sine curve, radians

    Wave();
    ~Wave();

    void update();  // one animation step; no GL calls
    void render();  // writes only cursor
};
