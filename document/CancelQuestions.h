#pragma once
// The questions asked when the user presses Cancel during a long operation,
// all in one place: front ends and tests recognise a question by its text,
// so an operation names one of these rather than spelling its own. The
// answer Yes always means "stop".

#include <string_view>

namespace kelvane::cancel {

// Making corrections, scanning for clicks, decoding an input.
inline constexpr std::string_view kReallyCancel = "Really Cancel?";
// Saving tracks.
inline constexpr std::string_view kReallyAbort = "Really Abort?";
// The load pass of a file that is loaded already (a re-processing).
inline constexpr std::string_view kRescanAborted = "Re-Scan will be aborted.\nReally Cancel?";
// The load pass once its scan has been stopped.
inline constexpr std::string_view kLoadAborted = "File load will be aborted.\nReally Cancel?";
// The first load pass with its scan running (Yes, No or Cancel): Yes stops
// the scan only, No abandons the load.
inline constexpr std::string_view kContinueWithoutClickScan =
    "Do you want to continue loading the file\nwithout scanning for clicks?\n(This can take a few minutes)";
inline constexpr std::string_view kContinueWithoutHissFilter =
    "Do you want to continue loading the file\nwithout applying the hiss filter?\n(This can take a few minutes)";
// The hiss filter pass of the automatic processing, and an interactive
// filter pass: stopping either puts the unfiltered waveform back.
inline constexpr std::string_view kHissFilterRemoved =
    "Hiss filtering will be removed and\nthe unfiltered wave will be restored.\nReally Cancel?";
inline constexpr std::string_view kFilterRemoved =
    "Filtering will be removed and\nthe unfiltered wave will be restored.\nReally Cancel?";

}  // namespace kelvane::cancel
