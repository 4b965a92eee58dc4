// The rig's SDL audio devices (RIG_AUDIO): SDL 1.2's device, and SDL 2's
// devices, callback or queued, replaced by sources of the rig's sound track
// (sound.cpp), which pulls each for exactly a frame's clock interval once it
// is over. No real device is opened. The names SDL 1.2 and SDL 2 share
// (SDL_OpenAudio and its legacy family) are SDL 2's device 1. The contract is
// in rig.h; this unit shares nothing but parts.h.
#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "parts.h"

namespace {

// SDL 2's names where SDL 1.2's header has none.
using DeviceId = Uint32;
constexpr Uint16 kS32Lsb = 0x8020, kS32Msb = 0x9020, kF32Lsb = 0x8120, kF32Msb = 0x9120;
constexpr DeviceId kLegacy = 1;  // SDL 2's id for the device of SDL_OpenAudio

bool known_format(Uint16 format, bool sdl2)
{
    switch (format) {
    case AUDIO_U8:
    case AUDIO_S8:
    case AUDIO_U16LSB:
    case AUDIO_S16LSB:
    case AUDIO_U16MSB:
    case AUDIO_S16MSB:
        return true;
    case kS32Lsb:
    case kS32Msb:
    case kF32Lsb:
    case kF32Msb:
        return sdl2;
    default:
        return false;
    }
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

// One device the program opened: its callback called, or its queue drained,
// for each frame's samples.
class Device : public riglib::SoundSource {
public:
    explicit Device(const SDL_AudioSpec& settings) : settings_(settings) {}

    riglib::SoundFormat format() const override
    {
        return {settings_.freq, settings_.channels, settings_.format};
    }
    const SDL_AudioSpec& settings() const { return settings_; }

    bool render(size_t samples, std::vector<unsigned char>& out) override
    {
        const std::lock_guard<std::recursive_mutex> hold(lock);
        if (paused)
            return false;
        const size_t frame_bytes =
            static_cast<size_t>(settings_.channels) * riglib::sample_bytes(settings_.format);
        std::fill(out.begin(), out.end(), settings_.silence);
        if (!settings_.callback) {
            // A queued device plays what is queued, then silence.
            const size_t bytes = std::min(queue.size() - queue_start, samples * frame_bytes);
            std::memcpy(out.data(), queue.data() + queue_start, bytes);
            queue_start += bytes;
            if (queue_start == queue.size()) {
                queue.clear();
                queue_start = 0;
            }
            return bytes > 0;
        }
        // Pieces of at most the program's buffer size, which its callback may
        // have sized its own buffers by.
        for (size_t done = 0; done < samples;) {
            const size_t now = std::min<size_t>(samples - done, settings_.samples);
            settings_.callback(settings_.userdata, out.data() + done * frame_bytes,
                               static_cast<int>(now * frame_bytes));
            done += now;
        }
        return true;
    }

    void pause(bool on)
    {
        const std::lock_guard<std::recursive_mutex> hold(lock);
        paused = on;
    }
    bool is_paused() const { return paused; }

    void enqueue(const void* data, Uint32 bytes)
    {
        const std::lock_guard<std::recursive_mutex> hold(lock);
        const auto* at = static_cast<const unsigned char*>(data);
        queue.insert(queue.end(), at, at + bytes);
    }
    Uint32 queued()
    {
        const std::lock_guard<std::recursive_mutex> hold(lock);
        return static_cast<Uint32>(queue.size() - queue_start);
    }
    void clear()
    {
        const std::lock_guard<std::recursive_mutex> hold(lock);
        queue.clear();
        queue_start = 0;
    }

    // Held around every callback, as SDL holds a device's lock; recursive,
    // since the callback runs on the thread that swaps, which may hold it.
    std::recursive_mutex lock;

private:
    SDL_AudioSpec settings_;
    bool paused = true;  // as a device opens
    std::vector<unsigned char> queue;
    size_t queue_start = 0;
};

// The devices open now, by id; kLegacy is SDL_OpenAudio's.
class Devices {
public:
    // SDL_OpenAudio's rules for SDL 1.2 (1, 2, 4 or 6 channels, 8 or 16 bits)
    // and SDL 2's (1 to 8 channels, also 32-bit integers and floats); 0 when
    // refused, with SDL's error set.
    DeviceId open(const SDL_AudioSpec* desired, SDL_AudioSpec* obtained, bool legacy, bool sdl2);
    void close(DeviceId id);
    Device* find(DeviceId id)
    {
        const std::lock_guard<std::mutex> hold(lock);
        const auto found = devices.find(id);
        return found == devices.end() ? nullptr : found->second.get();
    }

private:
    std::mutex lock;
    std::map<DeviceId, std::unique_ptr<Device>> devices;
    DeviceId next = 2;
};

const interpose::Next<void()> sdl_set_error("SDL_SetError");

// SDL_GetError's answer, as the program's SDL sets it (it is variadic).
void set_error(const std::string& text)
{
    if (const auto function = reinterpret_cast<int (*)(const char*, ...)>(sdl_set_error.get()))
        function("%s", text.c_str());
}
// SDL 2's, where the program has it: it mixes every format SDL 2 has.
const interpose::Next<void(Uint8*, const Uint8*, Uint16, Uint32, int)> mix_audio_format(
    "SDL_MixAudioFormat");

DeviceId Devices::open(const SDL_AudioSpec* desired, SDL_AudioSpec* obtained, bool legacy,
                       bool sdl2)
{
    if (legacy && find(kLegacy)) {
        set_error("Audio device is already opened");
        return 0;
    }
    if (!desired || (!sdl2 && !desired->callback)) {
        set_error("SDL_OpenAudio() passed a NULL callback");
        return 0;
    }
    SDL_AudioSpec want = *desired;
    if (want.freq == 0)
        want.freq = 22050;
    if (want.format == 0 && sdl2)
        want.format = AUDIO_S16LSB;
    if (want.channels == 0)
        want.channels = 2;
    if (want.samples == 0) {
        // SDL 2 sizes the buffer near 46 ms, a power of two; SDL 1.2 takes 4096.
        want.samples = 4096;
        if (sdl2) {
            want.samples = 1;
            while (want.samples < static_cast<unsigned>(want.freq / 1000 * 46) &&
                   want.samples < 32768)
                want.samples = static_cast<Uint16>(want.samples * 2);
        }
    }
    const bool channels_known =
        sdl2 ? want.channels >= 1 && want.channels <= 8
             : want.channels == 1 || want.channels == 2 || want.channels == 4 || want.channels == 6;
    if (!known_format(want.format, sdl2) || !channels_known) {
        set_error("Unsupported audio format");
        return 0;
    }
    // What no real device plays is refused as a device refuses it.
    if (riglib::rate_refused(want.freq)) {
        set_error("Unsupported audio frequency: " + std::to_string(want.freq) +
                  " Hz (the recording takes 8000 to 192000)");
        return 0;
    }
    want.silence = want.format == AUDIO_U8 ? 0x80 : 0;
    want.size =
        static_cast<Uint32>(want.samples) * want.channels * riglib::sample_bytes(want.format);
    if (obtained)
        *obtained = want;

    auto device = std::make_unique<Device>(want);
    Device* source = device.get();
    DeviceId id;
    {
        const std::lock_guard<std::mutex> hold(lock);
        id = legacy ? kLegacy : next++;
        devices[id] = std::move(device);
    }
    riglib::add_source(source);
    return id;
}

void Devices::close(DeviceId id)
{
    std::unique_ptr<Device> closing;
    {
        const std::lock_guard<std::mutex> hold(lock);
        const auto found = devices.find(id);
        if (found == devices.end())
            return;
        closing = std::move(found->second);
        devices.erase(found);
    }
    // Once the track has let go of it, no callback of it runs.
    riglib::remove_source(closing.get());
}

Devices& devices()
{
    static Devices instance;
    return instance;
}

// SDL_MixAudio in SDL 1.2's formats: the volume scales the source (128 is
// unchanged), the sum is clipped to the sample range.
void mix(Uint8* dst, const Uint8* src, Uint32 len, int volume, Uint16 format)
{
    if (volume == 0)
        return;
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

const interpose::Next<int(SDL_AudioSpec*, SDL_AudioSpec*)> real_open_audio("SDL_OpenAudio");
const interpose::Next<void(int)> real_pause_audio("SDL_PauseAudio");
const interpose::Next<SDL_audiostatus()> real_get_audio_status("SDL_GetAudioStatus");
const interpose::Next<void()> real_lock_audio("SDL_LockAudio");
const interpose::Next<void()> real_unlock_audio("SDL_UnlockAudio");
const interpose::Next<void()> real_close_audio("SDL_CloseAudio");
const interpose::Next<void(Uint8*, const Uint8*, Uint32, int)> real_mix_audio("SDL_MixAudio");

const interpose::Next<DeviceId(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int)>
    real_open_device("SDL_OpenAudioDevice");
const interpose::Next<void(DeviceId, int)> real_pause_device("SDL_PauseAudioDevice");
const interpose::Next<SDL_audiostatus(DeviceId)> real_device_status("SDL_GetAudioDeviceStatus");
const interpose::Next<void(DeviceId)> real_lock_device("SDL_LockAudioDevice");
const interpose::Next<void(DeviceId)> real_unlock_device("SDL_UnlockAudioDevice");
const interpose::Next<void(DeviceId)> real_close_device("SDL_CloseAudioDevice");
const interpose::Next<int(DeviceId, const void*, Uint32)> real_queue("SDL_QueueAudio");
const interpose::Next<Uint32(DeviceId)> real_queued_size("SDL_GetQueuedAudioSize");
const interpose::Next<void(DeviceId)> real_clear_queued("SDL_ClearQueuedAudio");

// Whether the program is on SDL 2 (the legacy names mean its device 1 then).
bool on_sdl2()
{
    return real_open_device.get() != nullptr;
}

SDL_audiostatus status_of(Device* device)
{
    if (!device)
        return SDL_AUDIO_STOPPED;
    return device->is_paused() ? SDL_AUDIO_PAUSED : SDL_AUDIO_PLAYING;
}

}  // namespace

// Without RIG_AUDIO every call goes to the real SDL; so does every call about
// a device the rig did not open (SDL 2's recording devices).
extern "C" {

int SDL_OpenAudio(SDL_AudioSpec* desired, SDL_AudioSpec* obtained)
{
    if (!riglib::sound_taken_over())
        return riglib::required(real_open_audio)(desired, obtained);
    return devices().open(desired, obtained, true, on_sdl2()) ? 0 : -1;
}

void SDL_PauseAudio(int pause_on)
{
    if (!riglib::sound_taken_over())
        return riglib::required(real_pause_audio)(pause_on);
    if (Device* device = devices().find(kLegacy))
        device->pause(pause_on != 0);
}

SDL_audiostatus SDL_GetAudioStatus(void)
{
    if (!riglib::sound_taken_over())
        return riglib::required(real_get_audio_status)();
    return status_of(devices().find(kLegacy));
}

void SDL_LockAudio(void)
{
    if (!riglib::sound_taken_over())
        return riglib::required(real_lock_audio)();
    if (Device* device = devices().find(kLegacy))
        device->lock.lock();
}

void SDL_UnlockAudio(void)
{
    if (!riglib::sound_taken_over())
        return riglib::required(real_unlock_audio)();
    if (Device* device = devices().find(kLegacy))
        device->lock.unlock();
}

void SDL_CloseAudio(void)
{
    if (!riglib::sound_taken_over())
        return riglib::required(real_close_audio)();
    devices().close(kLegacy);
}

// SDL mixes in the open device's format; with no real device open it would
// guess, so the rig mixes in its device's.
void SDL_MixAudio(Uint8* dst, const Uint8* src, Uint32 len, int volume)
{
    Device* device = riglib::sound_taken_over() ? devices().find(kLegacy) : nullptr;
    if (!device)
        return riglib::required(real_mix_audio)(dst, src, len, volume);
    const Uint16 format = device->settings().format;
    if (mix_audio_format.get())
        return mix_audio_format(dst, src, format, len, volume);
    mix(dst, src, len, volume, format);
}

DeviceId SDL_OpenAudioDevice(const char* name, int iscapture, const SDL_AudioSpec* desired,
                             SDL_AudioSpec* obtained, int allowed_changes)
{
    if (!riglib::sound_taken_over() || iscapture)
        return riglib::required(real_open_device)(name, iscapture, desired, obtained,
                                                  allowed_changes);
    // Every format SDL 2 has is played as asked: there is nothing to change.
    return devices().open(desired, obtained, false, true);
}

void SDL_PauseAudioDevice(DeviceId id, int pause_on)
{
    if (Device* device = riglib::sound_taken_over() ? devices().find(id) : nullptr)
        return device->pause(pause_on != 0);
    riglib::required(real_pause_device)(id, pause_on);
}

SDL_audiostatus SDL_GetAudioDeviceStatus(DeviceId id)
{
    if (Device* device = riglib::sound_taken_over() ? devices().find(id) : nullptr)
        return status_of(device);
    return riglib::required(real_device_status)(id);
}

void SDL_LockAudioDevice(DeviceId id)
{
    if (Device* device = riglib::sound_taken_over() ? devices().find(id) : nullptr)
        return device->lock.lock();
    riglib::required(real_lock_device)(id);
}

void SDL_UnlockAudioDevice(DeviceId id)
{
    if (Device* device = riglib::sound_taken_over() ? devices().find(id) : nullptr)
        return device->lock.unlock();
    riglib::required(real_unlock_device)(id);
}

void SDL_CloseAudioDevice(DeviceId id)
{
    if (riglib::sound_taken_over() && devices().find(id))
        return devices().close(id);
    riglib::required(real_close_device)(id);
}

int SDL_QueueAudio(DeviceId id, const void* data, Uint32 len)
{
    Device* device = riglib::sound_taken_over() ? devices().find(id) : nullptr;
    if (!device)
        return riglib::required(real_queue)(id, data, len);
    if (device->settings().callback) {
        set_error("Audio device has a callback, queueing not allowed");
        return -1;
    }
    device->enqueue(data, len);
    return 0;
}

Uint32 SDL_GetQueuedAudioSize(DeviceId id)
{
    if (Device* device = riglib::sound_taken_over() ? devices().find(id) : nullptr)
        return device->queued();
    return riglib::required(real_queued_size)(id);
}

void SDL_ClearQueuedAudio(DeviceId id)
{
    if (Device* device = riglib::sound_taken_over() ? devices().find(id) : nullptr)
        return device->clear();
    riglib::required(real_clear_queued)(id);
}

}  // extern "C"
