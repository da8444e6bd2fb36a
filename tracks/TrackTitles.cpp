#include "TrackTitles.h"

#include "document/CQuillon3Doc.h"

#include <filesystem>

namespace kelvane {

namespace {

bool BeginsWithTrack(const std::string& text)
{
    return text.rfind("Track", 0) == 0;
}

}  // namespace

std::string InputBaseName(const CQuillon3Doc& doc)
{
    // A FLAC, APE or mono input is worked on as its decoded copy, named like
    // the input with ".tmp" for the extension; its name less ".tmp" is the
    // base name. Cutting four characters off "side1.flac" would keep a dot.
    const std::string name = std::filesystem::path(doc.userPath).filename().string();
    const size_t cut = doc.sourceKind == kSourceFlac ? 5 : 4;
    return name.size() > cut ? name.substr(0, name.size() - cut) : std::string();
}

void RefreshTrackTitles(CQuillon3Doc& doc)
{
    CGrowList<TrackRecord>& tracks = doc.tracks;
    const int32_t count = doc.TrackCount();
    if (count == 0) return;
    const std::string base = doc.keepFileNameTitles ? std::string() : InputBaseName(doc);

    if (count >= 2) {
        for (TrackRecord& element : tracks)
            if (element.album.empty()) element.album = base;
        for (int32_t t = 1; t <= count; ++t) {
            std::string& title = tracks[t].title;
            if (title.empty() || title == base || BeginsWithTrack(title)) title = "???";
        }
        return;
    }

    TrackRecord& whole = tracks[0];
    TrackRecord& only = tracks[1];
    if (whole.title.empty()) whole.title = base;
    if (only.title.empty() || BeginsWithTrack(only.title)) only.title = whole.title;
    if (only.artist.empty()) only.artist = whole.artist;
}

}  // namespace kelvane
