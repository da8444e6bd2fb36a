#pragma once
// Gapless (Disc-at-Once) boundaries: the gap between two tracks is shared
// out so that one track ends exactly where the next begins, on the sector
// grid. The search and the menu command round the middle of the gap in
// opposite directions (toward the earlier track after a search, toward the
// later one from the command), so a gap of an odd number of sectors puts the
// boundary on different sectors depending on which of the two aligned it.

namespace kelvane {

class CQuillon3Doc;

// The question asked before the command closes the gaps.
inline constexpr const char* kGaplessQuestion =
    "Gapless option will re-align all track boundaries.\n"
    "It will also cause end of track fade and silence settings to be ignored.\n"
    "Really remove gaps?";

// After a search: for t = 1 .. n-1 the boundary is track t's end plus
// trunc(gap / 4704) sectors, gap = start of t+1 - end of t. Changes the
// track table only (the caller rebuilds the markers).
void AlignGaplessAfterSearch(CQuillon3Doc& doc);

// The command's alignment: for t = 2 .. n the boundary is track t's start
// less trunc(gap / 4704) sectors. Rebuilds the markers, selects again what
// was selected (a marker by its index, anything else by its position) and
// updates the views.
void AlignGapless(CQuillon3Doc& doc);

// The "Gapless (use Disc-at-Once)" command: switching the flag on asks
// kGaplessQuestion (Yes/No) and, on Yes, aligns the boundaries; switching it
// off asks nothing and moves nothing. Only the document's flag changes, not
// the stored setting. Returns true when the flag changed.
bool ToggleGapless(CQuillon3Doc& doc);

}  // namespace kelvane
