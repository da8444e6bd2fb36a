#include "ClickListRows.h"

#include "document/CQuillon3Doc.h"
#include "document/EventRecord.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kelvane {

namespace {

constexpr int kListSelAll = 1149;
constexpr int kListSel30 = 1163;
constexpr int kListSel15 = 1164;

// Labels are padded to one width so the column of the selection pointer
// after them stays straight.
std::string Padded(std::string text, size_t width = 20)
{
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string Label(const EventRecord& record)
{
    char text[64];
    if (record.IsMarker()) {
        std::snprintf(text, sizeof text, event::MarkerIsStart(record.width) ? "Start of Track %d" : "End of Track %d",
                      static_cast<int>(event::MarkerTrack(record.width)));
        return Padded(text);
    }
    switch (record.mag) {
    case event::kMagEdited: return Padded("User");
    case event::kMagAdjusting: return Padded("Mrkr");
    case event::kMagInserted: return Padded("User");
    default: return Padded("");
    }
}

int32_t TrackStart(const CQuillon3Doc& doc)
{
    if (doc.currentTrack > 0 && doc.currentTrack < doc.tracks.Size()) return doc.tracks[doc.currentTrack].start;
    return doc.dataStart;
}

}  // namespace

int ColourClass(const EventRecord& record)
{
    if (record.width < 0) return 0;
    if (record.mag == event::kMagEdited) return 4;
    if (record.mag < 0) return 6;
    return std::min(record.mag / 15 + 1, 3);
}

RowRgb RowBackground(int colourClass)
{
    switch (colourClass) {
    case 0: return {208, 208, 208};
    case 1: return {200, 255, 200};
    case 2: return {255, 255, 200};
    case 3: return {255, 200, 200};
    case 4: return {224, 224, 255};
    default: return {255, 255, 255};
    }
}

RowRgb RowTextColour(const EventRecord& record)
{
    if (record.width >= 0 && (record.mag == kMagBlockRow || record.mag == event::kMagAdjusting)) return {0, 0, 255};
    return {0, 0, 0};
}

int32_t ListFilterLimit(int listSel, int listMag)
{
    switch (listSel) {
    case kListSelAll: return -1;
    case kListSel30: return 30;
    case kListSel15: return 15;
    default: return listMag - 1;
    }
}

int32_t ListFilterLimit(const CQuillon3Doc& doc)
{
    const ISettingsStore& store = const_cast<CQuillon3Doc&>(doc).Settings();
    return ListFilterLimit(store.Get(settings::ListSel), store.Get(settings::ListMag));
}

bool ShownInList(const EventRecord& record, int32_t limit)
{
    if (record.width < 0) return true;
    if (record.mag < 0) return true;
    return record.mag > limit;
}

uint32_t RowKey(const EventRecord& record)
{
    const bool endMarker = record.width < 0 && !event::MarkerIsStart(record.width);
    return static_cast<uint32_t>(record.pos) + (endMarker ? 1u : 0u);
}

std::string RowText(const CQuillon3Doc& doc, const EventRecord& record)
{
    const int64_t rate = doc.sampleRate > 0 ? doc.sampleRate : 44100;
    const int64_t frames = (static_cast<int64_t>(record.pos) - TrackStart(doc)) / 4;
    const int64_t f = std::llabs(frames);
    const int minutes = static_cast<int>(f / (rate * 60));
    const int seconds = static_cast<int>((f / rate) % 60);
    const int millis = static_cast<int>((f % rate) * 1000 / rate);
    const char* sign = frames < 0 ? "-" : " ";
    char text[96];
    const int cls = ColourClass(record);
    if (record.width >= 0 && record.mag == kMagBlockRow) {
        // The block rows carry their own label, set by the caller's row kind.
        std::snprintf(text, sizeof text, "%1s%02d:%02d:%03d   ", sign, minutes, seconds, millis);
        return text;
    }
    if (cls >= 1 && cls <= 3) {
        std::snprintf(text, sizeof text, "%1s%02d:%02d:%03d   %4d            ", sign, minutes, seconds, millis,
                      static_cast<int>(record.mag));
        return text;
    }
    std::snprintf(text, sizeof text, "%1s%02d:%02d:%03d   ", sign, minutes, seconds, millis);
    return text + Label(record);
}

ClickListRows BuildClickListRows(const CQuillon3Doc& doc, int32_t limit)
{
    ClickListRows rows;
    const int32_t last = doc.events.Size() - 2;
    const int32_t current = doc.selectedEvent;
    rows.events.reserve(static_cast<size_t>(std::max(last, 0)) + 2);
    const bool block = doc.HasBlock();
    bool startPlaced = false, endPlaced = false;
    for (int32_t i = 1; i <= last; ++i) {
        const EventRecord& record = doc.events[i];
        if (block && !startPlaced && record.pos >= doc.blockStart) {
            rows.blockFirstRow = static_cast<int32_t>(rows.events.size());
            rows.events.push_back(-1);
            startPlaced = true;
        }
        if (block && !endPlaced && record.pos > doc.blockEnd) {
            rows.blockLastRow = static_cast<int32_t>(rows.events.size());
            rows.events.push_back(-2);
            endPlaced = true;
        }
        if (!ShownInList(record, limit) && i != current) continue;
        if (i == current) rows.currentRow = static_cast<int32_t>(rows.events.size());
        rows.events.push_back(i);
    }
    if (block && !startPlaced) {
        rows.blockFirstRow = static_cast<int32_t>(rows.events.size());
        rows.events.push_back(-1);
    }
    if (block && !endPlaced) {
        rows.blockLastRow = static_cast<int32_t>(rows.events.size());
        rows.events.push_back(-2);
    }
    return rows;
}

bool ChooseListRecord(CQuillon3Doc& doc, int32_t eventIndex, bool shift)
{
    if (eventIndex < 1 || eventIndex > doc.events.Size() - 2) return false;
    const int32_t chosen = doc.events[eventIndex].pos;
    if (!shift) {
        // A plain choice replaces a marked block by the one record.
        doc.blockStart = doc.blockEnd = 0;
        doc.blockFirstEvent = doc.blockLastEvent = 0;
        doc.selectedEvent = eventIndex;
        doc.NotifyUpdate();
        return true;
    }
    int32_t from = chosen;
    if (doc.HasBlock()) {
        from = std::abs(chosen - doc.blockStart) < std::abs(chosen - doc.blockEnd) ? doc.blockEnd : doc.blockStart;
    } else if (const EventRecord* cur = doc.CurrentEvent()) {
        from = cur->pos;
    }
    MarkBlock(doc, std::min(from, chosen) - 4, std::max(from, chosen) + 4);
    return true;
}

int32_t NearestEvent(const CQuillon3Doc& doc, int32_t pos)
{
    int32_t lo = 1, hi = doc.events.Size() - 2;
    if (hi < lo) return 0;
    while (lo < hi) {  // the first record at or after pos
        const int32_t mid = lo + (hi - lo) / 2;
        if (doc.events[mid].pos < pos) lo = mid + 1;
        else hi = mid;
    }
    if (lo > 1 && std::llabs(static_cast<int64_t>(doc.events[lo - 1].pos) - pos) <=
                      std::llabs(static_cast<int64_t>(doc.events[lo].pos) - pos)) {
        --lo;
        while (lo > 1 && doc.events[lo - 1].pos == doc.events[lo].pos) --lo;
    }
    return lo;
}

void MarkBlock(CQuillon3Doc& doc, int32_t from, int32_t to)
{
    const int32_t low = std::min(from, to), high = std::max(from, to);
    doc.blockStart = std::max(low, doc.dataStart);
    doc.blockEnd = doc.dataEnd > 0 ? std::min(high, doc.dataEnd) : high;
    doc.blockFirstEvent = 0;
    doc.blockLastEvent = 0;
    for (int32_t i = 1; i + 1 < doc.events.Size(); ++i) {
        const int32_t pos = doc.events[i].pos;
        if (pos < doc.blockStart || pos > doc.blockEnd) continue;
        if (doc.blockFirstEvent == 0) doc.blockFirstEvent = i;
        doc.blockLastEvent = i;
    }
    doc.NotifyUpdate();
}

}  // namespace kelvane
