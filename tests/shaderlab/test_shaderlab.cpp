// The live shader editor, run as a user runs it, under the preload rig (its
// clock, keys and frames) and tests/support/swap_hook (saves between frames,
// window titles), in a scratch folder of its own shader files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "demo_run.h"

namespace {

const std::string kVertex = "void main() { gl_Position = gl_Vertex; }\n";

std::string paint(const std::string& rgb)
{
    return "void main() { gl_FragColor = vec4(" + rgb + ", 1.0); }\n";
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

    // Saves edits/NAME over a.frag right after swap k.
    void save_after(unsigned k, const std::string& name, const std::string& text)
    {
        put("edits/" + name, text);
        renames += (renames.empty() ? "" : ",") + std::to_string(k) + ":edits/" + name + ":a.frag";
    }

    Outcome run_all(const std::string& ticks, const std::string& events)
    {
        use_rig(ticks, events, "all");
        preload(SWAP_HOOK_LIBRARY);
        set_env("SWAP_RENAMES", renames);
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

size_t count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::string rgb(Rgb c)
{
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
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
    const Outcome outcome = lab.run_all("0", "8:escape");
    ASSERT_EQ(outcome.status, 0) << outcome.err;

    const char* expected[] = {"255,0,0", "0,255,0", "0,255,0", "0,255,0", "0,255,0",
                              "0,255,0", "0,255,0", "0,0,255", "0,0,255"};
    const std::string ok = "shaderlab: a.vert, a.frag";
    const std::string broken = ok + " (error)";
    const std::vector<std::string> titles = lab.titles();
    ASSERT_EQ(titles.size(), 9u);
    for (unsigned k = 0; k < 9; ++k) {
        EXPECT_EQ(rgb(lab.centre(k)), expected[k]) << "frame " << k;
        EXPECT_EQ(titles[k], k >= 3 && k <= 6 ? broken : ok) << "frame " << k;
    }

    // In order, each once: the rebuild, the compile error with its log, the
    // link error with its log, the rebuild after the fix.
    const std::string& err = outcome.err;
    const std::string rebuilt = "shaderlab: rebuilt a.vert, a.frag\n";
    const std::string compile = "shaderlab: a.frag: fragment shader compilation failed:\n0:";
    const std::string link = "shaderlab: a.vert,a.frag: link failed:\n";
    EXPECT_EQ(count(err, rebuilt), 2u) << err;
    EXPECT_EQ(count(err, compile), 1u) << err;
    EXPECT_EQ(count(err, link), 1u) << err;
    EXPECT_EQ(count(err, "shaderlab: "), 4u) << err;
    EXPECT_LT(err.find(rebuilt), err.find(compile));
    EXPECT_LT(err.find(compile), err.find(link));
    EXPECT_LT(err.find(link), err.rfind(rebuilt));
    EXPECT_NE(err.find("shade", err.find(link) + link.size()), std::string::npos) << err;
}

// The picture's red is time x 20 / 255, green says the resolution, blue the
// rig's mouse motion to (640, 360) from the top: (640, 359) from the bottom.
TEST(ShaderlabUniforms, space_pauses_and_resumes_time_r_resets_it_and_resolution_and_mouse_arrive)
{
    Lab lab;
    lab.put("a.vert", kVertex);
    lab.put("a.frag",
            "uniform float time;\nuniform vec2 resolution;\nuniform vec2 mouse;\n" +
                paint("time * 20.0 / 255.0, resolution == vec2(1280.0, 720.0) ? 1.0 : 0.0, "
                      "mouse == vec2(640.0, 359.0) ? 1.0 : 0.0"));
    std::string ticks;
    for (int k = 0; k < 12; ++k)
        ticks += (k ? "," : "") + std::to_string(10000 + 1000 * k);
    // Pause at 2 s, resume, reset; pause again, reset while paused; close.
    const Outcome outcome =
        lab.run_all(ticks, "1:mouse,2:key-space,4:key-space,6:key-r,8:key-space,9:key-r,11:quit");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // Nothing changed on disk: nothing to say.
    EXPECT_EQ(outcome.err, "");

    const int seconds[] = {0, 1, 2, 2, 2, 3, 0, 1, 2, 0, 0, 0};
    for (unsigned k = 0; k < 12; ++k) {
        const Rgb c = lab.centre(k);
        EXPECT_EQ(int(c.r), 20 * seconds[k]) << "frame " << k;
        EXPECT_EQ(int(c.g), 255) << "frame " << k;
        EXPECT_EQ(int(c.b), k == 0 ? 0 : 255) << "frame " << k;
    }
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
         "shaderlab: a.frag: fragment shader compilation failed: 0:"},
        {{"a.vert"},
         true,
         "",
         "",
         "shaderlab: expected no arguments or a vertex and a fragment file"},
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
