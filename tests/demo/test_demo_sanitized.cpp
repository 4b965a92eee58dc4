// The sanitizer build's whole-program check: the real demo, built with
// AddressSanitizer and UndefinedBehaviorSanitizer, plays its full thirty
// seconds under the rig's scripted clock and must end as a normal run does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo_run.h"

TEST(SanitizedDemo, plays_every_window_to_the_end_and_exits_0_with_no_sanitizer_report)
{
    // A frame every 100 ms from 0, so every window and every bound of the
    // timeline is drawn, up to the frame that ends the run.
    std::string ticks;
    for (unsigned ms = 0; ms <= 30000; ms += 100)
        ticks += std::to_string(ms) + ",";
    ticks += "30100";

    DemoRun run;
    run.use_rig(ticks);
    const Outcome outcome = run.run(600);

    EXPECT_FALSE(outcome.timed_out);
    EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal << "\n" << outcome.err;
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    for (const char* report :
         {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:"})
        EXPECT_EQ(outcome.err.find(report), std::string::npos) << outcome.err;

    // The last frame is the first whose clock passes 30 s: 30000 ms already does,
    // since 30000 x 0.001f rounds to 30.000002.
    const std::vector<Swap> swaps = run.swaps();
    ASSERT_EQ(swaps.size(), 301u);
    EXPECT_EQ(swaps.back().ticks, 30000u);
}
