#pragma once
// The list of tracks in the "Tracks" menu, as a model the front end turns
// into menu items: "All Tracks" and one line per track with its length, the
// current track checked. The front end rebuilds it from the document
// whenever the menu is about to be shown (and on OnTracksChanged), and
// passes the chosen item's identifier back to ChooseMenuTrack.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

// Identifier of "All Tracks"; track t is kTracksMenuFirstId + t.
inline constexpr int32_t kTracksMenuFirstId = 35000;

struct TracksMenuItem {
    int32_t id = 0;
    std::string text;
    bool checked = false;  // the item of the document's current track
    bool operator==(const TracksMenuItem&) const = default;
};

struct TracksMenu {
    std::vector<TracksMenuItem> items;
};

// The menu for the document's track table. Without tracks it is empty. With
// one track it holds only "Track 1       m:ss" (plus a blank and the title
// when there is one). With more, "All Tracks     m:ss" comes first and the
// track lines leave out a "???" title. Lengths are whole seconds of
// (end - start) at the recording's rate, minutes as "%2d".
TracksMenu BuildTracksMenu(const CQuillon3Doc& doc);

// The refresh step the track operations run after changing the table: tells
// the front end (OnTracksChanged) that its Tracks menu is out of date, and
// returns the new menu.
TracksMenu RebuildTracksMenu(CQuillon3Doc& doc);

// The user chose a menu item. With fewer than two tracks nothing happens.
// Otherwise the chosen track becomes current (0 for "All Tracks"), the start
// marker of that track (track 1 for "All Tracks") is selected, and the views
// are updated. Returns false, changing nothing, for an identifier that is
// not in the menu or when nothing happens.
bool ChooseMenuTrack(CQuillon3Doc& doc, int32_t menuId);

}  // namespace kelvane
