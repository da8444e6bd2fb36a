// The finder on a real loaded recording: synthetic music separated by a few
// seconds of quiet record-surface noise, imported and loaded as a user's
// file would be, so the block levels come from the load pass itself.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"
#include "tracks/CTrackFinder.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

struct Piece {
    size_t startFrame, endFrame;
};

struct Side {
    std::vector<int32_t> samples;
    std::vector<Piece> pieces;
};

// Surface noise throughout; four pieces in different styles on top.
Side MakeSide(int rate)
{
    const double lengths[] = {14.0, 16.5, 13.0, 15.0};
    const double gaps[] = {3.0, 3.5, 2.0};
    const double lead = 1.5, tail = 2.0;
    double total = lead + tail;
    for (double l : lengths) total += l;
    for (double g : gaps) total += g;

    Side side;
    const auto frames = static_cast<size_t>(total * rate);
    side.samples = test::SurfaceNoise(7, frames, 40, rate);
    double at = lead;
    for (int i = 0; i < 4; ++i) {
        test::MusicStyle style;
        style.seed = 11 + static_cast<uint64_t>(i);
        style.sampleRate = rate;
        style.tempoBpm = 90 + 17 * i;
        style.rootMidi = 50 + 5 * i;
        style.minor = i % 2 == 1;
        style.peak = 0.35 + 0.1 * i;
        style.brightness = i;
        const auto start = static_cast<size_t>(at * rate);
        const auto length = static_cast<size_t>(lengths[i] * rate);
        test::MixInto(side.samples, test::Music(style, length), start);
        side.pieces.push_back({start, start + length});
        at += lengths[i] + (i < 3 ? gaps[i] : 0.0);
    }
    return side;
}

TEST(FinderRecording, MusicIsDividedInsideTheLongGapsAndJoinedOverTheShortOne)
{
    const int rate = 44100;
    const Side side = MakeSide(rate);
    test::TempDir dir;
    const std::string path = dir.file("side.wav").string();
    ASSERT_TRUE(test::WriteWav(path, {}, side.samples));

    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    test::ScriptedInteraction ui;
    CQuillon3Doc doc(settings, ui);
    ASSERT_TRUE(OpenRecording(doc, path).Ok());
    ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);

    const CTrackFinder::Result r = FindTracks(doc, 0, true);
    EXPECT_FALSE(r.unreliable);
    EXPECT_TRUE(ui.Messages().empty());

    // A gap splits only when its quiet outlasts lead-in, tail and the
    // one-second re-join gap (about 2.6 s at 44.1 kHz): the 3 and 3.5 s gaps
    // do, the 2 s gap does not.
    ASSERT_EQ(doc.TrackCount(), 3);
    const std::pair<size_t, size_t> pieces[] = {{0, 0}, {1, 1}, {2, 3}};  // first and last piece per track
    const double second = rate * 4.0;
    auto position = [&](size_t frame) { return doc.dataStart + 4.0 * static_cast<double>(frame); };
    for (int32_t t = 1; t <= 3; ++t) {
        const auto [first, last] = pieces[t - 1];
        const double musicStart = position(side.pieces[first].startFrame);
        const double musicEnd = position(side.pieces[last].endFrame);
        const TrackRecord& track = doc.tracks[t];
        // The track opens about the lead-in (1.07 s) before its music and
        // closes a little after the music has faded out.
        EXPECT_LE(track.start, musicStart - 0.8 * second) << "track " << t;
        EXPECT_GE(track.start, musicStart - 1.2 * second) << "track " << t;
        EXPECT_GE(track.end, musicEnd) << "track " << t;
        EXPECT_LE(track.end, musicEnd + 0.6 * second) << "track " << t;
        EXPECT_EQ((track.start - doc.dataAlign) % 2352, 0) << "track " << t;
        EXPECT_EQ((track.end - doc.dataAlign) % 2352, 0) << "track " << t;
    }
}

}  // namespace
}  // namespace kelvane
