#pragma once
#include "gen/SLCommonGen.h"
#include "gen/SLWaveform.h"
#include "pins/OWStdTypes.h"

namespace harvolin
{

// The tone generator: each block the base asks for is filled by the waveform synthesis. The waveform
// parameters are published properties under GenLock: a setter waits for the block in progress, which is
// sent before the new value applies; getters share the lock with other readers. FrequencyPin mirrors
// Frequency both ways: a value a peer supplies sets Frequency, and a changed Frequency is handed to the
// peers, never echoed.
class TSLSignalGen final : public TSLCommonRealGen
{
public:
    explicit TSLSignalGen(TComponent* owner);
    ~TSLSignalGen() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] TSLSignalType SignalType() const;
    void SetSignalType(TSLSignalType value);
    [[nodiscard]] double Phase() const;
    void SetPhase(double value);
    [[nodiscard]] double Amplitude() const;
    void SetAmplitude(double value);
    [[nodiscard]] double Frequency() const;
    void SetFrequency(double value);
    [[nodiscard]] double Offset() const;
    void SetOffset(double value);
    [[nodiscard]] double Asymmetry() const;
    void SetAsymmetry(double value);

    TOWFloatIntStatePin FrequencyPin;
protected:
    void ResetState() override;
    void SampleRateChanged(double rate) override;
    void GenerateBlock(TSLRealBuffer& buffer, bool& send, bool& stopAfter) override;
private:
    TSLWaveform FWave;   // guarded by GenLock
};

}   // namespace harvolin
