#include "TrackRefresh.h"

#include "tracks/TrackMarkers.h"
#include "tracks/TrackTitles.h"
#include "tracks/TracksMenu.h"

namespace kelvane {

void RefreshTracks(CQuillon3Doc& doc)
{
    RefreshTrackTitles(doc);
    RebuildTrackMarkers(doc);
    RebuildTracksMenu(doc);
}

}  // namespace kelvane
