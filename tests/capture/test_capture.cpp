// tools/capture, run as a user runs it (on the test run's display, -d): the
// video it writes, its determinism, its stills, its refusals and its clean-up,
// for the demo, for small programs of our own with a sound of their own (on SDL
// 1.2, SDL 2 and OpenAL), and for one program of each kind (SDL 2, GLUT, GLFW,
// plain GLX) on its own clock.
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "kinds.h"
#include "rig.h"
#include "tone.h"

namespace fs = std::filesystem;

namespace {

const std::string kCapture = SOURCE_DIR "/tools/capture";
const std::string kAssets = SOURCE_DIR "/assets";

// The capture tool on this build, drawing on the test run's display.
std::vector<std::string> capture_args(std::vector<std::string> extra)
{
    std::vector<std::string> args{kCapture, "-d", "-b", BUILD_DIR};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

Result capture(std::vector<std::string> extra)
{
    return Command(capture_args(std::move(extra))).run();
}

// The same on a virtual display of its own, as a user's capture runs: where
// other tests' windows come and go over its window, freeglut stops drawing a
// window it is told is hidden.
Result capture_alone(std::vector<std::string> extra)
{
    std::vector<std::string> args = capture_args(std::move(extra));
    args.erase(args.begin() + 1);
    return Command(args).run();
}

// One stream's ffprobe fields, e.g. "codec_name" -> "h264".
std::map<std::string, std::string> probe(const std::string& file, const std::string& stream)
{
    const std::string text =
        output_of({"ffprobe", "-v", "error", "-count_frames", "-select_streams", stream,
                   "-show_streams", "-of", "default=noprint_wrappers=1", file});
    std::map<std::string, std::string> fields;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::string::size_type equals = line.find('=');
        if (equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

int stream_count(const std::string& file)
{
    const std::string text = output_of(
        {"ffprobe", "-v", "error", "-show_entries", "stream=index", "-of", "csv=p=0", file});
    int count = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        count += !line.empty();
    return count;
}

// The video's frames as the framemd5 muxer lists them, one line per frame.
std::vector<std::string> frame_hashes(const std::string& file)
{
    const std::string text =
        output_of({"ffmpeg", "-v", "error", "-i", file, "-map", "0:v", "-f", "framemd5", "-"});
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

// Frame n of a video (or the one frame of an image) as 1280x720 rgb24.
std::string rgb_frame(const std::string& file, int n)
{
    return output_of({"ffmpeg", "-v", "error", "-i", file, "-vf",
                      "select=eq(n\\," + std::to_string(n) + ")", "-frames:v", "1", "-f",
                      "rawvideo", "-pix_fmt", "rgb24", "-"});
}

double mean_difference(const std::string& a, const std::string& b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
    return sum / double(a.size());
}

// First-channel samples of a file's first audio stream, signed 16-bit, at a rate.
std::vector<int16_t> samples_of(const std::string& file, int rate, int channels)
{
    const std::string raw =
        output_of({"ffmpeg", "-v", "error", "-i", file, "-map", "0:a:0", "-f", "s16le", "-ac",
                   std::to_string(channels), "-ar", std::to_string(rate), "-"});
    std::vector<int16_t> first(raw.size() / (2 * channels));
    for (size_t i = 0; i < first.size(); ++i)
        std::memcpy(&first[i], &raw[i * 2 * channels], 2);
    return first;
}

// Left-channel samples, 44.1 kHz.
std::vector<int16_t> left_samples(const std::string& file)
{
    return samples_of(file, 44100, 2);
}

long first_loud_sample(const std::vector<int16_t>& samples)
{
    for (size_t i = 0; i < samples.size(); ++i)
        if (std::abs(samples[i]) > 1000)
            return long(i);
    return -1;
}

// A copy of the media folder, as links, to take files away from.
void link_media(const fs::path& dir)
{
    fs::create_directories(dir);
    for (const fs::directory_entry& entry : fs::directory_iterator(kAssets))
        fs::create_symlink(entry.path(), dir / entry.path().filename());
}

// A folder that puts every program of our PATH within reach except the ones named.
std::string path_without(const fs::path& dir, const std::set<std::string>& left_out)
{
    fs::create_directories(dir);
    std::istringstream path(std::getenv("PATH"));
    for (std::string entry; std::getline(path, entry, ':');) {
        std::error_code error;
        for (const fs::directory_entry& file : fs::directory_iterator(entry, error)) {
            const std::string name = file.path().filename().string();
            if (!left_out.count(name) && !fs::exists(dir / name) &&
                access(file.path().c_str(), X_OK) == 0)
                fs::create_symlink(file.path(), dir / name, error);
        }
    }
    return dir.string();
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

// ---- the video ----------------------------------------------------------------------------

TEST(Video, two_captures_of_the_same_build_give_identical_frames)
{
    Scratch dir;
    const Result first = capture({"-r", "5", "-o", dir / "a.mp4"});
    ASSERT_EQ(first.status, 0) << first.err;
    const Result second = capture({"-r", "5", "-o", dir / "b.mp4"});
    ASSERT_EQ(second.status, 0) << second.err;

    const std::vector<std::string> a = frame_hashes(dir / "a.mp4");
    const std::vector<std::string> b = frame_hashes(dir / "b.mp4");
    ASSERT_EQ(a.size(), 151u);
    EXPECT_EQ(a, b);
    // The sound, pulled from the demo's mixer frame by frame, is the same too.
    EXPECT_TRUE(left_samples(dir / "a.mp4") == left_samples(dir / "b.mp4"));
    // The frames really animate: black while nothing is faded in (frames 0 to 10,
    // up to 2 s), then every frame differs from the one before, the camera moving.
    std::vector<std::string> hashes;
    for (const std::string& line : a)
        hashes.push_back(line.substr(line.rfind(',') + 1));
    for (int k = 1; k <= 10; ++k)
        EXPECT_EQ(hashes[k], hashes[0]) << "frame " << k;
    for (int k = 11; k <= 150; ++k)
        EXPECT_NE(hashes[k], hashes[k - 1]) << "frame " << k;
}

TEST(Video, is_h264_1280x720_yuv420p_holding_every_frame_up_to_the_first_past_30_s)
{
    Scratch dir;
    const std::string file = dir / "vorna.mp4";
    const Result result = capture({"-r", "5", "-o", file});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "wrote " + file)) << result.err;

    EXPECT_EQ(stream_count(file), 2);
    std::map<std::string, std::string> video = probe(file, "v:0");
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["width"], "1280");
    EXPECT_EQ(video["height"], "720");
    EXPECT_EQ(video["pix_fmt"], "yuv420p");
    EXPECT_EQ(video["r_frame_rate"], "5/1");
    // Frames 0 to 150: frame 150 reads 30000 ms, the first clock past 30 s, and is
    // the demo's last.
    EXPECT_EQ(video["nb_read_frames"], "151");
    EXPECT_EQ(video["start_time"], "0.000000");
    EXPECT_EQ(video["duration"], "30.200000");

    // The index up front (faststart), so players start before the whole file is in.
    const std::string bytes = read_file(file);
    ASSERT_NE(bytes.find("moov"), std::string::npos);
    ASSERT_NE(bytes.find("mdat"), std::string::npos);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"vorna.mp4"});
}

TEST(Video, carries_the_music_the_demo_plays_as_aac_from_clock_0_and_cut_to_the_picture)
{
    Scratch dir;
    const std::string file = dir / "vorna.mp4";
    const Result result = capture({"-r", "5", "-o", file});
    ASSERT_EQ(result.status, 0) << result.err;

    std::map<std::string, std::string> audio = probe(file, "a:0");
    EXPECT_EQ(audio["codec_name"], "aac");
    EXPECT_EQ(audio["sample_rate"], "44100");
    EXPECT_EQ(audio["channels"], "2");
    EXPECT_EQ(audio["start_time"], "0.000000");
    // Cut to the 30.2 s of picture, to within one AAC frame of 1024 samples.
    EXPECT_NEAR(std::stod(audio["duration"]), 30.2, 1024.0 / 44100.0);

    // The first beat lands where it lands in the music file itself: the demo
    // starts its music at clock 0, within one frame (the mixer's mp3 decoder
    // plays the file's 2257 leading samples of padding that ffmpeg's skips).
    const std::vector<int16_t> video_samples = left_samples(file);
    const std::vector<int16_t> music_samples = left_samples(kAssets + "/biisi.mp3");
    const long in_video = first_loud_sample(video_samples);
    const long in_music = first_loud_sample(music_samples);
    ASSERT_GE(in_music, 0);
    EXPECT_LE(std::abs(in_video - in_music), 44100 / 5) << in_video << " vs " << in_music;
    // And from there on it is the music: two seconds of it match the file's
    // decoded samples, but for the AAC encoder's loss.
    ASSERT_GE(in_video, 0);
    double product = 0, video_energy = 0, music_energy = 0;
    for (long i = 0; i < 2 * 44100; ++i) {
        const double v = video_samples.at(in_video + i), m = music_samples.at(in_music + i);
        product += v * m;
        video_energy += v * v;
        music_energy += m * m;
    }
    EXPECT_GT(product / std::sqrt(video_energy * music_energy), 0.95);
}

TEST(Video, frame_k_is_what_the_demo_draws_at_clock_k_over_the_frame_rate)
{
    Scratch dir;
    const Result video = capture({"-r", "5", "-o", dir / "vorna.mp4"});
    ASSERT_EQ(video.status, 0) << video.err;
    // The still at 12 s, 5 fps, is frame 60 read back losslessly: wave and caption.
    const Result still = capture({"-r", "5", "-s", "12", "-o", dir / "still.png"});
    ASSERT_EQ(still.status, 0) << still.err;
    EXPECT_TRUE(contains(still.err, "frame 60")) << still.err;

    const std::map<std::string, std::string> png = probe(dir / "still.png", "v:0");
    EXPECT_EQ(png.at("codec_name"), "png");
    EXPECT_EQ(png.at("width"), "1280");
    EXPECT_EQ(png.at("height"), "720");

    const std::string shot = rgb_frame(dir / "still.png", 0);
    ASSERT_EQ(shot.size(), 1280u * 720 * 3);
    const double same = mean_difference(rgb_frame(dir / "vorna.mp4", 60), shot);
    const double before = mean_difference(rgb_frame(dir / "vorna.mp4", 59), shot);
    const double after = mean_difference(rgb_frame(dir / "vorna.mp4", 61), shot);
    // Only the encoder's loss separates frame 60 from the still; its neighbours
    // show the camera a fifth of a second away.
    EXPECT_LT(same, 1.0);
    EXPECT_GT(before, 4 * same);
    EXPECT_GT(after, 4 * same);
}

// ---- refusals: a clear line, and no file under the final name nor beside it ----------------

TEST(Refusal, without_ffmpeg_it_says_how_to_install_it)
{
    Scratch dir;
    const std::string path = path_without(dir.path() / "bin", {"ffmpeg"});
    fs::create_directory(dir.path() / "out");
    const Result result =
        Command(capture_args({"-o", dir / "out/vorna.mp4"})).set("PATH", path).run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "capture: ffmpeg not found: apt-get install ffmpeg\n");
    EXPECT_TRUE(names_in(dir.path() / "out").empty());
}

TEST(Refusal, without_xvfb_it_says_that_no_virtual_display_can_be_had)
{
    Scratch dir;
    const std::string path = path_without(dir.path() / "bin", {"Xvfb"});
    fs::create_directory(dir.path() / "out");
    // Without -d the capture wants its own virtual display.
    const Result result =
        Command({kCapture, "-b", BUILD_DIR, "-o", dir / "out/vorna.mp4"}).set("PATH", path).run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(
        result.err,
        "capture: no virtual X display: Xvfb or xauth not found: apt-get install xvfb xauth\n");
    EXPECT_TRUE(names_in(dir.path() / "out").empty());
}

TEST(Refusal, when_ffmpeg_fails_it_passes_on_what_ffmpeg_said)
{
    Scratch dir;
    const std::string path = path_without(dir.path() / "bin", {"ffmpeg"});
    std::ofstream(dir / "bin/ffmpeg") << "#!/bin/sh\necho 'no encoder here' >&2\nexit 1\n";
    fs::permissions(dir / "bin/ffmpeg", fs::perms::owner_all);
    fs::create_directory(dir.path() / "out");
    const Result result =
        Command(capture_args({"-r", "5", "-o", dir / "out/vorna.mp4"})).set("PATH", path).run();
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "capture: ffmpeg failed (exit status 1):\nno encoder here\n"))
        << result.err;
    EXPECT_TRUE(names_in(dir.path() / "out").empty());
}

TEST(Refusal, on_the_current_display_without_one_it_says_so)
{
    Scratch dir;
    const Result result = Command(capture_args({"-o", dir / "vorna.mp4"})).unset("DISPLAY").run();
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "DISPLAY is not set")) << result.err;
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(Refusal, with_an_image_or_the_music_missing_it_names_the_file)
{
    for (const std::string name : {"text1.png", "biisi.mp3"}) {
        Scratch dir;
        link_media(dir.path() / "media");
        fs::remove(dir.path() / "media" / name);
        fs::create_directory(dir.path() / "out");
        const Result result = capture({"-m", dir / "media", "-o", dir / "out/vorna.mp4"});
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_EQ(result.err, "capture: media missing: " + (dir / "media/") + name +
                                  " (media/make_assets makes the demo's media)\n");
        EXPECT_TRUE(names_in(dir.path() / "out").empty()) << name;
    }
}

TEST(Refusal, a_demo_that_fails_at_start_up_is_reported_in_its_own_words)
{
    Scratch dir;
    link_media(dir.path() / "media");
    // 640 pixels wide is no power of two: the demo refuses the image and exits 1.
    fs::remove(dir.path() / "media/text1.png");
    fs::copy_file(SOURCE_DIR "/tests/support/640x512.png", dir.path() / "media/text1.png");
    fs::create_directory(dir.path() / "out");
    const Result result = capture({"-m", dir / "media", "-r", "5", "-o", dir / "out/vorna.mp4"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(
        contains(result.err, "capture: the demo failed (exit status 1) after 0 of 151 frames"))
        << result.err;
    EXPECT_TRUE(contains(result.err, "Loading text1.png\ndemo: ")) << result.err;
    EXPECT_TRUE(names_in(dir.path() / "out").empty());
}

TEST(Refusal, bad_arguments_end_it_with_status_2_before_anything_runs)
{
    Scratch dir;
    const std::vector<std::vector<std::string>> cases{{"-r", "0"},
                                                      {"-r", "1001"},
                                                      {"-r", "29.97"},
                                                      {"-r", "x"},
                                                      {"-s", "30.5"},
                                                      {"-s", "-1"},
                                                      {"-s", "1e3"},
                                                      {"-r"},
                                                      {"-q"},
                                                      {"extra"},
                                                      {"-t", "x"},
                                                      {"-t", "-1"},
                                                      {"-s", "1", "-t", "1"},
                                                      {"-C", "."},
                                                      {"--"},
                                                      {"-r", "60/0"},
                                                      {"-r", "1/2"},
                                                      {"-r", "2001/2"},
                                                      {"-q", "52"},
                                                      {"-o", dir / "x.mkv", "-q", "18"},
                                                      {"-S", "x"},
                                                      {"-S", "31"},
                                                      {"-s", "1", "-S", "1"}};
    for (const std::vector<std::string>& args : cases) {
        std::vector<std::string> all = args;
        all.insert(all.begin(), {"-o", dir / "vorna.mp4"});
        const Result result = capture(all);
        EXPECT_EQ(result.status, 2) << args[0] << ": " << result.err;
        EXPECT_TRUE(contains(result.err, "capture: ")) << result.err;
    }
    EXPECT_TRUE(names_in(dir.path()).empty());
}

// ---- interrupted: every process stopped, nothing new left, an older file kept --------------

TEST(Interrupt, an_interrupt_or_a_termination_stops_everything_and_keeps_the_older_file)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        Scratch dir, tmp;
        fs::create_directory(dir.path() / "out");
        std::ofstream(dir / "out/vorna.mp4") << "an older capture";
        Command command(capture_args({"-r", "10", "-o", dir / "out/vorna.mp4"}));
        command.set("TMPDIR", tmp.path().string());
        command.start();

        // Wait until frames are coming through, then stop it.
        const std::regex recording("\\] +[1-9][0-9]*/301 frames");
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!std::regex_search(command.err_so_far(), recording) &&
               std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(std::regex_search(command.err_so_far(), recording)) << command.err_so_far();
        kill(command.pid(), signal);
        const Result result = command.wait();

        EXPECT_EQ(result.status, signal == SIGINT ? 130 : 143) << result.err;
        EXPECT_TRUE(contains(result.err, "nothing written")) << result.err;
        EXPECT_EQ(names_in(dir.path() / "out"), std::set<std::string>{"vorna.mp4"});
        EXPECT_EQ(read_file(dir / "out/vorna.mp4"), "an older capture");
        EXPECT_TRUE(names_in(tmp.path()).empty());

        // No process of the recording lives on: each inherited TMPDIR from it.
        const std::string mark = "TMPDIR=" + tmp.path().string();
        for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
            const std::string environment = read_file(entry.path() / "environ");
            EXPECT_FALSE(contains(environment, mark + '\0'))
                << read_file(entry.path() / "cmdline") << " still runs";
        }
    }
}

// ---- another program: its own window size, its own sound on the frame clock ---------------

namespace {

const std::string kTone = TONE_PROGRAM;

// The capture's frames at the centre pixel's red, one per frame.
std::vector<int> centre_reds(const std::string& file, int width, int height)
{
    const std::string raw = output_of(
        {"ffmpeg", "-v", "error", "-i", file, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    const size_t frame = size_t(width) * height * 3;
    std::vector<int> reds;
    for (size_t at = 0; at + frame <= raw.size(); at += frame)
        reds.push_back(uint8_t(raw[at + (size_t(height / 2) * width + width / 2) * 3]));
    return reds;
}

// Where the tone's second `second` begins in the recording, relative to where
// its clock says (second * rate): the shift, within a frame either way, that
// best fits the program's own samples around that point.
long tone_offset(const std::vector<int16_t>& heard, unsigned second, long search)
{
    const long at = long(second) * tone::kRate;
    long best = 0;
    double best_error = -1;
    for (long shift = -search; shift <= search; ++shift) {
        double error = 0;
        for (long n = at - 2000; n < at + 2000; ++n) {
            const double d = heard.at(size_t(n + shift)) - tone::sample(uint64_t(n));
            error += d * d;
        }
        if (best_error < 0 || error < best_error) {
            best_error = error;
            best = shift;
        }
    }
    return best;
}

// Crossings of zero upwards per second, over a stretch of samples.
double pitch_heard(const std::vector<int16_t>& heard, long from, long to)
{
    int crossings = 0;
    for (long n = from + 1; n < to; ++n)
        crossings += heard.at(size_t(n - 1)) < 0 && heard.at(size_t(n)) >= 0;
    return crossings * double(tone::kRate) / double(to - from);
}

}  // namespace

// The same picture and tone from SDL 1.2's device, SDL 2's callback and
// queued devices, and OpenAL's streaming buffers (whose tone is in stereo).
TEST(Program, every_second_of_its_picture_and_its_sound_agree_and_two_captures_are_identical)
{
    const std::vector<std::pair<std::vector<std::string>, int>> programs{
        {{kTone}, 1},
        {{TONE_SDL2_PROGRAM, "callback"}, 1},
        {{TONE_SDL2_PROGRAM, "queue"}, 1},
        {{TONE_OPENAL_PROGRAM}, 2}};
    for (const auto& [program, channels] : programs) {
        SCOPED_TRACE(program.back());
        Scratch dir;
        const int fps = 60, seconds = 4;
        std::vector<std::string> args{"-r", "60", "-t", "4", "-o", dir / "a.mp4", "--"};
        args.insert(args.end(), program.begin(), program.end());
        const Result first = capture(args);
        ASSERT_EQ(first.status, 0) << first.err;
        // The odd window is padded to what the encoder takes, and said once.
        const std::string padded = "the window is 161x121; the video pads it to 162x122";
        EXPECT_TRUE(contains(first.err, padded)) << first.err;
        EXPECT_EQ(first.err.find(padded), first.err.rfind(padded));
        args[5] = dir / "b.mp4";
        const Result second = capture(args);
        ASSERT_EQ(second.status, 0) << second.err;

        std::map<std::string, std::string> video = probe(dir / "a.mp4", "v:0");
        EXPECT_EQ(video["width"], "162");
        EXPECT_EQ(video["height"], "122");
        std::map<std::string, std::string> audio = probe(dir / "a.mp4", "a:0");
        EXPECT_EQ(audio["sample_rate"], std::to_string(tone::kRate));
        EXPECT_EQ(audio["channels"], std::to_string(channels));

        // Frames 0 to 240: every frame whose clock is at most 4 s, each painted for
        // its second of the clock.
        const std::vector<int> reds = centre_reds(dir / "a.mp4", 162, 122);
        ASSERT_EQ(reds.size(), size_t(seconds * fps + 1));
        for (size_t k = 0; k < reds.size(); ++k)
            ASSERT_NEAR(reds[k], tone::red(unsigned(k / fps)), 4) << "frame " << k;

        // Every second of sound is the tone of the same second of picture: the
        // sound follows the frame clock, however fast the frames were made.
        const std::vector<int16_t> heard = samples_of(dir / "a.mp4", tone::kRate, channels);
        ASSERT_GE(heard.size(), size_t(seconds * tone::kRate));
        for (int s = 0; s < seconds; ++s) {
            const double pitch =
                pitch_heard(heard, s * tone::kRate + 1000, (s + 1) * tone::kRate - 1000);
            EXPECT_NEAR(pitch, tone::pitch(unsigned(s)), 2.0) << "second " << s;
        }
        // And to the sample: each step of the tone lies where its second begins.
        long largest = 0;
        for (unsigned s = 1; s < unsigned(seconds); ++s)
            largest = std::max(largest, std::abs(tone_offset(heard, s, tone::kRate / fps)));
        std::cout << program.back() << ": largest audio/video offset: " << largest << " samples at "
                  << tone::kRate << " Hz" << std::endl;
        EXPECT_LE(largest, 2);

        EXPECT_EQ(frame_hashes(dir / "a.mp4"), frame_hashes(dir / "b.mp4"));
        EXPECT_TRUE(heard == samples_of(dir / "b.mp4", tone::kRate, channels));
        EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"a.mp4", "b.mp4"}));
    }
}

namespace {

// A stream's frames decoded as rgb24, whole; a folder's PNG frames likewise.
std::string decoded(const std::string& input, const std::string& stream = "0:v")
{
    return output_of({"ffmpeg", "-v", "error", "-i", input, "-map", stream, "-f", "rawvideo",
                      "-pix_fmt", "rgb24", "-"});
}

std::string sound_bytes(const std::string& file)
{
    return output_of({"ffmpeg", "-v", "error", "-i", file, "-map", "0:a", "-f", "s16le", "-"});
}

}  // namespace

TEST(Outputs, lossless_and_png_folders_hold_the_rigs_frames_at_any_rate_and_from_any_start)
{
    Scratch dir;
    const size_t frame = size_t(tone::kWidth) * tone::kHeight * 3;
    // The rig's own frames, read back and saved by it: what every output must hold.
    fs::create_directory(dir.path() / "rig");
    Command rig({kTone});
    rig.set("LD_PRELOAD", RIG_LIBRARY)
        .set("RIG_FPS", "30")
        .set("RIG_FRAMES", "61")
        .set("RIG_EVENTS", "61:quit")
        .set("RIG_FRAME_DIR", dir / "rig")
        .set("SDL_AUDIODRIVER", "dummy");
    ASSERT_EQ(rig.run().status, 0);
    std::string saved;
    for (int k = 0; k <= 60; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, RIG_FRAME_FILE, unsigned(k));
        const std::string ppm = read_file(dir.path() / "rig" / name);
        ASSERT_GT(ppm.size(), frame) << name;
        saved += ppm.substr(ppm.size() - frame);
    }

    const std::vector<std::string> base{"-r", "30", "-t", "2"};
    for (const std::string out : {"a.mkv", "frames/", "a.mp4"}) {
        std::vector<std::string> args = base;
        args.insert(args.end(), {"-o", dir / out, "--", kTone});
        const Result result = capture(args);
        ASSERT_EQ(result.status, 0) << out << ": " << result.err;
    }
    // Lossless, bit for bit, picture and sound; the folder holds the same frames,
    // as many as the MP4's timeline, and the same sound.
    EXPECT_TRUE(decoded(dir / "a.mkv") == saved);
    EXPECT_TRUE(decoded(dir / "frames/frame-%05d.png") == saved);
    EXPECT_EQ(probe(dir / "a.mp4", "v:0")["nb_read_frames"], "61");
    EXPECT_EQ(names_in(dir.path() / "frames").size(), 61u + 1);
    const std::string sound = sound_bytes(dir / "a.mkv");
    EXPECT_EQ(sound.size(), size_t(2 * tone::kRate * 61 / 30));
    EXPECT_TRUE(sound_bytes(dir / "frames/sound.wav") == sound);
    EXPECT_EQ(probe(dir / "a.mkv", "v:0")["codec_name"], "ffv1");
    EXPECT_EQ(probe(dir / "a.mkv", "a:0")["codec_name"], "flac");

    // A stretch: frames 30 to 60 of the same clock and the samples of their
    // stretch, exactly; a folder written again replaces the one before.
    ASSERT_EQ(capture({"-r", "30", "-S", "1", "-t", "1", "-o", dir / "b.mkv", "--", kTone}).status,
              0);
    EXPECT_TRUE(decoded(dir / "b.mkv") == saved.substr(30 * frame));
    EXPECT_TRUE(sound_bytes(dir / "b.mkv") == sound.substr(2 * tone::kRate));
    ASSERT_EQ(
        capture({"-r", "30", "-S", "1", "-t", "1", "-o", dir / "frames/", "--", kTone}).status, 0);
    EXPECT_EQ(names_in(dir.path() / "frames").size(), 31u + 1);
    EXPECT_TRUE(decoded(dir / "frames/frame-%05d.png") == saved.substr(30 * frame));

    // 59.94: frame K reads K * 1001 / 60000 s; two seconds hold 120 frames, and
    // their sound floor(120 * 1001 * rate / 60000) samples.
    ASSERT_EQ(capture({"-r", "60000/1001", "-t", "2", "-o", dir / "c.mkv", "--", kTone}).status, 0);
    EXPECT_EQ(probe(dir / "c.mkv", "v:0")["nb_read_frames"], "120");
    EXPECT_EQ(sound_bytes(dir / "c.mkv").size(), size_t(2 * (120ull * 1001 * tone::kRate / 60000)));
}

TEST(Outputs, keep_the_programs_sound_rate_where_they_can_and_say_so_where_they_cannot)
{
    struct Case {
        const char* rate;
        const char* out;
        const char* kept;  // the rate the file holds
        std::string said;  // a note, "" for none
    };
    const Case cases[] = {
        {"44000", "a.mp4", "44100",
         "the sound is resampled from 44000 to 44100 Hz, a rate AAC has (.mkv keeps it as it is)"},
        {"44000", "a.mkv", "44000", ""},
        {"192000", "a.mp4", "96000",
         "the sound is resampled from 192000 to 96000 Hz, a rate AAC has (.mkv keeps it as it is)"},
        // Refused: the program plays nothing, and the track is a silent one.
        {"10", "a.mkv", "44100",
         "the program's sound device at 10 Hz was refused, as a real one would be "
         "(capture records 8000 to 192000 Hz)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rate) + " " + c.out);
        Scratch dir;
        const Result result = capture({"-r", "30", "-t", "1", "-o", dir / c.out, "--",
                                       TONE_SDL2_PROGRAM, "callback", "s16", "2", c.rate});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(probe(dir / c.out, "a:0")["sample_rate"], c.kept);
        const std::string line = "capture: " + c.said + "\n";
        EXPECT_EQ(contains(result.err, line), !c.said.empty()) << result.err;
        EXPECT_EQ(result.err.find("resampled"), result.err.rfind("resampled"));
    }
}

TEST(Program, that_is_missing_ends_at_once_or_shows_no_opengl_window_is_refused_in_one_line)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"/nonexistent/program"}, "capture: no such program: /nonexistent/program\n"},
        {{kTone, "exit"}, "capture: capture_tone ended without drawing a frame (exit status 0)\n"},
        {{kTone, "nogl"},
         "capture: capture_tone opened a window without OpenGL (160x120): "
         "only OpenGL programs can be recorded\n"},
        // Calling the swap does not make it one.
        {{kTone, "noglswap"},
         "capture: capture_tone opened a window without OpenGL (160x120): "
         "only OpenGL programs can be recorded\n"},
    };
    for (const auto& [program, said] : cases) {
        Scratch dir;
        std::vector<std::string> args{"-r", "10", "-o", dir / "out.mp4", "--"};
        args.insert(args.end(), program.begin(), program.end());
        const Result result = capture(args);
        EXPECT_EQ(result.status, 1) << program.back();
        EXPECT_EQ(result.err, said);
        EXPECT_TRUE(names_in(dir.path()).empty()) << program.back();
    }
}

TEST(Program, a_window_that_changes_size_is_scaled_into_its_first_size_and_said_once)
{
    Scratch dir;
    const std::string file = dir / "out.mp4";
    const Result result = capture({"-r", "10", "-t", "2", "-o", file, "--", kTone, "resize"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string note =
        "capture: the window became 322x121 at frame 10; the video keeps the first size, "
        "161x121, and scales it in with its aspect kept\n";
    EXPECT_TRUE(contains(result.err, note)) << result.err;
    EXPECT_EQ(result.err.find(note), result.err.rfind(note));
    // Twice as wide, it shows half as tall: black above and below it.
    const int width = 162;
    const std::string before = rgb_frame(file, 5), after = rgb_frame(file, 15);
    ASSERT_EQ(after.size(), size_t(width) * 122 * 3);
    const auto red = [&](const std::string& frame, int x, int y) {
        return int(uint8_t(frame[(size_t(y) * width + x) * 3]));
    };
    EXPECT_NEAR(red(before, 80, 10), tone::red(0), 4);
    EXPECT_LT(red(after, 80, 10), 8);
    EXPECT_NEAR(red(after, 80, 61), tone::red(1), 4);
    EXPECT_LT(red(after, 80, 111), 8);
}

// ---- every kind of program, on one frame clock ---------------------------------------------

namespace {

std::string kind_program(const std::string& name)
{
    return KINDS_DIR "/" + name;
}

// The lines capture said besides the usual ones: how the program ended.
std::string endings(const std::string& err)
{
    std::string said;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("capture: ", 0) == 0 && line.rfind("capture: recording ", 0) != 0 &&
            line.rfind("capture: wrote ", 0) != 0 && line.rfind("capture: the window is ", 0) != 0)
            said += line + "\n";
    return said;
}

}  // namespace

TEST(Kinds, every_frame_shows_the_second_its_kinds_clock_reads_and_two_captures_are_identical)
{
    // The GLX program first waits for a thread of its own by counted naps: naps
    // with no clock read between are real ones, or the thread would never run.
    const std::vector<std::vector<std::string>> programs{
        {"kind_sdl2"}, {"kind_glut"}, {"kind_glfw"}, {"kind_glx", "helper"}};
    for (const std::vector<std::string>& program : programs) {
        SCOPED_TRACE(program[0]);
        Scratch dir;
        for (const char* take : {"a.mp4", "b.mp4"}) {
            std::vector<std::string> args{"-r", "10",       "-t", "3",
                                          "-o", dir / take, "--", kind_program(program[0])};
            args.insert(args.end(), program.begin() + 1, program.end());
            const Result result = capture_alone(args);
            ASSERT_EQ(result.status, 0) << result.err;
            // Asked to quit in its own kind's terms, it ended by itself.
            EXPECT_EQ(endings(result.err), "");
        }
        const std::vector<int> reds = centre_reds(dir / "a.mp4", kinds::kWidth, kinds::kHeight);
        ASSERT_EQ(reds.size(), 31u);
        for (size_t k = 0; k < reds.size(); ++k)
            ASSERT_NEAR(reds[k], tone::red(unsigned(k / 10)), 4) << "frame " << k;
        EXPECT_EQ(frame_hashes(dir / "a.mp4"), frame_hashes(dir / "b.mp4"));
    }
}

TEST(Kinds,
     a_program_that_paces_itself_keeps_its_speed_showing_a_picture_for_the_frames_it_lets_pass)
{
    // Ten pictures a second, recorded at 30: each shows for three frames.
    const std::vector<std::pair<std::string, std::string>> cases{
        {"kind_glx", "nap"}, {"kind_glx", "spin"}, {"kind_sdl2", "sleep"}};
    for (const auto& [kind, pace] : cases) {
        SCOPED_TRACE(kind + " " + pace);
        Scratch dir;
        const Result result =
            capture({"-r", "30", "-t", "2", "-o", dir / "out.mp4", "--", kind_program(kind), pace});
        ASSERT_EQ(result.status, 0) << result.err;
        const std::vector<int> reds = centre_reds(dir / "out.mp4", kinds::kWidth, kinds::kHeight);
        ASSERT_EQ(reds.size(), 61u);
        for (size_t k = 0; k < reds.size(); ++k)
            ASSERT_NEAR(reds[k], tone::red(unsigned(k / 3)), 4) << "frame " << k;
    }
}

TEST(Processes, a_wrapper_a_child_a_crash_and_a_failing_end_each_keep_what_was_recorded)
{
    Scratch dir;
    const std::string wrapper = dir / "wrapper";
    std::ofstream(wrapper) << "#!/bin/sh\nexec \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    struct Case {
        std::vector<std::string> program;
        int status;
        unsigned frames;
        std::string said;
    };
    const Case cases[] = {
        // A script that execs the program: the program is what is recorded.
        {{wrapper, kTone}, 0, 121, ""},
        // What its children do (a shell, and `true`) touches neither picture nor sound.
        {{kTone, "system"}, 0, 121, ""},
        // A crash at 2 s: the 60 frames before it are written, and the status says so.
        {{kTone, "abort"},
         3,
         60,
         "capture: capture_tone crashed (Aborted) after 60 of 121 frames; writing those\n"},
        // Failing once the frames asked for are in spoils nothing.
        {{kTone, "fail"},
         0,
         121,
         "capture: capture_tone ended with exit status 3 after the recording\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program.back());
        const std::string file = dir / "out.mp4";
        std::vector<std::string> args{"-r", "30", "-t", "4", "-o", file, "--"};
        args.insert(args.end(), c.program.begin(), c.program.end());
        const Result result = capture(args);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(endings(result.err), c.said) << result.err;
        EXPECT_EQ(probe(file, "v:0")["nb_read_frames"], std::to_string(c.frames));
        // Each whole second recorded sounds the tone of that second.
        const std::vector<int16_t> heard = samples_of(file, tone::kRate, 1);
        for (unsigned s = 0; s < c.frames / 30; ++s)
            EXPECT_NEAR(pitch_heard(heard, s * tone::kRate + 1000, (s + 1) * tone::kRate - 1000),
                        tone::pitch(s), 2.0)
                << "second " << s;
    }
}

TEST(Refusal, an_output_that_is_no_regular_file_is_left_alone_as_root_too)
{
    Scratch dir;
    mkfifo((dir / "fifo").c_str(), 0644);
    fs::create_directory(dir.path() / "folder");
    fs::create_symlink(dir / "fifo", dir.path() / "link");
    std::vector<std::pair<std::string, std::string>> cases{
        {"fifo", "a FIFO"}, {"folder", "a folder"}, {"link", "a FIFO"}};
    // A character device of our own (the null device's numbers), where we may make one.
    if (mknod((dir / "device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        cases.push_back({"device", "a device"});
    const std::set<std::string> before = names_in(dir.path());
    for (const auto& [name, kind] : cases) {
        const Result result = capture({"-r", "5", "-o", dir / name});
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_EQ(result.err, "capture: " + (dir / name) + " is " + kind +
                                  ": capture writes only to a regular file or a new name\n");
    }
    EXPECT_EQ(names_in(dir.path()), before);
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    if (before.count("device")) {
        EXPECT_TRUE(fs::is_character_file(dir / "device"));
    }
}

TEST(Interrupt, a_killed_capture_takes_its_processes_along_and_the_next_one_clears_what_it_left)
{
    Scratch dir, tmp;
    const std::string out = dir / "tone.mp4";
    Command command(capture_args({"-r", "30", "-o", out, "--", kTone}));
    command.set("TMPDIR", tmp.path().string());
    command.start();
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!contains(command.err_so_far(), "capture: recording") &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(contains(command.err_so_far(), "capture: recording")) << command.err_so_far();
    kill(command.pid(), SIGKILL);
    command.wait();

    // Within a few seconds nothing it started runs on: each inherited TMPDIR from it.
    const std::string mark = "TMPDIR=" + tmp.path().string() + '\0';
    std::string running;
    for (int tries = 0; tries < 50; ++tries) {
        running.clear();
        for (const fs::directory_entry& entry : fs::directory_iterator("/proc"))
            if (contains(read_file(entry.path() / "environ"), mark))
                running += read_file(entry.path() / "cmdline") + " ";
        if (running.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(running, "");
    // What it left: a hidden partial file and its work folder.
    ASSERT_EQ(names_in(dir.path()).size(), 1u);
    EXPECT_EQ(names_in(dir.path()).begin()->rfind(".tone.mp4.", 0), 0u);
    EXPECT_EQ(names_in(tmp.path()).size(), 1u);

    // The next capture, of a program that opens no audio device: a silent track.
    const Result next =
        Command(capture_args({"-r", "10", "-t", "0.5", "-o", out, "--", kTone, "silent"}))
            .set("TMPDIR", tmp.path().string())
            .run();
    ASSERT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"tone.mp4"});
    EXPECT_TRUE(names_in(tmp.path()).empty());
    EXPECT_EQ(stream_count(out), 2);
    const std::vector<int16_t> silence = left_samples(out);
    EXPECT_GE(silence.size(), 22050u);
    EXPECT_TRUE(std::all_of(silence.begin(), silence.end(), [](int16_t s) { return s == 0; }));
}
