// GLU's look-at, perspective and mipmap builder, computed as the desktop GLU
// computes them, so the web build's camera and textures match the desktop's.
#include "glu.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace webglu {

namespace {

constexpr int kInvalidEnum = 100900;   // GLU_INVALID_ENUM
constexpr int kInvalidValue = 100901;  // GLU_INVALID_VALUE

// GLU works the camera basis in single precision; the length's square root is
// taken in double and rounded back.
void normalize(float v[3])
{
    const float r = static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
    if (r == 0.0f)
        return;
    v[0] /= r;
    v[1] /= r;
    v[2] /= r;
}

void cross(const float a[3], const float b[3], float result[3])
{
    result[0] = a[1] * b[2] - a[2] * b[1];
    result[1] = a[2] * b[0] - a[0] * b[2];
    result[2] = a[0] * b[1] - a[1] * b[0];
}

int components_of(GLenum format)
{
    switch (format) {
    case GL_RGBA:
        return 4;
    case GL_RGB:
        return 3;
    case GL_LUMINANCE_ALPHA:
        return 2;
    case GL_LUMINANCE:
    case GL_ALPHA:
    case GL_RED:
    case GL_GREEN:
    case GL_BLUE:
    case GL_INTENSITY:
        return 1;
    default:
        return 0;
    }
}

bool is_power_of_two(GLsizei n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// Halves an image (rows packed tight) with GLU's box filter: each texel is the
// rounded mean of a 2x2 block, or of a pair where one side is already 1.
std::vector<uint8_t> halve(const std::vector<uint8_t>& image, int width, int height, int components)
{
    const int new_width = width > 1 ? width / 2 : 1;
    const int new_height = height > 1 ? height / 2 : 1;
    std::vector<uint8_t> out(static_cast<size_t>(new_width) * new_height * components);
    const size_t row = static_cast<size_t>(width) * components;
    uint8_t* dst = out.data();
    if (width > 1 && height > 1) {
        for (int y = 0; y < new_height; ++y) {
            const uint8_t* src = &image[2 * y * row];
            for (int x = 0; x < new_width; ++x, src += components)
                for (int c = 0; c < components; ++c, ++src)
                    *dst++ = static_cast<uint8_t>(
                        (src[0] + src[components] + src[row] + src[row + components] + 2) / 4);
        }
    } else {
        // One row or one column: neighbours are one texel or one row apart.
        const size_t stride = width > 1 ? components : row;
        const int pairs = new_width * new_height;
        const uint8_t* src = image.data();
        for (int i = 0; i < pairs; ++i, src += stride)
            for (int c = 0; c < components; ++c, ++src)
                *dst++ = static_cast<uint8_t>((src[0] + src[stride]) / 2);
    }
    return out;
}

}  // namespace

void look_at(double eyeX, double eyeY, double eyeZ, double centerX, double centerY, double centerZ,
             double upX, double upY, double upZ)
{
    float forward[3] = {static_cast<float>(centerX - eyeX), static_cast<float>(centerY - eyeY),
                        static_cast<float>(centerZ - eyeZ)};
    float up[3] = {static_cast<float>(upX), static_cast<float>(upY), static_cast<float>(upZ)};
    float side[3];

    normalize(forward);
    cross(forward, up, side);
    normalize(side);
    // The up vector is made square to the other two; it is not normalised.
    cross(side, forward, up);

    // Column-major, as the GL reads it.
    const GLfloat m[16] = {
        side[0], up[0], -forward[0], 0.0f, side[1], up[1], -forward[1], 0.0f,
        side[2], up[2], -forward[2], 0.0f, 0.0f,    0.0f,  0.0f,        1.0f,
    };
    glMultMatrixf(m);
    glTranslated(-eyeX, -eyeY, -eyeZ);
}

void perspective(double fovy, double aspect, double zNear, double zFar)
{
    const double radians = fovy / 2 * 3.14159265358979323846 / 180;
    const double deltaZ = zFar - zNear;
    const double sine = std::sin(radians);
    if (deltaZ == 0 || sine == 0 || aspect == 0)
        return;
    const double cotangent = std::cos(radians) / sine;

    GLdouble m[16] = {};
    m[0] = cotangent / aspect;
    m[5] = cotangent;
    m[10] = -(zFar + zNear) / deltaZ;
    m[11] = -1;
    m[14] = -2 * zNear * zFar / deltaZ;
    glMultMatrixd(m);
}

int build_2d_mipmaps(GLenum target, GLint internalFormat, GLsizei width, GLsizei height,
                     GLenum format, GLenum type, const void* data)
{
    if (width < 1 || height < 1)
        return kInvalidValue;
    const int components = components_of(format);
    if (components == 0 || type != GL_UNSIGNED_BYTE)
        return kInvalidEnum;
    if (!is_power_of_two(width) || !is_power_of_two(height))
        return kInvalidValue;

    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    if (alignment < 1)
        alignment = 1;

    // Level 0 as the caller laid it out (rows padded to the unpack alignment),
    // copied with rows packed tight for the halving.
    const size_t row_bytes = static_cast<size_t>(width) * components;
    const size_t stride = (row_bytes + alignment - 1) / alignment * alignment;
    std::vector<uint8_t> level(row_bytes * height);
    const auto* src = static_cast<const uint8_t*>(data);
    for (GLsizei y = 0; y < height; ++y)
        std::memcpy(&level[y * row_bytes], src + y * stride, row_bytes);

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    int w = width;
    int h = height;
    for (GLint n = 0;; ++n) {
        glTexImage2D(target, n, internalFormat, w, h, 0, format, type, level.data());
        if (w == 1 && h == 1)
            break;
        level = halve(level, w, h, components);
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    return 0;
}

}  // namespace webglu
