#pragma once
// Correcting the track finder's result by hand: splitting a track in two and
// joining neighbours. Each operation keeps the track table and the boundary
// markers of the event list in step, refreshes what it changed and tells the
// views. The GUI decides when a command may run (CommandState) and passes
// its choices in; every message and question goes through doc.Ui() with the
// fixed texts below, so a batch tool or a test can recognise them.
//
// Positions are position units. The event list must hold its sentinels (an
// internal error otherwise, std::out_of_range, nothing changed).
//
// The block merge lives in BlockMerge.h, the boundary drag in BoundaryMove.h.

#include <cstdint>
#include <string>

namespace kelvane {

class CQuillon3Doc;

// What an editing operation did, so the caller can react (repaint, close an
// adjust window, report in a batch log).
enum class EditOutcome {
    Done,           // the tracks changed and the document is marked modified
    Refused,        // a message explained why; nothing changed
    Cancelled,      // the user answered Cancel; nothing changed
    NotApplicable,  // the command does not apply in this state (its menu item
                    // would be disabled); nothing shown, nothing changed
};

namespace trackedit {
inline constexpr const char* kSplitTooClose =
    "The Split Point is too close to the start or end of an existing track.";
inline constexpr const char* kMergeCaption = "Merge Tracks";
inline constexpr const char* kBlockMergeCaption = "Merge Tracks in Block";
inline constexpr const char* kBlockTooLong = "The Block is too long to complete the operation";
inline constexpr const char* kNoTracksToMerge = "No Tracks to Merge";
inline constexpr const char* kBoundaryMoveFailed =
    "Track Boundary Move Failed.\nTrack has moved into adjacent track space";

// A split leaves both halves at least one second of CD audio long: 176400
// position units whatever the recording's own rate is.
inline constexpr int32_t kMinSplitDistance = 176400;

// "Track <track> will be permanently\nmerged with Track <previous>.\nReally Merge?"
std::string MergeQuestion(int32_t track, int32_t previous);
}  // namespace trackedit

// The track a position falls in for editing: the last track whose start is
// at or below pos, or track 1 when pos lies before every track (so a
// position in a gap belongs to the track before the gap). 0 when there are
// no tracks.
int32_t TrackHolding(const CQuillon3Doc& doc, int32_t pos);

// "Split Track" at `position` (the current event's position). The position
// is first snapped down to the sector grid; the track holding it is split
// there unless either half would be shorter than kMinSplitDistance, which
// shows kSplitTooClose (Refused). The first half keeps the title, the other
// texts, the fade-in and the pre-silence; the second half keeps the texts
// but the title, the fade-out, the post-silence and the end. Default titles
// and the Tracks menu are refreshed; an end and a start marker are inserted
// at the split point and every later marker is renumbered; the first new
// marker becomes selected. NotApplicable when there are no tracks or a block
// is marked.
EditOutcome SplitTrack(CQuillon3Doc& doc, int32_t position);

// Joins tracks first..last into track first, which takes the end, fade-out
// and post-silence of track last. A chosen track (currentTrack not 0)
// becomes first. The markers and the Tracks menu are rebuilt and the
// document is marked modified; the selected event is looked up again by its
// position, since the rebuild moves indices. The views are not told: the
// commands below do that once they have placed the cursor. Returns false, changing
// nothing, when first == last. Throws std::out_of_range, changing nothing,
// unless 1 <= first <= last <= the track count.
bool MergeTracks(CQuillon3Doc& doc, int32_t first, int32_t last);

// The "Merge Tracks" command. With a block marked it is MergeTracksInBlock.
// Otherwise the current event must be a boundary marker other than the
// start of track 1 and the end of the last track, and no adjustment may be
// running (else NotApplicable). The marker names track t (the start of t or
// the end of t - 1); the user is asked MergeQuestion(t, t - 1) under
// "Merge Tracks" (OK/Cancel). OK merges t - 1 and t, puts the cursor at the
// old end of track t - 1 and updates the views.
EditOutcome MergeTracksCommand(CQuillon3Doc& doc);

// The re-scan has rebuilt the event list from markers and corrections: the
// track table is read back from the markers. Element 0 spans dataStart to
// dataEnd; each marker sets its track's start or end to its position,
// snapped down to the sector grid (unless it is the recording's end) and no
// earlier than the first allowed start. Then the markers and the Tracks menu
// are rebuilt, the selected event is looked up again by position and the
// views are updated. Throws std::out_of_range, changing nothing, for a
// marker naming a track the table does not hold.
void RebuildTracksFromMarkers(CQuillon3Doc& doc);

}  // namespace kelvane
