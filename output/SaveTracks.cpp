#include "output/SaveTracks.h"

#include "document/CImporter.h"
#include "document/CProgressWnd.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "output/DurableFiles.h"
#include "output/OutputNames.h"
#include "tracks/SectorGrid.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <sys/stat.h>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSpaceReserve = 10'000'000;
constexpr uint64_t kSpaceCap = (uint64_t{1} << 32) - 1;

void Tell(CQuillon3Doc& doc, const std::string& text)
{
    doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
}

// The same path as written: both made absolute and "." and ".." resolved
// lexically, no link followed.
bool SamePathAsWritten(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    const fs::path ca = fs::absolute(a, error).lexically_normal();
    if (error) return false;
    const fs::path cb = fs::absolute(b, error).lexically_normal();
    return !error && ca == cb;
}

bool Unwritable(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) return false;
    if (status.type() != fs::file_type::regular) return true;
    return (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

// A folder that may not exist yet lies on the file system of its nearest
// existing parent.
fs::path NearestExistingFolder(fs::path at)
{
    std::error_code error;
    while (!at.empty() && !fs::exists(at, error)) at = at.parent_path();
    return at.empty() ? fs::path(".") : at;
}

std::optional<uint64_t> FileSystemFreeSpace(const std::string& folder)
{
    std::error_code error;
    const fs::space_info info = fs::space(NearestExistingFolder(folder), error);
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

// Whether a file at `to` would be on the file system holding `from`, so a
// rename can move it. The target may not exist yet: its nearest existing
// folder decides.
bool SameFileSystem(const std::string& from, const std::string& to)
{
    struct stat a{}, b{};
    if (from.empty() || ::stat(from.c_str(), &a) != 0) return false;
    return ::stat(NearestExistingFolder(fs::path(to).parent_path()).c_str(), &b) == 0 && a.st_dev == b.st_dev;
}

// The single untouched track of a "Save && Close..." as WAV: the working
// file is the output already. With an external encoder it is that
// encoder's input; otherwise it is moved onto the target in one rename,
// replacing an older file there only when replace says so. On failure the
// working file stays open and in place.
bool HandOver(CQuillon3Doc& doc, CTrackExporter& exporter, const ExportOptions& options, int32_t number,
              const std::string& target, bool replace)
{
    std::error_code error;
    const fs::path folder = fs::path(target).parent_path();
    if (!folder.empty()) fs::create_directories(folder, error);
    exporter.SetReplaceExisting(replace);
    if (options.external)
        return exporter.RunExternalEncoder(0, number, doc.workingPath, target) == WriteResult::Written;
    const std::string working = doc.workingPath;
    doc.workingFile.Close();
    std::string why;
    if (PlaceFile(working, target, replace, &why) != Placement::Placed) {
        doc.workingFile.Open(working, CWaveFile::Mode::ReadWrite);
        Tell(doc, std::string("The file ") + target + " could not be saved\n" + why);
        return false;
    }
    // The file lives on under its new name: closing the document must not
    // truncate or delete it.
    doc.workingPath.clear();
    return true;
}

}  // namespace

bool HasDiskSpace(uint64_t freeBytes, uint64_t bytesNeeded)
{
    const uint64_t usable = std::min(freeBytes, kSpaceCap);
    return usable >= kSpaceReserve && usable - kSpaceReserve >= bytesNeeded;
}

bool RenumberSingleByDefault(const CQuillon3Doc& doc) { return std::atoi(doc.inputTrackNumber.c_str()) < 1; }

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

OutputNames SaveOutputNames(const CQuillon3Doc& doc, const SaveRequest& request)
{
    // The numbers first, since the rule may use them.
    const int32_t count = doc.TrackCount();
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
    return RefreshOutputNames(doc, names);
}

SaveOutcome SaveTracks(CQuillon3Doc& doc, const SaveRequest& request)
{
    SaveOutcome outcome;
    const int32_t count = doc.TrackCount();
    if (count == 0) {
        Tell(doc, kNoTracksError);
        return outcome;
    }
    const OutputNames out = SaveOutputNames(doc, request);
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

    if (request.options.external) {
        if (request.options.encoderPath.empty()) {
            Tell(doc, kNoEncoderChosen);
            return outcome;
        }
        if (request.options.parameters.find("%IN") == std::string::npos) {
            Tell(doc, kInvalidEncoderParameters);
            return outcome;
        }
    }

    // Paths in list order: the input error wins over the read-only one. The
    // input itself may be replaced by "Save && Close..."; the files the
    // program made for it (a decoded copy, the working file) never.
    bool inputHit = false, unwritable = false, anyExists = false;
    std::vector<std::string> targets = out.paths;
    // Whether each target held a file when it was listed: only those are
    // replaced, once the user agreed; a file that appears later is kept.
    std::vector<bool> replaceable(targets.size(), false);
    // The file this save writes to replace the input, if it does.
    std::string replacement;
    std::string listing;
    for (size_t k = 0; k < targets.size(); ++k) {
        std::string& target = targets[k];
        const std::string path = target;
        const bool namesInput = SameFile(path, doc.userPath);
        // Only the input's path as written is replaced: another name of the
        // recording (a symbolic or hard link) would replace it behind the
        // user's back.
        const bool replacesInput = request.close && namesInput && SamePathAsWritten(path, doc.userPath);
        if ((namesInput && !replacesInput) ||
            (!namesInput && (SameFile(path, doc.sourcePath) || SameFile(path, doc.workingPath))))
            inputHit = true;
        if (replacesInput) {
            // A leftover of that name (an earlier failed save, or the user's
            // own file) is never taken for the new recording.
            target = UnusedName(doc.userPath + kReplaceSuffix);
            replacement = target;
        }
        std::error_code error;
        const bool exists = fs::exists(fs::symlink_status(path, error));
        replaceable[k] = exists && !replacesInput;
        if (exists) {
            anyExists = true;
            outcome.existing.push_back(path);
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
    bool handOver = false;
    if (count == 1) {
        const TrackRecord& t = doc.tracks.At(1);
        const bool plain = t.start <= FirstAllowedStart(doc) && t.end == doc.tracks.At(0).end && t.fadeIn == 0 &&
                           t.fadeOut == 0 && t.preSilence == 0 && t.postSilence == 0;
        const bool wavOut = request.options.external || request.options.fileType == kFileTypeWav;
        // A level change rewrites every sample: the working file is not the
        // output then.
        const bool levelled = request.options.normalise || request.options.scale;
        handOver = plain && !levelled && request.close && wavOut && doc.sourceKind != kSourceMono &&
                   SameFileSystem(doc.workingPath, targets[0]);
        if (plain) {
            if (!handOver) doc.tracks.At(0).artist = t.artist;
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
    for (const Job& job : handOver ? std::vector<Job>{} : jobs) {
        const TrackRecord& t = doc.tracks.At(job.element);
        const uint64_t units = static_cast<uint64_t>(std::max<int64_t>(0, int64_t{t.end} - t.start));
        needed += doc.bitsPerSample == 24 ? units / 2 * 3 : units;
    }
    const std::optional<uint64_t> space =
        request.freeSpace ? request.freeSpace(request.folder) : FileSystemFreeSpace(request.folder);
    if (space && !HasDiskSpace(*space, needed)) {
        Tell(doc, WithText(kNoSpaceError, request.folder));
        outcome.result = SaveResult::NoSpace;
        return outcome;
    }

    SaveProgress progress(doc);
    CTrackExporter exporter(doc, request.options);
    exporter.ClearCancel();
    outcome.result = SaveResult::Saved;
    bool replacementWritten = false;
    if (handOver) {
        const std::string& target = targets[0];
        if (HandOver(doc, exporter, request.options, jobs[0].number, target, replaceable[0])) {
            outcome.written.push_back(out.paths[0]);
            outcome.handedOver = true;
            replacementWritten = target == replacement;
        } else {
            outcome.result = SaveResult::OutputFailed;
        }
    } else {
        for (size_t k = 0; k < jobs.size(); ++k) {
            const size_t at = std::min(k, targets.size() - 1);
            const std::string& path = targets[at];
            exporter.SetReplaceExisting(replaceable[at]);
            const WriteResult r =
                exporter.WriteTrack(jobs[k].element, jobs[k].number, path, jobs[k].before, jobs[k].after);
            if (r == WriteResult::Written) {
                outcome.written.push_back(out.paths[std::min(k, out.paths.size() - 1)]);
                replacementWritten = replacementWritten || path == replacement;
                continue;
            }
            outcome.result = r == WriteResult::Cancelled ? SaveResult::Cancelled : SaveResult::OutputFailed;
            break;
        }
    }
    doc.NotifyUpdate();
    if (outcome.result != SaveResult::Saved) {
        for (size_t k = outcome.written.size(); k < jobs.size() && k < out.paths.size(); ++k)
            outcome.notWritten.push_back(out.paths[k]);
        // Nothing of a half-done replacement may stay behind; only the file
        // this save wrote is removed.
        std::error_code ignored;
        if (replacementWritten) fs::remove(replacement, ignored);
        return outcome;
    }
    doc.SetModifiedFlag(false);
    if (request.close) {
        const std::string input = doc.userPath;
        doc.DeleteContents();
        outcome.closed = true;
        if (replacementWritten) {
            // One rename: the input's path never lacks a file. The new file
            // is on disk before it, and the folder after it.
            std::string why;
            if (PlaceFile(replacement, input, true, &why) == Placement::Placed) {
                outcome.replacedInput = true;
            } else {
                Tell(doc, "The recording was saved and closed, but the saved file could not replace " + input +
                              ": " + why + "\nThe input file is kept as it was; the new file is kept as " +
                              replacement + ".");
                outcome.result = SaveResult::ClosedInputKept;
                outcome.keptAs = replacement;
            }
        }
    }
    return outcome;
}

}  // namespace kelvane
