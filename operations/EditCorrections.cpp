#include "EditCorrections.h"

#include "declick/CorrectionEdit.h"
#include "document/Interaction.h"
#include "settings/SettingsStore.h"
#include "tracks/BoundaryMove.h"

namespace kelvane {

namespace {

bool InList(const CQuillon3Doc& doc, int32_t index) { return index >= 1 && index <= doc.events.Size() - 2; }

}  // namespace

OpResult RemoveCurrentCorrection(CQuillon3Doc& doc)
{
    const int32_t index = doc.selectedEvent;
    if (!InList(doc, index) || !doc.events[index].IsCorrection()) return OpResult::Fail(FailKind::BadInput, "");
    if (doc.Ui().MessageBox(kMsgRemoveCurrent, kCaptionRemoveCurrent, MbButtons::OkCancel, MbIcon::Warning) !=
        MbAnswer::Ok)
        return OpResult::Fail(FailKind::Declined, kMsgRemoveCurrent);
    const int32_t pos = doc.events[index].pos;
    if (!RemoveCorrectionAt(doc, index)) return OpResult::Fail(FailKind::Environment, kMsgUnableToRemove);
    // The cursor stays where the correction was.
    doc.cursorEvent.pos = pos;
    doc.selectedEvent = -1;
    doc.SetModifiedFlag();
    doc.NotifyUpdate();
    return OpResult::Success();
}

OpResult RemoveCorrectionsInBlock(CQuillon3Doc& doc)
{
    if (!doc.HasBlock()) return OpResult::Fail(FailKind::BadInput, "");
    if (doc.Ui().MessageBox(kMsgRemoveBlock, kAppCaption, MbButtons::OkCancel, MbIcon::Warning) != MbAnswer::Ok)
        return OpResult::Fail(FailKind::Declined, kMsgRemoveBlock);
    if (!RemoveBlockCorrections(doc, true)) return OpResult::Fail(FailKind::Environment, "");
    return OpResult::Success();
}

OpResult DeleteKey(CQuillon3Doc& doc)
{
    return doc.HasBlock() ? RemoveCorrectionsInBlock(doc) : RemoveCurrentCorrection(doc);
}

bool InsertManualCorrection(CQuillon3Doc& doc, int32_t pos)
{
    const int32_t index = InsertCorrection(doc, pos);
    if (index == 0) {
        SelectEvent(doc, -1);
        doc.cursorEvent.pos = pos;
        return false;
    }
    SelectEvent(doc, index);
    return true;
}

CAdjustMode::CAdjustMode(CQuillon3Doc& doc) : doc_(doc)
{
    index_ = doc.selectedEvent;
    if (!InList(doc, index_)) return;
    EventRecord& r = doc.events[index_];
    if (r.mag == event::kMagAdjusting) {
        r.pass = -1;
        if (doc.corWidth == settings::kCorWidthNormal) r.width = 100;
    }
    kept_ = r;
    open_ = true;
    doc.AddObserver(this);
}

CAdjustMode::~CAdjustMode()
{
    if (open_) Abort();
}

void CAdjustMode::Close()
{
    open_ = false;
    doc_.RemoveObserver(this);
}

void CAdjustMode::Adjust(int32_t newWidth, int32_t newPos)
{
    if (!open_) return;
    AdjustCorrection(doc_, index_, newWidth, newPos);
    doc_.NotifyUpdate();
}

OpResult CAdjustMode::Apply(int32_t fadeMark, int32_t silenceMark)
{
    if (!open_) return OpResult::Fail(FailKind::BadInput, "");
    EventRecord& r = doc_.events[index_];
    if (r.IsMarker()) {
        const int32_t pos = r.pos;
        r.pos = kept_.pos;  // the track table decides whether it may move
        Close();
        doc_.selectedEvent = index_;
        const EditOutcome moved = ApplyBoundaryMove(doc_, pos, fadeMark, silenceMark);
        return moved == EditOutcome::Done ? OpResult::Success() : OpResult::Fail(FailKind::BadInput, "");
    }
    // The record is the user's now; put in its place again and made there.
    r.mag = event::kMagEdited;
    const int32_t width = r.width, pos = r.pos;
    AdjustCorrection(doc_, index_, width, pos);
    Close();
    doc_.selectedEvent = index_;
    doc_.SetModifiedFlag();
    doc_.NotifyUpdate();
    return OpResult::Success();
}

void CAdjustMode::Abort()
{
    if (!open_) return;
    if (doc_.events[index_].IsMarker()) doc_.events[index_].pos = kept_.pos;
    else AdjustCorrection(doc_, index_, kept_.width, kept_.pos);
    Close();
    doc_.selectedEvent = index_;
    doc_.NotifyUpdate();
}

}  // namespace kelvane
