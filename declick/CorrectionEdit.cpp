#include "CorrectionEdit.h"

#include "declick/CCorrector.h"
#include "document/CProgressScope.h"
#include "document/Interaction.h"
#include "document/RestoreOriginal.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace kelvane {

namespace {

// No region reaches further than this from its record's position (width
// code 511: 4 x 384 + 64 units, and the 4 units a record's own stretch adds),
// so a search for overlapping neighbours can stop there in a sorted list.
constexpr int32_t kReach = 2048;

int32_t LastReal(const CQuillon3Doc& doc) { return doc.events.Size() - 2; }

void RequireEntry(const CQuillon3Doc& doc, int32_t index)
{
    if (index < 1 || index > LastReal(doc)) throw std::out_of_range("event index outside the list");
}

// A record's own stretch, as the block removal restores it: symmetric about
// its position, from its region's start.
Region StretchOf(const EventRecord& e)
{
    const Region r = RegionOf(e);
    return {r.start, r.start + 2 * (e.pos - r.start)};
}

void Widen(EditRun& run, const Region& r)
{
    run.spanStart = std::min(run.spanStart, r.start);
    run.spanEnd = std::max(run.spanEnd, r.end);
}

int32_t OnFrameGrid(const CQuillon3Doc& doc, int32_t pos)
{
    const int32_t off = ((pos - doc.dataAlign) % 4 + 4) % 4;
    return pos - off;
}

// Index of the first real entry whose position is at or after pos (the
// tail's index when none is).
int32_t FirstAtOrAfter(const CQuillon3Doc& doc, int32_t pos)
{
    const EventRecord* begin = doc.events.begin() + 1;
    const EventRecord* end = doc.events.begin() + (doc.events.Size() - 1);
    const EventRecord* at =
        std::lower_bound(begin, end, pos, [](const EventRecord& e, int32_t p) { return e.pos < p; });
    return static_cast<int32_t>(at - doc.events.begin());
}

bool ShowFileError(CQuillon3Doc& doc, const std::string& text)
{
    doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
    return false;
}

// Keeps the selection on the same entry when one is inserted or removed
// before it.
void ShiftSelection(CQuillon3Doc& doc, int32_t index, int delta)
{
    if (doc.selectedEvent <= 0) return;
    if (delta < 0 && doc.selectedEvent == index) doc.selectedEvent = 0;
    else if (doc.selectedEvent >= index + (delta < 0 ? 1 : 0)) doc.selectedEvent += delta;
}

}  // namespace

Region RegionOf(const EventRecord& e)
{
    if (e.IsMarker()) return {e.pos - 4, e.pos};
    const int32_t c = CCorrector::HalfLength(e.width);
    if (c < CCorrector::kLongFrom) return {e.pos - 8 * c - 4, e.pos + 8 * c};
    return {e.pos - 4 * c - 64, e.pos + 4 * c + 60};
}

EditRun CloseRun(const CQuillon3Doc& doc, EditRun run)
{
    // Neighbour to neighbour overlap is not enough: a wide region may
    // reach past a narrow neighbour to the next one, whose stretch a restore
    // of the span would then cut into. The run is every entry connected to
    // it through overlapping regions.
    const int32_t lastReal = LastReal(doc);
    for (bool changed = true; changed;) {
        changed = false;
        int32_t reachLeft = run.first;
        for (int32_t j = run.first - 1; j >= 1 && doc.events[j].pos + kReach > run.spanStart; --j)
            if (RegionOf(doc.events[j]).end > run.spanStart) reachLeft = j;
        for (int32_t j = reachLeft; j < run.first; ++j) Widen(run, RegionOf(doc.events[j]));
        int32_t reachRight = run.last;
        for (int32_t j = run.last + 1; j <= lastReal && doc.events[j].pos - kReach < run.spanEnd; ++j)
            if (RegionOf(doc.events[j]).start < run.spanEnd) reachRight = j;
        for (int32_t j = run.last + 1; j <= reachRight; ++j) Widen(run, RegionOf(doc.events[j]));
        changed = reachLeft != run.first || reachRight != run.last;
        run.first = reachLeft;
        run.last = reachRight;
    }
    return run;
}

EditRun FindRun(const CQuillon3Doc& doc, int32_t index)
{
    RequireEntry(doc, index);
    const Region r = RegionOf(doc.events[index]);
    return CloseRun(doc, {index, index, r.start, r.end});
}

void CountCorrection(CQuillon3Doc& doc, int32_t pos, int delta)
{
    const int64_t segment = pos / kSegmentBytes;
    if (segment >= 0 && segment < static_cast<int64_t>(doc.segmentCorrections.size()))
        doc.segmentCorrections[static_cast<size_t>(segment)] += delta;
}

bool RestoreStretch(CQuillon3Doc& doc, int32_t start, int32_t end)
{
    start = std::max(start, doc.dataStart);
    end = std::min(end, doc.dataEnd);
    if (end <= start) return true;
    // Two position units per sample, whatever the depth.
    std::vector<int32_t> samples(static_cast<size_t>((end - start) / 2));
    const int64_t n = static_cast<int64_t>(samples.size());
    if (doc.sourceFile.Read24At(start, samples.data(), n) != n) return ShowFileError(doc, doc.sourceFile.LastError());
    if (doc.workingFile.Seek(start) < 0 || !doc.workingFile.Write24(samples.data(), n))
        return ShowFileError(doc, doc.workingFile.LastError());
    return true;
}

bool Resynthesise(CQuillon3Doc& doc, int32_t first, int32_t last, int32_t skip)
{
    std::vector<int32_t> order;
    for (int32_t i = std::max(first, 1); i <= std::min(last, LastReal(doc)); ++i)
        if (i != skip && doc.events[i].IsCorrection()) order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return doc.events[a].pass < doc.events[b].pass; });
    if (order.empty()) return true;
    CCorrector corrector(doc);
    for (int32_t i : order) corrector.CorrectOne(doc.events[i]);
    if (corrector.IoErrors() > 0) return ShowFileError(doc, corrector.IoErrorText());
    return true;
}

void ResetStaging(CQuillon3Doc& doc)
{
    doc.staging.RemoveAll();
    doc.staging.SetGrowStep(kEventGrowStep);
    doc.staging.SetSize(2);
}

void MergeStaging(CQuillon3Doc& doc)
{
    std::vector<EventRecord> added;
    if (doc.staging.Size() > 2) added.assign(doc.staging.begin() + 1, doc.staging.end() - 1);
    std::stable_sort(added.begin(), added.end(), [](const EventRecord& a, const EventRecord& b) { return a.pos < b.pos; });

    const EventRecord selected = doc.selectedEvent > 0 ? doc.events[doc.selectedEvent] : EventRecord{};
    const int32_t tail = doc.events.Size() - 1;
    std::vector<EventRecord> out;
    out.reserve(static_cast<size_t>(doc.events.Size()) + added.size());
    out.push_back(doc.events[0]);
    int32_t i = 1;
    for (const EventRecord& rec : added) {
        while (i < tail && doc.events[i].pos < rec.pos) out.push_back(doc.events[i++]);
        // The first entry at or after the record: one put in just before at
        // the same position, else the next of the list.
        size_t j = out.size();
        while (j > 1 && out[j - 1].pos >= rec.pos) --j;
        EventRecord* at = j < out.size() ? &out[j] : (i < tail ? &doc.events[i] : nullptr);
        // A boundary marker is never folded into a correction, nor one into it.
        if (!at || at->pos > rec.pos || at->IsMarker() || rec.IsMarker()) {
            out.push_back(rec);
            if (rec.IsCorrection()) CountCorrection(doc, rec.pos, +1);
        } else {
            // The wider correction; the entry keeps its channel choice.
            const int32_t code = std::max(at->width & event::kWidthCodeMask, rec.width & event::kWidthCodeMask);
            at->width = (at->width & ~event::kWidthCodeMask) | code;
            if (rec.mag == event::kMagEdited) at->mag = event::kMagEdited;
        }
    }
    while (i <= tail) out.push_back(doc.events[i++]);

    doc.events.SetSize(static_cast<int32_t>(out.size()));
    std::copy(out.begin(), out.end(), doc.events.begin());
    if (doc.selectedEvent > 0) {
        const auto found = std::find(out.begin() + 1, out.end() - 1, selected);
        doc.selectedEvent = found != out.end() - 1 ? static_cast<int32_t>(found - out.begin()) : 0;
    }
    CProgressScope progress(doc);
    progress->SetMessage(kMsgTidyingUp);
    doc.NotifyUpdate();
}

bool RemoveCorrectionAt(CQuillon3Doc& doc, int32_t index)
{
    RequireEntry(doc, index);
    const EventRecord e = doc.events[index];
    if (!e.IsCorrection()) return false;
    const bool pending = e.mag == event::kMagAdjusting;
    const EditRun run = FindRun(doc, index);
    const bool rebuild = run.SpanBytes() <= kMaxEditSpan;
    if (!rebuild && !pending) {
        doc.Ui().MessageBox(kMsgUnableToRemove, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return false;
    }
    if (rebuild && !RestoreStretch(doc, run.spanStart, run.spanEnd)) return false;
    CountCorrection(doc, e.pos, -1);
    doc.events.RemoveAt(index);
    ShiftSelection(doc, index, -1);
    const bool made = !rebuild || Resynthesise(doc, run.first, run.last - 1);
    doc.SetModifiedFlag();
    doc.NotifyUpdate();
    return made;
}

AdjustOutcome AdjustCorrection(CQuillon3Doc& doc, int32_t& index, int32_t newWidth, int32_t newPos)
{
    RequireEntry(doc, index);
    EventRecord moved = doc.events[index];
    if (moved.IsMarker()) {
        // The track table follows when the move is applied.
        if (newPos > 0) doc.events[index].pos = newPos;
        return AdjustOutcome::MarkerSet;
    }
    const EditRun old = FindRun(doc, index);
    const bool oldAlone = old.first == old.last;
    const int32_t oldLowPos = doc.events[old.first].pos, oldHighPos = doc.events[old.last].pos;

    moved.width = newWidth;
    if (newPos > 0) moved.pos = std::clamp(OnFrameGrid(doc, newPos), doc.scanFirst, doc.scanLast);
    const bool wasSelected = doc.selectedEvent == index;
    CountCorrection(doc, doc.events[index].pos, -1);
    doc.events.RemoveAt(index);
    ShiftSelection(doc, index, -1);
    // After the entries at the same position, so that a record that keeps its
    // position keeps its place.
    int32_t at = FirstAtOrAfter(doc, moved.pos);
    while (at <= LastReal(doc) && doc.events[at].pos == moved.pos) ++at;
    doc.events.InsertAt(at, moved);
    ShiftSelection(doc, at, +1);
    if (wasSelected) doc.selectedEvent = at;
    CountCorrection(doc, moved.pos, +1);
    index = at;

    EditRun run = FindRun(doc, at);
    if (!oldAlone) {
        // The old run's other members are still there, where the list holds them.
        run.first = std::min(run.first, FirstAtOrAfter(doc, oldLowPos));
        int32_t high = FirstAtOrAfter(doc, oldHighPos);
        while (high + 1 <= LastReal(doc) && doc.events[high + 1].pos == oldHighPos) ++high;
        run.last = std::max(run.last, std::min(high, LastReal(doc)));
        for (int32_t j = run.first; j <= run.last; ++j) Widen(run, RegionOf(doc.events[j]));
    }
    run.spanStart = std::min(run.spanStart, old.spanStart);
    run.spanEnd = std::max(run.spanEnd, old.spanEnd);
    run = CloseRun(doc, run);
    doc.SetModifiedFlag();
    if (run.SpanBytes() > kMaxEditSpan) {
        // Moved far: the place it left and the place it went are two runs,
        // each rebuilt on its own when each is short enough.
        const EditRun there = FindRun(doc, at);
        const bool apart = there.spanStart >= old.spanEnd || there.spanEnd <= old.spanStart;
        if (!apart || old.SpanBytes() > kMaxEditSpan || there.SpanBytes() > kMaxEditSpan)
            return AdjustOutcome::TooLong;
        if (!RestoreStretch(doc, old.spanStart, old.spanEnd)) return AdjustOutcome::TooLong;
        if (!oldAlone) {
            const int32_t first = FirstAtOrAfter(doc, oldLowPos);
            const int32_t last = FirstAtOrAfter(doc, oldHighPos + 1) - 1;
            Resynthesise(doc, first, last, at);
        }
        run = there;
    }

    if (!RestoreStretch(doc, run.spanStart, run.spanEnd)) return AdjustOutcome::TooLong;
    EventRecord& r = doc.events[at];
    if (run.first == run.last) {
        if (r.pass == -1) r.pass = 1;
    } else if (r.pass == -1) {
        int32_t highest = 0;
        for (int32_t j = run.first; j <= run.last; ++j)
            if (j != at) highest = std::max(highest, doc.events[j].pass);
        r.pass = highest + 1;
    }
    Resynthesise(doc, run.first, run.last);
    doc.NotifyUpdate();
    return AdjustOutcome::Done;
}

int32_t InsertCorrection(CQuillon3Doc& doc, int32_t pos)
{
    if (doc.HasBlock()) return 0;
    pos = OnFrameGrid(doc, pos);
    if (pos < doc.scanFirst || pos > doc.scanLast) return 0;
    const int32_t at = FirstAtOrAfter(doc, pos);
    if (at <= LastReal(doc) && doc.events[at].pos == pos) return 0;
    doc.events.InsertAt(at, EventRecord{1, 0, pos, 1, event::kMagInserted});
    ShiftSelection(doc, at, +1);
    CountCorrection(doc, pos, +1);
    doc.SetModifiedFlag();
    doc.NotifyUpdate();
    return at;
}

int32_t SelectEvent(CQuillon3Doc& doc, int32_t index)
{
    const int32_t current = doc.selectedEvent;
    if (current > 0 && current <= LastReal(doc) && current != index &&
        doc.events[current].mag == event::kMagAdjusting) {
        // Left without Apply: the insert is abandoned.
        RemoveCorrectionAt(doc, current);
        if (index > current) --index;
    }
    doc.selectedEvent = index;
    if (index > 0 && index <= LastReal(doc) && doc.events[index].mag == event::kMagInserted)
        doc.events[index].mag = event::kMagAdjusting;
    doc.NotifyUpdate();
    return index;
}

EditRun BlockEntries(const CQuillon3Doc& doc)
{
    EditRun run;
    if (!doc.HasBlock()) return run;
    run.first = FirstAtOrAfter(doc, doc.blockStart);
    run.last = FirstAtOrAfter(doc, doc.blockEnd + 1) - 1;
    return run;
}

bool RemoveBlockCorrections(CQuillon3Doc& doc, bool keepUser)
{
    EditRun block = BlockEntries(doc);
    ResetStaging(doc);
    if (block.first > block.last) {
        doc.SetModifiedFlag();
        return true;
    }
    block.spanStart = doc.events[block.first].pos;
    block.spanEnd = block.spanStart;
    bool keptAny = false;
    for (int32_t i = block.first; i <= block.last; ++i) {
        const EventRecord& e = doc.events[i];
        if (e.IsMarker() || (keepUser && e.mag == event::kMagEdited)) {
            doc.staging.InsertAt(doc.staging.Size() - 1, e);
            keptAny = true;
        }
        if (e.IsCorrection()) CountCorrection(doc, e.pos, -1);
        Widen(block, StretchOf(e));
    }
    // Corrections just outside the block whose regions the restore reaches
    // are made again too.
    const EditRun closed = CloseRun(doc, block);
    const int32_t lowPos = doc.events[closed.first].pos, highPos = doc.events[closed.last].pos;

    const int32_t count = block.last - block.first;
    bool ok = true;
    if (count / (closed.SpanBytes() / kSegmentBytes + 1) < 7) {
        CProgressScope progress(doc);
        progress->SetRange(0, closed.last - closed.first + 1);
        for (int32_t i = closed.first; i <= closed.last && ok; ++i) {
            const bool inBlock = i >= block.first && i <= block.last;
            const Region s = inBlock ? StretchOf(doc.events[i]) : RegionOf(doc.events[i]);
            ok = RestoreStretch(doc, s.start, s.end);
            progress->SetPos(i - closed.first + 1);
        }
    } else {
        ok = RestoreOriginal(doc, closed.spanStart, closed.spanEnd);
    }

    doc.events.RemoveAt(block.first, block.last - block.first + 1);
    doc.selectedEvent = 0;
    if (keptAny) MergeStaging(doc);
    if (ok) {
        const int32_t first = FirstAtOrAfter(doc, lowPos);
        const int32_t last = FirstAtOrAfter(doc, highPos + 1) - 1;
        ok = Resynthesise(doc, first, last);
    }
    ResetStaging(doc);
    doc.SetModifiedFlag();
    doc.NotifyUpdate();
    return ok;
}

}  // namespace kelvane
