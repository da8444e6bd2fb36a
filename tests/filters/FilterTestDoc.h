#pragma once
// A loaded recording for the filter tests: a side made of the given
// samples, written as a WAV, opened and taken through the load pass as a
// tape without its hiss pass, so the working file holds the side and the
// block levels are there.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "operations/ProcessRecording.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kelvane::filtertest {

// Hiss, then music: the usual tape side.
inline std::vector<int32_t> HissThenMusic(size_t hissFrames, size_t musicFrames, int32_t hissLevel = 150,
                                          size_t fadeInFrames = 0)
{
    std::vector<int32_t> side = test::Hiss(7, hissLevel, hissFrames + musicFrames);
    test::MusicStyle style;
    style.seed = 5;
    style.peak = 0.4;
    std::vector<int32_t> music = test::Music(style, musicFrames);
    for (size_t f = 0; f < fadeInFrames && f < musicFrames; ++f)
        for (int c = 0; c < 2; ++c) music[2 * f + c] = static_cast<int32_t>(int64_t{music[2 * f + c]} * int64_t(f) / int64_t(fadeInFrames));
    test::MixInto(side, music, hissFrames);
    return side;
}

struct LoadedSide {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    std::unique_ptr<CQuillon3Doc> doc;
    std::string path;

    // Writes, opens and loads the side; false (with a test failure) when
    // anything went wrong.
    bool Load(const std::vector<int32_t>& samples, const test::WavOptions& options = {})
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        settings.Set(settings::SplitTracks, 0);
        settings.Set(settings::Sensitivity, 3);
        settings.Set(settings::Source, settings::kSourceTape);
        settings.Set(settings::Subtractor, 0);
        path = dir.file("side.wav").string();
        if (!test::WriteWav(path, options, samples)) return false;
        doc = std::make_unique<CQuillon3Doc>(settings, ui);
        if (!OpenRecording(*doc, path).Ok()) return false;
        return ProcessRecording(*doc, {}).Ok() && doc->status == kStatusNotCorrected;
    }

    std::vector<int32_t> Working() const { return test::ReadWavSamples(doc->workingPath).samples; }
    std::vector<int32_t> Source() const { return test::ReadWavSamples(path).samples; }
    int32_t FramePos(int64_t frame) const { return static_cast<int32_t>(doc->dataStart + frame * 4); }
};

}  // namespace kelvane::filtertest
