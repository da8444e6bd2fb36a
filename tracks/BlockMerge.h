#pragma once
// "Merge Tracks in Block": every track the marked block touches becomes one.
// A block that covers nearly all of the tracks it touches is read as "merge
// these with their neighbour", since a hand-marked block rarely ends exactly
// on the outer boundaries.

#include "tracks/TrackEditing.h"

#include <cstdint>
#include <string>

namespace kelvane {

class CQuillon3Doc;

namespace trackedit {
// When less than this much of the touched tracks lies outside the block
// (two seconds of CD audio), the merge takes in one more neighbour.
inline constexpr int32_t kWidenMargin = 352800;

// "Tracks <first> and <last> will be permanently merged.\nContinue?" for two
// neighbours, "Tracks <first> to <last> ..." for more.
std::string BlockMergeQuestion(int32_t first, int32_t last);
}  // namespace trackedit

// The tracks a block merge would join, before any widening is refused.
struct BlockMergeRange {
    int32_t first = 0;
    int32_t last = 0;
    bool tooLong = false;  // widening would need a track after the last one
};

// The range for a block [blockStart, blockEnd] (positions): first is the
// track holding blockStart, one later when blockStart lies in the gap after
// it (never past the last track); last is the track holding blockEnd. If
// less than kWidenMargin of tracks first..last lies outside the block, the
// range widens: by the next track when first is track 1 (tooLong when there
// is none), otherwise by the previous one. Requires at least one track.
BlockMergeRange BlockMergeTracks(const CQuillon3Doc& doc, int32_t blockStart, int32_t blockEnd);

// The command on the document's marked block. NotApplicable without a block
// or without tracks. kBlockTooLong (Refused) when the widened range would
// run past the last track; kNoTracksToMerge (Refused) when the range holds
// a single track; otherwise BlockMergeQuestion under "Merge Tracks in Block"
// (OK/Cancel): OK merges the range and updates the views (Done), Cancel
// changes nothing (Cancelled).
EditOutcome MergeTracksInBlock(CQuillon3Doc& doc);

}  // namespace kelvane
