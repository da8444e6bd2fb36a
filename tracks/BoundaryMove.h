#pragma once
// The end of a boundary drag in the waveform view's adjust mode: the view
// has let the user move a start or end marker and place the fade and
// silence handles; the document takes the result into the track table.

#include "tracks/TrackEditing.h"

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

// The current event must be a boundary marker (else NotApplicable, nothing
// changed). newPos is where the boundary goes, fadeMark and silenceMark the
// positions of the fade and silence handles; all are taken as given (the
// view places them).
//
// A start marker of track t may go above the start of track t - 1 (above
// dataStart - 1 for track 1) and below the end of track t; an end marker
// above the start of track t and below the end of track t + 1 (the end of
// the recording + 1 for the last track). Outside that range the marker goes
// back to its old boundary and stays selected, and kBoundaryMoveFailed is
// shown with a warning icon (Refused).
//
// Inside it, a start sets fadeIn = fadeMark - newPos, preSilence = newPos -
// silenceMark and the start; the previous track's end is pulled back to
// newPos if it lay beyond (set to newPos when gapless). An end sets fadeOut
// = newPos - fadeMark, postSilence = silenceMark - newPos and the end; the
// next track's start is pushed up to newPos likewise. The moved marker and
// its neighbour's marker are put back in position order, the moved one is
// selected, the views are updated and the document is marked modified
// (Done). The caller hides its adjust window after either outcome.
EditOutcome ApplyBoundaryMove(CQuillon3Doc& doc, int32_t newPos, int32_t fadeMark, int32_t silenceMark);

}  // namespace kelvane
