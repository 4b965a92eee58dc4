// The application shell, tested on the real demo binary: window, music, events,
// start-up failures, and the camera path.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "demo_run.h"
#include "main.h"

namespace {

// Frame clocks of a few iterations inside the starfield's window, where every
// frame shows something.
const char* const kFewFrames = "5000,5100,5200,5300,5400,5500,5600,5700";

std::vector<unsigned> swapped_frames(const DemoRun& run)
{
    std::vector<unsigned> frames;
    for (const Swap& swap : run.swaps())
        frames.push_back(swap.frame);
    return frames;
}

std::vector<std::string> injected_in(const DemoRun& run, unsigned frame)
{
    std::vector<std::string> names;
    for (const Injected& event : run.injected())
        if (event.frame == frame)
            names.push_back(event.name);
    return names;
}

void expect_clean_exit(const Outcome& outcome)
{
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
}

// One line of our own, exit status 1, quickly, and no crash on the way out.
void expect_startup_failure(const Outcome& outcome, const std::string& expected)
{
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.signal, 0) << "killed by a signal: " << outcome.err;
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_LT(outcome.seconds, 5.0);
    const std::vector<std::string> lines = outcome.demo_lines();
    ASSERT_EQ(lines.size(), 1u) << outcome.err;
    EXPECT_NE(lines[0].find(expected), std::string::npos) << lines[0];
    EXPECT_EQ(outcome.err.find("terminate called"), std::string::npos) << outcome.err;
}

}  // namespace

TEST(Window, started_from_its_media_folder_the_demo_draws_1280x720_frames)
{
    DemoRun run;
    run.use_rig(kFewFrames, "1:escape", "0");
    expect_clean_exit(run.run());

    const Frame first = run.frame(0);
    EXPECT_EQ(first.width, 1280);
    EXPECT_EQ(first.height, 720);
    EXPECT_FALSE(first.all_black());  // the stars at t = 5
}

TEST(Events, escape_pressed_and_released_in_one_iteration_ends_the_demo_after_that_frame)
{
    DemoRun run;
    run.use_rig(kFewFrames, "2:escape", "2");
    expect_clean_exit(run.run());

    EXPECT_EQ(injected_in(run, 2), (std::vector<std::string>{"escape-down", "escape-up"}));
    // Frame 2 is still drawn and swapped, and nothing after it.
    EXPECT_EQ(swapped_frames(run), (std::vector<unsigned>{0, 1, 2}));
    EXPECT_FALSE(run.frame(2).all_black());
}

TEST(Events, closing_the_window_ends_the_demo_after_that_frame)
{
    DemoRun run;
    run.use_rig(kFewFrames, "3:quit");
    expect_clean_exit(run.run());

    EXPECT_EQ(injected_in(run, 3), std::vector<std::string>{"quit"});
    EXPECT_EQ(swapped_frames(run), (std::vector<unsigned>{0, 1, 2, 3}));
}

TEST(Events, escape_and_window_close_together_are_drained_in_one_iteration_with_the_same_outcome)
{
    DemoRun run;
    run.use_rig(kFewFrames, "2:escape,2:quit");
    expect_clean_exit(run.run());

    EXPECT_EQ(injected_in(run, 2), (std::vector<std::string>{"escape-down", "escape-up", "quit"}));
    EXPECT_EQ(swapped_frames(run), (std::vector<unsigned>{0, 1, 2}));
}

TEST(Events, other_keys_mouse_window_events_and_a_lone_escape_release_change_nothing)
{
    DemoRun run;
    run.use_rig(kFewFrames, "1:key-a,1:mouse,1:expose,1:escape-up,4:escape");
    expect_clean_exit(run.run());

    EXPECT_EQ(injected_in(run, 1),
              (std::vector<std::string>{"key-a-down", "key-a-up", "mouse", "expose", "escape-up"}));
    EXPECT_EQ(swapped_frames(run), (std::vector<unsigned>{0, 1, 2, 3, 4}));
}

// The SDL signal handler turns SIGTERM into the same SDL_QUIT that closing the
// window queues, so this ends the demo through the real event queue.
TEST(Music, plays_from_start_up_and_a_real_quit_event_ends_the_demo_with_status_0)
{
    DemoRun run;
    run.start();
    const std::string audio = run.audio_file();
    const long two_seconds = 44100 * 2 * 2 * 2;  // 16-bit stereo
    for (int waited = 0; waited < 1500; ++waited) {
        if (FILE* file = std::fopen(audio.c_str(), "rb")) {
            std::fseek(file, 0, SEEK_END);
            const long size = std::ftell(file);
            std::fclose(file);
            if (size >= two_seconds)
                break;
        }
        usleep(10000);
    }
    // The SDL 1.2 this suite is for is the one the demo runs on.
    const std::string sdl = loaded_sdl(run.pid());
    EXPECT_FALSE(sdl.empty());
    EXPECT_EQ(sdl.rfind(sdl12_compat_dir() + "/", 0) == 0, on_sdl12_compat()) << sdl;
    ASSERT_EQ(kill(run.pid(), SIGTERM), 0);
    // Well before the demo's own end at 30 s.
    expect_clean_exit(run.wait(5));

    const std::vector<int16_t> samples = run.audio();
    ASSERT_GE(samples.size(), static_cast<size_t>(two_seconds / 2));
    int peak = 0;
    double sum = 0;
    for (int16_t sample : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
        sum += static_cast<double>(sample) * sample;
    }
    // The music opens quietly (peak about -20 dBFS, RMS about -32 dBFS over its
    // first two seconds); silence or a stray click stays far below both bounds.
    const double rms = std::sqrt(sum / static_cast<double>(samples.size()));
    EXPECT_GT(peak, 1000);
    EXPECT_GT(rms, 200.0);
}

TEST(Music, without_the_music_file_the_demo_runs_its_whole_course_in_silence)
{
    DemoRun run;
    run.remove_media("biisi.mp3");
    // A frame every second, then the last ticks still under 30 s and the first
    // past it (30000 ticks make 30.000002 in single precision).
    std::string ticks;
    for (int second = 0; second <= 29; ++second)
        ticks += std::to_string(second * 1000) + ",";
    run.use_rig(ticks + "29999,30000,31000");
    expect_clean_exit(run.run());

    const std::vector<Swap> swaps = run.swaps();
    ASSERT_EQ(swaps.size(), 32u);
    EXPECT_EQ(swaps[30].ticks, 29999u);
    EXPECT_EQ(swaps.back().ticks, 30000u);
    for (int16_t sample : run.audio())
        ASSERT_EQ(sample, 0);
}

// No usable sound device: here an audio driver that cannot start (as SDL 2's
// pulseaudio driver with no server, asked for by name). Classic SDL keeps the
// video that came up; sdl12-compat's SDL_Init undoes all of it.
TEST(Music, without_a_sound_device_the_demo_plays_in_silence)
{
    DemoRun run;
    run.set_env("SDL_AUDIODRIVER", "no-such-driver");
    run.use_rig(kFewFrames, "3:escape", "3");
    const Outcome outcome = run.run();
    expect_clean_exit(outcome);
    EXPECT_TRUE(outcome.demo_lines().empty()) << outcome.err;
    EXPECT_EQ(swapped_frames(run), (std::vector<unsigned>{0, 1, 2, 3}));
    EXPECT_FALSE(run.frame(3).all_black());
    EXPECT_TRUE(run.audio().empty());
}

TEST(StartUpFailure, an_unknown_video_driver_means_sdl_cannot_be_initialised)
{
    DemoRun run;
    run.set_env("SDL_VIDEODRIVER", "bogus");
    const Outcome outcome = run.run();
    expect_startup_failure(outcome, "demo: cannot initialise SDL");
    // SDL's own reason alone: the display is there, and the hint fits only X11.
    EXPECT_EQ(outcome.demo_lines().at(0).find("DISPLAY"), std::string::npos) << outcome.err;
}

TEST(StartUpFailure, no_x_display_means_sdl_cannot_be_initialised)
{
    DemoRun run;
    run.unset_env("DISPLAY");
    run.unset_env("SDL_VIDEODRIVER");
    const Outcome outcome = run.run();
    expect_startup_failure(outcome, "demo: cannot initialise SDL");
    // The line says where to look.
    EXPECT_NE(outcome.demo_lines().at(0).find("DISPLAY"), std::string::npos);
}

TEST(StartUpFailure, a_video_driver_without_opengl_cannot_open_the_window)
{
    DemoRun run;
    run.set_env("SDL_VIDEODRIVER", "dummy");
    // The reason is SDL's own words, and the two SDLs word it differently.
    expect_startup_failure(
        run.run(), std::string("demo: cannot open a 1280x720 OpenGL window: ") +
                       (on_sdl12_compat() ? "OpenGL support is either not configured in SDL "
                                            "or not available in current SDL video driver (dummy)"
                                          : "OpenGL not available"));
}

TEST(StartUpFailure, a_failing_glew_is_reported_with_its_reason)
{
    DemoRun run;
    run.preload(glew_fail_library());
    expect_startup_failure(run.run(),
                           "demo: cannot load the OpenGL entry points (GLEW): "
                           "GL 1.1 and up are not supported");
}

TEST(StartUpFailure, a_missing_image_ends_the_demo_before_the_first_frame)
{
    DemoRun run;
    run.remove_media("text1.png");
    run.use_rig(kFewFrames);
    const Outcome outcome = run.run();
    expect_startup_failure(outcome, "File not found: text1.png");
    EXPECT_TRUE(run.swaps().empty());
}

TEST(StartUpFailure, an_image_without_power_of_two_sides_ends_the_demo_before_the_first_frame)
{
    DemoRun run;
    run.replace_media("text2.png", support_file("640x512.png"));
    run.use_rig(kFewFrames);
    const Outcome outcome = run.run();
    expect_startup_failure(outcome, "Image size must be in power of two");
    EXPECT_TRUE(run.swaps().empty());
}

// Only a missing image sends the user to look for the media folder; one that is
// there is named with what stopped it, and one that is no regular file (a FIFO
// would block the loader's open) is refused before it is opened.
TEST(StartUpFailure, an_image_that_is_there_but_unusable_is_reported_with_its_reason_and_no_hint)
{
    enum class Make { nothing, empty, truncated, fifo, folder };
    const struct {
        Make make;
        std::string line;
    } cases[] = {
        {Make::nothing,
         "demo: File not found: text1.png (start the demo from the folder that holds its media)"},
        {Make::empty, "demo: cannot read text1.png: Unsupported image format"},
        {Make::truncated, "demo: cannot read text1.png: Error reading the PNG file."},
        {Make::fifo, "demo: cannot read text1.png: not a regular file"},
        {Make::folder, "demo: cannot read text1.png: not a regular file"},
    };
    const std::string png = read_file(assets_dir() + "/text1.png");
    ASSERT_GT(png.size(), 1000u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        DemoRun run;
        run.remove_media("text1.png");
        const std::string image = run.dir() + "/text1.png";
        if (c.make == Make::empty || c.make == Make::truncated)
            std::ofstream(image, std::ios::binary)
                << png.substr(0, c.make == Make::empty ? 0 : png.size() / 2);
        if (c.make == Make::fifo) {
            ASSERT_EQ(mkfifo(image.c_str(), 0644), 0);
        }
        if (c.make == Make::folder)
            std::filesystem::create_directory(image);
        run.use_rig(kFewFrames);
        const Outcome outcome = run.run(10);
        expect_startup_failure(outcome, c.line);
        EXPECT_EQ(outcome.demo_lines(), std::vector<std::string>{c.line});
        EXPECT_TRUE(run.swaps().empty());
    }
}

// Started carelessly: standard output and error closed, as some launchers do
// (the X connection must not take their numbers), and music that is no regular
// file (a FIFO would block the mixer's open; a link to a device would have it
// decode without end). The demo plays in silence and ends as usual.
TEST(StartUp, with_outputs_closed_and_music_that_is_no_regular_file_the_demo_plays_in_silence)
{
    for (const bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "music a FIFO" : "music a link to /dev/zero");
        DemoRun run;
        run.close_output();
        run.remove_media("biisi.mp3");
        const std::string music = run.dir() + "/biisi.mp3";
        if (fifo) {
            ASSERT_EQ(mkfifo(music.c_str(), 0644), 0);
        } else {
            std::filesystem::create_symlink("/dev/zero", music);
        }
        run.use_rig(kFewFrames, "3:escape");
        expect_clean_exit(run.run(10));
        EXPECT_EQ(swapped_frames(run), (std::vector<unsigned>{0, 1, 2, 3}));
        for (int16_t sample : run.audio())
            ASSERT_EQ(sample, 0);
    }
}

// Expected values worked out apart from the code (Python with mpmath, checked
// against a C program), from the clock a tick count gives: ticks * 0.001f.
TEST(CameraPath, starts_at_the_origin)
{
    const Vec3 eye = camera_eye(0.0f);
    EXPECT_EQ(eye.x, 0.0f);
    EXPECT_EQ(eye.y, 0.0f);
    EXPECT_EQ(eye.z, 0.0f);
}

TEST(CameraPath, is_exact_to_the_float_at_whole_seconds)
{
    const Vec3 at1 = camera_eye(0x1p+0f);  // 1000 ticks
    EXPECT_EQ(at1.x, 0x1.0d454cp+4f);
    EXPECT_EQ(at1.y, 0x1.695f06p+3f);
    EXPECT_EQ(at1.z, 0x1.fc97eep+1f);

    const Vec3 at30 = camera_eye(0x1.e00002p+4f);  // 30000 ticks: 30.000002
    EXPECT_EQ(at30.x, -0x1.3c2b86p+4f);
    EXPECT_EQ(at30.y, -0x1.e0a1ap+3f);
    EXPECT_EQ(at30.z, -0x1.65a6cp+2f);
}

// At these clocks a single-precision y or z, or a double-precision x, would
// each come out a few units in the last place off.
TEST(CameraPath, takes_x_in_single_and_y_and_z_in_double_precision)
{
    const Vec3 early = camera_eye(0x1.26e97ap-5f);  // 36 ticks
    EXPECT_EQ(early.x, 0x1.708f78p-1f);
    EXPECT_EQ(early.y, 0x1.ba5568p-2f);
    EXPECT_EQ(early.z, 0x1.26e8d4p-3f);

    const Vec3 late = camera_eye(0x1.603128p+4f);  // 22012 ticks
    EXPECT_EQ(late.x, -0x1.ab0708p-2f);
    EXPECT_EQ(late.y, 0x1.7ea18cp+3f);
    EXPECT_EQ(late.z, -0x1.30bf72p+4f);
}

TEST(CameraPath, passes_within_a_thousandth_of_the_origin_near_five_pi_seconds)
{
    const Vec3 eye = camera_eye(0x1.f6a7f2p+3f);  // 15708 ticks: 15.708001
    EXPECT_EQ(eye.x, -0x1.8d155ep-11f);
    EXPECT_EQ(eye.y, -0x1.dc800ap-12f);
    EXPECT_EQ(eye.z, -0x1.3daab2p-13f);
    const double distance =
        std::sqrt(static_cast<double>(eye.x) * eye.x + static_cast<double>(eye.y) * eye.y +
                  static_cast<double>(eye.z) * eye.z);
    EXPECT_LT(distance, 0.001);
    EXPECT_GT(distance, 0.0);
}
