// The rig's OpenAL playback devices (RIG_AUDIO): each one the program opens is
// OpenAL Soft's loopback device instead (ALC_SOFT_loopback), a source of the
// rig's sound track (sound.cpp) that renders exactly a frame's clock interval
// when the track pulls it. No real device is opened, so OpenAL's own mixer
// plays nowhere. The rig does not link OpenAL: every function is the
// program's, found by name. Capture devices stay real. The contract is in
// rig.h; this unit shares nothing but parts.h.
#include <AL/alc.h>
#include <AL/alext.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "parts.h"

namespace {

const interpose::Next<ALCdevice*(const ALCchar*)> real_open_device("alcOpenDevice");
const interpose::Next<ALCcontext*(ALCdevice*, const ALCint*)> real_create_context(
    "alcCreateContext");
const interpose::Next<ALCboolean(ALCdevice*)> real_close_device("alcCloseDevice");
const interpose::Next<void*(ALCdevice*, const ALCchar*)> real_get_proc_address("alcGetProcAddress");

constexpr int kDefaultRate = 48000;
constexpr uint16_t kFloat32 = 0x8120, kInt16 = 0x8010;  // as SDL names them (parts.h)

// The loopback extension's functions, from the program's OpenAL.
struct Loopback {
    LPALCLOOPBACKOPENDEVICESOFT open = nullptr;
    LPALCISRENDERFORMATSUPPORTEDSOFT supported = nullptr;
    LPALCRENDERSAMPLESSOFT render = nullptr;
};

const Loopback& loopback()
{
    static const Loopback functions = [] {
        Loopback found;
        const auto get = riglib::required(real_get_proc_address);
        found.open = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
            get(nullptr, "alcLoopbackOpenDeviceSOFT"));
        found.supported = reinterpret_cast<LPALCISRENDERFORMATSUPPORTEDSOFT>(
            get(nullptr, "alcIsRenderFormatSupportedSOFT"));
        found.render =
            reinterpret_cast<LPALCRENDERSAMPLESSOFT>(get(nullptr, "alcRenderSamplesSOFT"));
        if (!found.open || !found.supported || !found.render)
            found = Loopback{};
        return found;
    }();
    return functions;
}

// One playback device the program opened, rendered by the track's pull once
// a context has given it a format.
class Device : public riglib::SoundSource {
public:
    explicit Device(ALCdevice* device) : device_(device) {}

    riglib::SoundFormat format() const override { return format_; }
    bool render(size_t samples, std::vector<unsigned char>& out) override
    {
        loopback().render(device_, out.data(), static_cast<ALCsizei>(samples));
        return true;
    }

    // A context was made with this format: the track pulls the device at it.
    void playing_at(const riglib::SoundFormat& format)
    {
        if (playing_)
            riglib::remove_source(this);
        format_ = format;
        playing_ = true;
        riglib::add_source(this);
    }
    void stop()
    {
        if (playing_)
            riglib::remove_source(this);
        playing_ = false;
    }

private:
    ALCdevice* device_;
    riglib::SoundFormat format_;
    bool playing_ = false;
};

std::mutex devices_lock;
std::map<ALCdevice*, std::unique_ptr<Device>>& devices()
{
    static std::map<ALCdevice*, std::unique_ptr<Device>> open;
    return open;
}

Device* find(ALCdevice* device)
{
    const std::lock_guard<std::mutex> hold(devices_lock);
    const auto found = devices().find(device);
    return found == devices().end() ? nullptr : found->second.get();
}

}  // namespace

// Without RIG_AUDIO, and for devices the rig did not open, every call goes to
// the program's OpenAL.
extern "C" {

ALCdevice* alcOpenDevice(const ALCchar* name)
{
    if (!riglib::sound_taken_over())
        return riglib::required(real_open_device)(name);
    if (!loopback().open) {
        // An OpenAL without loopback plays only to a real device.
        riglib::sound_note("sound elsewhere openal");
        return riglib::required(real_open_device)(name);
    }
    ALCdevice* device = loopback().open(nullptr);
    if (device) {
        const std::lock_guard<std::mutex> hold(devices_lock);
        devices()[device] = std::make_unique<Device>(device);
    }
    return device;
}

// A loopback context needs its format among the attributes: the program's
// own attributes are kept, with its frequency (48000 Hz when it gave none) in
// stereo at a sample type the track holds, floats where OpenAL renders them
// (its 16-bit output is dithered).
ALCcontext* alcCreateContext(ALCdevice* device, const ALCint* attributes)
{
    Device* source = riglib::sound_taken_over() ? find(device) : nullptr;
    if (!source)
        return riglib::required(real_create_context)(device, attributes);
    riglib::SoundFormat format{kDefaultRate, 2, kFloat32};
    std::vector<ALCint> given;
    for (const ALCint* at = attributes; at && at[0]; at += 2) {
        if (at[0] == ALC_FREQUENCY)
            format.rate = at[1];
        else if (at[0] != ALC_FORMAT_CHANNELS_SOFT && at[0] != ALC_FORMAT_TYPE_SOFT)
            given.insert(given.end(), {at[0], at[1]});
    }
    // What no real device plays is refused as a device refuses it: an invalid
    // frequency, which OpenAL itself answers with ALC_INVALID_VALUE.
    const bool refused = riglib::rate_refused(format.rate);
    if (refused || !loopback().supported(device, format.rate, ALC_STEREO_SOFT, ALC_FLOAT_SOFT))
        format.format = kInt16;
    given.insert(given.end(), {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT,
                               format.format == kFloat32 ? ALC_FLOAT_SOFT : ALC_SHORT_SOFT,
                               ALC_FREQUENCY, refused ? 0 : format.rate, 0});
    ALCcontext* context = real_create_context(device, given.data());
    if (context && !refused)
        source->playing_at(format);
    return context;
}

ALCboolean alcCloseDevice(ALCdevice* device)
{
    std::unique_ptr<Device> closing;
    if (riglib::sound_taken_over()) {
        const std::lock_guard<std::mutex> hold(devices_lock);
        const auto found = devices().find(device);
        if (found != devices().end()) {
            closing = std::move(found->second);
            devices().erase(found);
        }
    }
    // Once the track has let go of it, nothing renders it.
    if (closing)
        closing->stop();
    return riglib::required(real_close_device)(device);
}

// A program that looks the functions up by name gets the rig's too.
void* alcGetProcAddress(ALCdevice* device, const ALCchar* name)
{
    if (name && std::strcmp(name, "alcOpenDevice") == 0)
        return reinterpret_cast<void*>(&alcOpenDevice);
    if (name && std::strcmp(name, "alcCreateContext") == 0)
        return reinterpret_cast<void*>(&alcCreateContext);
    if (name && std::strcmp(name, "alcCloseDevice") == 0)
        return reinterpret_cast<void*>(&alcCloseDevice);
    return riglib::required(real_get_proc_address)(device, name);
}

}  // extern "C"
