#include "CTrackFinder.h"

#include "document/CProgressWnd.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "tracks/Gapless.h"
#include "tracks/SectorGrid.h"
#include "tracks/TrackMarkers.h"
#include "tracks/TrackRefresh.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace kelvane {

namespace {

// The block sums are over 1024 frames; the finder works on their mean.
constexpr int32_t kFramesPerBlock = kBlockBytes / 4;

int64_t Length(const TrackRecord& track)
{
    return static_cast<int64_t>(track.end) - track.start;
}

}  // namespace

int32_t CTrackFinder::Threshold(int32_t step)
{
    // 0.05 * n rather than n / 20.0: the plain reading of 2^(0.05 n). Both
    // give the same thresholds on every step the ladder uses.
    return static_cast<int32_t>(20.0 * std::pow(2.0, 0.05 * step));
}

int32_t CTrackFinder::MinimumTrackLength(int32_t sampleRate, int32_t bitsPerSample)
{
    const bool high = sampleRate > 48000;
    if (bitsPerSample == 24) return high ? 6000000 : 3000000;
    return high ? 4000000 : 2000000;
}

void CTrackFinder::CheckTables() const
{
    if (doc_.tracks.Empty()) throw std::out_of_range("track finder: no recording in the track table");
    if (doc_.events.Size() < 2) throw std::out_of_range("track finder: event list without its sentinels");
    const int64_t span = Length(doc_.tracks[0]);
    if (span <= kBlockBytes) return;  // no block is read
    const int64_t lastBlock = (span - 1) / kBlockBytes;
    if (lastBlock >= static_cast<int64_t>(doc_.blockLevel.size()))
        throw std::out_of_range("track finder: block " + std::to_string(lastBlock) +
                                " is outside the block level table");
}

int32_t CTrackFinder::RunPass(int32_t threshold)
{
    CheckTables();
    CQuillon3Doc& d = doc_;
    CGrowList<TrackRecord>& tracks = d.tracks;
    RemoveTrackMarkers(d);
    tracks.SetSize(1);

    TrackRecord fresh;
    fresh.title = tracks[0].title;
    fresh.artist = tracks[0].artist;
    fresh.album = tracks[0].album;
    fresh.genre = tracks[0].genre;

    const int32_t g = d.dataAlign;
    const int32_t firstStart = FirstAllowedStart(d);
    const int64_t rejoinGap = static_cast<int64_t>(d.sampleRate) * 4;
    // The loop runs over offsets below the recording's length but reads the
    // blocks, and places boundaries, by file position: p stands for both, so
    // the last dataStart units of the recording are never looked at.
    const int64_t span = Length(tracks[0]);

    bool inTrack = false;
    int32_t envelope = 0;
    int32_t current = 0;  // 0: no track yet (element 0)
    for (int64_t offset = kBlockBytes; offset < span; offset += kBlockBytes) {
        const auto p = static_cast<int32_t>(offset);
        const int32_t level = d.blockLevel[static_cast<size_t>(p / kBlockBytes)] / kFramesPerBlock;
        const int32_t sector = p / kSectorBytes;
        if (!inTrack) {
            envelope = std::min(level, envelope + kAttackStep);
            if (envelope <= threshold) continue;
            const int32_t start = std::max(g + (sector - kLeadInSectors) * kSectorBytes, firstStart);
            inTrack = true;
            if (current != 0 && start <= static_cast<int64_t>(tracks[current].end) + rejoinGap) {
                tracks[current].end = 0;  // the gap was too short: the track goes on
            } else {
                fresh.start = start;
                fresh.end = 0;
                current = tracks.Add(fresh);
            }
        } else {
            envelope = std::max(level, 9 * envelope / 10);
            if (envelope >= threshold) continue;
            if (p > static_cast<int64_t>(tracks[current].start) + kMinimumRun) {
                tracks[current].end = g + (sector + kTailSectors) * kSectorBytes;
                inTrack = false;
            } else {
                // A short burst near the start: the track begins after it.
                tracks[current].start = std::max(g + (sector - kLeadInSectors) * kSectorBytes, firstStart);
            }
        }
    }

    if (tracks.Size() == 1) {
        TrackRecord whole = tracks[0];
        whole.start = firstStart;
        tracks.Add(whole);
    }

    const int32_t last = tracks.Size() - 1;
    if (tracks[last].end == 0) {
        if (last == 1 || static_cast<int64_t>(tracks[0].end) - tracks[last].start > kLastTrackMinimum) {
            tracks[last].end = tracks[0].end;
        } else {
            tracks.RemoveAt(last);
        }
    }

    if (tracks.Size() >= 3) {
        const int32_t minimum = MinimumTrackLength(d.sampleRate, d.bitsPerSample);
        if (Length(tracks[1]) < minimum) {
            tracks[2].start = tracks[1].start;
            tracks.RemoveAt(1);
        }
        for (int32_t t = 2; t < tracks.Size();) {
            if (Length(tracks[t]) < minimum) {
                tracks[t - 1].end = tracks[t].end;
                tracks.RemoveAt(t);  // the next track is examined at the same index
            } else {
                ++t;
            }
        }
    }
    return tracks.Size() - 1;
}

CTrackFinder::Result CTrackFinder::Find(int32_t target, bool warn)
{
    if (target < 0) throw std::invalid_argument("track finder: negative target track count");
    CheckTables();

    Result r;
    auto pass = [&](int32_t step) {
        r.finalStep = step;
        r.trackCount = RunPass(Threshold(step));
        ++r.passes;
    };

    if (target > 0) {
        for (int32_t step = kTargetFirstStep;; step += 2) {
            pass(step);
            if (r.trackCount >= target || step + 2 > kLastStep) break;
        }
    } else {
        int32_t previous = 0;
        for (int32_t step = kAutoFirstStep;; step += 10) {
            pass(step);
            if (r.trackCount > 1 && r.trackCount == previous) {
                pass(step - 10);  // the lower of the two thresholds that agreed
                break;
            }
            if (step == kAutoLastStep) {
                pass(0);
                r.unreliable = true;
                break;
            }
            previous = r.trackCount;
        }
    }

    IInteraction& ui = doc_.Ui();
    if (warn && r.finalStep == 0) ui.MessageBox(kSearchUnreliable, kAppCaption, MbButtons::Ok, MbIcon::Information);
    if (warn && target > 0 && r.trackCount != target)
        ui.MessageBox(kTargetNotFound, kAppCaption, MbButtons::Ok, MbIcon::Information);
    if (doc_.gapless != 0 && r.trackCount >= 2) AlignGaplessAfterSearch(doc_);
    RefreshTracks(doc_);
    r.trackCount = doc_.TrackCount();
    return r;
}

CTrackFinder::Result FindTracks(CQuillon3Doc& doc, int32_t target, bool warn)
{
    return CTrackFinder(doc).Find(target, warn);
}

void RunTrackFinderAfterLoad(CQuillon3Doc& doc)
{
    const CTrackFinder::Result r = FindTracks(doc, 0, false);
    if (doc.progress == nullptr) return;
    // One track is the whole side: nothing was divided.
    if (r.trackCount >= 2) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "Tracks Found = %d", static_cast<int>(r.trackCount));
        doc.progress->SetMessage(buf);
    } else {
        doc.progress->SetMessage("No tracks were found");
    }
}

}  // namespace kelvane
