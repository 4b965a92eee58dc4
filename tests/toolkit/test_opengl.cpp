// The shader-program classes and GL helpers, on real GL in the demo's window.
// Shader tests run in a temporary folder holding their own shaders/std.glsl.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "gl_window.h"
#include "main.h"
#include "opengl.h"

namespace {

namespace fs = std::filesystem;

const std::string kPrelude = "#version 120\nvec4 tint() { return vec4(1.0); }\n";
// The vertex stage picks the colour, the fragment stage tints it with the
// prelude's tint(), so an edit to any of the three shows in the pixel.
const std::string kVertex =
    "varying vec4 colour;\n"
    "void main()\n"
    "{\n"
    "    colour = vec4(1.0, 0.0, 0.6, 1.0);\n"
    "    gl_Position = gl_Vertex;\n"
    "}\n";
const std::string kFragment =
    "varying vec4 colour;\n"
    "void main()\n"
    "{\n"
    "    gl_FragColor = colour * tint();\n"
    "}\n";
const std::string kBroken = "void main() { this is not GLSL }\n";
// Compiles, but the link finds no body for shade().
const std::string kUnlinkable = "vec4 shade();\nvoid main() { gl_FragColor = shade(); }\n";
const std::string kPassThrough = "void main() { gl_Position = gl_Vertex; }\n";

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << '(' << c.r << ", " << c.g << ", " << c.b << ')';
}
const Rgb kMagenta{255, 0, 153};

// Clears to black and draws a quad over the whole viewport with the program
// in use; returns the colour at the window's centre.
Rgb draw_and_sample()
{
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBegin(GL_QUADS);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    glVertex2f(1, 1);
    glVertex2f(-1, 1);
    glEnd();
    const Rgba p = pixel_at(read_back_buffer(), 640, 360);
    return Rgb{p.r, p.g, p.b};
}

// Every program and shader name alive among the low names, where Mesa
// allocates them; a leak shows up as an extra name.
std::set<GLuint> live_names()
{
    std::set<GLuint> names;
    for (GLuint n = 1; n < 4096; ++n)
        if (glIsProgram(n) || glIsShader(n))
            names.insert(n);
    return names;
}

GLint current_program()
{
    return get_int(GL_CURRENT_PROGRAM);
}

GLint link_status(GLuint program)
{
    GLint status = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    return status;
}

std::string shader_source(GLuint shader)
{
    std::vector<char> text(64 * 1024);
    GLsizei length = 0;
    glGetShaderSource(shader, static_cast<GLsizei>(text.size()), &length, text.data());
    return std::string(text.data(), length);
}

// Routes std::clog and std::cerr into strings, and the stderr descriptor into
// gtest's capture, for as long as it lives.
class OutputCapture {
public:
    std::ostringstream clog_text, cerr_text;

    OutputCapture()
        : old_clog(std::clog.rdbuf(clog_text.rdbuf())), old_cerr(std::cerr.rdbuf(cerr_text.rdbuf()))
    {
        testing::internal::CaptureStderr();
    }
    ~OutputCapture()
    {
        if (!stopped)
            stop();
    }
    // Everything written to stderr by C stdio meanwhile.
    std::string stop()
    {
        stopped = true;
        std::clog.rdbuf(old_clog);
        std::cerr.rdbuf(old_cerr);
        return testing::internal::GetCapturedStderr();
    }

private:
    std::streambuf* old_clog;
    std::streambuf* old_cerr;
    bool stopped = false;
};

// A fragment body using every uniform kind, left open for one more term.
const std::string kUniforms =
    "uniform int i;\n"
    "uniform float f;\n"
    "uniform vec2 v2;\n"
    "uniform vec3 v3;\n"
    "uniform vec4 v4;\n"
    "uniform mat4 m;\n"
    "void main()\n"
    "{\n"
    "    gl_FragColor = vec4(float(i) + f + v2.y + v3.z) + v4 + m * vec4(1.0)\n";

// Sets each uniform of kUniforms through the program's setters (the program
// in use) and reads every value back from the GL, bit for bit.
template <class Program>
void expect_every_setter_reaches(Program& program)
{
    const GLuint p = program.program;
    const float v2[2] = {0.25f, -1.5f};
    const float v3[3] = {0.1f, 0.2f, 0.3f};
    const float v4[4] = {1e-7f, 3.5f, -0.0f, 65504.0f};
    float m[16];
    for (int k = 0; k < 16; ++k)
        m[k] = 0.5f * k + 0.1f;
    program.set_int("i", -42);
    program.set_float("f", 0.1f);
    program.set_vector2("v2", v2);
    program.set_vector3("v3", v3);
    program.set_vector4("v4", v4);
    program.set_matrix4("m", m);
    program.set_float("no_such_uniform", 1.0f);  // location -1: ignored
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    GLint i = 0;
    glGetUniformiv(p, glGetUniformLocation(p, "i"), &i);
    EXPECT_EQ(i, -42);
    float got[16] = {};
    glGetUniformfv(p, glGetUniformLocation(p, "f"), got);
    EXPECT_EQ(got[0], 0.1f);
    glGetUniformfv(p, glGetUniformLocation(p, "v2"), got);
    EXPECT_EQ(std::memcmp(v2, got, sizeof(v2)), 0);
    glGetUniformfv(p, glGetUniformLocation(p, "v3"), got);
    EXPECT_EQ(std::memcmp(v3, got, sizeof(v3)), 0);
    glGetUniformfv(p, glGetUniformLocation(p, "v4"), got);
    EXPECT_EQ(std::memcmp(v4, got, sizeof(v4)), 0);
    // Column-major in, column-major out: not transposed.
    glGetUniformfv(p, glGetUniformLocation(p, "m"), got);
    EXPECT_EQ(std::memcmp(m, got, sizeof(m)), 0);
}

// A temporary working folder with a shaders/ subfolder, entered for the test.
class ShaderFolder : public ::testing::Test {
protected:
    fs::path old_cwd;
    fs::path dir;
    time_t next_second = 0;

    void SetUp() override
    {
        char name[] = "/tmp/vorna_opengl_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        fs::create_directory(dir / "shaders");
        old_cwd = fs::current_path();
        fs::current_path(dir);
        // Files are stamped with seconds long past, one more for each write,
        // so no poll ever lands inside a modification second.
        next_second = time(nullptr) - 1000;
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    void TearDown() override
    {
        fs::current_path(old_cwd);
        fs::remove_all(dir);
    }

    void write(const std::string& path, const std::string& text)
    {
        {
            std::ofstream out(path, std::ios_base::binary | std::ios_base::trunc);
            out << text;
        }
        const timespec times[2] = {{next_second, 0}, {next_second, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        ++next_second;
    }

    void write_all(const std::string& prelude = kPrelude, const std::string& vertex = kVertex,
                   const std::string& fragment = kFragment)
    {
        write("shaders/std.glsl", prelude);
        write("shaders/test.vert", vertex);
        write("shaders/test.frag", fragment);
    }
};

// GLProgram

using GLProgramTest = ShaderFolder;

TEST_F(GLProgramTest, the_string_constructor_builds_a_working_program_and_logs_its_sources)
{
    OutputCapture capture;
    GLProgram program(kPrelude, kVertex, kFragment);
    capture.stop();
    EXPECT_EQ(capture.clog_text.str(),
              "Compling the following builtin shader...\n"
              "------------std-----------\n" +
                  kPrelude +
                  "\n"
                  "-------vertex shader------\n" +
                  kVertex +
                  "\n"
                  "------fragment shader-----\n" +
                  kFragment +
                  "\n"
                  "-----------end------------\n");
    EXPECT_EQ(capture.cerr_text.str(), "");

    EXPECT_EQ(link_status(program.program), GL_TRUE);
    GLint attached = 0;
    glGetProgramiv(program.program, GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 2);

    program.use();
    EXPECT_EQ(current_program(), GLint(program.program));
    EXPECT_EQ(draw_and_sample(), kMagenta);
    program.unuse();
    EXPECT_EQ(current_program(), 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgramTest, an_empty_prelude_compiles_the_sources_alone_and_logs_an_empty_line)
{
    OutputCapture capture;
    GLProgram program("", "void main() { gl_Position = gl_Vertex; }",
                      "void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }");
    capture.stop();
    EXPECT_NE(
        capture.clog_text.str().find("------------std-----------\n\n-------vertex shader------\n"),
        std::string::npos);
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 255, 0}));
}

TEST_F(GLProgramTest, the_prelude_is_the_first_source_string_with_nothing_between)
{
    // Without a final line end the prelude's "//" comments out the shader's
    // first line, which would not compile on its own.
    const std::string prelude = kPrelude + "//";
    GLProgram program(prelude, "junk that is no GLSL\n" + kVertex, "more junk\n" + kFragment);
    program.use();
    EXPECT_EQ(draw_and_sample(), kMagenta);
}

TEST_F(GLProgramTest, the_file_constructor_builds_from_the_prelude_and_both_files)
{
    write_all();
    OutputCapture capture;
    GLProgram program("shaders/test.vert", "shaders/test.frag");
    capture.stop();
    // The first line has no end: the block continues it.
    EXPECT_EQ(capture.clog_text.str(),
              "Compling shader ['shaders/test.vert', 'shaders/test.frag']..."
              "------------Compiling this shader-----------\n" +
                  kPrelude +
                  "\n"
                  "-----------\n" +
                  kVertex +
                  "\n"
                  "-----------\n" +
                  kFragment +
                  "\n"
                  "---------------------end--------------------\n");
    program.use();
    EXPECT_EQ(draw_and_sample(), kMagenta);
}

TEST_F(GLProgramTest, a_source_file_above_8_kib_compiles_whole)
{
    std::string fragment;
    while (fragment.size() < 10000)
        fragment += "// padding to push the body past the first 8 KiB of the file\n";
    fragment += "void main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }\n";
    ASSERT_GT(fragment.size(), 10000u);
    write_all(kPrelude, kPassThrough, fragment);

    OutputCapture capture;
    GLProgram program("shaders/test.vert", "shaders/test.frag");
    capture.stop();
    EXPECT_NE(capture.clog_text.str().find(fragment), std::string::npos);
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 0, 255}));
}

TEST(GLProgramDeathTest, a_compile_failure_prints_shader_terror_and_the_log_and_aborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(GLProgram(kPrelude, kBroken, kFragment), testing::KilledBySignal(SIGABRT),
                "Shader terror:\n0:[0-9]+\\([0-9]+\\): error: ");
    EXPECT_EXIT(GLProgram(kPrelude, kVertex, kBroken), testing::KilledBySignal(SIGABRT),
                "Shader terror:\n0:[0-9]+\\([0-9]+\\): error: ");
}

TEST(GLProgramDeathTest, a_source_file_that_cannot_be_opened_prints_its_path_and_aborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string assets = std::getenv("VORNA_ASSETS");
    // Only the child changes folder: the prelude is there, the vertex file not.
    EXPECT_EXIT(
        {
            fs::current_path(assets);
            GLProgram("/nonexistent/test.vert", "shaders/plasma.frag");
        },
        testing::KilledBySignal(SIGABRT), "Can't open file /nonexistent/test.vert\n");
    EXPECT_EXIT(
        {
            fs::current_path("/");
            GLProgram("a.vert", "a.frag");
        },
        testing::KilledBySignal(SIGABRT), "Can't open file shaders/std.glsl\n");
}

TEST_F(GLProgramTest, a_link_failure_prints_the_error_line_and_throws_shader_error)
{
    OutputCapture capture;
    const char* thrown = nullptr;
    try {
        GLProgram program(kPrelude, kPassThrough, kUnlinkable);
    } catch (const char* e) {
        thrown = e;
    }
    const std::string err = capture.stop();
    ASSERT_NE(thrown, nullptr);
    EXPECT_STREQ(thrown, "shader error");
    const std::string head = "Error 0 in program <vertFile>,<fragFile>:\n";
    ASSERT_EQ(err.compare(0, head.size(), head), 0) << err;
    EXPECT_NE(err.find("shade"), std::string::npos) << err;
}

TEST_F(GLProgramTest, the_shader_error_path_deletes_the_program_and_both_shaders)
{
    const std::set<GLuint> before = live_names();
    {
        // A built program shows in the scan: the scan covers the names used.
        GLProgram built(kPrelude, kVertex, kFragment);
        EXPECT_EQ(live_names().size(), before.size() + 3);
    }
    EXPECT_EQ(live_names(), before);

    OutputCapture capture;
    EXPECT_THROW(GLProgram(kPrelude, kVertex, kUnlinkable), const char*);
    capture.stop();
    EXPECT_EQ(live_names(), before);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgramTest, every_uniform_setter_reaches_the_program)
{
    GLProgram program(kPrelude, kPassThrough,
                      "uniform float a[3];\n" + kUniforms + "    + vec4(a[0] + a[1] + a[2]);\n}\n");
    program.use();
    expect_every_setter_reaches(program);

    const float a[3] = {7.0f, 0.7f, 0.07f};
    program.set_float_array("a", a, 3);
    const char* elements[3] = {"a[0]", "a[1]", "a[2]"};
    for (int k = 0; k < 3; ++k) {
        float got = 0;
        glGetUniformfv(program.program, glGetUniformLocation(program.program, elements[k]), &got);
        EXPECT_EQ(got, a[k]) << k;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgramTest, an_attribute_binding_takes_effect_at_the_next_link)
{
    GLProgram program(kPrelude,
                      "attribute vec4 extra;\nvoid main() { gl_Position = gl_Vertex + extra; }\n",
                      "void main() { gl_FragColor = vec4(1.0); }\n");
    const GLint first = glGetAttribLocation(program.program, "extra");
    ASSERT_GE(first, 0);
    ASSERT_NE(first, 7);
    program.bind_attribute_name_with_index(7, "extra");
    EXPECT_EQ(glGetAttribLocation(program.program, "extra"), first);
    program.link();
    EXPECT_EQ(glGetAttribLocation(program.program, "extra"), 7);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgramTest, a_null_path_builds_nothing_and_destructs_cleanly)
{
    const std::set<GLuint> before = live_names();
    OutputCapture capture;
    {
        GLProgram no_vertex(nullptr, "shaders/test.frag");
        GLProgram no_fragment("shaders/test.vert", nullptr);
        for (GLProgram* program : {&no_vertex, &no_fragment}) {
            EXPECT_EQ(program->program, 0u);
            EXPECT_EQ(program->vertex_shader, 0u);
            EXPECT_EQ(program->fragment_shader, 0u);
            program->use();
            const float v[16] = {};
            program->set_int("i", 1);
            program->set_float("f", 1);
            program->set_vector2("v", v);
            program->set_vector3("v", v);
            program->set_vector4("v", v);
            program->set_matrix4("m", v);
            program->set_float_array("a", v, 3);
            program->bind_attribute_name_with_index(1, "a");
            program->unuse();
        }
    }
    const std::string err = capture.stop();
    // The files do not even exist: nothing was loaded or logged.
    EXPECT_EQ(capture.clog_text.str(), "");
    EXPECT_EQ(err, "");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_EQ(live_names(), before);
}

// GLProgram2

class GLProgram2Test : public ShaderFolder {
protected:
    void SetUp() override
    {
        ShaderFolder::SetUp();
        write_all();
    }
};

TEST_F(GLProgram2Test, builds_from_its_files_silently_and_draws)
{
    OutputCapture capture;
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    EXPECT_EQ(capture.stop(), "");
    EXPECT_EQ(capture.clog_text.str(), "");
    EXPECT_EQ(capture.cerr_text.str(), "");
    EXPECT_EQ(program.std_file.path, "shaders/std.glsl");
    EXPECT_EQ(program.vertex_file.path, "shaders/test.vert");
    EXPECT_EQ(program.fragment_file.path, "shaders/test.frag");
    EXPECT_EQ(link_status(program.program), GL_TRUE);

    program.use();
    EXPECT_EQ(current_program(), GLint(program.program));
    EXPECT_EQ(draw_and_sample(), kMagenta);
    program.unuse();
    EXPECT_EQ(current_program(), 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgram2Test, an_edit_of_any_of_the_three_files_rebuilds_on_the_next_use)
{
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    program.use();
    EXPECT_EQ(draw_and_sample(), kMagenta);

    write("shaders/test.vert",
          "varying vec4 colour;\nvoid main() { colour = vec4(0.0, 1.0, 0.0, 1.0); gl_Position = "
          "gl_Vertex; }\n");
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 255, 0}));

    write("shaders/std.glsl", "#version 120\nvec4 tint() { return vec4(1.0, 0.0, 1.0, 1.0); }\n");
    write("shaders/test.vert", kVertex);
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{255, 0, 153}));
    write("shaders/std.glsl", "#version 120\nvec4 tint() { return vec4(0.0, 1.0, 1.0, 1.0); }\n");
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 0, 153}));

    write("shaders/test.frag", "void main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }\n");
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 0, 255}));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgram2Test, a_broken_edit_keeps_the_last_linked_program_silently_until_fixed)
{
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    for (const char* path : {"shaders/test.vert", "shaders/test.frag"}) {
        write(path, kBroken);
        OutputCapture capture;
        program.use();
        EXPECT_EQ(capture.stop(), "") << path;
        EXPECT_EQ(capture.clog_text.str(), "") << path;
        EXPECT_EQ(capture.cerr_text.str(), "") << path;
        EXPECT_EQ(current_program(), GLint(program.program)) << path;
        EXPECT_EQ(draw_and_sample(), kMagenta) << path;
        // The failed build counts as read: no retry until a further edit.
        EXPECT_NO_THROW(program.update()) << path;

        write(path, path == std::string("shaders/test.vert") ? kVertex : kFragment);
        program.use();
        EXPECT_EQ(draw_and_sample(), kMagenta) << path;
    }

    // After a fixed edit, an edit with another colour proves the rebuilds.
    write("shaders/test.frag", "void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }\n");
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 255, 0}));
}

TEST_F(GLProgram2Test, update_names_the_paths_and_carries_the_log_of_a_failed_build)
{
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    auto message_of_update = [&]() -> std::string {
        try {
            program.update();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no exception)";
    };
    auto starts_with = [](const std::string& text, const std::string& head) {
        return text.compare(0, head.size(), head) == 0 && text.size() > head.size();
    };

    write("shaders/test.vert", kBroken);
    std::string message = message_of_update();
    EXPECT_TRUE(starts_with(message, "shaders/test.vert: vertex shader compilation failed:\n0:"))
        << message;

    write("shaders/test.vert", kVertex);
    write("shaders/test.frag", kBroken);
    message = message_of_update();
    EXPECT_TRUE(starts_with(message, "shaders/test.frag: fragment shader compilation failed:\n0:"))
        << message;

    // Both broken: only the vertex shader is reported.
    write("shaders/test.vert", kBroken);
    message = message_of_update();
    EXPECT_TRUE(starts_with(message, "shaders/test.vert: vertex shader compilation failed:\n"))
        << message;
    EXPECT_EQ(message.find("test.frag"), std::string::npos) << message;

    write("shaders/test.vert", kPassThrough);
    write("shaders/test.frag", kUnlinkable);
    message = message_of_update();
    EXPECT_TRUE(starts_with(message, "shaders/test.vert,shaders/test.frag: link failed:\n"))
        << message;
    EXPECT_NE(message.find("shade"), std::string::npos) << message;
    EXPECT_EQ(link_status(program.program), GL_TRUE);

    write("shaders/test.vert", kVertex);
    write("shaders/test.frag", kFragment);
    EXPECT_EQ(message_of_update(), "(no exception)");
    EXPECT_EQ(link_status(program.program), GL_TRUE);
}

// Edits that compile but do not link: a varying the vertex stage never
// writes, and the empty file an editor leaves for an instant while saving.
TEST_F(GLProgram2Test, an_edit_that_fails_to_link_keeps_the_last_build_drawing_and_no_gl_error)
{
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    program.use();
    const GLuint good = program.program;
    const std::set<GLuint> names = live_names();
    for (const std::string& fragment :
         {std::string("varying vec4 shade;\nvoid main() { gl_FragColor = shade; }\n"),
          std::string()}) {
        write("shaders/test.frag", fragment);
        try {
            program.update();
            ADD_FAILURE() << "no link error for: " << fragment;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(
                          "shaders/test.vert,shaders/test.frag: link failed:\n", 0),
                      0u)
                << e.what();
        }
        program.use();
        program.set_float("time", 1.0f);
        EXPECT_EQ(program.program, good);
        EXPECT_EQ(link_status(good), GL_TRUE);
        EXPECT_EQ(current_program(), GLint(good));
        EXPECT_EQ(draw_and_sample(), kMagenta) << "after: " << fragment;
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "after: " << fragment;
        // The failed program object is gone, not leaked.
        EXPECT_EQ(live_names(), names);
    }

    write("shaders/test.frag", "void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }\n");
    program.use();
    EXPECT_NE(program.program, good);
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 255, 0}));
    program.unuse();
    // The replaced program goes once no longer current.
    EXPECT_EQ(live_names().size(), names.size());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgram2Test, a_file_that_cannot_be_opened_throws_cant_open_and_its_path)
{
    auto construction_error = [](const std::string& vertex, const std::string& fragment) {
        try {
            GLProgram2 program(vertex, fragment);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("(no exception)");
    };
    EXPECT_EQ(construction_error("shaders/none.vert", "shaders/test.frag"),
              "can't open: shaders/none.vert");
    EXPECT_EQ(construction_error("shaders/test.vert", "shaders/none.frag"),
              "can't open: shaders/none.frag");
    fs::remove("shaders/std.glsl");
    EXPECT_EQ(construction_error("shaders/test.vert", "shaders/test.frag"),
              "can't open: shaders/std.glsl");
}

TEST_F(GLProgram2Test, a_failed_constructor_deletes_its_gl_objects)
{
    const std::set<GLuint> before = live_names();
    {
        GLProgram2 built("shaders/test.vert", "shaders/test.frag");
        EXPECT_EQ(live_names().size(), before.size() + 3);
    }
    EXPECT_EQ(live_names(), before);

    EXPECT_THROW(GLProgram2("shaders/none.vert", "shaders/test.frag"), std::runtime_error);
    EXPECT_EQ(live_names(), before);
    write("shaders/test.frag", kBroken);
    EXPECT_THROW(GLProgram2("shaders/test.vert", "shaders/test.frag"), std::runtime_error);
    EXPECT_EQ(live_names(), before);
    write("shaders/test.frag", kUnlinkable);
    EXPECT_THROW(GLProgram2("shaders/test.vert", "shaders/test.frag"), std::runtime_error);
    EXPECT_EQ(live_names(), before);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(GLProgram2Test, update_with_nothing_changed_reads_no_file_and_rebuilds_nothing)
{
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    const std::string vertex_source = shader_source(program.vertex_shader);
    EXPECT_EQ(vertex_source, kPrelude + kVertex);

    // The first poll finds each second over, compares the bytes once more
    // (a late second save would show), finds them the same and drops the
    // cached texts.
    EXPECT_NO_THROW(program.update());
    EXPECT_EQ(program.vertex_file.content, "");
    EXPECT_EQ(program.fragment_file.content, "");
    EXPECT_EQ(program.std_file.content, "");

    // From then on new bytes under the old timestamps go unseen: only a read
    // could notice them.
    const time_t stamps = next_second;
    next_second = stamps - 2;
    write("shaders/test.vert", kBroken);
    write("shaders/test.frag", kBroken);
    next_second = stamps;
    EXPECT_NO_THROW(program.update());
    EXPECT_EQ(shader_source(program.vertex_shader), vertex_source);
    EXPECT_EQ(link_status(program.program), GL_TRUE);
    program.use();
    EXPECT_EQ(draw_and_sample(), kMagenta);
}

TEST_F(GLProgram2Test, a_rebuild_that_cannot_open_the_fragment_file_recompiles_the_vertex_only)
{
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    const std::string green =
        "varying vec4 colour;\nvoid main() { colour = vec4(0.0, 1.0, 0.0, 1.0); gl_Position = "
        "gl_Vertex; }\n";
    write("shaders/test.vert", green);
    fs::remove("shaders/test.frag");
    EXPECT_THROW(program.update(), std::runtime_error);
    EXPECT_EQ(shader_source(program.vertex_shader), kPrelude + green);
    // Not relinked: the old executable still draws.
    program.use();
    EXPECT_EQ(draw_and_sample(), kMagenta);

    // The missing file keeps counting as changed, so its return rebuilds.
    program.use();
    write("shaders/test.frag", kFragment);
    program.use();
    EXPECT_EQ(draw_and_sample(), (Rgb{0, 255, 0}));
}

TEST_F(GLProgram2Test, every_uniform_setter_reaches_the_program)
{
    write("shaders/test.vert", kPassThrough);
    write("shaders/test.frag", kUniforms + ";\n}\n");
    GLProgram2 program("shaders/test.vert", "shaders/test.frag");
    program.use();
    expect_every_setter_reaches(program);
}

// The shipped prelude and example pair, from the assets folder.
TEST_F(ShaderFolder, the_example_plasma_shaders_build_with_the_shipped_prelude)
{
    fs::current_path(std::getenv("VORNA_ASSETS"));
    GLProgram2 live("shaders/plasma.vert", "shaders/plasma.frag");
    live.use();
    EXPECT_GE(glGetUniformLocation(live.program, "time"), 0);
    EXPECT_GE(glGetUniformLocation(live.program, "resolution"), 0);
    const float resolution[2] = {1280, 720};
    live.set_float("time", 1.5f);
    live.set_vector2("resolution", resolution);
    const Rgb colour = draw_and_sample();
    EXPECT_FALSE(colour == (Rgb{0, 0, 0}));
    live.unuse();

    OutputCapture capture;
    GLProgram once("shaders/plasma.vert", "shaders/plasma.frag");
    capture.stop();
    once.use();
    once.set_float("time", 1.5f);
    once.set_vector2("resolution", resolution);
    EXPECT_EQ(draw_and_sample(), colour);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// GL helpers

TEST(DrawFullscreenQuad, restores_the_callers_matrices_and_viewport_and_leaves_depth_test_on)
{
    const GLenum modes[3] = {GL_PROJECTION, GL_MODELVIEW, GL_TEXTURE};
    const GLenum matrices[3] = {GL_PROJECTION_MATRIX, GL_MODELVIEW_MATRIX, GL_TEXTURE_MATRIX};
    const GLenum depths[3] = {GL_PROJECTION_STACK_DEPTH, GL_MODELVIEW_STACK_DEPTH,
                              GL_TEXTURE_STACK_DEPTH};
    for (int k = 0; k < 3; ++k) {
        glMatrixMode(modes[k]);
        glLoadIdentity();
        glTranslatef(1.0f + k, -2.0f, 0.5f);
        glRotatef(30.0f * (k + 1), 0.3f, 1.0f, 0.2f);
    }
    glViewport(10, 20, 300, 200);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);

    float before[3][16];
    int depth_before[3];
    for (int k = 0; k < 3; ++k) {
        glGetFloatv(matrices[k], before[k]);
        depth_before[k] = get_int(depths[k]);
    }

    draw_fullscreen_quad(1280, 720, 0, 0);

    for (int k = 0; k < 3; ++k) {
        float after[16];
        glGetFloatv(matrices[k], after);
        for (int e = 0; e < 16; ++e)
            EXPECT_EQ(after[e], before[k][e]) << "matrix " << k << " element " << e;
        EXPECT_EQ(get_int(depths[k]), depth_before[k]) << k;
    }
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 10);
    EXPECT_EQ(viewport[1], 20);
    EXPECT_EQ(viewport[2], 300);
    EXPECT_EQ(viewport[3], 200);
    EXPECT_EQ(get_int(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_TRUE(is_enabled(GL_DEPTH_TEST));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // From texture mode, with the depth test already on.
    glMatrixMode(GL_TEXTURE);
    draw_fullscreen_quad(64, 32, 5, 6);
    EXPECT_EQ(get_int(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_TRUE(is_enabled(GL_DEPTH_TEST));
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 300);
}

TEST(DrawFullscreenQuad, leaves_the_frame_buffer_untouched)
{
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 0);
    glRectf(-0.5f, -0.5f, 0.5f, 0.5f);
    const std::vector<uint8_t> before = read_back_buffer();
    ASSERT_NE(pixel_at(before, 640, 360).r, pixel_at(before, 0, 0).r);

    draw_fullscreen_quad(1280, 720, 1280, 720);
    EXPECT_TRUE(read_back_buffer() == before);
}

TEST(SafeThrowDeathTest, prints_the_message_and_a_line_end_then_aborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(safe_throw("cannot go on: shaders/std.glsl"), testing::KilledBySignal(SIGABRT),
                "^cannot go on: shaders/std.glsl\n$");
}

TEST(AddLineNumbers, returns_its_argument_unchanged)
{
    EXPECT_EQ(add_line_numbers(""), "");
    EXPECT_EQ(add_line_numbers("one\ntwo\n\nfour"), "one\ntwo\n\nfour");
    const std::string with_nul("a\0b\n", 4);
    EXPECT_EQ(add_line_numbers(with_nul), with_nul);
}

}  // namespace
