#include "cli/CliApp.h"
#include "cli/CliCommands.h"

#include "cli/Report.h"
#include "cli/ReportFile.h"
#include "cli/TerminalText.h"
#include "document/CQuillon3Doc.h"
#include "document/StatusTexts.h"
#include "operations/ExternalEncoder.h"
#include "operations/HissFilter.h"
#include "operations/ProcessRecording.h"
#include "operations/SaveFromRequest.h"
#include "settings/SettingsStore.h"
#include "tracks/CTrackProperties.h"
#include "tracks/TrackTimes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace kelvane {

namespace {

namespace fs = std::filesystem;

OpResult Fail(FailKind kind, const std::string& text)
{
    std::cerr << "kelvane-cli: " << Printable(text) << "\n";
    return OpResult::Fail(kind, text);
}

// True when `out` names the input or another file the run must not replace.
bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec) && !ec;
}

// A report written under a scratch file's name would be deleted with it when
// the run ends (or be renamed over the open working copy), so such a name is
// refused: before the import by the names it will choose, and after it by
// the files it did make.
std::optional<std::string> ScratchFileTaken(const ReportTarget& target, const std::vector<std::string>& scratch)
{
    for (const std::string& name : scratch) {
        if (name.empty()) continue;
        if (TargetIsFile(target, name)) return name;
        if (target.kind != ReportTarget::Kind::File || target.exists) continue;
        std::error_code ea, eb;
        const fs::path a = fs::weakly_canonical(fs::absolute(target.path, ea), ea);
        const fs::path b = fs::weakly_canonical(fs::absolute(name, eb), eb);
        if (!ea && !eb && a == b) return name;
    }
    return std::nullopt;
}

OpResult RefuseScratchName(const ReportTarget& target, const std::string& scratch)
{
    return Fail(FailKind::BadInput, target.given + " is the name of this run's scratch file " + scratch +
                                        "; give another name");
}

bool CopyWorkingFile(CQuillon3Doc& doc, std::ostream& out)
{
    std::vector<char> buffer(1 << 20);
    CWaveFile& w = doc.workingFile;
    w.SeekRaw(0);
    for (;;) {
        const int64_t got = w.ReadRaw(buffer.data(), static_cast<int64_t>(buffer.size()));
        if (got < 0) return false;
        if (got == 0) return true;
        out.write(buffer.data(), got);
        if (!out) return false;
    }
}

// The texts and timings given on the command line, stored the way the
// "Track Properties" dialog stores what the user typed.
bool ApplyTrackTexts(CQuillon3Doc& doc, const CliArgs& args)
{
    if (doc.TrackCount() == 0) {
        if (!args.titles.empty() || args.album || args.artist || args.genre ||
            std::any_of(args.timings.begin(), args.timings.end(), [](const auto& t) { return t.has_value(); }))
            std::cerr << "kelvane-cli: the recording has no tracks; track texts and timings are not applied\n";
        return true;
    }
    for (const auto& [n, title] : args.titles) {
        if (n > doc.TrackCount())
            std::cerr << "kelvane-cli: there is no track " << n << "; its title is not applied\n";
    }
    CTrackProperties props(doc, doc.defaultArtist, doc.keepFileNameTitles);
    for (int32_t r = 0; r < props.RowCount(); ++r) {
        const CTrackProperties::Row& row = props.RowAt(r);
        CTrackProperties::EditValues v{row.title, row.artist, row.timings};
        if (auto it = args.titles.find(r + 1); it != args.titles.end()) v.title = it->second;
        if (args.artist) v.artist = *args.artist;
        for (int k = 0; k < 4; ++k)
            if (args.timings[k]) v.timings[k] = *args.timings[k];
        props.SetRowValues(r, v);
    }
    if (args.album) props.SetAlbum(*args.album);
    if (args.genre) props.SetGenre(*args.genre);
    return props.Store();
}

// The external encoder of --format external:PROGRAM, or the refusal with
// the option that would mend it.
OpResult ChooseEncoder(CQuillon3Doc& doc, const CliArgs& args, EncoderEntry& out)
{
    EncoderRequest request;
    request.program = *args.externalProgram;
    request.command = args.encoderCommand;
    request.extension = args.encoderExt;
    request.useStored = !args.noSettings;
    request.pathVariable = std::getenv("PATH");
    const ResolvedEncoder chosen = ResolveEncoder(doc, request);
    switch (chosen.problem) {
    case EncoderProblem::NotFound: std::cerr << "kelvane-cli: give its path, or put it in PATH\n"; break;
    case EncoderProblem::NoCommandLine: std::cerr << "kelvane-cli: give its command line with --encoder-command\n"; break;
    case EncoderProblem::NoExtension: std::cerr << "kelvane-cli: give its extension with --encoder-ext\n"; break;
    default: break;
    }
    out = chosen.entry;
    return chosen.result;
}

// Saves the chosen tracks of the processed recording into --out: the save
// request starts as the save dialog opens and takes the flags as the
// user's answers, so every check the dialog's save makes (the input is
// never an output, no two tracks onto one file, free space) holds here too.
OpResult SaveChosenTracks(CQuillon3Doc& doc, const CliArgs& args, const EncoderEntry& encoder)
{
    const int32_t count = doc.TrackCount();
    for (const auto& [lo, hi] : args.select) {
        if (hi > count)
            return Fail(FailKind::BadInput, "--select names track " + std::to_string(hi) + " but the recording has " +
                                                std::to_string(count) + (count == 1 ? " track" : " tracks"));
    }
    SaveRequest request = OpeningSaveRequest(doc);
    request.selected.assign(static_cast<size_t>(count), args.select.empty());
    for (const auto& [lo, hi] : args.select)
        for (int n = lo; n <= hi; ++n) request.selected[static_cast<size_t>(n - 1)] = true;
    // A single track keeps the input's own number unless --start-number asks
    // for another.
    if (args.startNumber) {
        request.startNumber = *args.startNumber;
        request.renumberSingle = true;
    }
    request.consecutive = args.consecutive;
    const std::string& dir = *args.outDir;
    request.folder = dir.back() == '/' ? dir : dir + "/";
    request.rule = args.rule;
    request.close = args.close;
    // The format and the levels are the flags'; the compression indices not
    // given keep the stored ones, and so do the dither choices of --resample.
    ExportOptions& o = request.options;
    o.fileType = args.fileType;
    o.flacLevelIndex = args.flacLevel.value_or(o.flacLevelIndex);
    o.oggQualityIndex = args.oggQuality.value_or(o.oggQualityIndex);
    o.apeLevelIndex = args.apeLevel.value_or(o.apeLevelIndex);
    o.normalise = args.normaliseDb.has_value();
    o.scale = args.scaleDb.has_value();
    o.gainDb = args.normaliseDb ? *args.normaliseDb : args.scaleDb.value_or(0.0);
    o.resample = args.resampleRate.has_value();
    if (o.resample) o.resampleTo = ResampleSettingsFor(doc, args);
    o.external = args.externalProgram.has_value();
    if (o.external) {
        o.encoderPath = encoder.path;
        o.parameters = encoder.command;
        request.encoderExtension = encoder.ext;
    }

    const SavedTracks saved = SaveFromRequest(doc, request);
    const SaveOutcome& outcome = saved.outcome;
    for (const std::string& path : outcome.written) std::printf("Wrote %s\n", Printable(path).c_str());
    if (outcome.handedOver) std::printf("The working copy became %s (nothing copied)\n", Printable(outcome.written.front()).c_str());
    if (outcome.replacedInput) std::printf("Replaced %s\n", Printable(args.file).c_str());
    std::fflush(stdout);
    const OpResult& r = saved.result;
    if (r.kind == FailKind::Declined) {
        if (r.message == kUnknownTagsQuestion) {
            std::cerr << "kelvane-cli: not saved, since file names include unknown tags\n"
                         "(--allow-unknown-tags saves them anyway)\n";
        } else {
            std::string names;
            for (const std::string& p : outcome.existing) names += (names.empty() ? "" : ", ") + p;
            std::cerr << "kelvane-cli: not saved, since these files exist already: " << Printable(names)
                      << "\n(--overwrite replaces them)\n";
        }
        return r;
    }
    switch (outcome.result) {
    case SaveResult::ClosedInputKept:
        std::cerr << "kelvane-cli: saved and closed, but the input " << Printable(args.file)
                  << " was kept as it was; the new file was kept as " << Printable(outcome.keptAs) << "\n";
        break;
    case SaveResult::Cancelled:
    case SaveResult::NoSpace:
    case SaveResult::OutputFailed:
        for (const std::string& path : outcome.notWritten)
            std::cerr << "kelvane-cli: not written: " << Printable(path) << "\n";
        std::cerr << (outcome.result == SaveResult::Cancelled ? "kelvane-cli: the save was stopped\n"
                                                              : "kelvane-cli: the tracks were not all saved\n");
        break;
    default: break;
    }
    return r;
}

// Captures --profile START-END as the lead-in noise profile: the span
// becomes the marked block for the capture, and is unmarked again so that
// the filter covers the whole side.
OpResult CaptureProfileSpan(CQuillon3Doc& doc, const std::pair<double, double>& seconds)
{
    const auto at = [&](double s) {
        const int64_t frames = static_cast<int64_t>(s * doc.sampleRate);
        return static_cast<int32_t>(std::clamp<int64_t>(doc.dataStart + frames * 4, doc.dataStart, doc.dataEnd));
    };
    doc.blockStart = at(seconds.first);
    doc.blockEnd = at(seconds.second);
    const OpResult r = CaptureNoiseProfile(doc, ProfileSlot::LeadIn);
    doc.blockStart = doc.blockEnd = 0;
    if (r.kind == FailKind::BadInput) std::cerr << "kelvane-cli: give --profile a longer stretch of noise\n";
    return r;
}

// "Hiss Filter..." at --hiss, then "Remove Hiss Filter" for --remove-hiss.
OpResult RunFilters(CQuillon3Doc& doc, const CliArgs& args)
{
    if (args.hiss) {
        HissFilterRequest request;
        request.strength = *args.hiss;
        if (OpResult r = ApplyHissFilter(doc, request); !r.Ok()) return r;
    }
    if (args.removeHiss) {
        if (!doc.filtersApplied) std::cerr << "kelvane-cli: no filter is applied; --remove-hiss has nothing to do\n";
        else if (OpResult r = RemoveHissFilter(doc); !r.Ok()) return r;
    }
    return OpResult::Success();
}

// The summary of the processed recording on stdout.
void PrintSummary(const CQuillon3Doc& doc, const CliArgs& args, double duration, double seconds)
{
    std::printf("%s: %s, %d Hz, %d bits, %.1f s\n", Printable(args.file).c_str(), StatusWord(doc.status).c_str(),
                doc.sampleRate, doc.bitsPerSample, duration);
    std::printf("Source: %s\n", doc.source == settings::kSourceTape ? "tape" : "vinyl");
    std::printf("Filters: %s\n",
                doc.filtersApplied && doc.hissApplied > 0 ? HissLabel(doc.hissApplied).c_str() : "none");
    std::printf("Clicks corrected: %d\n", doc.ClickCount());
    std::printf("Tracks: %d\n", doc.TrackCount());
    for (int32_t t = 1; t < doc.tracks.Size(); ++t) {
        const TrackRecord& tr = doc.tracks[t];
        std::printf("  %2d  %s - %s  (%s)  %s\n", t, FormatMinutes((tr.start - doc.dataStart) / 4, doc.sampleRate).c_str(),
                    FormatMinutes((tr.end - doc.dataStart) / 4, doc.sampleRate).c_str(),
                    FormatMinutes((tr.end - tr.start) / 4, doc.sampleRate).c_str(), Printable(tr.title).c_str());
    }
    std::printf("Time taken: %.2f s (%.0fx real time)\n", seconds, seconds > 0 ? duration / seconds : 0.0);
    std::fflush(stdout);
}

// Where the report and the corrected recording go, settled before the
// work: a name that cannot be written is refused now, not after it.
struct Targets {
    std::optional<ReportTarget> report, corrected;
};

OpResult PlanTargets(CQuillon3Doc& doc, const CliArgs& args, Targets& targets)
{
    for (const auto* out : {&args.eventsJson, &args.corrected}) {
        if (*out && SameFile(**out, args.file))
            return Fail(FailKind::BadInput, **out + " is the input recording; it is never written");
    }
    if (args.eventsJson && args.corrected && SameFile(*args.eventsJson, *args.corrected))
        return Fail(FailKind::BadInput, "--events-json and --corrected name the same file");
    const std::vector<std::string> predictedScratch = PredictedScratchFiles(doc, args);
    for (auto [given, target] : {std::pair{&args.eventsJson, &targets.report}, std::pair{&args.corrected, &targets.corrected}}) {
        if (!*given) continue;
        std::string refusal;
        *target = PlanReportTarget(**given, refusal);
        if (!*target) return Fail(FailKind::BadInput, refusal);
        if (TargetIsFile(**target, args.file))
            return Fail(FailKind::BadInput, **given + " is the input recording; it is never written");
        if (const std::optional<std::string> scratch = ScratchFileTaken(**target, predictedScratch))
            return RefuseScratchName(**target, *scratch);
    }
    if (targets.report && targets.corrected && SameTarget(*targets.report, *targets.corrected))
        return Fail(FailKind::BadInput, "--events-json and --corrected name the same file");
    for (std::optional<ReportTarget>* target : {&targets.report, &targets.corrected}) {
        std::string error;
        if (*target && !TakeStandardOutput(**target, error)) return Fail(FailKind::Environment, error);
    }
    return OpResult::Success();
}

OpResult WriteTargets(CQuillon3Doc& doc, const Targets& targets)
{
    for (const std::optional<ReportTarget>* target : {&targets.report, &targets.corrected}) {
        if (!*target) continue;
        std::string error;
        const auto write = [&](std::ostream& out) {
            if (target == &targets.corrected) return CopyWorkingFile(doc, out);
            WriteEventsJson(out, doc);
            return static_cast<bool>(out);
        };
        const ReportWrite written = WriteReport(**target, write, [] { return CliInterrupted(); }, error);
        if (written == ReportWrite::Failed) return Fail(FailKind::Environment, error);
        if (written == ReportWrite::Cancelled) return OpResult::Fail(FailKind::Cancelled, "");
    }
    return OpResult::Success();
}

OpResult ProcessAndReport(CQuillon3Doc& doc, const CliArgs& args)
{
    // Refused before the scan, so nobody waits for a run that cannot end well.
    EncoderEntry encoder;
    if (args.externalProgram) {
        if (OpResult r = ChooseEncoder(doc, args, encoder); !r.Ok()) return r;
    }
    Targets targets;
    if (OpResult r = PlanTargets(doc, args, targets); !r.Ok()) return r;
    if (args.noSplit && args.tracks) return Fail(FailKind::BadInput, "--no-split and --tracks contradict each other");
    ProcessRequest process = args.process;
    if (args.noSplit) process.splitTracks = 0;
    if (args.tracks) {
        process.splitTracks = 1;
        process.trackCount = *args.tracks;
    }
    if (args.fadeLinear) doc.Settings().Set(settings::FadeLinear, *args.fadeLinear);
    if (args.profile) process.loaded = [&](CQuillon3Doc& d) { return CaptureProfileSpan(d, *args.profile); };

    const auto started = std::chrono::steady_clock::now();
    ReclaimScratchFiles(doc, args);
    OpenRequest open{args.file, args.acceptDamaged, nullptr};
    // The scratch files the import did make may take a name the prediction
    // could not foresee.
    open.opened = [&](CQuillon3Doc& d) {
        const std::vector<std::string> made =
            WithLockFiles({d.workingPath, d.sourcePath != args.file ? d.sourcePath : std::string()});
        for (const std::optional<ReportTarget>* target : {&targets.report, &targets.corrected}) {
            if (!*target) continue;
            if (const std::optional<std::string> scratch = ScratchFileTaken(**target, made))
                return RefuseScratchName(**target, *scratch);
        }
        return OpResult::Success();
    };
    const OpResult processed =
        args.command == "merge" ? MergeAndProcess(doc, args, open, process) : OpenAndProcess(doc, open, process);
    if (processed.damaged)
        std::cerr << "kelvane-cli: --accept-damaged imports it anyway, with its bad frames as decoded\n";
    if (!processed.Ok()) return processed;
    if (OpResult r = RunCorrectionEdits(doc, args); !r.Ok()) return r;
    if (OpResult r = RunFilters(doc, args); !r.Ok()) return r;
    const double duration = DurationSeconds(doc);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (!ApplyTrackTexts(doc, args)) return OpResult::Fail(FailKind::Environment, "");
    if (OpResult r = WriteTargets(doc, targets); !r.Ok()) return r;
    PrintSummary(doc, args, duration, seconds);
    // The reports come first: "Save && Close..." consumes the working copy.
    return args.outDir ? SaveChosenTracks(doc, args, encoder) : OpResult::Success();
}

}  // namespace

OpResult RunProcess(CQuillon3Doc& doc, const CliArgs& args)
{
    const OpResult r = ProcessAndReport(doc, args);
    // Nothing else is saved by this command: the working copy goes.
    doc.DeleteContents();
    return r;
}

}  // namespace kelvane
