#pragma once
// A document for the track tests with no file behind it: the layout fields,
// the track table's element 0 and a block level table filled by hand, in
// block levels (the finder's unit: the block's sum divided by 1024).

#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"

#include <cstdint>
#include <vector>

namespace kelvane::tracktest {

struct Span {
    int32_t first;  // first block
    int32_t end;    // one past the last block
    int32_t level;  // block level
};

class HandDoc {
public:
    // A recording of `blocks` blocks after a header of dataStart units;
    // element 0 spans it all, so the search runs over every block but 0.
    explicit HandDoc(int32_t blocks, int32_t rate = 44100, int32_t bits = 16, int32_t dataStart = 44)
    {
        doc.sampleRate = rate;
        doc.bitsPerSample = bits;
        doc.dataStart = dataStart;
        doc.dataAlign = dataStart % 4;
        doc.dataEnd = dataStart + blocks * 4096;
        doc.status = kStatusNotCorrected;
        doc.userPath = "/music/side.wav";
        doc.blockLevel.assign(static_cast<size_t>(doc.dataEnd / 4096 + 1), 0);
        TrackRecord whole;
        whole.start = doc.dataStart;
        whole.end = doc.dataEnd;
        doc.tracks.Add(whole);
        doc.ResetEventList();
    }

    void Levels(const std::vector<Span>& spans)
    {
        for (const Span& s : spans)
            for (int32_t b = s.first; b < s.end; ++b) doc.blockLevel[static_cast<size_t>(b)] = s.level * 1024;
    }

    // The tracks 1..n as (start, end) pairs.
    std::vector<std::pair<int32_t, int32_t>> Bounds() const
    {
        std::vector<std::pair<int32_t, int32_t>> out;
        for (int32_t t = 1; t < doc.tracks.Size(); ++t) out.emplace_back(doc.tracks[t].start, doc.tracks[t].end);
        return out;
    }

    // A correction in position order, before the blank working record.
    void AddCorrection(int32_t pos, int32_t width = 5, int32_t mag = 100)
    {
        int32_t at = 1;
        while (at < doc.events.Size() - 1 && doc.events[at].pos <= pos) ++at;
        doc.events.InsertAt(at, EventRecord{1, 0, pos, width, mag});
    }

    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
};

using Bounds = std::vector<std::pair<int32_t, int32_t>>;

// Six pieces of music (level 5000) with three silent gaps and two gaps at
// level 100 between them: thresholds up to 98 (ladder step 46) see four
// tracks, those from 105 (step 48) on see six.
inline void FourThenSix(HandDoc& h)
{
    h.Levels({{100, 700, 5000},
              {1000, 1600, 5000},
              {1600, 1900, 100},
              {1900, 2500, 5000},
              {2800, 3400, 5000},
              {3400, 3700, 100},
              {3700, 4300, 5000},
              {4600, 5200, 5000}});
}
inline constexpr int32_t kFourThenSixBlocks = 5400;

}  // namespace kelvane::tracktest
