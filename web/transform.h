// The GL's vertex transform done on the CPU, for the web layer's own placing of
// lines and points: model-view-projection combined and applied in single
// precision, as the GL does, and the viewport transform to window coordinates
// with y growing downwards, as Mesa rasterises a window (the window's height
// taken as the viewport's top edge). What is placed goes back to the GL in
// normalized device coordinates, drawn through identity matrices.
#pragma once

#include <GL/gl.h>

#include <vector>

namespace transform {

struct Transform {
    float mvp[16];  // column-major, projection x modelview
    float scale_x, offset_x, scale_y, offset_y;
    GLint matrix_mode;  // the caller's, put back by draw()
};

// Reads the matrices, the viewport and the matrix mode back from the GL; false
// when the viewport is empty (nothing can be drawn).
bool read(Transform& t);

// A vertex in normalized device coordinates, with its colour.
struct Corner {
    float x, y, z;
    float r, g, b, a;
};

// Draws the corners as `mode` (nothing when there are none) through identity
// projection and modelview matrices, with the current state otherwise; leaves
// both matrices and the matrix mode as t found them.
void draw(const Transform& t, GLenum mode, const std::vector<Corner>& corners);

}  // namespace transform
