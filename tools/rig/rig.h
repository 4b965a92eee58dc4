// The rig: a preload library (LD_PRELOAD=libvorna_rig.so) that scripts an SDL 1.2
// program's clock and input and records its frames, for tests and capture tools.
//
// It replaces three SDL functions and hands everything else to the real SDL:
//
//   SDL_GetTicks        answers from a tick schedule indexed by frame
//   SDL_GL_SwapBuffers  reads the finished back buffer, then swaps
//   SDL_PollEvent       delivers scripted events before the real queue
//
// Frames. Frame K is the iteration between swap K-1 and swap K: frame 0 runs
// until the first SDL_GL_SwapBuffers returns. K counts completed swaps, so the
// schedule never depends on how often the program (or SDL itself, or another
// thread) reads the clock.
//
// Environment, read once when the library loads. Every variable is optional
// (an empty value counts as unset); with none set the rig changes nothing and
// records nothing. A malformed value, RIG_SAVE_FRAMES without RIG_FRAME_DIR or
// an output that cannot be opened ends the process at load with one line
// "rig: ..." on stderr and exit status 2; so does a failed write later on.
// A video reader that closes its end ends the program by SIGPIPE, as it would
// any writer to a pipe (callers tell "the encoder stopped" by that).
//
//   RIG_TICKS=T0,T1,...   milliseconds (unsigned 32-bit decimals, separated by
//                         commas). Frame K reads T[K]; past the end, the last
//                         entry. Values may go backwards; the rig does not care.
//   RIG_FPS=N             (N a positive integer) frame K reads
//                         RIG_START_MS + floor(K * 1000 / N): integer
//                         milliseconds, rounded down. RIG_START_MS defaults to 0
//                         and is valid only with RIG_FPS. RIG_TICKS and RIG_FPS
//                         exclude each other.
//                         Without either, SDL_GetTicks is the real clock.
//   RIG_EVENTS=K:NAME,... events to inject in frame K, in the order listed:
//                         handed out by the first SDL_PollEvent calls once K
//                         swaps have completed, before the real queue (so never
//                         lost when a frame polls late). NAME is one of
//                           escape      Escape key-down, then key-up
//                           escape-down, escape-up
//                           key-a       key-down, then key-up of SDLK_a; likewise
//                                       key-b to key-z, and key-space (SDLK_SPACE)
//                           mouse       a mouse motion to (640, 360)
//                           expose      a window expose event (SDL_VIDEOEXPOSE)
//                           quit        SDL_QUIT, as closing the window sends
//   RIG_FRAME_DIR=DIR     save frames as binary PPM files (P6, maxval 255, top
//                         row first) named RIG_FRAME_FILE in DIR, which must
//                         exist. Saves every frame unless RIG_SAVE_FRAMES says.
//   RIG_SAVE_FRAMES=K,... which frames to save ("all" for every one); needs
//                         RIG_FRAME_DIR.
//   RIG_VIDEO=PATH|fd:N   every frame as raw rgb24, top row first, width x height
//                         of the video surface (1280x720 for the demo), with no
//                         header or padding: one write per frame to a file
//                         (truncated), a FIFO (the open waits for a reader) or an
//                         inherited file descriptor.
//   RIG_LOG=PATH          one line per completed swap and per injected event,
//                         flushed as written:
//                           "frame K ticks T"  swap K done; T = frame K's
//                                              scheduled ticks (real clock:
//                                              the tick count at the swap)
//                           "event K NAME"     an injected event handed out in
//                                              frame K; NAME is escape-down,
//                                              escape-up, key-a-down, key-a-up (and
//                                              so on for each key), mouse, expose
//                                              or quit
//
// The back buffer is read (glReadPixels, GL_RGB, pack alignment 1, the client
// pixel-store state saved and restored around it) only for frames that are
// saved or streamed, so a rig that records nothing costs nothing per frame.
#pragma once

// printf format of a saved frame's file name, given the frame number K.
#define RIG_FRAME_FILE "frame-%05u.ppm"

// Exit status of a process the rig ends because of its own configuration or I/O.
#define RIG_EXIT_STATUS 2
