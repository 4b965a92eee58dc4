// The SDL 2 tone program for the capture tests: tone.h's picture and tone,
// played through a callback device or through a queued one that its frame
// loop tops up, as games do. Arguments choose the format, and a second device
// at another rate, which plays the same into the mix.
//
//   capture_tone_sdl2 callback|queue [FORMAT CHANNELS RATE [RATE2]]
//
// FORMAT is one of tone::kFormats (default s16, mono, tone::kRate). A device
// that cannot be opened is said on stderr, and the picture goes on without it.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tone_window.h"

namespace {

struct Player {
    SDL_AudioSpec audio{};
    SDL_AudioDeviceID id = 0;
    uint64_t played = 0;  // sample frames handed to SDL

    void fill(Uint8* stream, int len)
    {
        const int step = SDL_AUDIO_BITSIZE(audio.format) / 8;
        for (int at = 0; at < len; ++played)
            for (int c = 0; c < audio.channels; ++c, at += step)
                tone::put(audio.format, played, c, stream + at);
    }
    // A fifth of a second ahead, more than any frame takes.
    void top_up()
    {
        const Uint32 frame_bytes = audio.channels * SDL_AUDIO_BITSIZE(audio.format) / 8;
        std::vector<Uint8> chunk(1024 * frame_bytes);
        while (SDL_GetQueuedAudioSize(id) < Uint32(audio.freq / 5) * frame_bytes) {
            fill(chunk.data(), int(chunk.size()));
            SDL_QueueAudio(id, chunk.data(), Uint32(chunk.size()));
        }
    }
};

void callback(void* player, Uint8* stream, int len)
{
    static_cast<Player*>(player)->fill(stream, len);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool queued = argc > 1 && std::strcmp(argv[1], "queue") == 0;
    Uint16 format = AUDIO_S16LSB;
    for (const tone::Format& known : tone::kFormats)
        if (argc > 2 && std::strcmp(argv[2], known.name) == 0)
            format = known.code;
    const int channels = argc > 3 ? std::atoi(argv[3]) : 1;
    std::vector<int> rates{argc > 4 ? std::atoi(argv[4]) : tone::kRate};
    if (argc > 5)
        rates.push_back(std::atoi(argv[5]));

    SDL_Window* window = tone::open_window("capture_tone_sdl2");
    if (!window)
        return 1;
    std::vector<Player> players(rates.size());
    for (size_t i = 0; i < rates.size(); ++i) {
        Player& player = players[i];
        SDL_AudioSpec want{};
        want.freq = rates[i];
        want.format = format;
        want.channels = Uint8(channels);
        want.samples = 512;
        want.callback = queued ? nullptr : callback;
        want.userdata = &player;
        player.id = SDL_OpenAudioDevice(nullptr, 0, &want, &player.audio, 0);
        if (!player.id) {
            std::fprintf(stderr, "capture_tone_sdl2: no sound at %d Hz: %s\n", rates[i],
                         SDL_GetError());
            continue;
        }
        if (queued)
            player.top_up();
        SDL_PauseAudioDevice(player.id, 0);
    }
    tone::draw_until_quit(window, [&] {
        for (Player& player : players)
            if (queued && player.id)
                player.top_up();
    });
    for (Player& player : players)
        if (player.id)
            SDL_CloseAudioDevice(player.id);
    SDL_Quit();
    return 0;
}
