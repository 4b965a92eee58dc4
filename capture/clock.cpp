// The rig's frame clock: every clock the program can read, frozen within a
// frame and moved on by the recorded window's swaps, and every wait made
// harmless on it. The contract is in rig.h.
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/select.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>

#include "parts.h"
#include "schedule.h"

namespace {

constexpr int64_t kBillion = 1000000000;
// Clock reads the drawing thread may make in one frame before it counts as
// spinning on the clock, waiting for it to move: far more than any frame reads
// to be drawn, few enough that a spin gives way within milliseconds.
constexpr uint32_t kSpinReads = 1u << 16;
// A wait that ends within the frame weighs as much as this many reads, so that a
// loop of short sleeps that reads the clock gives way after about a thousand
// turns...
constexpr uint32_t kWaitWeight = 64;
// ... and one with no clock read since the last wait (a program waiting for
// something other than time: another thread, a device) as much as this: a
// thread starts within a few such waits, which leave the clock as it is, while
// 256 of them let a frame pass, for a thread that in turn waits on the clock.
constexpr uint32_t kBlindWaitWeight = kSpinReads / 256;
// Such a wait sleeps for real, at most this long, so that what it waits for can happen.
constexpr int64_t kBlindWaitNs = 1000000;
// The clocks that tell time (every id below this that the kernel knows):
// realtime, monotonic, their raw and coarse forms, boot time, alarms, TAI.
// The CPU-time clocks (2 and 3, and the negative per-process ids) stay real.
constexpr clockid_t kClocks = 12;

// Set at load, constant after. (A function's static: the load-time set-up may
// run before this unit's own globals are constructed.)
const schedule::Clock& script(const schedule::Clock* set = nullptr)
{
    static schedule::Clock clock;
    if (set)
        clock = *set;
    return clock;
}
bool faked[kClocks] = {};
int64_t origin[kClocks] = {};  // each clock's real reading at load, in ns, to the second
std::atomic<bool> ready{false};

std::atomic<uint64_t> current{0};    // the frame being drawn
std::atomic<int64_t> current_ns{0};  // what it reads: nanoseconds since the origin
std::atomic<pthread_t> drawing{};    // whose waits and clock reads can end frames
uint32_t spin = 0;                   // the drawing thread's reads this frame
bool read_since_wait = true;         // the drawing thread read a clock since its last wait

const interpose::Next<int(clockid_t, timespec*)> real_clock_gettime("clock_gettime");
const interpose::Next<int(timeval*, void*)> real_gettimeofday("gettimeofday");
const interpose::Next<time_t(time_t*)> real_time("time");
const interpose::Next<int(timespec*, int)> real_timespec_get("timespec_get");
const interpose::Next<int(const timespec*, timespec*)> real_nanosleep("nanosleep");
const interpose::Next<int(clockid_t, int, const timespec*, timespec*)> real_clock_nanosleep(
    "clock_nanosleep");
const interpose::Next<int(useconds_t)> real_usleep("usleep");
const interpose::Next<unsigned(unsigned)> real_sleep("sleep");
const interpose::Next<int(pollfd*, nfds_t, int)> real_poll("poll");
const interpose::Next<int(int, fd_set*, fd_set*, fd_set*, timeval*)> real_select("select");
const interpose::Next<int(pthread_cond_t*, pthread_mutex_t*, const timespec*)> real_cond_timedwait(
    "pthread_cond_timedwait");
const interpose::Next<int(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*)>
    real_cond_clockwait("pthread_cond_clockwait");
const interpose::Next<int(sem_t*, const timespec*)> real_sem_timedwait("sem_timedwait");
const interpose::Next<uint32_t()> real_get_ticks("SDL_GetTicks");
const interpose::Next<uint64_t()> real_get_ticks64("SDL_GetTicks64");
const interpose::Next<uint64_t()> real_performance_counter("SDL_GetPerformanceCounter");
const interpose::Next<uint64_t()> real_performance_frequency("SDL_GetPerformanceFrequency");
const interpose::Next<void(uint32_t)> real_delay("SDL_Delay");

int64_t ns_of(const timespec& t)
{
    return static_cast<int64_t>(t.tv_sec) * kBillion + t.tv_nsec;
}

timespec timespec_of(int64_t ns)
{
    if (ns < 0)
        ns = 0;
    return timespec{static_cast<time_t>(ns / kBillion), static_cast<long>(ns % kBillion)};
}

int64_t frame_ns(uint64_t frame)
{
    return script().real() ? 0 : static_cast<int64_t>(script().nanoseconds(frame));
}

// The clock is the frame clock in this process (else every call is the real one).
bool frozen()
{
    return ready.load(std::memory_order_acquire) && !script().real() &&
           riglib::role() != riglib::Role::bystander;
}

bool fakes(clockid_t id)
{
    return id >= 0 && id < kClocks && faked[id] && frozen();
}

bool on_drawing_thread()
{
    return pthread_equal(pthread_self(), drawing.load(std::memory_order_relaxed));
}

// Waits are the frame clock's only on the thread that draws; elsewhere they
// are real waits, so helper threads neither spin nor stall.
bool fake_waits()
{
    return frozen() && on_drawing_thread();
}

void begin_frame(uint64_t frame)
{
    spin = 0;
    read_since_wait = true;
    current_ns.store(frame_ns(frame), std::memory_order_relaxed);
    current.store(frame, std::memory_order_release);
}

// Frame `frame`'s clock interval is over: with a new picture (a swap) or not.
void end_frame(uint64_t frame, bool swapped)
{
    begin_frame(frame + 1);
    if (riglib::role() == riglib::Role::recorder) {
        riglib::sound_after_frame(frame);
        if (riglib::logging())
            riglib::log_line("frame " + std::to_string(frame) + " ticks " +
                             std::to_string(riglib::ticks(frame)) + (swapped ? "" : " idle"));
    }
    riglib::frame_began(frame + 1);
}

// The program waits for the clock to move, and no swap will come first: the
// frame passes without a new picture, so the last one is shown again.
void pass_frame()
{
    const uint64_t frame = current.load(std::memory_order_relaxed);
    if (riglib::role() == riglib::Role::recorder)
        riglib::record(frame, nullptr);
    end_frame(frame, false);
}

void count(uint32_t weight)
{
    spin += weight;
    if (spin >= kSpinReads)
        pass_frame();
}

void clock_read()
{
    if (!on_drawing_thread())
        return;
    read_since_wait = true;
    count(1);
}

// A wait to `deadline` (ns on the frame clock) on the drawing thread: the
// frames before the one whose interval holds the deadline pass, as on a screen
// synchronised to the frame rate, and the wait returns at once in that frame.
void wait_until(int64_t deadline)
{
    bool passed = false;
    for (;;) {
        const uint64_t frame = current.load(std::memory_order_relaxed);
        const int64_t next = frame_ns(frame + 1);
        // (A tick list past its end no longer moves: such waits count as spins.)
        if (deadline < next || next <= frame_ns(frame))
            break;
        pass_frame();
        passed = true;
    }
    if (passed)
        return;
    if (read_since_wait) {
        read_since_wait = false;
        count(kWaitWeight);
        return;
    }
    const int64_t left = deadline - current_ns.load(std::memory_order_relaxed);
    const timespec nap = timespec_of(std::min(left, kBlindWaitNs));
    real_nanosleep(&nap, nullptr);
    count(kBlindWaitWeight);
}

void wait_for(int64_t duration)
{
    wait_until(current_ns.load(std::memory_order_relaxed) + duration);
}

bool valid(const timespec* t)
{
    return t && t->tv_sec >= 0 && t->tv_nsec >= 0 && t->tv_nsec < kBillion;
}

// An absolute deadline read from the frame clock, as the real clock's: the
// same distance ahead of now. The distance between the two clocks is the same
// for every clock that tells time, so the clock the deadline was read from
// need not be known.
timespec real_deadline(const timespec& deadline)
{
    timespec now;
    real_clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t lead =
        current_ns.load(std::memory_order_relaxed) - (ns_of(now) - origin[CLOCK_MONOTONIC]);
    return timespec_of(ns_of(deadline) - lead);
}

}  // namespace

void riglib::clock_at_load()
{
    try {
        const schedule::Clock parsed = schedule::Clock::parse(
            setting("RIG_TICKS"), setting("RIG_FPS"), setting("RIG_START_MS"),
            {"RIG_TICKS", "RIG_FPS", "RIG_START_MS"});
        script(&parsed);
    } catch (const schedule::Refused& refused) {
        fail(refused.what());
    }
    for (clockid_t id = 0; id < kClocks; ++id) {
        timespec now;
        if (id == CLOCK_PROCESS_CPUTIME_ID || id == CLOCK_THREAD_CPUTIME_ID ||
            real_clock_gettime(id, &now) != 0)
            continue;
        // On a whole second: a program's sums of seconds and fractions then
        // come out the same whatever instant it started at.
        origin[id] = ns_of(now) / kBillion * kBillion;
        faked[id] = true;
    }
    drawing.store(pthread_self());
    begin_frame(0);
    ready.store(true, std::memory_order_release);
}

uint64_t riglib::frame()
{
    return current.load(std::memory_order_acquire);
}

bool riglib::scripted()
{
    return !script().real();
}

schedule::Rate riglib::frame_rate()
{
    return script().rate();
}

uint32_t riglib::ticks(uint64_t frame)
{
    if (!script().real())
        return script().at(frame);
    if (real_get_ticks.get())
        return real_get_ticks();
    timespec now;
    real_clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>((ns_of(now) - origin[CLOCK_MONOTONIC]) / 1000000);
}

void riglib::frame_swapped(uint64_t frame)
{
    drawing.store(pthread_self(), std::memory_order_relaxed);
    end_frame(frame, true);
}

extern "C" {

// ---- clocks ------------------------------------------------------------------------------

int clock_gettime(clockid_t id, timespec* ts)
{
    if (!fakes(id))
        return real_clock_gettime(id, ts);
    clock_read();
    *ts = timespec_of(origin[id] + current_ns.load(std::memory_order_relaxed));
    return 0;
}

int gettimeofday(timeval* tv, void* tz)
{
    if (!fakes(CLOCK_REALTIME))
        return real_gettimeofday(tv, tz);
    if (tz)
        real_gettimeofday(nullptr, tz);
    clock_read();
    const timespec now = timespec_of(origin[CLOCK_REALTIME] + current_ns.load());
    tv->tv_sec = now.tv_sec;
    tv->tv_usec = now.tv_nsec / 1000;
    return 0;
}

time_t time(time_t* out)
{
    if (!fakes(CLOCK_REALTIME))
        return real_time(out);
    clock_read();
    const time_t now = timespec_of(origin[CLOCK_REALTIME] + current_ns.load()).tv_sec;
    if (out)
        *out = now;
    return now;
}

int timespec_get(timespec* ts, int base)
{
    if (base != TIME_UTC || !fakes(CLOCK_REALTIME))
        return real_timespec_get(ts, base);
    return clock_gettime(CLOCK_REALTIME, ts) == 0 ? base : 0;
}

// SDL 1.2 and SDL 2 share these names. Ticks are the schedule's milliseconds.
uint32_t SDL_GetTicks(void)
{
    if (!frozen())
        return riglib::required(real_get_ticks)();
    clock_read();
    return script().at(current.load());
}

uint64_t SDL_GetTicks64(void)
{
    if (!frozen())
        return riglib::required(real_get_ticks64)();
    clock_read();
    return static_cast<uint64_t>(current_ns.load()) / 1000000;
}

// On the monotonic clock's origin, at SDL's own counter rate.
uint64_t SDL_GetPerformanceCounter(void)
{
    if (!frozen() || !faked[CLOCK_MONOTONIC])
        return riglib::required(real_performance_counter)();
    clock_read();
    const unsigned __int128 ns = origin[CLOCK_MONOTONIC] + current_ns.load();
    return static_cast<uint64_t>(ns * riglib::required(real_performance_frequency)() / kBillion);
}

// ---- waits -------------------------------------------------------------------------------

int nanosleep(const timespec* request, timespec* remaining)
{
    if (!fake_waits() || !valid(request))
        return real_nanosleep(request, remaining);
    wait_for(ns_of(*request));
    return 0;
}

int clock_nanosleep(clockid_t id, int flags, const timespec* request, timespec* remaining)
{
    if (!fakes(id) || !valid(request))
        return real_clock_nanosleep(id, flags, request, remaining);
    const bool absolute = flags & TIMER_ABSTIME;
    if (fake_waits()) {
        if (absolute)
            wait_until(ns_of(*request) - origin[id]);
        else
            wait_for(ns_of(*request));
        return 0;
    }
    if (!absolute)
        return real_clock_nanosleep(id, flags, request, remaining);
    const timespec deadline = real_deadline(*request);
    return real_clock_nanosleep(id, flags, &deadline, remaining);
}

int usleep(useconds_t microseconds)
{
    if (!fake_waits())
        return real_usleep(microseconds);
    wait_for(static_cast<int64_t>(microseconds) * 1000);
    return 0;
}

unsigned sleep(unsigned seconds)
{
    if (!fake_waits())
        return real_sleep(seconds);
    wait_for(static_cast<int64_t>(seconds) * kBillion);
    return 0;
}

void SDL_Delay(uint32_t ms)
{
    if (!fake_waits())
        return riglib::required(real_delay)(ms);
    wait_for(static_cast<int64_t>(ms) * 1000000);
}

// A timed poll or select is a wait that ends early when a descriptor is ready:
// one that is ready now is answered at once; otherwise the wait is the frame
// clock's. Untimed and zero timeouts are the real calls.
int poll(pollfd* fds, nfds_t count, int timeout_ms)
{
    if (timeout_ms <= 0 || !fake_waits())
        return real_poll(fds, count, timeout_ms);
    const int ready_now = real_poll(fds, count, 0);
    if (ready_now != 0)
        return ready_now;
    wait_for(static_cast<int64_t>(timeout_ms) * 1000000);
    return 0;
}

int select(int count, fd_set* read, fd_set* write, fd_set* error, timeval* timeout)
{
    if (!timeout || (timeout->tv_sec == 0 && timeout->tv_usec == 0) || timeout->tv_sec < 0 ||
        !fake_waits())
        return real_select(count, read, write, error, timeout);
    const int64_t duration = static_cast<int64_t>(timeout->tv_sec) * kBillion +
                             static_cast<int64_t>(timeout->tv_usec) * 1000;
    timeval zero{0, 0};
    const int ready_now = real_select(count, read, write, error, &zero);
    if (ready_now != 0)
        return ready_now;
    wait_for(duration);
    *timeout = timeval{0, 0};
    return 0;
}

// Deadlines of condition variables and semaphores were read from the frame
// clock: they are waited for at the same distance on the real one, on every
// thread (these waits end when another thread acts, not with the frame).
int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, const timespec* deadline)
{
    if (!frozen() || !valid(deadline))
        return real_cond_timedwait(cond, mutex, deadline);
    const timespec real = real_deadline(*deadline);
    return real_cond_timedwait(cond, mutex, &real);
}

int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex, clockid_t id,
                           const timespec* deadline)
{
    if (!fakes(id) || !valid(deadline))
        return riglib::required(real_cond_clockwait)(cond, mutex, id, deadline);
    const timespec real = real_deadline(*deadline);
    return real_cond_clockwait(cond, mutex, id, &real);
}

int sem_timedwait(sem_t* sem, const timespec* deadline)
{
    if (!frozen() || !valid(deadline))
        return real_sem_timedwait(sem, deadline);
    const timespec real = real_deadline(*deadline);
    return real_sem_timedwait(sem, &real);
}

}  // extern "C"
