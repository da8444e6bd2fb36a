#include "StatusTexts.h"

#include "document/CQuillon3Doc.h"

#include <cstdio>
#include <cstdlib>

namespace kelvane {

std::string StatusWord(int32_t status)
{
    switch (status & 7) {
    case 0: return "Wave Not Loaded";
    case 1: return "Wave Not Scanned";
    case 2: return "Scan Incomplete";
    case 3: return "Wave Not Corrected";
    case 4: return "Processing Aborted";
    case 5: return "Ready to Save";
    default: return {};
    }
}

std::string ClicksIndicator(const CQuillon3Doc& doc)
{
    return "Clicks: " + std::to_string(doc.ClickCount());
}

std::string TracksIndicator(const CQuillon3Doc& doc, std::optional<int32_t> mousePosition)
{
    char buf[64];
    if (mousePosition) {
        int32_t origin = doc.dataStart;
        if (doc.currentTrack > 0 && doc.currentTrack < doc.tracks.Size()) origin = doc.tracks[doc.currentTrack].start;
        const int64_t frames = (static_cast<int64_t>(*mousePosition) - origin) / 4;
        const int64_t absFrames = std::llabs(frames);
        const int64_t ms = absFrames * 1000 / doc.sampleRate;
        std::snprintf(buf, sizeof buf, "%1s%02d:%02d:%03d", frames < 0 ? "-" : " ", static_cast<int>(ms / 60000),
                      static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
        return buf;
    }
    if (doc.currentTrack > 0)
        std::snprintf(buf, sizeof buf, "Tr.%d of %d", doc.currentTrack, doc.TrackCount());
    else
        std::snprintf(buf, sizeof buf, "Tracks: %d", doc.TrackCount());
    return buf;
}

std::string StatusWindowText(const CQuillon3Doc& doc)
{
    if (doc.status == kStatusNotLoaded) return "File Not Loaded";
    char buf[160];
    std::string text;
    std::snprintf(buf, sizeof buf, "Tracks Found: %d\n\n", doc.TrackCount());
    text += buf;
    std::snprintf(buf, sizeof buf, "Clicks Corrected: %d\n\n", doc.ClickCount());
    text += buf;
    text += "Currently Applied Filters:\n";
    text += doc.hissApplied > 0 && doc.filtersApplied ? "\tHiss\n" : "\tNone\n";
    text += "\nTreble Control: None\n";
    if (doc.sourceKind == kSourceMono) {
        std::snprintf(buf, sizeof buf, "\nVolume Adjustment: %+4.1fdB", 0.0);
    } else {
        std::snprintf(buf, sizeof buf, "\nVolume Adjustments\n\tLeft: %+4.1fdB\n\tRight: %+4.1fdB", 0.0, 0.0);
    }
    text += buf;
    std::snprintf(buf, sizeof buf, "\n\nSample Rate: %4.1f kS/sec", doc.sampleRate / 1000.0);
    text += buf;
    std::snprintf(buf, sizeof buf, "\nBit Depth: %d bits per sample", doc.bitsPerSample);
    text += buf;
    return text;
}

}  // namespace kelvane
