// Test-only preload, stacked after the rig: edits files between two frames the
// way an editor saves (a new file renamed over the old one), logs each frame's
// window title, and pushes the mouse clicks and arrow keys that the rig does
// not script. Chains SDL_GL_SwapBuffers to the next library.
//
//   SWAP_RENAMES=K:FROM:TO,...  right after swap K, before frame K+1 starts,
//                               rename FROM to TO (paths without ':' or ',')
//   SWAP_TITLES=PATH            one line per swap: "frame K title TEXT"
//   SWAP_EVENTS=K:NAME[:X:Y],...
//                               right after swap K (after its renames), push
//                               onto SDL's queue: press or release (the left
//                               button at window pixel X, Y, from the top-left),
//                               move (a motion to X, Y), left or right (that
//                               arrow key's down and up)
//
// A malformed entry or a failed rename ends the process with status 3.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "interpose.h"

namespace {

struct Rename {
    unsigned frame;
    std::string from, to;
};

struct Push {
    unsigned frame;
    std::vector<SDL_Event> events;
};

[[noreturn]] void die(const std::string& message)
{
    std::fprintf(stderr, "swap_hook: %s\n", message.c_str());
    std::_Exit(3);
}

bool digits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

struct Hook {
    std::vector<Rename> renames;
    std::vector<Push> pushes;
    FILE* titles = nullptr;
    unsigned swaps = 0;

    Hook();
};

const interpose::Next<void()> real_swap("SDL_GL_SwapBuffers");

Hook::Hook()
{
    if (const char* text = std::getenv("SWAP_RENAMES")) {
        std::istringstream entries(text);
        for (std::string entry; std::getline(entries, entry, ',');) {
            std::istringstream fields(entry);
            std::string frame;
            Rename rename;
            if (!std::getline(fields, frame, ':') || !std::getline(fields, rename.from, ':') ||
                !std::getline(fields, rename.to) || !digits(frame))
                die("SWAP_RENAMES: \"" + entry + "\" is not K:FROM:TO");
            rename.frame = static_cast<unsigned>(std::stoul(frame));
            renames.push_back(rename);
        }
    }
    if (const char* text = std::getenv("SWAP_EVENTS")) {
        std::istringstream entries(text);
        for (std::string entry; std::getline(entries, entry, ',');) {
            std::istringstream fields(entry);
            std::vector<std::string> f;
            for (std::string field; std::getline(fields, field, ':');)
                f.push_back(field);
            Push push;
            const bool at = f.size() == 4;
            if ((f.size() != 2 && !at) || !digits(f[0]) || (at && (!digits(f[2]) || !digits(f[3]))))
                die("SWAP_EVENTS: \"" + entry + "\" is not K:NAME or K:NAME:X:Y");
            push.frame = static_cast<unsigned>(std::stoul(f[0]));
            SDL_Event event{};
            const Uint16 x = at ? static_cast<Uint16>(std::stoul(f[2])) : 0;
            const Uint16 y = at ? static_cast<Uint16>(std::stoul(f[3])) : 0;
            if (at && (f[1] == "press" || f[1] == "release")) {
                event.type = f[1] == "press" ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
                event.button.button = SDL_BUTTON_LEFT;
                event.button.state = f[1] == "press" ? SDL_PRESSED : SDL_RELEASED;
                event.button.x = x;
                event.button.y = y;
                push.events.push_back(event);
            } else if (at && f[1] == "move") {
                event.type = SDL_MOUSEMOTION;
                event.motion.x = x;
                event.motion.y = y;
                push.events.push_back(event);
            } else if (!at && (f[1] == "left" || f[1] == "right")) {
                event.key.keysym.sym = f[1] == "left" ? SDLK_LEFT : SDLK_RIGHT;
                event.type = SDL_KEYDOWN;
                event.key.state = SDL_PRESSED;
                push.events.push_back(event);
                event.type = SDL_KEYUP;
                event.key.state = SDL_RELEASED;
                push.events.push_back(event);
            } else {
                die("SWAP_EVENTS: unknown event \"" + entry + "\"");
            }
            pushes.push_back(push);
        }
    }
    if (const char* path = std::getenv("SWAP_TITLES")) {
        titles = std::fopen(path, "we");
        if (!titles)
            die(std::string("cannot open ") + path);
        setvbuf(titles, nullptr, _IOLBF, 0);
    }
}

// Built on first use: a preload's constructor may run before this unit's
// other globals are initialised.
Hook& hook()
{
    static Hook instance;
    return instance;
}

__attribute__((constructor)) void load()
{
    hook();
}

}  // namespace

extern "C" void SDL_GL_SwapBuffers(void)
{
    Hook& h = hook();
    real_swap();
    if (h.titles) {
        char* title = nullptr;
        SDL_WM_GetCaption(&title, nullptr);
        std::fprintf(h.titles, "frame %u title %s\n", h.swaps, title ? title : "");
    }
    for (const Rename& rename : h.renames)
        if (rename.frame == h.swaps && std::rename(rename.from.c_str(), rename.to.c_str()) != 0)
            die("cannot rename " + rename.from + " to " + rename.to);
    for (Push& push : h.pushes)
        if (push.frame == h.swaps)
            for (SDL_Event& event : push.events)
                SDL_PushEvent(&event);
    ++h.swaps;
}
