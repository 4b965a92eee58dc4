// A small SDL 1.2 OpenGL program for the capture tests: it paints every frame in
// a colour taken from SDL_GetTicks and plays, from its audio callback, a tone
// whose pitch steps with every second of samples played (tone.h).
//
//   capture_tone          until a quit event
//   capture_tone exit     ends at once, drawing nothing
//   capture_tone silent   draws, but opens no audio device
//   capture_tone nogl     a window without OpenGL, until a quit event
//   capture_tone noglswap the same, calling SDL_GL_SwapBuffers every frame
//   capture_tone system   runs system("true") in every second's first frame
//   capture_tone abort    crashes (abort) in the first frame at 2 s
//   capture_tone fail     ends with status 3 after the quit event
//   capture_tone resize   its window twice as wide from 1 s on
#include <GL/gl.h>
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tone.h"

namespace {

uint64_t played = 0;  // samples handed to SDL; guarded by the audio lock

void fill(void*, Uint8* stream, int len)
{
    auto* out = reinterpret_cast<int16_t*>(stream);
    for (int i = 0; i < len / 2; ++i)
        out[i] = tone::sample(played++);
}

bool quit_requested()
{
    SDL_Event event;
    bool quit = false;
    while (SDL_PollEvent(&event))
        quit = quit || event.type == SDL_QUIT;
    return quit;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "exit") == 0)
        return 0;
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO | SDL_INIT_NOPARACHUTE) != 0) {
        std::fprintf(stderr, "capture_tone: %s\n", SDL_GetError());
        return 1;
    }
    if (std::strcmp(mode, "nogl") == 0 || std::strcmp(mode, "noglswap") == 0) {
        SDL_Surface* screen = SDL_SetVideoMode(160, 120, 32, SDL_SWSURFACE);
        while (screen && !quit_requested()) {
            SDL_Flip(screen);
            if (std::strcmp(mode, "noglswap") == 0)
                SDL_GL_SwapBuffers();
            SDL_Delay(10);
        }
        SDL_Quit();
        return 0;
    }
    if (!SDL_SetVideoMode(tone::kWidth, tone::kHeight, 32, SDL_OPENGL)) {
        std::fprintf(stderr, "capture_tone: %s\n", SDL_GetError());
        return 1;
    }
    // No obtained SDL_AudioSpec: SDL must deliver this format, whatever the device's.
    const bool sound = std::strcmp(mode, "silent") != 0;
    SDL_AudioSpec want;
    std::memset(&want, 0, sizeof want);
    want.freq = tone::kRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 512;
    want.callback = fill;
    if (sound && SDL_OpenAudio(&want, nullptr) != 0) {
        std::fprintf(stderr, "capture_tone: %s\n", SDL_GetError());
        return 1;
    }
    if (sound)
        SDL_PauseAudio(0);

    unsigned last_second = ~0u;
    while (!quit_requested()) {
        const unsigned second = SDL_GetTicks() / 1000;
        if (second != last_second && std::strcmp(mode, "system") == 0 && std::system("true") != 0)
            return 1;
        if (second == 2 && std::strcmp(mode, "abort") == 0)
            std::abort();
        if (second == 1 && last_second == 0 && std::strcmp(mode, "resize") == 0 &&
            !SDL_SetVideoMode(2 * tone::kWidth, tone::kHeight, 32, SDL_OPENGL))
            return 1;
        last_second = second;
        glClearColor(tone::red(second) / 255.0f, tone::kGreen / 255.0f, tone::kBlue / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapBuffers();
    }
    SDL_LockAudio();
    const uint64_t total = played;
    SDL_UnlockAudio();
    if (sound)
        SDL_CloseAudio();
    std::printf("played %llu samples\n", static_cast<unsigned long long>(total));
    SDL_Quit();
    return std::strcmp(mode, "fail") == 0 ? 3 : 0;
}
