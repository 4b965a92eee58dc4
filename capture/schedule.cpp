// The scripted frame clock's grammar (schedule.h).
#include "schedule.h"

#include <algorithm>

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
        clock.fps_ = number(fps, names.fps);
        if (clock.fps_ == 0)
            throw Refused(names.fps + ": must be at least 1");
        if (start)
            clock.start_ = number(start, names.start);
    }
    return clock;
}

uint32_t Clock::at(uint64_t frame) const
{
    if (!list_.empty())
        return list_[std::min<uint64_t>(frame, list_.size() - 1)];
    return static_cast<uint32_t>(start_ + frame * 1000 / fps_);
}

uint64_t Clock::nanoseconds(uint64_t frame) const
{
    if (!list_.empty())
        return list_[std::min<uint64_t>(frame, list_.size() - 1)] * uint64_t{1000000};
    return start_ * uint64_t{1000000} + frame * 1000000000 / fps_;
}

}  // namespace schedule
