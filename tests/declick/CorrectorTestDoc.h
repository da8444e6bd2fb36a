#pragma once

#include "declick/CCorrector.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/EventRecord.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvane::test {

// One recording loaded into a document of its own, with a corrector over it.
// The recording and its working file live in the struct's own scratch folder.
struct CorrectorTestDoc {
    TempDir dir;
    CMemorySettings settings;
    ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::unique_ptr<CCorrector> corrector;

    // Writes samples (interleaved stereo) as side.wav and loads it without a
    // scan; a failure fails the calling test.
    void Load(const std::vector<int32_t>& samples, int rate = 44100, int bits = 16)
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        WavOptions opts;
        opts.sampleRate = rate;
        opts.bits = bits;
        ASSERT_TRUE(WriteWav(dir.file("side.wav"), opts, samples));
        ASSERT_TRUE(OpenRecording(doc, dir.file("side.wav").string()).Ok());
        ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
        corrector = std::make_unique<CCorrector>(doc);
    }
    // The byte position of frame, at four bytes a frame.
    int32_t Pos(int frame) const { return doc.dataStart + 4 * frame; }
    EventRecord Record(int frame, int32_t width, int32_t pass = 1) const { return {pass, 0, Pos(frame), width, 0}; }
    std::vector<int32_t> Working() const { return ReadWavSamples(doc.workingPath).samples; }
    bool Correct(int frame, int32_t width, int32_t pass = 1) { return corrector->CorrectOne(Record(frame, width, pass)); }
};

}  // namespace kelvane::test
