// Random sequences of correction edits and re-scans on a short side with
// clicks and two tracks, seeded so that a failure can be replayed: after
// every step the list, the density table, the track markers and the audio
// must be what the edit rules promise, and removing every correction at the
// end must give the source back bit for bit.

#include "declick/CorrectionEdit.h"
#include "operations/EditCorrections.h"
#include "operations/Rescan.h"
#include "tests/declick/EditTestDoc.h"
#include "tracks/TrackMarkers.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace kelvane {
namespace {

constexpr size_t kSideFrames = 2 * 44100 + 9000;

// Quiet music with clicks of several widths, some close enough to overlap.
std::vector<int32_t> SideWithClicks(int bits, uint64_t seed)
{
    std::vector<int32_t> s = test::EditMusic(kSideFrames, seed, 16);
    std::mt19937_64 rng(seed);
    for (size_t k = 0; k < 14; ++k) {
        const size_t frame = 6000 + (k * 5800) + rng() % 700;
        test::AddClick(s, 2, frame, 1 + static_cast<int>(rng() % 12), 2500 + static_cast<int32_t>(rng() % 5000),
                       k % 3 == 0 ? test::kLeft : k % 3 == 1 ? test::kRight : test::kBoth, 200 + k);
    }
    if (bits == 24)
        for (size_t i = 0; i < s.size(); ++i) s[i] = s[i] * 256 + static_cast<int32_t>((i * 7919) % 256);
    return s;
}

class EditInvariants : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        s.Load(SideWithClicks(GetParam(), 31), GetParam());
        s.side.ui.AllowOkBoxes(true);
        CQuillon3Doc& d = s.Doc();
        d.rescanSensitivity = 4;
        // Two tracks, so that markers sit among the corrections.
        d.tracks.RemoveAll();
        const auto track = [](int32_t start, int32_t end) {
            TrackRecord t;
            t.start = start;
            t.end = end;
            return t;
        };
        d.tracks.Add(track(d.dataStart, d.dataEnd));
        d.tracks.Add(track(s.Pos(3000), s.Pos(40000)));
        d.tracks.Add(track(s.Pos(42000), s.Pos(static_cast<int>(kSideFrames) - 3000)));
        RebuildTrackMarkers(d);
        RescanRequest first;
        first.wholeFile = true;
        ASSERT_TRUE(Rescan(d, first).Ok());
        markers_ = Markers();
        ASSERT_EQ(markers_.size(), 4u);
    }

    std::vector<EventRecord> Markers() const
    {
        std::vector<EventRecord> m;
        for (const EventRecord& e : s.List())
            if (e.IsMarker()) m.push_back(e);
        return m;
    }

    std::vector<int32_t> CorrectionIndices() const
    {
        std::vector<int32_t> out;
        const CQuillon3Doc& d = s.side.doc;
        for (int32_t i = 1; i + 1 < d.events.Size(); ++i)
            if (d.events[i].IsCorrection()) out.push_back(i);
        return out;
    }

    int32_t RandomPos() { return s.Pos(static_cast<int>(rng_() % kSideFrames)); }

    void Check(const std::string& where)
    {
        s.ExpectListConsistent(where);
        EXPECT_EQ(Markers(), markers_) << where << ": a track marker was lost or moved";
        s.ExpectAudioConsistent(where, true, &crowded_);
    }

    // One random step; returns its name for the failure messages.
    std::string Step()
    {
        CQuillon3Doc& d = s.Doc();
        const std::vector<int32_t> corrections = CorrectionIndices();
        const auto anyCorrection = [&] {
            return corrections[static_cast<size_t>(rng_() % corrections.size())];
        };
        switch (rng_() % 8) {
        case 0: {
            if (corrections.empty()) return "nothing to remove";
            SelectEvent(d, anyCorrection());
            s.side.ui.Expect(kMsgRemoveCurrent, MbAnswer::Ok);
            RemoveCurrentCorrection(d);
            return "remove one";
        }
        case 1:
        case 2: {
            // Adjust a correction, or a new one inserted by hand, then
            // Apply or Abort; an aborted insert is abandoned on moving on.
            bool inserted = false;
            if (corrections.empty() || rng_() % 3 == 0) {
                if (!InsertManualCorrection(d, RandomPos())) return "insert refused";
                inserted = true;
            } else {
                SelectEvent(d, anyCorrection());
            }
            const bool apply = rng_() % 2 == 0;
            {
                CAdjustMode mode(d);
                if (!mode.IsOpen()) return "no adjust mode";
                for (int k = static_cast<int>(rng_() % 3); k >= 0; --k) {
                    const int32_t width = static_cast<int32_t>(rng_() % 120);
                    const int32_t pos = rng_() % 2 ? 0 : d.events[mode.Index()].pos + 4 * (static_cast<int32_t>(rng_() % 401) - 200);
                    mode.Adjust(width, pos);
                }
                if (apply) mode.Apply();
                else mode.Abort();
            }
            SelectEvent(d, -1);
            return std::string(inserted ? "insert" : "adjust") + (apply ? " applied" : " aborted");
        }
        case 3: {
            int32_t a = RandomPos(), b = RandomPos();
            if (a > b) std::swap(a, b);
            d.blockStart = a;
            d.blockEnd = std::max(b, a + 4);
            const bool keepUser = rng_() % 2 == 0;
            RemoveBlockCorrections(d, keepUser);
            d.blockStart = d.blockEnd = 0;
            return keepUser ? "block removal keeping the user's" : "block removal";
        }
        case 4:
        case 5: {
            int32_t a = RandomPos();
            d.blockStart = a;
            d.blockEnd = std::min(d.dataEnd, a + 4 * static_cast<int32_t>(2000 + rng_() % 30000));
            RescanRequest r;
            r.superimpose = rng_() % 2 == 0;
            r.passes = 1 + static_cast<int32_t>(rng_() % 2);
            r.sensitivity = static_cast<int32_t>(2 + rng_() % 4);
            Rescan(d, r);
            d.blockStart = d.blockEnd = 0;
            return r.superimpose ? "block super-scan" : "block re-scan";
        }
        case 6: {
            RescanRequest r;
            r.wholeFile = true;
            r.superimpose = rng_() % 3 != 0;
            r.passes = 1 + static_cast<int32_t>(rng_() % 2);
            r.sensitivity = static_cast<int32_t>(2 + rng_() % 4);
            Rescan(d, r);
            return r.superimpose ? "file super-scan" : "file re-scan";
        }
        default: {
            // Walking the list: a pending insert left behind goes.
            if (d.events.Size() > 2) SelectEvent(d, 1 + static_cast<int32_t>(rng_() % (d.events.Size() - 2)));
            return "select";
        }
        }
    }

    test::EditSide s;
    std::vector<EventRecord> markers_;
    std::set<int32_t> crowded_;
    std::mt19937_64 rng_{20261208};
};

TEST_P(EditInvariants, HoldAfterEveryStepAndRemovingEverythingGivesTheSourceBack)
{
    CQuillon3Doc& d = s.Doc();
    for (int step = 0; step < 1000 && !HasFailure(); ++step) {
        const std::string what = Step();
        Check("step " + std::to_string(step) + " (" + what + ")");
        s.side.ui.ExpectDone();
    }
    d.blockStart = d.dataStart;
    d.blockEnd = d.dataEnd;
    ASSERT_TRUE(RemoveBlockCorrections(d, false));
    EXPECT_TRUE(CorrectionIndices().empty());
    EXPECT_EQ(Markers(), markers_);
    EXPECT_TRUE(s.Working() == s.source) << "removing every correction did not give the source back";
}

INSTANTIATE_TEST_SUITE_P(Depths, EditInvariants, ::testing::Values(16, 24),
                         [](const auto& info) { return std::to_string(info.param) + "bit"; });

}  // namespace
}  // namespace kelvane
