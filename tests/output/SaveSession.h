#pragma once
// A loaded recording to save from: noise in a private folder, with tracks
// over given frame ranges titled "A", "B", ..., scripted answers and the
// working file beside the input. Shared by the save tests.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

struct SaveSession {
    TempDir dir{"kelvane-save"};
    CMemorySettings settings;
    ScriptedInteraction ui;
    std::unique_ptr<CQuillon3Doc> doc;
    std::string input;
    std::string Folder() const { return dir.path().string() + "/"; }
    std::string Out(const std::string& name) const { return Folder() + name; }
};

inline std::unique_ptr<SaveSession> OpenForSave(size_t frames, const std::vector<std::pair<int64_t, int64_t>>& ranges)
{
    auto s = std::make_unique<SaveSession>();
    s->settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    s->doc = std::make_unique<CQuillon3Doc>(s->settings, s->ui);
    s->input = s->dir.file("side.wav").string();
    EXPECT_TRUE(WriteWav(s->input, {}, Noise(8, 9000, frames)));
    EXPECT_TRUE(OpenRecording(*s->doc, s->input).Ok());
    EXPECT_EQ(LoadRecording(*s->doc, nullptr), LoadOutcome::Completed);
    char title = 'A';
    for (const auto& [first, last] : ranges) {
        TrackRecord t;
        t.start = static_cast<int32_t>(s->doc->dataStart + first * 4);
        t.end = static_cast<int32_t>(s->doc->dataStart + last * 4);
        t.title = std::string(1, title++);
        s->doc->tracks.Add(t);
    }
    s->doc->SetModifiedFlag(true);
    return s;
}

}  // namespace kelvane::test
