// A full-screen backdrop drawn by a shader of its own (shaders/backdrop.vert,
// shaders/backdrop.frag, after the prelude shaders/std.glsl).
#pragma once

#include "opengl.h"

class Backdrop {
public:
    float time;        // seconds, handed to the shader
    float brightness;  // 0 (black) to 1

    // Builds the program; a shader that does not build throws std::runtime_error.
    Backdrop();

    void render();

private:
    // Rebuilt whenever one of its files changes: an edit shows at the next frame.
    GLProgram2 program;
};
