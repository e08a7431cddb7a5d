#pragma once
#include <cstdint>

namespace harvolin
{

// A time of day in coordinated universal time, to the millisecond.
struct TTimeOfDay
{
    int Hour = 0;          // 0 to 23
    int Minute = 0;        // 0 to 59
    int Second = 0;        // 0 to 59
    int Millisecond = 0;   // 0 to 999
};

// Milliseconds since midnight: ((hour x 60 + minute) x 60 + second) x 1000 + millisecond.
[[nodiscard]] std::uint32_t MillisecondsOfDay(const TTimeOfDay& time);

// Where the time of day comes from. The program reads the system clock; tests hand in a clock they set.
// Now() may be called from any thread.
class ITimeOfDaySource
{
public:
    virtual ~ITimeOfDaySource() = default;
    [[nodiscard]] virtual TTimeOfDay Now() const = 0;
};

// The system clock's time of day in UTC. The object lives for the whole process.
[[nodiscard]] const ITimeOfDaySource& SystemTimeOfDay();

}   // namespace harvolin
