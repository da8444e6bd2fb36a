#include "TrackMarkers.h"

#include "document/CQuillon3Doc.h"

#include <algorithm>
#include <stdexcept>

namespace kelvane {

namespace {

void RequireSentinels(const CGrowList<EventRecord>& events)
{
    if (events.Size() < 2) throw std::out_of_range("event list without its sentinels");
}

}  // namespace

void RemoveTrackMarkers(CQuillon3Doc& doc)
{
    CGrowList<EventRecord>& events = doc.events;
    RequireSentinels(events);
    // One compaction instead of a removal per marker: a side can hold a
    // hundred thousand corrections.
    const int32_t last = events.Size() - 1;
    int32_t out = 1;
    for (int32_t i = 1; i < last; ++i) {
        if (events[i].width < 0) continue;
        if (out != i) events[out] = events[i];
        ++out;
    }
    events[out] = events[last];
    events.SetSize(out + 1);
}

int32_t EventInsertIndex(const CGrowList<EventRecord>& events, int32_t pos)
{
    RequireSentinels(events);
    const EventRecord* first = events.begin() + 1;
    const EventRecord* last = events.begin() + (events.Size() - 1);
    const EventRecord* at =
        std::lower_bound(first, last, pos, [](const EventRecord& e, int32_t p) { return e.pos < p; });
    return static_cast<int32_t>(at - events.begin());
}

void RebuildTrackMarkers(CQuillon3Doc& doc)
{
    RemoveTrackMarkers(doc);
    CGrowList<TrackRecord>& tracks = doc.tracks;
    if (tracks.Size() < 2) return;
    const int32_t recordingEnd = tracks[0].end;
    for (int32_t t = 1; t < tracks.Size(); ++t) {
        TrackRecord& track = tracks[t];
        int32_t at = EventInsertIndex(doc.events, track.start);
        // Back-to-back tracks: the previous end marker comes first, so that
        // stepping through the list meets the boundaries in track order.
        if (t > 1 && track.start == tracks[t - 1].end) ++at;
        doc.events.InsertAt(at, EventRecord{1, 0, track.start, event::TrackStartMarker(t), 0});

        if (track.end > recordingEnd) track.end = recordingEnd;
        at = EventInsertIndex(doc.events, track.end);
        doc.events.InsertAt(at, EventRecord{1, 0, track.end, event::TrackEndMarker(t), 0});
    }
}

int32_t FindEventAt(const CQuillon3Doc& doc, int32_t pos)
{
    const int32_t size = doc.events.Size();
    if (size <= 2) return 0;
    const int32_t at = EventInsertIndex(doc.events, pos);
    return std::min(at, size - 2);
}

void SelectEventAt(CQuillon3Doc& doc, int32_t pos, const EventRecord* remembered)
{
    int32_t at = FindEventAt(doc, pos);
    if (remembered && at > 0) {
        for (int32_t i = at; i < doc.events.Size() - 1 && doc.events[i].pos == pos; ++i) {
            if (doc.events[i] == *remembered) {
                at = i;
                break;
            }
        }
    }
    doc.selectedEvent = at;
}

}  // namespace kelvane
