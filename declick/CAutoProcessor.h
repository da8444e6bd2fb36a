#pragma once
// The automatic processing of a side: after every import (and as Re-Scan
// All...) the load pass copies the recording and scans it for clicks, the
// corrections are generated, the track finder divides the side, and a stage
// the user stopped is undone. One progress window serves the whole chain.

#include <functional>
#include <string>

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kMsgReprocess =
    "The Wave File Has already been Processed\nDo You want to Re-Process the current file?";
inline constexpr const char* kCaptionReprocess = "Re-Scan Current File";

enum class AutoOutcome {
    Completed,   // every stage ran to its end
    Stopped,     // the user stopped a stage; corrections were discarded, markers kept
    Declined,    // the user declined the re-processing or cancelled the options
    Abandoned,   // the user abandoned the load: the document is empty
    Failed,      // a file error; the user was told. A failed load empties the document;
                 // a failed correction or recovery leaves it "Processing Aborted"
};

class CAutoProcessor {
public:
    explicit CAutoProcessor(CQuillon3Doc& doc) : doc_(doc) {}

    // The Auto-Scan Options dialog: shows the document's scan settings, lets
    // the user change them and stores them on OK. Returns false for Cancel.
    // Without a dialog the settings are taken as they are.
    using OptionsDialog = std::function<bool(CQuillon3Doc&)>;
    void SetOptionsDialog(OptionsDialog dialog) { optionsDialog_ = std::move(dialog); }

    // Runs at the end of the load pass when "Split Tracks" is on: divides
    // the recording into tracks and inserts their markers.
    using TrackFinder = std::function<void(CQuillon3Doc&)>;
    void SetTrackFinder(TrackFinder finder) { trackFinder_ = std::move(finder); }

    AutoOutcome Run();

private:
    bool RestoreWaveform();
    void KeepOnlyMarkers();

    CQuillon3Doc& doc_;
    OptionsDialog optionsDialog_;
    TrackFinder trackFinder_;
};

}  // namespace kelvane
