// The backdrop: one quad over the whole viewport, coloured by its shader.
#include "backdrop.h"

Backdrop::Backdrop()
    : time(0), brightness(0), program("shaders/backdrop.vert", "shaders/backdrop.frag")
{
}

void Backdrop::render()
{
    program.use();
    program.set_float("time", time);
    program.set_float("brightness", brightness);
    // The vertex shader ignores the matrices: these corners are the viewport's.
    glBegin(GL_QUADS);
    glVertex2f(-1.0f, -1.0f);
    glVertex2f(1.0f, -1.0f);
    glVertex2f(1.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
    program.unuse();
    // Leaves: no program in use; every pixel covered (alpha 1); all other
    // state as it found it.
}
