#pragma once
// A loaded recording to save from: noise in a private folder, with tracks
// over given frame ranges titled "A", "B", ..., scripted answers and the
// working file beside the input; and the requests and the stand-in external
// encoders the save tests make for it.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "output/SaveTracks.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

// One track over the whole recording, as removing all boundaries leaves it.
inline void AddWholeTrack(SaveSession& s)
{
    TrackRecord whole = s.doc->tracks.At(0);
    s.doc->tracks.Add(whole);
}

// Saves the selected tracks (empty: all) into the session's folder.
inline SaveRequest Request(const SaveSession& s, std::vector<bool> selected, const std::string& rule = "#",
                           bool close = false)
{
    SaveRequest r;
    r.selected = std::move(selected);
    r.folder = s.Folder();
    r.rule = rule;
    r.close = close;
    return r;
}

// An external encoder stand-in at s.Out(name): a shell script that takes
// the WAV after -i as $in and the output after -o as $out, then runs body.
// recordArguments: it first writes its arguments, NUL-separated, to args.bin
// beside itself.
inline std::string StandInEncoder(const SaveSession& s, const std::string& name, const std::string& body,
                                  bool recordArguments = false)
{
    const std::string path = s.Out(name);
    std::ofstream script(path);
    script << "#!/bin/sh\n";
    if (recordArguments) script << "printf '%s\\0' \"$@\" > \"$(dirname \"$0\")/args.bin\"\n";
    script << "in=''; out=''\n"
              "while [ $# -gt 0 ]; do\n"
              "  case \"$1\" in -i) in=\"$2\"; shift ;; -o) out=\"$2\"; shift ;; esac; shift\n"
              "done\n"
           << body << "\n";
    script.close();
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

}  // namespace kelvane::test
