// The GL's vertex transform on the CPU (see transform.h).
#include "transform.h"

namespace transform {

bool read(Transform& t)
{
    GLfloat modelview[16], projection[16];
    GLint box[4];
    t.matrix_mode = GL_MODELVIEW;
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, box);
    glGetIntegerv(GL_MATRIX_MODE, &t.matrix_mode);
    if (box[2] <= 0 || box[3] <= 0)
        return false;

    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            t.mvp[column * 4 + row] = projection[row] * modelview[column * 4] +
                                      projection[4 + row] * modelview[column * 4 + 1] +
                                      projection[8 + row] * modelview[column * 4 + 2] +
                                      projection[12 + row] * modelview[column * 4 + 3];
    t.scale_x = box[2] * 0.5f;
    t.offset_x = box[0] + box[2] * 0.5f;
    t.scale_y = box[3] * -0.5f;
    t.offset_y = box[3] * 0.5f;
    return true;
}

void draw(const Transform& t, GLenum mode, const std::vector<Corner>& corners)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    if (!corners.empty()) {
        glBegin(mode);
        for (const Corner& c : corners) {
            glColor4f(c.r, c.g, c.b, c.a);
            glVertex3f(c.x, c.y, c.z);
        }
        glEnd();
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(t.matrix_mode));
}

}  // namespace transform
