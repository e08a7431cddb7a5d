#pragma once
// The end of the program's chain without a device: takes every audio buffer and lets it go at once.
#include "pins/ALStreamTypes.h"
#include "rtl/Component.h"

#include <atomic>
#include <cstdint>

namespace harvolin
{
namespace bench
{

class TDroppingSink final : public TComponent
{
public:
    explicit TDroppingSink(TComponent* owner) : TComponent(owner) {}
    ~TDroppingSink() override { InputPin.Disconnect(); }

    // Operations of any kind received so far; read from any thread.
    [[nodiscard]] std::uint64_t Received() const noexcept
    {
        return FReceived.load(std::memory_order_relaxed);
    }

    TALOWAudioSinkPin InputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>&)
        {
            FReceived.fetch_add(1, std::memory_order_relaxed);
            return true;
        }};
private:
    std::atomic<std::uint64_t> FReceived{0};
};

}   // namespace bench
}   // namespace harvolin
