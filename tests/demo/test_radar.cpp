// Radar sweep: the sweep's oscillation and the blip's fade to the bit, the
// trail the GL receives (feedback mode), bearings, quadrants and detection.
#include <gtest/gtest.h>

#include "radar.h"
#include "feedback.h"
#include "gl_window.h"

namespace {

void advance(Radar& radar, int calls)
{
    for (int i = 0; i < calls; ++i)
        radar.update();
}

// A sweep whose trail covers bearings 72.7 to 78.4 degrees in quadrant 1,
// over the fixed target's 75.64.
constexpr float kSweepOverTarget = 4.41f;

// The same bearings, half a turn on: quadrant 3.
constexpr float kSweepOppositeTarget = 4.41f + 3.14159265f;

}  // namespace

// ---- update ---------------------------------------------------------------

TEST(RadarUpdate, sweep_turns_back_on_call_14904_after_passing_1500)
{
    Radar radar;
    advance(radar, 14902);
    EXPECT_LT(radar.sweep, 1500.0f);
    radar.update();  // 14,903 additions
    EXPECT_EQ(radar.sweep, 1500.080810546875f);
    EXPECT_TRUE(radar.sweepForward);
    radar.update();  // 14,904: turns, does not move
    EXPECT_FALSE(radar.sweepForward);
    EXPECT_EQ(radar.sweep, 1500.080810546875f);
    radar.update();
    EXPECT_EQ(radar.sweep, 1500.03076171875f);
}

TEST(RadarUpdate, sweep_turns_forward_on_call_44901_just_below_zero)
{
    Radar radar;
    advance(radar, 44900);
    EXPECT_FALSE(radar.sweepForward);
    EXPECT_EQ(radar.sweep, -0.007120110094547272f);
    radar.update();  // 44,901: turns, does not move
    EXPECT_TRUE(radar.sweepForward);
    EXPECT_EQ(radar.sweep, -0.007120110094547272f);
    radar.update();
    EXPECT_EQ(radar.sweep, -0.007120110094547272f + 0.1f);
}

TEST(RadarUpdate, sweep_turns_at_exactly_1500_and_exactly_0)
{
    Radar radar;
    radar.sweep = 1500.0f;
    radar.update();
    EXPECT_FALSE(radar.sweepForward);
    EXPECT_EQ(radar.sweep, 1500.0f);

    radar.sweep = 0.0f;
    radar.update();
    EXPECT_TRUE(radar.sweepForward);
    EXPECT_EQ(radar.sweep, 0.0f);

    // Just inside the bounds it keeps moving.
    radar.sweep = 1499.9f;
    radar.update();
    EXPECT_TRUE(radar.sweepForward);
    EXPECT_EQ(radar.sweep, 1499.9f + 0.1f);

    radar.sweepForward = false;
    radar.sweep = 0.01f;
    radar.update();
    EXPECT_FALSE(radar.sweepForward);
    EXPECT_EQ(radar.sweep, 0.01f - 0.05f);
}

TEST(RadarUpdate, blip_fades_by_0_15_a_call_without_a_lower_bound)
{
    Radar radar;
    radar.update();
    EXPECT_EQ(radar.blipBrightness, 0.8500000238418579f);
    advance(radar, 5);
    EXPECT_EQ(radar.blipBrightness, 0.1000000536441803f);
    radar.update();  // seventh call
    EXPECT_EQ(radar.blipBrightness, -0.04999995231628418f);
    advance(radar, 100);
    EXPECT_LT(radar.blipBrightness, -15.0f);
}

// ---- render ---------------------------------------------------------------

TEST(RadarRender, first_frame_draws_eleven_trail_lines_from_the_origin_and_the_blip)
{
    Radar radar;
    radar.update();
    const Feedback fed = record_feedback([&] { radar.render(); });

    ASSERT_EQ(fed.lines.size(), 11u);
    for (const FedLine& line : fed.lines) {
        EXPECT_EQ(line.from.x, 0.0f);
        EXPECT_EQ(line.from.y, 0.0f);
    }
    // Leading edge at theta 13.341501235961914, trailing edge at the sweep.
    EXPECT_EQ(fed.lines.front().to.x, 69.98094177246094f);
    EXPECT_EQ(fed.lines.front().to.y, 71.4329605102539f);
    EXPECT_EQ(fed.lines.back().to.x, 62.499900817871094f);
    EXPECT_EQ(fed.lines.back().to.y, 78.06255340576172f);
    // Line 4 (offset 0.06) shows the sum's order: (offset + sweep) + 3.1415
    // gives theta 13.30150032043457; offset + (sweep + 3.1415) would not.
    EXPECT_EQ(fed.lines[4].to.x, 67.06833648681641f);
    EXPECT_EQ(fed.lines[4].to.y, 74.17437744140625f);

    ASSERT_EQ(fed.points.size(), 1u);
    EXPECT_EQ(fed.points[0].x, 500.0f);
    EXPECT_EQ(fed.points[0].y, 128.0f);
    EXPECT_EQ(fed.points[0].r, 0.8500000238418579f);
}

TEST(RadarRender, first_frame_works_out_bearings_quadrants_and_no_detection)
{
    Radar radar;
    radar.update();
    radar.render();
    EXPECT_EQ(radar.tipX, 62.499900817871094f);
    EXPECT_EQ(radar.tipY, 78.06255340576172f);
    EXPECT_EQ(radar.endAngle, 44.41302490234375f);
    EXPECT_EQ(radar.startAngle, 38.68325424194336f);
    EXPECT_EQ(radar.targetAngle, 75.64289855957031f);
    EXPECT_EQ(radar.tipQuadrant, 1);
    EXPECT_EQ(radar.targetQuadrant, 1);
    EXPECT_FALSE(radar.firstLine);
    // Ten mixed-precision steps of 0.01 leave 3.5e-9, so an eleventh line.
    EXPECT_EQ(radar.trailOffset, -0.009999996051192284f);
    EXPECT_EQ(radar.blipBrightness, 0.8500000238418579f);  // 75.64 is not below 44.41
}

TEST(RadarRender, trail_fades_from_bright_green_and_the_gl_clamps_what_goes_negative)
{
    Radar radar;
    radar.update();
    const Feedback fed = record_feedback([&] { radar.render(); });
    ASSERT_EQ(fed.lines.size(), 11u);

    const FedVertex& leading = fed.lines[0].to;
    EXPECT_EQ(leading.r, 0.4f);
    EXPECT_EQ(leading.g, 1.0f);
    EXPECT_EQ(leading.b, 0.4f);
    EXPECT_EQ(leading.a, 1.0f);
    // Repeated single subtraction leaves a trace of red and blue on line 4.
    EXPECT_EQ(fed.lines[4].to.r, 1.4901161193847656e-08f);
    EXPECT_EQ(fed.lines[4].to.b, 1.4901161193847656e-08f);
    EXPECT_EQ(fed.lines[4].to.g, 0.5999999046325684f);
    for (size_t k = 5; k < 11; ++k) {
        EXPECT_EQ(fed.lines[k].to.r, 0.0f) << "line " << k;
        EXPECT_EQ(fed.lines[k].to.b, 0.0f) << "line " << k;
    }
    EXPECT_EQ(fed.lines[9].to.g, 0.09999992698431015f);
    EXPECT_EQ(fed.lines[10].to.g, 0.0f);  // -7.45e-08 before the GL clamps it

    // The fields keep counting down past the last line, unclamped.
    EXPECT_EQ(radar.trailRed, -0.699999988079071f);
    EXPECT_EQ(radar.trailGreen, -0.10000007599592209f);
    EXPECT_EQ(radar.trailBlue, -0.699999988079071f);
}

TEST(RadarRender, bearing_on_the_x_axis_is_90_00266_not_90)
{
    Radar radar;
    radar.targetX = 5.0f;
    radar.targetY = 0.0f;
    radar.render();
    EXPECT_EQ(radar.targetAngle, 90.00265502929688f);

    radar.targetX = -5.0f;
    radar.render();
    EXPECT_EQ(radar.targetAngle, -90.00265502929688f);
}

TEST(RadarRender, quadrants_run_clockwise_from_plus_y_and_skip_points_on_an_axis)
{
    struct Case {
        float x, y;
        int32_t quadrant;
    };
    const Case cases[] = {{5, 5, 1},  {5, -5, 2}, {-5, -5, 3}, {-5, 5, 4},
                          {5, 0, 77}, {0, 5, 77}, {-5, 0, 77}, {0, -5, 77}};
    for (const Case& c : cases) {
        Radar radar;
        radar.targetQuadrant = 77;  // what an axis point must leave alone
        radar.targetX = c.x;
        radar.targetY = c.y;
        radar.render();
        EXPECT_EQ(radar.targetQuadrant, c.quadrant) << "(" << c.x << ", " << c.y << ")";
    }

    Radar opposite;
    opposite.sweep = kSweepOppositeTarget;
    opposite.render();
    EXPECT_EQ(opposite.tipQuadrant, 3);
}

TEST(RadarRender, blip_lights_when_a_later_frames_trail_passes_over_the_target)
{
    Radar radar;
    radar.update();
    radar.render();  // first frame: trail at 38.7..44.4 degrees, no detection
    ASSERT_EQ(radar.blipBrightness, 0.8500000238418579f);

    radar.update();
    radar.sweep = kSweepOverTarget;
    radar.render();
    // The bearings and quadrant are this frame's, not the first frame's.
    EXPECT_EQ(radar.tipQuadrant, 1);
    EXPECT_GT(radar.endAngle, radar.targetAngle);
    EXPECT_LT(radar.startAngle, radar.targetAngle);
    EXPECT_EQ(radar.blipBrightness, 1.0f);

    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0], 1.0f);
}

TEST(RadarRender, same_bearing_in_another_quadrant_is_no_detection)
{
    Radar radar;
    radar.blipBrightness = -2.0f;
    radar.sweep = kSweepOppositeTarget;
    radar.render();
    EXPECT_EQ(radar.tipQuadrant, 3);
    EXPECT_EQ(radar.targetQuadrant, 1);
    EXPECT_GT(radar.endAngle, radar.targetAngle);
    EXPECT_LT(radar.startAngle, radar.targetAngle);
    EXPECT_EQ(radar.blipBrightness, -2.0f);
}

TEST(RadarRender, target_exactly_on_the_trails_edge_is_no_detection)
{
    // Doubling both coordinates keeps the quotient, so the target's bearing
    // equals the edge line's bearing to the bit.
    Radar probe;
    probe.sweep = kSweepOverTarget;
    const Feedback fed = record_feedback([&] { probe.render(); });
    ASSERT_EQ(fed.lines.size(), 11u);
    const FedVertex leading = fed.lines.front().to;
    const FedVertex trailing = fed.lines.back().to;

    Radar at_end;
    at_end.blipBrightness = 0.25f;
    at_end.sweep = kSweepOverTarget;
    at_end.targetX = 2.0f * leading.x;
    at_end.targetY = 2.0f * leading.y;
    at_end.render();
    ASSERT_EQ(at_end.targetAngle, at_end.endAngle);
    EXPECT_EQ(at_end.blipBrightness, 0.25f);

    Radar at_start;
    at_start.blipBrightness = 0.25f;
    at_start.sweep = kSweepOverTarget;
    at_start.targetX = 2.0f * trailing.x;
    at_start.targetY = 2.0f * trailing.y;
    at_start.render();
    ASSERT_EQ(at_start.targetAngle, at_start.startAngle);
    EXPECT_EQ(at_start.blipBrightness, 0.25f);
}

TEST(RadarRender, leaves_width_2_point_size_9_the_blip_grey_and_no_texturing)
{
    Radar radar;
    radar.update();
    glEnable(GL_TEXTURE_2D);
    const int projection_depth = get_int(GL_PROJECTION_STACK_DEPTH);
    const int modelview_depth = get_int(GL_MODELVIEW_STACK_DEPTH);
    radar.render();

    EXPECT_EQ(get_float(GL_LINE_WIDTH), 2.0f);
    EXPECT_EQ(get_float(GL_POINT_SIZE), 9.0f);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0], 0.8500000238418579f);
    EXPECT_EQ(colour[1], 0.8500000238418579f);
    EXPECT_EQ(colour[2], 0.8500000238418579f);
    EXPECT_EQ(colour[3], 1.0f);
    EXPECT_FALSE(is_enabled(GL_TEXTURE_2D));
    EXPECT_EQ(get_int(GL_PROJECTION_STACK_DEPTH), projection_depth);
    EXPECT_EQ(get_int(GL_MODELVIEW_STACK_DEPTH), modelview_depth);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
