#pragma once
// The track-boundary markers in the event list, and finding an event by its
// position. The markers are the event list's copy of the track table (width
// -2t starts track t, -(2t + 1) ends it); they are thrown away and rebuilt
// from the table whenever the table changes, so the two never disagree.
//
// All positions are position units. The event list must hold its head
// sentinel and its blank working record (size >= 2); a list without them is
// an internal error (std::out_of_range, nothing changed).

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;
struct EventRecord;
template <typename T>
class CGrowList;

// Removes every boundary marker among the real entries (1 .. size - 2); the
// sentinels and all corrections stay, in order.
void RemoveTrackMarkers(CQuillon3Doc& doc);

// Removes the markers, then inserts a start and an end marker for every
// track, each in position order in front of any event already at its
// position; a start that coincides with the previous track's end goes just
// after that end marker. Every track's end is first clamped to the end of
// the whole recording (element 0). Indices of corrections move; callers
// that keep a selection restore it afterwards.
void RebuildTrackMarkers(CQuillon3Doc& doc);

// The index at which an event at `pos` belongs: the first real entry whose
// position is at least pos, or size - 1 (just before the blank working
// record) when there is none.
int32_t EventInsertIndex(const CGrowList<EventRecord>& events, int32_t pos);

// The event found at `pos`: the first real entry at or after pos, else the
// last real entry; 0 when the list holds no real entry.
int32_t FindEventAt(const CQuillon3Doc& doc, int32_t pos);

// Selects the event found at `pos`. When `remembered` is given and an
// identical record lies at that position, that one is chosen, so a
// correction sharing its position with a marker stays selected.
void SelectEventAt(CQuillon3Doc& doc, int32_t pos, const EventRecord* remembered = nullptr);

}  // namespace kelvane
