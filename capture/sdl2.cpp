// The rig's SDL 2 part: the recorded window's swap (SDL_GL_SwapWindow) and the
// scripted input pushed into SDL 2's queue. The names SDL 1.2 and SDL 2 share
// (SDL_GetTicks, SDL_PollEvent, SDL_Delay) are defined once, in clock.cpp and
// events.cpp; this unit holds what is SDL 2's alone. The contract is in rig.h.
#include <SDL2/SDL.h>

#include <cstring>

#include "parts.h"

namespace {

const interpose::Next<void(SDL_Window*)> real_swap_window("SDL_GL_SwapWindow");
const interpose::Next<Uint32(SDL_Window*)> window_flags("SDL_GetWindowFlags");
const interpose::Next<SDL_GLContext()> current_context("SDL_GL_GetCurrentContext");
const interpose::Next<SDL_Window*()> current_window("SDL_GL_GetCurrentWindow");
const interpose::Next<void(SDL_Window*, int*, int*)> drawable_size("SDL_GL_GetDrawableSize");
const interpose::Next<Uint32(SDL_Window*)> window_id("SDL_GetWindowID");
const interpose::Next<int(SDL_Event*)> push_event("SDL_PushEvent");

SDL_Window* addressed = nullptr;  // the recorded window, which scripted input is for

void size_of(const void* window, void*, int* width, int* height)
{
    drawable_size(static_cast<SDL_Window*>(const_cast<void*>(window)), width, height);
}

// SDL 2 takes the ASCII keys' codes as SDL 1.2 does and names the others
// apart; its scan codes run a to z, then 1 to 9 and 0.
SDL_Keysym sdl2_key(char key)
{
    static const struct {
        char key;
        SDL_Keycode sym;
        SDL_Scancode scancode;
    } named[] = {
        {riglib::key_escape, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE},
        {riglib::key_left, SDLK_LEFT, SDL_SCANCODE_LEFT},
        {riglib::key_right, SDLK_RIGHT, SDL_SCANCODE_RIGHT},
        {riglib::key_home, SDLK_HOME, SDL_SCANCODE_HOME},
        {' ', SDLK_SPACE, SDL_SCANCODE_SPACE},
        {'.', SDLK_PERIOD, SDL_SCANCODE_PERIOD},
        {'0', SDLK_0, SDL_SCANCODE_0},
    };
    SDL_Keysym keysym{};
    keysym.sym = key;
    keysym.scancode = key >= 'a' ? static_cast<SDL_Scancode>(SDL_SCANCODE_A + (key - 'a'))
                                 : static_cast<SDL_Scancode>(SDL_SCANCODE_1 + (key - '1'));
    for (const auto& entry : named)
        if (entry.key == key) {
            keysym.sym = entry.sym;
            keysym.scancode = entry.scancode;
        }
    return keysym;
}

}  // namespace

bool riglib::sdl2_push(Input input, char key)
{
    if (!push_event.get())
        return false;
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    const Uint32 window = addressed ? window_id(addressed) : 0;
    switch (input) {
    case Input::key_down:
    case Input::key_up:
        event.type = input == Input::key_down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.state = input == Input::key_down ? SDL_PRESSED : SDL_RELEASED;
        event.key.windowID = window;
        event.key.keysym = sdl2_key(key);
        break;
    case Input::mouse:
        event.type = SDL_MOUSEMOTION;
        event.motion.windowID = window;
        event.motion.x = 640;
        event.motion.y = 360;
        break;
    case Input::expose:
        event.type = SDL_WINDOWEVENT;
        event.window.windowID = window;
        event.window.event = SDL_WINDOWEVENT_EXPOSED;
        break;
    case Input::quit:
        event.type = SDL_QUIT;
        break;
    }
    // 0: the program's filter dropped it, which is the program's to decide.
    return push_event(&event) >= 0;
}

extern "C" void SDL_GL_SwapWindow(SDL_Window* window)
{
    const bool opengl = window && (window_flags(window) & SDL_WINDOW_OPENGL) && current_context() &&
                        current_window() == window;
    const riglib::Swap swap(riglib::Kind::sdl2, window, opengl, size_of);
    if (swap.ends() && !addressed)
        addressed = window;
    riglib::required(real_swap_window)(window);
}
