// The preload rig's contract (capture/rig.h) as its users script it: the
// paced clock, the raw video stream, and the refusal of a malformed variable.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "demo_run.h"

TEST(RigClock, frame_k_reads_the_start_plus_k_thousand_over_fps_milliseconds_rounded_down)
{
    DemoRun run;
    run.use_rig("0", "4:escape");
    run.unset_env("RIG_TICKS");
    run.set_env("RIG_FPS", "60");
    run.set_env("RIG_START_MS", "9000");
    const Outcome outcome = run.run();
    EXPECT_EQ(outcome.status, 0) << outcome.err;

    std::vector<unsigned> ticks;
    for (const Swap& swap : run.swaps())
        ticks.push_back(swap.ticks);
    EXPECT_EQ(ticks, (std::vector<unsigned>{9000, 9016, 9033, 9050, 9066}));
}

TEST(RigVideo, streams_every_frame_raw_exactly_as_it_saves_them)
{
    DemoRun run;
    run.use_rig("3000,5000,12000", "2:escape", "all");
    run.set_env("RIG_VIDEO", run.output("video.raw"));
    const Outcome outcome = run.run();
    EXPECT_EQ(outcome.status, 0) << outcome.err;

    std::ifstream in(run.output("video.raw"), std::ios::binary);
    const std::vector<char> video((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    const size_t frame_size = 1280 * 720 * 3;
    ASSERT_EQ(video.size(), 3 * frame_size);
    for (unsigned k = 0; k < 3; ++k) {
        const Frame saved = run.frame(k);
        ASSERT_EQ(saved.rgb.size(), frame_size);
        EXPECT_TRUE(std::equal(saved.rgb.begin(), saved.rgb.end(),
                               reinterpret_cast<const uint8_t*>(video.data()) + k * frame_size))
            << "frame " << k;
    }
}

// Written line by line, a failed write shows only at the first flush: after
// the demo has started, not at load.
TEST(RigLog, a_log_that_cannot_be_written_ends_the_program_with_one_line_and_status_2)
{
    DemoRun run;
    run.use_rig("0", "2:escape");
    run.set_env("RIG_LOG", "/dev/full");
    const Outcome outcome = run.run(10);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 2) << outcome.err;
    const std::string line = "rig: RIG_LOG: write failed: No space left on device\n";
    const size_t at = outcome.err.find("rig: ");
    EXPECT_EQ(outcome.err.substr(at == std::string::npos ? 0 : at), line) << outcome.err;
}

TEST(RigConfiguration, a_malformed_variable_stops_the_program_at_load_with_one_line_and_status_2)
{
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             // The clock's grammar is tested in test_schedule; one case shows the rig uses it.
             {"RIG_TICKS", "0,1s"},
             {"RIG_EVENTS", "3:space"},
             {"RIG_FRAMES", "1x"},
             {"RIG_VIDEO_FORMAT", "yuv"},
             // Outputs are opened only by the process that draws, but checked by every one.
             {"RIG_VIDEO", "/nonexistent/video.raw"},
             // The sound follows a frame rate, which a tick list has not.
             {"RIG_AUDIO", "/nonexistent/audio.wav"}}) {
        DemoRun run;
        run.use_rig("0");
        run.set_env(name, value);
        const Outcome outcome = run.run();
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.status, 2) << name;
        EXPECT_EQ(outcome.err.rfind("rig: " + name + ": ", 0), 0u) << outcome.err;
        EXPECT_EQ(outcome.err.find("Loading"), std::string::npos)
            << "the demo ran: " << outcome.err;
    }
}
