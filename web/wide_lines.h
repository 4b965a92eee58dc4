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
#include <vector>

namespace widelines {

struct Vertex {
    float x, y, z, w;  // object coordinates, as given to glVertex4f
    float r, g, b, a;  // the colour current when the vertex was given
};

// mode: GL_LINES (pairs; an odd last vertex is ignored), GL_LINE_STRIP or
// GL_LINE_LOOP; other modes draw nothing. width: as given to glLineWidth.
void draw(GLenum mode, const Vertex* vertices, size_t count, float width);

// The whole pixels a line of `width` covers across its minor axis (1 to 255):
// draw() gives the same pixels for widths that agree here.
int pixel_width(float width);

// Line primitives held back to be drawn together: each segment's quad is drawn
// on its own, so one draw() of the segments of consecutive primitives of the
// same pixel width covers what their own draws would, in the same order, at a
// fraction of the calls. The caller flushes before anything that could draw or
// change the GL's state (matrices, blending, ...), as draw() takes the state
// in force when it runs.
class Pending {
public:
    // Holds the primitive's segments (mode and width as draw() takes them);
    // flushes first when its pixel width differs from those held.
    void add(GLenum mode, const Vertex* vertices, size_t count, float width);
    // Draws the held segments with one draw(); false when none were held. The
    // current colour is then the last segment's.
    bool flush();

private:
    std::vector<Vertex> segments;  // GL_LINES pairs
    std::vector<Vertex> drawing;   // the pairs being drawn (storage kept between flushes)
    int pixels = 0;
};

}  // namespace widelines
