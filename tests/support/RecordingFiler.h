#pragma once
#include "rtl/Persistent.h"
#include <functional>
#include <string>
#include <string_view>

namespace harvolin::testing
{

// Records what an object offers to store beside its published properties, so that a test can look at the
// value written and feed a value to the reader as a stored description would.
class TRecordingFiler final : public TFiler
{
public:
    void DefineProperty(std::string_view name, const std::function<void(const TDescValue&)>& read,
                        const std::function<TDescValue()>& write, bool hasData) override
    {
        Name = name;
        Read = read;
        HasData = hasData;
        if (hasData)
            Written = write();
    }

    std::string Name;
    std::function<void(const TDescValue&)> Read;
    bool HasData = false;
    TDescValue Written;
};

}   // namespace harvolin::testing
