// Image textures, the music and its texture, and the buffers' targets.
#include "channels.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace {

void set_filters(GLint min_filter, GLint wrap)
{
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
}

// In place, radix 2; `data` holds a power of two of samples.
void fft(std::vector<std::complex<float>>& data)
{
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * M_PI / static_cast<double>(length);
        for (size_t start = 0; start < n; start += length) {
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<float> turn(static_cast<float>(std::cos(angle * k)),
                                               static_cast<float>(std::sin(angle * k)));
                const std::complex<float> odd = data[start + k + length / 2] * turn;
                data[start + k + length / 2] = data[start + k] - odd;
                data[start + k] += odd;
            }
        }
    }
}

uint8_t to_byte(double value)
{
    return static_cast<uint8_t>(std::clamp(std::floor(value), 0.0, 255.0));
}

}  // namespace

Texture load_image(const std::string& path)
{
    SDL_Surface* loaded = IMG_Load(path.c_str());
    if (!loaded)
        throw std::runtime_error("cannot load the image " + path + ": " + IMG_GetError());
    // Bytes R, G, B, A in memory whatever the machine's byte order.
    const bool big = SDL_BYTEORDER == SDL_BIG_ENDIAN;
    SDL_Surface* rgba =
        SDL_CreateRGBSurface(SDL_SWSURFACE, loaded->w, loaded->h, 32, big ? 0xff000000 : 0x000000ff,
                             big ? 0x00ff0000 : 0x0000ff00, big ? 0x0000ff00 : 0x00ff0000,
                             big ? 0x000000ff : 0xff000000);
    if (!rgba) {
        SDL_FreeSurface(loaded);
        throw std::runtime_error("cannot convert the image " + path + ": " + SDL_GetError());
    }
    // Copied, alpha included, rather than blended onto the empty surface.
    SDL_SetAlpha(loaded, 0, SDL_ALPHA_OPAQUE);
    SDL_BlitSurface(loaded, nullptr, rgba, nullptr);
    SDL_FreeSurface(loaded);

    // Files list rows from the top, the GL from the bottom.
    const size_t row = static_cast<size_t>(rgba->w) * 4;
    std::vector<uint8_t> pixels(row * rgba->h);
    for (int y = 0; y < rgba->h; ++y)
        std::memcpy(
            &pixels[row * (rgba->h - 1 - y)],
            static_cast<const uint8_t*>(rgba->pixels) + static_cast<size_t>(y) * rgba->pitch, row);
    Texture texture{0, rgba->w, rgba->h};
    SDL_FreeSurface(rgba);

    glGenTextures(1, &texture.name);
    glBindTexture(GL_TEXTURE_2D, texture.name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, texture.width, texture.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, pixels.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    set_filters(GL_LINEAR_MIPMAP_LINEAR, GL_REPEAT);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

// Music

Music::Music(const std::string& path) : path_(path), ring_(kWindow, 0.0f), smoothed_(kBins, 0.0f)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0 ||
        Mix_OpenAudio(44100, MIX_DEFAULT_FORMAT, 2, 1024) != 0)
        throw std::runtime_error(std::string("cannot open the audio device: ") + Mix_GetError());
    Uint16 format = 0;
    Mix_QuerySpec(&rate_, &format, &channels_);
    analysable_ = format == AUDIO_S16SYS;
    music_ = Mix_LoadMUS(path.c_str());
    if (!music_) {
        const std::string why = Mix_GetError();
        Mix_CloseAudio();
        throw std::runtime_error("cannot play " + path + ": " + why);
    }
    // SDL_mixer 1.2 seeks in seconds only in these.
    const Mix_MusicType type = Mix_GetMusicType(music_);
    seekable_ = type == MUS_OGG || type == MUS_MP3 || type == MUS_MP3_MAD || type == MUS_FLAC;

    glGenTextures(1, &texture_.name);
    texture_.width = kBins;
    texture_.height = 2;
    glBindTexture(GL_TEXTURE_2D, texture_.name);
    const std::vector<uint8_t> silence(2 * kBins, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kBins, 2, 0, GL_RED, GL_UNSIGNED_BYTE, silence.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    set_filters(GL_LINEAR, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);

    Mix_SetPostMix(capture, this);
}

Music::~Music()
{
    Mix_SetPostMix(nullptr, nullptr);
    Mix_HaltMusic();
    Mix_FreeMusic(music_);
    Mix_CloseAudio();
    glDeleteTextures(1, &texture_.name);
}

void Music::play_from(double seconds, bool paused)
{
    if (seconds > 0 && !seekable_) {
        if (!told_unseekable_)
            std::cerr << "shaderlab: SDL_mixer cannot seek in " << path_
                      << ": the music goes on where it is" << std::endl;
        told_unseekable_ = true;
    } else {
        // From the start, then forward: Mix_SetMusicPosition counts from the
        // current position in some formats and from the start in others.
        Mix_PlayMusic(music_, 0);
        if (seconds > 0)
            Mix_SetMusicPosition(seconds);
    }
    if (paused)
        Mix_PauseMusic();
}

void Music::capture(void* self, Uint8* stream, int length)
{
    Music& music = *static_cast<Music*>(self);
    if (!music.analysable_)
        return;
    const int channels = music.channels_;
    const auto* samples = reinterpret_cast<const Sint16*>(stream);
    const int frames = length / (2 * channels);
    for (int i = 0; i < frames; ++i) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[i * channels + c];
        music.ring_[music.next_] = sum / (32768.0f * channels);
        music.next_ = (music.next_ + 1) % music.ring_.size();
    }
}

void Music::update_texture()
{
    std::vector<float> latest(kWindow);
    SDL_LockAudio();
    for (int i = 0; i < kWindow; ++i)
        latest[i] = ring_[(next_ + i) % kWindow];
    SDL_UnlockAudio();

    std::vector<std::complex<float>> spectrum(kWindow);
    for (int i = 0; i < kWindow; ++i) {
        const double phase = 2.0 * M_PI * i / kWindow;
        const double blackman = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
        spectrum[i] = static_cast<float>(latest[i] * blackman);
    }
    fft(spectrum);
    uint8_t rows[2][kBins];
    for (int k = 0; k < kBins; ++k) {
        smoothed_[k] = 0.8f * smoothed_[k] + 0.2f * std::abs(spectrum[k]) / kWindow;
        const double db = 20.0 * std::log10(std::max(smoothed_[k], 1e-30f));
        rows[0][k] = to_byte(255.0 / 70.0 * (db + 100.0));
        rows[1][k] = to_byte(128.0 * (1.0 + latest[kWindow - kBins + k]));
    }
    glBindTexture(GL_TEXTURE_2D, texture_.name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kBins, 2, GL_RED, GL_UNSIGNED_BYTE, rows);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// Target

Target::Target(int width, int height) : width_(width), height_(height)
{
    glGenTextures(2, textures_);
    glGenFramebuffers(2, framebuffers_);
    for (int i = 0; i < 2; ++i) {
        glBindTexture(GL_TEXTURE_2D, textures_[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
        set_filters(GL_LINEAR, GL_CLAMP_TO_EDGE);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[i]);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures_[i],
                               0);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            throw std::runtime_error("this GL cannot draw into a floating-point (RGBA32F) texture");
        }
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    clear();
}

Target::~Target()
{
    glDeleteFramebuffers(2, framebuffers_);
    glDeleteTextures(2, textures_);
}

void Target::bind() const
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[1 - front_]);
    glViewport(0, 0, width_, height_);
}

void Target::clear()
{
    glClearColor(0, 0, 0, 0);
    for (GLuint framebuffer : framebuffers_) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
