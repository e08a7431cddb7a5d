#pragma once
#include "media/Crossbar.h"
#include "media/MediaInterfaces.h"
#include "rtl/RefCount.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace harvolin
{

class TComponent;

// The connector name of a physical connector type ("Audio Line", "Video Tuner", ...), "Unknown" for any
// type without one.
[[nodiscard]] std::string ConnectorName(std::int32_t physicalType);

// A source that a capture path can be switched to. Window thread.
class TVLDSCaptureSource
{
public:
    TVLDSCaptureSource() = default;
    TVLDSCaptureSource(const TVLDSCaptureSource&) = delete;
    TVLDSCaptureSource& operator=(const TVLDSCaptureSource&) = delete;
    virtual ~TVLDSCaptureSource() = default;

    [[nodiscard]] virtual std::string Name() const = 0;
    [[nodiscard]] virtual bool IsActive() const = 0;
    virtual void Activate(bool active) = 0;
};

// One switch of a route: input InputIndex to output OutputIndex of Crossbar, and with it the related pair
// when both related indices are set (-1 when none).
struct TDSCrossbarRoutingNode
{
    std::int32_t InputIndex = -1;
    std::int32_t OutputIndex = -1;
    std::int32_t RelatedInputIndex = -1;
    std::int32_t RelatedOutputIndex = -1;
    TRefPtr<IAMCrossbar> Crossbar;
    std::int32_t InputPhysicalType = 0;
    std::int32_t OutputPhysicalType = 0;
};

class TVLDSCrossbarSource;
using TVLDSCrossbarRoutings = std::vector<std::unique_ptr<TVLDSCrossbarSource>>;
using TVLDSCrossbarRoutingNodes = std::vector<TDSCrossbarRoutingNode>;

// A route through one or more crossbars to a physical connector; its first node is the one nearest to the
// pin the discovery started from, its last leads to the connector the route is named after. The calls go
// to the crossbars as they are now: a failing call counts as "not routed" and is not reported.
class TVLDSCrossbarSource final : public TVLDSCaptureSource
{
public:
    explicit TVLDSCrossbarSource(TVLDSCrossbarRoutings* routings) : FRoutings(routings) {}

    // The connector name of the first node's input; "Unknown" for a route without nodes.
    [[nodiscard]] std::string Name() const override;
    // True when every node's crossbar has the node's input switched to its output.
    [[nodiscard]] bool IsActive() const override;
    // true: when not active yet, switches every node (and its related pair when it has one; not after the
    // node's own switch failed). false does nothing: a route is left by activating another.
    void Activate(bool active) override;

    [[nodiscard]] const TVLDSCrossbarRoutingNodes& Nodes() const noexcept { return FNodes; }
    [[nodiscard]] TVLDSCrossbarRoutingNodes& Nodes() noexcept { return FNodes; }
    [[nodiscard]] TVLDSCrossbarRoutings* Routings() const noexcept { return FRoutings; }
private:
    TVLDSCrossbarRoutings* FRoutings;   // the list that owns this route
    TVLDSCrossbarRoutingNodes FNodes;
};

// Finds the routes from a pin through crossbar filters to physical connectors of one media class, and keeps
// them. The audio output owns one in audio mode and hands it its renderer's output pin after each graph
// build. Window thread; not thread-safe. Failures of the platform calls end a branch quietly.
class TDSSwitches final
{
public:
    // audio: true for audio connectors (types from PhysConn_Audio_Tuner on), false for video ones. The
    // change callback is the owner's, stored for it; discovery never calls it.
    TDSSwitches(TComponent* owner, bool audio, std::function<void()> change);
    TDSSwitches(const TDSSwitches&) = delete;
    TDSSwitches& operator=(const TDSSwitches&) = delete;

    // Follows the chain of connections from pin: each peer met must be an input pin when direction is 1,
    // an output pin when it is 0. Drops the routes of an earlier discovery first, then keeps every complete
    // route: one that leads through crossbars up to a pin that is not connected or that belongs to a filter
    // other than a crossbar. E_FAIL when pin is not connected or its peer's filter is not a crossbar; S_OK
    // otherwise, routes found or not.
    HRESULT Discover(IPin* pin, std::int32_t direction);

    [[nodiscard]] const TVLDSCrossbarRoutings& Routings() const noexcept { return FRoutings; }
    [[nodiscard]] bool Audio() const noexcept { return FAudio; }
    [[nodiscard]] TComponent* Owner() const noexcept { return FOwner; }
    [[nodiscard]] const std::function<void()>& Change() const noexcept { return FChange; }
private:
    // S_OK, E_FAIL (top level only) or kChainEnded (below it); route is the one being built below the top
    // level.
    HRESULT DiscoverFrom(IPin* pin, std::int32_t direction, std::int32_t depth, TVLDSCrossbarSource* route);
    // Whether an input of this physical type belongs to the media class sought.
    [[nodiscard]] bool Wanted(std::int32_t physicalType) const noexcept;

    TComponent* FOwner;
    TVLDSCrossbarRoutings FRoutings;
    bool FAudio;
    std::function<void()> FChange;
};

}   // namespace harvolin
