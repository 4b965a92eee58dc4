// Wide lines drawn as screen-space quads that cover the pixels Mesa's desktop
// rasteriser covers for the same lines (see wide_lines.h).
#include "wide_lines.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "transform.h"

namespace widelines {

namespace {

// A vertex in clip space. The GL transforms and clips in single precision, and
// a line's pixels follow its ends to the last bit, so this does the same.
struct Point {
    float x, y, z, w;
    float r, g, b, a;
};

Point mix(const Point& from, const Point& to, float t)
{
    auto lerp = [t](float p, float q) { return p + t * (q - p); };
    return Point{lerp(from.x, to.x), lerp(from.y, to.y), lerp(from.z, to.z), lerp(from.w, to.w),
                 lerp(from.r, to.r), lerp(from.g, to.g), lerp(from.b, to.b), lerp(from.a, to.a)};
}

// The view volume's six sides: a*x + b*y + c*z + d*w >= 0 is inside.
struct Plane {
    float a, b, c, d;
    float distance(const Point& v) const { return a * v.x + b * v.y + c * v.z + d * v.w; }
};
constexpr Plane kViewVolume[6] = {{1, 0, 0, 1},  {-1, 0, 0, 1}, {0, 1, 0, 1},
                                  {0, -1, 0, 1}, {0, 0, 1, 1},  {0, 0, -1, 1}};

// Cuts the segment p-q to the view volume. Both ends move along the original
// segment, as the GL's clipper moves them. False when nothing is left.
bool clip(Point& p, Point& q)
{
    float from_p = 0.0f;  // how far p moves towards q, as a share of the segment
    float from_q = 0.0f;
    for (const Plane& plane : kViewVolume) {
        const float dp = plane.distance(p);
        const float dq = plane.distance(q);
        if (!std::isfinite(dp) || !std::isfinite(dq) || (dp < 0.0f && dq < 0.0f))
            return false;
        if (dp < 0.0f)
            from_p = std::max(from_p, dp / (dp - dq));
        if (dq < 0.0f)
            from_q = std::max(from_q, dq / (dq - dp));
    }
    if (from_p + from_q >= 1.0f)
        return false;
    const Point original_p = p;
    if (from_p > 0.0f)
        p = mix(p, q, from_p);
    if (from_q > 0.0f)
        q = mix(q, original_p, from_q);
    return true;
}

// The quad of one segment in window coordinates with y growing downwards,
// the orientation Mesa rasterises a window in; corners a0 a1 at one end, b0
// b1 at the other.
struct Quad {
    float ax0, ay0, ax1, ay1, bx0, by0, bx1, by1;
};

bool non_negative(float v)
{
    return v >= 0.0f;
}

// Offset of a coordinate from the centre of the pixel that holds it, -0.5..0.5.
float from_centre(float v)
{
    return v - std::floor(v) - 0.5f;
}

float fraction(float v)
{
    return v - std::floor(v);
}

// On a window Mesa gives a pixel whose centre lies exactly on a horizontal edge
// to the primitive below the edge (y down); whether the quad of a mostly
// vertical line already covers an end pixel depends on it. Ends on pixel
// centres match Mesa's only with this rule.
constexpr bool kBottomEdgeRule = true;

// The quad that covers what a non-antialiased line of half_width from a to b
// covers: each end moves along the line, by under a pixel along the major axis,
// so that the pixel holding it is covered exactly when the diamond-exit rule,
// as Mesa applies it, counts that pixel; the sides lie half_width off along the
// minor axis.
Quad line_quad(float ax, float ay, float bx, float by, float half_width)
{
    const float dx = ax - bx;
    const float dy = ay - by;
    float a_x = from_centre(ax), a_y = from_centre(ay);
    float b_x = from_centre(bx), b_y = from_centre(by);
    float shift_a = 0.0f;
    float shift_b = 0.0f;

    if (std::fabs(dx) >= std::fabs(dy)) {
        const float slope = dy / dx;
        if (b_y == -0.5f && dy < 0.0f)
            b_y = 0.5f;
        const bool a_in_diamond = std::fabs(a_x) + std::fabs(a_y) < 0.5f;
        const bool b_in_diamond = std::fabs(b_x) + std::fabs(b_y) < 0.5f;
        auto crosses_row = [](float t) { return t > 0.0f && t < 1.0f; };
        const bool draw_a =
            a_in_diamond ||
            (non_negative(a_x) != non_negative(-dx) &&
             (non_negative(-a_y) != non_negative(dy) || crosses_row(fraction(ay) + a_x * slope)));
        const bool draw_b =
            !b_in_diamond && non_negative(b_x) == non_negative(-dx) &&
            (non_negative(-b_y) == non_negative(dy) || crosses_row(fraction(by) + b_x * slope));
        // Which end pixels the bare quad covers, by where the ends lie against
        // their pixel centres; a mismatch moves that end.
        const float toward = dx < 0.0f ? -0.5f : 0.5f;
        const bool quad_has_a = dx < 0.0f ? a_x <= 0.0f : a_x > 0.0f;
        const bool quad_has_b = dx < 0.0f ? b_x > 0.0f : b_x <= 0.0f;
        if (quad_has_a != draw_a)
            shift_a = -a_x + toward;
        if (quad_has_b != draw_b)
            shift_b = -b_x + toward;
        const float a0x = ax + shift_a, a0y = ay + shift_a * slope;
        const float b0x = bx + shift_b, b0y = by + shift_b * slope;
        return Quad{a0x, a0y - half_width, a0x, a0y + half_width,
                    b0x, b0y - half_width, b0x, b0y + half_width};
    }

    const float slope = dx / dy;
    if (b_x == -0.5f && dx < 0.0f)
        b_x = 0.5f;
    const bool a_in_diamond = std::fabs(a_x) + std::fabs(a_y) < 0.5f;
    const bool b_in_diamond = std::fabs(b_x) + std::fabs(b_y) < 0.5f;
    const float a_cross = fraction(ax) + a_y * slope;
    const float b_cross = fraction(bx) + b_y * slope;
    const bool draw_a =
        a_in_diamond ||
        (non_negative(-a_y) != non_negative(dy) &&
         (non_negative(a_x) != non_negative(-dx) || (a_cross > 0.0f && a_cross < 1.0f)));
    const bool draw_b =
        !b_in_diamond && non_negative(-b_y) == non_negative(dy) &&
        (non_negative(b_x) == non_negative(-dx) || (b_cross >= 0.0f && b_cross < 1.0f));
    const float toward = dy > 0.0f ? 0.5f : -0.5f;
    bool quad_has_a, quad_has_b;
    if (dy > 0.0f) {
        quad_has_a = kBottomEdgeRule ? a_y >= 0.0f : a_y > 0.0f;
        quad_has_b = kBottomEdgeRule ? b_y < 0.0f : b_y <= 0.0f;
    } else {
        quad_has_a = kBottomEdgeRule ? a_y < 0.0f : a_y <= 0.0f;
        quad_has_b = kBottomEdgeRule ? b_y >= 0.0f : b_y > 0.0f;
    }
    if (quad_has_a != draw_a)
        shift_a = -a_y + toward;
    if (quad_has_b != draw_b)
        shift_b = -b_y + toward;
    const float a0x = ax + shift_a * slope, a0y = ay + shift_a;
    const float b0x = bx + shift_b * slope, b0y = by + shift_b;
    return Quad{a0x - half_width, a0y, a0x + half_width, a0y,
                b0x - half_width, b0y, b0x + half_width, b0y};
}

float half_width_of(float width)
{
    return static_cast<float>(pixel_width(width)) * 0.5f;
}

using transform::Corner;

// Collects the triangles of every segment. The storage is kept from call to
// call: the wave alone makes hundreds of calls a frame.
class Batch {
public:
    Batch(const transform::Transform& transform, float width, std::vector<Corner>& out)
        : t(transform), half_width(half_width_of(width)), corners(out)
    {
        corners.clear();
    }

    void add(const Vertex& from, const Vertex& to)
    {
        Point p = to_clip(from);
        Point q = to_clip(to);
        // Clipped before the divide: an end behind the eye would come out of
        // the divide mirrored.
        if (!clip(p, q) || !(p.w > 0.0f) || !(q.w > 0.0f))
            return;
        float ax, ay, bx, by;
        to_window(p, ax, ay);
        to_window(q, bx, by);
        if (ax == bx && ay == by)
            return;
        const Quad quad = line_quad(ax, ay, bx, by, half_width);
        const Corner a0 = corner(quad.ax0, quad.ay0, p), a1 = corner(quad.ax1, quad.ay1, p);
        const Corner b0 = corner(quad.bx0, quad.by0, q), b1 = corner(quad.bx1, quad.by1, q);
        corners.insert(corners.end(), {a0, b0, b1, a0, b1, a1});
    }

    // Draws the triangles through identity matrices.
    void draw() const { transform::draw(t, GL_TRIANGLES, corners); }

private:
    Point to_clip(const Vertex& v) const
    {
        const float* const mvp = t.mvp;
        auto row = [&](int r) {
            return mvp[r] * v.x + mvp[4 + r] * v.y + mvp[8 + r] * v.z + mvp[12 + r] * v.w;
        };
        return Point{row(0), row(1), row(2), row(3), v.r, v.g, v.b, v.a};
    }

    void to_window(const Point& v, float& x, float& y) const
    {
        const float reciprocal = 1.0f / v.w;
        x = v.x * reciprocal * t.scale_x + t.offset_x;
        y = v.y * reciprocal * t.scale_y + t.offset_y;
    }

    // A quad corner back in normalized device coordinates, with the depth and
    // colour of the segment's end it belongs to. Colours go along the line
    // linearly in window space, as the GL interpolates them along a line. An end
    // clipped at the near or far plane can divide out a hair beyond -1 or 1, and
    // the GL would then cut the quad's triangles there: the depth is clamped.
    Corner corner(float x, float y, const Point& end) const
    {
        return Corner{(x - t.offset_x) / t.scale_x,
                      (y - t.offset_y) / t.scale_y,
                      std::min(1.0f, std::max(-1.0f, end.z / end.w)),
                      end.r,
                      end.g,
                      end.b,
                      end.a};
    }

    const transform::Transform& t;
    float half_width;
    std::vector<Corner>& corners;
};

}  // namespace

// The GL rounds a non-antialiased line's width to whole pixels, at least one;
// Mesa's software rasteriser allows up to 255.
int pixel_width(float width)
{
    if (!(width >= 1.0f))
        width = 1.0f;
    width = std::min(width, 255.0f);
    return static_cast<int>(width + 0.5f);
}

void draw(GLenum mode, const Vertex* vertices, size_t count, float width)
{
    if (count < 2 || (mode != GL_LINES && mode != GL_LINE_STRIP && mode != GL_LINE_LOOP))
        return;

    transform::Transform t;
    if (!transform::read(t))
        return;

    static std::vector<Corner> corners;
    Batch batch(t, width, corners);
    if (mode == GL_LINES) {
        for (size_t i = 0; i + 1 < count; i += 2)
            batch.add(vertices[i], vertices[i + 1]);
    } else {
        for (size_t i = 0; i + 1 < count; ++i)
            batch.add(vertices[i], vertices[i + 1]);
        if (mode == GL_LINE_LOOP)
            batch.add(vertices[count - 1], vertices[0]);
    }

    batch.draw();

    const Vertex& last = vertices[count - 1];
    glColor4f(last.r, last.g, last.b, last.a);
}

void Pending::add(GLenum mode, const Vertex* vertices, size_t count, float width)
{
    if (count < 2 || (mode != GL_LINES && mode != GL_LINE_STRIP && mode != GL_LINE_LOOP))
        return;
    const int width_pixels = pixel_width(width);
    if (width_pixels != pixels)
        flush();
    pixels = width_pixels;
    if (mode == GL_LINES) {
        segments.insert(segments.end(), vertices, vertices + (count & ~size_t{1}));
        return;
    }
    for (size_t i = 0; i + 1 < count; ++i) {
        segments.push_back(vertices[i]);
        segments.push_back(vertices[i + 1]);
    }
    if (mode == GL_LINE_LOOP) {
        segments.push_back(vertices[count - 1]);
        segments.push_back(vertices[0]);
    }
}

bool Pending::flush()
{
    if (segments.empty())
        return false;
    // Emptied first: a caller that hooks glBegin may flush again from inside draw().
    drawing.swap(segments);
    draw(GL_LINES, drawing.data(), drawing.size(), static_cast<float>(pixels));
    drawing.clear();
    return true;
}

}  // namespace widelines
