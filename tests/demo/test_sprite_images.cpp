// Sprite loading against hundreds of generated PNGs: well-formed ones of every
// colour type, bit depth and transparency at power-of-two and other sizes,
// truncated ones and damaged ones. Each image's outcome (loads, or which exception
// with which text) is predicted from the properties it was generated with; every
// decoded image must be freed. Seeded, so a failure names the image to reproduce.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <SDL.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "sprite.h"
#include "gl_window.h"
#include "images.h"

namespace {

const char* const size_message = "Image size must be in power of two";
const char* const format_message = "Image format must be 8, 24 or 32 bits per pixel.";

// --- Generated images and what the loader must make of them ---------------------------

enum class Damage {
    none,
    missing,            // no file at the path
    truncated,          // cut before the image data ends
    truncated_end,      // cut inside the end marker only
    bad_signature,      // one of the eight signature bytes changed
    header_crc,         // a header bit flipped, its checksum left
    data_crc,           // an image data bit flipped, its checksum left
    zlib_checksum,      // the compressed stream's own checksum wrong
    bad_filter,         // a row filter type above 4
    short_data,         // fewer rows than the header says
    long_data,          // a row more than the header says
    unknown_critical,   // a chunk every decoder must understand, unknown
    unknown_ancillary,  // a chunk a decoder may skip, unknown
    ancillary_crc,      // a skippable chunk with a wrong checksum
    bad_header,         // zero size or an impossible type and depth
    end_crc,            // the end marker's checksum wrong
    trailing_bytes,     // bytes after the end marker
};

const char* name(Damage damage)
{
    switch (damage) {
    case Damage::none:
        return "intact";
    case Damage::missing:
        return "missing";
    case Damage::truncated:
        return "truncated in the image";
    case Damage::truncated_end:
        return "truncated in the end marker";
    case Damage::bad_signature:
        return "bad signature";
    case Damage::header_crc:
        return "header checksum";
    case Damage::data_crc:
        return "data checksum";
    case Damage::zlib_checksum:
        return "zlib checksum";
    case Damage::bad_filter:
        return "bad row filter";
    case Damage::short_data:
        return "short image data";
    case Damage::long_data:
        return "long image data";
    case Damage::unknown_critical:
        return "unknown critical chunk";
    case Damage::unknown_ancillary:
        return "unknown ancillary chunk";
    case Damage::ancillary_crc:
        return "ancillary checksum";
    case Damage::bad_header:
        return "impossible header";
    case Damage::end_crc:
        return "end marker checksum";
    case Damage::trailing_bytes:
        return "trailing bytes";
    }
    return "?";
}

struct Image {
    int width = 1, height = 1;
    int colour_type = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    int depth = 8;
    std::string transparency;  // tRNS contents, empty for none
    Damage damage = Damage::none;

    std::string describe() const
    {
        std::ostringstream text;
        text << width << "x" << height << " colour type " << colour_type << " depth " << depth
             << (transparency.empty() ? "" : " with tRNS") << ", " << name(damage);
        return text.str();
    }

    // Whether the image decoder hands back a surface at all.
    bool decodes() const
    {
        switch (damage) {
        case Damage::none:
        case Damage::truncated_end:
        case Damage::long_data:
        case Damage::unknown_ancillary:
        case Damage::ancillary_crc:
        case Damage::end_crc:
        case Damage::trailing_bytes:
            // An SDL 1.2 surface is at most 16383 pixels wide and 65535 high.
            return width < 16384 && height < 65536;
        default:
            return false;
        }
    }

    // Bytes per pixel of the decoded surface: palettes and grey stay one byte,
    // grey with a transparent value gains an alpha byte, and a palette whose
    // transparency is more than a single fully transparent entry becomes RGBA.
    int bytes_per_pixel() const
    {
        switch (colour_type) {
        case 0:
            return transparency.empty() ? 1 : 2;
        case 2:
            return 3;
        case 3: {
            int clear = 0, partial = 0;
            for (unsigned char alpha : transparency) {
                clear += alpha == 0;
                partial += alpha != 0 && alpha != 255;
            }
            return clear <= 1 && partial == 0 ? 1 : 4;
        }
        default:
            return 4;
        }
    }
};

int channels(int colour_type)
{
    return colour_type == 2 ? 3 : colour_type == 4 ? 2 : colour_type == 6 ? 4 : 1;
}

std::string random_bytes(std::mt19937& random, size_t count)
{
    std::string bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xff);
    return bytes;
}

// Rows of random samples, each led by a random (valid) filter type.
std::string image_rows(std::mt19937& random, const Image& image, int rows)
{
    const size_t row_bytes =
        (static_cast<size_t>(image.width) * channels(image.colour_type) * image.depth + 7) / 8;
    std::string raw;
    raw.reserve((row_bytes + 1) * rows);
    for (int row = 0; row < rows; ++row) {
        raw.push_back(static_cast<char>(random() % 5));
        raw += random_bytes(random, row_bytes);
    }
    return raw;
}

// Writes the image as its damage asks, or nothing for a missing one.
void write_image(std::mt19937& random, const Image& image, const std::string& path)
{
    if (image.damage == Damage::missing)
        return;
    const Damage damage = image.damage;

    std::string header;
    put_be32(header, static_cast<uint32_t>(image.width));
    put_be32(header, static_cast<uint32_t>(image.height));
    header.push_back(static_cast<char>(image.depth));
    header.push_back(static_cast<char>(image.colour_type));
    header += std::string(3, '\0');
    if (damage == Damage::bad_header) {
        switch (random() % 4) {
        case 0:
            header[3] = 0, header[2] = 0, header[1] = 0, header[0] = 0;
            break;  // width 0
        case 1:
            header[7] = 0, header[6] = 0, header[5] = 0, header[4] = 0;
            break;  // height 0
        case 2:
            header[9] = 5;
            break;  // no colour type 5
        default:
            header[8] = 3;
            break;  // no depth 3
        }
    }

    std::string png("\x89PNG\r\n\x1a\n", 8);
    png += png_chunk("IHDR", header);
    if (damage == Damage::header_crc)
        png[8 + 8 + random() % 13] ^= static_cast<char>(1 << (random() % 8));
    if (image.colour_type == 3)
        png += png_chunk("PLTE", random_bytes(random, 3u << std::min(image.depth, 8)));
    if (!image.transparency.empty())
        png += png_chunk("tRNS", image.transparency);
    if (damage == Damage::unknown_critical)
        png += png_chunk("VRNa", random_bytes(random, 1 + random() % 16));
    if (damage == Damage::unknown_ancillary)
        png += png_chunk("vrNa", random_bytes(random, 1 + random() % 16));
    if (damage == Damage::ancillary_crc) {
        std::string text = png_chunk("tEXt", std::string("Comment\0vorna", 13));
        text.back() ^= 1;
        png += text;
    }

    const int rows = damage == Damage::short_data  ? image.height - 1
                     : damage == Damage::long_data ? image.height + 1
                                                   : image.height;
    std::string raw = image_rows(random, image, rows);
    if (damage == Damage::bad_filter) {
        const size_t row_bytes = raw.size() / rows;
        raw[row_bytes * (random() % rows)] = static_cast<char>(5 + random() % 251);
    }
    std::string data = zlib_stored(raw);
    if (damage == Damage::zlib_checksum)
        data[data.size() - 1 - random() % 4] ^= static_cast<char>(1 << (random() % 8));
    const size_t data_start = png.size() + 8;
    png += png_chunk("IDAT", data);
    if (damage == Damage::data_crc)
        png[data_start + random() % data.size()] ^= static_cast<char>(1 << (random() % 8));
    const size_t data_end = png.size();  // after the image data's checksum
    png += png_chunk("IEND", "");

    if (damage == Damage::truncated)
        png.resize(random() % data_end);
    if (damage == Damage::truncated_end)
        png.resize(data_end + random() % 12);
    if (damage == Damage::bad_signature)
        png[random() % 8] ^= static_cast<char>(1 + random() % 255);
    if (damage == Damage::end_crc)
        png.back() ^= static_cast<char>(1 + random() % 255);
    if (damage == Damage::trailing_bytes)
        png += random_bytes(random, 1 + random() % 64);

    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(png.data(), 1, png.size(), file), png.size()) << path;
    ASSERT_EQ(std::fclose(file), 0) << path;
}

// A side of an image: mostly powers of two up to 512, often not.
int random_side(std::mt19937& random)
{
    static const int others[] = {3, 5, 6, 7, 12, 24, 31, 33, 48, 100, 127, 129, 255, 257, 384};
    if (random() % 5 < 3)
        return 1 << (random() % 10);
    return others[random() % (sizeof others / sizeof others[0])];
}

// A well-formed image of a random colour type, depth and transparency.
Image random_image(std::mt19937& random)
{
    Image image;
    image.width = random_side(random);
    image.height = random_side(random);
    static const int types[] = {0, 2, 3, 4, 6};
    image.colour_type = types[random() % 5];
    switch (image.colour_type) {
    case 0: {
        static const int depths[] = {1, 2, 4, 8, 16};
        image.depth = depths[random() % 5];
        if (random() % 3 == 0) {
            const uint32_t grey = random() & ((1u << image.depth) - 1);
            image.transparency = {static_cast<char>(grey >> 8), static_cast<char>(grey & 0xff)};
        }
        break;
    }
    case 3: {
        static const int depths[] = {1, 2, 4, 8};
        image.depth = depths[random() % 4];
        if (random() % 2 == 0) {
            // Opaque, one clear entry, several clear entries or translucent ones.
            const size_t entries = 1 + random() % (1u << image.depth);
            image.transparency.assign(entries, '\xff');
            switch (random() % 4) {
            case 0:
                break;
            case 1:
                image.transparency[random() % entries] = 0;
                break;
            case 2:
                image.transparency[random() % entries] = 0;
                image.transparency[random() % entries] = 0;
                break;
            default:
                image.transparency[random() % entries] = static_cast<char>(1 + random() % 254);
            }
        }
        break;
    }
    case 2:
        image.depth = random() % 2 ? 8 : 16;
        if (random() % 4 == 0) {
            image.transparency = random_bytes(random, 6);
            if (image.depth == 8)  // samples of 8 bits: the high bytes are 0
                image.transparency[0] = image.transparency[2] = image.transparency[4] = 0;
        }
        break;
    default:
        image.depth = random() % 2 ? 8 : 16;
    }
    return image;
}

// --- Loading and judging ------------------------------------------------------------

struct Outcome {
    std::string kind;  // "loaded", "std::string", "const char*", "other"
    std::string text;
    float width = 0, height = 0;
    GLuint texture = 0;
};

Outcome load(const std::string& path)
{
    try {
        Sprite sprite(path);
        return Outcome{"loaded", "", sprite.width, sprite.height, sprite.texture};
    } catch (const std::string& text) {
        return Outcome{"std::string", text};
    } catch (const char* text) {
        return Outcome{"const char*", text};
    } catch (const std::exception& error) {
        return Outcome{"other", error.what()};
    } catch (...) {
        return Outcome{"other", ""};
    }
}

bool power_of_two(int side)
{
    return (side & (side - 1)) == 0;
}

int level0(GLenum name)
{
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, name, &value);
    return value;
}

class SpriteImages : public testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorna-images-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir = pattern;
        saved_log = std::clog.rdbuf(log.rdbuf());
    }

    void TearDown() override
    {
        std::clog.rdbuf(saved_log);
        std::filesystem::remove_all(dir);
    }

    // Generates, writes and loads one image, and checks the outcome against the
    // prediction. The seed and index in every message reproduce the image.
    void check(std::mt19937& random, unsigned seed, int index, const Image& image)
    {
        const std::string path = dir + "/image-" + std::to_string(index) + ".png";
        write_image(random, image, path);
        const std::string where = "seed " + std::to_string(seed) + ", image " +
                                  std::to_string(index) + ": " + image.describe();

        log.str("");
        const int decoded_before = surfaces_decoded;
        const Outcome outcome = load(path);

        EXPECT_EQ(log.str(), "Loading " + path + "\n") << where;
        EXPECT_EQ(surfaces_decoded - decoded_before, image.decodes() ? 1 : 0) << where;
        EXPECT_TRUE(live_surfaces.empty()) << where << ": decoded image never freed";
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << where;

        if (!image.decodes()) {
            EXPECT_EQ(outcome.kind, "std::string") << where;
            EXPECT_EQ(outcome.text, "File not found: " + path) << where;
        } else if (!power_of_two(image.width) || !power_of_two(image.height)) {
            EXPECT_EQ(outcome.kind, "const char*") << where;
            EXPECT_EQ(outcome.text, size_message) << where;
        } else if (image.bytes_per_pixel() == 2) {
            EXPECT_EQ(outcome.kind, "const char*") << where;
            EXPECT_EQ(outcome.text, format_message) << where;
        } else {
            ++loaded;
            EXPECT_EQ(outcome.kind, "loaded") << where << " (" << outcome.text << ")";
            EXPECT_EQ(outcome.width, static_cast<float>(image.width)) << where;
            EXPECT_EQ(outcome.height, static_cast<float>(image.height)) << where;
            EXPECT_NE(outcome.texture, 0u) << where;
            const GLenum format = image.bytes_per_pixel() == 1   ? GL_LUMINANCE
                                  : image.bytes_per_pixel() == 3 ? GL_RGB
                                                                 : GL_RGBA;
            EXPECT_EQ(level0(GL_TEXTURE_INTERNAL_FORMAT), static_cast<GLint>(format)) << where;
            // GLU scales an image beyond the GL's largest texture down to fit.
            const int largest = get_int(GL_MAX_TEXTURE_SIZE);
            EXPECT_EQ(level0(GL_TEXTURE_WIDTH), std::min(image.width, largest)) << where;
            EXPECT_EQ(level0(GL_TEXTURE_HEIGHT), std::min(image.height, largest)) << where;
        }
        ++checked;
        std::filesystem::remove(path);
    }

    std::string dir;
    std::ostringstream log;
    std::streambuf* saved_log = nullptr;
    int checked = 0;
    int loaded = 0;
};

}  // namespace

TEST_F(SpriteImages, well_formed_pngs_load_or_fail_on_size_or_two_bytes_per_pixel_as_predicted)
{
    const unsigned seed = 20240601;
    std::mt19937 random(seed);
    int bytes_seen[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 160; ++i) {
        Image image = random_image(random);
        if (i % 40 == 39)
            image.damage = Damage::missing;
        bytes_seen[image.bytes_per_pixel()] += 1;
        check(random, seed, i, image);
        if (HasFailure())
            break;
    }
    EXPECT_EQ(checked, 160);
    // The sample covers what it claims: every width of pixel, and loads as well
    // as rejections.
    for (int bytes = 1; bytes <= 4; ++bytes)
        EXPECT_GT(bytes_seen[bytes], 0) << bytes << " bytes per pixel never generated";
    EXPECT_GT(loaded, 20);
    EXPECT_LT(loaded, 140);
}

TEST_F(SpriteImages, pngs_cut_short_fail_as_not_found_unless_only_the_end_marker_is_cut)
{
    const unsigned seed = 7;
    std::mt19937 random(seed);
    for (int i = 0; i < 40; ++i) {
        Image image = random_image(random);
        image.damage = i % 4 == 3 ? Damage::truncated_end : Damage::truncated;
        check(random, seed, i, image);
        if (HasFailure())
            break;
    }
    EXPECT_EQ(checked, 40);
}

TEST_F(SpriteImages, damaged_pngs_fail_as_not_found_unless_the_damage_lies_where_decoders_may_skip)
{
    const Damage damages[] = {
        Damage::bad_signature,  Damage::header_crc,       Damage::data_crc,
        Damage::zlib_checksum,  Damage::bad_filter,       Damage::short_data,
        Damage::long_data,      Damage::unknown_critical, Damage::unknown_ancillary,
        Damage::ancillary_crc,  Damage::bad_header,       Damage::end_crc,
        Damage::trailing_bytes,
    };
    const unsigned seed = 1103;
    std::mt19937 random(seed);
    const int count = 4 * static_cast<int>(sizeof damages / sizeof damages[0]);
    for (int i = 0; i < count; ++i) {
        Image image = random_image(random);
        image.damage = damages[i % (sizeof damages / sizeof damages[0])];
        check(random, seed, i, image);
        if (HasFailure())
            break;
    }
    EXPECT_EQ(checked, count);
}

TEST_F(SpriteImages, sides_beyond_an_sdl_surface_fail_as_not_found_and_the_largest_that_fit_load)
{
    struct Side {
        int width, height, colour_type;
    };
    // SDL 1.2 surfaces stop below 16384 columns and 65536 rows. A side the GL
    // cannot hold is scaled down in the texture; the sprite keeps the image's size.
    // The tall one is RGBA: GLU scales a grey column of one byte a row into a
    // buffer it then reads four bytes a row, past its end.
    const Side sides[] = {{16384, 1, 0}, {20000, 1, 0}, {1, 65536, 0}, {1, 70000, 0},
                          {8192, 1, 0},  {8192, 2, 0},  {1, 32768, 6}};
    const unsigned seed = 99;
    std::mt19937 random(seed);
    int index = 0;
    for (const Side& side : sides) {
        Image image;
        image.width = side.width;
        image.height = side.height;
        image.colour_type = side.colour_type;
        image.depth = 8;
        check(random, seed, index++, image);
    }
    EXPECT_EQ(loaded, 3);
}
