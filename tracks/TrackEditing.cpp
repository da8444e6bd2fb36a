#include "TrackEditing.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "tracks/BlockMerge.h"
#include "tracks/SectorGrid.h"
#include "tracks/TrackMarkers.h"
#include "tracks/TrackTitles.h"
#include "tracks/TracksMenu.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kelvane {

namespace {

void RequireSentinels(const CQuillon3Doc& doc)
{
    if (doc.events.Size() < 2) throw std::out_of_range("event list without its sentinels");
}

// Marker rebuilds shift indices; a selected list entry is found again by
// position (and by value, so a correction sharing a marker's position stays
// the one selected). The cursor and "nothing selected" are left alone.
class SelectionKeeper {
public:
    explicit SelectionKeeper(const CQuillon3Doc& doc)
    {
        if (doc.selectedEvent > 0 && doc.selectedEvent < doc.events.Size()) {
            remembered_ = doc.events[doc.selectedEvent];
            active_ = true;
        }
    }
    void Restore(CQuillon3Doc& doc) const
    {
        if (active_) SelectEventAt(doc, remembered_.pos, &remembered_);
    }

private:
    EventRecord remembered_{};
    bool active_ = false;
};

}  // namespace

namespace trackedit {
std::string MergeQuestion(int32_t track, int32_t previous)
{
    return "Track " + std::to_string(track) + " will be permanently\nmerged with Track " + std::to_string(previous) +
           ".\nReally Merge?";
}
}  // namespace trackedit

int32_t TrackHolding(const CQuillon3Doc& doc, int32_t pos)
{
    const int32_t n = doc.TrackCount();
    if (n == 0) return 0;
    int32_t t = 1;
    for (int32_t k = 2; k <= n; ++k)
        if (doc.tracks[k].start <= pos) t = k;
    return t;
}

EditOutcome SplitTrack(CQuillon3Doc& doc, int32_t position)
{
    RequireSentinels(doc);
    if (doc.TrackCount() == 0 || doc.HasBlock()) return EditOutcome::NotApplicable;

    const int32_t b = SnapToSector(doc, position);
    const int32_t t = TrackHolding(doc, b);
    {
        const TrackRecord& track = doc.tracks[t];
        // 64-bit so that a position far outside the track cannot wrap into
        // an allowed distance.
        const int64_t fromStart = static_cast<int64_t>(b) - track.start;
        const int64_t toEnd = static_cast<int64_t>(track.end) - b;
        if (fromStart < trackedit::kMinSplitDistance || toEnd < trackedit::kMinSplitDistance) {
            doc.Ui().MessageBox(trackedit::kSplitTooClose, kAppCaption, MbButtons::Ok, MbIcon::Warning);
            return EditOutcome::Refused;
        }
    }

    TrackRecord firstHalf;
    {
        const TrackRecord& old = doc.tracks[t];
        firstHalf.start = old.start;
        firstHalf.end = b;
        firstHalf.fadeIn = old.fadeIn;
        firstHalf.preSilence = old.preSilence;
        firstHalf.title = old.title;
        firstHalf.artist = old.artist;
        firstHalf.album = old.album;
        firstHalf.genre = old.genre;
    }
    doc.tracks.InsertAt(t, firstHalf);
    TrackRecord& secondHalf = doc.tracks[t + 1];
    secondHalf.start = b;
    secondHalf.fadeIn = 0;
    secondHalf.preSilence = 0;
    secondHalf.title.clear();

    RefreshTrackTitles(doc);
    RebuildTracksMenu(doc);

    // Only the two new markers go in; everything after them names a track
    // one higher now. Cheaper than a rebuild, and corrections keep their
    // order relative to the markers.
    const int32_t at = EventInsertIndex(doc.events, b);
    doc.events.InsertAt(at, EventRecord{1, 0, b, event::TrackEndMarker(t), 0});
    doc.events.InsertAt(at + 1, EventRecord{1, 0, b, event::TrackStartMarker(t + 1), 0});
    for (int32_t i = at + 2; i < doc.events.Size() - 1; ++i)
        if (doc.events[i].width < 0) doc.events[i].width -= 2;

    // The chosen track (currentTrack) keeps its number: the split does not
    // say otherwise, and a chosen track after the split point then names
    // the second half of the track before it.
    doc.selectedEvent = at;
    doc.NotifyUpdate();
    doc.SetModifiedFlag();
    return EditOutcome::Done;
}

bool MergeTracks(CQuillon3Doc& doc, int32_t first, int32_t last)
{
    RequireSentinels(doc);
    const int32_t n = doc.TrackCount();
    if (first < 1 || last < first || last > n)
        throw std::out_of_range("Merge Tracks: tracks " + std::to_string(first) + " to " + std::to_string(last) +
                                " of " + std::to_string(n));
    if (first == last) return false;

    const SelectionKeeper selection(doc);
    TrackRecord& into = doc.tracks[first];
    const TrackRecord& from = doc.tracks[last];
    into.end = from.end;
    into.fadeOut = from.fadeOut;
    into.postSilence = from.postSilence;
    doc.tracks.RemoveAt(first + 1, last - first);
    if (doc.currentTrack != 0) doc.currentTrack = first;

    RebuildTrackMarkers(doc);
    RebuildTracksMenu(doc);
    selection.Restore(doc);
    doc.SetModifiedFlag();
    return true;
}

EditOutcome MergeTracksCommand(CQuillon3Doc& doc)
{
    if (doc.HasBlock()) return MergeTracksInBlock(doc);
    RequireSentinels(doc);

    const EventRecord* current = doc.CurrentEvent();
    if (current == nullptr || !current->IsMarker()) return EditOutcome::NotApplicable;
    if (doc.IsAdjusting()) return EditOutcome::NotApplicable;
    const int64_t w = -static_cast<int64_t>(current->width);
    // Any boundary but the start of track 1 and the end of the last track.
    if (w <= 2 || w > 2 * static_cast<int64_t>(doc.tracks.Size()) - 2) return EditOutcome::NotApplicable;

    // The start of t and the end of t - 1 both name the boundary between
    // them: (1 - w) / 2 with w = width gives t for either.
    const int32_t t = static_cast<int32_t>((1 + w) / 2);
    const std::string question = trackedit::MergeQuestion(t, t - 1);
    if (doc.Ui().MessageBox(question, trackedit::kMergeCaption, MbButtons::OkCancel, MbIcon::Question) !=
        MbAnswer::Ok)
        return EditOutcome::Cancelled;

    const int32_t oldEnd = doc.tracks[t - 1].end;
    MergeTracks(doc, t - 1, t);
    doc.cursorEvent.pos = oldEnd;
    doc.selectedEvent = -1;
    doc.NotifyUpdate();
    return EditOutcome::Done;
}

void RebuildTracksFromMarkers(CQuillon3Doc& doc)
{
    RequireSentinels(doc);
    if (doc.tracks.Empty()) throw std::out_of_range("Rebuild tracks: the track table has no whole-recording entry");
    const int32_t last = doc.events.Size() - 1;
    // Checked before anything changes, so a bad list leaves the table whole.
    for (int32_t i = 1; i < last; ++i) {
        const int32_t width = doc.events[i].width;
        if (width >= 0) continue;
        const int64_t track = -static_cast<int64_t>(width) / 2;
        if (track < 1 || track >= doc.tracks.Size())
            throw std::out_of_range("Rebuild tracks: a marker names track " + std::to_string(track) + " of " +
                                    std::to_string(doc.TrackCount()));
    }

    const SelectionKeeper selection(doc);
    doc.tracks[0].start = doc.dataStart;
    doc.tracks[0].end = doc.dataEnd;
    const int32_t recordingEnd = doc.tracks[0].end;
    const int32_t firstAllowed = FirstAllowedStart(doc);
    for (int32_t i = 1; i < last; ++i) {
        const EventRecord& e = doc.events[i];
        if (e.width >= 0) continue;
        // The recording's end is off the grid in general; a track ending
        // there keeps the last frames instead of losing up to a sector.
        int32_t b = e.pos;
        if (b != recordingEnd) b = SnapToSector(doc, b);
        b = std::max(b, firstAllowed);
        TrackRecord& track = doc.tracks[event::MarkerTrack(e.width)];
        if (event::MarkerIsStart(e.width))
            track.start = b;
        else
            track.end = b;
    }

    RebuildTrackMarkers(doc);
    RebuildTracksMenu(doc);
    selection.Restore(doc);
    doc.NotifyUpdate();
}

}  // namespace kelvane
