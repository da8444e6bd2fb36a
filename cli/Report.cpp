#include "Report.h"

#include "cli/CJsonWriter.h"
#include "document/CQuillon3Doc.h"

#include <ostream>

namespace kelvane {

double DurationSeconds(const CQuillon3Doc& doc)
{
    return static_cast<double>(doc.dataEnd - doc.dataStart) / 4.0 / doc.sampleRate;
}

static void WriteLayout(CJsonWriter& j, const CQuillon3Doc& doc)
{
    j.Key("sampleRate").Int(doc.sampleRate);
    j.Key("bitsPerSample").Int(doc.bitsPerSample);
    j.Key("dataStart").Int(doc.dataStart);
    j.Key("dataEnd").Int(doc.dataEnd);
    j.Key("dataAlign").Int(doc.dataAlign);
}

void WriteInfoJson(std::ostream& out, const CQuillon3Doc& doc)
{
    CJsonWriter j(out);
    j.BeginObject();
    j.Key("sourceKind").Int(doc.sourceKind);
    WriteLayout(j, doc);
    j.Key("trailerBytes").Int(doc.trailerBytes);
    j.Key("durationSeconds").Double(DurationSeconds(doc));
    j.Key("tags").BeginObject();
    j.Key("title").String(doc.inputTags.title);
    j.Key("artist").String(doc.inputTags.artist);
    j.Key("album").String(doc.inputTags.album);
    j.Key("genre").String(doc.inputTags.genre);
    j.Key("track").String(doc.inputTrackNumber);
    j.EndObject();
    j.EndObject();
}

void WriteEventsJson(std::ostream& out, const CQuillon3Doc& doc)
{
    CJsonWriter j(out);
    j.BeginObject();
    WriteLayout(j, doc);
    j.Key("status").Int(doc.status);
    j.Key("maxPass").Int(doc.maxPass);
    j.Key("hissApplied").Int(doc.hissApplied);
    j.Key("filtersApplied").Int(doc.filtersApplied);
    // The lead-in profile as last measured.
    j.Key("noiseProfile");
    if (doc.noise.leadIn.Exists()) {
        j.BeginObject();
        j.Key("block").BeginArray().Int(doc.noise.leadIn.start).Int(doc.noise.leadIn.end).EndArray();
        j.Key("left").BeginArray();
        for (int32_t v : doc.noise.leadInLeft) j.Int(v);
        j.EndArray();
        j.Key("right").BeginArray();
        for (int32_t v : doc.noise.leadInRight) j.Int(v);
        j.EndArray();
        j.EndObject();
    } else {
        j.Null();
    }
    j.Key("events").BeginArray();
    for (int32_t i = 1; i + 1 < doc.events.Size(); ++i) {
        const EventRecord& e = doc.events[i];
        j.BeginArray().Int(e.pass).Int(e.reserved).Int(e.pos).Int(e.width).Int(e.mag).EndArray();
    }
    j.EndArray();
    j.Key("tracks").BeginArray();
    for (int32_t i = 1; i < doc.tracks.Size(); ++i)
        j.BeginArray().Int(doc.tracks[i].start).Int(doc.tracks[i].end).EndArray();
    j.EndArray();
    // The texts and timings of every track (elements 1..n), timings in
    // position units.
    j.Key("trackInfo").BeginArray();
    for (int32_t i = 1; i < doc.tracks.Size(); ++i) {
        const TrackRecord& t = doc.tracks[i];
        j.BeginObject();
        j.Key("title").String(t.title);
        j.Key("artist").String(t.artist);
        j.Key("album").String(t.album);
        j.Key("genre").String(t.genre);
        j.Key("preSilence").Int(t.preSilence);
        j.Key("fadeIn").Int(t.fadeIn);
        j.Key("fadeOut").Int(t.fadeOut);
        j.Key("postSilence").Int(t.postSilence);
        j.EndObject();
    }
    j.EndArray();
    j.Key("blockLevel").BeginArray();
    for (int32_t v : doc.blockLevel) j.Int(v);
    j.EndArray();
    j.EndObject();
}

}  // namespace kelvane
