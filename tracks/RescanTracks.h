#pragma once
// The "Re-Scan for Tracks" command without its widgets: what the dialog
// offers, and what "Scan" does with the user's choice. The GUI shows the
// texts below, fills a RescanTracksRequest and calls RescanTracks; the
// command is enabled as QueryCommand(Command::RescanTracks) says (and never
// while playback runs or is paused).

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

struct RescanTracksRequest {
    enum class Mode { AutoDetect, UserAssisted, RemoveAll };
    Mode mode = Mode::UserAssisted;
    int32_t targetCount = 2;  // "Target Track Count", used by UserAssisted: 2 .. 30
    bool gapless = false;     // "Gapless Track Boundaries (Disk-At-Once)"
};

namespace rescan {
inline constexpr const char* kTitle = "Re-Scan for Tracks";
inline constexpr const char* kAutoDetect = "Auto-Detect";
inline constexpr const char* kUserAssisted = "User Assisted";
inline constexpr const char* kRemoveAll = "Remove All";
inline constexpr const char* kTargetLabel = "Target Track Count";
inline constexpr const char* kGaplessBox = "Gapless Track Boundaries (Disk-At-Once)";
// Drawn in red on white.
inline constexpr const char* kNote = " All existing tracks will be deleted and new tracks will be generated";
inline constexpr const char* kScan = "Scan";
inline constexpr const char* kCancel = "Cancel";
inline constexpr int32_t kFirstTarget = 2;
inline constexpr int32_t kLastTarget = 30;
}  // namespace rescan

// What the dialog shows when it opens: "User Assisted" with a target of 2,
// the check box from the document's Gapless flag.
RescanTracksRequest RescanTracksDefaults(const CQuillon3Doc& doc);

// "Scan": stores the check box in the document's flag and in the "Gapless"
// setting; makes "All Tracks" current; searches (automatic or for the
// target, with the search's messages) or, for Remove All with at least two
// tracks, replaces them by one track from the first allowed start to the
// end; then restores the selection (a pending inserted correction puts the
// cursor back at its position, anything else is looked up by position),
// updates the views and marks the document modified.
// Throws std::invalid_argument for a UserAssisted target outside 2 .. 30,
// and what FindTracks throws; both before anything is changed.
void RescanTracks(CQuillon3Doc& doc, const RescanTracksRequest& request);

}  // namespace kelvane
