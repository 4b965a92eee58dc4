// The rig's frames: the recorded window's buffer swap, through whichever
// library the program draws with, read back before the real swap shows it.
// SDL 2's swap is in sdl2.cpp. The contract is in rig.h.
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "parts.h"

struct GLFWwindow;

namespace {

thread_local bool inside = false;  // a swap hook is running on this thread
std::atomic<const void*> recorded_window{nullptr};
std::atomic<bool> told_no_opengl{false};
std::vector<unsigned char> pixels;  // the last read-back (RGBA); the drawing thread's

const interpose::Next<void*(const char*)> sdl_gl_address("SDL_GL_GetProcAddress");

// A GL function as the program sees it: SDL 1.2 programs through SDL's loader,
// since sdl12-compat draws them into a framebuffer of its own that it passes
// off as the window's (framebuffer 0 in its glBindFramebuffer).
template <typename Function>
Function gl_function(riglib::Kind kind, const char* name)
{
    if (kind == riglib::Kind::sdl12 && sdl_gl_address.get())
        return reinterpret_cast<Function>(sdl_gl_address(name));
    return reinterpret_cast<Function>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

// The back buffer the swap is about to show, whole, into `pixels` (bottom row
// first). The state the read needs (the window's framebuffer and its back
// buffer, no pack buffer, tight rows) is set for it and the program's put back.
void read_back(riglib::Kind kind, int width, int height)
{
    static const auto bind_buffer = gl_function<PFNGLBINDBUFFERPROC>(kind, "glBindBuffer");
    static const auto bind_framebuffer =
        gl_function<PFNGLBINDFRAMEBUFFERPROC>(riglib::Kind::x11, "glBindFramebuffer");
    static const auto bind_window_framebuffer =
        gl_function<PFNGLBINDFRAMEBUFFERPROC>(kind, "glBindFramebuffer");
    int major = 0, minor = 0;
    if (const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION)))
        std::sscanf(version, "%d.%d", &major, &minor);
    const int version = major * 10 + minor;  // 0 for OpenGL ES, which this read does not serve

    GLint pack_buffer = 0, read_framebuffer = 0, window_framebuffer = 0;
    if (version >= 21 && bind_buffer) {
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_buffer);
        if (pack_buffer)
            bind_buffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    const bool framebuffers = version >= 30 && bind_framebuffer && bind_window_framebuffer;
    if (framebuffers) {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer);
        bind_window_framebuffer(GL_READ_FRAMEBUFFER, 0);
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &window_framebuffer);
    }
    // The window's own framebuffer reads its back buffer (its front, when it has
    // only one); one that stands in for it is read as it is set.
    GLint read_buffer = 0, shown = 0;
    if (window_framebuffer == 0) {
        GLboolean doubled = GL_TRUE;
        glGetIntegerv(GL_READ_BUFFER, &read_buffer);
        glGetBooleanv(GL_DOUBLEBUFFER, &doubled);
        shown = doubled ? GL_BACK : GL_FRONT;
        if (read_buffer != shown)
            glReadBuffer(static_cast<GLenum>(shown));
    }

    const GLenum names[] = {GL_PACK_ALIGNMENT,   GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS,
                            GL_PACK_SKIP_PIXELS, GL_PACK_SWAP_BYTES, GL_PACK_LSB_FIRST};
    const GLint tight[] = {1, 0, 0, 0, GL_FALSE, GL_FALSE};
    GLint saved[6];
    for (int i = 0; i < 6; ++i) {
        glGetIntegerv(names[i], &saved[i]);
        if (saved[i] != tight[i])
            glPixelStorei(names[i], tight[i]);
    }
    // RGBA: on llvmpipe the quickest of the orders (1.1 ms for 1280x720 where
    // BGRA, the renderbuffer's own, takes 1.6 and RGB 1.5), and rows of whole
    // words for every driver. A pack buffer would only add a copy there: its
    // read is as synchronous.
    pixels.resize(static_cast<size_t>(width) * height * 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    for (int i = 0; i < 6; ++i)
        if (saved[i] != tight[i])
            glPixelStorei(names[i], saved[i]);

    if (read_buffer != shown)
        glReadBuffer(static_cast<GLenum>(read_buffer));
    if (framebuffers && read_framebuffer != window_framebuffer)
        bind_framebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read_framebuffer));
    if (pack_buffer)
        bind_buffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pack_buffer));
}

// A window that swaps with no OpenGL context drawing into it is said once, in
// the log's own words for an SDL 1.2 window without OpenGL.
void tell_no_opengl(const void* window, riglib::SizeOf size, void* extra)
{
    if (riglib::claim() != riglib::Role::recorder || told_no_opengl.exchange(true))
        return;
    int width = 0, height = 0;
    size(window, extra, &width, &height);
    riglib::log_line("window " + std::to_string(width) + "x" + std::to_string(height) +
                     " no-opengl");
}

// ---- sizes -------------------------------------------------------------------------------

void sdl12_size(const void*, void*, int* width, int* height)
{
    const SDL_Surface* screen = SDL_GetVideoSurface();
    *width = screen ? screen->w : 0;
    *height = screen ? screen->h : 0;
}

const interpose::Next<void(GLFWwindow*, int*, int*)> glfw_framebuffer_size(
    "glfwGetFramebufferSize");

void glfw_size(const void* window, void*, int* width, int* height)
{
    glfw_framebuffer_size(static_cast<GLFWwindow*>(const_cast<void*>(window)), width, height);
}

// A GLX drawable is an X window, which the server measures, or a GLX window
// made for one (glXCreateWindow), which GLX measures; asking either of the
// other is an X error, which would end the program. So the first question is
// asked with errors caught (the program's own errors handled first, by its
// handler), and the answer says which to ask from then on.
bool x_error = false;
int catch_error(Display*, XErrorEvent*)
{
    x_error = true;
    return 0;
}

bool guarded(Display* display, bool (*ask)(Display*, GLXDrawable, int*, int*), GLXDrawable drawable,
             int* width, int* height)
{
    XSync(display, False);
    x_error = false;
    const auto previous = XSetErrorHandler(catch_error);
    const bool answered =
        ask(display, drawable, width, height) && (XSync(display, False), !x_error);
    XSetErrorHandler(previous);
    return answered;
}

bool server_size(Display* display, GLXDrawable drawable, int* width, int* height)
{
    Window root;
    int x, y;
    unsigned w = 0, h = 0, border, depth;
    if (!XGetGeometry(display, drawable, &root, &x, &y, &w, &h, &border, &depth))
        return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

bool glx_drawable_size(Display* display, GLXDrawable drawable, int* width, int* height)
{
    unsigned w = 0, h = 0;
    glXQueryDrawable(display, drawable, GLX_WIDTH, &w);
    glXQueryDrawable(display, drawable, GLX_HEIGHT, &h);
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return w > 0 && h > 0;
}

void glx_size(const void* window, void* extra, int* width, int* height)
{
    enum class Ask { unknown, server, glx, neither };
    static Ask ask = Ask::unknown;
    auto* display = static_cast<Display*>(extra);
    const auto drawable = static_cast<GLXDrawable>(reinterpret_cast<uintptr_t>(window));
    *width = *height = 0;
    if (ask == Ask::unknown)
        ask = guarded(display, server_size, drawable, width, height)         ? Ask::server
              : guarded(display, glx_drawable_size, drawable, width, height) ? Ask::glx
                                                                             : Ask::neither;
    else if (ask == Ask::server)
        server_size(display, drawable, width, height);
    else if (ask == Ask::glx)
        glx_drawable_size(display, drawable, width, height);
}

const void* const kSdl12Window = &kSdl12Window;  // SDL 1.2 has one window

const interpose::Next<void()> real_sdl12_swap("SDL_GL_SwapBuffers");
const interpose::Next<void(GLFWwindow*)> real_glfw_swap("glfwSwapBuffers");
const interpose::Next<GLFWwindow*()> glfw_current_context("glfwGetCurrentContext");
const interpose::Next<void(Display*, GLXDrawable)> real_glx_swap("glXSwapBuffers");

}  // namespace

riglib::Swap::Swap(Kind kind, const void* window, bool opengl, SizeOf size, void* extra)
{
    if (inside)
        return;
    inside = outer_ = true;
    if (role() == Role::bystander)
        return;
    const void* recorded = recorded_window.load();
    if (recorded && recorded != window)
        return;
    if (!opengl) {
        tell_no_opengl(window, size, extra);
        return;
    }
    if (!recorded) {
        if (claim() == Role::bystander)
            return;
        recorded_window.store(window);
        set_kind(kind);
    }
    ends_ = true;
    frame_ = frame();
    if (role() != Role::recorder || !wants_picture(frame_))
        return;
    Picture picture;
    size(window, extra, &picture.width, &picture.height);
    if (picture.width <= 0 || picture.height <= 0) {
        record(frame_, nullptr);
        return;
    }
    read_back(kind, picture.width, picture.height);
    picture.rgba = pixels.data();
    record(frame_, &picture);
}

riglib::Swap::~Swap()
{
    if (!outer_)
        return;
    inside = false;
    if (ends_)
        frame_swapped(frame_);
}

extern "C" {

void SDL_GL_SwapBuffers(void)
{
    const SDL_Surface* screen = SDL_GetVideoSurface();
    const bool opengl = screen && (screen->flags & SDL_OPENGL) && glXGetCurrentContext();
    const riglib::Swap swap(riglib::Kind::sdl12, kSdl12Window, opengl, sdl12_size);
    riglib::required(real_sdl12_swap)();
}

void glfwSwapBuffers(GLFWwindow* window)
{
    const bool opengl = window && glfw_current_context() == window;
    const riglib::Swap swap(riglib::Kind::x11, window, opengl, glfw_size);
    riglib::required(real_glfw_swap)(window);
}

// GLUT's, plain GLX programs', and every library's that links the GL.
void glXSwapBuffers(Display* display, GLXDrawable drawable)
{
    const bool opengl = glXGetCurrentContext() && glXGetCurrentDrawable() == drawable;
    const riglib::Swap swap(riglib::Kind::x11, reinterpret_cast<const void*>(drawable), opengl,
                            glx_size, display);
    riglib::required(real_glx_swap)(display, drawable);
}

}  // extern "C"
