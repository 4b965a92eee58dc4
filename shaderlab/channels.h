// What shaderlab's passes read through iChannel0-3: image files, the music's
// spectrum and waveform, and the buffers other passes draw. Each needs the GL
// context; each failure to make one throws std::runtime_error saying why.
#pragma once

#include <GL/glew.h>
#include <SDL_mixer.h>

#include <string>
#include <vector>

struct Texture {
    GLuint name = 0;
    int width = 0, height = 0;
};

// A PNG or JPEG file as a texture in the usual orientation (the image's top
// row at t = 1), mipmapped (trilinear), repeating. The caller deletes it.
Texture load_image(const std::string& path);

// The music, played by SDL_mixer from the first play_from on, and a 512x2
// texture (one 8-bit channel, linear, clamped) of what it plays: row 0 the
// spectrum of the latest 2048 samples (bins 0 to 511 of the mono mix, Blackman
// window, smoothed 0.8 from frame to frame, -100 to -30 dB as 0 to 255), row 1
// the latest 512 samples as 128 * (1 + v). Only 16-bit audio is analysed;
// other formats read as silence.
class Music {
public:
    explicit Music(const std::string& path);
    ~Music();
    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    // Plays from `seconds` on (paused there when `paused`). A kind of music
    // SDL_mixer cannot seek in starts over only for 0 and goes on unmoved
    // otherwise; the first such seek says so on stderr.
    void play_from(double seconds, bool paused);
    void pause() { Mix_PauseMusic(); }
    void resume() { Mix_ResumeMusic(); }
    // The texture from the samples played since the last call.
    void update_texture();

    Texture texture() const { return texture_; }
    int sample_rate() const { return rate_; }

private:
    static const int kWindow = 2048;  // samples behind the spectrum
    static const int kBins = 512;     // the texture's width

    const std::string path_;
    Mix_Music* music_ = nullptr;
    Texture texture_;
    int rate_ = 0;
    int channels_ = 0;
    bool seekable_ = false;
    bool told_unseekable_ = false;
    // Written by the mixer's thread under the audio lock: the latest samples,
    // a ring whose oldest sample is at `next_`.
    std::vector<float> ring_;
    size_t next_ = 0;
    bool analysable_ = false;
    std::vector<float> smoothed_;

    static void capture(void* music, Uint8* stream, int length);
};

// A buffer pass's target: two floating-point (RGBA32F) textures of the window's
// size, linear and clamped, starting black. A pass draws into the back one
// while its readers (itself included) sample the front one; swap() then makes
// the new picture the front.
class Target {
public:
    Target(int width, int height);
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    void bind() const;  // the back texture as the framebuffer, and the viewport
    void swap() { front_ = 1 - front_; }
    void clear();
    Texture front() const { return Texture{textures_[front_], width_, height_}; }

private:
    const int width_, height_;
    GLuint textures_[2] = {0, 0};
    GLuint framebuffers_[2] = {0, 0};
    int front_ = 0;
};
