// build/demo-dev under the rig, held to the release demo under a 60 fps
// capture: whatever way the player reached a 60 Hz frame K (a start at 15 s, a
// slow display that skips 330 frames, a loop wrap, a pause, a step, a seek
// back), it shows exactly the demo's frame K, and its music follows the seek.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "demo_run.h"

namespace {

// Signed 16-bit samples of the rig's WAV file (one data chunk after the header).
std::vector<int16_t> wav_samples(const std::string& path)
{
    const std::string bytes = read_file(path);
    const std::string::size_type data = bytes.find("data");
    std::vector<int16_t> samples;
    for (size_t i = data == std::string::npos ? bytes.size() : data + 8; i + 1 < bytes.size();
         i += 2)
        samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                               static_cast<uint8_t>(bytes[i + 1]) << 8));
    return samples;
}

// The best normalised correlation of `piece` with `track` at stereo frames
// from-to, and the frame where it is best.
struct Match {
    double correlation = -1;
    long frame = 0;
};

Match best_match(const std::vector<int16_t>& piece, const std::vector<int16_t>& track, long from,
                 long to)
{
    Match best;
    for (long frame = from; frame <= to; ++frame) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 0; i < piece.size(); ++i) {
            const double x = piece[i], y = track[2 * frame + i];
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
        const double r = xy / std::sqrt(xx * yy + 1);
        if (r > best.correlation)
            best = Match{r, frame};
    }
    return best;
}

}  // namespace

TEST(DemoDev, shows_the_demos_60_fps_frames_however_it_got_there_and_seeks_the_music)
{
    // The player's display frames: the ticks each reads, the keys pressed in
    // it, and the 60 Hz frame it must show.
    struct Step {
        unsigned ticks;
        std::string keys;
        unsigned frame;
    };
    const std::vector<Step> steps = {
        {0, "", 900},              // --at 15
        {5500, "", 1230},          // 20.5 s: 330 frames stepped, into the radar
        {6100, "", 906},           // 21.1 s wraps to 15.1 (--loop 15:21)
        {6200, "key-space", 912},  // paused at 15.2 s
        {9000, "key-period", 913},
        {9500, "key-left", 853},  // one second back from frame 913's start
    };
    std::string ticks, events, frames;
    const auto add = [](std::string& list, const std::string& item) {
        list += (list.empty() ? "" : ",") + item;
    };
    for (size_t j = 0; j < steps.size(); ++j) {
        add(ticks, std::to_string(steps[j].ticks));
        if (!steps[j].keys.empty())
            add(events, std::to_string(j) + ":" + steps[j].keys);
        add(frames, std::to_string(steps[j].frame));
    }
    add(ticks, "9600");
    add(events, std::to_string(steps.size()) + ":escape");

    DemoRun demo;
    demo.use_rig("0", "1230:escape", frames);
    demo.unset_env("RIG_TICKS");
    demo.set_env("RIG_FPS", "60");
    demo.set_env("RIG_AUDIO", demo.output("music.wav"));
    demo.start();

    DemoRun dev({DEMO_DEV_BINARY, "--at", "15", "--loop", "15:21"}, assets_dir());
    dev.use_rig(ticks, events, "all");
    dev.preload(SWAP_HOOK_LIBRARY);
    dev.set_env("SWAP_TITLES", dev.output("titles"));
    const Outcome played = dev.run();
    EXPECT_TRUE(played.exited && played.status == 0) << played.err;
    const Outcome reference = demo.wait();
    ASSERT_TRUE(reference.exited && reference.status == 0) << reference.err;

    for (size_t j = 0; j < steps.size(); ++j)
        EXPECT_TRUE(dev.frame(j).rgb == demo.frame(steps[j].frame).rgb)
            << "display frame " << j << " is not the demo's frame " << steps[j].frame;
    const std::string titles = read_file(dev.output("titles"));
    EXPECT_NE(titles.find("frame 4 title demo-dev  15.217 s  frame 913  paused  loop\n"),
              std::string::npos)
        << titles;

    // A piece of the player's music right after the start at 15 s (it begins
    // after the silence before the first frame) is the demo's music there.
    const std::vector<int16_t> music = wav_samples(demo.output("music.wav"));
    const std::vector<int16_t> played_audio = dev.audio();
    size_t start = 0;
    while (start < played_audio.size() && std::abs(played_audio[start]) < 64)
        ++start;
    const long rate = 44100, offset = rate / 20, length = rate / 5;  // 50 ms in, 200 ms long
    ASSERT_GE(played_audio.size(), start + 2 * (offset + length));
    ASSERT_GE(music.size(), static_cast<size_t>(2 * 16 * rate));
    const std::vector<int16_t> piece(played_audio.begin() + start + 2 * offset,
                                     played_audio.begin() + start + 2 * (offset + length));
    const long at = 15 * rate + offset;
    const Match seeked = best_match(piece, music, at - rate / 10, at + rate / 10);
    EXPECT_GT(seeked.correlation, 0.9);
    // MP3 frames are 26 ms long: the music may start up to one early.
    EXPECT_NEAR(seeked.frame, at, rate * 0.06)
        << "the music is the demo's " << seeked.frame / double(rate) << " s";
    EXPECT_LT(best_match(piece, music, offset, offset + rate / 10).correlation, 0.5)
        << "the player's music matches the demo's start as well";
}
