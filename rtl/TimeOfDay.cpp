#include "rtl/TimeOfDay.h"

#include <chrono>

namespace harvolin
{

namespace
{

class TSystemTimeOfDay final : public ITimeOfDaySource
{
public:
    TTimeOfDay Now() const override
    {
        using namespace std::chrono;
        const auto now = system_clock::now();
        const auto sinceMidnight = now - floor<days>(now);
        const hh_mm_ss<milliseconds> parts{duration_cast<milliseconds>(sinceMidnight)};
        return TTimeOfDay{static_cast<int>(parts.hours().count()), static_cast<int>(parts.minutes().count()),
                          static_cast<int>(parts.seconds().count()),
                          static_cast<int>(parts.subseconds().count())};
    }
};

}   // namespace

std::uint32_t MillisecondsOfDay(const TTimeOfDay& time)
{
    return ((static_cast<std::uint32_t>(time.Hour) * 60u + static_cast<std::uint32_t>(time.Minute)) * 60u +
            static_cast<std::uint32_t>(time.Second)) *
               1000u +
           static_cast<std::uint32_t>(time.Millisecond);
}

const ITimeOfDaySource& SystemTimeOfDay()
{
    static const TSystemTimeOfDay clock;
    return clock;
}

}   // namespace harvolin
