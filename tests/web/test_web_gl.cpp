// The web build's GL stand-ins held to the desktop's on Mesa: GLU's look-at,
// perspective and mipmaps bit for bit, and wide lines pixel by pixel against
// Mesa's own lines, alone and in the wave's and the radar's frames.
#include <GL/glew.h>
#include <GL/glu.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "glu.h"
#include "main.h"
#include "radar.h"
#include "gl_window.h"
#include "wave.h"
#include "wide_lines.h"

// ---- the effects' lines routed through widelines (link-time wraps) -------

extern "C" {
void __real_glBegin(GLenum mode);
void __real_glEnd();
void __real_glVertex2f(GLfloat x, GLfloat y);
void __real_glColor3f(GLfloat r, GLfloat g, GLfloat b);
void __real_glLineWidth(GLfloat width);
}

namespace {

bool route_lines = false;  // while set, line batches go to widelines::draw
bool hold_lines = false;   // with route_lines: held in `pending`, as the web build does
widelines::Pending pending;
bool capturing = false;
GLenum captured_mode = GL_LINES;
std::vector<widelines::Vertex> captured;
float colour[4] = {1, 1, 1, 1};
float line_width = 1;

// The held lines drawn, and the colour given since put back.
void flush_held_lines()
{
    if (pending.flush())
        glColor4fv(colour);
}

}  // namespace

extern "C" void __wrap_glBegin(GLenum mode)
{
    capturing = route_lines && (mode == GL_LINES || mode == GL_LINE_STRIP || mode == GL_LINE_LOOP);
    captured_mode = mode;
    captured.clear();
    if (!capturing) {
        flush_held_lines();
        __real_glBegin(mode);
    }
}

extern "C" void __wrap_glEnd()
{
    if (!capturing) {
        __real_glEnd();
        return;
    }
    capturing = false;
    // widelines' own glBegin comes back through these wraps: a copy.
    const GLenum mode = captured_mode;
    const std::vector<widelines::Vertex> lines = captured;
    if (hold_lines)
        pending.add(mode, lines.data(), lines.size(), line_width);
    else
        widelines::draw(mode, lines.data(), lines.size(), line_width);
}

extern "C" void __wrap_glVertex2f(GLfloat x, GLfloat y)
{
    if (capturing)
        captured.push_back({x, y, 0, 1, colour[0], colour[1], colour[2], colour[3]});
    else
        __real_glVertex2f(x, y);
}

extern "C" void __wrap_glColor3f(GLfloat r, GLfloat g, GLfloat b)
{
    colour[0] = r, colour[1] = g, colour[2] = b, colour[3] = 1;
    __real_glColor3f(r, g, b);
}

extern "C" void __wrap_glLineWidth(GLfloat width)
{
    if (width > 0)  // the GL refuses 0 and below and keeps the width in force
        line_width = width;
    __real_glLineWidth(width);
}

namespace {

std::vector<double> current_matrix(GLenum which)
{
    std::vector<double> m(16);
    glGetDoublev(which, m.data());
    return m;
}

// A start matrix with no zero, unit or repeated entry, so that every product
// term shows in the result.
const double kStart[16] = {0.9,  -0.31, 0.27, 0.013, 0.4, 1.7,  -0.22, -0.041,
                           -0.6, 0.19,  1.3,  0.027, 2.5, -3.5, 7.25,  1.1};
const double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// ---- pixels --------------------------------------------------------------

template <typename Draw>
std::vector<uint8_t> frame_of(Draw draw)
{
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    draw();
    return read_back_buffer();
}

struct Difference {
    int differing = 0;   // pixels drawn by one and not the other, or off by more than 1
    int covered = 0;     // pixels the reference drew (not black)
    int off_by_one = 0;  // pixels drawn by both whose colours differ by 1 in a channel
};

// The two rasterisers round a colour such as 0.3 (76.5 of 255) to either side,
// so colours may differ by one step; anything more counts as a difference.
Difference compare(const std::vector<uint8_t>& reference, const std::vector<uint8_t>& ours)
{
    Difference d;
    for (size_t i = 0; i < reference.size(); i += 4) {
        const bool drawn = reference[i] || reference[i + 1] || reference[i + 2];
        const bool drawn_by_us = ours[i] || ours[i + 1] || ours[i + 2];
        int step = 0;
        for (size_t c = i; c < i + 3; ++c)
            step = std::max(step, std::abs(reference[c] - ours[c]));
        d.covered += drawn;
        if (drawn != drawn_by_us || step > 1)
            ++d.differing;
        else if (step == 1)
            ++d.off_by_one;
    }
    return d;
}

int run_length(const std::vector<uint8_t>& frame, int x, int y, int step_x, int step_y)
{
    int count = 0;
    for (; x >= 0 && x < 1280 && y >= 0 && y < 720; x += step_x, y += step_y)
        count += pixel_at(frame, x, y).r != 0;
    return count;
}

void overlay_camera()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, 1280.0, 0.0, 720.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void world_camera(Vec3 eye)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(65.0, 1280.0 / 720.0, 0.1, 150.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(eye.x, eye.y, eye.z, 0, 0, 0, 0, 1, 0);
}

// The same lines drawn by the GL and by widelines, in the current camera.
Difference lines_both_ways(GLenum mode, const std::vector<widelines::Vertex>& vertices, float width,
                           std::vector<uint8_t>* gl_frame = nullptr,
                           std::vector<uint8_t>* our_frame = nullptr)
{
    const auto reference = frame_of([&] {
        glLineWidth(width);
        glBegin(mode);
        for (const widelines::Vertex& v : vertices) {
            glColor4f(v.r, v.g, v.b, v.a);
            glVertex4f(v.x, v.y, v.z, v.w);
        }
        glEnd();
    });
    const auto ours =
        frame_of([&] { widelines::draw(mode, vertices.data(), vertices.size(), width); });
    if (gl_frame)
        *gl_frame = reference;
    if (our_frame)
        *our_frame = ours;
    return compare(reference, ours);
}

widelines::Vertex at(float x, float y, float z = 0.0f)
{
    return {x, y, z, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
}

}  // namespace

// ---- GLU ------------------------------------------------------------------

TEST(WebGlu, look_at_and_perspective_give_glus_matrices_bit_for_bit)
{
    struct LookAt {
        double eye[3], center[3], up[3];
    };
    std::vector<LookAt> looks;
    for (float t : {0.5f, 3.0f, 12.0f, 15.708001f, 22.012f, 29.9f}) {
        const Vec3 eye = camera_eye(t);
        looks.push_back({{eye.x, eye.y, eye.z}, {0, 0, 0}, {0, 1, 0}});
    }
    looks.push_back({{1e3, -2e2, 5}, {0.5, 0.25, -3}, {0.3, 2, -1}});  // up not unit
    looks.push_back({{0, 5, 0}, {0, 0, 0}, {0, 1, 0}});                // up along the view
    looks.push_back({{1, 2, 3}, {1, 2, 3}, {0, 1, 0}});                // eye on the centre

    struct Perspective {
        double fovy, aspect, zNear, zFar;
    };
    const Perspective perspectives[] = {
        {65.0, 1280.0 / 720.0, 0.1, 150.0},
        {90, 1, 1, 100},
        {30, 0.5, 0.01, 1e6},
        {170, 2.5, 3, 4},
        {0, 1, 1, 10},
        {60, 0, 1, 10},
        {60, 1, 5, 5},  // last three: no change
    };

    for (const double* start : {kIdentity, kStart}) {
        glMatrixMode(GL_MODELVIEW);
        for (const LookAt& l : looks) {
            SCOPED_TRACE(l.eye[0]);
            glLoadMatrixd(start);
            gluLookAt(l.eye[0], l.eye[1], l.eye[2], l.center[0], l.center[1], l.center[2], l.up[0],
                      l.up[1], l.up[2]);
            const auto expected = current_matrix(GL_MODELVIEW_MATRIX);
            glLoadMatrixd(start);
            webglu::look_at(l.eye[0], l.eye[1], l.eye[2], l.center[0], l.center[1], l.center[2],
                            l.up[0], l.up[1], l.up[2]);
            EXPECT_EQ(current_matrix(GL_MODELVIEW_MATRIX), expected);
        }
        glMatrixMode(GL_PROJECTION);
        for (const Perspective& p : perspectives) {
            SCOPED_TRACE(p.fovy);
            glLoadMatrixd(start);
            gluPerspective(p.fovy, p.aspect, p.zNear, p.zFar);
            const auto expected = current_matrix(GL_PROJECTION_MATRIX);
            glLoadMatrixd(start);
            webglu::perspective(p.fovy, p.aspect, p.zNear, p.zFar);
            EXPECT_EQ(current_matrix(GL_PROJECTION_MATRIX), expected);
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

namespace {

struct Image {
    int width, height;
    GLenum format;
    std::vector<uint8_t> texels;  // rows packed tight
};

int components(GLenum format)
{
    return format == GL_RGBA ? 4 : format == GL_RGB ? 3 : format == GL_LUMINANCE_ALPHA ? 2 : 1;
}

Image pattern(int width, int height, GLenum format, unsigned seed)
{
    Image image{width, height, format, {}};
    image.texels.resize(static_cast<size_t>(width) * height * components(format));
    for (uint8_t& t : image.texels) {
        seed = seed * 1103515245u + 12345u;
        t = static_cast<uint8_t>(seed >> 23);
    }
    return image;
}

// Every level of the texture bound to GL_TEXTURE_2D, read back tight.
std::vector<std::vector<uint8_t>> levels_of(GLenum format)
{
    std::vector<std::vector<uint8_t>> levels;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (GLint level = 0;; ++level) {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        if (w == 0 || h == 0)
            return levels;
        levels.emplace_back(static_cast<size_t>(w) * h * components(format));
        glGetTexImage(GL_TEXTURE_2D, level, format, GL_UNSIGNED_BYTE, levels.back().data());
    }
}

// The mipmap chain that build() leaves in a fresh texture.
template <typename Build>
std::vector<std::vector<uint8_t>> chain(GLenum format, Build build)
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    build();
    auto levels = levels_of(format);
    glDeleteTextures(1, &texture);
    return levels;
}

// Rows padded to `alignment` bytes, as a caller with that unpack alignment lays them out.
std::vector<uint8_t> padded(const Image& image, int alignment)
{
    const size_t row = static_cast<size_t>(image.width) * components(image.format);
    const size_t stride = (row + alignment - 1) / alignment * alignment;
    std::vector<uint8_t> out(stride * image.height, 0xEE);
    for (int y = 0; y < image.height; ++y)
        std::copy_n(&image.texels[y * row], row, &out[y * stride]);
    return out;
}

}  // namespace

TEST(WebGlu, mipmaps_equal_glus_for_the_demos_images_and_other_sizes)
{
    std::vector<Image> images;
    for (const char* name : {"vornalogo.png", "text1.png", "text2.png"}) {
        const std::string path = std::string(std::getenv("VORNA_ASSETS")) + "/" + name;
        SDL_Surface* surface = IMG_Load(path.c_str());
        ASSERT_NE(surface, nullptr) << path;
        const int bytes = surface->format->BytesPerPixel;
        Image image{surface->w, surface->h, GLenum(bytes == 4 ? GL_RGBA : GL_RGB), {}};
        const auto* rows = static_cast<const uint8_t*>(surface->pixels);
        for (int y = 0; y < surface->h; ++y)
            image.texels.insert(image.texels.end(), rows + y * surface->pitch,
                                rows + y * surface->pitch + surface->w * bytes);
        SDL_FreeSurface(surface);
        images.push_back(image);
    }
    const int sizes[][2] = {{1, 1}, {2, 1}, {1, 8}, {8, 2}, {16, 16}, {64, 4}, {4, 64}, {256, 128}};
    unsigned seed = 1;
    for (const auto& size : sizes)
        for (GLenum format : {GL_RGB, GL_RGBA, GL_LUMINANCE, GL_LUMINANCE_ALPHA})
            images.push_back(pattern(size[0], size[1], format, seed++));

    for (const Image& image : images) {
        SCOPED_TRACE(std::to_string(image.width) + "x" + std::to_string(image.height) + " " +
                     std::to_string(components(image.format)) + " bytes per texel");
        // GLU itself is trusted only with rows packed tight and an alignment
        // of 1: at other alignments it uploads its smaller levels wrongly.
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        const auto expected = chain(image.format, [&] {
            gluBuild2DMipmaps(GL_TEXTURE_2D, image.format, image.width, image.height, image.format,
                              GL_UNSIGNED_BYTE, image.texels.data());
        });
        ASSERT_FALSE(expected.empty());
        for (int alignment : {1, 4, 8}) {
            SCOPED_TRACE(alignment);
            const auto source = padded(image, alignment);
            glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
            int result = -1;
            const auto ours = chain(image.format, [&] {
                result =
                    webglu::build_2d_mipmaps(GL_TEXTURE_2D, image.format, image.width, image.height,
                                             image.format, GL_UNSIGNED_BYTE, source.data());
            });
            EXPECT_EQ(result, 0);
            EXPECT_EQ(ours, expected);
            EXPECT_EQ(get_int(GL_UNPACK_ALIGNMENT), alignment);
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(WebGlu, mipmaps_refuse_what_they_cannot_build_without_uploading)
{
    const std::vector<uint8_t> data(64 * 64 * 4, 0x80);
    struct Refused {
        GLsizei width, height;
        GLenum format, type;
        int result;
    };
    const Refused cases[] = {
        {0, 8, GL_RGBA, GL_UNSIGNED_BYTE, 100901}, {8, -1, GL_RGBA, GL_UNSIGNED_BYTE, 100901},
        {3, 4, GL_RGBA, GL_UNSIGNED_BYTE, 100901}, {8, 48, GL_RGB, GL_UNSIGNED_BYTE, 100901},
        {8, 8, GL_RGBA, GL_FLOAT, 100900},         {8, 8, GL_BGRA, GL_UNSIGNED_BYTE, 100900},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        int result = 0;
        const auto levels = chain(GL_RGBA, [&] {
            result = webglu::build_2d_mipmaps(GL_TEXTURE_2D, GL_RGBA, c.width, c.height, c.format,
                                              c.type, data.data());
        });
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(levels.empty());
    }
}

// ---- wide lines -------------------------------------------------------------

// Lines in overlay space at many angles and widths, each drawn alone by the GL
// and by widelines. Mesa's and our quads meet the same fill rule, so only
// pixels whose centres lie within rounding of a quad's edge may differ.
TEST(WideLines, cover_the_pixels_mesas_lines_cover_at_every_angle_and_width)
{
    overlay_camera();
    int worst = 0, total = 0, covered = 0;
    for (float width : {1.0f, 2.0f, 9.999995f, 20.0f, 40.0f}) {
        for (float degrees :
             {0.0f, 7.0f, 30.0f, 45.0f, 60.0f, 83.0f, 90.0f, 120.0f, 135.0f, 172.0f}) {
            const double radians = degrees * 3.14159265358979323846 / 180.0;
            const float dx = static_cast<float>(200.0 * std::cos(radians));
            const float dy = static_cast<float>(200.0 * std::sin(radians));
            const std::vector<widelines::Vertex> line = {at(640.37f - dx, 360.71f - dy),
                                                         at(640.37f + dx, 360.71f + dy)};
            std::vector<uint8_t> gl, ours;
            const Difference d = lines_both_ways(GL_LINES, line, width, &gl, &ours);
            SCOPED_TRACE(std::to_string(width) + " px at " + std::to_string(degrees) + " degrees");
            worst = std::max(worst, d.differing);
            total += d.differing;
            covered += d.covered;
            EXPECT_LE(d.differing, 2);
            if (degrees == 45.0f && width == 20.0f) {
                // Widened along the minor axis: 20 along a row and 20 along a column.
                EXPECT_EQ(run_length(gl, 0, 360, 1, 0), 20);
                EXPECT_EQ(run_length(gl, 640, 0, 0, 1), 20);
                EXPECT_EQ(run_length(ours, 0, 360, 1, 0), 20);
                EXPECT_EQ(run_length(ours, 640, 0, 0, 1), 20);
            }
        }
    }
    std::printf("wide lines alone: %d of %d covered pixels differ, at most %d in one line\n", total,
                covered, worst);
}

// Ends far off screen, strips and loops in overlay space, and lines in the
// world camera that pass behind the eye or reach past the far plane (clipped
// before the divide, as the GL clips them).
TEST(WideLines, clipped_lines_strips_and_loops_cover_the_same_pixels)
{
    struct Case {
        bool world;  // the demo's camera at (3, 2, 5), else overlay space
        GLenum mode;
        float width;
        std::vector<widelines::Vertex> vertices;
    };
    const std::vector<Case> cases = {
        {false, GL_LINES, 40, {at(-1e6f, 100.25f), at(900.5f, 500.75f)}},
        {false, GL_LINES, 20, {at(300.1f, -5e5f), at(310.9f, 2e6f)}},
        {false, GL_LINES, 10, {at(-30, 12), at(1400, 700.5f)}},            // both ends outside
        {false, GL_LINES, 3, {at(100, 100), at(200, 110), at(300, 300)}},  // odd vertex ignored
        // Ends exactly on pixel centres, where the fill rule decides the end pixel.
        {false,
         GL_LINES,
         1,
         {at(300.3f, 100.5f), at(310.7f, 400.5f), at(410.7f, 400.5f), at(400.3f, 100.5f),
          at(100.5f, 50.2f), at(500.5f, 60.9f)}},
        {false,
         GL_LINES,
         10,
         {at(300.3f, 100.5f), at(310.7f, 400.5f), at(410.7f, 400.5f), at(400.3f, 100.5f)}},
        {false, GL_LINE_STRIP, 10, {at(100.5f, 600.2f), at(400.3f, 650.9f), at(420.8f, 300.1f)}},
        {false, GL_LINE_LOOP, 20, {at(700.2f, 100.7f), at(1100.6f, 180.3f), at(950.4f, 500.5f)}},
        {true, GL_LINES, 1, {at(-2, 0, -2), at(6, 4, 10)}},  // through the near plane
        {true, GL_LINES, 40, {at(-2, 0, -2), at(6, 4, 10)}},
        {true, GL_LINES, 10, {at(0, 0, 0), at(3.2f, 2.1f, 50)}},  // just past the eye
        {true, GL_LINES, 1, {at(-1, 0.5f, 0), at(-1, 3e6f, 0)}},  // a wave spike
        {true, GL_LINES, 40, {at(-1, 0.5f, 0), at(-1, 3e6f, 0)}},
        {true, GL_LINES, 40, {at(-300, -50, 0), at(300, -50, 0)}},  // cut by the window's sides
    };
    int total = 0, covered = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        if (c.world)
            world_camera(Vec3{3, 2, 5});
        else
            overlay_camera();
        const Difference d = lines_both_ways(c.mode, c.vertices, c.width);
        EXPECT_GT(d.covered, 0);
        // Measured: 2 pixels, where a 10-pixel line's end lies on a pixel centre
        // and Mesa's line and its triangles break the tie differently.
        EXPECT_LE(d.differing, 4);
        total += d.differing;
        covered += d.covered;
    }
    std::printf("clipped lines, strips and loops: %d of %d covered pixels differ\n", total,
                covered);
}

TEST(WideLines, restore_the_matrices_and_leave_the_last_colour)
{
    world_camera(camera_eye(12.0f));
    glMatrixMode(GL_PROJECTION);
    const auto modelview = current_matrix(GL_MODELVIEW_MATRIX);
    const auto projection = current_matrix(GL_PROJECTION_MATRIX);
    const int modelview_depth = get_int(GL_MODELVIEW_STACK_DEPTH);
    const int projection_depth = get_int(GL_PROJECTION_STACK_DEPTH);
    const widelines::Vertex strip[] = {{0, 0, 0, 1, 1, 0, 0, 1},
                                       {10, 5, 0, 1, 0, 1, 0, 1},
                                       {20, -5, 0, 1, 0.25f, 0.5f, 0.75f, 0.5f}};
    widelines::draw(GL_LINE_STRIP, strip, 3, 12.0f);
    EXPECT_EQ(get_int(GL_MATRIX_MODE), GL_PROJECTION);
    EXPECT_EQ(current_matrix(GL_MODELVIEW_MATRIX), modelview);
    EXPECT_EQ(current_matrix(GL_PROJECTION_MATRIX), projection);
    EXPECT_EQ(get_int(GL_MODELVIEW_STACK_DEPTH), modelview_depth);
    EXPECT_EQ(get_int(GL_PROJECTION_STACK_DEPTH), projection_depth);
    GLfloat current[4];
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_EQ(current[0], 0.25f);
    EXPECT_EQ(current[1], 0.5f);
    EXPECT_EQ(current[2], 0.75f);
    EXPECT_EQ(current[3], 0.5f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The wave's and the radar's own frames, once through the GL's lines and once
// with every line batch routed through widelines.
TEST(WideLines, wave_and_radar_frames_match_the_desktops)
{
    struct Frame {
        const char* effect;
        float clock;  // demo time, for the camera
        int updates;  // animation steps before the frame
    };
    const Frame frames[] = {
        {"wave", 15.0f, 100},   {"wave", 10.5f, 1},     {"wave", 12.5f, 60},   {"wave", 14.0f, 195},
        {"wave", 15.708f, 400}, {"wave", 18.5f, 700},   {"wave", 19.9f, 1150}, {"radar", 20.5f, 1},
        {"radar", 22.0f, 300},  {"radar", 24.9f, 2000},
    };
    for (const Frame& f : frames) {
        SCOPED_TRACE(std::string(f.effect) + " at " + std::to_string(f.clock));
        Wave wave;
        Radar radar;
        for (int i = 0; i < f.updates; ++i) {
            wave.update();
            radar.update();
        }
        auto render = [&](bool routed, bool held) {
            world_camera(camera_eye(f.clock));
            Wave w = wave;
            Radar r = radar;
            return frame_of([&] {
                route_lines = routed;
                hold_lines = held;
                if (f.effect[0] == 'w')
                    w.render();
                else
                    r.render();
                flush_held_lines();
                route_lines = hold_lines = false;
                // The last colour given is in force, whatever drew the lines.
                GLfloat now[4];
                glGetFloatv(GL_CURRENT_COLOR, now);
                EXPECT_TRUE(std::equal(now, now + 4, colour));
            });
        };
        const auto reference = render(false, false);
        const auto ours = render(true, false);
        // Held and drawn together, the lines cover exactly what their own draws do.
        EXPECT_TRUE(render(true, true) == ours);
        const Difference d = compare(reference, ours);
        EXPECT_GT(d.covered, 0);
        // Measured: at most 6 pixels in a frame (line ends within rounding of
        // a pixel centre), and up to 8 % of the radar's pixels one colour step off.
        EXPECT_LE(d.differing, d.covered / 10000 + 10);
        std::printf(
            "%s frame at %.3f s after %d steps: %d of %d covered pixels differ, "
            "%d more by one colour step\n",
            f.effect, f.clock, f.updates, d.differing, d.covered, d.off_by_one);
    }
}
