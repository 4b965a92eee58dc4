// An image drawn as a pulsing, alpha-blended quad in overlay space
// (1280x720 units, origin at the window's bottom-left, one unit per pixel).
#pragma once

#include <GL/glew.h>
#include <string>

class Sprite {
public:
    float x;         // overlay x of the quad's centre
    float y;         // overlay y of the quad's centre
    float width;     // image width, pixels
    float height;    // image height, pixels
    GLuint texture;  // owned for the whole run; never deleted
    float alpha;     // opacity, 0 to 1

    // Loads the image into a mipmapped texture. Throws std::string
    // "File not found: <file>" or a const char* for an unsuitable image, and
    // std::runtime_error on a GL that has no glBlendEquation.
    explicit Sprite(const std::string& file);
    ~Sprite();

    // Draws the quad at (x, y) with the pulse of demo.time. Restores both
    // matrices; leaves blending on, depth test and lighting off, texturing on.
    void render();
};
