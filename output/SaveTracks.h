#pragma once
// The "Save..." command after its dialog: numbers the chosen tracks, builds
// and checks their output paths, asks before overwriting, checks the free
// space and writes every chosen track through CTrackExporter. The dialog
// only collects the answers (SaveRequest); everything that decides what is
// written lives here, so the batch front end and tests drive the same code.
//
// Nothing is written unless every check passes. The input recording, the
// source file and the working file are never an output.

#include "output/CTrackExporter.h"
#include "output/NamingRules.h"
#include "output/OutputNames.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

// The texts of the refusals.
inline constexpr const char* kInputOverwriteError =
    "The operation cannot be completed.\nThe input file must not be overwritten.";
inline constexpr const char* kReadOnlyError =
    "The operation cannot be completed.\nA file cannot be written to.\nThis may be because it is read only.";
inline constexpr const char* kOutsideFolderError =
    "The operation cannot be completed.\nAn output name leads outside the output folder.";
inline constexpr const char* kSameOutputError =
    "The operation cannot be completed.\nTwo tracks would be saved to the same file.";
inline constexpr const char* kNoTracksError = "There are no tracks to save.";
inline constexpr const char* kNoEncoderChosen =
    "The operation cannot be completed.\nNo external encoder is chosen.";
inline constexpr const char* kInvalidEncoderParameters = "Invalid Parameters entered.";
inline constexpr const char* kNoSpaceError = "Insufficient space on Drive %s";
inline constexpr const char* kConfirmSaveText =
    "The Followng Files will be saved to Disk.\n"
    "Files shown in red and marked with an asterisk already exist and will be overwritten.";
inline constexpr const char* kConfirmSaveCaption = "Confirm Save";
// Appended to the input's path for the file that replaces it.
inline constexpr const char* kReplaceSuffix = "~~~";

// The save dialog's answers.
struct SaveRequest {
    // One flag per track line (line i is track i + 1). With a single track
    // an empty list means that track.
    std::vector<bool> selected;
    int32_t startNumber = 1;        // "Start #:"; below 1 counts as 1
    bool consecutive = true;        // "Consecutive Numbering"
    bool renumberSingle = false;    // "Re-number track" (single track only)
    std::string folder;             // the output folder, ending in "/"
    std::string rule = kDefaultNamingRule;
    std::string encoderExtension;   // the external encoder's, for its extension
    ExportOptions options;
    // "Save && Close...": the document is closed after a complete save, and
    // an output equal to the input replaces the input.
    bool close = false;
    // Free bytes on the file system holding a folder, or nullopt when that
    // cannot be told (the check is then skipped). Empty: ask the file system.
    std::function<std::optional<uint64_t>(const std::string& folder)> freeSpace;
};

enum class SaveResult {
    Saved,         // every chosen track was written
    Refused,       // a check failed; the user was told; nothing written
    Declined,      // the user did not confirm overwriting; nothing written
    NoSpace,       // not enough room; the user was told; nothing written
    Cancelled,     // the user stopped; finished tracks stay, the partial one is gone
    OutputFailed,  // a track could not be written; no later track was tried
    // Every track was written and the document closed, but the file written
    // to replace the input could not be renamed over it: the input is as it
    // was and the new file stays under SaveOutcome::keptAs.
    ClosedInputKept,
};

struct SaveOutcome {
    SaveResult result = SaveResult::Refused;
    std::vector<std::string> written;  // the paths completed, in order
    bool closed = false;               // "Save && Close..." closed the document
    bool handedOver = false;           // the working file itself became the output
    bool replacedInput = false;        // the input file now holds the saved track
    std::string keptAs;                // ClosedInputKept: where the new file is
    std::vector<std::string> notWritten;  // Cancelled, OutputFailed: the chosen paths not written
    // The chosen paths that held a file when they were checked, in list
    // order: the ones "Confirm Save" asked to replace (Declined: kept).
    std::vector<std::string> existing;
};

// The number each track line gets (0 for none), one per track line. Several
// tracks: AssignTrackNumbers. A single track keeps the number of the input's
// track-number text (0 when that is empty or no number) unless renumberSingle
// is set, when it gets the start value (at least 1).
std::vector<int32_t> ExportNumbers(const CQuillon3Doc& doc, const SaveRequest& request);

// The output names of the request's chosen tracks, numbered by
// ExportNumbers, as the dialog lists them and the save writes them.
OutputNames SaveOutputNames(const CQuillon3Doc& doc, const SaveRequest& request);

// How "Re-number track" starts for a single track: checked when the input
// gives the track no number of its own (below 1), so that it is numbered
// from the start value rather than saved without a number.
bool RenumberSingleByDefault(const CQuillon3Doc& doc);

// True when freeBytes less 10,000,000 covers bytesNeeded. Free space of
// 4 GiB or more counts as 4 GiB less one byte, so a single output can never
// need more than a 32-bit size field allows.
bool HasDiskSpace(uint64_t freeBytes, uint64_t bytesNeeded);

// Runs the export as described above. Every question and refusal goes
// through doc.Ui(). Marks the document as not modified only when every
// chosen track was written.
//
// With request.close the document is closed only after every chosen track
// was written: a refused, cancelled or failed save leaves it open and
// modified, with its working file, so no correction is lost. An output
// whose path is the input's as written (not another link to it, which is
// refused) is written as input + "~~~" (or the first free variant of that
// name) and renamed over the input once the document is closed: the input's
// path always holds either the old or the new file, and only a file this
// save wrote ever replaces it. An output replaces an existing file only when
// the file was listed and the user confirmed; one that appears meanwhile
// (another run saving there) is kept and the track fails. A single untouched track saved as WAV on the working
// file's file system is handed over by renaming the working file (or by
// running the external encoder on it), so nothing is copied.
SaveOutcome SaveTracks(CQuillon3Doc& doc, const SaveRequest& request);

}  // namespace kelvane
