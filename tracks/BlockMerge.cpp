#include "BlockMerge.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"

#include <stdexcept>
#include <string>

namespace kelvane {

namespace trackedit {
std::string BlockMergeQuestion(int32_t first, int32_t last)
{
    const char* joiner = last == first + 1 ? " and " : " to ";
    return "Tracks " + std::to_string(first) + joiner + std::to_string(last) +
           " will be permanently merged.\nContinue?";
}
}  // namespace trackedit

BlockMergeRange BlockMergeTracks(const CQuillon3Doc& doc, int32_t blockStart, int32_t blockEnd)
{
    const int32_t n = doc.TrackCount();
    if (n == 0) throw std::out_of_range("Merge Tracks in Block: there are no tracks");

    BlockMergeRange range;
    range.first = TrackHolding(doc, blockStart);
    // A block starting in the gap after a track does not touch that track.
    // "Before" is read strictly: a block starting exactly at a track's end
    // still counts as starting in it, as the end is where the gap begins.
    if (doc.tracks[range.first].end < blockStart && range.first < n) ++range.first;
    range.last = TrackHolding(doc, blockEnd);

    // What of tracks first..last lies outside the block; negative parts (the
    // block reaching into a gap) count against it, as written.
    const int64_t outside = (static_cast<int64_t>(doc.tracks[range.last].end) - blockEnd) +
                            (static_cast<int64_t>(blockStart) - doc.tracks[range.first].start);
    if (outside < trackedit::kWidenMargin) {
        if (range.first < 2) {
            ++range.last;
            if (range.last > n) {
                range.tooLong = true;
                return range;
            }
        } else {
            --range.first;
        }
    }
    return range;
}

EditOutcome MergeTracksInBlock(CQuillon3Doc& doc)
{
    if (!doc.HasBlock() || doc.TrackCount() == 0) return EditOutcome::NotApplicable;

    const BlockMergeRange range = BlockMergeTracks(doc, doc.blockStart, doc.blockEnd);
    IInteraction& ui = doc.Ui();
    if (range.tooLong) {
        // No caption is given for this refusal: the application's own.
        ui.MessageBox(trackedit::kBlockTooLong, kAppCaption, MbButtons::Ok, MbIcon::Warning);
        return EditOutcome::Refused;
    }
    if (range.first >= range.last) {
        ui.MessageBox(trackedit::kNoTracksToMerge, trackedit::kBlockMergeCaption, MbButtons::Ok,
                      MbIcon::Information);
        return EditOutcome::Refused;
    }
    const std::string question = trackedit::BlockMergeQuestion(range.first, range.last);
    if (ui.MessageBox(question, trackedit::kBlockMergeCaption, MbButtons::OkCancel, MbIcon::Question) !=
        MbAnswer::Ok)
        return EditOutcome::Cancelled;

    MergeTracks(doc, range.first, range.last);
    doc.NotifyUpdate();
    return EditOutcome::Done;
}

}  // namespace kelvane
