#pragma once
// Merge Open: several WAV files of one rate and depth joined end to end into
// one new WAV (the merged file), which becomes the recording's source and is
// processed like an opened file. The merged file gets its header and the
// first input's first 1024 frames at once; the load pass copies the rest of
// every input into it chunk by chunk. The merged file is the user's: it
// stays when the recording is closed.

#include "document/ImportResult.h"
#include "operations/ProcessRecording.h"

#include <functional>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kMsgMergeBadFormat =
    " Incorrect Wave File Format or sample rates do not match.\nOnly 16/24 bit stereo/44.1, 48, 88.2 or 96 kHz "
    "Sampling Rate supported. ";
inline constexpr const char* kMsgMergeCannotOpen = "Unable to open a file";
inline constexpr const char* kMsgMergedNameInvalid =
    "The merged name is invalid because it is the same as one of the files to be merged";
inline constexpr const char* kMsgMergeNeedsTwo = "Merging needs at least two files.";
inline constexpr const char* kMsgMergedExists = "The merged file \"%s\" exists already.";

struct MergeRequest {
    std::vector<std::string> inputs;  // in merge order, at least two
    std::string mergedPath;
    // An existing file of that name may be replaced (the save dialog asked).
    bool overwrite = false;
    // "Delete after merging": the inputs go once the load has completed.
    bool deleteInputs = false;
    ProcessRequest process;
    // Run once the merged file is imported, before the load: a result other
    // than success ends the merge with the merged file removed.
    std::function<OpResult(CQuillon3Doc&)> opened;
};

// Whether path names one of the inputs (the same name, or another name of
// the same file).
bool MergedNameIsAnInput(const MergeRequest& request);

// Empties the document, checks the inputs, writes the merged file's start,
// imports it and runs the automatic processing. Refused (BadInput, told,
// nothing written): fewer than two inputs, a merged name equal to an input
// or naming an existing file without overwrite, an input that cannot be
// opened, a format or rate that does not match, a merged total past the
// size limits. A failed import, or a load that did not complete, removes
// the merged file. Otherwise as ProcessRecording.
OpResult MergeOpen(CQuillon3Doc& doc, const MergeRequest& request);

}  // namespace kelvane
