#include "BoundaryMove.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "tracks/TrackMarkers.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kelvane {

namespace {

// The boundary a marker stands for, from the track table.
int32_t MarkerPosition(const CQuillon3Doc& doc, int32_t width)
{
    const TrackRecord& track = doc.tracks[event::MarkerTrack(width)];
    return event::MarkerIsStart(width) ? track.start : track.end;
}

// Inserts a marker at its position, in front of the other events there but
// behind any marker of an earlier boundary, so that back-to-back tracks
// read end-then-start whatever order the markers are put back in. Returns
// its index.
int32_t InsertMarkerInOrder(CQuillon3Doc& doc, const EventRecord& marker)
{
    CGrowList<EventRecord>& events = doc.events;
    int32_t at = EventInsertIndex(events, marker.pos);
    for (int32_t i = at; i < events.Size() - 1 && events[i].pos == marker.pos; ++i)
        if (events[i].width < 0 && -static_cast<int64_t>(events[i].width) < -static_cast<int64_t>(marker.width))
            at = i + 1;
    events.InsertAt(at, marker);
    return at;
}

// Takes the marker out and puts it back where it now belongs; the view may
// have moved it in place while dragging, so its index is not trusted.
int32_t Reinsert(CQuillon3Doc& doc, int32_t index, int32_t pos)
{
    EventRecord marker = doc.events[index];
    doc.events.RemoveAt(index);
    marker.pos = pos;
    return InsertMarkerInOrder(doc, marker);
}

}  // namespace

EditOutcome ApplyBoundaryMove(CQuillon3Doc& doc, int32_t newPos, int32_t fadeMark, int32_t silenceMark)
{
    if (doc.events.Size() < 2) throw std::out_of_range("event list without its sentinels");
    const int32_t index = doc.selectedEvent;
    if (index < 1 || index > doc.events.Size() - 2 || !doc.events[index].IsMarker())
        return EditOutcome::NotApplicable;

    const int32_t width = doc.events[index].width;
    const int32_t t = event::MarkerTrack(width);
    const int32_t n = doc.TrackCount();
    if (t < 1 || t > n)
        throw std::out_of_range("Boundary move: the marker names track " + std::to_string(t) + " of " +
                                std::to_string(n));
    const bool isStart = event::MarkerIsStart(width);
    CGrowList<TrackRecord>& tracks = doc.tracks;

    // Open interval: the boundary may cross its neighbour's near edge (the
    // neighbour gives way below) but not reach its far edge.
    const int64_t h = newPos;
    int64_t low = 0;
    int64_t high = 0;
    if (isStart) {
        low = t > 1 ? tracks[t - 1].start : static_cast<int64_t>(tracks[0].start) - 1;
        high = tracks[t].end;
    } else {
        low = tracks[t].start;
        high = t < n ? tracks[t + 1].end : static_cast<int64_t>(tracks[0].end) + 1;
    }
    if (h <= low || h >= high) {
        doc.selectedEvent = Reinsert(doc, index, MarkerPosition(doc, width));
        doc.NotifyUpdate();
        doc.Ui().MessageBox(trackedit::kBoundaryMoveFailed, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return EditOutcome::Refused;
    }

    // The fade and silence lengths are measured from the handles as placed;
    // the view keeps them on their side of the boundary.
    const bool gapless = doc.gapless != 0;
    if (isStart) {
        tracks[t].fadeIn = fadeMark - newPos;
        tracks[t].preSilence = newPos - silenceMark;
        tracks[t].start = newPos;
        if (t > 1) tracks[t - 1].end = gapless ? newPos : std::min(tracks[t - 1].end, newPos);
    } else {
        tracks[t].fadeOut = newPos - fadeMark;
        tracks[t].postSilence = silenceMark - newPos;
        tracks[t].end = newPos;
        if (t < n) tracks[t + 1].start = gapless ? newPos : std::max(tracks[t + 1].start, newPos);
    }

    // The neighbouring boundary: the nearest marker before a start, after
    // an end. The first track's start has none before it, the last track's
    // end none after it.
    int32_t neighbour = 0;
    if (isStart) {
        for (int32_t i = index - 1; i >= 1 && neighbour == 0; --i)
            if (doc.events[i].IsMarker()) neighbour = i;
    } else {
        for (int32_t i = index + 1; i < doc.events.Size() - 1 && neighbour == 0; ++i)
            if (doc.events[i].IsMarker()) neighbour = i;
    }

    EventRecord moved = doc.events[index];
    moved.pos = newPos;
    if (neighbour != 0) {
        EventRecord other = doc.events[neighbour];
        other.pos = MarkerPosition(doc, other.width);
        doc.events.RemoveAt(std::max(index, neighbour));
        doc.events.RemoveAt(std::min(index, neighbour));
        // The moved marker goes in last, so its index is final.
        InsertMarkerInOrder(doc, other);
        doc.selectedEvent = InsertMarkerInOrder(doc, moved);
    } else {
        doc.events.RemoveAt(index);
        doc.selectedEvent = InsertMarkerInOrder(doc, moved);
    }
    doc.NotifyUpdate();
    doc.SetModifiedFlag();
    return EditOutcome::Done;
}

}  // namespace kelvane
