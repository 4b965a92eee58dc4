// The rig's sound track (RIG_AUDIO as a WAV file) from SDL 2's and OpenAL's
// devices: every format a program plays comes out as its own samples, two
// devices at two rates are mixed, and rates no device plays are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "demo_run.h"
#include "tone.h"

namespace {

struct Case {
    std::vector<std::string> program;
    int rate, channels;
    uint16_t track;  // the WAV's sample format, as tone::put names it
};

constexpr uint16_t kU8 = 0x0008, kS16 = 0x8010, kS32 = 0x8020, kF32 = 0x8120;

// One second at 30 frames a second, then quit; what the run left and said.
struct Played {
    Outcome outcome;
    std::string log, wav;
};

Played play(const std::vector<std::string>& program)
{
    DemoRun run(program);
    run.use_rig("0", "30:quit");
    run.unset_env("RIG_TICKS");
    run.set_env("RIG_FPS", "30");
    run.set_env("RIG_AUDIO", run.output("sound.wav"));
    run.set_env("ALSOFT_DRIVERS", "null");
    Played played;
    played.outcome = run.run();
    played.log = read_file(run.output("rig.log"));
    played.wav = read_file(run.output("sound.wav"));
    return played;
}

unsigned field(const std::string& wav, size_t at, int bytes)
{
    unsigned value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | uint8_t(wav.at(at + i));
    return value;
}

}  // namespace

TEST(Sound, every_format_a_program_plays_is_recorded_as_its_own_samples)
{
    const std::string sdl2 = TONE_SDL2_PROGRAM;
    // s8 becomes u8 and big-endian little-endian, exactly; OpenAL renders floats.
    const std::vector<Case> cases{{{sdl2, "callback", "u8", "1", "8000"}, 8000, 1, kU8},
                                  {{sdl2, "queue", "s8", "2", "22050"}, 22050, 2, kU8},
                                  {{sdl2, "callback", "s16", "6", "44100"}, 44100, 6, kS16},
                                  {{sdl2, "queue", "s16be", "8", "192000"}, 192000, 8, kS16},
                                  {{sdl2, "callback", "s32", "2", "48000"}, 48000, 2, kS32},
                                  {{sdl2, "queue", "f32", "1", "11025"}, 11025, 1, kF32},
                                  {{TONE_OPENAL_PROGRAM, "32000"}, 32000, 2, kF32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program.size() > 2 ? c.program[2] : c.program[0]);
        const Played played = play(c.program);
        EXPECT_EQ(played.outcome.status, 0) << played.outcome.err;
        ASSERT_GT(played.wav.size(), 44u) << played.log;
        EXPECT_EQ(field(played.wav, 20, 2), c.track == kF32 ? 3u : 1u);
        EXPECT_EQ(field(played.wav, 22, 2), unsigned(c.channels));
        EXPECT_EQ(field(played.wav, 24, 4), unsigned(c.rate));
        EXPECT_EQ(field(played.wav, 34, 2), unsigned(c.track & 0xFF));

        // Frames 0 to 30 were pulled: a second and a frame of sound, all the program's.
        const size_t frame_bytes = size_t(c.channels) * (c.track & 0xFF) / 8;
        const size_t frames = (played.wav.size() - 44) / frame_bytes;
        EXPECT_EQ(frames, size_t(c.rate) * 31 / 30);
        std::vector<unsigned char> expected(frame_bytes);
        size_t wrong = 0;
        for (size_t n = 0; n < frames && wrong == 0; ++n) {
            for (int ch = 0; ch < c.channels; ++ch)
                tone::put(c.track, n, ch, &expected[size_t(ch) * (c.track & 0xFF) / 8]);
            if (std::memcmp(expected.data(), played.wav.data() + 44 + n * frame_bytes, frame_bytes))
                wrong = n + 1;
        }
        EXPECT_EQ(wrong, 0u) << "sample frame " << wrong - 1 << " differs";
    }
}

TEST(Sound, two_devices_at_two_rates_are_mixed_at_the_first_ones_rate_said_once)
{
    const Played played = play({TONE_SDL2_PROGRAM, "callback", "s16", "2", "44100", "48000"});
    EXPECT_EQ(played.outcome.status, 0) << played.outcome.err;
    EXPECT_EQ(count(played.log, "sound resampled 48000 44100\n"), 1u) << played.log;
    ASSERT_GT(played.wav.size(), 44u);
    EXPECT_EQ(field(played.wav, 24, 4), 44100u);
    // The second device's tone is in the mix: the track is the first one's plus
    // as much again (the same tone, resampled).
    double first = 0, rest = 0;
    for (size_t n = 0; 44 + 4 * n + 4 <= played.wav.size(); ++n) {
        const double mine = tone::sample(n);
        const double heard = int16_t(field(played.wav, 44 + 4 * n, 2));
        first += mine * mine;
        rest += (heard - mine) * (heard - mine);
    }
    EXPECT_NEAR(rest / first, 1.0, 0.05);
}

TEST(Sound, a_rate_no_device_plays_is_refused_at_open_said_once_and_the_picture_goes_on)
{
    const std::string sdl2 = TONE_SDL2_PROGRAM, openal = TONE_OPENAL_PROGRAM;
    // Each SDL 2 case opens two devices at the rate: both fail, one line says so.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{sdl2, "callback", "s16", "1", "7999", "7999"}, "7999"},
        {{sdl2, "queue", "s16", "2", "192001", "192001"}, "192001"},
        {{openal, "10"}, "10"},
        {{openal, "2147483647"}, "2147483647"}};
    for (const auto& [program, rate] : cases) {
        SCOPED_TRACE(rate);
        const Played played = play(program);
        EXPECT_EQ(played.outcome.status, 0) << played.outcome.err;
        const std::string failed = "no sound at " + rate + " Hz: ";
        EXPECT_EQ(count(played.outcome.err, failed), program.size() == 6 ? 2u : 1u)
            << played.outcome.err;
        if (program[0] == openal) {  // ALC_INVALID_VALUE
            EXPECT_EQ(count(played.outcome.err, failed + "ALC error 0xa004"), 1u);
        }
        EXPECT_EQ(count(played.log, "sound refused " + rate + "\n"), 1u) << played.log;
        EXPECT_EQ(count(played.log, "frame 30 ticks 1000\n"), 1u) << played.log;
        EXPECT_TRUE(played.wav.empty());
    }
}
