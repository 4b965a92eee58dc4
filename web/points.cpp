// Points placed on the desktop GL's pixels (see points.h).
#include "points.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace points {

namespace {

struct Corner {
    float x, y, z;  // normalized device coordinates
    float r, g, b, a;
};

}  // namespace

void draw(const widelines::Vertex* vertices, std::size_t count, float size)
{
    if (count == 0)
        return;
    GLfloat modelview[16], projection[16];
    GLint box[4];
    GLint matrix_mode = GL_MODELVIEW;
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, box);
    glGetIntegerv(GL_MATRIX_MODE, &matrix_mode);
    if (box[2] <= 0 || box[3] <= 0)
        return;

    // Model-view-projection in single precision, as the GL combines them.
    float mvp[16];
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            mvp[column * 4 + row] = projection[row] * modelview[column * 4] +
                                    projection[4 + row] * modelview[column * 4 + 1] +
                                    projection[8 + row] * modelview[column * 4 + 2] +
                                    projection[12 + row] * modelview[column * 4 + 3];
    const float scale_x = box[2] * 0.5f, offset_x = box[0] + box[2] * 0.5f;
    // Window y grows downwards here, as Mesa rasterises a window.
    const float scale_y = box[3] * -0.5f, offset_y = box[3] * 0.5f;
    const float pixels = std::max(1.0f, std::floor(size + 0.5f));
    const float half = pixels * 0.5f;

    static std::vector<Corner> placed;  // kept between calls: the starfield draws 10,000
    placed.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const widelines::Vertex& v = vertices[i];
        auto row = [&](int r) {
            return mvp[r] * v.x + mvp[4 + r] * v.y + mvp[8 + r] * v.z + mvp[12 + r] * v.w;
        };
        const float x = row(0), y = row(1), z = row(2), w = row(3);
        if (!(w > 0.0f) || !(std::fabs(x) <= w) || !(std::fabs(y) <= w) || !(std::fabs(z) <= w))
            continue;
        const float reciprocal = 1.0f / w;
        const float wx = x * reciprocal * scale_x + offset_x;
        const float wy = y * reciprocal * scale_y + offset_y;
        // Mesa snaps the position, less half a pixel, to 1/256 pixel and takes
        // the pixels whose centres lie in the square around it: right of its
        // left edge, at or below its top edge (measured against the desktop's
        // frames). Then the centre of that square of pixels.
        const long fixed_width = std::max(256L, std::lrint(pixels * 256.0f));
        const long x0 = std::lrint((wx - 0.5f) * 256.0f) - fixed_width / 2;
        const long y0 = std::lrint((wy - 0.5f) * 256.0f) - fixed_width / 2;
        const float left = static_cast<float>((x0 >> 8) + 1);
        const float top = static_cast<float>((y0 + 255) >> 8);
        const float cx = left + half, cy = top + half;
        placed.push_back(Corner{(cx - offset_x) / scale_x, (cy - offset_y) / scale_y,
                                std::min(1.0f, std::max(-1.0f, z * reciprocal)), v.r, v.g, v.b,
                                v.a});
    }

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    if (!placed.empty()) {
        glBegin(GL_POINTS);
        for (const Corner& c : placed) {
            glColor4f(c.r, c.g, c.b, c.a);
            glVertex3f(c.x, c.y, c.z);
        }
        glEnd();
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(matrix_mode));

    const widelines::Vertex& last = vertices[count - 1];
    glColor4f(last.r, last.g, last.b, last.a);
}

}  // namespace points
