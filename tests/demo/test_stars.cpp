// The starfield: its generation from the C library's default random sequence,
// and what its render sends to the GL (feedback mode and pixel read-back).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gl_window.h"
#include "main.h"
#include "stars.h"

namespace {

// Set in the child that the cross-process test starts from this binary.
const char* const child_marker = "VORNA_STARS_CHILD";

uint64_t field_hash(const Stars& stars)
{
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    auto mix = [&hash](const void* data, size_t size) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i)
            hash = (hash ^ bytes[i]) * 1099511628211ull;
    };
    for (const Stars::Star& star : stars.starArray) {
        mix(star.position, sizeof star.position);
        mix(star.velocity, sizeof star.velocity);
        mix(star.acceleration, sizeof star.acceleration);
        mix(star.color, sizeof star.color);
        mix(&star.kind, sizeof star.kind);
    }
    return hash;
}

std::string own_executable()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

std::string current_test_name()
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

bool same_bits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A star as the seven draws v[0..6] make it, written out independently of the unit.
struct ExpectedStar {
    float position[3];
    float color[3];
    int kind;
};

ExpectedStar star_from_draws(const int v[7])
{
    ExpectedStar star;
    for (int axis = 0; axis < 3; ++axis) {
        const float u = static_cast<float>(static_cast<double>(v[axis]) / 2147483647.0);
        star.position[axis] = 200.0f * u - 100.0f;
    }
    star.color[0] = static_cast<float>(static_cast<double>(v[3]) / 2147483647.0 * 0.4 + 0.6);
    star.color[1] = static_cast<float>(static_cast<double>(v[4]) / 2147483647.0 * 0.3 + 0.7);
    star.color[2] = static_cast<float>(static_cast<double>(v[5]) / 2147483647.0 * 0.2 + 0.8);
    star.kind = v[6] % 3 + 1;
    return star;
}

bool matches(const Stars::Star& star, const ExpectedStar& expected)
{
    for (int i = 0; i < 3; ++i) {
        if (!same_bits(star.position[i], expected.position[i]) ||
            !same_bits(star.color[i], expected.color[i]))
            return false;
    }
    return star.kind == expected.kind;
}

// World units map to window pixels one to one, origin at the bottom-left.
void pixel_camera()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1280, 0, 720, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// Star i sits at the centre of pixel (8 * column + 4, 8 * row + 4) of a grid of
// 8x8 cells, 160 to a row, so neither a 1- nor a 3-pixel point leaves its cell.
void place_on_grid(Stars& stars)
{
    for (size_t i = 0; i < stars.starArray.size(); ++i) {
        Stars::Star& star = stars.starArray[i];
        star.position[0] = static_cast<float>(8 * (i % 160)) + 4.5f;
        star.position[1] = static_cast<float>(8 * (i / 160)) + 4.5f;
        star.position[2] = 0.0f;
    }
}

int lit_pixels_in_cell(const std::vector<uint8_t>& frame, size_t i)
{
    const int left = static_cast<int>(8 * (i % 160));
    const int bottom = static_cast<int>(8 * (i / 160));
    int lit = 0;
    for (int y = bottom; y < bottom + 8; ++y) {
        for (int x = left; x < left + 8; ++x) {
            const Rgba p = pixel_at(frame, x, y);
            if (p.r || p.g || p.b)
                ++lit;
        }
    }
    return lit;
}

// Draws the field into a cleared frame with blending off and reads it back.
std::vector<uint8_t> draw_alone(Stars& stars)
{
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    pixel_camera();
    stars.render();
    glFinish();
    return read_back_buffer();
}

}  // namespace

TEST(StarfieldGeneration, builds_ten_thousand_stars_inside_their_ranges_and_at_rest)
{
    Stars stars;
    ASSERT_EQ(stars.starArray.size(), 10000u);
    // Reserved once for exactly the field: a growing array would overshoot.
    EXPECT_EQ(stars.starArray.capacity(), 10000u);
    EXPECT_EQ(stars.alpha, 0.0f);
    int kinds[4] = {0, 0, 0, 0};
    for (const Stars::Star& star : stars.starArray) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_GE(star.position[i], -100.0f);
            EXPECT_LE(star.position[i], 100.0f);
            EXPECT_EQ(star.velocity[i], 0.0f);
            EXPECT_EQ(star.acceleration[i], 0.0f);
        }
        EXPECT_GE(star.color[0], 0.6f);
        EXPECT_LE(star.color[0], 1.0f);
        EXPECT_GE(star.color[1], 0.7f);
        EXPECT_LE(star.color[1], 1.0f);
        EXPECT_GE(star.color[2], 0.8f);
        EXPECT_LE(star.color[2], 1.0f);
        ASSERT_GE(star.kind, 1);
        ASSERT_LE(star.kind, 3);
        ++kinds[star.kind];
        EXPECT_EQ(star.owner, &stars);
    }
    // All three kinds occur: the draw is v mod 3 + 1, not a constant.
    EXPECT_GT(kinds[1], 3000);
    EXPECT_GT(kinds[2], 3000);
    EXPECT_GT(kinds[3], 3000);
}

TEST(StarfieldGeneration, takes_seven_draws_per_star_from_the_unseeded_sequence)
{
    // Nothing in this process has called rand() before this field.
    Stars stars;

    // Star 0 from glibc's first seven values, 1804289383 ... 719885386.
    const Stars::Star& first = stars.starArray[0];
    EXPECT_EQ(first.position[0], 0x1.102674p+6f);  // 68.0375519
    EXPECT_EQ(first.position[1], -0x1.51f98p+4f);  // -21.1234131
    EXPECT_EQ(first.position[2], 0x1.c4f57p+5f);   // 56.6198425
    EXPECT_EQ(first.color[0], 0x1.d6b874p-1f);     // 0.919376016
    EXPECT_EQ(first.color[1], 0x1.f26dd6p-1f);     // 0.973494232
    EXPECT_EQ(first.color[2], 0x1.add44ap-1f);     // 0.839510262
    EXPECT_EQ(first.kind, 2);

    // Star 9,999 from draws 69,994 to 70,000: a missing or extra draw shifts it.
    const Stars::Star& last = stars.starArray[9999];
    EXPECT_EQ(last.position[0], -0x1.8a936ep+6f);  // -98.6439743
    EXPECT_EQ(last.position[1], -0x1.23ed8p+3f);   // -9.1227417
    EXPECT_EQ(last.position[2], -0x1.84387cp+5f);  // -48.5275803
    EXPECT_EQ(last.color[0], 0x1.e8e70ep-1f);      // 0.954887807
    EXPECT_EQ(last.color[1], 0x1.b1c21p-1f);       // 0.847183704
    EXPECT_EQ(last.color[2], 0x1.bc2014p-1f);      // 0.867432237
    EXPECT_EQ(last.kind, 2);

    // Every star, bit for bit, against the default sequence (that of seed 1).
    std::srand(1);
    size_t mismatches = 0;
    size_t first_mismatch = 0;
    for (size_t i = 0; i < stars.starArray.size(); ++i) {
        int v[7];
        for (int& draw : v)
            draw = std::rand();
        if (!matches(stars.starArray[i], star_from_draws(v)) && mismatches++ == 0)
            first_mismatch = i;
    }
    EXPECT_EQ(mismatches, 0u) << "first differing star: " << first_mismatch;
}

TEST(StarfieldGeneration, is_the_same_in_every_process_but_continues_the_sequence_within_one)
{
    Stars first;
    const uint64_t hash = field_hash(first);
    if (std::getenv(child_marker)) {
        std::printf("starfield-hash %016llx\n", static_cast<unsigned long long>(hash));
        return;
    }

    Stars second;
    EXPECT_NE(field_hash(second), hash);

    // The same test in a fresh process of this binary reports its own field.
    const std::string command = std::string(child_marker) + "=1 '" + own_executable() +
                                "' --gtest_filter=" + current_test_name();
    FILE* child = popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    unsigned long long child_hash = 0;
    bool reported = false;
    char line[512];
    while (std::fgets(line, sizeof line, child)) {
        if (std::sscanf(line, "starfield-hash %llx", &child_hash) == 1)
            reported = true;
    }
    EXPECT_EQ(pclose(child), 0);
    ASSERT_TRUE(reported);
    EXPECT_EQ(child_hash, hash);
}

TEST(StarUpdate, adds_acceleration_to_velocity_then_the_new_velocity_to_position)
{
    Stars stars;
    Stars::Star star(&stars);
    const float position[3] = {1.0f, 2.0f, 3.0f};
    const float velocity[3] = {0.5f, -0.25f, 4.0f};
    const float acceleration[3] = {0.125f, 1.0f, -8.0f};
    for (int i = 0; i < 3; ++i) {
        star.position[i] = position[i];
        star.velocity[i] = velocity[i];
        star.acceleration[i] = acceleration[i];
    }
    star.update();
    EXPECT_EQ(star.velocity[0], 0.625f);
    EXPECT_EQ(star.velocity[1], 0.75f);
    EXPECT_EQ(star.velocity[2], -4.0f);
    EXPECT_EQ(star.position[0], 1.625f);
    EXPECT_EQ(star.position[1], 2.75f);
    EXPECT_EQ(star.position[2], -1.0f);
    EXPECT_EQ(star.acceleration[2], -8.0f);
}

TEST(StarUpdate, leaves_every_star_of_the_field_where_it_is)
{
    Stars stars;
    const uint64_t before = field_hash(stars);
    for (Stars::Star& star : stars.starArray)
        star.update();
    EXPECT_EQ(field_hash(stars), before);
}

TEST(StarfieldRender, sends_every_star_with_its_colour_and_the_field_alpha_even_at_alpha_0)
{
    Stars stars;
    stars.alpha = 0.0f;
    // A box just larger than the field, so no star is clipped away.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-101, 101, -101, 101, -101, 101);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    const int per_point = 1 + 3 + 4;  // token, window x y z, RGBA
    std::vector<GLfloat> feedback(10000 * per_point + 64);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D_COLOR, feedback.data());
    glRenderMode(GL_FEEDBACK);
    stars.render();
    const GLint values = glRenderMode(GL_RENDER);
    ASSERT_EQ(values, 10000 * per_point);

    size_t wrong = 0;
    for (size_t i = 0; i < 10000; ++i) {
        const GLfloat* entry = &feedback[i * per_point];
        const Stars::Star& star = stars.starArray[i];
        const float window_x = (star.position[0] + 101.0f) / 202.0f * 1280.0f;
        const float window_y = (star.position[1] + 101.0f) / 202.0f * 720.0f;
        const bool ok = entry[0] == GL_POINT_TOKEN && std::abs(entry[1] - window_x) < 0.01f &&
                        std::abs(entry[2] - window_y) < 0.01f && entry[4] == star.color[0] &&
                        entry[5] == star.color[1] && entry[6] == star.color[2] && entry[7] == 0.0f;
        if (!ok && wrong++ == 0)
            ADD_FAILURE() << "star " << i << " arrived as token " << entry[0] << " at (" << entry[1]
                          << ", " << entry[2] << ") colour (" << entry[4] << ", " << entry[5]
                          << ", " << entry[6] << ", " << entry[7] << ")";
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(StarfieldRender, draws_the_first_7500_stars_one_pixel_wide_and_the_last_2500_three_wide)
{
    Stars stars;
    stars.alpha = 1.0f;
    place_on_grid(stars);
    const std::vector<uint8_t> frame = draw_alone(stars);

    size_t wrong = 0;
    for (size_t i = 0; i < 10000; ++i) {
        const int expected = i < 7500 ? 1 : 9;
        const int lit = lit_pixels_in_cell(frame, i);
        if (lit != expected && wrong++ == 0)
            ADD_FAILURE() << "star " << i << " covers " << lit << " pixels, expected " << expected;
    }
    EXPECT_EQ(wrong, 0u);

    // The point shows the star's own colour.
    const Stars::Star& star = stars.starArray[0];
    const Rgba p = pixel_at(frame, 4, 4);
    EXPECT_NEAR(p.r, star.color[0] * 255.0f, 1.0f);
    EXPECT_NEAR(p.g, star.color[1] * 255.0f, 1.0f);
    EXPECT_NEAR(p.b, star.color[2] * 255.0f, 1.0f);
}

TEST(StarfieldRender, draws_a_field_of_fewer_than_four_stars_all_three_pixels_wide)
{
    Stars stars;
    stars.alpha = 1.0f;
    stars.starArray.erase(stars.starArray.begin() + 3, stars.starArray.end());
    place_on_grid(stars);
    const std::vector<uint8_t> frame = draw_alone(stars);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(lit_pixels_in_cell(frame, i), 9) << "star " << i;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(StarfieldRender, draws_nothing_for_an_empty_field_and_still_leaves_point_size_3)
{
    Stars stars;
    stars.alpha = 1.0f;
    stars.starArray.clear();
    glPointSize(5.0f);
    const std::vector<uint8_t> frame = draw_alone(stars);
    size_t lit = 0;
    for (size_t i = 0; i < frame.size(); i += 4)
        lit += frame[i] || frame[i + 1] || frame[i + 2];
    EXPECT_EQ(lit, 0u);
    EXPECT_EQ(get_float(GL_POINT_SIZE), 3.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(StarfieldRender, leaves_texturing_and_lighting_off_point_size_3_and_the_last_star_colour)
{
    Stars stars;
    stars.alpha = 0.375f;
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glPointSize(7.0f);
    pixel_camera();

    stars.render();

    EXPECT_FALSE(is_enabled(GL_TEXTURE_2D));
    EXPECT_FALSE(is_enabled(GL_LIGHTING));
    EXPECT_EQ(get_float(GL_POINT_SIZE), 3.0f);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    const Stars::Star& last = stars.starArray.back();
    EXPECT_EQ(colour[0], last.color[0]);
    EXPECT_EQ(colour[1], last.color[1]);
    EXPECT_EQ(colour[2], last.color[2]);
    EXPECT_EQ(colour[3], 0.375f);
    // Blending and depth testing are the caller's business.
    EXPECT_TRUE(is_enabled(GL_BLEND));
    EXPECT_TRUE(is_enabled(GL_DEPTH_TEST));
    EXPECT_FALSE(is_enabled(GL_POINT_SMOOTH));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
