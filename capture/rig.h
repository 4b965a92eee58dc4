// The rig: a preload library (LD_PRELOAD=libvorna_rig.so) that puts an X11
// OpenGL program on one frame clock, scripts its input and records its frames
// and sound, for tests and capture tools. It works on the program as built:
// SDL 1.2 (classic and sdl12-compat), SDL 2, GLUT, GLFW and plain GLX.
//
// Frames. Frame K is what the program draws between the recorded window's
// buffer swaps K-1 and K: frame 0 runs until the first swap returns. The
// recorded window is the first one that swaps with an OpenGL context drawing
// into it, through any of
//   SDL_GL_SwapBuffers   SDL 1.2
//   SDL_GL_SwapWindow    SDL 2
//   glfwSwapBuffers      GLFW
//   glXSwapBuffers       GLUT, plain GLX, and every library that links the GL
// (a swap inside another, as SDL's ends in GLX's, counts once; swaps of other
// windows count none). Its back buffer is read just before the swap shows it.
//
// The frame clock. With RIG_TICKS or RIG_FPS set, every clock the program can
// read tells frame K's time, the same within a frame on every thread, on one
// origin: the real reading of each clock when the rig loaded, to the whole
// second below (so that sums of seconds and fractions come out the same
// whatever instant the program started at), plus frame K's time:
//   SDL_GetTicks               frame K's milliseconds, as the schedule gives them
//   SDL_GetTicks64             the same, in 64 bits (SDL 2)
//   SDL_GetPerformanceCounter  the monotonic clock, at SDL_GetPerformanceFrequency
//   clock_gettime              realtime, monotonic, their raw and coarse forms,
//                              boot time, the alarm clocks, TAI; the CPU-time
//                              clocks stay real
//   gettimeofday, time, timespec_get (TIME_UTC)    the realtime clock
// and with them what reads those (glfwGetTime, glutGet(GLUT_ELAPSED_TIME),
// std::chrono). Not covered, since no library call is made: a raw system call
// (syscall(SYS_clock_gettime)), the CPU's time-stamp counter (rdtsc), timers
// that signal (setitimer, timer_create, timerfd), and clocks read before the
// rig loads. A program that reads those sees real time.
//
// Waits. On the thread that draws (the one that swapped last; before the first
// swap, the one the program started on):
//   nanosleep, clock_nanosleep, usleep, sleep, SDL_Delay, and poll and select
//   with a timeout (they answer at once for a descriptor that is ready now)
// are the frame clock's: a wait that ends within the current frame returns at
// once; one that reaches past it lets frames pass without a new picture until
// the frame whose interval holds its end (as on a screen synchronised to the
// frame rate), and returns there. A program that waits for its next tick by
// reading the clock in a loop (spinning, or napping between reads) is given
// the next frame's time after 65536 reads in a frame (a nap counts 64). Waits
// with no clock read since the last one wait for something other than time
// (a thread of its own, a device): they sleep for real, at most 1 ms each,
// leave the clock as it is, and 256 of them let one frame pass. A frame that
// passes without a new picture repeats the last one (black before the first),
// so the recording keeps the program's own speed. On other threads waits are
// real; deadlines read from the frame clock (clock_nanosleep with
// TIMER_ABSTIME, pthread_cond_timedwait, pthread_cond_clockwait,
// sem_timedwait) are waited for at the same distance on the real clock. Waits
// without a timeout are real everywhere: a program that waits for input to
// draw its next frame gets none. Without a scripted clock every clock and wait
// is the real one.
//
// Events (RIG_EVENTS) are told to the program in its own library's terms: SDL
// 1.2 events handed out by SDL_PollEvent before the real queue; SDL 2 events
// pushed into SDL's queue (SDL_PushEvent) when their frame begins; for
// programs on GLUT, GLFW or plain X, "quit" alone, as the window manager's
// close request (a WM_DELETE_WINDOW ClientMessage queued in the program's
// connection) to the first window that asked for one (XSetWMProtocols).
//
// Processes. Every process the rig is preloaded into reads and checks the
// variables at load, but only one records: the first to show an SDL 1.2
// window (SDL_SetVideoMode) or swap a window claims the recording, and only
// then opens the outputs. A wrapper that execs the program is so followed to
// it; processes started once the recording is claimed (the program's children,
// the programs it runs), and processes forked from the recorder, are left
// alone: real clocks, nothing recorded, no output touched. The claim holds
// for one set of outputs (the paths and streams named below) as long as the
// recorder lives. Frames that passed before the recorder claimed (it waited
// before it showed a window) are in its recording.
//
// Environment, read once when the library loads. Every variable is optional
// (an empty value counts as unset); with none set the rig changes nothing and
// records nothing. A malformed value, RIG_SAVE_FRAMES without RIG_FRAME_DIR or
// an output that cannot be written ends the process at load with one line
// "rig: ..." on stderr and exit status 2; so does a failed write later on.
// A video reader that closes its end ends the program by SIGPIPE, as it would
// any writer to a pipe (callers tell "the encoder stopped" by that).
//
//   RIG_TICKS=T0,T1,...   milliseconds (unsigned 32-bit decimals, separated by
//                         commas). Frame K reads T[K]; past the end, the last
//                         entry. Values may go backwards; the rig does not care.
//   RIG_FPS=N or N/D      (N and D positive integers; D = 1 when left out, as
//                         60, or 60000/1001 for 59.94) frame K reads
//                         RIG_START_MS + floor(K * 1000 * D / N) milliseconds
//                         on SDL_GetTicks, and RIG_START_MS ms +
//                         floor(K * 10^9 * D / N) nanoseconds after the origin
//                         on the finer clocks.
//                         RIG_START_MS defaults to 0 and is valid only with
//                         RIG_FPS. RIG_TICKS and RIG_FPS exclude each other.
//                         Without either, every clock and wait is the real one.
//   RIG_EVENTS=K:NAME,... events to deliver in frame K, in the order listed
//                         (see Events; SDL 1.2 never loses one to a frame that
//                         polls late). NAME is one of
//                           escape      Escape key-down, then key-up
//                           escape-down, escape-up
//                           key-a       key-down, then key-up of the a key;
//                                       likewise key-b to key-z, key-0 to key-9,
//                                       and key-space, key-period, key-left,
//                                       key-right, key-home
//                           mouse       a mouse motion to (640, 360)
//                           expose      a window expose event
//                           quit        SDL_QUIT, or the window manager's close
//   RIG_FRAME_DIR=DIR     save frames as binary PPM files (P6, maxval 255, top
//                         row first) named RIG_FRAME_FILE in DIR, which must
//                         exist. Saves every frame unless RIG_SAVE_FRAMES says.
//   RIG_SAVE_FRAMES=K,... which frames to save ("all" for every one); needs
//                         RIG_FRAME_DIR.
//   RIG_VIDEO=PATH|fd:N   every frame as raw rgb24, top row first, with no
//                         header or padding: one write per frame to a file
//                         (truncated), a FIFO (the open, at the first frame,
//                         waits for a reader) or an inherited file descriptor
//                         (closed on exec once the recording is claimed, so
//                         the program's children do not hold it).
//   RIG_VIDEO_FORMAT=raw|ppm|rgba|yuv420p
//                         raw (the default) as above; ppm puts a binary PPM
//                         header ("P6\nW H\n255\n") before every frame, so the
//                         stream says its own size (ffmpeg: -f ppm_pipe); rgba
//                         is 4 bytes a pixel as read back (alpha as the GL has
//                         it), top row first; yuv420p is BT.709 in limited
//                         range, chroma the mean of each 2x2 block, an odd
//                         width or height padded with black to even (as H.264
//                         wants it): the Y plane, then U and V.
//                         Frames saved or streamed have the size of the first
//                         picture read; a picture of another size (a window
//                         resized) is scaled into it with its aspect kept,
//                         centred between black bars.
//   RIG_FRAMES=N          record frames 0 to N-1 only: later frames are neither
//                         saved, streamed nor given sound, and RIG_VIDEO (and a
//                         streamed RIG_AUDIO) is closed once frame N-1 is
//                         written, so its reader sees the end while the program
//                         may still be ending.
//   RIG_FROM=K            record from frame K on (default 0): the program runs
//                         from frame 0 on the same clock, but no earlier frame
//                         is saved, streamed or heard; a frame K that passes
//                         without a new picture shows the last one drawn before
//                         it. With RIG_FRAMES, frames K to N-1.
//   RIG_AUDIO=PATH|fd:N   take over the program's sound; needs RIG_FPS. No
//                         real device is opened: every device the program
//                         opens plays into one track, pulled once frame K's
//                         clock interval is over (by a swap, or a frame let
//                         pass) for exactly the samples of that interval:
//                         samples floor(K * rate * D / N) up to
//                         floor((K + 1) * rate * D / N), so the fraction of a
//                         sample left over is carried to the next frame.
//                         SDL 1.2's SDL_OpenAudio (formats U8, S8, U16 and S16
//                         of either byte order; 1, 2, 4 or 6 channels) and SDL
//                         2's, its SDL_OpenAudioDevice devices (also S32 and
//                         F32, 1 to 8 channels; recording devices stay real),
//                         with a callback or queued (SDL_QueueAudio, drained
//                         at the clock's pace; SDL_GetQueuedAudioSize and
//                         SDL_ClearQueuedAudio as SDL has them). A device is
//                         given the format it asks for (a frequency of 0 means
//                         22050, 0 channels 2, 0 samples 4096 on SDL 1.2, about
//                         46 ms on SDL 2; a format of 0 on SDL 2 S16) and
//                         obtained is filled with it; one outside 8000 to
//                         192000 Hz is refused at open (SDL_OpenAudio -1,
//                         SDL_OpenAudioDevice 0, SDL_GetError says why), as a
//                         real device would refuse it. A callback is called on
//                         the drawing thread with its device's lock held, in
//                         pieces of at most its `samples`, each filled with
//                         silence first; a paused device (as one opens) or a
//                         closed one plays silence. SDL_LockAudio(Device) and
//                         SDL_UnlockAudio(Device) take a recursive lock that
//                         every callback of the device holds; SDL_MixAudio
//                         mixes in the legacy device's format.
//                         The track takes the rate and channels of the first
//                         device opened (with RIG_VIDEO, the first opened
//                         before the first picture, which the stream's reader
//                         learns them by; 44100 Hz stereo when none is), and
//                         its sample type (u8, s16,
//                         s32 or f32, as near as the device's); devices are
//                         mixed into it, clipped, one at another rate
//                         resampled (linearly) and one with other channels
//                         mapped (a mono track takes the mean, a mono device
//                         feeds the first two channels, channels past the
//                         track's are left out). PATH, a regular file, becomes
//                         (created or truncated by the recorder at its first
//                         frame of sound) a WAV file holding silence from
//                         clock 0 up to the frame in which a device opened,
//                         then the sound; its sizes are rewritten after every
//                         frame, so it is whole however the program ends. A
//                         FIFO or an inherited descriptor gets the bare
//                         samples (little-endian, interleaved) instead; with
//                         RIG_VIDEO streamed as well, each frame's sound is
//                         written before its picture, the sound's stream
//                         opened first (an encoder reading both opens them in
//                         that order). Sound played around SDL and OpenAL
//                         (straight to ALSA or PulseAudio) is not recorded;
//                         the log says so.
//
//                         OpenAL programs: with RIG_AUDIO, each playback
//                         device the program opens (alcOpenDevice) is OpenAL
//                         Soft's loopback device (ALC_SOFT_loopback) instead,
//                         so nothing plays to a real device; capture devices
//                         stay real. alcCreateContext keeps the program's
//                         attributes and its ALC_FREQUENCY (48000 Hz when it
//                         gives none), in stereo, 32-bit floats (16-bit
//                         integers where OpenAL renders no floats); a
//                         frequency outside 8000 to 192000 Hz is refused as a
//                         device refuses it (NULL, ALC_INVALID_VALUE). From
//                         that context on, the device plays into the track like
//                         SDL's: rendered (alcRenderSamplesSOFT), on the
//                         drawing thread, for exactly the samples of frame K's
//                         clock interval once it is over; alcCloseDevice takes
//                         it out. The rig does not link OpenAL (a program
//                         without it never loads it); functions the program
//                         looks up by name (alcGetProcAddress) are the rig's
//                         too, but an OpenAL the program loads itself (dlopen,
//                         dlsym) is not taken over. An OpenAL without the
//                         loopback extension plays to its real device, said in
//                         RIG_LOG as "sound elsewhere openal".
//   RIG_LOG=PATH          one line per frame and per delivered event, flushed
//                         as written (a FIFO works: its reader learns of each
//                         frame as it ends):
//                           "frame K ticks T"  swap K done; T = frame K's
//                                              scheduled ticks (real clock:
//                                              the tick count at the swap)
//                           "frame K ticks T idle"
//                                              frame K passed without a swap:
//                                              its picture is the last again
//                           "event K NAME"     an event delivered in frame K;
//                                              NAME is escape-down, escape-up,
//                                              key-a-down, key-a-up (and so on
//                                              for each key), mouse, expose or
//                                              quit
//                           "window WxH opengl" (or "no-opengl")
//                                              SDL_SetVideoMode gave a video
//                                              surface of W x H pixels, with or
//                                              without OpenGL; "no-opengl" also
//                                              when a window of any library
//                                              swaps with no OpenGL context
//                           "video WxH"        the first picture read: the size
//                                              of every frame recorded
//                           "resize WxH K"     from frame K the window is W x H,
//                                              scaled into the video's size
//                           "sound R C T"      the track (RIG_AUDIO): R Hz, C
//                                              channels, samples of type T
//                                              (u8, s16, s32, f32), said
//                                              before the first picture
//                           "sound resampled A B"
//                                              a device at A Hz plays into the
//                                              track at B Hz
//                           "sound refused R"  a device at R Hz was refused
//                           "sound elsewhere alsa" (or "pulseaudio", "openal")
//                                              the program plays around the rig
//                           (the "sound" lines once each)
//
// The back buffer is read (glReadPixels, GL_RGBA, pack alignment 1, with the
// window's own framebuffer, its back buffer and no pack buffer bound, the
// program's state put back after) only for frames that are saved or streamed,
// so a rig that records nothing costs nothing per frame: no read-back, no
// system call, no allocation (counting the frame is all).
#pragma once

// printf format of a saved frame's file name, given the frame number K.
#define RIG_FRAME_FILE "frame-%05u.ppm"

// Exit status of a process the rig ends because of its own configuration or I/O.
#define RIG_EXIT_STATUS 2
