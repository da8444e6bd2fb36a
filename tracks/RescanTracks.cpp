#include "RescanTracks.h"

#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"
#include "tracks/CTrackFinder.h"
#include "tracks/SectorGrid.h"
#include "tracks/TrackMarkers.h"
#include "tracks/TrackRefresh.h"

#include <stdexcept>
#include <string>

namespace kelvane {

RescanTracksRequest RescanTracksDefaults(const CQuillon3Doc& doc)
{
    RescanTracksRequest request;
    request.gapless = doc.gapless != 0;
    return request;
}

void RescanTracks(CQuillon3Doc& doc, const RescanTracksRequest& request)
{
    using Mode = RescanTracksRequest::Mode;
    if (request.mode == Mode::UserAssisted &&
        (request.targetCount < rescan::kFirstTarget || request.targetCount > rescan::kLastTarget))
        throw std::invalid_argument("The target track count must be between 2 and 30, not " +
                                    std::to_string(request.targetCount));
    if (doc.tracks.Empty()) throw std::out_of_range("Re-Scan for Tracks: no recording is loaded");
    if (request.mode != Mode::RemoveAll) CTrackFinder(doc).CheckTables();

    doc.gapless = request.gapless ? 1 : 0;
    doc.Settings().Set(settings::Gapless, doc.gapless);

    // With nothing selected the cursor stands for the selection.
    const EventRecord* current = doc.CurrentEvent();
    const EventRecord remembered = current ? *current : doc.cursorEvent;
    doc.currentTrack = 0;
    doc.cursorEvent.pos = 0;

    switch (request.mode) {
        case Mode::AutoDetect:
            FindTracks(doc, 0, true);
            break;
        case Mode::UserAssisted:
            FindTracks(doc, request.targetCount, true);
            break;
        case Mode::RemoveAll:
            if (doc.TrackCount() >= 2) {
                RemoveTrackMarkers(doc);
                doc.tracks.SetSize(1);
                TrackRecord whole = doc.tracks[0];
                whole.start = FirstAllowedStart(doc);
                doc.tracks.Add(whole);
                RefreshTracks(doc);
            }
            break;
    }

    if (remembered.mag == event::kMagAdjusting) {
        doc.cursorEvent.pos = remembered.pos;
        doc.selectedEvent = -1;
    } else {
        SelectEventAt(doc, remembered.pos, &remembered);
    }
    doc.NotifyUpdate();
    doc.SetModifiedFlag();
}

}  // namespace kelvane
