#pragma once
// Whether each document command is enabled (and checked) in the document's
// present state. The GUI copies these onto its actions; nothing else decides.

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

enum class Command {
    RescanAll,
    RescanClicks,        // whole file: Re-Scan Clicks..., Super-Scan Clicks...
    RemoveCorrections,   // also Re-Scan / Super-Scan Clicks... over a block
    RemoveHissFilter,
    HissFilter,
    EditNoiseProfile,
    Save,                // and Save && Close...
    Properties,
    RescanTracks,
    Gapless,
    MergeTracks,
    MergeTracksInBlock,
    FadeLinear,
    FadeLogarithmic,
    SplitTrack,
    // Correction editing and the block's commands.
    RemoveCorrection,    // the Delete key with no block: the current correction
    RescanClicksBlock,   // Block menu; the same rule as RemoveCorrections
    SuperScanClicksBlock,
    SuperScanClicks,     // whole file; the same rule as RescanClicks
    AdjustInsert,        // the Insert key: the User Adjust Mode on the current record
    CancelBlock,
    MergeOpen,
};

// What the waveform view reports; exists = false when there is no view.
struct ViewState {
    bool exists = false;
    bool playing = false;     // playback running or paused
    bool adjusting = false;   // a correction adjustment is in progress
    bool blockPlay = false;   // a block is marked for playing
    bool Free() const { return !playing && !adjusting; }
};

struct CommandUi {
    bool enabled = false;
    bool checked = false;
};

// fadeLinear: the "Fade Linear" value as stored (1 linear, any other value
// logarithmic); exactly one of the two Fade Type commands is checked.
CommandUi QueryCommand(Command command, const CQuillon3Doc& doc, const ViewState& view, int fadeLinear = 0);

}  // namespace kelvane
