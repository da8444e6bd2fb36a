#include "SaveFromRequest.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "output/EncoderList.h"
#include "output/OutputNames.h"
#include "tracks/SectorGrid.h"
#include "tracks/TrackRefresh.h"
#include "tracks/TrackTitles.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

OpResult Tell(CQuillon3Doc& doc, FailKind kind, const std::string& text)
{
    doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
    return OpResult::Fail(kind, text);
}

OpResult ResultOf(const SaveOutcome& outcome)
{
    switch (outcome.result) {
    case SaveResult::Saved: return OpResult::Success();
    case SaveResult::Refused: return OpResult::Fail(FailKind::BadInput, "");
    case SaveResult::Declined: return OpResult::Fail(FailKind::Declined, kConfirmSaveText);
    case SaveResult::NoSpace: return OpResult::Fail(FailKind::NoSpace, "");
    case SaveResult::Cancelled: return OpResult::Fail(FailKind::Cancelled, "");
    case SaveResult::OutputFailed:
    case SaveResult::ClosedInputKept: break;
    }
    return OpResult::Fail(FailKind::Environment, "");
}

}  // namespace

SaveRequest OpeningSaveRequest(CQuillon3Doc& doc)
{
    RefreshTrackTitles(doc);
    const ISettingsStore& store = doc.Settings();
    SaveRequest request;
    request.selected.assign(static_cast<size_t>(doc.TrackCount()), true);
    request.startNumber = 1;
    request.consecutive = true;
    request.renumberSingle = RenumberSingleByDefault(doc);
    request.folder = OutputFolder(doc);
    request.rule = InitialNamingRule(store);
    request.options = ExportOptions::FromSettings(store);
    const std::vector<EncoderEntry> encoders = LoadEncoders(store);
    const int index = request.options.externalIndex;
    if (index >= 0 && static_cast<size_t>(index) < encoders.size())
        request.encoderExtension = encoders[static_cast<size_t>(index)].ext;
    return request;
}

SavedTracks SaveFromRequest(CQuillon3Doc& doc, SaveRequest request)
{
    SavedTracks saved;
    // The whole side as one track when it was not divided: what removing
    // every track boundary before saving leaves.
    if (doc.TrackCount() == 0 && doc.tracks.Size() > 0) {
        TrackRecord whole = doc.tracks[0];
        whole.start = FirstAllowedStart(doc);
        doc.tracks.Add(whole);
        RefreshTracks(doc);
        request.selected.assign(1, true);
    }

    if (SaveOutputNames(doc, request).unknownTags &&
        doc.Ui().MessageBox(kUnknownTagsQuestion, kAppCaption, MbButtons::OkCancel, MbIcon::Question) !=
            MbAnswer::Ok) {
        saved.result = OpResult::Fail(FailKind::Declined, kUnknownTagsQuestion);
        return saved;
    }

    // The folder as named, without the "/" that ends it in the request.
    std::string folder = request.folder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::error_code error;
    const bool existed = folder.empty() || fs::exists(folder, error);
    if (existed && !folder.empty() && !fs::is_directory(folder, error)) {
        saved.result = Tell(doc, FailKind::BadInput,
                            "The tracks cannot be saved into " + folder + ": " + std::strerror(ENOTDIR));
        return saved;
    }
    if (!existed && (!fs::create_directories(folder, error) || error)) {
        saved.result = Tell(doc, FailKind::Environment,
                            "The folder " + folder + " cannot be created: " + error.message());
        return saved;
    }

    saved.outcome = SaveTracks(doc, request);
    // Only a folder this save made, and only while it is still empty.
    if (!existed && saved.outcome.written.empty()) fs::remove(folder, error);
    saved.result = ResultOf(saved.outcome);
    return saved;
}

}  // namespace kelvane
