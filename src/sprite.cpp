// Sprites: an image file loaded once into a mipmapped texture and drawn as a
// pulsing, alpha-blended quad in overlay space.
#include "sprite.h"

#include <GL/glu.h>
#include <SDL.h>
#include <SDL_image.h>
#include <sys/stat.h>

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "main.h"

namespace {

// Accepts power-of-two images of 1, 3 or 4 bytes per pixel and returns the GL
// format their bytes are read as. Frees the surface before any throw that has one.
GLenum check(SDL_Surface* surface, const std::string& file)
{
    if (!surface)
        throw std::string("File not found: ") + file;
    // Size before format: an image wrong in both reports its size.
    if (surface->w & (surface->w - 1)) {
        SDL_FreeSurface(surface);
        throw "Image size must be in power of two";
    }
    if (surface->h & (surface->h - 1)) {
        SDL_FreeSurface(surface);
        throw "Image size must be in power of two";
    }
    switch (surface->format->BytesPerPixel) {
    case 4:
        return GL_RGBA;
    case 3:
        return GL_RGB;
    case 1:
        return GL_LUMINANCE;
    default:
        SDL_FreeSurface(surface);
        throw "Image format must be 8, 24 or 32 bits per pixel.";
    }
}

// 1 + a^10 / 20 with a = (sin 3t + 1) / 2: a brief swell to 1.05 once per
// 2*pi/3 seconds. The sine is single precision, the powers double.
float pulse_scale(float t)
{
    const float u = std::sin(3.0f * t);
    const double a = static_cast<double>(u + 1.0f) * 0.5;
    const double a2 = a * a;
    const double a3 = a * a2;
    const double p = a2 * a3;
    return static_cast<float>(1.0 + (p * p) / 20.0);
}

// GLU builds each smaller mipmap level in a buffer of its own with rows packed
// tight, but uploads it under the current unpack alignment: at the default of 4
// the GL reads past GLU's buffers for 1 or 3 bytes per pixel. Rows packed tight
// and an alignment of 1 give the same texels without reading out of bounds.
void build_mipmaps(const SDL_Surface* surface, GLenum format)
{
    const int row_bytes = surface->w * surface->format->BytesPerPixel;
    const auto* rows = static_cast<const uint8_t*>(surface->pixels);
    std::vector<uint8_t> packed;
    if (surface->pitch != row_bytes) {
        packed.resize(static_cast<size_t>(row_bytes) * surface->h);
        for (int row = 0; row < surface->h; ++row)
            std::memcpy(&packed[static_cast<size_t>(row) * row_bytes],
                        rows + static_cast<size_t>(row) * surface->pitch, row_bytes);
        rows = packed.data();
    }
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gluBuild2DMipmaps(GL_TEXTURE_2D, format, surface->w, surface->h, format, GL_UNSIGNED_BYTE,
                      rows);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

}  // namespace

Sprite::Sprite(const std::string& file)
{
    // GLEW leaves the pointer null on a GL without blend equations; say so now
    // rather than crash in the first render.
    if (!glBlendEquation)
        throw std::runtime_error("Cannot draw sprite " + file +
                                 ": this OpenGL has no glBlendEquation (needs OpenGL 1.4 "
                                 "or ARB_imaging; is GLEW initialised?)");

    x = 0;
    y = 0;
    texture = 0;
    GLuint id = 0;
    glGenTextures(1, &id);
    assert(id);
    texture = id;
    alpha = 0;
    glBindTexture(GL_TEXTURE_2D, texture);

    std::clog << "Loading " << file << std::endl;
    // A FIFO would block the loader's open and a device would feed it without
    // end: anything but a regular file counts as an image not found. The error
    // is cleared so that a failed load leaves the loader's own reason.
    SDL_Surface* surface = nullptr;
    struct stat info;
    if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        SDL_ClearError();
        surface = IMG_Load(file.c_str());
    }
    const GLenum format = check(surface, file);

    width = static_cast<float>(surface->w);
    height = static_cast<float>(surface->h);
    // The bytes go over as the surface holds them: masks and palette are not
    // consulted, so 1 byte per pixel shows as grey.
    build_mipmaps(surface, format);
    // Only the base level is sampled, though the whole chain is built.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    SDL_FreeSurface(surface);
}

// The texture lives as long as the GL context.
Sprite::~Sprite() {}

void Sprite::render()
{
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, 1280.0, 0.0, 720.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(x, y, 0.0f);
    // Scaled about the quad's own centre, then placed at (x, y).
    const float s = pulse_scale(demo.time);
    glScalef(s, s, s);

    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBlendEquation(GL_FUNC_ADD);
    glBindTexture(GL_TEXTURE_2D, texture);
    glColor4f(1.0f, 1.0f, 1.0f, alpha);

    // The image's top row is at t = 0, so t = 0 goes to the top edge.
    const float left = -0.5f * width;
    const float right = 0.5f * width;
    const float bottom = -0.5f * height;
    const float top = 0.5f * height;
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(left, bottom);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(right, bottom);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(right, top);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(left, top);
    glEnd();

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    // Leaves: texturing on (this texture bound), lighting and depth test off, blending
    // on (src alpha, 1 - src alpha, add), colour (1, 1, 1, alpha), matrix mode modelview.
}
