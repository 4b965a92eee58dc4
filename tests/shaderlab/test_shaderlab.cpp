// The live shader editor, run as a user runs it, under the preload rig (its
// clock, keys, sound and frames) and tests/support/swap_hook (saves between
// frames, window titles, clicks and arrow keys), in a scratch folder of its
// own shader files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "demo_run.h"
#include "png.h"

namespace {

const std::string kVertex = "void main() { gl_Position = gl_Vertex; }\n";

std::string paint(const std::string& rgb)
{
    return "void main() { gl_FragColor = vec4(" + rgb + ", 1.0); }\n";
}

// The shared form: mainImage(out vec4 c, in vec2 p) with this body.
std::string image(const std::string& body)
{
    return "void mainImage(out vec4 c, in vec2 p)\n{\n" + body + "}\n";
}

// shaderlab with these arguments in a scratch folder holding a minimal
// prelude. Every file is stamped with a second of its own, long past, so that
// each save is a change of modification second whatever the clock does.
class Lab : public DemoRun {
public:
    explicit Lab(const std::vector<std::string>& args = {"a.vert", "a.frag"})
        : DemoRun(command(args))
    {
        std::filesystem::create_directories(dir() + "/shaders");
        std::filesystem::create_directories(dir() + "/edits");
        put("shaders/std.glsl", "#version 120\n");
    }

    void put(const std::string& name, const std::string& text)
    {
        const std::string path = dir() + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        const timespec times[2] = {{stamp, 0}, {stamp, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        ++stamp;
    }

    // Saves edits/NAME over `target` right after swap k; a null text saves a FIFO.
    void save_after(unsigned k, const std::string& name, const char* text,
                    const std::string& target = "a.frag")
    {
        if (text)
            put("edits/" + name, text);
        else
            mkfifo((dir() + "/edits/" + name).c_str(), 0600);
        renames +=
            (renames.empty() ? "" : ",") + std::to_string(k) + ":edits/" + name + ":" + target;
    }
    void save_after(unsigned k, const std::string& name, const std::string& text,
                    const std::string& target = "a.frag")
    {
        save_after(k, name, text.c_str(), target);
    }

    // The rig's clock from `ticks`, or, with "", 60 frames a second and its sound.
    Outcome run_all(const std::string& ticks, const std::string& events,
                    const std::string& pushes = "")
    {
        use_rig(ticks, events, "all");
        if (ticks.empty()) {
            set_env("RIG_FPS", "60");
            set_env("RIG_AUDIO", output("sound.wav"));
        }
        preload(SWAP_HOOK_LIBRARY);
        set_env("SWAP_RENAMES", renames);
        set_env("SWAP_EVENTS", pushes);
        set_env("SWAP_TITLES", output("titles"));
        return run();
    }

    Rgb centre(unsigned k) const { return frame(k).at(640, 360); }

    std::vector<std::string> titles() const
    {
        std::vector<std::string> lines;
        std::istringstream in(read_file(output("titles")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.substr(line.find(" title ") + 7));
        return lines;
    }

private:
    time_t stamp = time(nullptr) - 1000;
    std::string renames;

    static std::vector<std::string> command(std::vector<std::string> args)
    {
        args.insert(args.begin(), SHADERLAB_BINARY);
        return args;
    }
};

std::string rgb(Rgb c)
{
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

// Mono 16-bit 44100 Hz WAV of a sine at `hz`, half of full scale.
std::string wav_tone(double hz, double seconds)
{
    const uint32_t samples = static_cast<uint32_t>(44100 * seconds);
    std::string data;
    for (uint32_t i = 0; i < samples; ++i) {
        const auto v = static_cast<int16_t>(16384 * std::sin(2 * M_PI * hz * i / 44100));
        data += static_cast<char>(v & 0xff);
        data += static_cast<char>((v >> 8) & 0xff);
    }
    const auto le = [](uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xff);
        return out;
    };
    return "RIFF" + le(36 + data.size(), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
           le(44100, 4) + le(88200, 4) + le(2, 2) + le(16, 2) + "data" + le(data.size(), 4) + data;
}

}  // namespace

TEST(ShaderlabEditing,
     a_save_shows_on_the_next_frame_and_a_broken_one_keeps_the_picture_and_is_reported_once)
{
    Lab lab;
    lab.put("a.vert", kVertex);
    lab.put("a.frag", paint("1.0, 0.0, 0.0"));
    lab.save_after(0, "green.frag", paint("0.0, 1.0, 0.0"));
    lab.save_after(2, "syntax.frag", "void main() { this is not GLSL }\n");
    // Compiles, but the vertex stage writes no such varying: the link fails.
    lab.save_after(4, "varying.frag",
                   "varying vec4 shade;\nvoid main() { gl_FragColor = shade; }\n");
    lab.save_after(6, "blue.frag", paint("0.0, 0.0, 1.0"));
    // A FIFO would hang a read until someone writes to it: it is no shader.
    lab.save_after(8, "fifo", nullptr);
    lab.save_after(10, "red.frag", paint("1.0, 0.0, 0.0"));
    const Outcome outcome = lab.run_all("0", "12:escape");
    ASSERT_EQ(outcome.status, 0) << outcome.err;

    const char* expected[] = {"255,0,0", "0,255,0", "0,255,0", "0,255,0", "0,255,0",
                              "0,255,0", "0,255,0", "0,0,255", "0,0,255", "0,0,255",
                              "0,0,255", "255,0,0", "255,0,0"};
    const std::vector<std::string> titles = lab.titles();
    ASSERT_EQ(titles.size(), 13u);
    for (unsigned k = 0; k < 13; ++k) {
        EXPECT_EQ(rgb(lab.centre(k)), expected[k]) << "frame " << k;
        const bool broken = (k >= 3 && k <= 6) || k == 9 || k == 10;
        EXPECT_EQ(titles[k], "shaderlab: a.vert, a.frag at 0.00 s, frame " + std::to_string(k) +
                                 (broken ? " (error)" : ""));
    }

    // In order, each once: the rebuild, the compile error with its log (the
    // prelude's line not counted), the link error with its log, the rebuild
    // after the fix, the FIFO, the last rebuild.
    const std::string& err = outcome.err;
    const std::string rebuilt = "shaderlab: rebuilt a.vert, a.frag\n";
    const std::string compile = "shaderlab: a.frag: fragment shader compilation failed:\na.frag:1:";
    const std::string link = "shaderlab: a.vert,a.frag: link failed:\n";
    const std::string fifo = "shaderlab: a.frag is not a regular file\n";
    EXPECT_EQ(count(err, rebuilt), 3u) << err;
    EXPECT_EQ(count(err, compile), 1u) << err;
    EXPECT_EQ(count(err, link), 1u) << err;
    EXPECT_EQ(count(err, fifo), 1u) << err;
    EXPECT_EQ(count(err, "shaderlab: "), 6u) << err;
    EXPECT_LT(err.find(rebuilt), err.find(compile));
    EXPECT_LT(err.find(compile), err.find(link));
    EXPECT_LT(err.find(link), err.find(fifo));
    EXPECT_LT(err.find(fifo), err.rfind(rebuilt));
    EXPECT_NE(err.find("shade", err.find(link) + link.size()), std::string::npos) << err;
}

// The picture's red is time x 20 / 255, green says the resolution, blue the
// rig's mouse motion to (640, 360) from the top: (640, 359) from the bottom.
TEST(ShaderlabUniforms, space_pauses_and_resumes_time_r_resets_it_arrows_seek_and_inputs_arrive)
{
    Lab lab;
    lab.put("a.vert", kVertex);
    lab.put("a.frag",
            "uniform float time;\nuniform vec2 resolution;\nuniform vec2 mouse;\n" +
                paint("time * 20.0 / 255.0, resolution == vec2(1280.0, 720.0) ? 1.0 : 0.0, "
                      "mouse == vec2(640.0, 359.0) ? 1.0 : 0.0"));
    std::string ticks;
    for (int k = 0; k < 14; ++k)
        ticks += (k ? "," : "") + std::to_string(10000 + 1000 * k);
    // Pause at 2 s, resume, reset, a second forth; pause, reset while paused,
    // forth, back twice (no further than 0), forth; close.
    const Outcome outcome =
        lab.run_all(ticks, "1:mouse,2:key-space,4:key-space,6:key-r,8:key-space,9:key-r,13:quit",
                    "6:right,9:right,10:left,10:left,11:right");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // Nothing changed on disk: nothing to say.
    EXPECT_EQ(outcome.err, "");

    const int seconds[] = {0, 1, 2, 2, 2, 3, 0, 2, 3, 0, 1, 0, 1, 1};
    for (unsigned k = 0; k < 14; ++k) {
        const Rgb c = lab.centre(k);
        EXPECT_EQ(int(c.r), 20 * seconds[k]) << "frame " << k;
        EXPECT_EQ(int(c.g), 255) << "frame " << k;
        EXPECT_EQ(int(c.b), k == 0 ? 0 : 255) << "frame " << k;
    }
    // The frame count stands still while paused and starts over with R.
    const std::vector<std::string> titles = lab.titles();
    ASSERT_EQ(titles.size(), 14u);
    EXPECT_EQ(titles[3], "shaderlab: a.vert, a.frag at 2.00 s, frame 2, paused");
    EXPECT_EQ(titles[7], "shaderlab: a.vert, a.frag at 2.00 s, frame 1");
}

TEST(ShaderlabStartUp, ends_with_one_line_saying_why_and_status_1)
{
    struct Case {
        std::vector<std::string> args;
        bool prelude;
        std::string fragment;
        std::string video_driver;  // "" for the display's
        std::string line;          // the start of the one line on stderr
    };
    const std::string red = paint("1.0, 0.0, 0.0");
    const Case cases[] = {
        {{"a.vert", "none.frag"}, true, "", "", "shaderlab: can't open: none.frag\n"},
        {{}, false, "", "", "shaderlab: can't open: shaders/std.glsl (run shaderlab from a folder"},
        {{"a.vert", "a.frag"},
         true,
         "void main() { oops }\n",
         "",
         "shaderlab: a.frag: fragment shader compilation failed: a.frag:1:"},
        {{"a.vert", "a.frag", "b.frag"},
         true,
         "",
         "",
         "shaderlab: expected a fragment file, or a vertex and a fragment file"},
        {{"fifo.frag"}, true, "", "", "shaderlab: fifo.frag is not a regular file\n"},
        {{"-c", "0=none.png", "a.frag"}, true, red, "", "shaderlab: can't open: none.png\n"},
        {{"-c", "1=B", "a.frag"}, true, red, "", "shaderlab: -c ...=B: there is no buffer B"},
        // A driver without OpenGL, and no driver at all (as without a display).
        {{"a.vert", "a.frag"},
         true,
         red,
         "dummy",
         "shaderlab: cannot open a 1280x720 OpenGL window: "},
        {{"a.vert", "a.frag"}, true, red, "bogus", "shaderlab: cannot initialise SDL: "},
    };
    for (const Case& c : cases) {
        Lab lab(c.args);
        if (!c.prelude)
            std::filesystem::remove(lab.dir() + "/shaders/std.glsl");
        lab.put("a.vert", kVertex);
        mkfifo((lab.dir() + "/fifo.frag").c_str(), 0600);
        if (!c.fragment.empty())
            lab.put("a.frag", c.fragment);
        if (!c.video_driver.empty())
            lab.set_env("SDL_VIDEODRIVER", c.video_driver);
        const Outcome outcome = lab.run(20);
        EXPECT_TRUE(outcome.exited) << c.line;
        EXPECT_EQ(outcome.status, 1) << c.line;
        EXPECT_EQ(outcome.err.rfind(c.line, 0), 0u) << outcome.err;
        EXPECT_EQ(count(outcome.err, "\n"), 1u) << outcome.err;
    }
}

// One shader of our own in the shared form per kind of input, each run once
// and checked by a few pixels (x and y from the bottom-left).
TEST(ShaderlabSharedForm, runs_mainImage_with_each_kind_of_input)
{
    struct Pixel {
        unsigned frame;
        int x, y;
        Rgb colour;
        int tolerance;
    };
    struct Case {
        std::string kind;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> files;
        std::string ticks, events, pushes;  // ticks "": 60 frames a second, with sound
        std::vector<Pixel> pixels;
    };
    // 2x2: red, green above blue, white.
    const std::string quad = png_rgba(2, 2,
                                      std::string("\xff\x00\x00\xff\x00\xff\x00\xff"
                                                  "\x00\x00\xff\xff\xff\xff\xff\xff",
                                                  16));
    const Case cases[] = {
        // The bottom rows: the time between frames and its rate (1/60 s first).
        {"plain: time, frame count, resolution, GLSL 3.30",
         {"a.frag"},
         {{"a.frag",
           image("    int tenth = iFrame * 10;\n"
                 "    c = vec4(iTime * 20.0 / 255.0, float(tenth) / 255.0,\n"
                 "             iResolution == vec3(1280, 720, 1) ? tanh(20.0) : 0.0, 1);\n"
                 "    if (p.y < 8.0) c = vec4(iTimeDelta, iFrameRate / 255.0, 0, 1);\n")}},
         "1000,2000,3000",
         "3:escape",
         "",
         {{0, 640, 360, {0, 0, 255}, 0},
          {2, 10, 700, {40, 20, 255}, 0},
          {0, 10, 4, {4, 60, 0}, 0},
          {2, 10, 4, {255, 1, 0}, 0}}},
        {"image: upright, repeating, mipmapped",
         {"-c", "0=quad.png", "a.frag"},
         {{"quad.png", quad},
          {"a.frag",
           image("    vec2 uv = (floor(p / iResolution.xy * 2.0) + 0.5) / 2.0;\n"
                 "    c = texture(iChannel0, uv + vec2(1.0, -3.0));\n"
                 "    if (p.y < 8.0) c = textureLod(iChannel0, vec2(0.5), 1.0);\n"
                 "    if (p.y > 712.0) c = vec4(iChannelResolution[0] == vec3(2, 2, 1));\n")}},
         "0",
         "1:escape",
         "",
         {{0, 320, 540, {255, 0, 0}, 0},
          {0, 960, 540, {0, 255, 0}, 0},
          {0, 320, 180, {0, 0, 255}, 0},
          {0, 960, 180, {255, 255, 255}, 0},
          {0, 640, 4, {128, 128, 128}, 1},
          {0, 640, 716, {255, 255, 255}, 0}}},
        // 2756.25 Hz is bin 128 of 2048 at 44100 Hz. At the top left the
        // waveform's range: half of full scale each way.
        {"music: spectrum and waveform",
         {"-m", "tone.wav", "-c", "0=music", "a.frag"},
         {{"tone.wav", wav_tone(2756.25, 2)},
          {"a.frag", image("    c = vec4(texelFetch(iChannel0, ivec2(p.x / 2.0, 0), 0).x,\n"
                           "             iSampleRate == 44100.0 ? 1.0 : 0.0, 0, 1);\n"
                           "    if (p.x < 8.0 && p.y > 712.0) {\n"
                           "        float lo = 1.0, hi = 0.0;\n"
                           "        for (int i = 0; i < 512; ++i) {\n"
                           "            float v = texelFetch(iChannel0, ivec2(i, 1), 0).x;\n"
                           "            lo = min(lo, v);\n"
                           "            hi = max(hi, v);\n"
                           "        }\n"
                           "        c = vec4(hi - lo);\n"
                           "    }\n")}},
         "",
         "9:escape",
         "",
         {{0, 256, 100, {0, 255, 0}, 0},
          {8, 256, 100, {255, 255, 0}, 0},
          {8, 800, 100, {0, 255, 0}, 8},
          {8, 4, 716, {128, 128, 128}, 2}}},
        // A gains 1/8 in red and 1 in green each frame, past 1.0: float targets.
        {"buffer: feedback into a float target, cleared by R",
         {"-b", "A=a.frag", "-c", "A.0=A", "-c", "0=A", "image.frag"},
         {{"a.frag",
           image("    c = texture(iChannel0, p / iResolution.xy) + vec4(0.125, 1, 0, 0);\n")},
          {"image.frag",
           image("    vec4 a = texture(iChannel0, p / iResolution.xy);\n"
                 "    c = vec4(a.r, a.g / 8.0, iChannelResolution[0].x == 1280.0 ? 1 : 0, 1);\n")}},
         "0",
         "3:key-r,4:escape",
         "",
         {{0, 640, 360, {32, 32, 255}, 0},
          {1, 640, 360, {64, 64, 255}, 0},
          {2, 10, 10, {96, 96, 255}, 0},
          {3, 640, 360, {32, 32, 255}, 0}}},
        {"common: code before the pass",
         {"-i", "common.glsl", "a.frag"},
         {{"common.glsl", "#define LEVEL 0.5\nvec3 shade() { return vec3(0, LEVEL, 1); }\n"},
          {"a.frag", image("    c = vec4(shade(), 1);\n")}},
         "0",
         "1:escape",
         "",
         {{0, 640, 360, {0, 128, 255}, 1}}},
        // As another tool writes them: its own main() and output, not ours.
        {"own main()",
         {"a.frag"},
         {{"a.frag", image("    c = vec4(1, 0, 0, 1);\n") +
                         "out vec4 colour;\nvoid main() { mainImage(colour, gl_FragCoord.xy); "
                         "colour.b = 1.0; }\n"}},
         "0",
         "1:escape",
         "",
         {{0, 640, 360, {255, 0, 255}, 0}}},
        // Left half: iMouse.xy / 1020; right: the signs of z and w (1 +, 0.4 -)
        // and whether |zw| is the press at (100, 99) from the bottom. With a
        // #version line of its own, after a comment.
        {"mouse: press, drag, release, move",
         {"a.frag"},
         {{"a.frag", "// Clicks.\n#version 330\n" +
                         image("    c = p.x < 640.0 ? vec4(iMouse.xy / 1020.0, 0, 1)\n"
                               "        : vec4(iMouse.z > 0.0 ? 1.0 : iMouse.z < 0.0 ? 0.4 : 0.0,\n"
                               "               iMouse.w > 0.0 ? 1.0 : iMouse.w < 0.0 ? 0.4 : 0.0,\n"
                               "               abs(iMouse.zw) == vec2(100, 99) ? 1 : 0, 1);\n")}},
         "0",
         "5:escape",
         "0:press:100:620,1:move:300:520,2:release:300:520,3:move:500:420",
         {{0, 10, 10, {0, 0, 0}, 0},
          {0, 1000, 10, {0, 0, 0}, 0},
          {1, 10, 10, {25, 25, 0}, 0},
          {1, 1000, 10, {255, 255, 255}, 0},
          {2, 10, 10, {75, 50, 0}, 0},
          {2, 1000, 10, {255, 102, 255}, 0},
          {3, 1000, 10, {102, 102, 255}, 0},
          {4, 10, 10, {75, 50, 0}, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        Lab lab(c.args);
        for (const auto& [name, text] : c.files)
            lab.put(name, text);
        const Outcome outcome = lab.run_all(c.ticks, c.events, c.pushes);
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.err, "");
        for (const Pixel& p : c.pixels) {
            const Rgb got = lab.frame(p.frame).at(p.x, p.y);
            const int diff[3] = {got.r - p.colour.r, got.g - p.colour.g, got.b - p.colour.b};
            for (int d : diff)
                EXPECT_LE(std::abs(d), p.tolerance)
                    << "frame " << p.frame << " at " << p.x << "," << p.y << ": " << rgb(got);
        }
    }
}

// The image pass breaks on line 3, with 30 errors (a log longer than the GL's
// 1024-byte buffers), is fixed, then the common file breaks on its line 2.
TEST(ShaderlabSharedForm, errors_name_the_users_file_and_line_and_show_over_the_last_picture)
{
    Lab lab({"-i", "common.glsl", "a.frag"});
    const std::string common = "vec3 base()\n{\n    return vec3(1, 0, 0);\n}\n";
    lab.put("common.glsl", common);
    lab.put("a.frag", image("    c = vec4(base(), 1);\n"));
    std::string broken;
    for (int line = 3; line <= 32; ++line)
        broken +=
            "    float v" + std::to_string(line) + " = undeclared_" + std::to_string(line) + ";\n";
    lab.save_after(0, "broken.frag", image(broken + "    c = vec4(base(), 1);\n"));
    lab.save_after(1, "green.frag", image("    c = vec4(0, 1, 0, 1);\n"));
    lab.save_after(2, "common.glsl", "vec3 base()\n{ return nothing; }\n", "common.glsl");
    lab.save_after(3, "fixed.glsl", common, "common.glsl");
    const Outcome outcome = lab.run_all("0", "5:escape");
    ASSERT_EQ(outcome.status, 0) << outcome.err;

    const std::string& err = outcome.err;
    const std::string failed = "shaderlab: a.frag: fragment shader compilation failed:\n";
    EXPECT_EQ(count(err, failed), 2u) << err;
    EXPECT_EQ(err.find(failed + "a.frag:3:"), 0u) << err;
    for (int line = 3; line <= 32; ++line)
        EXPECT_EQ(count(err, "a.frag:" + std::to_string(line) + ":"), 1u) << line;
    EXPECT_NE(err.find(failed + "common.glsl:2:"), std::string::npos) << err;
    EXPECT_EQ(count(err, "shaderlab: rebuilt a.frag\n"), 2u) << err;

    // Over the broken frames, a dark band with white text at the top left, the
    // last good picture behind it; none once a save builds.
    const Rgb behind[] = {{255, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 255, 0}, {0, 255, 0}};
    for (unsigned k = 0; k < 5; ++k) {
        const Frame frame = lab.frame(k);
        const bool broken_frame = k == 1 || k == 3;
        int white = 0;
        for (int y = 700; y < 712; ++y)
            for (int x = 8; x < 300; ++x)
                white += rgb(frame.at(x, y)) == "255,255,255";
        EXPECT_EQ(white > 200, broken_frame) << "frame " << k << ": " << white;
        const Rgb corner = frame.at(1270, 716);
        const Rgb dimmed = {uint8_t(behind[k].r / 4), uint8_t(behind[k].g / 4),
                            uint8_t(behind[k].b / 4)};
        const Rgb expected = broken_frame ? dimmed : behind[k];
        EXPECT_NEAR(corner.r, expected.r, 1) << "frame " << k;
        EXPECT_NEAR(corner.g, expected.g, 1) << "frame " << k;
        EXPECT_EQ(rgb(frame.at(640, 10)), rgb(behind[k])) << "frame " << k;
    }
    const std::vector<std::string> titles = lab.titles();
    ASSERT_EQ(titles.size(), 6u);
    EXPECT_EQ(titles[1], "shaderlab: a.frag at 0.00 s, frame 1 (error)");
    EXPECT_EQ(titles[2], "shaderlab: a.frag at 0.00 s, frame 2");
}
