// A frame clock: the milliseconds that frame K reads, as a scripted clock gives
// them. One grammar and one set of messages for every place that scripts one:
// the rig (RIG_TICKS, or RIG_FPS with RIG_START_MS) and the web page's test
// mode (ticks, or fps with start).
//
//   a list    "T0,T1,...,Tn"  frame K reads T[K]; past the end, Tn
//   a rate    N or N/D, from MS
//                             N/D frames a second (N alone: D = 1, as 60; or
//                             60000/1001 for 59.94): frame K reads
//                             MS + floor(K * 1000 * D / N)
//
// The same clock in nanoseconds (for clocks finer than a millisecond): T[K]
// whole milliseconds, or MS milliseconds + floor(K * 10^9 * D / N), of which
// the milliseconds above are the whole part.
//
// Every value is an unsigned 32-bit decimal: digits only, no sign, space or
// unit (a mistake worth reporting, not something to guess around); N and D
// are at least 1. A refusal names the setting: "RIG_TICKS: \"1s\" is not a
// number".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace schedule {

// Why a setting was refused: one line, the setting's name first.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An unsigned 32-bit decimal; `name` is the setting it came from.
uint32_t number(const std::string& text, const std::string& name);

// A frame rate of N / D frames a second, in lowest terms ({0, 1}: none).
struct Rate {
    uint32_t num = 0, den = 1;
    // "N" or "N/D", N and D at least 1.
    static Rate parse(const std::string& text, const std::string& name);
    // floor(frame * per_second / rate): where frame K begins on a count of
    // `per_second` units a second (milliseconds, nanoseconds, samples).
    uint64_t at(uint64_t frame, uint64_t per_second) const;
    std::string text() const;  // "60", "60000/1001"
};

// The names of the three settings a clock is scripted by, for the messages.
struct Names {
    std::string ticks, fps, start;
};

class Clock {
public:
    // From the settings given (null: not set). Neither a list nor a rate: the
    // real clock (real() is true). A list and a rate exclude each other; a
    // start needs a rate.
    static Clock parse(const char* ticks, const char* fps, const char* start, const Names& names);

    bool real() const { return rate_.num == 0 && list_.empty(); }
    // Entries in a list (0 for a rate or the real clock).
    size_t length() const { return list_.size(); }
    // Frame K's milliseconds; not for the real clock.
    uint32_t at(uint64_t frame) const;
    // Frame K's nanoseconds; not for the real clock.
    uint64_t nanoseconds(uint64_t frame) const;
    // The rate (num 0 for a list or the real clock).
    Rate rate() const { return rate_; }

private:
    std::vector<uint32_t> list_;
    Rate rate_;
    uint32_t start_ = 0;
};

}  // namespace schedule
