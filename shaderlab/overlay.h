// Text over the picture: shaderlab's build errors where the user is looking.
// The text is drawn once into a texture of the window's size whenever it
// changes, then blended over every frame: white glyphs of shaderlab's own font
// at twice their size, on a band of black at 75% behind its lines.
#pragma once

#include <GL/glew.h>

#include <string>

class Overlay {
public:
    Overlay(int width, int height);
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;

    // "" for none. Lines too long for the window wrap; lines past its height
    // give way to a last line saying how many more the terminal has.
    void set_text(const std::string& text);
    // Over whatever the window's framebuffer holds, through the fixed-function
    // pipeline. Leaves no program in use, blending and texturing off.
    void draw() const;

private:
    const int width_, height_;
    GLuint texture_ = 0;
    bool shown_ = false;
};
