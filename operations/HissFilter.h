#pragma once
// The hiss filter as the commands run it: "Hiss Filter..." (the strength
// comes from the caller's dialog or flag), "Remove Hiss Filter", the capture
// of a noise profile from the marked block, and the automatic hiss pass of a
// tape source. Each works on the open document, shows one progress window
// and asks its questions through the document's interaction.
//
// The source recording is never written: removing a filter, replacing it
// and recovering from a stopped pass all copy the source's samples back
// (at full precision) and make the corrections again.

#include "document/ImportResult.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kMsgRemoveHissFilter =
    "All filtering will be removed and the unfiltered waveform will be restored.\nReally remove filtering?";
inline constexpr const char* kMsgNoNoiseProfile =
    "The Hiss Filter is disabled because a noise profile could not be identified.";
inline constexpr const char* kMsgNoBlockSelected = "No block is selected. Select a block and try again.";
inline constexpr const char* kMsgCaptureProfile =
    "The selected block will be captured as the new Noise Profile.\nEnsure that the block contains only the "
    "noise (hiss and/or hum) to be removed";
inline constexpr const char* kMsgBlockCaptured = "The selected block has been captured";
// %s: the frames a profile needs.
inline constexpr const char* kMsgProfileBlockTooShort =
    "The selected block is too short to measure a Noise Profile.\nSelect at least %s frames of noise and try "
    "again.";

// The Apply Filter dialog's label for a strength: "Hiss Reduction: %ddB"
// with 6 x strength + 2, or "Hiss Reduction: Off" at 0.
std::string HissLabel(int32_t strength);
// The dialog's text of the filters the working file carries.
std::string AppliedFiltersText(const CQuillon3Doc& doc);
// Whether the event list holds any correction (markers do not count).
bool HasCorrections(const CQuillon3Doc& doc);

struct HissFilterRequest {
    // The Apply Filter dialog: shown with `strength` set to where the slider
    // starts; sets the strength chosen and returns true for Apply, false for
    // Cancel. Unset: `strength` below is applied as if chosen.
    std::function<bool(CQuillon3Doc&, int32_t& strength)> dialog;
    int32_t strength = 2;  // 0..3
};

// "Hiss Filter...". A filter already applied is first removed (the source
// copied back, the corrections made again) so strengths never add up.
// Declined: the dialog was cancelled, nothing changed. Cancelled: the user
// stopped the pass; the unfiltered waveform is back (the whole of it, with
// the corrections made again, when there are corrections; else the part
// already filtered). Environment: a file error the user was told about.
OpResult ApplyHissFilter(CQuillon3Doc& doc, const HissFilterRequest& request);

// "Remove Hiss Filter": asks first (Declined on Cancel), then restores the
// unfiltered waveform and makes the corrections again. Refused (BadInput)
// when no filter is applied.
OpResult RemoveHissFilter(CQuillon3Doc& doc);

// Copies the source back over [dataStart, upTo) of the working file (Cancel
// disabled) and clears the applied-filter state. False on a file error
// (the user was told).
bool RestoreUnfiltered(CQuillon3Doc& doc, int32_t upTo);

enum class ProfileSlot { LeadIn, LeadOut };

// Captures the marked block as the lead-in profile block (the one the hiss
// filter uses) or the lead-out one, after the user confirms; the block is
// measured from the working file. BadInput: no block is marked, or it is
// shorter than one frame of the profile (the user was told). Declined: the
// user did not confirm.
OpResult CaptureNoiseProfile(CQuillon3Doc& doc, ProfileSlot slot);

// The hiss pass of a tape source's automatic processing, run in the
// processing's own progress window once the load completed: the profile
// block is identified when there is none, then the working file is filtered
// at the document's strength. A stop leaves scanCancelledAt set and the
// waveform as the pass left it (the processing restores it). Success too
// when no profile could be had (the user was told the filter is disabled).
OpResult RunTapeHissPass(CQuillon3Doc& doc);

}  // namespace kelvane
