// The scripted frame clock's grammar (capture/schedule.h), which the rig and
// the web page's test mode share: what each accepts, and how it refuses.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "schedule.h"

namespace {

struct Case {
    const char* ticks;
    const char* fps;
    const char* start;
    // Accepted: the clock of frames 0, 1, 2, 3 and 1000. Refused: the message.
    std::vector<uint32_t> clock;
    std::string refusal;
};

const uint64_t kFrames[] = {0, 1, 2, 3, 1000};

}  // namespace

TEST(Schedule, accepts_a_list_or_a_rate_from_a_start_and_refuses_the_rest_naming_the_setting)
{
    const schedule::Names names{"TICKS", "FPS", "START"};
    const Case cases[] = {
        // A list: frame K reads entry K, past the end the last; values may go back.
        {"0", nullptr, nullptr, {0, 0, 0, 0, 0}, ""},
        {"5000,10,4294967295",
         nullptr,
         nullptr,
         {5000, 10, 4294967295, 4294967295, 4294967295},
         ""},
        {"007", nullptr, nullptr, {7, 7, 7, 7, 7}, ""},
        // A rate: start + floor(K * 1000 / fps), in whole milliseconds.
        {nullptr, "60", nullptr, {0, 16, 33, 50, 16666}, ""},
        {nullptr, "60", "9000", {9000, 9016, 9033, 9050, 25666}, ""},
        {nullptr, "1", "0", {0, 1000, 2000, 3000, 1000000}, ""},
        {nullptr, "4294967295", nullptr, {0, 0, 0, 0, 0}, ""},
        // A fraction N/D: start + floor(K * 1000 * D / N); in lowest terms or not.
        {nullptr, "60000/1001", nullptr, {0, 16, 33, 50, 16683}, ""},
        {nullptr, "30000/1001", "1000", {1000, 1033, 1066, 1100, 34366}, ""},
        {nullptr, "120/2", nullptr, {0, 16, 33, 50, 16666}, ""},
        {nullptr, "4294967295/4294967295", nullptr, {0, 1000, 2000, 3000, 1000000}, ""},
        // Neither: the real clock.
        {nullptr, nullptr, nullptr, {}, ""},

        {"0,1s", nullptr, nullptr, {}, "TICKS: \"1s\" is not a number"},
        {"1,,2", nullptr, nullptr, {}, "TICKS: \"\" is not a number"},
        {"", nullptr, nullptr, {}, "TICKS: \"\" is not a number"},
        {"-1", nullptr, nullptr, {}, "TICKS: \"-1\" is not a number"},
        {" 1", nullptr, nullptr, {}, "TICKS: \" 1\" is not a number"},
        {"4294967296", nullptr, nullptr, {}, "TICKS: 4294967296 is out of range"},
        {"99999999999999999999",
         nullptr,
         nullptr,
         {},
         "TICKS: 99999999999999999999 is out of range"},
        {nullptr, "0", nullptr, {}, "FPS: must be at least 1"},
        {nullptr, "60fps", nullptr, {}, "FPS: \"60fps\" is not a number"},
        {nullptr, "60/0", nullptr, {}, "FPS: must be at least 1"},
        {nullptr, "60/", nullptr, {}, "FPS: \"60/\" is not a fraction N/D"},
        {nullptr, "1/2/3", nullptr, {}, "FPS: \"1/2/3\" is not a fraction N/D"},
        {nullptr, "60", "1.5", {}, "START: \"1.5\" is not a number"},
        {"0", "60", nullptr, {}, "TICKS and FPS exclude each other: set one"},
        {nullptr, nullptr, "9000", {}, "START needs FPS"},
    };
    for (const Case& c : cases) {
        const std::string name = std::string(c.ticks ? c.ticks : "-") + " / " +
                                 (c.fps ? c.fps : "-") + " / " + (c.start ? c.start : "-");
        try {
            const schedule::Clock clock = schedule::Clock::parse(c.ticks, c.fps, c.start, names);
            EXPECT_EQ(c.refusal, "") << name << " was accepted";
            EXPECT_EQ(clock.real(), c.clock.empty()) << name;
            if (clock.real())
                continue;
            std::vector<uint32_t> read;
            for (uint64_t frame : kFrames) {
                read.push_back(clock.at(frame));
                // The clock in nanoseconds has the milliseconds as its whole part.
                EXPECT_EQ(static_cast<uint32_t>(clock.nanoseconds(frame) / 1000000), read.back())
                    << name << " frame " << frame;
            }
            EXPECT_EQ(read, c.clock) << name;
        } catch (const schedule::Refused& refused) {
            EXPECT_EQ(refused.what(), c.refusal) << name;
        }
    }
}

TEST(Schedule, a_rate_in_nanoseconds_keeps_the_fraction_of_a_millisecond)
{
    const schedule::Clock clock = schedule::Clock::parse(nullptr, "60", "9000", {"T", "F", "S"});
    EXPECT_EQ(clock.nanoseconds(1), 9016666666u);
    EXPECT_EQ(clock.nanoseconds(3), 9050000000u);
}
