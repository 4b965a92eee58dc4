// Points placed on the desktop GL's pixels (see points.h).
#include "points.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "transform.h"

namespace points {

void draw(const widelines::Vertex* vertices, std::size_t count, float size)
{
    if (count == 0)
        return;
    transform::Transform t;
    if (!transform::read(t))
        return;
    const float* const mvp = t.mvp;
    const float pixels = std::max(1.0f, std::floor(size + 0.5f));
    const float half = pixels * 0.5f;

    static std::vector<transform::Corner> placed;  // kept between calls: the starfield draws 10,000
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
        const float wx = x * reciprocal * t.scale_x + t.offset_x;
        const float wy = y * reciprocal * t.scale_y + t.offset_y;
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
        placed.push_back(
            transform::Corner{(cx - t.offset_x) / t.scale_x, (cy - t.offset_y) / t.scale_y,
                              std::min(1.0f, std::max(-1.0f, z * reciprocal)), v.r, v.g, v.b, v.a});
    }

    transform::draw(t, GL_POINTS, placed);

    const widelines::Vertex& last = vertices[count - 1];
    glColor4f(last.r, last.g, last.b, last.a);
}

}  // namespace points
