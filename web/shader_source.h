// Shader sources for WebGL, for the web build (platform.h: glShaderSource). The
// toolkit hands the GL two strings, the prelude (which opens with the desktop's
// "#version 120") and the shader. WebGL's shading language, GLSL ES 1.00, has
// no such version, and Emscripten's GL emulation puts declarations of its own
// (attributes, uniforms, the fragment precision) before the source, where any
// #version is no longer first and fails the compile. So the strings are joined,
// the #version directive is blanked (if the source opens with one, after
// blanks and comments), and a "#line 1" before it all keeps every line's
// number that of the files, so the compiler's messages point where the
// desktop's do. Everything else goes unchanged: a shader for both keeps to
// what GLSL 1.20 and GLSL ES 1.00 share (no implicit int to float, no
// non-square matrices or array constructors).
#pragma once

#include <string>

namespace websl {

// count strings, each NUL-terminated, or lengths[i] bytes long where lengths
// is given and lengths[i] >= 0, as the GL takes them.
std::string translate(int count, const char* const* strings, const int* lengths);

}  // namespace websl
