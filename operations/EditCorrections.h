#pragma once
// The correction edits as the front ends run them: the Delete key (the
// current correction, or every correction of the marked block, each after
// its question), the insert of a manual correction, and the User Adjust
// Mode with its Apply and Abort. The view turns mouse and keys into these
// calls; the document side is declick/CorrectionEdit.h.

#include "document/CQuillon3Doc.h"
#include "document/ImportResult.h"

#include <cstdint>
#include <optional>

namespace kelvane {

inline constexpr const char* kMsgRemoveCurrent =
    "The Current correction will be permanently removed and \nthe original waveform restored.\nReally Remove?";
inline constexpr const char* kCaptionRemoveCurrent = "Remove Correction";
inline constexpr const char* kMsgRemoveBlock =
    "All corrections in the block will be permanently removed and \nthe original waveform restored.\nReally Remove?";

// The current correction goes after the user's OK; the cursor stays where it
// was. BadInput when the current event is no correction of the list
// (nothing asked); Declined on Cancel; Environment when the run is too long
// ("Unable to remove correction", told) or a file failed.
OpResult RemoveCurrentCorrection(CQuillon3Doc& doc);

// "Remove Corrections": every correction of the marked block goes after the
// user's OK, the user's own kept. BadInput without a block.
OpResult RemoveCorrectionsInBlock(CQuillon3Doc& doc);

// The Delete key: the block's corrections when a block is marked, else the
// current one.
OpResult DeleteKey(CQuillon3Doc& doc);

// A double click at pos: a manual correction there becomes the current
// record, a pending insert. False where none may go (outside the analysis
// limits, on a record, or with a block marked): the cursor record moves
// there instead.
bool InsertManualCorrection(CQuillon3Doc& doc, int32_t pos);

// The User Adjust Mode on the current record. While it is open the document
// counts as adjusting (closing or replacing the recording is refused with
// "Cannot Proceed while adjustment is in progress."). It keeps a copy of the
// record as it was when the mode opened; a pending insert takes pass -1 and,
// in Normal width mode, the width 100 on entering.
class CAdjustMode : private IDocObserver {
public:
    explicit CAdjustMode(CQuillon3Doc& doc);
    // A mode still open is aborted.
    ~CAdjustMode() override;
    CAdjustMode(const CAdjustMode&) = delete;
    CAdjustMode& operator=(const CAdjustMode&) = delete;

    // False when the current event is no record of the list (no mode then).
    bool IsOpen() const { return open_; }
    // The index of the record being adjusted (it moves as the record does).
    int32_t Index() const { return index_; }
    const EventRecord& Kept() const { return kept_; }

    // A move or resize (newPos <= 0: the position stays). Tried on the audio
    // at once; a run longer than 40960 units leaves the audio as it was.
    void Adjust(int32_t newWidth, int32_t newPos);
    // Commits: a correction becomes the user's (-2) and is made at its place;
    // a boundary marker goes to the track table (its refusals are told
    // there). Ends the mode.
    OpResult Apply(int32_t fadeMark = 0, int32_t silenceMark = 0);
    // Puts back the width and position kept at the start; ends the mode with
    // the record current again.
    void Abort();

private:
    bool IsAdjusting() const override { return open_; }
    void Close();

    CQuillon3Doc& doc_;
    EventRecord kept_;
    int32_t index_ = 0;
    bool open_ = false;
};

}  // namespace kelvane
