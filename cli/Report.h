#pragma once
// The JSON descriptions of a recording that the batch tool prints or writes.

#include <iosfwd>

namespace kelvane {

class CQuillon3Doc;

// The input's facts after import: kind, format, layout, duration, tags.
void WriteInfoJson(std::ostream& out, const CQuillon3Doc& doc);

// The report of a processed recording: format and layout, the status, the
// real event records in list order, the tracks with their texts and
// timings, and the block levels.
// Positions are position units.
void WriteEventsJson(std::ostream& out, const CQuillon3Doc& doc);

// Seconds of audio in the recording.
double DurationSeconds(const CQuillon3Doc& doc);

}  // namespace kelvane
