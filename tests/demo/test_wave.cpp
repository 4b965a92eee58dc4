// Wave lines: the per-call animation cycle to the bit, and what render hands
// the GL (counted in feedback mode) and leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "feedback.h"
#include "gl_window.h"
#include "wave.h"

namespace {

void advance(Wave& wave, int calls)
{
    for (int i = 0; i < calls; ++i)
        wave.update();
}

// Band lines are the only ones 600 units long; everything else is the curve.
bool is_band_line(const FedLine& line)
{
    return line.from.x == -300.0f && line.to.x == 300.0f;
}

std::vector<FedLine> curve_of(const Feedback& fed)
{
    std::vector<FedLine> curve;
    for (const FedLine& line : fed.lines)
        if (!is_band_line(line))
            curve.push_back(line);
    return curve;
}

}  // namespace

// ---- update: state machine ----------------------------------------------

TEST(WaveUpdate, first_call_turns_red_and_green_to_rising_without_moving_them)
{
    Wave wave;
    wave.update();
    EXPECT_EQ(wave.phase, 1.5f);
    EXPECT_EQ(wave.step, 1.9900000095367432f);
    EXPECT_EQ(wave.divisor, 9.899999618530273f);
    EXPECT_EQ(wave.lineWidth, 11.0f);
    EXPECT_EQ(wave.red, 0.0f);
    EXPECT_EQ(wave.green, 0.0f);
    EXPECT_EQ(wave.blue, 0.5099999904632568f);
    EXPECT_TRUE(wave.redRising);
    EXPECT_TRUE(wave.greenRising);
    EXPECT_FALSE(wave.growing);
    EXPECT_EQ(wave.floorCount, 0);
}

TEST(WaveUpdate, divisor_sinks_past_zero_without_hitting_it_in_the_first_hundred_calls)
{
    Wave wave;
    advance(wave, 100);
    EXPECT_EQ(wave.step, 1.0000009536743164f);
    EXPECT_EQ(wave.divisor, -1.862645149230957e-06f);
    wave.update();  // 101: step still above 1.0, so the divisor falls once more
    EXPECT_EQ(wave.step, 0.9900009632110596f);
    EXPECT_EQ(wave.divisor, -0.10000186413526535f);
    advance(wave, 90);  // 191: the last call above the floor
    EXPECT_EQ(wave.step, 0.09000161290168762f);
    EXPECT_EQ(wave.divisor, -0.10000186413526535f);
    EXPECT_EQ(wave.floorCount, 0);
}

TEST(WaveUpdate, floor_hit_repeats_because_0_1_minus_0_01_is_exactly_0_09)
{
    Wave wave;
    advance(wave, 192);
    EXPECT_EQ(wave.step, 0.1f);
    EXPECT_EQ(wave.divisor, -1.862645149230957e-06f);
    EXPECT_EQ(wave.floorCount, 1);
    // Every later shrink call is a hit; a strict floor test would hit only
    // every second call.
    for (int call = 193; call <= 691; ++call) {
        wave.update();
        ASSERT_EQ(wave.floorCount, call - 191) << "call " << call;
        ASSERT_EQ(wave.step, 0.1f) << "call " << call;
        ASSERT_FALSE(wave.growing) << "call " << call;
    }
    wave.update();  // 692: the 501st hit starts grow mode
    EXPECT_EQ(wave.floorCount, 501);
    EXPECT_TRUE(wave.growing);
    EXPECT_EQ(wave.divisor, 49.99980926513672f);
}

TEST(WaveUpdate, grow_mode_climbs_to_just_over_2_then_turns_without_moving)
{
    Wave wave;
    advance(wave, 693);
    EXPECT_EQ(wave.floorCount, 0);
    EXPECT_EQ(wave.step, 0.10999999940395355f);
    EXPECT_EQ(wave.divisor, 50.09980773925781f);
    advance(wave, 190);  // 883
    EXPECT_TRUE(wave.growing);
    EXPECT_EQ(wave.step, 2.0099985599517822f);
    EXPECT_EQ(wave.divisor, 69.09951782226562f);
    wave.update();  // 884: only the mode changes
    EXPECT_FALSE(wave.growing);
    EXPECT_EQ(wave.step, 2.0099985599517822f);
    EXPECT_EQ(wave.divisor, 69.09951782226562f);
    wave.update();  // 885
    EXPECT_EQ(wave.step, 1.9999985694885254f);
    EXPECT_EQ(wave.divisor, 68.99951934814453f);
}

TEST(WaveUpdate, grow_mode_clears_floor_count_even_on_the_call_that_leaves_it)
{
    Wave wave;
    wave.growing = true;
    wave.step = 2.0f;
    wave.floorCount = 7;
    wave.update();
    EXPECT_FALSE(wave.growing);
    EXPECT_EQ(wave.floorCount, 0);
    EXPECT_EQ(wave.step, 2.0f);
}

TEST(WaveUpdate, step_cycle_repeats_every_885_calls_with_the_divisor_59_higher)
{
    Wave wave;
    advance(wave, 1576);
    EXPECT_FALSE(wave.growing);
    EXPECT_EQ(wave.floorCount, 500);
    wave.update();  // 1577
    EXPECT_TRUE(wave.growing);
    advance(wave, 191);  // 1768
    EXPECT_TRUE(wave.growing);
    EXPECT_EQ(wave.step, 2.0099985599517822f);
    wave.update();  // 1769
    EXPECT_FALSE(wave.growing);
    EXPECT_EQ(wave.divisor, 128.19862365722656f);
}

TEST(WaveUpdate, line_width_runs_with_period_12_through_negative_widths)
{
    const float expected[] = {11, 21, 31, 41, 41, 31, 21, 11, 1,  -9, -9, 1, 11,
                              21, 31, 41, 41, 31, 21, 11, 1,  -9, -9, 1,  11};
    Wave wave;
    for (float width : expected) {
        wave.update();
        EXPECT_EQ(wave.lineWidth, width);
    }
}

TEST(WaveUpdate, red_peaks_just_over_1_and_turns_on_call_103)
{
    Wave wave;
    advance(wave, 101);
    // The hundredth single-precision sum is still below 1.0, so one more step.
    EXPECT_EQ(wave.red, 0.9999993443489075f);
    EXPECT_TRUE(wave.redRising);
    wave.update();
    EXPECT_EQ(wave.red, 1.009999394416809f);
    wave.update();  // 103: turns, does not move
    EXPECT_FALSE(wave.redRising);
    EXPECT_EQ(wave.red, 1.009999394416809f);

    float lowest = wave.red;
    for (int call = 104; call <= 400; ++call) {
        wave.update();
        lowest = std::min(lowest, wave.red);
    }
    EXPECT_EQ(lowest, -0.009999925270676613f);
}

TEST(WaveUpdate, green_swings_between_1_02_and_minus_0_02)
{
    Wave wave;
    float highest = wave.green, lowest = wave.green;
    for (int call = 1; call <= 200; ++call) {
        wave.update();
        highest = std::max(highest, wave.green);
        lowest = std::min(lowest, wave.green);
    }
    EXPECT_EQ(highest, 1.019999623298645f);
    EXPECT_EQ(lowest, -0.019999969750642776f);
}

TEST(WaveUpdate, blue_climbs_by_0_01_and_drops_by_0_09)
{
    Wave wave;
    advance(wave, 51);
    EXPECT_EQ(wave.blue, 1.0099995136260986f);
    EXPECT_TRUE(wave.blueRising);
    wave.update();  // 52: turns
    EXPECT_FALSE(wave.blueRising);
    EXPECT_EQ(wave.blue, 1.0099995136260986f);
    advance(wave, 12);  // twelve falls of 0.09
    EXPECT_EQ(wave.blue, -0.07000067830085754f);
    EXPECT_FALSE(wave.blueRising);
    wave.update();
    EXPECT_TRUE(wave.blueRising);
    EXPECT_EQ(wave.blue, -0.07000067830085754f);
}

// ---- render: what the GL receives ----------------------------------------

TEST(WaveRender, first_frame_draws_41_segments_and_the_100_band_lines)
{
    Wave wave;
    wave.update();  // step 1.99
    const Feedback fed = record_feedback([&] { wave.render(); });
    EXPECT_EQ(curve_of(fed).size(), 41u);
    EXPECT_EQ(fed.lines.size(), 141u);
    EXPECT_TRUE(fed.points.empty());
    // Left at the first value not below 40.
    EXPECT_EQ(wave.cursor, 41.59000778198242f);
}

TEST(WaveRender, step_2_draws_40_segments_and_leaves_cursor_at_exactly_40)
{
    Wave wave;
    const Feedback fed = record_feedback([&] { wave.render(); });
    const std::vector<FedLine> curve = curve_of(fed);
    ASSERT_EQ(curve.size(), 40u);
    for (size_t k = 0; k < curve.size(); ++k)
        EXPECT_EQ(curve[k].from.x, 4.0f * (-40.0f + 2.0f * k)) << "segment " << k;
    EXPECT_EQ(wave.cursor, 40.0f);
}

TEST(WaveRender, step_on_its_floor_draws_801_segments)
{
    Wave wave;
    wave.step = 0.1f;
    const Feedback fed = record_feedback([&] { wave.render(); });
    EXPECT_EQ(curve_of(fed).size(), 801u);
    EXPECT_EQ(wave.cursor, 40.09992599487305f);
}

TEST(WaveRender, segment_heights_are_double_sines_rounded_once)
{
    Wave wave;  // phase 1, divisor 10: first segment at s = -39
    const Feedback fed = record_feedback([&] { wave.render(); });
    ASSERT_FALSE(fed.lines.empty());
    const FedLine& first = fed.lines[0];
    EXPECT_EQ(first.from.x, -160.0f);
    EXPECT_EQ(first.from.y, -19.275907516479492f);
    EXPECT_EQ(first.to.x, -159.99899291992188f);
    // sinf would give -1.922162652015686 here.
    EXPECT_EQ(first.to.y, -1.9221615791320801f);
}

TEST(WaveRender, divisor_near_zero_throws_second_ends_millions_of_units_out)
{
    Wave wave;
    advance(wave, 100);  // divisor -1.86e-06
    // Widen the view to +-2^25 units so nothing is clipped; window units are
    // then world units times 2^-14, still exact.
    const Feedback fed = record_feedback([&] {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-33554432.0, 33554432.0, -33554432.0, 33554432.0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        wave.render();
    });
    float farthest = 0;
    for (const FedLine& line : curve_of(fed))
        farthest = std::max(farthest, std::fabs(line.to.y) * 16384.0f);
    EXPECT_EQ(farthest, 10736301.0f);  // about 10.7 million
}

TEST(WaveRender, band_is_fifty_pairs_of_600_unit_lines_at_plus_minus_50_to_99)
{
    Wave wave;
    const Feedback fed = record_feedback([&] { wave.render(); });
    std::vector<FedLine> band;
    for (const FedLine& line : fed.lines)
        if (is_band_line(line))
            band.push_back(line);
    ASSERT_EQ(band.size(), 100u);
    for (int i = 50; i <= 99; ++i) {
        const FedLine& above = band[2 * (i - 50)];
        const FedLine& below = band[2 * (i - 50) + 1];
        EXPECT_EQ(above.from.y, static_cast<float>(i));
        EXPECT_EQ(above.to.y, static_cast<float>(i));
        EXPECT_EQ(below.from.y, static_cast<float>(-i));
        EXPECT_EQ(below.to.y, static_cast<float>(-i));
    }
}

TEST(WaveRender, band_lines_widen_by_0_2_pixels_a_pair)
{
    Wave wave;
    wave.red = wave.green = wave.blue = 1.0f;
    // 13.85 pixels per unit across y 49..101, one pixel per unit across x.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-640, 640, 49, 101, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    wave.render();
    const std::vector<uint8_t> frame = read_back_buffer();

    const int column = 640 + 250;  // right of the curve, inside the band
    const double rows_per_unit = 720.0 / 52.0;
    for (int i = 50; i <= 99; ++i) {
        const int centre = static_cast<int>((i - 49) * rows_per_unit);
        int thickness = 0;
        for (int row = centre - 7; row <= centre + 7; ++row)
            if (row >= 0 && row < 720 && pixel_at(frame, column, row).r > 128)
                ++thickness;
        const double width = 0.2 * (i - 49);
        EXPECT_NEAR(thickness, std::max(1.0, width), 1.01) << "line at " << i;
    }
}

TEST(WaveRender, leaves_the_last_band_width_and_the_wave_colour_unclamped)
{
    Wave wave;
    wave.update();
    wave.red = 1.009999394416809f;  // ramp overshoot, handed on as it is
    wave.green = -0.019999969750642776f;
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    const int projection_depth = get_int(GL_PROJECTION_STACK_DEPTH);
    const int modelview_depth = get_int(GL_MODELVIEW_STACK_DEPTH);
    wave.render();

    EXPECT_EQ(get_float(GL_LINE_WIDTH), 9.999995231628418f);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0], 1.009999394416809f);
    EXPECT_EQ(colour[1], -0.019999969750642776f);
    EXPECT_EQ(colour[2], 0.5099999904632568f);
    EXPECT_EQ(colour[3], 1.0f);
    EXPECT_FALSE(is_enabled(GL_TEXTURE_2D));
    EXPECT_FALSE(is_enabled(GL_DEPTH_TEST));
    EXPECT_FALSE(is_enabled(GL_LIGHTING));
    EXPECT_EQ(get_int(GL_PROJECTION_STACK_DEPTH), projection_depth);
    EXPECT_EQ(get_int(GL_MODELVIEW_STACK_DEPTH), modelview_depth);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(WaveRender, changes_no_animation_state_only_the_cursor)
{
    Wave wave;
    advance(wave, 250);
    const Wave before = wave;
    wave.render();
    EXPECT_EQ(wave.phase, before.phase);
    EXPECT_EQ(wave.step, before.step);
    EXPECT_EQ(wave.divisor, before.divisor);
    EXPECT_EQ(wave.lineWidth, before.lineWidth);
    EXPECT_EQ(wave.red, before.red);
    EXPECT_EQ(wave.green, before.green);
    EXPECT_EQ(wave.blue, before.blue);
    EXPECT_EQ(wave.floorCount, before.floorCount);
    EXPECT_EQ(wave.growing, before.growing);
    EXPECT_NE(wave.cursor, before.cursor);
}

TEST(WaveRender, negative_width_is_handed_on_and_refused_by_the_gl)
{
    Wave wave;
    advance(wave, 10);
    ASSERT_EQ(wave.lineWidth, -9.0f);
    while (glGetError() != GL_NO_ERROR) {
    }
    const Feedback fed = record_feedback([&] { wave.render(); });
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_VALUE));
    EXPECT_EQ(curve_of(fed).size(), 43u);  // the curve is still drawn (step 1.9)
}
