#pragma once
// The words and texts by which the document reports its state: the status
// word, the three status-bar indicators and the "Status" window.

#include <cstdint>
#include <optional>
#include <string>

namespace kelvane {

class CQuillon3Doc;

// The word for a status value (its low three bits); empty for 6 and 7.
std::string StatusWord(int32_t status);

// "Clicks: %d".
std::string ClicksIndicator(const CQuillon3Doc& doc);

// The tracks pane. mousePosition is the position under the mouse while the
// mouse is over the waveform view, already mapped through the cut list;
// without it the pane shows the track count or the chosen track.
std::string TracksIndicator(const CQuillon3Doc& doc, std::optional<int32_t> mousePosition);

// The text of the "Status" window.
std::string StatusWindowText(const CQuillon3Doc& doc);

}  // namespace kelvane
