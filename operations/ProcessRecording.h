#pragma once
// Opening a recording and its automatic processing, as both front ends run
// them after every import and as Re-Scan All...: the load pass copies the
// recording and scans it for clicks, the track finder divides the side, the
// corrections are generated, and a stage the user stopped is undone. One
// progress window serves the whole chain.

#include "document/ImportResult.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kMsgReprocess =
    "The Wave File Has already been Processed\nDo You want to Re-Process the current file?";
inline constexpr const char* kCaptionReprocess = "Re-Scan Current File";

// What the user chose for one processing, over the document's scan settings.
struct ProcessRequest {
    // Scan settings for this run (the batch tool's flags); those left unset
    // keep the document's values.
    std::optional<int32_t> sensitivity, mode, discriminator, agc, minMagnitude, corWidth;
    std::optional<int32_t> splitTracks, gapless;
    // "Source" (vinyl or tape) and the hiss strength of a tape source.
    std::optional<int32_t> source, subtractor;
    // With "Split Tracks" on: 0 lets the track finder look for the tracks at
    // the quiet gaps; 2 to 30 divides the side into that many.
    int32_t trackCount = 0;
    // The Auto-Scan Options dialog, shown when a processed recording is
    // processed again or when no scan settings are stored yet: it shows the
    // document's scan settings, lets the user change them and stores them on
    // OK; false is Cancel. Unset: the settings are taken as they are.
    std::function<bool(CQuillon3Doc&)> optionsDialog;
    // Run once the load pass has gone through the whole recording, before
    // the corrections or the hiss pass (the batch tool captures a noise
    // profile there); a result other than success ends the processing.
    std::function<OpResult(CQuillon3Doc&)> loaded;
};

struct OpenRequest {
    std::string path;
    // Import a FLAC file whose frames fail their checks anyway.
    bool acceptDamaged = false;
    // Run once the import has made its scratch files, before the long work:
    // a result other than success ends the open with the document emptied.
    std::function<OpResult(CQuillon3Doc&)> opened;
};

// The import alone (the "info" of the batch tool, the first half of an
// open). A failure leaves the document empty.
OpResult OpenRecordingFile(CQuillon3Doc& doc, const OpenRequest& request);

// The automatic processing of the open recording. Declined: the user did not
// want the recording processed again, or cancelled the options; nothing
// changed. Cancelled: the user abandoned the load (the document is empty) or
// stopped a later stage (the corrections are gone, the waveform restored,
// the track markers kept). Environment: a file error the user was told
// about; a failed load empties the document, a failed correction or
// recovery leaves it "Processing Aborted".
OpResult ProcessRecording(CQuillon3Doc& doc, const ProcessRequest& request);

// OpenRecordingFile, then ProcessRecording.
OpResult OpenAndProcess(CQuillon3Doc& doc, const OpenRequest& open, const ProcessRequest& process);

// Re-Scan All...: the automatic processing of the recording already open,
// which asks first when the recording has been corrected or filtered.
// Refused when no recording is open.
OpResult RescanAll(CQuillon3Doc& doc, const ProcessRequest& request);

}  // namespace kelvane
