#include "Gapless.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "tracks/TrackMarkers.h"

namespace kelvane {

namespace {

// Two sectors: half the gap, in whole sectors.
constexpr int32_t kTwoSectors = 2 * kSectorBytes;

}  // namespace

void AlignGaplessAfterSearch(CQuillon3Doc& doc)
{
    CGrowList<TrackRecord>& tracks = doc.tracks;
    for (int32_t t = 1; t + 1 < tracks.Size(); ++t) {
        const int32_t gap = tracks[t + 1].start - tracks[t].end;
        const int32_t boundary = tracks[t].end + gap / kTwoSectors * kSectorBytes;
        tracks[t].end = boundary;
        tracks[t + 1].start = boundary;
    }
}

void AlignGapless(CQuillon3Doc& doc)
{
    const int32_t selected = doc.selectedEvent;
    const EventRecord* current = doc.CurrentEvent();
    const bool hadEvent = current != nullptr && selected > 0;
    const EventRecord remembered = hadEvent ? *current : EventRecord{};

    RemoveTrackMarkers(doc);
    CGrowList<TrackRecord>& tracks = doc.tracks;
    for (int32_t t = 2; t < tracks.Size(); ++t) {
        const int32_t gap = tracks[t].start - tracks[t - 1].end;
        const int32_t boundary = tracks[t].start - gap / kTwoSectors * kSectorBytes;
        tracks[t - 1].end = boundary;
        tracks[t].start = boundary;
    }
    RebuildTrackMarkers(doc);

    // The markers come back in the same number, so a selected marker keeps
    // its index (normally still its boundary, unless a correction now lies
    // on the other side of it); corrections are found again where they are.
    if (hadEvent) {
        if (remembered.IsMarker() && selected < doc.events.Size() - 1)
            doc.selectedEvent = selected;
        else
            SelectEventAt(doc, remembered.pos, &remembered);
    }
    doc.SetModifiedFlag();
    doc.NotifyUpdate();
}

bool ToggleGapless(CQuillon3Doc& doc)
{
    if (doc.gapless != 0) {
        doc.gapless = 0;
        return true;
    }
    if (doc.Ui().MessageBox(kGaplessQuestion, kAppCaption, MbButtons::YesNo, MbIcon::Question) != MbAnswer::Yes)
        return false;
    doc.gapless = 1;
    AlignGapless(doc);
    return true;
}

}  // namespace kelvane
