// Test-only preload, stacked after the rig: edits files between two frames the
// way an editor saves (a new file renamed over the old one), and logs each
// frame's window title. Chains SDL_GL_SwapBuffers to the next library.
//
//   SWAP_RENAMES=K:FROM:TO,...  right after swap K, before frame K+1 starts,
//                               rename FROM to TO (paths without ':' or ',')
//   SWAP_TITLES=PATH            one line per swap: "frame K title TEXT"
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

[[noreturn]] void die(const std::string& message)
{
    std::fprintf(stderr, "swap_hook: %s\n", message.c_str());
    std::_Exit(3);
}

struct Hook {
    std::vector<Rename> renames;
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
                !std::getline(fields, rename.to) || frame.empty() ||
                frame.find_first_not_of("0123456789") != std::string::npos)
                die("SWAP_RENAMES: \"" + entry + "\" is not K:FROM:TO");
            rename.frame = static_cast<unsigned>(std::stoul(frame));
            renames.push_back(rename);
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
    ++h.swaps;
}
