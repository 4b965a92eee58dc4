// The web platform layer: what the browser build of the demo needs beyond the
// same src/ units, and nothing else. Built only for the web (web/CMakeLists.txt,
// under emcmake); the desktop build never sees this folder.
//
// The web build compiles every demo's units (cmake/demo.cmake: our main, the
// starter's units) and the library's (the effects and the toolkit: sprite,
// stars, radar, wave, opengl, file) with this header forced in first (-include
// web/platform.h, with VORNA_WEB_RENAMES defined). It renames the calls those
// units make, so that they reach this layer (web/platform.cpp) instead of
// Emscripten's versions:
//
//   glBegin, glEnd, glVertex{2,3,4}{f,fv}, glVertex{2,3}i,
//   glColor{3,4}{f,fv,ub}, glLineWidth, glPointSize
//       WebGL draws every line one pixel wide. Line primitives (GL_LINES,
//       GL_LINE_STRIP, GL_LINE_LOOP) are collected with their colours and drawn
//       by widelines::draw as window-space quads that cover the pixels the
//       desktop GL's wide lines cover, clipped at the near plane as it does.
//       Points (GL_POINTS) go to points::draw, which puts each on the pixels
//       the desktop's rasteriser picks: WebGL's own transform would move one
//       star in twenty by a pixel. Every other primitive goes straight to the
//       GL. glLineWidth and glPointSize keep the size for those; a size of 0
//       or below is refused and the one in force kept, as the GL does.
//       glPointSize and glColor* always reach the GL too, so its state is what
//       the desktop leaves.
//       Consecutive line primitives whose widths round to the same whole
//       pixels are held back and drawn as one batch (one widelines::draw):
//       the wave gives hundreds a frame, and each draw costs the GL emulation
//       a dozen or more WebGL calls. The quads are independent, so the batch
//       covers the pixels the single draws would, in the same order. glColor*,
//       glVertex*, glLineWidth and glPointSize leave the batch open (colours go
//       with the vertices, a width change only starts a new batch); any other
//       primitive and every call in VORNA_WEB_FLUSHED_CALLS below draws it
//       first, so what follows (and the frame's swap) sees what the desktop
//       would. After that draw the current colour is the last glColor's.
//   VORNA_WEB_FLUSHED_CALLS (every other GL, GLU and SDL_GL_ call of the
//   units)
//       renamed to wrappers that draw the pending batch, then make the call.
//       The build checks that no other call of those families appears in the
//       units or their headers (web/check_renames.cmake): a new one is added
//       to the list and its #define first.
//   VORNA_WEB_CORE_CALLS
//       the ARB_shader_objects calls of GLProgram that WebGL has only under
//       their OpenGL 2.0 names: the wrapper draws the batch and makes the core
//       call (the handles are the same numbers).
//   glShaderSource, glShaderSourceARB
//       the sources joined and made fit for WebGL's shading language
//       (web/shader_source.h: the prelude's #version goes, line numbers stay
//       the files'), then handed on as one string.
//   SDL_GetTicks
//       the real clock (milliseconds since SDL_Init), or in test mode the
//       scripted one below.
//   main
//       renamed away: the browser cannot be held in a loop, so web/platform.cpp
//       has its own main, which runs run_frame() (src/main.h), the desktop
//       loop's body, once per browser frame through emscripten_set_main_loop.
//
// And it defines, for the whole program, with the desktop's algorithms:
//
//   rand, srand            the GNU C library's default generator (GlibcRand),
//                          so the starfield is the desktop's, star for star
//   gluLookAt, gluPerspective, gluBuild2DMipmaps
//                          GLU's own algorithms (webglu): Emscripten's first
//                          two compute other matrices, the third is missing
//
// Main loop. Frame K is the K-th call of run_frame (K from 0); the loop stops
// after the frame in which demo.running turned false (after 30 s, or Escape),
// or in test mode after the last scheduled frame. The music is halted then and
// the page is told through Module.onDemoEnd(reason): "test" in test mode
// (whatever ended the run), otherwise "end".
// Failures end the run as on the desktop, where the process would end: an
// exception that leaves a frame stops the loop and the music and goes to
// std::terminate, so the demo's own handler reports it (our shells print
// "demo: ..." or "starter: ..." and exit with status 1) as if it had left main;
// one thrown while the globals are built does so by itself, and a failed
// GLProgram compile aborts. The page (web/index.html) shows the end of the
// program's error stream and logs it as a console error whenever the program
// exits with a status other than 0 (Module.quit) or aborts (Module.onAbort).
// Module.musicState() answers null (no music) or {playing, muted, time,
// duration} of the music's audio element.
//
// Test mode, the test rig's clock in the rig's own grammar (capture/schedule.h),
// indexed by frames run:
//   main's arguments  "ticks" "T0,T1,...,Tn"   n+1 frames; frame K reads T[K]
//                     "fps" N "start" MS "frames" COUNT
//                                              COUNT frames; frame K reads
//                                              MS + floor(K * 1000 / N)
// The page (web/index.html) passes them from its URL (?ticks=..., or
// ?fps=N&start=MS&frames=COUNT; start defaults to 0). Values are unsigned
// 32-bit decimals, N and COUNT positive. A malformed schedule runs no frame:
// one line "web: ..." naming the setting (as the rig's "rig: RIG_TICKS: ...")
// on stderr, Module.onDemoEnd("error"), exit status 2.
#pragma once

// X(return type, name, (parameters), (arguments)): the calls that draw the
// pending line batch before they reach the GL (or GLU, or SDL).
#define VORNA_WEB_FLUSHED_CALLS(X)                                                                 \
    X(void, glBindTexture, (GLenum target, GLuint texture), (target, texture))                     \
    X(void, glBlendEquation, (GLenum mode), (mode))                                                \
    X(void, glBlendFunc, (GLenum sfactor, GLenum dfactor), (sfactor, dfactor))                     \
    X(void, glClear, (GLbitfield mask), (mask))                                                    \
    X(void, glClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a), (r, g, b, a))          \
    X(void, glDisable, (GLenum cap), (cap))                                                        \
    X(void, glEnable, (GLenum cap), (cap))                                                         \
    X(void, glGenTextures, (GLsizei n, GLuint * textures), (n, textures))                          \
    X(void, glGetIntegerv, (GLenum pname, GLint * params), (pname, params))                        \
    X(void, glLoadIdentity, (void), ())                                                            \
    X(void, glMatrixMode, (GLenum mode), (mode))                                                   \
    X(void, glOrtho, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f),     \
      (l, r, b, t, n, f))                                                                          \
    X(void, glPixelStorei, (GLenum pname, GLint param), (pname, param))                            \
    X(void, glPopMatrix, (void), ())                                                               \
    X(void, glPushMatrix, (void), ())                                                              \
    X(void, glScalef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                                \
    X(void, glTexCoord2f, (GLfloat s, GLfloat t), (s, t))                                          \
    X(void, glTexParameteri, (GLenum target, GLenum pname, GLint param), (target, pname, param))   \
    X(void, glTranslatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                            \
    X(GLint, gluBuild2DMipmaps,                                                                    \
      (GLenum target, GLint internal_format, GLsizei width, GLsizei height, GLenum format,         \
       GLenum type, const void* data),                                                             \
      (target, internal_format, width, height, format, type, data))                                \
    X(void, gluLookAt,                                                                             \
      (GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz, GLdouble ux,  \
       GLdouble uy, GLdouble uz),                                                                  \
      (ex, ey, ez, cx, cy, cz, ux, uy, uz))                                                        \
    X(void, gluPerspective, (GLdouble fovy, GLdouble aspect, GLdouble z_near, GLdouble z_far),     \
      (fovy, aspect, z_near, z_far))                                                               \
    X(void, SDL_GL_SwapBuffers, (void), ())                                                        \
    X(void, glAttachShader, (GLuint program, GLuint shader), (program, shader))                    \
    X(void, glBindAttribLocation, (GLuint program, GLuint index, const GLchar* name),              \
      (program, index, name))                                                                      \
    X(void, glCompileShader, (GLuint shader), (shader))                                            \
    X(GLuint, glCreateProgram, (void), ())                                                         \
    X(GLuint, glCreateShader, (GLenum type), (type))                                               \
    X(void, glDeleteProgram, (GLuint program), (program))                                          \
    X(void, glDeleteShader, (GLuint shader), (shader))                                             \
    X(GLenum, glGetError, (void), ())                                                              \
    X(void, glGetFloatv, (GLenum pname, GLfloat * params), (pname, params))                        \
    X(void, glGetInfoLogARB,                                                                       \
      (GLhandleARB object, GLsizei size, GLsizei * length, GLcharARB * log),                       \
      (object, size, length, log))                                                                 \
    X(void, glGetObjectParameterivARB, (GLhandleARB object, GLenum pname, GLint * params),         \
      (object, pname, params))                                                                     \
    X(void, glGetProgramInfoLog, (GLuint program, GLsizei size, GLsizei * length, GLchar * log),   \
      (program, size, length, log))                                                                \
    X(void, glGetProgramiv, (GLuint program, GLenum pname, GLint * params),                        \
      (program, pname, params))                                                                    \
    X(void, glGetShaderInfoLog, (GLuint shader, GLsizei size, GLsizei * length, GLchar * log),     \
      (shader, size, length, log))                                                                 \
    X(void, glGetShaderiv, (GLuint shader, GLenum pname, GLint * params), (shader, pname, params)) \
    X(void, glLinkProgram, (GLuint program), (program))                                            \
    X(void, glUniform1f, (GLint location, GLfloat v), (location, v))                               \
    X(void, glUniform1fv, (GLint location, GLsizei count, const GLfloat* v), (location, count, v)) \
    X(void, glUniform1i, (GLint location, GLint v), (location, v))                                 \
    X(void, glUniform2fv, (GLint location, GLsizei count, const GLfloat* v), (location, count, v)) \
    X(void, glUniform3fv, (GLint location, GLsizei count, const GLfloat* v), (location, count, v)) \
    X(void, glUniform4fv, (GLint location, GLsizei count, const GLfloat* v), (location, count, v)) \
    X(void, glUniformMatrix4fv,                                                                    \
      (GLint location, GLsizei count, GLboolean transpose, const GLfloat* v),                      \
      (location, count, transpose, v))                                                             \
    X(void, glUseProgram, (GLuint program), (program))                                             \
    X(void, glViewport, (GLint x, GLint y, GLsizei width, GLsizei height), (x, y, width, height))

// X(return type, name, core name, (parameters), (arguments)): GLProgram's
// ARB_shader_objects calls, made through their OpenGL 2.0 equivalents.
#define VORNA_WEB_CORE_CALLS(X)                                                           \
    X(GLhandleARB, glCreateProgramObjectARB, glCreateProgram, (void), ())                 \
    X(GLhandleARB, glCreateShaderObjectARB, glCreateShader, (GLenum type), (type))        \
    X(void, glCompileShaderARB, glCompileShader, (GLhandleARB shader), (shader))          \
    X(void, glAttachObjectARB, glAttachShader, (GLhandleARB program, GLhandleARB shader), \
      (program, shader))                                                                  \
    X(void, glLinkProgramARB, glLinkProgram, (GLhandleARB program), (program))            \
    X(void, glUseProgramObjectARB, glUseProgram, (GLhandleARB program), (program))        \
    X(GLint, glGetUniformLocationARB, glGetUniformLocation,                               \
      (GLhandleARB program, const GLcharARB* name), (program, name))

#if defined(__cplusplus) && defined(VORNA_WEB_RENAMES)

#define glBegin vorna_web_glBegin
#define glEnd vorna_web_glEnd
#define glLineWidth vorna_web_glLineWidth
#define glPointSize vorna_web_glPointSize
#define glVertex2f vorna_web_glVertex2f
#define glVertex2fv vorna_web_glVertex2fv
#define glVertex2i vorna_web_glVertex2i
#define glVertex3f vorna_web_glVertex3f
#define glVertex3fv vorna_web_glVertex3fv
#define glVertex3i vorna_web_glVertex3i
#define glVertex4f vorna_web_glVertex4f
#define glVertex4fv vorna_web_glVertex4fv
#define glColor3f vorna_web_glColor3f
#define glColor3fv vorna_web_glColor3fv
#define glColor3ub vorna_web_glColor3ub
#define glColor4f vorna_web_glColor4f
#define glColor4fv vorna_web_glColor4fv
#define glColor4ub vorna_web_glColor4ub
#define SDL_GetTicks vorna_web_SDL_GetTicks
#define main vorna_desktop_main

// The lists' renames; a #define cannot come out of a macro, so they are
// spelled out, and the build checks them against the lists.
#define glBindTexture vorna_web_glBindTexture
#define glBlendEquation vorna_web_glBlendEquation
#define glBlendFunc vorna_web_glBlendFunc
#define glClear vorna_web_glClear
#define glClearColor vorna_web_glClearColor
#define glDisable vorna_web_glDisable
#define glEnable vorna_web_glEnable
#define glGenTextures vorna_web_glGenTextures
#define glGetIntegerv vorna_web_glGetIntegerv
#define glLoadIdentity vorna_web_glLoadIdentity
#define glMatrixMode vorna_web_glMatrixMode
#define glOrtho vorna_web_glOrtho
#define glPixelStorei vorna_web_glPixelStorei
#define glPopMatrix vorna_web_glPopMatrix
#define glPushMatrix vorna_web_glPushMatrix
#define glScalef vorna_web_glScalef
#define glTexCoord2f vorna_web_glTexCoord2f
#define glTexParameteri vorna_web_glTexParameteri
#define glTranslatef vorna_web_glTranslatef
#define gluBuild2DMipmaps vorna_web_gluBuild2DMipmaps
#define gluLookAt vorna_web_gluLookAt
#define gluPerspective vorna_web_gluPerspective
#define SDL_GL_SwapBuffers vorna_web_SDL_GL_SwapBuffers
#define glAttachShader vorna_web_glAttachShader
#define glBindAttribLocation vorna_web_glBindAttribLocation
#define glCompileShader vorna_web_glCompileShader
#define glCreateProgram vorna_web_glCreateProgram
#define glCreateShader vorna_web_glCreateShader
#define glDeleteProgram vorna_web_glDeleteProgram
#define glDeleteShader vorna_web_glDeleteShader
#define glGetError vorna_web_glGetError
#define glGetFloatv vorna_web_glGetFloatv
#define glGetInfoLogARB vorna_web_glGetInfoLogARB
#define glGetObjectParameterivARB vorna_web_glGetObjectParameterivARB
#define glGetProgramInfoLog vorna_web_glGetProgramInfoLog
#define glGetProgramiv vorna_web_glGetProgramiv
#define glGetShaderInfoLog vorna_web_glGetShaderInfoLog
#define glGetShaderiv vorna_web_glGetShaderiv
#define glLinkProgram vorna_web_glLinkProgram
#define glUniform1f vorna_web_glUniform1f
#define glUniform1fv vorna_web_glUniform1fv
#define glUniform1i vorna_web_glUniform1i
#define glUniform2fv vorna_web_glUniform2fv
#define glUniform3fv vorna_web_glUniform3fv
#define glUniform4fv vorna_web_glUniform4fv
#define glUniformMatrix4fv vorna_web_glUniformMatrix4fv
#define glUseProgram vorna_web_glUseProgram
#define glViewport vorna_web_glViewport

#define glCreateProgramObjectARB vorna_web_glCreateProgramObjectARB
#define glCreateShaderObjectARB vorna_web_glCreateShaderObjectARB
#define glCompileShaderARB vorna_web_glCompileShaderARB
#define glAttachObjectARB vorna_web_glAttachObjectARB
#define glLinkProgramARB vorna_web_glLinkProgramARB
#define glUseProgramObjectARB vorna_web_glUseProgramObjectARB
#define glGetUniformLocationARB vorna_web_glGetUniformLocationARB

#define glShaderSource vorna_web_glShaderSource
#define glShaderSourceARB vorna_web_glShaderSourceARB

#endif
