// The scripted frame clock's grammar (schedule.h).
#include "schedule.h"

#include <algorithm>
#include <numeric>

namespace schedule {

uint32_t number(const std::string& text, const std::string& name)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw Refused(name + ": \"" + text + "\" is not a number");
    // Leading zeros are digits like any other; what counts is the value.
    const std::string::size_type first = std::min(text.find_first_not_of('0'), text.size() - 1);
    if (text.size() - first > 10 || std::stoull(text.substr(first)) > UINT32_MAX)
        throw Refused(name + ": " + text + " is out of range");
    return static_cast<uint32_t>(std::stoull(text.substr(first)));
}

Rate Rate::parse(const std::string& text, const std::string& name)
{
    const std::string::size_type slash = text.find('/');
    Rate rate;
    if (slash == std::string::npos) {
        rate.num = number(text, name);
    } else {
        try {
            rate.num = number(text.substr(0, slash), name);
            rate.den = number(text.substr(slash + 1), name);
        } catch (const Refused&) {
            throw Refused(name + ": \"" + text + "\" is not a fraction N/D");
        }
    }
    if (rate.num == 0 || rate.den == 0)
        throw Refused(name + ": must be at least 1");
    const uint32_t common = std::gcd(rate.num, rate.den);
    rate.num /= common;
    rate.den /= common;
    return rate;
}

uint64_t Rate::at(uint64_t frame, uint64_t per_second) const
{
    // 128 bits: a frame number, a nanosecond count and a denominator of 32 bits each.
    const unsigned __int128 units = static_cast<unsigned __int128>(frame) * per_second * den;
    return static_cast<uint64_t>(units / num);
}

std::string Rate::text() const
{
    return std::to_string(num) + (den == 1 ? "" : "/" + std::to_string(den));
}

Clock Clock::parse(const char* ticks, const char* fps, const char* start, const Names& names)
{
    Clock clock;
    if (ticks && fps)
        throw Refused(names.ticks + " and " + names.fps + " exclude each other: set one");
    if (start && !fps)
        throw Refused(names.start + " needs " + names.fps);
    if (ticks) {
        const std::string list = ticks;
        std::string::size_type begin = 0;
        for (;;) {
            const std::string::size_type comma = list.find(',', begin);
            clock.list_.push_back(number(list.substr(begin, comma - begin), names.ticks));
            if (comma == std::string::npos)
                break;
            begin = comma + 1;
        }
    }
    if (fps) {
        clock.rate_ = Rate::parse(fps, names.fps);
        if (start)
            clock.start_ = number(start, names.start);
    }
    return clock;
}

uint32_t Clock::at(uint64_t frame) const
{
    if (!list_.empty())
        return list_[std::min<uint64_t>(frame, list_.size() - 1)];
    return static_cast<uint32_t>(start_ + rate_.at(frame, 1000));
}

uint64_t Clock::nanoseconds(uint64_t frame) const
{
    if (!list_.empty())
        return list_[std::min<uint64_t>(frame, list_.size() - 1)] * uint64_t{1000000};
    return start_ * uint64_t{1000000} + rate_.at(frame, 1000000000);
}

}  // namespace schedule
