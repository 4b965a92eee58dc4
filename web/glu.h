// GLU's matrix helpers and mipmap builder for the web build, with GLU's own
// arithmetic: Emscripten's GL emulation has no gluBuild2DMipmaps, its gluLookAt
// leaves the matrix unchanged and its gluPerspective replaces the matrix instead
// of multiplying it. These use only GL calls that the emulation provides
// (glMultMatrixf, glMultMatrixd, glTranslated, glTexImage2D, glPixelStorei,
// glGetIntegerv) and build natively as well, where tests hold them to the
// desktop GLU's results.
#pragma once

#include <GL/gl.h>

namespace webglu {

// gluLookAt: multiplies the current matrix by a camera at the eye looking at
// the centre with the given up direction, worked in single precision as GLU
// does, then translates by minus the eye.
void look_at(double eyeX, double eyeY, double eyeZ, double centerX, double centerY, double centerZ,
             double upX, double upY, double upZ);

// gluPerspective: multiplies the current matrix by a perspective projection
// (vertical field of view in degrees). Degenerate arguments (zNear == zFar,
// a zero aspect or field of view) leave the matrix unchanged, as in GLU.
void perspective(double fovy, double aspect, double zNear, double zFar);

// gluBuild2DMipmaps for power-of-two images of GL_UNSIGNED_BYTE components:
// uploads the image as level 0 and each 2x2 box-filtered half below it, down to
// 1x1, with glTexImage2D on `target`. The source rows are read under the
// current GL_UNPACK_ALIGNMENT; the unpack alignment is restored afterwards.
// Returns 0, or GLU_INVALID_VALUE (100901) for a size below 1 or not a power of
// two and GLU_INVALID_ENUM (100900) for another type or an unknown format,
// without uploading anything.
int build_2d_mipmaps(GLenum target, GLint internalFormat, GLsizei width, GLsizei height,
                     GLenum format, GLenum type, const void* data);

}  // namespace webglu
