// A frame clock: the milliseconds that frame K reads, as a scripted clock gives
// them. One grammar and one set of messages for every place that scripts one:
// the rig (RIG_TICKS, or RIG_FPS with RIG_START_MS) and the web page's test
// mode (ticks, or fps with start).
//
//   a list    "T0,T1,...,Tn"  frame K reads T[K]; past the end, Tn
//   a rate    N, from MS      frame K reads MS + floor(K * 1000 / N)
//
// The same clock in nanoseconds (for clocks finer than a millisecond): T[K]
// whole milliseconds, or MS milliseconds + floor(K * 10^9 / N), of which the
// milliseconds above are the whole part.
//
// Every value is an unsigned 32-bit decimal: digits only, no sign, space or
// unit (a mistake worth reporting, not something to guess around); N is at
// least 1. A refusal names the setting: "RIG_TICKS: \"1s\" is not a number".
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

    bool real() const { return fps_ == 0 && list_.empty(); }
    // Entries in a list (0 for a rate or the real clock).
    size_t length() const { return list_.size(); }
    // Frame K's milliseconds; not for the real clock.
    uint32_t at(uint64_t frame) const;
    // Frame K's nanoseconds; not for the real clock.
    uint64_t nanoseconds(uint64_t frame) const;
    uint32_t fps() const { return fps_; }

private:
    std::vector<uint32_t> list_;
    uint32_t fps_ = 0;
    uint32_t start_ = 0;
};

}  // namespace schedule
