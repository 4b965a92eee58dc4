// The rig's audio takeover (RIG_AUDIO): SDL 1.2's audio device replaced by one
// driven from the frame clock, whose output is a WAV file. The contract is in
// rig.h; this unit only adds functions and shares nothing but parts.h.
#include "parts.h"
#include "rig.h"

#include <SDL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

int bytes_per_sample(Uint16 format)
{
    return (format & 0xFF) / 8;
}

bool known_format(Uint16 format)
{
    switch (format) {
    case AUDIO_U8:
    case AUDIO_S8:
    case AUDIO_U16LSB:
    case AUDIO_S16LSB:
    case AUDIO_U16MSB:
    case AUDIO_S16MSB:
        return true;
    default:
        return false;
    }
}

void put16(unsigned char* at, uint32_t value)
{
    at[0] = value & 0xFF;
    at[1] = (value >> 8) & 0xFF;
}

void put32(unsigned char* at, uint32_t value)
{
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
}

// 16-bit samples of any SDL byte order and sign as signed native values, and back.
int read16(const Uint8* at, Uint16 format)
{
    const unsigned raw = (format & 0x1000) ? (at[0] << 8 | at[1]) : (at[1] << 8 | at[0]);
    return (format & 0x8000) ? static_cast<int16_t>(raw) : static_cast<int>(raw) - 32768;
}

void write16(Uint8* at, int value, Uint16 format)
{
    const unsigned raw =
        (format & 0x8000) ? static_cast<uint16_t>(value) : static_cast<unsigned>(value + 32768);
    if (format & 0x1000) {
        at[0] = raw >> 8;
        at[1] = raw & 0xFF;
    } else {
        at[0] = raw & 0xFF;
        at[1] = raw >> 8;
    }
}

class Device {
public:
    Device();

    int open(SDL_AudioSpec* desired, SDL_AudioSpec* obtained);
    void pause(int on) { paused = on != 0; }
    SDL_audiostatus status() const;
    void close();
    void mix(Uint8* dst, const Uint8* src, Uint32 len, int volume) const;
    void after_frame(uint64_t frame);

    bool active() const { return !path.empty(); }
    bool is_open() const { return opened; }

    // Held around every callback, as SDL holds its mixer lock; recursive, since
    // the callback runs on the thread that swaps and may hold the lock already.
    std::recursive_mutex lock;

private:
    std::string path;  // RIG_AUDIO, opened by the recorder at its first frame of sound
    int fd = -1;
    uint32_t fps = 0;

    // The track, fixed by the first device the program opens: its format is
    // the WAV file's, and written counts the sample frames in it.
    bool track = false;
    SDL_AudioSpec track_format{};
    uint64_t written = 0;

    bool opened = false;
    bool paused = true;
    SDL_AudioSpec open_format{};
    std::vector<Uint8> chunk, converted;

    uint64_t boundary(uint64_t frame) const;
    void start_file();
    void write_all(const void* data, size_t size, off_t at = -1);
    void write_samples(const Uint8* data, size_t frames);
    void write_silence(uint64_t frames);
    void update_sizes();
};

Device::Device()
{
    const char* setting = riglib::setting("RIG_AUDIO");
    if (!setting)
        return;
    fps = riglib::frame_rate();
    if (fps == 0)
        riglib::fail("RIG_AUDIO: needs RIG_FPS (the sound follows a frame rate)");
    // The file's header is rewritten as it grows, so it must be a file. It is
    // only checked now: the process that records opens it.
    path = setting;
    struct stat info;
    const bool exists = stat(setting, &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        riglib::fail("RIG_AUDIO: " + path + " is not a regular file");
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    if ((exists && access(setting, W_OK) != 0) ||
        (!exists && access(folder.empty() ? "." : folder.c_str(), W_OK) != 0))
        riglib::fail("RIG_AUDIO: cannot open " + path + ": " + std::strerror(errno));
}

int Device::open(SDL_AudioSpec* desired, SDL_AudioSpec* obtained)
{
    if (opened) {
        SDL_SetError("Audio device is already opened");
        return -1;
    }
    if (!desired || !desired->callback) {
        SDL_SetError("SDL_OpenAudio() passed a NULL callback");
        return -1;
    }
    SDL_AudioSpec want = *desired;
    if (want.freq == 0)
        want.freq = 22050;
    if (want.channels == 0)
        want.channels = 2;
    if (want.samples == 0)
        want.samples = 4096;
    if (want.freq < 0 || !known_format(want.format) ||
        !(want.channels == 1 || want.channels == 2 || want.channels == 4 || want.channels == 6)) {
        SDL_SetError("Unsupported audio format");
        return -1;
    }
    // A device opened again plays into the same track: it gets the track's
    // format when it accepts another, and is refused when it insists on its own.
    if (track && (want.freq != track_format.freq || want.format != track_format.format ||
                  want.channels != track_format.channels)) {
        if (!obtained) {
            SDL_SetError("the recording's audio is %d Hz, format 0x%04x, %d channels",
                         track_format.freq, track_format.format, track_format.channels);
            return -1;
        }
        want.freq = track_format.freq;
        want.format = track_format.format;
        want.channels = track_format.channels;
    }
    want.silence = want.format == AUDIO_U8 ? 0x80 : 0;  // as SDL 1.2 has it
    want.size = static_cast<Uint32>(want.samples) * want.channels * bytes_per_sample(want.format);
    if (obtained)
        *obtained = want;
    open_format = want;
    opened = true;
    paused = true;

    if (!track) {
        track = true;
        track_format = want;
    }
    return 0;
}

// The WAV file, made by the recorder when the track's first frame is over;
// its two sizes are filled in as samples arrive.
void Device::start_file()
{
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1)
        riglib::fail("RIG_AUDIO: cannot open " + path + ": " + std::strerror(errno));
    const int bits = bytes_per_sample(track_format.format) * 8;
    const uint32_t block = static_cast<uint32_t>(track_format.channels) * (bits / 8);
    unsigned char header[44];
    std::memcpy(header, "RIFF\0\0\0\0WAVEfmt ", 16);
    put32(header + 16, 16);
    put16(header + 20, 1);  // integer PCM
    put16(header + 22, track_format.channels);
    put32(header + 24, static_cast<uint32_t>(track_format.freq));
    put32(header + 28, static_cast<uint32_t>(track_format.freq) * block);
    put16(header + 32, block);
    put16(header + 34, bits);
    std::memcpy(header + 36, "data\0\0\0\0", 8);
    write_all(header, sizeof header);
}

SDL_audiostatus Device::status() const
{
    if (!opened)
        return SDL_AUDIO_STOPPED;
    return paused ? SDL_AUDIO_PAUSED : SDL_AUDIO_PLAYING;
}

void Device::close()
{
    std::lock_guard<std::recursive_mutex> hold(lock);
    opened = false;
    paused = true;
}

// SDL_MixAudio in the device's format: the volume scales the source (128 is
// unchanged), the sum is clipped to the sample range.
void Device::mix(Uint8* dst, const Uint8* src, Uint32 len, int volume) const
{
    if (volume == 0)
        return;
    const Uint16 format = open_format.format;
    if (format == AUDIO_U8 || format == AUDIO_S8) {
        const int bias = format == AUDIO_U8 ? 128 : 0;
        for (Uint32 i = 0; i < len; ++i) {
            const int a = (format == AUDIO_U8 ? src[i] - 128 : static_cast<int8_t>(src[i])) *
                          volume / SDL_MIX_MAXVOLUME;
            const int b = format == AUDIO_U8 ? dst[i] - 128 : static_cast<int8_t>(dst[i]);
            dst[i] = static_cast<Uint8>(std::clamp(a + b, -128, 127) + bias);
        }
        return;
    }
    for (Uint32 i = 0; i + 1 < len; i += 2) {
        const int a = read16(src + i, format) * volume / SDL_MIX_MAXVOLUME;
        write16(dst + i, std::clamp(a + read16(dst + i, format), -32768, 32767), format);
    }
}

// The first sample of frame K's clock interval, at the track's rate.
uint64_t Device::boundary(uint64_t frame) const
{
    return frame * static_cast<uint64_t>(track_format.freq) / fps;
}

void Device::after_frame(uint64_t frame)
{
    if (!track || !riglib::recorded(frame))
        return;
    if (fd == -1)
        start_file();
    // Silence up to this frame: the clock ran before the program opened its
    // device (or while it was closed).
    if (written < boundary(frame))
        write_silence(boundary(frame) - written);
    uint64_t wanted = boundary(frame + 1) - written;
    const size_t frame_bytes =
        static_cast<size_t>(open_format.channels) * bytes_per_sample(open_format.format);
    while (wanted > 0) {
        std::unique_lock<std::recursive_mutex> hold(lock);
        if (!opened || paused) {
            hold.unlock();
            write_silence(wanted);
            break;
        }
        // Pieces of at most the program's buffer size, which its callback
        // may have sized its own buffers by.
        const size_t frames = static_cast<size_t>(std::min<uint64_t>(wanted, open_format.samples));
        chunk.assign(frames * frame_bytes, open_format.silence);
        open_format.callback(open_format.userdata, chunk.data(), static_cast<int>(chunk.size()));
        hold.unlock();
        write_samples(chunk.data(), frames);
        wanted -= frames;
    }
    update_sizes();
}

void Device::write_all(const void* data, size_t size, off_t at)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = at < 0 ? write(fd, bytes, size) : pwrite(fd, bytes, size, at);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            riglib::fail(std::string("RIG_AUDIO: write failed: ") + std::strerror(errno));
        bytes += done;
        size -= static_cast<size_t>(done);
        if (at >= 0)
            at += done;
    }
}

// Samples in the device's format go to the file as WAV holds them: 8-bit
// unsigned, 16-bit signed little-endian.
void Device::write_samples(const Uint8* data, size_t frames)
{
    const size_t bytes = frames * open_format.channels * bytes_per_sample(open_format.format);
    converted.assign(data, data + bytes);
    if (open_format.format == AUDIO_S8) {
        for (Uint8& byte : converted)
            byte ^= 0x80;
    } else if (open_format.format != AUDIO_U8 && open_format.format != AUDIO_S16LSB) {
        for (size_t i = 0; i + 1 < bytes; i += 2)
            write16(&converted[i], read16(data + i, open_format.format), AUDIO_S16LSB);
    }
    write_all(converted.data(), converted.size());
    written += frames;
}

void Device::write_silence(uint64_t frames)
{
    const size_t frame_bytes =
        static_cast<size_t>(track_format.channels) * bytes_per_sample(track_format.format);
    // Silence as the file holds it: 0x80 for 8 bits, 0 for 16.
    const Uint8 silence = bytes_per_sample(track_format.format) == 1 ? 0x80 : 0;
    std::vector<Uint8> zeros(std::min<uint64_t>(frames, 4096) * frame_bytes, silence);
    while (frames > 0) {
        const uint64_t now = std::min<uint64_t>(frames, 4096);
        write_all(zeros.data(), now * frame_bytes);
        written += now;
        frames -= now;
    }
}

// The RIFF and data sizes, kept right after every frame so that the file is
// whole however the program ends.
void Device::update_sizes()
{
    const uint64_t data = written * track_format.channels * bytes_per_sample(track_format.format);
    unsigned char size[4];
    put32(size, static_cast<uint32_t>(std::min<uint64_t>(data, UINT32_MAX - 36)));
    write_all(size, 4, 40);
    put32(size, static_cast<uint32_t>(std::min<uint64_t>(data + 36, UINT32_MAX)));
    write_all(size, 4, 4);
}

Device& device()
{
    static Device instance;
    return instance;
}

const interpose::Next<int(SDL_AudioSpec*, SDL_AudioSpec*)> real_open_audio("SDL_OpenAudio");
const interpose::Next<void(int)> real_pause_audio("SDL_PauseAudio");
const interpose::Next<SDL_audiostatus()> real_get_audio_status("SDL_GetAudioStatus");
const interpose::Next<void()> real_lock_audio("SDL_LockAudio");
const interpose::Next<void()> real_unlock_audio("SDL_UnlockAudio");
const interpose::Next<void()> real_close_audio("SDL_CloseAudio");
const interpose::Next<void(Uint8*, const Uint8*, Uint32, int)> real_mix_audio("SDL_MixAudio");

}  // namespace

// A bad RIG_AUDIO stops the program at load, with the rig's other variables.
void riglib::audio_at_load()
{
    device();
}

void riglib::audio_after_frame(uint64_t frame)
{
    device().after_frame(frame);
}

// Without RIG_AUDIO every call goes to the real SDL.
extern "C" {

int SDL_OpenAudio(SDL_AudioSpec* desired, SDL_AudioSpec* obtained)
{
    Device& d = device();
    if (!d.active())
        return riglib::required(real_open_audio)(desired, obtained);
    return d.open(desired, obtained);
}

void SDL_PauseAudio(int pause_on)
{
    Device& d = device();
    if (!d.active())
        return riglib::required(real_pause_audio)(pause_on);
    d.pause(pause_on);
}

SDL_audiostatus SDL_GetAudioStatus(void)
{
    Device& d = device();
    if (!d.active())
        return riglib::required(real_get_audio_status)();
    return d.status();
}

void SDL_LockAudio(void)
{
    Device& d = device();
    if (!d.active())
        return riglib::required(real_lock_audio)();
    d.lock.lock();
}

void SDL_UnlockAudio(void)
{
    Device& d = device();
    if (!d.active())
        return riglib::required(real_unlock_audio)();
    d.lock.unlock();
}

void SDL_CloseAudio(void)
{
    Device& d = device();
    if (!d.active())
        return riglib::required(real_close_audio)();
    d.close();
}

// SDL mixes in the open device's format; with no real device open it would
// guess, so an open takeover device mixes itself.
void SDL_MixAudio(Uint8* dst, const Uint8* src, Uint32 len, int volume)
{
    Device& d = device();
    if (!d.active() || !d.is_open())
        return riglib::required(real_mix_audio)(dst, src, len, volume);
    d.mix(dst, src, len, volume);
}

}  // extern "C"
