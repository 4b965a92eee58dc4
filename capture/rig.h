// The rig: a preload library (LD_PRELOAD=libvorna_rig.so) that scripts an SDL 1.2
// program's clock and input and records its frames, for tests and capture tools.
//
// It replaces these SDL functions and hands everything else to the real SDL:
//
//   SDL_GetTicks        answers from a tick schedule indexed by frame
//   SDL_GL_SwapBuffers  reads the finished back buffer, then swaps
//   SDL_PollEvent       delivers scripted events before the real queue
//   SDL_SetVideoMode    the real one, then the window is logged (RIG_LOG)
//   SDL_OpenAudio, SDL_PauseAudio, SDL_GetAudioStatus, SDL_LockAudio,
//   SDL_UnlockAudio, SDL_CloseAudio, SDL_MixAudio
//                       the real ones, unless RIG_AUDIO takes the device over
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
//                                       key-b to key-z, key-0 to key-9, and
//                                       key-space, key-period, key-left,
//                                       key-right, key-home (SDLK_SPACE, ...)
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
//   RIG_VIDEO_FORMAT=raw|ppm
//                         raw (the default) as above; ppm puts a binary PPM
//                         header ("P6\nW H\n255\n") before every frame, so the
//                         stream says its own size (ffmpeg: -f ppm_pipe).
//   RIG_FRAMES=N          record frames 0 to N-1 only: later frames are neither
//                         saved, streamed nor given sound, and RIG_VIDEO is
//                         closed once frame N-1 is written, so its reader sees
//                         the end while the program may still be ending.
//   RIG_AUDIO=PATH        take over SDL 1.2's audio device; needs RIG_FPS. No
//                         device is opened: SDL_OpenAudio accepts the desired
//                         format as it is (a frequency of 0 means 22050, 0
//                         channels 2, 0 samples 4096; formats U8, S8, U16 and
//                         S16 of either byte order; 1, 2, 4 or 6 channels) and
//                         fills obtained with it (size and silence as SDL
//                         computes them); with obtained NULL the program gets
//                         the format it asked for. After swap K the program's
//                         callback is called, on the swapping thread with the
//                         audio lock held, for exactly the samples of frame K's
//                         clock interval: samples floor(K * freq / RIG_FPS) up
//                         to floor((K + 1) * freq / RIG_FPS), so the fraction
//                         of a sample left over is carried to the next frame.
//                         It gets them in pieces of at most its `samples`, each
//                         filled with silence first; len may be less than
//                         its `size`. While the device is paused (as it starts)
//                         or closed, those samples are silence. SDL_LockAudio
//                         and SDL_UnlockAudio take a recursive lock that every
//                         callback holds; SDL_MixAudio mixes in the open
//                         device's format (volume scales the source by
//                         volume / 128, the sum is clipped). PATH, a regular
//                         file (truncated at load), becomes a WAV file of the
//                         first device the program opens (its rate and
//                         channels; 8-bit unsigned or 16-bit signed little-
//                         endian samples), holding silence from clock 0 up to
//                         the frame in which it was opened, then the sound;
//                         its sizes are rewritten after every frame, so it is
//                         whole however the program ends. A device opened
//                         again joins that track: it is given the track's
//                         format when obtained is not NULL, and refused (-1,
//                         SDL_GetError says why) when it insists on another.
//                         A program that opens no device leaves PATH empty.
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
//                           "window WxH opengl" (or "no-opengl")
//                                              SDL_SetVideoMode gave a video
//                                              surface of W x H pixels, with
//                                              or without OpenGL
//
// The back buffer is read (glReadPixels, GL_RGB, pack alignment 1, the client
// pixel-store state saved and restored around it) only for frames that are
// saved or streamed, so a rig that records nothing costs nothing per frame.
#pragma once

// printf format of a saved frame's file name, given the frame number K.
#define RIG_FRAME_FILE "frame-%05u.ppm"

// Exit status of a process the rig ends because of its own configuration or I/O.
#define RIG_EXIT_STATUS 2
