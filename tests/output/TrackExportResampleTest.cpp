// Tracks saved with "Re-Sample": written as a WAV, converted, and only then
// placed or encoded; a conversion that fails or is stopped leaves nothing.

#include "output/CResampler.h"
#include "output/CTrackExporter.h"
#include "output/DurableFiles.h"
#include "output/OutputNames.h"
#include "settings/SettingsStore.h"
#include "tests/output/SaveSession.h"
#include "tests/support/FlacTestFiles.h"
#include "tests/support/WavWriter.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

// One second of the recording, saved gapless on both sides: no silence and
// no fades, so the output is the conversion of the working samples alone.
constexpr int64_t kFirst = 1000;
constexpr int64_t kFrames = 44100;

ExportOptions Resampled(int fileType, int rate, int bits)
{
    ExportOptions o;
    o.fileType = fileType;
    o.resample = true;
    o.resampleTo.rate = rate;
    o.resampleTo.bits = bits;
    return o;
}

// What an export left in the folder besides the recording and its working
// copy: partial files and folders, converter files.
std::vector<std::string> Leftovers(const test::SaveSession& s)
{
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(s.dir.path())) {
        const std::string name = e.path().filename().string();
        if (name.find(kPartialNameMark) != std::string::npos || name.find(".rsmp") != std::string::npos ||
            name.find("pass1") != std::string::npos)
            found.push_back(name);
    }
    return found;
}

TEST(TrackExportResample, WavAndFlacOutputs_HoldTheConvertedTrack)
{
    auto s = test::OpenForSave(60000, {{kFirst, kFirst + kFrames}});
    {
        CTrackExporter exporter(*s->doc, Resampled(kFileTypeWav, 48000, 24));
        ASSERT_EQ(exporter.WriteTrack(1, 1, s->Out("t.wav"), true, true), WriteResult::Written);
    }
    const test::WavContents wav = test::ReadWavSamples(s->Out("t.wav"));
    ASSERT_TRUE(wav.ok()) << wav.error;
    EXPECT_EQ(wav.rate, 48000);
    EXPECT_EQ(wav.bits, 24);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.samples.size(), 2u * 48000);
    // It is what the converter makes of the track saved without resampling.
    {
        CTrackExporter exporter(*s->doc, ExportOptions{});
        ASSERT_EQ(exporter.WriteTrack(1, 1, s->Out("plain.wav"), true, true), WriteResult::Written);
    }
    ResampleSettings to;
    to.rate = 48000;
    to.bits = 24;
    ASSERT_EQ(ConvertWaveFile(s->Out("plain.wav"), to, ResampleRun{&s->ui, nullptr, {}}), 0);
    EXPECT_EQ(test::ReadWavSamples(s->Out("plain.wav.rsmp")).samples, wav.samples);
    fs::remove(s->Out("plain.wav.rsmp"));

    const auto& windows = s->ui.Progresses();
    EXPECT_TRUE(std::any_of(windows.begin(), windows.end(), [](const auto& log) {
        return std::find(log->messages.begin(), log->messages.end(), "Resampling...") != log->messages.end();
    }));

    {
        CTrackExporter exporter(*s->doc, Resampled(kFileTypeFlac, 48000, 24));
        ASSERT_EQ(exporter.WriteTrack(1, 1, s->Out("t.flac"), true, true), WriteResult::Written);
    }
    const test::FlacContents flac = test::DecodeFlac(s->Out("t.flac"));
    ASSERT_TRUE(flac.ok) << flac.error;
    EXPECT_EQ(flac.sampleRate, 48000);
    EXPECT_EQ(flac.bits, 24);
    EXPECT_EQ(flac.samples, wav.samples);
    EXPECT_TRUE(Leftovers(*s).empty());
}

TEST(TrackExportResample, FailedConversion_ReportsAndLeavesNothing)
{
    auto s = test::OpenForSave(60000, {{kFirst, kFirst + kFrames}});
    const std::string refusal = "Resampling from 44100Hz to 31500Hz is not supported.\n"
                                "31500/gcd(44100,31500)=5 must be divided by 2 or 3.\n";
    for (int i = 0; i < 2; ++i) s->ui.Expect({refusal, MbAnswer::Ok, std::nullopt, MbButtons::Ok, MbIcon::Error});
    for (int type : {kFileTypeWav, kFileTypeFlac}) {
        SCOPED_TRACE(type);
        CTrackExporter exporter(*s->doc, Resampled(type, 31500, 16));
        const std::string out = s->Out(type == kFileTypeWav ? "t.wav" : "t.flac");
        EXPECT_EQ(exporter.WriteTrack(1, 1, out, true, true), WriteResult::Failed);
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(Leftovers(*s).empty());
    }
    s->ui.ExpectDone();
}

TEST(TrackExportResample, AbortDuringTheConversion_LeavesTheOldFileAndNothingElse)
{
    auto s = test::OpenForSave(60000, {{kFirst, kFirst + kFrames}});
    ASSERT_TRUE(test::WriteFileBytes(s->Out("t.flac"), {7, 7, 7}));
    // Cancel is pressed as the track's last position is shown, after the
    // last test of the writing loop: the converter's first test sees it.
    s->ui.OnCreateProgress([](test::RecordingProgress& p, size_t) { p.CancelAtPos(static_cast<int32_t>(kFrames * 4)); });
    s->ui.Expect("Really Abort?", MbAnswer::Yes);
    CTrackExporter exporter(*s->doc, Resampled(kFileTypeFlac, 96000, 16));
    exporter.SetReplaceExisting(true);
    EXPECT_EQ(exporter.WriteTrack(1, 1, s->Out("t.flac"), true, true), WriteResult::Cancelled);
    EXPECT_TRUE(exporter.Cancelled());
    s->ui.ExpectDone();
    EXPECT_EQ(test::ReadFileBytes(s->Out("t.flac")), (std::vector<uint8_t>{7, 7, 7}));
    EXPECT_TRUE(Leftovers(*s).empty());
}

TEST(TrackExportResample, Options_ReadAndStoreTheResampleChoice)
{
    CMemorySettings store;
    store.Set(settings::Resample, 1);
    store.Set(settings::ResampleRate, 96000);
    store.Set(settings::ResampleBits, 24);
    store.Set(settings::ResampleDither, 3);
    ExportOptions o = ExportOptions::FromSettings(store);
    EXPECT_TRUE(o.resample);
    EXPECT_EQ(o.resampleTo.rate, 96000);
    EXPECT_EQ(o.resampleTo.bits, 24);
    EXPECT_EQ(o.resampleTo.dither, DitherType::Ath);
    o.Store(store, false);
    EXPECT_EQ(store.Get(settings::Resample), 0);
    EXPECT_EQ(store.Get(settings::ResampleRate), 96000);
    o.Store(store, true);
    EXPECT_EQ(store.Get(settings::Resample), 1);
}

}  // namespace
}  // namespace kelvane
