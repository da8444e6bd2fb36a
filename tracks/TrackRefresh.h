#pragma once
// The three refresh steps every change of the track table ends with, in
// this order: default titles, boundary markers, Tracks menu.

namespace kelvane {

class CQuillon3Doc;

// RefreshTrackTitles, RebuildTrackMarkers, RebuildTracksMenu.
void RefreshTracks(CQuillon3Doc& doc);

}  // namespace kelvane
