// The error overlay: text rasterised with shaderlab's font into a texture.
#include "overlay.h"

#include <cstdint>
#include <sstream>
#include <vector>

#include "font.h"

namespace {

const int kScale = 2;  // window pixels per font pixel
const int kCellWidth = (kGlyphWidth + 1) * kScale;
const int kLineHeight = (kGlyphHeight + 2) * kScale;
const int kMargin = 8;           // window pixels around the text
const uint8_t kBandAlpha = 191;  // 75% black behind the lines

// The text as the lines that fit `columns`, tabs to the next stop of 4.
std::vector<std::string> wrap(const std::string& text, size_t columns)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string raw; std::getline(in, raw);) {
        std::string line;
        for (char c : raw) {
            if (c == '\t')
                line.append(4 - line.size() % 4, ' ');
            else if (c != '\r')
                line += c;
        }
        do {
            lines.push_back(line.substr(0, columns));
            line.erase(0, columns);
        } while (!line.empty());
    }
    return lines;
}

}  // namespace

Overlay::Overlay(int width, int height) : width_(width), height_(height)
{
    glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
}

Overlay::~Overlay()
{
    glDeleteTextures(1, &texture_);
}

void Overlay::set_text(const std::string& text)
{
    shown_ = !text.empty();
    if (!shown_)
        return;
    std::vector<std::string> lines =
        wrap(text, static_cast<size_t>((width_ - 2 * kMargin) / kCellWidth));
    const size_t fit = static_cast<size_t>((height_ - 2 * kMargin) / kLineHeight);
    if (lines.size() > fit) {
        const size_t more = lines.size() - fit + 1;
        lines.resize(fit - 1);
        lines.push_back("... and " + std::to_string(more) + " more lines on the terminal");
    }

    // Rows from the top; the quad's texture coordinates turn them upright.
    std::vector<uint8_t> pixels(static_cast<size_t>(width_) * height_ * 4, 0);
    const int band = static_cast<int>(lines.size()) * kLineHeight + 2 * kMargin;
    for (int y = 0; y < band && y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            pixels[(static_cast<size_t>(y) * width_ + x) * 4 + 3] = kBandAlpha;
    for (size_t row = 0; row < lines.size(); ++row) {
        for (size_t column = 0; column < lines[row].size(); ++column) {
            const int left = kMargin + static_cast<int>(column) * kCellWidth;
            const int top = kMargin + static_cast<int>(row) * kLineHeight;
            for (int gy = 0; gy < kGlyphHeight * kScale; ++gy) {
                for (int gx = 0; gx < kGlyphWidth * kScale; ++gx) {
                    if (!glyph_pixel(lines[row][column], gx / kScale, gy / kScale))
                        continue;
                    uint8_t* p = &pixels[(static_cast<size_t>(top + gy) * width_ + left + gx) * 4];
                    p[0] = p[1] = p[2] = p[3] = 255;
                }
            }
        }
    }
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE,
                    pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

void Overlay::draw() const
{
    if (!shown_)
        return;
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex2f(-1, -1);
    glTexCoord2f(1, 1);
    glVertex2f(1, -1);
    glTexCoord2f(1, 0);
    glVertex2f(1, 1);
    glTexCoord2f(0, 0);
    glVertex2f(-1, 1);
    glEnd();
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    // Leaves: no program, blending and texturing off, texture unit 0 active.
}
