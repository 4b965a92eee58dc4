// The rig's scripted events (RIG_EVENTS), told to the program in its own
// library's terms: SDL 1.2 events handed out by SDL_PollEvent, SDL 2 events
// pushed into SDL's queue, and for programs on plain X (GLUT, GLFW, Xlib) the
// window manager's close request. The contract is in rig.h.
#include <SDL.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "parts.h"
#include "schedule.h"

namespace {

using riglib::Input;

struct Scripted {
    uint64_t frame;
    Input input;
    char key;          // riglib::key_escape, an ASCII code, or another key_ name
    std::string name;  // as the log names it
};

// In frame order, stable; filled at load. (A function's static: the load-time
// set-up may run before this unit's own globals are constructed.)
std::vector<Scripted>& scripted_events()
{
    static std::vector<Scripted> list;
    return list;
}
size_t next_event = 0;  // guarded by `handing`
std::mutex handing;
std::atomic<riglib::Kind> kind{riglib::Kind::unknown};

// The window a close request goes to: the first that asked for one.
Display* close_display = nullptr;
Window close_window = 0;

void add(uint64_t frame, const std::string& name)
{
    if (name == "escape" || name == "escape-down")
        scripted_events().push_back({frame, Input::key_down, 0, "escape-down"});
    if (name == "escape" || name == "escape-up")
        scripted_events().push_back({frame, Input::key_up, 0, "escape-up"});
    // key-a to key-z, key-0 to key-9, and the keys named below.
    static const struct {
        const char* name;
        char key;
    } named[] = {{"space", ' '},
                 {"period", '.'},
                 {"left", riglib::key_left},
                 {"right", riglib::key_right},
                 {"home", riglib::key_home}};
    const std::string key = name.rfind("key-", 0) == 0 ? name.substr(4) : "";
    int code = -1;
    if (key.size() == 1 && ((key[0] >= 'a' && key[0] <= 'z') || (key[0] >= '0' && key[0] <= '9')))
        code = key[0];
    for (const auto& entry : named)
        if (key == entry.name)
            code = entry.key;
    if (code != -1) {
        const char k = static_cast<char>(code);
        scripted_events().push_back({frame, Input::key_down, k, name + "-down"});
        scripted_events().push_back({frame, Input::key_up, k, name + "-up"});
    }
    if (name == "mouse")
        scripted_events().push_back({frame, Input::mouse, 0, "mouse"});
    if (name == "expose")
        scripted_events().push_back({frame, Input::expose, 0, "expose"});
    if (name == "quit")
        scripted_events().push_back({frame, Input::quit, 0, "quit"});
}

// SDL 1.2 names the ASCII keys by their code, the others apart.
SDLKey sdl12_key(char key)
{
    switch (key) {
    case riglib::key_escape:
        return SDLK_ESCAPE;
    case riglib::key_left:
        return SDLK_LEFT;
    case riglib::key_right:
        return SDLK_RIGHT;
    case riglib::key_home:
        return SDLK_HOME;
    default:
        return static_cast<SDLKey>(key);
    }
}

SDL_Event sdl12_event(const Scripted& scripted)
{
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    switch (scripted.input) {
    case Input::key_down:
    case Input::key_up:
        event.key.type = scripted.input == Input::key_down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.state = scripted.input == Input::key_down ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym.sym = sdl12_key(scripted.key);
        event.key.keysym.mod = KMOD_NONE;
        break;
    case Input::mouse:
        event.type = SDL_MOUSEMOTION;
        event.motion.x = 640;
        event.motion.y = 360;
        break;
    case Input::expose:
        event.type = SDL_VIDEOEXPOSE;
        break;
    case Input::quit:
        event.type = SDL_QUIT;
        break;
    }
    return event;
}

void log_handed(const Scripted& scripted, uint64_t frame)
{
    riglib::log_line("event " + std::to_string(frame) + " " + scripted.name);
}

// What the window manager sends when the user closes a window, queued in the
// program's own connection so that its next look at the queue finds it.
bool request_close()
{
    if (!close_display)
        return false;
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.send_event = True;
    event.xclient.display = close_display;
    event.xclient.window = close_window;
    event.xclient.message_type = XInternAtom(close_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] =
        static_cast<long>(XInternAtom(close_display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XPutBackEvent(close_display, &event);
    return true;
}

// Hands out the events due by `frame` that this kind is told at frame starts.
void deliver_due(uint64_t frame, riglib::Kind to)
{
    const std::lock_guard<std::mutex> hold(handing);
    while (next_event < scripted_events().size() && scripted_events()[next_event].frame <= frame) {
        const Scripted& scripted = scripted_events()[next_event];
        if (to == riglib::Kind::sdl2 && !riglib::sdl2_push(scripted.input, scripted.key))
            return;  // SDL is not ready for it yet: try again later
        // Plain X programs are told only of a close: they have no other scripted input.
        const bool told =
            to == riglib::Kind::sdl2 || (scripted.input == Input::quit && request_close());
        if (told)
            log_handed(scripted, frame);
        ++next_event;
    }
}

const interpose::Next<int(SDL_Event*)> real_poll_event("SDL_PollEvent");
const interpose::Next<SDL_Surface*(int, int, int, Uint32)> sdl12_only("SDL_SetVideoMode");
const interpose::Next<Status(Display*, Window, Atom*, int)> real_set_wm_protocols(
    "XSetWMProtocols");

}  // namespace

void riglib::events_at_load()
{
    const char* text = setting("RIG_EVENTS");
    if (!text)
        return;
    const std::string list = text;
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type comma = list.find(',', begin);
        const std::string entry = list.substr(begin, comma - begin);
        const std::string::size_type colon = entry.find(':');
        if (colon == std::string::npos)
            fail("RIG_EVENTS: \"" + entry + "\" is not FRAME:NAME");
        uint32_t frame = 0;
        try {
            frame = schedule::number(entry.substr(0, colon), "RIG_EVENTS");
        } catch (const schedule::Refused& refused) {
            fail(refused.what());
        }
        const size_t before = scripted_events().size();
        add(frame, entry.substr(colon + 1));
        if (scripted_events().size() == before)
            fail("RIG_EVENTS: unknown event \"" + entry.substr(colon + 1) +
                 "\" (escape, escape-down, escape-up, key-a to key-z, key-0 to key-9, key-space, "
                 "key-period, key-left, key-right, key-home, mouse, expose, quit)");
        if (comma == std::string::npos)
            break;
        begin = comma + 1;
    }
    std::stable_sort(scripted_events().begin(), scripted_events().end(),
                     [](const Scripted& a, const Scripted& b) { return a.frame < b.frame; });
}

void riglib::set_kind(Kind which)
{
    kind.store(which);
}

void riglib::frame_began(uint64_t frame)
{
    const Kind to = kind.load(std::memory_order_relaxed);
    if (scripted_events().empty() || (to != Kind::sdl2 && to != Kind::x11))
        return;
    deliver_due(frame, to);
}

extern "C" {

// SDL 1.2: scripted events come before the real queue, so that a frame that
// polls late never loses them. SDL 2 shares the name: its events are pushed
// into SDL's own queue, ahead of the real poll.
int SDL_PollEvent(SDL_Event* event)
{
    if (scripted_events().empty() || riglib::role() == riglib::Role::bystander)
        return riglib::required(real_poll_event)(event);
    if (!sdl12_only.get()) {
        deliver_due(riglib::frame(), riglib::Kind::sdl2);
        return riglib::required(real_poll_event)(event);
    }
    {
        const std::lock_guard<std::mutex> hold(handing);
        const uint64_t frame = riglib::frame();
        if (next_event < scripted_events().size() && scripted_events()[next_event].frame <= frame) {
            // A null event only asks whether one is pending, and consumes nothing.
            if (event) {
                *event = sdl12_event(scripted_events()[next_event]);
                log_handed(scripted_events()[next_event], frame);
                ++next_event;
            }
            return 1;
        }
    }
    return riglib::required(real_poll_event)(event);
}

// The first window that asks to be told of a close (WM_DELETE_WINDOW) is the
// one a scripted quit closes.
Status XSetWMProtocols(Display* display, Window window, Atom* protocols, int count)
{
    const Status status =
        riglib::required(real_set_wm_protocols)(display, window, protocols, count);
    if (status && !close_display) {
        const Atom close = XInternAtom(display, "WM_DELETE_WINDOW", False);
        if (std::find(protocols, protocols + count, close) != protocols + count) {
            close_display = display;
            close_window = window;
        }
    }
    return status;
}

}  // extern "C"
