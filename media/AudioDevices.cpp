#include "media/AudioDevices.h"
#include "media/AlsaAudioDevice.h"
#include "media/AudioRenderer.h"
#include "rtl/Diagnostics.h"
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace harvolin
{
namespace
{

constexpr char kAlsaDefaultPcm[] = "default";
constexpr std::string_view kDeviceNamePrefix = "@device:";

struct TNullRendererSettings
{
    std::mutex Lock;
    TNullAudioDevice::TOptions Options;   // guarded by Lock
};

TNullRendererSettings& NullRendererSettings()
{
    static TNullRendererSettings settings;
    return settings;
}

std::string DeviceDisplayName(std::string_view kind, std::string_view name)
{
    return std::string(kDeviceNamePrefix) + std::string(kind) + ":" +
           GuidToString(CLSID_AudioRendererCategory) + "\\" + std::string(name);
}

// The default renderer's device: ALSA's `default`, or, when that cannot be opened on a machine without a
// sound card, the null device. The choice is made at every Open, so that a sound server started later is
// found at the next connection.
//
// Threads as IAudioDevice says: Open and Close come from the renderer one at a time, Stop and FramesPlayed
// from any thread. Those read FActive, which only Open changes; both devices live as long as this one, so
// a reader holding the previous choice still reads a live device.
class TDefaultAudioDevice final : public IAudioDevice
{
public:
    explicit TDefaultAudioDevice(TNullAudioDevice::TOptions nullOptions)
        : FAlsa(std::make_unique<TAlsaAudioDevice>(kAlsaDefaultPcm)), FNullOptions(std::move(nullOptions))
    {
        FActive.store(FAlsa.get(), std::memory_order_release);
    }
    TDefaultAudioDevice(const TDefaultAudioDevice&) = delete;
    TDefaultAudioDevice& operator=(const TDefaultAudioDevice&) = delete;

    [[nodiscard]] std::string Name() const override { return Active().Name(); }
    TDeviceResult Open(const TPcmFormat& format) override
    {
        TDeviceResult opened = FAlsa->Open(format);
        FStandInReason.clear();
        if (opened.Ok() || AlsaSoundCardCount() > 0)
        {
            FActive.store(FAlsa.get(), std::memory_order_release);
            return opened;
        }
        if (!FNull)
            FNull = std::make_unique<TNullAudioDevice>(FNullOptions);
        FActive.store(FNull.get(), std::memory_order_release);
        TDeviceResult fallback = FNull->Open(format);
        if (!fallback.Ok())
            return {fallback.Status, opened.Message + "; " + fallback.Message};
        ReportFailure("audio renderer '" + std::string(kAlsaDefaultPcm) + "'", "opening the device",
                      "no sound device could be opened: playing on the null renderer (" + opened.Message +
                          ")");
        FStandInReason = opened.Message;
        return fallback;
    }
    TDeviceResult Start() override { return Active().Start(); }
    void Pause() override { Active().Pause(); }
    TDeviceResult Write(const std::uint8_t* frames, std::uint32_t frameCount) override
    {
        return Active().Write(frames, frameCount);
    }
    void Stop() override { Active().Stop(); }
    void Close() override { Active().Close(); }
    [[nodiscard]] std::int64_t FramesPlayed() const override { return Active().FramesPlayed(); }
    [[nodiscard]] std::string StandInReason() const override { return FStandInReason; }
private:
    [[nodiscard]] IAudioDevice& Active() const { return *FActive.load(std::memory_order_acquire); }

    const std::unique_ptr<IAudioDevice> FAlsa;
    const TNullAudioDevice::TOptions FNullOptions;
    std::unique_ptr<TNullAudioDevice> FNull;   // made at the first fallback; written by Open only
    std::atomic<IAudioDevice*> FActive{nullptr};
    std::string FStandInReason;   // written by Open only
};

enum class TRendererKind
{
    Alsa,
    Null,
    Default
};

// What a device moniker knows without making anything: its friendly name.
class TDevicePropertyBag final : public TComObject<IPropertyBag>
{
public:
    explicit TDevicePropertyBag(std::string friendlyName) : FFriendlyName(std::move(friendlyName)) {}

    HRESULT Read(const char* name, std::string* value) override
    {
        if (name == nullptr || value == nullptr)
            return E_POINTER;
        if (std::string_view(name) != "FriendlyName")
            return E_INVALIDARG;
        *value = FFriendlyName;
        return S_OK;
    }
private:
    const std::string FFriendlyName;
};

TGUID RendererClass(TRendererKind kind)
{
    return kind == TRendererKind::Null ? CLSID_NullAudioRenderer : CLSID_AlsaAudioRenderer;
}

class TAudioRendererMoniker final : public TNamedMoniker
{
public:
    TAudioRendererMoniker(TRendererKind kind, std::string pcmName, std::string friendlyName,
                          std::string displayName)
        : TNamedMoniker(std::move(displayName), RendererClass(kind)), FKind(kind),
          FPcmName(std::move(pcmName)), FFriendlyName(std::move(friendlyName))
    {
    }

    HRESULT BindToObject(IBindCtx* context, IMoniker* left, const TGUID& iid, void** object) override
    {
        (void)context;
        if (const HRESULT begun = BeginBind(left, object); begun != S_OK)
            return begun;
        try
        {
            auto filter = MakeComObject<TAudioRenderer, IBaseFilter>(MakeDevice(), RendererClass(FKind));
            return filter->QueryInterface(iid, object);
        }
        catch (const std::bad_alloc&)
        {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT BindToStorage(IBindCtx* context, IMoniker* left, const TGUID& iid, void** object) override
    {
        (void)context;
        if (const HRESULT begun = BeginBind(left, object); begun != S_OK)
            return begun;
        if (iid != IPropertyBag::kIID && iid != IUnknown::kIID)
            return E_NOINTERFACE;
        auto bag = MakeComObject<TDevicePropertyBag, IPropertyBag>(FFriendlyName);
        return bag->QueryInterface(iid, object);
    }
private:
    [[nodiscard]] std::unique_ptr<IAudioDevice> MakeDevice() const
    {
        switch (FKind)
        {
        case TRendererKind::Alsa:
            return std::make_unique<TAlsaAudioDevice>(FPcmName);
        case TRendererKind::Null:
            return std::make_unique<TNullAudioDevice>(NullRendererOptions());
        case TRendererKind::Default:
            break;
        }
        return std::make_unique<TDefaultAudioDevice>(NullRendererOptions());
    }

    const TRendererKind FKind;
    const std::string FPcmName;
    const std::string FFriendlyName;
};

TRefPtr<IMoniker> MakeAlsaMoniker(const TAlsaPcmHint& hint)
{
    return MakeComObject<TAudioRendererMoniker, IMoniker>(
        TRendererKind::Alsa, hint.Name, hint.Description.empty() ? hint.Name : hint.Description,
        DeviceDisplayName("alsa", hint.Name));
}

TRefPtr<IMoniker> MakeNullMoniker()
{
    return MakeComObject<TAudioRendererMoniker, IMoniker>(
        TRendererKind::Null, std::string(), kNullAudioRendererFriendlyName, kNullAudioRendererDisplayName);
}

}   // namespace

void SetNullRendererOptions(TNullAudioDevice::TOptions options)
{
    TNullRendererSettings& settings = NullRendererSettings();
    std::lock_guard lock(settings.Lock);
    settings.Options = std::move(options);
}

TNullAudioDevice::TOptions NullRendererOptions()
{
    TNullRendererSettings& settings = NullRendererSettings();
    std::lock_guard lock(settings.Lock);
    return settings.Options;
}

std::vector<TRefPtr<IMoniker>> ListAudioRenderers()
{
    std::vector<TRefPtr<IMoniker>> monikers;
    for (const TAlsaPcmHint& hint : ListAlsaPlaybackPcms())
        monikers.push_back(MakeAlsaMoniker(hint));
    monikers.push_back(MakeNullMoniker());
    return monikers;
}

TRefPtr<IMoniker> DefaultAudioRendererMoniker()
{
    return MakeComObject<TAudioRendererMoniker, IMoniker>(TRendererKind::Default, kAlsaDefaultPcm,
                                                          kDefaultAudioRendererFriendlyName,
                                                          kDefaultAudioRendererDisplayName);
}

TRefPtr<IMoniker> ParseAudioRendererDisplayName(std::string_view displayName)
{
    constexpr std::size_t kGuidLength = 38;
    if (!displayName.starts_with(kDeviceNamePrefix))
        return nullptr;
    std::string_view rest = displayName.substr(kDeviceNamePrefix.size());
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos || rest.size() < colon + 1 + kGuidLength)
        return nullptr;
    const std::string_view kind = rest.substr(0, colon);
    const std::optional<TGUID> category = TryParseGuid(rest.substr(colon + 1, kGuidLength));
    if (!category || *category != CLSID_AudioRendererCategory)
        return nullptr;
    const std::string_view tail = rest.substr(colon + 1 + kGuidLength);
    if (kind == "*" && tail.empty())
        return DefaultAudioRendererMoniker();
    if (kind == "null" && tail == "\\null")
        return MakeNullMoniker();
    if (kind != "alsa" || tail.size() < 2 || tail.front() != '\\')
        return nullptr;
    // A PCM that ALSA does not list (a plain "hw:0,0") can still be opened: it is named by itself.
    const std::string_view pcmName = tail.substr(1);
    for (const TAlsaPcmHint& hint : ListAlsaPlaybackPcms())
        if (hint.Name == pcmName)
            return MakeAlsaMoniker(hint);
    return MakeAlsaMoniker({std::string(pcmName), std::string()});
}

}   // namespace harvolin
