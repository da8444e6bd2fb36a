#include "TracksMenu.h"

#include "document/CQuillon3Doc.h"
#include "tracks/TrackMarkers.h"

#include <cstdio>

namespace kelvane {

namespace {

// Whole seconds as "%2d:%02d"; C division, like every other length shown.
std::string Length(const TrackRecord& track, int32_t sampleRate)
{
    const int64_t second = static_cast<int64_t>(sampleRate) * 4;
    const int64_t seconds = second > 0 ? (static_cast<int64_t>(track.end) - track.start) / second : 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%2d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    return buf;
}

std::string TrackLine(int32_t t, const TrackRecord& track, int32_t sampleRate, bool showTitle)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "Track %d       ", static_cast<int>(t));
    std::string text = buf + Length(track, sampleRate);
    if (showTitle) text += " " + track.title;
    return text;
}

}  // namespace

TracksMenu BuildTracksMenu(const CQuillon3Doc& doc)
{
    TracksMenu menu;
    const int32_t count = doc.TrackCount();
    if (count == 0) return menu;
    if (count == 1) {
        const TrackRecord& only = doc.tracks[1];
        menu.items.push_back(
            {kTracksMenuFirstId + 1, TrackLine(1, only, doc.sampleRate, !only.title.empty()), doc.currentTrack == 1});
        return menu;
    }
    menu.items.push_back(
        {kTracksMenuFirstId, "All Tracks     " + Length(doc.tracks[0], doc.sampleRate), doc.currentTrack == 0});
    for (int32_t t = 1; t <= count; ++t) {
        const TrackRecord& track = doc.tracks[t];
        const bool titled = !track.title.empty() && track.title != "???";
        menu.items.push_back(
            {kTracksMenuFirstId + t, TrackLine(t, track, doc.sampleRate, titled), doc.currentTrack == t});
    }
    return menu;
}

TracksMenu RebuildTracksMenu(CQuillon3Doc& doc)
{
    doc.NotifyTracksChanged();
    return BuildTracksMenu(doc);
}

bool ChooseMenuTrack(CQuillon3Doc& doc, int32_t menuId)
{
    const int32_t count = doc.TrackCount();
    if (count < 2) return false;
    const int32_t chosen = menuId - kTracksMenuFirstId;
    if (chosen < 0 || chosen > count) return false;

    doc.currentTrack = chosen;
    const int32_t t = chosen == 0 ? 1 : chosen;
    int32_t at = FindEventAt(doc, doc.tracks[t].start);
    // Back to back with the previous track, its end marker comes first.
    if (at > 0 && at + 1 < doc.events.Size() - 1 && doc.events[at].width == event::TrackEndMarker(t - 1)) ++at;
    doc.selectedEvent = at;
    doc.NotifyUpdate();
    return true;
}

}  // namespace kelvane
