// The rig's sound track (RIG_AUDIO): every device the program plays through
// (SDL's in audio.cpp, OpenAL's in openal.cpp) pulled for exactly frame K's
// clock interval once it is over, mixed into one track at the first device's
// format, and handed to the recording (rig.cpp) frame by frame. Also what the
// log says about sound, and the sound that goes around the rig (straight to
// ALSA or PulseAudio). The contract is in rig.h.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "parts.h"

namespace {

using riglib::sample_bytes;
using riglib::SoundFormat;

// A sample of any of SDL's formats as a value in [-1, 1), and back in the
// track's (u8, s16, s32 or f32, little-endian), clipped to its range: exact
// both ways for a track of the source's own format.
double decode(const unsigned char* at, uint16_t format)
{
    const int bytes = sample_bytes(format);
    const bool big = format & 0x1000, is_signed = format & 0x8000;
    uint32_t raw = 0;
    for (int i = 0; i < bytes; ++i)
        raw |= static_cast<uint32_t>(at[big ? i : bytes - 1 - i]) << (8 * (bytes - 1 - i));
    if (format & 0x0100) {
        float value;
        std::memcpy(&value, &raw, 4);
        return value;
    }
    const double range = std::ldexp(1.0, bytes * 8 - 1);
    if (!is_signed)
        return (static_cast<double>(raw) - range) / range;
    const uint32_t sign = 1u << (bytes * 8 - 1);
    return (static_cast<double>(raw ^ sign) - range) / range;
}

void encode(double value, uint16_t format, unsigned char* at)
{
    const int bytes = sample_bytes(format);
    uint32_t raw;
    if (format & 0x0100) {
        const float single = static_cast<float>(value);
        std::memcpy(&raw, &single, 4);
    } else {
        const double range = std::ldexp(1.0, bytes * 8 - 1);
        const double scaled = std::clamp(std::round(value * range), -range, range - 1);
        const int64_t whole = static_cast<int64_t>(scaled);
        raw = static_cast<uint32_t>(format & 0x8000 ? whole : whole + static_cast<int64_t>(range));
    }
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(raw >> (8 * i));
}

const char* type_name(uint16_t format)
{
    return format == 0x0008 ? "u8" : format == 0x8010 ? "s16" : format == 0x8020 ? "s32" : "f32";
}

// What a source becomes in the track: its frames in the track's channels and
// (one sample late, for the interpolation) at the track's rate.
struct Feed {
    std::vector<double> history;  // sample frames from `start`, in the track's channels
    uint64_t start = 0;
    bool started = false;
};

class Track {
public:
    void at_load();
    bool taken_over() const { return active && riglib::role() != riglib::Role::bystander; }
    SoundFormat format()
    {
        const std::lock_guard<std::recursive_mutex> hold(lock);
        return track;
    }
    void add(riglib::SoundSource* source);
    void remove(riglib::SoundSource* source);
    void note(const std::string& line);
    void ready();
    void after_frame(uint64_t frame);

private:
    bool active = false;
    schedule::Rate rate;
    std::recursive_mutex lock;  // sources come and go on any thread
    SoundFormat track;
    bool said_format = false;
    std::vector<riglib::SoundSource*> sources;
    std::map<riglib::SoundSource*, Feed> feeds;
    std::set<std::string> said;
    std::vector<std::string> unsaid;
    uint64_t next_frame = 0;  // the first frame whose sound is not yet handed on
    std::vector<unsigned char> rendered, out;
    std::vector<double> mix, mapped;

    void fix(const SoundFormat& first);
    void say_what_waits();
    uint64_t boundary(uint64_t frame, int at_rate) const
    {
        return rate.at(frame, static_cast<uint64_t>(at_rate));
    }
    void add_from(riglib::SoundSource* source, uint64_t frame, size_t count);
    void hand_on(uint64_t frame, bool played);
};

void Track::at_load()
{
    if (!riglib::setting("RIG_AUDIO"))
        return;
    rate = riglib::frame_rate();
    if (rate.num == 0)
        riglib::fail("RIG_AUDIO: needs RIG_FPS (the sound follows a frame rate)");
    active = true;
}

// The track takes the first device's rate and channels, and the sample type
// a file holds best for its format.
void Track::fix(const SoundFormat& first)
{
    if (track.rate)
        return;
    track = first;
    const int bits = first.format & 0xFF;
    track.format = (first.format & 0x0100) ? 0x8120
                   : bits == 8             ? 0x0008
                   : bits == 16            ? 0x8010
                                           : 0x8020;
}

void Track::add(riglib::SoundSource* source)
{
    const std::lock_guard<std::recursive_mutex> hold(lock);
    fix(source->format());
    if (std::find(sources.begin(), sources.end(), source) == sources.end())
        sources.push_back(source);
    feeds.erase(source);
    const int from = source->format().rate;
    if (from != track.rate)
        note("sound resampled " + std::to_string(from) + " " + std::to_string(track.rate));
}

void Track::remove(riglib::SoundSource* source)
{
    const std::lock_guard<std::recursive_mutex> hold(lock);
    sources.erase(std::remove(sources.begin(), sources.end(), source), sources.end());
    feeds.erase(source);
}

// Lines are said once each, and kept while this process has no log open yet.
void Track::note(const std::string& line)
{
    const std::lock_guard<std::recursive_mutex> hold(lock);
    if (!said.insert(line).second)
        return;
    unsaid.push_back(line);
    say_what_waits();
}

void Track::say_what_waits()
{
    if (riglib::role() != riglib::Role::recorder || !riglib::logging())
        return;
    if (track.rate && !said_format) {
        said_format = true;
        riglib::log_line("sound " + std::to_string(track.rate) + " " +
                         std::to_string(track.channels) + " " + type_name(track.format));
    }
    for (const std::string& line : unsaid)
        riglib::log_line(line);
    unsaid.clear();
}

// A stream's reader learns the track's format before the first picture, so a
// program with no device by then gets a silent track at a usual format.
void Track::ready()
{
    if (!taken_over())
        return;
    const std::lock_guard<std::recursive_mutex> hold(lock);
    fix({44100, 2, 0x8010});
    say_what_waits();
    // The frames before it had no track: silence.
    for (; next_frame < riglib::frame(); ++next_frame)
        hand_on(next_frame, false);
}

// Frame `frame` of one source, added into `mix` (the track's frame at its rate).
void Track::add_from(riglib::SoundSource* source, uint64_t frame, size_t count)
{
    const SoundFormat from = source->format();
    const uint64_t first = boundary(frame, from.rate), end = boundary(frame + 1, from.rate);
    const size_t frame_bytes = static_cast<size_t>(from.channels) * sample_bytes(from.format);
    const size_t samples = static_cast<size_t>(end - first);
    rendered.assign(samples * frame_bytes, 0);
    const bool playing = source->render(samples, rendered);
    // Channel by channel; a mono track takes the mean, a mono source feeds the
    // front pair, and channels beyond the track's are left out.
    const int channels = track.channels;
    mapped.assign(samples * static_cast<size_t>(channels), 0.0);
    for (size_t i = 0; playing && i < samples; ++i) {
        const unsigned char* in = &rendered[i * frame_bytes];
        double* to = &mapped[i * static_cast<size_t>(channels)];
        const int step = sample_bytes(from.format);
        if (channels == 1) {
            for (int c = 0; c < from.channels; ++c)
                to[0] += decode(in + c * step, from.format) / from.channels;
        } else if (from.channels == 1) {
            to[0] = to[1] = decode(in, from.format);
        } else {
            for (int c = 0; c < std::min(channels, from.channels); ++c)
                to[c] = decode(in + c * step, from.format);
        }
    }
    if (from.rate == track.rate) {
        for (size_t i = 0; i < count * channels; ++i)
            mix[i] += mapped[i];
        return;
    }
    // Another rate: linear interpolation between the source's samples, two
    // samples late, so that both lie in what has been rendered.
    Feed& feed = feeds[source];
    if (!feed.started) {
        feed.started = true;
        feed.start = first;
    }
    feed.history.insert(feed.history.end(), mapped.begin(), mapped.end());
    const uint64_t track_first = boundary(frame, track.rate);
    const uint64_t r_in = static_cast<uint64_t>(from.rate),
                   r_out = static_cast<uint64_t>(track.rate);
    uint64_t keep_from = feed.start;
    for (size_t j = 0; j < count; ++j) {
        const uint64_t position = (track_first + j) * r_in;  // in 1 / r_out samples
        if (position < 2 * r_out)
            continue;
        const uint64_t at = position - 2 * r_out;
        const uint64_t index = at / r_out;
        if (index < feed.start)
            continue;
        const double fraction = static_cast<double>(at % r_out) / static_cast<double>(r_out);
        const double* a = &feed.history[(index - feed.start) * channels];
        for (int c = 0; c < channels; ++c)
            mix[j * channels + c] += a[c] + (a[channels + c] - a[c]) * fraction;
        keep_from = index;
    }
    feed.history.erase(
        feed.history.begin(),
        feed.history.begin() + static_cast<ptrdiff_t>((keep_from - feed.start) * channels));
    feed.start = keep_from;
}

// Frame `frame` of the track to the recording: what every source played in
// it, or silence for a frame before the track began.
void Track::hand_on(uint64_t frame, bool played)
{
    const size_t count =
        static_cast<size_t>(boundary(frame + 1, track.rate) - boundary(frame, track.rate));
    mix.assign(count * static_cast<size_t>(track.channels), 0.0);
    if (played) {
        // Copied: a callback may close its device, or open another.
        const std::vector<riglib::SoundSource*> now = sources;
        for (riglib::SoundSource* source : now)
            add_from(source, frame, count);
    }
    const int bytes = sample_bytes(track.format);
    out.resize(mix.size() * static_cast<size_t>(bytes));
    for (size_t i = 0; i < mix.size(); ++i)
        encode(mix[i], track.format, &out[i * bytes]);
    riglib::record_sound(frame, out.data(), out.size());
}

void Track::after_frame(uint64_t frame)
{
    if (!taken_over() || riglib::past_end(frame))
        return;
    const std::lock_guard<std::recursive_mutex> hold(lock);
    say_what_waits();
    if (!track.rate)
        return;  // nothing plays yet: silence, once something does
    for (; next_frame < frame; ++next_frame)
        hand_on(next_frame, false);
    hand_on(frame, true);
    next_frame = frame + 1;
}

Track& track()
{
    static Track instance;
    return instance;
}

}  // namespace

void riglib::sound_at_load()
{
    track().at_load();
}

bool riglib::sound_taken_over()
{
    return track().taken_over();
}

riglib::SoundFormat riglib::track_format()
{
    return track().format();
}

bool riglib::rate_refused(int rate)
{
    if (rate >= kLowestRate && rate <= kHighestRate)
        return false;
    sound_note("sound refused " + std::to_string(rate));
    return true;
}

void riglib::add_source(SoundSource* source)
{
    track().add(source);
}

void riglib::remove_source(SoundSource* source)
{
    track().remove(source);
}

void riglib::sound_note(const std::string& line)
{
    track().note(line);
}

void riglib::sound_ready()
{
    track().ready();
}

void riglib::sound_after_frame(uint64_t frame)
{
    track().after_frame(frame);
}

// ---- sound that goes around the rig ------------------------------------------------------

// Played straight to the system's sound (not through SDL or OpenAL, whose own
// use of these goes through their own look-ups and does not come here): not
// recorded, and said once.
namespace {

const interpose::Next<int(void**, const char*, int, int)> real_pcm_open("snd_pcm_open");
const interpose::Next<void*(const char*, const char*, int, const char*, const char*, const void*,
                            const void*, const void*, int*)>
    real_simple_new("pa_simple_new");
const interpose::Next<int(void*, const char*, int, const void*)> real_context_connect(
    "pa_context_connect");

void played_elsewhere(const char* where)
{
    if (riglib::sound_taken_over())
        riglib::sound_note(std::string("sound elsewhere ") + where);
}

}  // namespace

extern "C" {

int snd_pcm_open(void** pcm, const char* name, int stream, int mode)
{
    if (stream == 0)  // SND_PCM_STREAM_PLAYBACK
        played_elsewhere("alsa");
    return riglib::required(real_pcm_open)(pcm, name, stream, mode);
}

void* pa_simple_new(const char* server, const char* name, int direction, const char* device,
                    const char* stream_name, const void* sample_spec, const void* map,
                    const void* attributes, int* error)
{
    if (direction == 1)  // PA_STREAM_PLAYBACK
        played_elsewhere("pulseaudio");
    return riglib::required(real_simple_new)(server, name, direction, device, stream_name,
                                             sample_spec, map, attributes, error);
}

int pa_context_connect(void* context, const char* server, int flags, const void* api)
{
    played_elsewhere("pulseaudio");
    return riglib::required(real_context_connect)(context, server, flags, api);
}

}  // extern "C"
