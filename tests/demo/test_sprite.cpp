// Sprites: which images load and with which failures, the texture they make,
// the pulse that reaches the GL, what a draw covers and the GL state it leaves.
// Test images are written at test time with real encoders (PNG, BMP, TGA).
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glu.h>
#include <SDL.h>
#include <SDL_image.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "main.h"
#include "sprite.h"
#include "gl_window.h"
#include "images.h"

// A link-time wrap (see tests/CMakeLists.txt) records the pulse scale that
// reaches the GL; support/images.cpp counts decoded surfaces against frees.
namespace {
std::vector<std::array<float, 3>> scales;  // every glScalef, in call order
}  // namespace

extern "C" {
void __real_glScalef(GLfloat x, GLfloat y, GLfloat z);

void __wrap_glScalef(GLfloat x, GLfloat y, GLfloat z)
{
    scales.push_back({x, y, z});
    __real_glScalef(x, y, z);
}
}

namespace {

// Clock values where sin(3t) in single precision is exactly 1 and -1.
const float peak_time = 0.52359879f;   // pi/6 as a float
const float trough_time = 1.5707964f;  // pi/2 as a float

// --- Image writers -------------------------------------------------------------

void write_file(const std::string& path, const std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// 8-bit PNG; colour type 0 grey, 2 RGB, 3 palette, 6 RGBA. Rows top first.
void write_png(const std::string& path, int width, int height, int colour_type,
               const std::vector<uint8_t>& pixels, const std::string& palette = "")
{
    const int channels = colour_type == 2 ? 3 : colour_type == 6 ? 4 : 1;
    std::string raw;
    for (int row = 0; row < height; ++row) {
        raw.push_back(0);  // no filter
        raw.append(
            reinterpret_cast<const char*>(&pixels[static_cast<size_t>(row) * width * channels]),
            static_cast<size_t>(width) * channels);
    }
    std::string header;
    put_be32(header, static_cast<uint32_t>(width));
    put_be32(header, static_cast<uint32_t>(height));
    header += std::string("\x08", 1) + static_cast<char>(colour_type) + std::string(3, '\0');

    std::string png("\x89PNG\r\n\x1a\n", 8);
    png += png_chunk("IHDR", header);
    if (colour_type == 3)
        png += png_chunk("PLTE", palette);
    png += png_chunk("IDAT", zlib_stored(raw));
    png += png_chunk("IEND", "");
    write_file(path, png);
}

// A PNG of one colour throughout.
void write_flat_png(const std::string& path, int width, int height, int colour_type,
                    const std::vector<uint8_t>& texel)
{
    std::vector<uint8_t> pixels;
    for (int i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), texel.begin(), texel.end());
    write_png(path, width, height, colour_type, pixels);
}

// Uncompressed true-colour TGA of 16 bits per pixel: decodes to 2 bytes per pixel.
void write_tga16(const std::string& path, int width, int height)
{
    std::string tga(18, '\0');
    tga[2] = 2;
    tga[12] = static_cast<char>(width & 0xff);
    tga[13] = static_cast<char>(width >> 8);
    tga[14] = static_cast<char>(height & 0xff);
    tga[15] = static_cast<char>(height >> 8);
    tga[16] = 16;
    tga[17] = 0x20;  // top row first
    tga.append(static_cast<size_t>(width) * height * 2, '\x55');
    write_file(path, tga);
}

// A BMP saved by SDL from a surface it made: 8 bits (palettised) or 24 bits.
void write_bmp(const std::string& path, int width, int height, int bits, uint8_t value)
{
    SDL_Surface* surface =
        bits == 8
            ? SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 8, 0, 0, 0, 0)
            : SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 24, 0xff0000, 0xff00, 0xff, 0);
    ASSERT_NE(surface, nullptr);
    if (bits == 8) {
        // A palette without greys: index i is (255 - i, i, 128).
        SDL_Color colours[256];
        for (int i = 0; i < 256; ++i)
            colours[i] = SDL_Color{static_cast<Uint8>(255 - i), static_cast<Uint8>(i), 128, 0};
        SDL_SetColors(surface, colours, 0, 256);
    }
    for (int row = 0; row < height; ++row)
        std::memset(static_cast<uint8_t*>(surface->pixels) + row * surface->pitch, value,
                    static_cast<size_t>(width) * surface->format->BytesPerPixel);
    ASSERT_EQ(SDL_SaveBMP(surface, path.c_str()), 0);
    SDL_FreeSurface(surface);
}

// --- What a constructor threw ----------------------------------------------------

struct Thrown {
    std::string kind;
    std::string text;
};

Thrown construct(const std::string& path)
{
    try {
        Sprite sprite(path);
        return Thrown{"nothing", ""};
    } catch (const char* text) {
        return Thrown{"const char*", text};
    } catch (const std::string& text) {
        return Thrown{"std::string", text};
    } catch (const std::exception& error) {
        return Thrown{"std::exception", error.what()};
    } catch (...) {
        return Thrown{"something else", ""};
    }
}

// --- GL helpers ---------------------------------------------------------------------

// The glScalef factor of one render at clock t.
std::array<float, 3> scale_drawn_at(Sprite& sprite, float t)
{
    demo.time = t;
    scales.clear();
    sprite.render();
    EXPECT_EQ(scales.size(), 1u);
    return scales.empty() ? std::array<float, 3>{0, 0, 0} : scales.front();
}

std::array<GLfloat, 16> matrix(GLenum which)
{
    std::array<GLfloat, 16> values;
    glGetFloatv(which, values.data());
    return values;
}

int level_int(int level, GLenum name)
{
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

int texture_int(GLenum name)
{
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

std::vector<uint8_t> draw_on_black(Sprite& sprite)
{
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    sprite.render();
    glFinish();
    return read_back_buffer();
}

// Each test works in a temporary folder of its own and must free every surface it decodes.
class SpriteTest : public testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorna-sprite-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir = pattern;
        demo.time = trough_time;  // pulse exactly 1
        ASSERT_EQ(std::sin(3.0f * trough_time), -1.0f);
    }

    void TearDown() override
    {
        std::filesystem::remove_all(dir);
        EXPECT_TRUE(live_surfaces.empty())
            << live_surfaces.size() << " decoded surface(s) never freed";
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    std::string dir;
};

using SpritePulse = SpriteTest;
using SpriteLoading = SpriteTest;
using SpriteTexture = SpriteTest;
using SpriteRender = SpriteTest;

}  // namespace

// --- Pulse ---------------------------------------------------------------------------

TEST_F(SpritePulse, is_1_plus_1_over_20480_at_time_0)
{
    write_bmp(path("dot.bmp"), 1, 1, 24, 255);
    Sprite sprite(path("dot.bmp"));
    const std::array<float, 3> s = scale_drawn_at(sprite, 0.0f);
    EXPECT_EQ(s[0], 0x1.000334p+0f);  // 1.0000489 = float(1 + 1/20480)
    EXPECT_EQ(s[0], static_cast<float>(1.0 + 1.0 / 20480.0));
    EXPECT_EQ(s[1], s[0]);
    EXPECT_EQ(s[2], s[0]);
}

TEST_F(SpritePulse, swells_to_1_05_where_sin_3t_is_1)
{
    ASSERT_EQ(std::sin(3.0f * peak_time), 1.0f);
    write_bmp(path("dot.bmp"), 1, 1, 24, 255);
    Sprite sprite(path("dot.bmp"));
    const std::array<float, 3> s = scale_drawn_at(sprite, peak_time);
    EXPECT_EQ(s[0], 1.0499999523162842f);
    EXPECT_EQ(s[1], s[0]);
    EXPECT_EQ(s[2], s[0]);
}

TEST_F(SpritePulse, is_exactly_1_where_sin_3t_is_minus_1)
{
    write_bmp(path("dot.bmp"), 1, 1, 24, 255);
    Sprite sprite(path("dot.bmp"));
    const std::array<float, 3> s = scale_drawn_at(sprite, trough_time);
    EXPECT_EQ(s[0], 1.0f);
    EXPECT_EQ(s[1], 1.0f);
    EXPECT_EQ(s[2], 1.0f);
}

TEST_F(SpritePulse, takes_the_powers_in_double_precision_over_a_whole_period)
{
    write_bmp(path("dot.bmp"), 1, 1, 24, 255);
    Sprite sprite(path("dot.bmp"));
    int wrong = 0;
    int single_precision_differs = 0;
    for (int i = 0; i <= 2100; ++i) {
        const float t = static_cast<float>(i) * 0.001f;
        const float u = std::sin(3.0f * t);
        const double a = static_cast<double>(u + 1.0f) * 0.5;
        const double p = (a * a) * (a * (a * a));
        const float expected = static_cast<float>(1.0 + (p * p) / 20.0);

        const float af = (u + 1.0f) * 0.5f;
        const float pf = (af * af) * (af * (af * af));
        if (1.0f + (pf * pf) / 20.0f != expected)
            ++single_precision_differs;

        const float drawn = scale_drawn_at(sprite, t)[0];
        if (drawn != expected && wrong++ == 0)
            ADD_FAILURE() << "t = " << t << ": scale " << drawn << ", expected " << expected;
    }
    EXPECT_EQ(wrong, 0);
    // The sweep can tell the two precisions apart.
    EXPECT_GT(single_precision_differs, 0);
}

// --- Loading -------------------------------------------------------------------------

TEST_F(SpriteLoading, accepts_power_of_two_images_from_1x1_to_2x512)
{
    write_bmp(path("dot.bmp"), 1, 1, 24, 200);
    write_bmp(path("strip.bmp"), 2, 512, 8, 7);
    std::ostringstream log;
    std::streambuf* saved = std::clog.rdbuf(log.rdbuf());
    Sprite dot(path("dot.bmp"));
    Sprite strip(path("strip.bmp"));
    std::clog.rdbuf(saved);

    EXPECT_EQ(dot.width, 1.0f);
    EXPECT_EQ(dot.height, 1.0f);
    EXPECT_EQ(strip.width, 2.0f);
    EXPECT_EQ(strip.height, 512.0f);
    EXPECT_EQ(strip.x, 0.0f);
    EXPECT_EQ(strip.y, 0.0f);
    EXPECT_EQ(strip.alpha, 0.0f);
    EXPECT_NE(dot.texture, 0u);
    EXPECT_NE(strip.texture, dot.texture);
    // The texture stays bound after construction.
    EXPECT_EQ(static_cast<GLuint>(get_int(GL_TEXTURE_BINDING_2D)), strip.texture);
    EXPECT_EQ(log.str(), "Loading " + path("dot.bmp") + "\nLoading " + path("strip.bmp") + "\n");
    EXPECT_EQ(surfaces_decoded, 2);
}

TEST_F(SpriteLoading, rejects_a_width_or_a_height_that_is_not_a_power_of_two)
{
    write_flat_png(path("wide.png"), 640, 512, 2, {1, 2, 3});
    write_flat_png(path("tall.png"), 512, 640, 2, {1, 2, 3});
    write_bmp(path("three.bmp"), 3, 4, 24, 9);
    for (const char* name : {"wide.png", "tall.png", "three.bmp"}) {
        const Thrown thrown = construct(path(name));
        EXPECT_EQ(thrown.kind, "const char*") << name;
        EXPECT_EQ(thrown.text, "Image size must be in power of two") << name;
    }
    EXPECT_EQ(surfaces_decoded, 3);
}

TEST_F(SpriteLoading, rejects_two_bytes_per_pixel)
{
    write_tga16(path("sixteen.tga"), 4, 4);
    const Thrown thrown = construct(path("sixteen.tga"));
    EXPECT_EQ(thrown.kind, "const char*");
    EXPECT_EQ(thrown.text, "Image format must be 8, 24 or 32 bits per pixel.");
    EXPECT_EQ(surfaces_decoded, 1);
}

TEST_F(SpriteLoading, reports_the_size_of_an_image_wrong_in_both_size_and_format)
{
    write_tga16(path("both.tga"), 6, 4);
    const Thrown thrown = construct(path("both.tga"));
    EXPECT_EQ(thrown.kind, "const char*");
    EXPECT_EQ(thrown.text, "Image size must be in power of two");
}

TEST_F(SpriteLoading, logs_loading_before_throwing_file_not_found_as_a_std_string)
{
    write_file(path("broken.png"), "this is not an image");
    for (const std::string& file : {path("missing.png"), path("broken.png")}) {
        std::ostringstream log;
        std::streambuf* saved = std::clog.rdbuf(log.rdbuf());
        std::string logged_before_throw = "(nothing thrown)";
        std::string message;
        try {
            Sprite sprite(file);
        } catch (const std::string& text) {
            logged_before_throw = log.str();
            message = text;
        } catch (...) {
            message = "(not a std::string)";
        }
        std::clog.rdbuf(saved);
        EXPECT_EQ(message, "File not found: " + file);
        EXPECT_EQ(logged_before_throw, "Loading " + file + "\n");
    }
    EXPECT_EQ(surfaces_decoded, 0);
}

TEST_F(SpriteLoading, frees_the_decoded_image_on_success_and_on_every_rejection)
{
    write_flat_png(path("good.png"), 4, 4, 6, {1, 2, 3, 4});
    write_flat_png(path("wide.png"), 6, 4, 0, {9});
    write_flat_png(path("tall.png"), 4, 6, 0, {9});
    write_tga16(path("sixteen.tga"), 4, 4);
    int expected_loads = 0;
    for (const char* name : {"good.png", "wide.png", "tall.png", "sixteen.tga"}) {
        construct(path(name));
        EXPECT_EQ(surfaces_decoded, ++expected_loads) << name;
        EXPECT_TRUE(live_surfaces.empty()) << name << " left its surface behind";
    }
}

TEST_F(SpriteLoading, refuses_a_gl_without_glBlendEquation_at_construction)
{
    write_bmp(path("dot.bmp"), 1, 1, 24, 255);
    const PFNGLBLENDEQUATIONPROC saved = glBlendEquation;
    glBlendEquation = nullptr;  // what GLEW leaves on a GL that lacks it
    const Thrown thrown = construct(path("dot.bmp"));
    glBlendEquation = saved;
    EXPECT_EQ(thrown.kind, "std::exception");
    EXPECT_NE(thrown.text.find("glBlendEquation"), std::string::npos) << thrown.text;
    EXPECT_NE(thrown.text.find(path("dot.bmp")), std::string::npos) << thrown.text;
    EXPECT_EQ(surfaces_decoded, 0);
}

// --- Texture -------------------------------------------------------------------------

TEST_F(SpriteTexture, is_a_linear_repeating_full_mipmap_chain_in_the_image_format)
{
    write_flat_png(path("rgb.png"), 8, 2, 2, {10, 20, 30});
    write_flat_png(path("rgba.png"), 4, 4, 6, {10, 20, 30, 40});
    write_flat_png(path("grey.png"), 2, 2, 0, {50});
    const struct {
        const char* name;
        GLint format;
    } cases[] = {{"rgb.png", GL_RGB}, {"rgba.png", GL_RGBA}, {"grey.png", GL_LUMINANCE}};
    for (const auto& c : cases) {
        Sprite sprite(path(c.name));
        ASSERT_EQ(static_cast<GLuint>(get_int(GL_TEXTURE_BINDING_2D)), sprite.texture);
        EXPECT_EQ(level_int(0, GL_TEXTURE_INTERNAL_FORMAT), c.format) << c.name;
        EXPECT_EQ(texture_int(GL_TEXTURE_MIN_FILTER), GL_LINEAR) << c.name;
        EXPECT_EQ(texture_int(GL_TEXTURE_MAG_FILTER), GL_LINEAR) << c.name;
        EXPECT_EQ(texture_int(GL_TEXTURE_WRAP_S), GL_REPEAT) << c.name;
        EXPECT_EQ(texture_int(GL_TEXTURE_WRAP_T), GL_REPEAT) << c.name;
    }
    // 8x2 down to 1x1: levels 8x2, 4x1, 2x1, 1x1.
    Sprite sprite(path("rgb.png"));
    const int widths[] = {8, 4, 2, 1};
    const int heights[] = {2, 1, 1, 1};
    for (int level = 0; level < 4; ++level) {
        EXPECT_EQ(level_int(level, GL_TEXTURE_WIDTH), widths[level]) << "level " << level;
        EXPECT_EQ(level_int(level, GL_TEXTURE_HEIGHT), heights[level]) << "level " << level;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SpriteTexture, keeps_every_texel_of_padded_rows_and_restores_the_unpack_alignment)
{
    // 2x2 RGB: 6 bytes a row, padded to 8 in the decoded surface.
    write_png(path("padded.png"), 2, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    Sprite sprite(path("padded.png"));
    EXPECT_EQ(get_int(GL_UNPACK_ALIGNMENT), 2);

    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    uint8_t level0[12] = {};
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, level0);
    const uint8_t expected[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(std::memcmp(level0, expected, sizeof(expected)), 0);
    uint8_t level1[3] = {};
    glGetTexImage(GL_TEXTURE_2D, 1, GL_RGB, GL_UNSIGNED_BYTE, level1);
    EXPECT_EQ(level1[0], 6);  // GLU's box filter: (1 + 4 + 7 + 10 + 2) / 4
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SpriteTexture, shows_the_indices_of_a_palettised_image_as_grey)
{
    write_bmp(path("indexed.bmp"), 4, 4, 8, 200);  // palette entry 200 is (55, 200, 128)
    Sprite sprite(path("indexed.bmp"));
    EXPECT_EQ(level_int(0, GL_TEXTURE_INTERNAL_FORMAT), GL_LUMINANCE);
    sprite.x = 640;
    sprite.y = 360;
    sprite.alpha = 1;
    const std::vector<uint8_t> frame = draw_on_black(sprite);
    const Rgba p = pixel_at(frame, 640, 360);
    EXPECT_EQ(p.r, 200);
    EXPECT_EQ(p.g, 200);
    EXPECT_EQ(p.b, 200);
}

// --- Render --------------------------------------------------------------------------

TEST_F(SpriteRender, covers_exactly_256x256_pixels_centred_in_the_window_and_upright)
{
    // Red in the top half, green in the left half, blue throughout.
    std::vector<uint8_t> pixels;
    for (int row = 0; row < 256; ++row) {
        for (int column = 0; column < 256; ++column) {
            pixels.push_back(row < 128 ? 255 : 0);
            pixels.push_back(column < 128 ? 255 : 0);
            pixels.push_back(255);
        }
    }
    write_png(path("square.png"), 256, 256, 2, pixels);
    Sprite sprite(path("square.png"));
    sprite.x = 640;
    sprite.y = 360;
    sprite.alpha = 1;
    const std::vector<uint8_t> frame = draw_on_black(sprite);

    int covered = 0, min_x = 1280, max_x = -1, min_y = 720, max_y = -1;
    for (int y = 0; y < 720; ++y) {
        for (int x = 0; x < 1280; ++x) {
            if (pixel_at(frame, x, y).b == 0)
                continue;
            ++covered;
            min_x = std::min(min_x, x);
            max_x = std::max(max_x, x);
            min_y = std::min(min_y, y);
            max_y = std::max(max_y, y);
        }
    }
    EXPECT_EQ(covered, 256 * 256);
    EXPECT_EQ(min_x, 512);
    EXPECT_EQ(max_x, 767);
    EXPECT_EQ(min_y, 232);
    EXPECT_EQ(max_y, 487);

    const struct {
        int x, y;
        uint8_t r, g;
    } quarters[] = {{576, 424, 255, 255}, {704, 424, 255, 0}, {576, 296, 0, 255}, {704, 296, 0, 0}};
    for (const auto& q : quarters) {
        const Rgba p = pixel_at(frame, q.x, q.y);
        EXPECT_EQ(p.r, q.r) << "at " << q.x << ", " << q.y;
        EXPECT_EQ(p.g, q.g) << "at " << q.x << ", " << q.y;
        EXPECT_EQ(p.b, 255) << "at " << q.x << ", " << q.y;
    }
}

TEST_F(SpriteRender, blends_rgba_bytes_in_memory_order_by_the_image_alpha_times_the_sprite_alpha)
{
    write_flat_png(path("red.png"), 4, 4, 6, {255, 0, 0, 128});
    Sprite sprite(path("red.png"));
    sprite.x = 640;
    sprite.y = 360;
    sprite.alpha = 0.5f;
    const std::vector<uint8_t> frame = draw_on_black(sprite);
    const Rgba p = pixel_at(frame, 640, 360);
    EXPECT_NEAR(p.r, 64, 1);  // 255 * (128 / 255) * 0.5
    EXPECT_EQ(p.g, 0);
    EXPECT_EQ(p.b, 0);
}

TEST_F(SpriteRender, sends_its_quad_corners_and_texture_coordinates_even_at_alpha_0)
{
    write_flat_png(path("grey.png"), 256, 128, 0, {255});
    Sprite sprite(path("grey.png"));
    sprite.x = 300;
    sprite.y = 200;
    sprite.alpha = 0;
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);

    std::vector<GLfloat> feedback(4096);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D_COLOR_TEXTURE, feedback.data());
    glRenderMode(GL_FEEDBACK);
    sprite.render();
    const GLint values = glRenderMode(GL_RENDER);
    ASSERT_GT(values, 0);

    // Window position -> texture coordinate of every vertex sent, whether the GL
    // reports the quad whole or as triangles.
    const int per_vertex = 3 + 4 + 4;
    std::set<std::array<float, 4>> corners;
    for (GLint i = 0; i < values;) {
        ASSERT_EQ(feedback[i], GL_POLYGON_TOKEN);
        const int count = static_cast<int>(feedback[i + 1]);
        for (int v = 0; v < count; ++v) {
            const GLfloat* vertex = &feedback[i + 2 + v * per_vertex];
            EXPECT_EQ(vertex[6], 0.0f) << "alpha";
            corners.insert({std::round(vertex[0] * 100) / 100, std::round(vertex[1] * 100) / 100,
                            vertex[7], vertex[8]});
        }
        i += 2 + count * per_vertex;
    }
    const std::set<std::array<float, 4>> expected = {
        {172, 136, 0, 1}, {428, 136, 1, 1}, {428, 264, 1, 0}, {172, 264, 0, 0}};
    EXPECT_EQ(corners, expected);
    EXPECT_TRUE(is_enabled(GL_BLEND));
    EXPECT_FALSE(is_enabled(GL_DEPTH_TEST));
}

TEST_F(SpriteRender, restores_both_matrices_and_leaves_the_overlay_state_behind)
{
    write_flat_png(path("rgb.png"), 4, 4, 2, {1, 2, 3});
    Sprite sprite(path("rgb.png"));
    sprite.x = 100;
    sprite.y = 50;
    sprite.alpha = 0.375f;

    // A world camera like the timeline's, one matrix deep on the modelview stack.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(65.0, 1280.0 / 720.0, 0.1, 150.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(3, 4, 5, 0, 0, 0, 0, 1, 0);
    glPushMatrix();
    glTranslatef(1, 2, 3);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glBlendFunc(GL_ONE, GL_ZERO);
    glBlendEquation(GL_FUNC_SUBTRACT);
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    glMatrixMode(GL_TEXTURE);

    const std::array<GLfloat, 16> modelview = matrix(GL_MODELVIEW_MATRIX);
    const std::array<GLfloat, 16> projection = matrix(GL_PROJECTION_MATRIX);
    const int modelview_depth = get_int(GL_MODELVIEW_STACK_DEPTH);
    const int projection_depth = get_int(GL_PROJECTION_STACK_DEPTH);
    const int texture_depth = get_int(GL_TEXTURE_STACK_DEPTH);

    sprite.render();

    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX), modelview);
    EXPECT_EQ(matrix(GL_PROJECTION_MATRIX), projection);
    EXPECT_EQ(get_int(GL_MODELVIEW_STACK_DEPTH), modelview_depth);
    EXPECT_EQ(get_int(GL_PROJECTION_STACK_DEPTH), projection_depth);
    EXPECT_EQ(get_int(GL_TEXTURE_STACK_DEPTH), texture_depth);
    EXPECT_EQ(get_int(GL_ATTRIB_STACK_DEPTH), 0);
    EXPECT_EQ(get_int(GL_MATRIX_MODE), GL_MODELVIEW);

    EXPECT_TRUE(is_enabled(GL_TEXTURE_2D));
    EXPECT_EQ(static_cast<GLuint>(get_int(GL_TEXTURE_BINDING_2D)), sprite.texture);
    EXPECT_FALSE(is_enabled(GL_LIGHTING));
    EXPECT_TRUE(is_enabled(GL_BLEND));
    EXPECT_EQ(get_int(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(get_int(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(get_int(GL_BLEND_EQUATION), GL_FUNC_ADD);
    EXPECT_FALSE(is_enabled(GL_DEPTH_TEST));

    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0], 1.0f);
    EXPECT_EQ(colour[1], 1.0f);
    EXPECT_EQ(colour[2], 1.0f);
    EXPECT_EQ(colour[3], 0.375f);
    GLfloat coordinate[4];
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, coordinate);
    EXPECT_EQ(coordinate[0], 0.0f);
    EXPECT_EQ(coordinate[1], 0.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SpriteRender, at_alpha_0_leaves_the_frame_untouched_but_blending_on_and_depth_test_off)
{
    write_flat_png(path("white.png"), 64, 64, 2, {255, 255, 255});
    Sprite sprite(path("white.png"));
    sprite.x = 640;
    sprite.y = 360;
    sprite.alpha = 0;
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.2f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    sprite.render();
    glFinish();
    const std::vector<uint8_t> frame = read_back_buffer();
    const Rgba p = pixel_at(frame, 640, 360);
    EXPECT_EQ(p.r, 0);
    EXPECT_EQ(p.g, 0);
    EXPECT_EQ(p.b, 51);
    EXPECT_TRUE(is_enabled(GL_BLEND));
    EXPECT_FALSE(is_enabled(GL_DEPTH_TEST));
}
