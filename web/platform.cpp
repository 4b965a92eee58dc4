// The web platform layer's code; its contract is written at the top of
// platform.h. Compiled without the renames, so the GL and SDL calls here are
// Emscripten's own.
#include "platform.h"

// The prototypes of the shader calls, which the layer wraps.
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <SDL.h>
#include <SDL_mixer.h>
#include <cxxabi.h>
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "glibc_rand.h"
#include "glu.h"
#include "main.h"
#include "points.h"
#include "schedule.h"
#include "shader_source.h"
#include "wide_lines.h"

// ---- The C library's generator and GLU, for the whole program ---------------

// The layer's globals are built before those of the units (init priority
// 101, ahead of every unprioritised one, whatever the link order): the demo's
// globals call into the layer (rand, the GL wrappers) while they are built.
#define VORNA_WEB_BUILT_FIRST __attribute__((init_priority(101)))

namespace {
GlibcRand generator VORNA_WEB_BUILT_FIRST;
}  // namespace

extern "C" int rand(void)
{
    return generator.next();
}

extern "C" void srand(unsigned seed)
{
    generator.seed(seed);
}

extern "C" void gluLookAt(GLdouble eye_x, GLdouble eye_y, GLdouble eye_z, GLdouble center_x,
                          GLdouble center_y, GLdouble center_z, GLdouble up_x, GLdouble up_y,
                          GLdouble up_z)
{
    webglu::look_at(eye_x, eye_y, eye_z, center_x, center_y, center_z, up_x, up_y, up_z);
}

extern "C" void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble z_near, GLdouble z_far)
{
    webglu::perspective(fovy, aspect, z_near, z_far);
}

extern "C" GLint gluBuild2DMipmaps(GLenum target, GLint internal_format, GLsizei width,
                                   GLsizei height, GLenum format, GLenum type, const void* data)
{
    return webglu::build_2d_mipmaps(target, internal_format, width, height, format, type, data);
}

// ---- Lines, handed to widelines; everything else straight to the GL ---------

namespace {

bool collecting = false;  // inside glBegin/glEnd of a line or point primitive
GLenum line_mode = GL_LINES;
float line_width = 1.0f;  // the GL's initial sizes
float point_size = 1.0f;
float current_color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
std::vector<widelines::Vertex> line_vertices VORNA_WEB_BUILT_FIRST;

// The line primitives ended but not yet drawn.
widelines::Pending pending_lines VORNA_WEB_BUILT_FIRST;

void flush_lines()
{
    // The batch's draw leaves its last colour; a glColor since is the one in force.
    if (pending_lines.flush())
        glColor4f(current_color[0], current_color[1], current_color[2], current_color[3]);
}

bool is_collected_mode(GLenum mode)
{
    return mode == GL_LINES || mode == GL_LINE_STRIP || mode == GL_LINE_LOOP || mode == GL_POINTS;
}

void line_vertex(float x, float y, float z, float w)
{
    line_vertices.push_back(widelines::Vertex{x, y, z, w, current_color[0], current_color[1],
                                              current_color[2], current_color[3]});
}

void set_color(float r, float g, float b, float a)
{
    current_color[0] = r;
    current_color[1] = g;
    current_color[2] = b;
    current_color[3] = a;
}

}  // namespace

extern "C" {

void vorna_web_glLineWidth(GLfloat width)
{
    if (width > 0.0f)
        line_width = width;
}

void vorna_web_glPointSize(GLfloat size)
{
    if (size > 0.0f)
        point_size = size;
    glPointSize(size);
}

void vorna_web_glBegin(GLenum mode)
{
    if (is_collected_mode(mode)) {
        collecting = true;
        line_mode = mode;
        line_vertices.clear();
        return;
    }
    flush_lines();
    glBegin(mode);
}

void vorna_web_glEnd(void)
{
    if (collecting) {
        collecting = false;
        if (line_mode == GL_POINTS) {
            flush_lines();
            points::draw(line_vertices.data(), line_vertices.size(), point_size);
        } else {
            pending_lines.add(line_mode, line_vertices.data(), line_vertices.size(), line_width);
        }
        return;
    }
    glEnd();
}

#define VORNA_WEB_FLUSHING_WRAPPER(ret, name, params, args) \
    ret vorna_web_##name params                             \
    {                                                       \
        flush_lines();                                      \
        return name args;                                   \
    }
VORNA_WEB_FLUSHED_CALLS(VORNA_WEB_FLUSHING_WRAPPER)
#undef VORNA_WEB_FLUSHING_WRAPPER

#define VORNA_WEB_CORE_WRAPPER(ret, name, core, params, args) \
    ret vorna_web_##name params                               \
    {                                                         \
        flush_lines();                                        \
        return core args;                                     \
    }
VORNA_WEB_CORE_CALLS(VORNA_WEB_CORE_WRAPPER)
#undef VORNA_WEB_CORE_WRAPPER

void vorna_web_glShaderSource(GLuint shader, GLsizei count, const GLchar* const* strings,
                              const GLint* lengths)
{
    flush_lines();
    const std::string source = websl::translate(count, strings, lengths);
    const GLchar* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
}

void vorna_web_glShaderSourceARB(GLhandleARB shader, GLsizei count, const GLcharARB** strings,
                                 const GLint* lengths)
{
    vorna_web_glShaderSource(shader, count, strings, lengths);
}

void vorna_web_glVertex2f(GLfloat x, GLfloat y)
{
    if (collecting)
        line_vertex(x, y, 0.0f, 1.0f);
    else
        glVertex2f(x, y);
}

void vorna_web_glVertex2fv(const GLfloat* v)
{
    vorna_web_glVertex2f(v[0], v[1]);
}

void vorna_web_glVertex2i(GLint x, GLint y)
{
    vorna_web_glVertex2f(static_cast<float>(x), static_cast<float>(y));
}

void vorna_web_glVertex3f(GLfloat x, GLfloat y, GLfloat z)
{
    if (collecting)
        line_vertex(x, y, z, 1.0f);
    else
        glVertex3f(x, y, z);
}

void vorna_web_glVertex3fv(const GLfloat* v)
{
    vorna_web_glVertex3f(v[0], v[1], v[2]);
}

void vorna_web_glVertex3i(GLint x, GLint y, GLint z)
{
    vorna_web_glVertex3f(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

void vorna_web_glVertex4f(GLfloat x, GLfloat y, GLfloat z, GLfloat w)
{
    if (collecting)
        line_vertex(x, y, z, w);
    else
        glVertex4f(x, y, z, w);
}

void vorna_web_glVertex4fv(const GLfloat* v)
{
    vorna_web_glVertex4f(v[0], v[1], v[2], v[3]);
}

void vorna_web_glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a)
{
    set_color(r, g, b, a);
    glColor4f(r, g, b, a);
}

void vorna_web_glColor3f(GLfloat r, GLfloat g, GLfloat b)
{
    vorna_web_glColor4f(r, g, b, 1.0f);
}

void vorna_web_glColor3fv(const GLfloat* v)
{
    vorna_web_glColor4f(v[0], v[1], v[2], 1.0f);
}

void vorna_web_glColor4fv(const GLfloat* v)
{
    vorna_web_glColor4f(v[0], v[1], v[2], v[3]);
}

void vorna_web_glColor3ub(GLubyte r, GLubyte g, GLubyte b)
{
    vorna_web_glColor4f(r / 255.0f, g / 255.0f, b / 255.0f, 1.0f);
}

void vorna_web_glColor4ub(GLubyte r, GLubyte g, GLubyte b, GLubyte a)
{
    vorna_web_glColor4f(r / 255.0f, g / 255.0f, b / 255.0f, a / 255.0f);
}

}  // extern "C"

// ---- The clock and the main loop ---------------------------------------------

namespace {

// Test mode's clock (schedule.h): a list of ticks by frame, or a frame rate
// from a start. Neither: the real clock.
schedule::Clock test_clock;
Uint32 frame_count = 0;  // frames in the schedule; 0: not in test mode
Uint32 frames_run = 0;

[[noreturn]] void bad_schedule(const std::string& message)
{
    std::fprintf(stderr, "web: %s\n", message.c_str());
    EM_ASM({
        if (Module.onDemoEnd)
            Module.onDemoEnd("error");
    });
    std::exit(2);
}

void parse_schedule(int argc, char** argv)
{
    if (argc % 2 == 0)
        bad_schedule("arguments come in pairs: name value");
    const char* ticks = nullptr;
    const char* rate = nullptr;
    const char* start = nullptr;
    const char* frames = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "ticks")
            ticks = argv[i + 1];
        else if (name == "fps")
            rate = argv[i + 1];
        else if (name == "start")
            start = argv[i + 1];
        else if (name == "frames")
            frames = argv[i + 1];
        else
            bad_schedule("unknown argument \"" + name + "\"");
    }
    try {
        test_clock = schedule::Clock::parse(ticks, rate, start, {"ticks", "fps", "start"});
        // A list says how many frames it runs; a rate runs as many as asked.
        if (frames && !rate)
            bad_schedule("frames needs fps");
        if (rate && !frames)
            bad_schedule("fps needs frames");
        frame_count =
            rate ? schedule::number(frames, "frames") : static_cast<Uint32>(test_clock.length());
        if (rate && frame_count == 0)
            bad_schedule("frames: must be at least 1");
    } catch (const schedule::Refused& refused) {
        bad_schedule(refused.what());
    }
}

void end_demo(const char* reason)
{
    emscripten_cancel_main_loop();
    // The desktop's process ends here and takes the sound with it.
    Mix_HaltMusic();
    EM_ASM(
        {
            if (Module.onDemoEnd)
                Module.onDemoEnd(UTF8ToString($0));
        },
        reason);
}

// In test mode the run ends as "test" also when the demo ends first.
void browser_frame()
{
    try {
        run_frame();  // its buffer swap draws the lines still held
    } catch (...) {
        // On the desktop the exception would leave main and end the process
        // through std::terminate, with the demo's own report; here it would
        // only reach the browser as a number, with the loop still running.
        emscripten_cancel_main_loop();
        Mix_HaltMusic();
        std::terminate();
    }
    ++frames_run;
    if (frame_count && (!demo.running || frames_run == frame_count))
        end_demo("test");
    else if (!demo.running)
        end_demo("end");
}

// The page asks how the music fares (loaded, playing, where) through this.
EM_JS(void, publish_music_state, (), {
    Module.musicState = function()
    {
        var audio = SDL.music.audio;
        if (!audio)
            return null;
        return {
            playing : !audio.paused,
            muted : !!audio.muted,
            time : audio.currentTime,
            duration : audio.duration
        };
    };
});

}  // namespace

extern "C" Uint32 vorna_web_SDL_GetTicks(void)
{
    if (!frame_count)
        return SDL_GetTicks();
    return test_clock.at(frames_run < frame_count ? frames_run : frame_count - 1);
}

// An exception thrown while the globals are built, before main, reaches the
// browser as a bare number (the thrown object): the page hands it back here,
// and it ends the run as it would on the desktop, through std::terminate and
// the demo's own report.
extern "C" EMSCRIPTEN_KEEPALIVE void vorna_web_escaped(void* thrown)
{
    try {
        abi::__cxa_rethrow_primary_exception(thrown);
    } catch (...) {
        std::terminate();
    }
}

int main(int argc, char** argv)
{
    parse_schedule(argc, argv);
    publish_music_state();
    // 0 frames per second: one frame per browser animation frame.
    emscripten_set_main_loop(browser_frame, 0, 1);
    return 0;
}
