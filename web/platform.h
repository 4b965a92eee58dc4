// The web platform layer: what the browser build of the demo needs beyond the
// same src/ units, and nothing else. Built only for the web (web/CMakeLists.txt,
// under emcmake); the desktop build never sees this folder.
//
// The web build compiles the demo's src/ units (main, sprite, stars, radar,
// wave) with this header forced in first (-include web/platform.h, with
// VORNA_WEB_RENAMES defined). It renames a few calls those units make, so that
// they reach this layer (web/platform.cpp) instead of Emscripten's versions:
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
// Module.musicState() answers null (no music) or {playing, muted, time,
// duration} of the music's audio element.
//
// Test mode, the test rig's clock (tools/rig/rig.h), indexed by frames run:
//   main's arguments  "ticks" "T0,T1,...,Tn"   n+1 frames; frame K reads T[K]
//                     "fps" N "start" MS "frames" COUNT
//                                              COUNT frames; frame K reads
//                                              MS + floor(K * 1000 / N)
// The page (web/index.html) passes them from its URL (?ticks=..., or
// ?fps=N&start=MS&frames=COUNT; start defaults to 0). Values are unsigned
// 32-bit decimals, N and COUNT positive. A malformed schedule runs no frame:
// one line "web: ..." on stderr, Module.onDemoEnd("error"), exit status 2.
#pragma once

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

#endif
