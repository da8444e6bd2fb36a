#pragma once
// A loaded side for the editing tests, with the checks every edit must pass:
// the list sorted with its sentinels, the density table matching it, the
// audio outside the corrections equal to the source, and each correction's
// stretch equal to what generating the whole list afresh gives (made in a
// second document over the same recording).

#include "declick/CCorrector.h"
#include "declick/CorrectionEdit.h"
#include "document/RestoreOriginal.h"
#include "tests/declick/CorrectorTestDoc.h"
#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace kelvane::test {

struct EditSide {
    CorrectorTestDoc side;
    CorrectorTestDoc fresh;  // the same recording, for generating the list from scratch
    std::vector<int32_t> source;

    void Load(const std::vector<int32_t>& samples, int bits = 16)
    {
        source = samples;
        side.ui.AllowInformation(true);
        fresh.ui.AllowInformation(true);
        side.Load(samples, 44100, bits);
        fresh.Load(samples, 44100, bits);
        source = ReadWavSamples(side.doc.sourcePath).samples;
    }
    CQuillon3Doc& Doc() { return side.doc; }
    int32_t Pos(int frame) const { return side.Pos(frame); }

    // Replaces the list with `records` (sorted here), counted and generated.
    void SetList(std::vector<EventRecord> records)
    {
        CQuillon3Doc& d = side.doc;
        std::stable_sort(records.begin(), records.end(),
                         [](const EventRecord& a, const EventRecord& b) { return a.pos < b.pos; });
        ASSERT_TRUE(RestoreOriginal(d));
        d.ResetEventList();
        std::fill(d.segmentCorrections.begin(), d.segmentCorrections.end(), 0);
        for (const EventRecord& r : records) {
            d.events.InsertAt(d.events.Size() - 1, r);
            if (r.IsCorrection()) CountCorrection(d, r.pos, +1);
        }
        CCorrector(d).GenerateAll(d.events);
    }

    std::vector<EventRecord> List() const
    {
        const auto& ev = side.doc.events;
        return {ev.begin() + 1, ev.end() - 1};
    }

    std::vector<int32_t> Working() const { return side.Working(); }

    // The list's order, its sentinels and its density table.
    void ExpectListConsistent(const std::string& where)
    {
        const CQuillon3Doc& d = side.doc;
        ASSERT_GE(d.events.Size(), 2) << where;
        EXPECT_EQ(d.events[d.events.Size() - 1], EventRecord{}) << where << ": the blank tail";
        std::vector<int32_t> density(d.segmentCorrections.size(), 0);
        for (int32_t i = 1; i + 1 < d.events.Size(); ++i) {
            if (i > 1) {
                EXPECT_LE(d.events[i - 1].pos, d.events[i].pos) << where << ": order at " << i;
            }
            if (d.events[i].IsCorrection()) ++density[static_cast<size_t>(d.events[i].pos / kSegmentBytes)];
        }
        EXPECT_EQ(density, d.segmentCorrections) << where << ": density table";
    }

    // Frame range [first, last) of a region, clamped to the recording.
    std::pair<size_t, size_t> Frames(const Region& r) const
    {
        const int32_t base = side.doc.dataStart;
        const size_t total = source.size() / 2;
        const auto first = static_cast<size_t>(std::max<int64_t>(0, (int64_t{r.start} - base) / 4));
        const auto last = static_cast<size_t>(std::clamp<int64_t>((int64_t{r.end} - base + 3) / 4, 0, int64_t(total)));
        return {first, last};
    }

    // The audio checks. Where a long correction's reading window holds the
    // stretch of a correction outside its own run, the edit rules (which
    // rebuild runs only) may leave it made from an older state of that
    // neighbour: such stretches are compared with the source only outside.
    // A sequence of edits passes `crowded`, which remembers every correction
    // (by position) that had such a neighbour at some check: it may have
    // been made over a neighbour that has since gone.
    void ExpectAudioConsistent(const std::string& where, bool compareFresh = true,
                               std::set<int32_t>* crowded = nullptr)
    {
        const CQuillon3Doc& d = side.doc;
        const std::vector<int32_t> working = Working();
        ASSERT_EQ(working.size(), source.size()) << where;
        std::vector<char> covered(source.size() / 2, 0);
        for (int32_t i = 1; i + 1 < d.events.Size(); ++i) {
            if (!d.events[i].IsCorrection()) continue;
            const auto [a, b] = Frames(RegionOf(d.events[i]));
            for (size_t f = a; f < b; ++f) covered[f] = 1;
        }
        size_t wrong = 0, firstWrong = 0;
        for (size_t f = 0; f < covered.size(); ++f)
            if (!covered[f] && (working[2 * f] != source[2 * f] || working[2 * f + 1] != source[2 * f + 1]))
                if (wrong++ == 0) firstWrong = f;
        EXPECT_EQ(wrong, 0u) << where << ": frames outside every correction differ from the source, first "
                             << firstWrong;
        if (!compareFresh) return;

        CQuillon3Doc& f = fresh.doc;
        ASSERT_TRUE(RestoreOriginal(f));
        f.ResetEventList();
        for (int32_t i = 1; i + 1 < d.events.Size(); ++i) f.events.InsertAt(f.events.Size() - 1, d.events[i]);
        CCorrector(f).GenerateAll(f.events);
        const std::vector<int32_t> scratch = fresh.Working();
        for (int32_t i = 1; i + 1 < d.events.Size(); ++i) {
            const EventRecord& e = d.events[i];
            if (!e.IsCorrection()) continue;
            const bool isolated = Isolated(i);
            if (crowded && !isolated) crowded->insert(e.pos);
            if (!isolated || (crowded && crowded->count(e.pos))) continue;
            const auto [a, b] = Frames(RegionOf(e));
            for (size_t fr = a; fr < b; ++fr)
                if (working[2 * fr] != scratch[2 * fr] || working[2 * fr + 1] != scratch[2 * fr + 1]) {
                    ADD_FAILURE() << where << ": correction " << i << " at frame " << (e.pos - d.dataStart) / 4
                                  << " differs from a fresh generation at frame " << fr;
                    break;
                }
        }
    }

    // No correction of another run lies in the window entry i's run reads.
    bool Isolated(int32_t i) const
    {
        const CQuillon3Doc& d = side.doc;
        const EditRun run = FindRun(d, i);
        int64_t lo = INT64_MAX, hi = INT64_MIN;
        for (int32_t j = run.first; j <= run.last; ++j) {
            if (!d.events[j].IsCorrection()) continue;
            const int64_t start = CCorrector::BufferStart(d.events[j].pos, d.sampleRate);
            lo = std::min(lo, start);
            hi = std::max(hi, start + CCorrector::BufferBytes(d.sampleRate));
        }
        for (int32_t j = 1; j + 1 < d.events.Size(); ++j) {
            if (j >= run.first && j <= run.last) continue;
            if (!d.events[j].IsCorrection()) continue;
            const Region r = RegionOf(d.events[j]);
            if (r.end > lo && r.start < hi) return false;
        }
        return true;
    }
};

// Quiet music with a little noise: the corrections have something tonal to
// rebuild, and every one of them changes the audio.
inline std::vector<int32_t> EditMusic(size_t frames, uint64_t seed, int bits = 16)
{
    MusicStyle style;
    style.seed = seed;
    style.peak = 0.3;
    std::vector<int32_t> m = Music(style, frames);
    const auto noise = Noise(seed + 1, 150, frames);
    for (size_t i = 0; i < m.size(); ++i) {
        m[i] = std::clamp(m[i] + noise[i], -32768, 32767);
        if (bits == 24) m[i] = m[i] * 256 + static_cast<int32_t>((i * 7919) % 256);
    }
    return m;
}

}  // namespace kelvane::test
