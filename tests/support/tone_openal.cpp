// The OpenAL tone program for the capture tests: tone.h's picture, and its
// tone in stereo (tone::put's two channels, played as they are) streamed
// through four buffers that the frame loop refills as they are played, as
// games stream their music.
//
//   capture_tone_openal [RATE]    the context's frequency and the buffers'
//                                 (default tone::kRate)
//
// A context that cannot be made is said on stderr, with OpenAL's error, and
// the picture goes on without sound.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <cstdlib>
#include <vector>

#include "tone_window.h"

namespace {

constexpr uint16_t kS16 = 0x8010;

struct Stream {
    int rate = 0;
    ALuint source = 0;
    ALuint buffers[4] = {};
    uint64_t played = 0;  // sample frames handed to OpenAL

    // A tenth of a second each, so that four last longer than any frame.
    void fill(ALuint buffer)
    {
        std::vector<unsigned char> data(size_t(rate / 10) * 4);
        for (size_t at = 0; at < data.size(); at += 4, ++played)
            for (int c = 0; c < 2; ++c)
                tone::put(kS16, played, c, &data[at + 2 * c]);
        alBufferData(buffer, AL_FORMAT_STEREO16, data.data(), ALsizei(data.size()), rate);
        alSourceQueueBuffers(source, 1, &buffer);
    }
    void start()
    {
        alGenSources(1, &source);
        // Left and right as they are, not placed around the listener.
        alSourcei(source, AL_DIRECT_CHANNELS_SOFT, AL_TRUE);
        alGenBuffers(4, buffers);
        for (ALuint buffer : buffers)
            fill(buffer);
        alSourcePlay(source);
    }
    void refill()
    {
        ALint processed = 0, state = 0;
        alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
        for (; processed > 0; --processed) {
            ALuint buffer;
            alSourceUnqueueBuffers(source, 1, &buffer);
            fill(buffer);
        }
        alGetSourcei(source, AL_SOURCE_STATE, &state);
        if (state != AL_PLAYING)
            alSourcePlay(source);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    Stream stream;
    stream.rate = argc > 1 ? std::atoi(argv[1]) : tone::kRate;
    SDL_Window* window = tone::open_window("capture_tone_openal");
    if (!window)
        return 1;
    ALCdevice* device = alcOpenDevice(nullptr);
    const ALCint attributes[] = {ALC_FREQUENCY, stream.rate, 0};
    ALCcontext* context = device ? alcCreateContext(device, attributes) : nullptr;
    if (context && alcMakeContextCurrent(context)) {
        stream.start();
    } else {
        std::fprintf(stderr, "capture_tone_openal: no sound at %d Hz: ALC error 0x%x\n",
                     stream.rate, unsigned(alcGetError(device)));
        context = nullptr;
    }
    tone::draw_until_quit(window, [&] {
        if (context)
            stream.refill();
    });
    if (context) {
        alDeleteSources(1, &stream.source);
        alDeleteBuffers(4, stream.buffers);
        alcMakeContextCurrent(nullptr);
        alcDestroyContext(context);
    }
    if (device)
        alcCloseDevice(device);
    SDL_Quit();
    return 0;
}
