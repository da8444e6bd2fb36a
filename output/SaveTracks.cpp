#include "output/SaveTracks.h"

#include "document/CProgressWnd.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "output/OutputNames.h"
#include "tracks/SectorGrid.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSpaceReserve = 10'000'000;
constexpr uint64_t kSpaceCap = (uint64_t{1} << 32) - 1;

void Tell(CQuillon3Doc& doc, const std::string& text)
{
    doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
}

// Compared as the file system sees them, so "./a.wav" and "a.wav" or a
// symbolic link to the input are caught as well.
bool SameFile(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    const fs::path ca = fs::weakly_canonical(a, error);
    if (error) return a == b;
    const fs::path cb = fs::weakly_canonical(b, error);
    if (error) return a == b;
    return ca == cb;
}

bool Unwritable(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) return false;
    if (status.type() != fs::file_type::regular) return true;
    return (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

std::optional<uint64_t> FileSystemFreeSpace(const std::string& folder)
{
    // The folder may not exist yet: its nearest existing parent holds it.
    fs::path at = folder.empty() ? fs::current_path() : fs::path(folder);
    std::error_code error;
    while (!at.empty() && !fs::exists(at, error)) at = at.parent_path();
    if (at.empty()) at = ".";
    const fs::space_info info = fs::space(at, error);
    if (error) return std::nullopt;
    return info.available;
}

// Shows the progress window of the save in the saving layout for as long as
// the command runs, unless an operation chain already has one.
class SaveProgress {
public:
    explicit SaveProgress(CQuillon3Doc& doc) : doc_(doc)
    {
        if (doc.progress) return;
        owned_ = doc.Ui().CreateProgress(true);
        if (!owned_) return;
        owned_->SetSavingLayout(true);
        owned_->SetCaption("Saving Tracks");
        doc.progress = owned_.get();
    }
    ~SaveProgress()
    {
        if (owned_ && doc_.progress == owned_.get()) doc_.progress = nullptr;
    }
    SaveProgress(const SaveProgress&) = delete;
    SaveProgress& operator=(const SaveProgress&) = delete;

private:
    CQuillon3Doc& doc_;
    std::unique_ptr<CProgressWnd> owned_;
};

}  // namespace

bool HasDiskSpace(uint64_t freeBytes, uint64_t bytesNeeded)
{
    const uint64_t usable = std::min(freeBytes, kSpaceCap);
    return usable >= kSpaceReserve && usable - kSpaceReserve >= bytesNeeded;
}

std::vector<int32_t> ExportNumbers(const CQuillon3Doc& doc, const SaveRequest& request)
{
    const int32_t count = doc.TrackCount();
    if (count == 1) {
        const int32_t number = request.renumberSingle ? std::max<int32_t>(request.startNumber, 1)
                                                      : std::atoi(doc.inputTrackNumber.c_str());
        return {std::max<int32_t>(number, 0)};
    }
    std::vector<bool> selected = request.selected;
    selected.resize(static_cast<size_t>(count), false);
    return AssignTrackNumbers(selected, request.startNumber, request.consecutive);
}

SaveOutcome SaveTracks(CQuillon3Doc& doc, const SaveRequest& request)
{
    SaveOutcome outcome;
    const int32_t count = doc.TrackCount();
    if (count == 0) {
        Tell(doc, kNoTracksError);
        return outcome;
    }
    // Names: the numbers first, since the rule may use them.
    const std::vector<int32_t> numbers = ExportNumbers(doc, request);
    OutputNameRequest names;
    names.folder = request.folder;
    names.rule = request.rule;
    names.extension = OutputExtension(request.options.fileType, request.options.external, request.encoderExtension);
    for (int32_t i = 0; i < count; ++i) {
        const bool chosen = count == 1 ? request.selected.empty() || request.selected[0]
                                       : static_cast<size_t>(i) < request.selected.size() &&
                                             request.selected[static_cast<size_t>(i)];
        names.lines.push_back({i + 1, chosen, numbers[static_cast<size_t>(i)]});
    }
    const OutputNames out = RefreshOutputNames(doc, names);
    if (out.tracks.empty()) {
        Tell(doc, kNoTracksError);
        return outcome;
    }
    if (out.outsideFolder) {
        Tell(doc, kOutsideFolderError);
        return outcome;
    }
    if (out.duplicates) {
        Tell(doc, kSameOutputError);
        return outcome;
    }

    // The external encoder run is not part of this version; refusing here
    // keeps the request's names checked the same way either way.
    if (request.options.external) {
        Tell(doc, kExternalUnavailable);
        return outcome;
    }

    // Paths in list order: the input error wins over the read-only one.
    bool inputHit = false, unwritable = false, anyExists = false;
    std::string listing;
    for (const std::string& path : out.paths) {
        if (SameFile(path, doc.userPath) || SameFile(path, doc.sourcePath) || SameFile(path, doc.workingPath))
            inputHit = true;
        std::error_code error;
        const bool exists = fs::exists(fs::symlink_status(path, error));
        if (exists) {
            anyExists = true;
            if (Unwritable(path)) unwritable = true;
        }
        listing += (exists ? "* " : "   ") + path + "\n";
    }
    if (inputHit) {
        Tell(doc, kInputOverwriteError);
        return outcome;
    }
    if (unwritable) {
        Tell(doc, kReadOnlyError);
        return outcome;
    }
    if (anyExists) {
        const std::string text = std::string(kConfirmSaveText) + "\n\n" + listing;
        if (doc.Ui().MessageBox(text, kConfirmSaveCaption, MbButtons::YesNo, MbIcon::Warning) != MbAnswer::Yes) {
            outcome.result = SaveResult::Declined;
            return outcome;
        }
    }

    // Which elements are written, and with which joints. A single track that
    // covers the whole recording untouched is written as the recording.
    struct Job {
        int32_t element;
        int32_t number;
        bool before, after;
    };
    std::vector<Job> jobs;
    if (count == 1) {
        const TrackRecord& t = doc.tracks.At(1);
        const bool plain = t.start <= FirstAllowedStart(doc) && t.end == doc.tracks.At(0).end && t.fadeIn == 0 &&
                           t.fadeOut == 0 && t.preSilence == 0 && t.postSilence == 0;
        if (plain) {
            doc.tracks.At(0).artist = t.artist;
            jobs.push_back({0, out.numbers[0], true, true});
        } else {
            jobs.push_back({1, out.numbers[0], false, false});
        }
    } else {
        const bool gapless = doc.gapless != 0;
        for (size_t k = 0; k < out.tracks.size(); ++k)
            jobs.push_back({out.tracks[k], out.numbers[k], gapless && k > 0, gapless && k + 1 < out.tracks.size()});
    }

    uint64_t needed = 0;
    for (const Job& job : jobs) {
        const TrackRecord& t = doc.tracks.At(job.element);
        const uint64_t units = static_cast<uint64_t>(std::max<int64_t>(0, int64_t{t.end} - t.start));
        needed += doc.bitsPerSample == 24 ? units / 2 * 3 : units;
    }
    const std::optional<uint64_t> space =
        request.freeSpace ? request.freeSpace(request.folder) : FileSystemFreeSpace(request.folder);
    if (space && !HasDiskSpace(*space, needed)) {
        const std::string pattern = kNoSpaceError;
        const size_t at = pattern.find("%s");
        Tell(doc, pattern.substr(0, at) + request.folder + pattern.substr(at + 2));
        outcome.result = SaveResult::NoSpace;
        return outcome;
    }

    SaveProgress progress(doc);
    CTrackExporter exporter(doc, request.options);
    exporter.ClearCancel();
    outcome.result = SaveResult::Saved;
    for (size_t k = 0; k < jobs.size(); ++k) {
        const std::string& path = out.paths[std::min(k, out.paths.size() - 1)];
        const WriteResult r = exporter.WriteTrack(jobs[k].element, jobs[k].number, path, jobs[k].before, jobs[k].after);
        if (r == WriteResult::Written) {
            outcome.written.push_back(path);
            continue;
        }
        outcome.result = r == WriteResult::Cancelled ? SaveResult::Cancelled : SaveResult::OutputFailed;
        break;
    }
    doc.NotifyUpdate();
    if (outcome.result == SaveResult::Saved) doc.SetModifiedFlag(false);
    return outcome;
}

}  // namespace kelvane
