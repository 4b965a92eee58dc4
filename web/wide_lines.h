// Lines as the desktop GL draws them, for the web build: WebGL draws every line
// one pixel wide whatever glLineWidth says, and drops or misclips lines that
// cross the near plane. draw() rasterises lines the way Mesa's desktop drivers
// do, as screen-space quads made of two triangles each:
//
// - the vertices go through the current modelview and projection matrices and
//   are clipped against the near and far planes in clip space, before the divide
//   (a line may reach millions of units past the camera);
// - each segment widens along its minor axis, not perpendicular to itself: a
//   line of width w covers w pixels per column when mostly horizontal and w per
//   row when mostly vertical, so a 20-pixel line at 45 degrees is 20 pixels
//   across along both a row and a column;
// - the width is rounded to whole pixels (at least 1, at most 255) and the ends
//   follow the diamond-exit rule, so width 1 covers the pixels a thin line does;
// - colours are interpolated along the segment from its two vertices (a caller
//   that wants flat shading gives both the same colour);
// - the window is taken to end at the viewport's top edge (the demo's viewport
//   is the whole window), which fixes where pixel centres fall.
//
// The matrices and viewport are read back from the GL (glGetFloatv,
// glGetIntegerv); the call draws GL_TRIANGLES through identity matrices with the
// current blending, texturing and depth state, and leaves the matrices and the
// matrix mode as it found them. It leaves the current colour at the last
// vertex's, as the lines drawn with glColor would.
#pragma once

#include <GL/gl.h>

#include <cstddef>

namespace widelines {

struct Vertex {
    float x, y, z, w;  // object coordinates, as given to glVertex4f
    float r, g, b, a;  // the colour current when the vertex was given
};

// mode: GL_LINES (pairs; an odd last vertex is ignored), GL_LINE_STRIP or
// GL_LINE_LOOP; other modes draw nothing. width: as given to glLineWidth.
void draw(GLenum mode, const Vertex* vertices, size_t count, float width);

}  // namespace widelines
