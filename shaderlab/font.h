// shaderlab's own pixel font, for the text it draws over the picture.
#pragma once

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 9;

// Whether pixel (x, y) of c's glyph is lit, x from the left and y from the
// top (0 to kGlyphWidth - 1, 0 to kGlyphHeight - 1). Characters outside
// printable ASCII draw as '?'.
bool glyph_pixel(char c, int x, int y);
