#include "gen/SLSignalGen.h"

namespace harvolin
{
namespace
{

// Set by the constructor and published as SignalType's default: a tone.
constexpr TSLSignalType kDefaultSignalType = stTone;

// Readable from a window's description by class name from the start of the program.
const TComponentClassRegistration<TSLSignalGen> GRegistration;

}   // namespace

TSLSignalGen::TSLSignalGen(TComponent* owner)
    : TSLCommonRealGen(owner), FrequencyPin(this, 0, [this](TOWPin*, float value) { SetFrequency(value); })
{
    FWave.SetSignalType(kDefaultSignalType);
    FWave.SetAmplitude(20000.0);
    SetFrequency(500.0);
}

TSLSignalGen::~TSLSignalGen()
{
    // The clock stops before the synthesis state goes.
    BeforeDestruction();
}

const TClassInfo& TSLSignalGen::StaticClassInfo()
{
    auto real = [](const char* name, double (TSLSignalGen::*get)() const, void (TSLSignalGen::*set)(double))
    {
        TPropertyInfo info;
        info.Name = name;
        info.Kind = TPropertyKind::pkFloat;
        info.Get = [get](const TPersistent& o)
        { return TDescValue::Float((static_cast<const TSLSignalGen&>(o).*get)()); };
        info.Set = [set](TPersistent& o, const TDescValue& v)
        { (static_cast<TSLSignalGen&>(o).*set)(v.AsFloat()); };
        return info;
    };
    static const TClassInfo info = [&]
    {
        std::vector<TPropertyInfo> properties =
            TPropertyList<TSLSignalGen>()
                .Enumeration<TSLSignalType>(
                    "SignalType", {"stTone", "stTriangle", "stSquare", "stDc", "stJaehne"},
                    [](const TSLSignalGen& g) { return g.SignalType(); },
                    [](TSLSignalGen& g, TSLSignalType value) { g.SetSignalType(value); }, kDefaultSignalType)
                .Take();
        properties.push_back(real("Phase", &TSLSignalGen::Phase, &TSLSignalGen::SetPhase));
        properties.push_back(real("Amplitude", &TSLSignalGen::Amplitude, &TSLSignalGen::SetAmplitude));
        properties.push_back(real("Frequency", &TSLSignalGen::Frequency, &TSLSignalGen::SetFrequency));
        properties.push_back(real("Offset", &TSLSignalGen::Offset, &TSLSignalGen::SetOffset));
        properties.push_back(real("Asymmetry", &TSLSignalGen::Asymmetry, &TSLSignalGen::SetAsymmetry));
        properties.push_back(TPropertyList<TSLSignalGen>()
                                 .Object("FrequencyPin", [](TSLSignalGen& g) { return &g.FrequencyPin; })
                                 .Take()[0]);
        return TClassInfo("TSLSignalGen", &TSLCommonRealGen::StaticClassInfo(), std::move(properties));
    }();
    return info;
}

TSLSignalType TSLSignalGen::SignalType() const
{
    TOWReadLockSection lock(GenLock);
    return FWave.SignalType();
}

void TSLSignalGen::SetSignalType(TSLSignalType value)
{
    TOWWriteLockSection lock(GenLock);
    FWave.SetSignalType(value);
}

double TSLSignalGen::Phase() const
{
    TOWReadLockSection lock(GenLock);
    return FWave.Phase();
}

void TSLSignalGen::SetPhase(double value)
{
    TOWWriteLockSection lock(GenLock);
    FWave.SetPhase(value);
}

double TSLSignalGen::Amplitude() const
{
    TOWReadLockSection lock(GenLock);
    return FWave.Amplitude();
}

void TSLSignalGen::SetAmplitude(double value)
{
    TOWWriteLockSection lock(GenLock);
    FWave.SetAmplitude(value);
}

double TSLSignalGen::Frequency() const
{
    TOWReadLockSection lock(GenLock);
    return FWave.Frequency();
}

void TSLSignalGen::SetFrequency(double value)
{
    bool changed = false;
    double stored = 0.0;
    {
        TOWWriteLockSection lock(GenLock);
        changed = FWave.SetFrequency(value);
        stored = FWave.Frequency();
    }
    // Outside GenLock: the pin's group may hold peers of other components. A value the pin holds already
    // (it came from a peer) sends nothing.
    if (changed)
        FrequencyPin.SetValue(static_cast<float>(stored));
}

double TSLSignalGen::Offset() const
{
    TOWReadLockSection lock(GenLock);
    return FWave.Offset();
}

void TSLSignalGen::SetOffset(double value)
{
    TOWWriteLockSection lock(GenLock);
    FWave.SetOffset(value);
}

double TSLSignalGen::Asymmetry() const
{
    TOWReadLockSection lock(GenLock);
    return FWave.Asymmetry();
}

void TSLSignalGen::SetAsymmetry(double value)
{
    TOWWriteLockSection lock(GenLock);
    FWave.SetAsymmetry(value);
}

void TSLSignalGen::ResetState()
{
    TOWWriteLockSection lock(GenLock);
    FWave.ResetState();
}

void TSLSignalGen::SampleRateChanged(double rate)
{
    TOWWriteLockSection lock(GenLock);
    FWave.SampleRateChanged(rate);
}

void TSLSignalGen::GenerateBlock(TSLRealBuffer& buffer, bool& send, bool& stopAfter)
{
    (void)send;
    (void)stopAfter;
    FWave.GenerateBlock(buffer.GetWrite(), static_cast<std::int32_t>(buffer.GetSize()));
}

}   // namespace harvolin
