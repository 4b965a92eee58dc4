// The development player: a demo's own units built once more as NAME-dev
// (build/demo-dev for ours), which starts at any time, pauses, steps, seeks and
// loops, and shows at every moment exactly what a 60 Hz screen would show.
// The release binary contains none of it: this folder is built only into the
// -dev programs (dev/CMakeLists.txt, vorna_dev_player).
//
//   demo-dev [--at SECONDS] [--loop FROM:TO]     started from the demo's folder
//
//   --at SECONDS   start there (default 0; with --loop, FROM)
//   --loop FROM:TO play FROM up to TO, then from FROM again (FROM < TO, seconds)
//
//   Space          pause and resume (at the end: play again from 0)
//   Left, Right    one second back, forth; with Shift ten
//   Home           back to 0
//   1 to 9         the start of the timeline's first, second, ... window
//   L              loop the window being played; again to stop looping
//   .              one frame on, while paused
//   Escape         quit (as does closing the window)
//
// The title shows the clock, the frame and the state ("paused", "loop", "end").
//
// Frames. The player's clock t (seconds, from --at, running while not paused)
// picks the 60 Hz frame K = floor(t * 60), and frame K is drawn with the clock
// a 60 fps capture gives it (floor(K * 1000 / 60) ms, the preload rig's
// RIG_FPS=60), so it is byte for byte the demo's frame K under such a capture.
// Effects that step once per frame (the wave, the radar) are brought to frame
// K's state by running every frame before K as well, with the rasteriser off
// (GL_RASTERIZER_DISCARD, OpenGL 3.0): their own code steps them exactly as
// often as a 60 Hz run would, and the timeline's one-frame-late values (the
// logo's alpha) come out as such a run leaves them, whatever rate the display
// has. To seek back, the player restores a copy of the timeline's state that
// it took on the way (one a second of demo time) and runs forward from there.
//
// What a demo gives it (its main unit, under #ifdef VORNA_DEV_PLAYER):
//
//   void dev::describe(dev::Timeline& timeline)
//   {
//       timeline.windows = {0, 10, 20, 25, 30};   // window starts, then the end
//       timeline.keep(stars.alpha, radar, wave, vornaLogo, text1, text2);
//   }
//
// `keep` names every global that a frame changes (copied and assigned back to
// seek); a global left out makes seeking back show other frames than playing.
// The GL state is not saved: a frame may rely only on state that every frame
// sets again (each effect's "Leaves:" note says what it hands on).
//
// The demo's main unit is compiled with this header forced in first
// (-include dev/player.h, VORNA_DEV_PLAYER defined), which renames the calls
// through which the player drives it:
//
//   main                 renamed away: the player's main runs run_frame()
//                        (src/main.h) once for every frame, shown or not
//   SDL_GetTicks         the ticks of the frame being run (as above)
//   SDL_PollEvent        no events: the player owns the keyboard and the window
//   SDL_GL_SwapBuffers   swaps only the frames shown
//   Mix_PlayMusic        remembers the track; the player plays it from its
//                        clock, and moves it at every seek, pause and loop
//
// The demo's end (the frame in which the timeline clears demo.running) does
// not quit: the player stops on it, paused. Failures: a bad option prints the
// usage and exits with status 2; an OpenGL without GL_RASTERIZER_DISCARD is
// said in one line, exit status 1.
#pragma once

#include <functional>
#include <vector>

namespace dev {

class Timeline {
public:
    // Seconds: where each window of the timeline begins, in order, then its end.
    std::vector<float> windows;

    // The globals a frame changes; each is copied to save and assigned back.
    template <typename... Objects>
    void keep(Objects&... objects)
    {
        (keep_one(objects), ...);
    }

    // A copy of everything kept: calling it puts the copy back.
    std::function<void()> save() const;

private:
    std::vector<std::function<std::function<void()>()>> savers_;

    template <typename Object>
    void keep_one(Object& object)
    {
        savers_.push_back([&object]() -> std::function<void()> {
            return [&object, copy = object]() { object = copy; };
        });
    }
};

// Written by the demo's main unit (see above).
void describe(Timeline& timeline);

}  // namespace dev

#if defined(__cplusplus) && defined(VORNA_DEV_PLAYER)
#define main vorna_release_main
#define SDL_GetTicks vorna_dev_SDL_GetTicks
#define SDL_PollEvent vorna_dev_SDL_PollEvent
#define SDL_GL_SwapBuffers vorna_dev_SDL_GL_SwapBuffers
#define Mix_PlayMusic vorna_dev_Mix_PlayMusic
#endif
