#pragma once
// The correction list without its widget: which records it shows, in what
// order, with what text and colours, and what a click on a row does to the
// document. The list window only lays these rows out; it formats the
// visible rows alone, so a list of tens of thousands costs nothing to show.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;
struct EventRecord;

// The magnitude of the list's two block pseudo-rows.
inline constexpr int32_t kMagBlockRow = -5;

// 0 track boundary; 1, 2, 3 corrections below 15, 15..29, 30 and above;
// 4 a user correction; 6 any other negative magnitude.
int ColourClass(const EventRecord& record);

struct RowRgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const RowRgb&) const = default;
};
RowRgb RowBackground(int colourClass);
// Blue for the block rows and a pending inserted correction, else black.
RowRgb RowTextColour(const EventRecord& record);

// The filter limit L from "ListSel" and "ListMag": corrections of magnitude
// L or less are hidden; -1 shows them all.
int32_t ListFilterLimit(int listSel, int listMag);
int32_t ListFilterLimit(const CQuillon3Doc& doc);
// Markers always; a correction when its magnitude is above the limit.
bool ShownInList(const EventRecord& record, int32_t limit);

// The row's sort key: the position, one more for an end-of-track marker, so
// that an end and a start at one position stay two rows, the start first.
uint32_t RowKey(const EventRecord& record);

// "%1s%02d:%02d:%03d" and the magnitude or the label: the record's time from
// the start of the current track.
std::string RowText(const CQuillon3Doc& doc, const EventRecord& record);

// The rows for the document as it stands, sorted: the shown records, plus
// the block rows when a block is marked, plus the current record when the
// filter would hide it. `limit` is ListFilterLimit's.
struct ClickListRows {
    std::vector<int32_t> events;  // event indices, in list order; -1 block start, -2 block end
    int32_t currentRow = -1;      // the row of the current record, or -1
    int32_t blockFirstRow = -1;   // the rows selected with the block, or -1
    int32_t blockLastRow = -1;
};
ClickListRows BuildClickListRows(const CQuillon3Doc& doc, int32_t limit);

// The user chose the record at eventIndex. Without shift it becomes the
// current record and a marked block is dropped. With shift a block runs
// from the current record (or the nearer end of the block marked) to the
// chosen one, widened by one frame at each end. Tells the views either way; false for an index outside the list.
bool ChooseListRecord(CQuillon3Doc& doc, int32_t eventIndex, bool shift);

// The record nearest to pos (the first of equals), or 0 when the list is
// empty: what a click on a view of the whole recording makes current.
int32_t NearestEvent(const CQuillon3Doc& doc, int32_t pos);

// Marks the block between two positions (in either order), kept inside the
// recording, with the indices of its first and last records; tells the views.
void MarkBlock(CQuillon3Doc& doc, int32_t from, int32_t to);

}  // namespace kelvane
