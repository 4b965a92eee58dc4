// The scene timeline, tested on the real demo binary under the rig: what each
// frame shows for a scripted clock, measured in the frames it saves against the
// real media.
#include <SDL_image.h>
#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "demo_run.h"

namespace {

// A media image as the demo hands it to the GL: 4 bytes per pixel in memory
// order R, G, B, A, top row first.
struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;

    const uint8_t* at(int column, int row) const
    {
        return &rgba[(static_cast<size_t>(row) * width + column) * 4];
    }
};

Image load_media(const std::string& name)
{
    const std::string path = assets_dir() + "/" + name;
    SDL_Surface* surface = IMG_Load(path.c_str());
    if (!surface)
        throw std::runtime_error("cannot load " + path);
    if (surface->format->BytesPerPixel != 4)
        throw std::runtime_error(path + " is not 32 bits per pixel");
    Image image;
    image.width = surface->w;
    image.height = surface->h;
    image.rgba.resize(static_cast<size_t>(image.width) * image.height * 4);
    for (int row = 0; row < image.height; ++row)
        std::copy_n(static_cast<const uint8_t*>(surface->pixels) + row * surface->pitch,
                    image.width * 4, &image.rgba[static_cast<size_t>(row) * image.width * 4]);
    SDL_FreeSurface(surface);
    return image;
}

// Overlay pixels, inclusive, y from the bottom.
struct Rect {
    int left, bottom, right, top;

    bool contains(int x, int y) const { return x >= left && x <= right && y >= bottom && y <= top; }
};

bool in_any(const std::vector<Rect>& rects, int x, int y)
{
    for (const Rect& rect : rects)
        if (rect.contains(x, y))
            return true;
    return false;
}

// All a sprite centred at (x, y) may cover: its quad at the pulse's largest
// scale, 1.05, and a pixel more for the texture filter.
Rect sprite_area(const Image& image, int x, int y)
{
    const int half_width = static_cast<int>(std::ceil(image.width * 1.05 / 2)) + 1;
    const int half_height = static_cast<int>(std::ceil(image.height * 1.05 / 2)) + 1;
    return Rect{x - half_width, y - half_height, x + half_width, y + half_height};
}

const int kLogoX = 500, kLogoY = 128;

// How many of the logo's solid texels show on screen as colour x alpha, give or
// take 2 levels of rounding, over black. The clocks these tests use put the
// pulse at scale 1 (or within a millionth of it), so texel (c, r) lands on one
// window pixel; samples are taken where the 3x3 texels around agree, and away
// from what other sprites cover.
double logo_shown_at(const Frame& frame, const Image& logo, double alpha,
                     const std::vector<Rect>& covered = {})
{
    int samples = 0, matching = 0;
    for (int row = 1; row < logo.height - 1; row += 2) {
        for (int column = 1; column < logo.width - 1; column += 2) {
            const uint8_t* texel = logo.at(column, row);
            if (std::max({texel[0], texel[1], texel[2]}) < 64)
                continue;
            bool flat = true;
            for (int dy = -1; dy <= 1 && flat; ++dy)
                for (int dx = -1; dx <= 1 && flat; ++dx) {
                    const uint8_t* near = logo.at(column + dx, row + dy);
                    flat = near[3] == 255 && std::abs(near[0] - texel[0]) <= 2 &&
                           std::abs(near[1] - texel[1]) <= 2 && std::abs(near[2] - texel[2]) <= 2;
                }
            const int x = kLogoX - logo.width / 2 + column;
            const int y = kLogoY + logo.height / 2 - 1 - row;
            if (!flat || y < 0 || in_any(covered, x, y))
                continue;
            ++samples;
            const Rgb pixel = frame.at(x, y);
            const uint8_t shown[3] = {pixel.r, pixel.g, pixel.b};
            bool match = true;
            for (int channel = 0; channel < 3; ++channel)
                match = match && std::abs(shown[channel] - texel[channel] * alpha) <= 2.0;
            matching += match;
        }
    }
    if (samples < 100)
        throw std::runtime_error("too few logo samples: " + std::to_string(samples));
    return static_cast<double>(matching) / samples;
}

// Stars over black show their colour times the starfield's alpha, and every
// star's blue lies between 0.8 and 1: so the blue of (almost) every lit pixel
// outside the sprites lies between 0.8 x alpha and alpha, in 255ths.
struct StarPixels {
    int lit = 0;
    int in_band = 0;
};

StarPixels star_pixels(const Frame& frame, double alpha, const std::vector<Rect>& excluded)
{
    StarPixels stars;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const Rgb pixel = frame.at(x, y);
            if ((pixel.r | pixel.g | pixel.b) == 0 || in_any(excluded, x, y))
                continue;
            ++stars.lit;
            stars.in_band += pixel.b >= 0.8 * alpha * 255 - 2 && pixel.b <= alpha * 255 + 2;
        }
    return stars;
}

void expect_starfield_at(const Frame& frame, double alpha, const std::vector<Rect>& excluded)
{
    const StarPixels stars = star_pixels(frame, alpha, excluded);
    EXPECT_GT(stars.lit, 2000);
    EXPECT_GE(stars.in_band, stars.lit * 0.97) << "lit " << stars.lit << " at alpha " << alpha;
}

// World-space pixels outside the sprites, by colour: the wave's first steps
// are dark blue, the radar's trail green, the stars whitish.
struct WorldPixels {
    int wave = 0;
    int radar = 0;
    int other = 0;
};

WorldPixels world_pixels(const Frame& frame, const std::vector<Rect>& excluded)
{
    WorldPixels world;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const Rgb p = frame.at(x, y);
            if ((p.r | p.g | p.b) == 0 || in_any(excluded, x, y))
                continue;
            if (p.b >= 100 && p.r <= 16 && p.g <= 24)
                ++world.wave;
            else if (p.g >= 100 && p.g >= p.r + 60 && p.g >= p.b + 60)
                ++world.radar;
            else
                ++world.other;
        }
    return world;
}

bool outside_is_black(const Frame& frame, const Rect& area)
{
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const Rgb p = frame.at(x, y);
            if ((p.r | p.g | p.b) != 0 && !area.contains(x, y))
                return false;
        }
    return true;
}

// Bounding box of a caption's bright text, by red premultiplied by alpha: the
// text is white, pink and light blue, while the wave behind the first caption
// has (almost) no red.
struct Box {
    int left = INT_MAX, right = INT_MIN, top = INT_MIN, bottom = INT_MAX;
};

const int kTextRed = 128;

Box image_text_box(const Image& image)
{
    Box box;  // columns, and rows from the top
    for (int row = 0; row < image.height; ++row)
        for (int column = 0; column < image.width; ++column) {
            const uint8_t* texel = image.at(column, row);
            if (texel[0] * texel[3] / 255.0 >= kTextRed) {
                box.left = std::min(box.left, column);
                box.right = std::max(box.right, column);
                box.top = std::max(box.top, -row);  // negated so top stays the max
                box.bottom = std::min(box.bottom, -row);
            }
        }
    return box;
}

Box frame_text_box(const Frame& frame, const Rect& band)
{
    Box box;  // window pixels, y from the bottom
    for (int y = std::max(band.bottom, 0); y <= std::min(band.top, frame.height - 1); ++y)
        for (int x = std::max(band.left, 0); x <= std::min(band.right, frame.width - 1); ++x)
            if (frame.at(x, y).r >= kTextRed) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::max(box.top, y);
                box.bottom = std::min(box.bottom, y);
            }
    return box;
}

// The caption drawn 1:1 centred at (x, y) puts its text where the image has
// it: column c at x - width/2 + c, row r at y + height/2 - 1 - r. The clocks
// used keep the pulse at exactly 1 and y within 0.0001 of a whole pixel.
void expect_caption_at(const Frame& frame, const Image& caption, int x, int y)
{
    const Box text = image_text_box(caption);
    const Box seen = frame_text_box(frame, sprite_area(caption, x, y));
    const int left = x - caption.width / 2;
    const int top = y + caption.height / 2 - 1;
    EXPECT_NEAR(seen.left, left + text.left, 1) << "caption at (" << x << ", " << y << ")";
    EXPECT_NEAR(seen.right, left + text.right, 1) << "caption at (" << x << ", " << y << ")";
    EXPECT_NEAR(seen.top, top + text.top, 1) << "caption at (" << x << ", " << y << ")";
    if (top + text.bottom >= 0)
        EXPECT_NEAR(seen.bottom, top + text.bottom, 1) << "caption at (" << x << ", " << y << ")";
    else
        EXPECT_EQ(seen.bottom, 0) << "caption at (" << x << ", " << y << ")";
}

void expect_clean_exit(const Outcome& outcome)
{
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
}

// Fills buffer from fd; false at the end of the stream (or on an error).
bool read_all(int fd, std::vector<uint8_t>& buffer)
{
    size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = read(fd, buffer.data() + done, buffer.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

// Logo and starfield fades. The logo is drawn before this frame's alpha is
// worked out, so it shows the alpha of the previous frame's clock.

TEST(Fades, frames_up_to_2_seconds_are_black_and_the_logo_fades_in_one_frame_late)
{
    const Image logo = load_media("vornalogo.png");
    DemoRun run;
    run.use_rig("0,1000,2000,2500,3570", "4:escape", "all");
    expect_clean_exit(run.run());
    ASSERT_EQ(run.swaps().size(), 5u);

    EXPECT_TRUE(run.frame(0).all_black());
    EXPECT_TRUE(run.frame(1).all_black());
    EXPECT_TRUE(run.frame(2).all_black());  // exactly 2.0: no fade yet

    const Frame at2_5 = run.frame(3);
    expect_starfield_at(at2_5, 0.25, {});  // the logo, still at alpha 0, adds nothing
    EXPECT_GE(logo_shown_at(at2_5, logo, 0.0), 0.95);

    const Frame at3_57 = run.frame(4);
    EXPECT_GE(logo_shown_at(at3_57, logo, 0.25), 0.9);  // 2.5 s: (2.5 - 2) x 0.5
    expect_starfield_at(at3_57, 0.785, {sprite_area(logo, kLogoX, kLogoY)});
}

TEST(Fades, a_first_frame_at_3_seconds_shows_the_stars_at_half_alpha_with_nothing_replayed)
{
    const Image logo = load_media("vornalogo.png");
    DemoRun run;
    run.use_rig("3000,3570", "1:escape", "all");
    expect_clean_exit(run.run());

    const Frame first = run.frame(0);
    expect_starfield_at(first, 0.5, {});
    EXPECT_GE(logo_shown_at(first, logo, 0.0), 0.95);
    EXPECT_GE(logo_shown_at(run.frame(1), logo, 0.5), 0.9);
}

TEST(Fades, at_exactly_4_seconds_the_fade_in_is_complete)
{
    const Image logo = load_media("vornalogo.png");
    DemoRun run;
    run.use_rig("4000,5760", "1:escape", "all");
    expect_clean_exit(run.run());

    expect_starfield_at(run.frame(0), 1.0, {});
    EXPECT_GE(logo_shown_at(run.frame(1), logo, 1.0), 0.9);
}

TEST(Fades, the_starfield_holds_then_fades_out_and_is_gone_after_10_seconds)
{
    const Image logo = load_media("vornalogo.png");
    const Image text1 = load_media("text1.png");
    DemoRun run;
    run.use_rig("5000,7000,8000,9000,9900,10500", "5:escape", "all");
    expect_clean_exit(run.run());

    const std::vector<Rect> logo_area = {sprite_area(logo, kLogoX, kLogoY)};
    expect_starfield_at(run.frame(0), 1.0, logo_area);
    expect_starfield_at(run.frame(1), 0.75, logo_area);
    expect_starfield_at(run.frame(2), 0.5, logo_area);
    expect_starfield_at(run.frame(3), 0.25, logo_area);
    expect_starfield_at(run.frame(4), 0.025, logo_area);

    const WorldPixels after =
        world_pixels(run.frame(5), {logo_area[0], sprite_area(text1, 650, 25)});
    EXPECT_EQ(after.other, 0);  // no stars, only the wave
    EXPECT_GT(after.wave, 1000);
}

// Clocks exactly on a bound match neither side of it.

TEST(Bounds, at_exactly_10_seconds_only_the_logo_shows_at_full_alpha_and_keeps_it)
{
    const Image logo = load_media("vornalogo.png");
    DemoRun run;
    run.use_rig("5760,10000,20000", "2:escape", "all");
    expect_clean_exit(run.run());

    const Rect logo_area = sprite_area(logo, kLogoX, kLogoY);
    const Frame at10 = run.frame(1);
    EXPECT_TRUE(outside_is_black(at10, logo_area));
    EXPECT_GE(logo_shown_at(at10, logo, 1.0), 0.9);

    const Frame at20 = run.frame(2);  // only the logo, with what 10.0 left
    EXPECT_TRUE(outside_is_black(at20, logo_area));
    EXPECT_GE(logo_shown_at(at20, logo, 1.0), 0.9);
}

TEST(Bounds, at_exactly_20_seconds_the_frame_is_black_and_the_next_one_shows_the_logo_once)
{
    const Image logo = load_media("vornalogo.png");
    const Image text2 = load_media("text2.png");
    DemoRun run;
    run.use_rig("18000,20000,28500,28800", "3:escape", "all");
    expect_clean_exit(run.run());

    EXPECT_FALSE(run.frame(0).all_black());
    EXPECT_TRUE(run.frame(1).all_black());
    EXPECT_GE(logo_shown_at(run.frame(2), logo, 1.0, {sprite_area(text2, 350, 425)}), 0.9);
    EXPECT_GE(logo_shown_at(run.frame(3), logo, 0.0, {sprite_area(text2, 350, 440)}), 0.95);
}

// The effects' windows, seen outside the sprites.

TEST(Windows, the_wave_shows_only_between_10_and_20_seconds_and_the_radar_between_20_and_25)
{
    const Image logo = load_media("vornalogo.png");
    const Image text1 = load_media("text1.png");
    const Image text2 = load_media("text2.png");
    DemoRun run;
    run.use_rig("9900,10000,10500,19900,20000,20500,24900,25000,25500", "8:escape", "all");
    expect_clean_exit(run.run());

    const Rect logo_area = sprite_area(logo, kLogoX, kLogoY);
    auto world = [&](unsigned k, const Image& caption, int x, int y) {
        return world_pixels(run.frame(k), {logo_area, sprite_area(caption, x, y)});
    };
    const WorldPixels at9_9 = world(0, text1, 650, -5);
    EXPECT_EQ(at9_9.wave + at9_9.radar, 0);
    EXPECT_GT(at9_9.other, 2000);  // the last of the stars

    const WorldPixels at10 = world(1, text1, 650, 0);
    EXPECT_EQ(at10.wave + at10.radar + at10.other, 0);

    const WorldPixels at10_5 = world(2, text1, 650, 25);
    EXPECT_GT(at10_5.wave, 1000);
    EXPECT_EQ(at10_5.radar + at10_5.other, 0);
    const WorldPixels at19_9 = world(3, text1, 650, 495);
    EXPECT_GT(at19_9.wave, 1000);
    EXPECT_EQ(at19_9.radar + at19_9.other, 0);

    EXPECT_TRUE(run.frame(4).all_black());  // 20.0

    const WorldPixels at20_5 = world(5, text2, 350, 25);
    EXPECT_GT(at20_5.radar, 300);
    EXPECT_EQ(at20_5.wave, 0);
    const WorldPixels at24_9 = world(6, text2, 350, 245);
    EXPECT_GT(at24_9.radar, 300);
    EXPECT_EQ(at24_9.wave, 0);

    for (unsigned k : {7u, 8u}) {  // 25.0 and 25.5: the greetings alone
        const WorldPixels late = world(k, text2, 350, k == 7 ? 250 : 275);
        EXPECT_EQ(late.wave + late.radar + late.other, 0) << "frame " << k;
    }
}

// The captions climb 50 overlay pixels a second from y = 0 at the start of
// their window. At these clocks sin(3t) < -0.5, where the pulse is exactly 1.

TEST(Captions, the_credits_are_centred_at_x_650_and_climb_from_y_0_at_10_seconds)
{
    const Image text1 = load_media("text1.png");
    DemoRun run;
    run.use_rig("12000,14000,16000,18000", "3:escape", "all");
    expect_clean_exit(run.run());

    expect_caption_at(run.frame(0), text1, 650, 100);
    expect_caption_at(run.frame(1), text1, 650, 200);
    expect_caption_at(run.frame(2), text1, 650, 300);
    expect_caption_at(run.frame(3), text1, 650, 400);
}

TEST(Captions, the_greetings_are_centred_at_x_350_and_climb_from_y_0_at_20_seconds)
{
    const Image text2 = load_media("text2.png");
    DemoRun run;
    run.use_rig("26500,28500", "1:escape", "all");
    expect_clean_exit(run.run());

    expect_caption_at(run.frame(0), text2, 350, 325);
    expect_caption_at(run.frame(1), text2, 350, 425);
}

TEST(End, the_first_frame_past_30_seconds_is_black_and_the_last)
{
    DemoRun run;
    // 29999 ticks are 29.9990005 s; 30000 ticks are already 30.000002 s in
    // single precision, so no tick count gives exactly 30.
    run.use_rig("29000,29999,30000,31000", "", "all");
    expect_clean_exit(run.run());

    const std::vector<Swap> swaps = run.swaps();
    ASSERT_EQ(swaps.size(), 3u);
    EXPECT_EQ(swaps[2].ticks, 30000u);
    EXPECT_FALSE(run.frame(0).all_black());  // the greetings
    EXPECT_FALSE(run.frame(1).all_black());
    EXPECT_TRUE(run.frame(2).all_black());
}

TEST(End, a_start_up_already_past_30_seconds_draws_exactly_one_black_frame)
{
    DemoRun run;
    run.use_rig("30500,31000", "", "all");
    expect_clean_exit(run.run());

    const std::vector<Swap> swaps = run.swaps();
    ASSERT_EQ(swaps.size(), 1u);
    EXPECT_EQ(swaps[0].ticks, 30500u);
    EXPECT_TRUE(run.frame(0).all_black());
}

// The same binary on sdl12-compat (SDL 1.2 on SDL 2) draws classic SDL's frames
// to the byte, the whole run through. Left to itself sdl12-compat would have it
// draw into a framebuffer object scaled onto the window at every swap: blends
// then round a level apart here and there, and a star, wave or radar point that
// lies exactly between two pixel rows lands on the other row. The demo turns
// that off, so nothing may differ.
TEST(Sdl12Compat, frames_equal_classic_sdl_frames_to_the_byte)
{
    // This case runs with the suites on sdl12-compat: their set-up holds.
    ASSERT_TRUE(on_sdl12_compat()) << "LD_LIBRARY_PATH does not name " << sdl12_compat_dir();
    const int fps = 5;
    const size_t frame_size = 1280 * 720 * 3;
    DemoRun classic, compat;
    // Each run streams its frames into a pipe of its own, started one after
    // the other so that neither inherits the other's end.
    int video[2][2];
    for (int which = 0; which < 2; ++which) {
        DemoRun& run = which == 0 ? classic : compat;
        ASSERT_EQ(pipe2(video[which], O_CLOEXEC), 0);
        fcntl(video[which][1], F_SETFD, 0);
        run.use_rig("0");
        run.unset_env("RIG_TICKS");
        run.set_env("RIG_FPS", std::to_string(fps));
        run.set_env("RIG_VIDEO", "fd:" + std::to_string(video[which][1]));
        if (which == 0)
            run.unset_env("LD_LIBRARY_PATH");
        else
            run.set_env("LD_LIBRARY_PATH", sdl12_compat_dir());
        run.start();
        close(video[which][1]);
    }

    std::vector<uint8_t> a(frame_size), b(frame_size);
    unsigned frames = 0;
    std::vector<unsigned> differing;
    for (; read_all(video[0][0], a) && read_all(video[1][0], b); ++frames)
        if (a != b)
            differing.push_back(frames);
    close(video[0][0]);
    close(video[1][0]);
    expect_clean_exit(classic.wait());
    expect_clean_exit(compat.wait());
    EXPECT_EQ(frames, 30u * fps + 1);
    EXPECT_TRUE(differing.empty())
        << differing.size() << " of " << frames << " frames differ, the first at "
        << differing[0] * 1000 / fps << " ms";
}
