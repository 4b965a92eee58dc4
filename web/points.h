// Points on the pixels the desktop GL puts them on, for the web build. The
// starfield's 10,000 points land where their window coordinates fall, and a
// point whose centre lies near a pixel edge goes to one side or the other by
// the last bit of its transform: WebGL (its own matrix product, in the GPU) and
// Mesa pick differently for about one star in twenty.
//
// draw() transforms each point on the CPU as Mesa does (model-view-projection
// combined, then applied, in single precision), drops those whose centre lies
// outside the view volume, as the desktop GL does, picks the size x size pixels
// Mesa's rasteriser picks (the position snapped to 1/256 pixel; pixel centres
// right of the square's left edge and at or below its top edge, y growing
// downwards), and draws the point at the centre of those pixels, where no
// rasteriser can hesitate. Reads the matrices and the
// viewport back from the GL, draws GL_POINTS through identity matrices with the
// current point size and state, and leaves the matrices and matrix mode as it
// found them and the current colour at the last point's.
#pragma once

#include <GL/gl.h>

#include <cstddef>

#include "wide_lines.h"

namespace points {

// size: the point size in force (glPointSize), rounded to whole pixels, at least 1.
void draw(const widelines::Vertex* vertices, std::size_t count, float size);

}  // namespace points
