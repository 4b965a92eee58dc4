// The starter example (examples/starter) under a 60 fps capture: its shader
// backdrop, our starfield and our radar each where its timeline puts them, and
// its development player showing the same frames after a seek.
#include <gtest/gtest.h>

#include <string>

#include "demo_run.h"

namespace {

// Pixels by what can draw them: the backdrop keeps every channel between 25
// and 89 (0.1 to 0.35 of full) and covers the screen; a star over it is
// brighter than 100 in every channel; the radar's trail is green, fading to
// black.
struct Pixels {
    int dark = 0;  // below the backdrop's floor
    int stars = 0;
    int radar = 0;
};

Pixels classify(const Frame& frame)
{
    Pixels pixels;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const Rgb p = frame.at(x, y);
            if (p.r < 20 && p.g < 20 && p.b < 20)
                ++pixels.dark;
            else if (p.g >= 150 && p.g > p.r + 60 && p.g > p.b + 60)
                ++pixels.radar;
            else if (p.r > 100 && p.g > 100 && p.b > 100)
                ++pixels.stars;
        }
    return pixels;
}

}  // namespace

TEST(Starter, draws_its_backdrop_stars_and_radar_in_their_windows_and_its_player_seeks_to_them)
{
    DemoRun starter({STARTER_BINARY}, STARTER_ASSETS);
    starter.use_rig("0", "540:escape", "90,300,540");
    starter.unset_env("RIG_TICKS");
    starter.set_env("RIG_FPS", "60");
    const Outcome played = starter.run();
    ASSERT_TRUE(played.exited && played.status == 0) << played.err;

    const struct {
        unsigned frame;
        bool stars, radar;
    } windows[] = {{90, true, false}, {300, true, true}, {540, false, true}};
    for (const auto& window : windows) {
        const Pixels pixels = classify(starter.frame(window.frame));
        if (!window.radar) {  // the trail's last lines are near black
            EXPECT_EQ(pixels.dark, 0) << "frame " << window.frame;
        }
        EXPECT_EQ(pixels.stars > 1000, window.stars)
            << "frame " << window.frame << ": " << pixels.stars;
        EXPECT_EQ(pixels.radar > 300, window.radar)
            << "frame " << window.frame << ": " << pixels.radar;
    }
    // The backdrop moves.
    EXPECT_NE(starter.frame(90).rgb, starter.frame(540).rgb);

    // From 5 s, and then 4 s on at once: the radar stepped to frame 540's state.
    DemoRun dev({STARTER_DEV_BINARY, "--at", "5"}, STARTER_ASSETS);
    dev.use_rig("0,4000", "1:escape", "all");
    const Outcome seeked = dev.run();
    ASSERT_TRUE(seeked.exited && seeked.status == 0) << seeked.err;
    EXPECT_TRUE(dev.frame(0).rgb == starter.frame(300).rgb);
    EXPECT_TRUE(dev.frame(1).rgb == starter.frame(540).rgb);
}
