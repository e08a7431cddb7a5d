#pragma once
#include "tests/audioout/ALDSAudioOutTestSupport.h"
#include "tests/support/ToneMeter.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace harvolin::testing
{

// One line of the sound-quality table: a tone of the window's range at a volume of its range.
struct TQualityCase
{
    double FrequencyHz = 1000.0;
    int VolumePercent = 100;

    // The window's scale: p % is an amplitude of p x 320 in 16-bit steps, so 100 % is -0.2 dBFS.
    [[nodiscard]] double Amplitude() const { return VolumePercent * 320.0; }
    [[nodiscard]] double ExpectedDbfs() const { return AmplitudeToDbfs(Amplitude()); }
};

// Every tone at every volume, volume by volume: neighbours always differ in frequency, which is how each
// is found again in a recording whatever the output's delay. The highest, 19 999 Hz, is below half of every
// device rate tested (22 050 at 44 100) and inside the converter's pass band, so it must arrive at its level
// like the others: none of these tones is one a device should filter away.
inline std::vector<TQualityCase> QualityCases()
{
    std::vector<TQualityCase> cases;
    for (const int volume : {1, 25, 100})
        for (const double frequency : {1000.0, 5000.0, 10000.0, 15000.0, 19000.0, 19999.0})
            cases.push_back({frequency, volume});
    return cases;
}

// How long each tone plays, in stream time.
inline constexpr std::int64_t kQualitySegmentMicroseconds = 600000;
// The windows that find the tones: frames each, and the step between them.
inline constexpr std::size_t kLocatorFrames = 4096;
inline constexpr std::size_t kLocatorStep = 1024;

// A run of this many frames that are exactly zero in every channel is silence that was put in the tone's
// place: no tone of the table stays at zero for more than a sample or two.
inline constexpr std::size_t kGapFrames = 8;

// What one tone measured in a recording, per channel, and where it was.
struct TQualityRow
{
    TQualityCase Case;
    std::vector<TToneAnalysis> Channels;
    std::size_t FirstFrame = 0;   // the part analysed
    std::size_t FrameCount = 0;
    std::size_t Gaps = 0;   // silences inside the tone's stretch, left out of the part analysed
    std::size_t GapFrames = 0;
};

// The longest part of frames [begin, end) without silence in it, as first frame and count; the silences
// found are counted into the row.
inline std::pair<std::size_t, std::size_t>
LongestUnbrokenPart(const TPcmRecording& recording, std::size_t begin, std::size_t end, TQualityRow& row)
{
    const auto silent = [&](std::size_t frame)
    {
        for (std::uint16_t channel = 0; channel < recording.Channels; ++channel)
            if (recording.Samples[frame * recording.Channels + channel] != 0)
                return false;
        return true;
    };
    std::pair<std::size_t, std::size_t> longest{begin, 0};
    std::size_t partStart = begin;
    std::size_t frame = begin;
    while (frame < end)
    {
        std::size_t zeros = 0;
        while (frame + zeros < end && silent(frame + zeros))
            ++zeros;
        if (zeros >= kGapFrames || frame + zeros == end)
        {
            if (frame - partStart > longest.second)
                longest = {partStart, frame - partStart};
            if (zeros >= kGapFrames)
            {
                ++row.Gaps;
                row.GapFrames += zeros;
            }
            partStart = frame + zeros;
        }
        frame += std::max<std::size_t>(zeros, 1);
    }
    if (end - partStart > longest.second && partStart < end)
        longest = {partStart, end - partStart};
    return longest;
}

// The stretches of the recording that carry each case, found in order by their frequency, and measured
// away from their edges: a locator window that shows a tone holds some of it, so everything from a window's
// length past the first such window to the start of the last one is that tone alone; a hundredth of a
// second more on either side leaves the converter's ringing at a change out. A case that is not found has
// no channels.
inline std::vector<TQualityRow> MeasureQualitySequence(const TPcmRecording& recording,
                                                       const std::vector<TQualityCase>& cases)
{
    const std::size_t frames = recording.Frames();
    const std::span<const std::int16_t> samples(recording.Samples);
    const double tolerance = std::max(50.0, 3.0 * recording.Rate / static_cast<double>(kLocatorFrames));
    // The strongest component of each locator window (channel 0), or 0 where it is silent.
    std::vector<double> dominant;
    for (std::size_t at = 0; at + kLocatorFrames <= frames; at += kLocatorStep)
    {
        const TToneAnalysis window =
            AnalyseTone(samples.subspan(at * recording.Channels, kLocatorFrames * recording.Channels),
                        recording.Channels, 0, recording.Rate, 0.0);
        dominant.push_back(window.LevelDbfs > -80.0 ? window.FrequencyHz : 0.0);
    }
    const auto margin = static_cast<std::size_t>(recording.Rate / 100);
    std::vector<TQualityRow> rows;
    std::size_t next = 0;
    for (const TQualityCase& wanted : cases)
    {
        TQualityRow row{wanted, {}, 0, 0};
        const auto matches = [&](std::size_t k)
        { return std::abs(dominant[k] - wanted.FrequencyHz) < tolerance; };
        std::size_t first = next;
        while (first < dominant.size() && !matches(first))
            ++first;
        std::size_t last = first;
        while (last + 1 < dominant.size() && matches(last + 1))
            ++last;
        if (first < dominant.size())
        {
            next = last + 1;
            const std::size_t begin = first * kLocatorStep + kLocatorFrames + margin;
            const std::size_t end = last * kLocatorStep > margin ? last * kLocatorStep - margin : 0;
            if (end > begin + kLocatorFrames)
                std::tie(row.FirstFrame, row.FrameCount) = LongestUnbrokenPart(recording, begin, end, row);
            if (row.FrameCount > kLocatorFrames)
                row.Channels =
                    MeasureRecording(recording, static_cast<double>(row.FirstFrame) / recording.Rate,
                                     static_cast<double>(row.FrameCount) / recording.Rate, "tone");
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Whether silence inside a tone is the output's fault. A device that records what it is given never gets
// any from the program; a sound server fills the time it was given nothing in with silence (an underrun,
// when the machine kept the player from the CPU longer than the device holds), which is no fault of the
// sound's quality and is reported beside it.
enum class TGaps
{
    Fail,
    Report
};

// The listener's checks on every row: the tone at its frequency within frequencyToleranceHz and at its
// level within kToneLevelToleranceDb, nothing else above kSpurLimitDbfs, in every channel.
inline void ExpectQuality(const std::vector<TQualityRow>& rows, const std::string& output,
                          double frequencyToleranceHz, TGaps gaps)
{
    for (const TQualityRow& row : rows)
    {
        const std::string what = output + ", " + std::to_string(row.Case.FrequencyHz) + " Hz at " +
                                 std::to_string(row.Case.VolumePercent) + " %";
        ASSERT_FALSE(row.Channels.empty()) << what << ": the tone was not found in the recording";
        if (gaps == TGaps::Fail)
        {
            EXPECT_EQ(row.Gaps, 0u) << what << ": " << row.GapFrames << " frames of silence inside the tone";
        }
        // Enough frames that the window's main lobe is narrow beside the tones' spacing.
        EXPECT_GE(row.Channels[0].FftSize, 8192u) << what;
        for (std::size_t channel = 0; channel < row.Channels.size(); ++channel)
        {
            const TToneAnalysis& tone = row.Channels[channel];
            EXPECT_NEAR(tone.FrequencyHz, row.Case.FrequencyHz, frequencyToleranceHz)
                << what << ", channel " << channel;
            EXPECT_NEAR(tone.LevelDbfs, row.Case.ExpectedDbfs(), kToneLevelToleranceDb)
                << what << ", channel " << channel;
            EXPECT_LT(tone.SpurDbfs, kSpurLimitDbfs)
                << what << ", channel " << channel << ": a component at " << tone.SpurFrequencyHz << " Hz";
        }
    }
}

// The table, as Markdown: printed to the test's output and written to <folder>/sound-quality-<output>.md.
inline std::string QualityTable(const std::vector<TQualityRow>& rows, const std::string& output,
                                std::uint32_t rate)
{
    const auto fixed = [](double value, int decimals)
    {
        std::ostringstream text;
        text << std::fixed << std::setprecision(decimals) << value;
        return text.str();
    };
    std::ostringstream table;
    table << "Sound quality: " << output << ", recorded at " << rate << " frames/s\n\n"
          << "| Tone (Hz) | Volume | Expected (dBFS) | Measured L / R (dBFS) | Error (dB) | Frequency (Hz) "
             "| Strongest other (dBFS at Hz) | Frames analysed | Silences (ms) |\n"
          << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const TQualityRow& row : rows)
    {
        table << "| " << fixed(row.Case.FrequencyHz, 0) << " | " << row.Case.VolumePercent << " % | "
              << fixed(row.Case.ExpectedDbfs(), 3) << " | ";
        if (row.Channels.empty())
        {
            table << "not found | | | | | |\n";
            continue;
        }
        double worstError = 0.0;
        const TToneAnalysis* loudestSpur = &row.Channels[0];
        std::string levels;
        for (const TToneAnalysis& tone : row.Channels)
        {
            levels += (levels.empty() ? "" : " / ") + fixed(tone.LevelDbfs, 3);
            const double error = tone.LevelDbfs - row.Case.ExpectedDbfs();
            if (std::abs(error) > std::abs(worstError))
                worstError = error;
            if (tone.SpurDbfs > loudestSpur->SpurDbfs)
                loudestSpur = &tone;
        }
        table << levels << " | " << fixed(worstError, 3) << " | " << fixed(row.Channels[0].FrequencyHz, 3)
              << " | " << fixed(loudestSpur->SpurDbfs, 1) << " at " << fixed(loudestSpur->SpurFrequencyHz, 0)
              << " | " << row.Channels[0].FftSize << " | "
              << (row.Gaps == 0 ? std::string("none")
                                : std::to_string(row.Gaps) + " (" +
                                      fixed(1000.0 * static_cast<double>(row.GapFrames) / rate, 1) + ")")
              << " |\n";
    }
    return table.str();
}

inline void ReportQuality(const std::vector<TQualityRow>& rows, const std::string& output, std::uint32_t rate,
                          const std::filesystem::path& folder)
{
    const std::string table = QualityTable(rows, output, rate);
    std::cout << table << std::flush;
    std::filesystem::create_directories(folder);
    const auto file = folder / ("sound-quality-" + output + ".md");
    std::ofstream(file) << table;
    EXPECT_TRUE(std::filesystem::exists(file)) << "cannot write " << file;
}

// The window's pipeline playing the quality cases one after another, each for a segment of stream time,
// on a device of the test's choosing.
class TQualityFixture : public TPipelineFixture
{
protected:
    // Loads the window's pipeline on deviceName, plays every case in turn and lets the last one play on a
    // while; serves the window thread while it waits, each wait bounded by patience.
    void PlaySequence(const std::vector<TQualityCase>& cases, const std::string& deviceName,
                      std::chrono::milliseconds patience = kPatience)
    {
        Load("csInternal", "False", deviceName);
        FGen->SetFrequency(cases.front().FrequencyHz);
        FGen->SetAmplitude(cases.front().Amplitude());
        FOut->SetEnabled(true);
        FGen->SetEnabled(true);
        for (std::size_t k = 1; k < cases.size(); ++k)
        {
            ASSERT_TRUE(ServeUntil(
                [&] { return PlayedAtLeast(static_cast<std::int64_t>(k) * kQualitySegmentMicroseconds); },
                patience))
                << "the device stopped playing before tone " << k;
            FGen->SetFrequency(cases[k].FrequencyHz);
            FGen->SetAmplitude(cases[k].Amplitude());
        }
        ASSERT_TRUE(ServeUntil(
            [&] {
                return PlayedAtLeast(static_cast<std::int64_t>(cases.size() + 1) *
                                     kQualitySegmentMicroseconds);
            },
            patience));
        FOut->SetEnabled(false);
        FGen->SetEnabled(false);
        EXPECT_EQ(FOut->DroppedBlocks(), 0u);
        FForm.reset();
    }
};

}   // namespace harvolin::testing
