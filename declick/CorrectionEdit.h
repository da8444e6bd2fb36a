#pragma once
// Editing corrections after the first scan: removing one, moving or resizing
// one, inserting one by hand, removing those of a block, and merging a list
// of new corrections (doc.staging) into the correction list.
//
// Whatever changes, the working file stays what generating the list would
// give: the stretch a change touches is copied back from the source at full
// precision and every correction overlapping it is synthesised again, lowest
// pass first. The stretch is the span of the record's run: the neighbours
// in the list whose regions overlap, each joining the run when its region
// starts before the end of the run's regions so far.
//
// These are the document's side only: no question is asked here (the
// operations layer asks), except the refusals the edits themselves word.
// Positions are position units (4 per frame). Single-threaded.

#include "document/CQuillon3Doc.h"
#include "document/EventRecord.h"

#include <cstdint>

namespace kelvane {

inline constexpr const char* kMsgUnableToRemove = "Unable to remove correction";
inline constexpr const char* kMsgTidyingUp = "Tidying Up, please wait...";
// The longest stretch a single-correction edit restores and rebuilds.
inline constexpr int32_t kMaxEditSpan = 40960;

// The stretch a record's synthesis changes (markers: the frame before it).
struct Region {
    int32_t start = 0;
    int32_t end = 0;  // exclusive
};
Region RegionOf(const EventRecord& e);

// Entries first..last of doc.events (1 .. size-2) and their span.
struct EditRun {
    int32_t first = 0;
    int32_t last = -1;
    int32_t spanStart = 0;
    int32_t spanEnd = 0;
    int32_t SpanBytes() const { return spanEnd - spanStart; }
};

// The run holding entry `index`.
EditRun FindRun(const CQuillon3Doc& doc, int32_t index);
// Widens first..last (and its span) until no entry outside overlaps the span.
EditRun CloseRun(const CQuillon3Doc& doc, EditRun run);

// The click density table: one more or one fewer correction at pos.
void CountCorrection(CQuillon3Doc& doc, int32_t pos, int delta);

// Copies [start, end) (clamped to the audio) from the source to the working
// file at full precision. A file error is shown; false then.
bool RestoreStretch(CQuillon3Doc& doc, int32_t start, int32_t end);

// Synthesises entries first..last of doc.events that are corrections, except
// `skip`, in ascending pass order and within a pass in list order.
bool Resynthesise(CQuillon3Doc& doc, int32_t first, int32_t last, int32_t skip = -1);

// Merges doc.staging (head sentinel, records, blank tail) into the event
// list: a record goes before the first entry at or after its position when
// that entry lies beyond it, is the tail or is a track boundary; at the same
// position the two become one (the wider width, and -2 when the new record
// was the user's). Corrections put in are counted in the density table
// (staging records count as not counted). Ends with the progress text
// "Tidying Up, please wait..." and tells the views. The staging list is left
// as it was.
void MergeStaging(CQuillon3Doc& doc);

// Empties doc.staging and gives it its head sentinel and blank tail.
void ResetStaging(CQuillon3Doc& doc);

// Removes entry `index` (a correction): its run is restored and the rest of
// it synthesised again, then it leaves the list. A run spanning more than
// 40960 units is refused with "Unable to remove correction" (list and audio
// as they were; false). A pending insert (-4) is only taken out of the
// list, its stretch rebuilt when it is short enough, since a pending insert
// may have been tried out on the audio.
bool RemoveCorrectionAt(CQuillon3Doc& doc, int32_t index);

// What an adjustment did.
enum class AdjustOutcome {
    Done,       // the list and the audio follow the new values
    MarkerSet,  // a boundary marker moved in the list (the track table follows on Apply)
    TooLong,    // the record took the new values but its run spans more than 40960
                // units: the audio was left as it was
};

// Step 4 of editing: entry `index` takes width w' and, when newPos > 0, the
// position newPos (a correction's clamped to the analysis limits and put on
// the frame grid). The list stays sorted: the record moves to its place, and
// `index` follows it. The old and the new run, joined, are restored and
// synthesised again.
AdjustOutcome AdjustCorrection(CQuillon3Doc& doc, int32_t& index, int32_t newWidth, int32_t newPos);

// Inserts a manual correction at the frame holding pos (rounded down to the
// frame grid): {pass 1, 0, pos, width code 1, -3}, in position order, and
// counts it. Refused (0) outside the analysis limits, while a block is
// marked, or where a record lies already. Returns its index.
int32_t InsertCorrection(CQuillon3Doc& doc, int32_t pos);

// Makes entry `index` current (0: none, -1: the cursor record). A pending
// insert that stops being current is abandoned (removed); an inserted
// correction (-3) that becomes current is a pending insert (-4). Returns the
// index the chosen entry has afterwards.
int32_t SelectEvent(CQuillon3Doc& doc, int32_t index);

// The entries of the marked block: those whose position lies in
// [blockStart, blockEnd]. first > last when there are none.
EditRun BlockEntries(const CQuillon3Doc& doc);

// Removes every entry of the block: track boundaries are kept, and user
// corrections (-2) too when keepUser; the audio of the rest is restored
// (record by record when few records are spread over the block, else the
// whole span chunk by chunk with the progress window), then the kept ones
// and the overlapping neighbours outside the block are synthesised again.
// The block stays marked and the document is marked modified. False after a
// file error (told).
bool RemoveBlockCorrections(CQuillon3Doc& doc, bool keepUser);

}  // namespace kelvane
