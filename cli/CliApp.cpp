#include "CliApp.h"

#include "cli/Report.h"
#include "cli/TerminalInteraction.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/StatusTexts.h"
#include "settings/QtSettingsStore.h"
#include "settings/SettingsStore.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

const char* kUsage =
    "Usage: kelvane-cli [--no-settings] [--quiet] COMMAND FILE [options]\n"
    "\n"
    "Commands:\n"
    "  info FILE [--json]        import FILE and describe it (kind, format, layout, tags)\n"
    "  process FILE [options]    import FILE and run the processing of a side\n"
    "      --events-json OUT     write the report of the processed recording to OUT\n"
    "\n"
    "Global options:\n"
    "  --no-settings   use the default settings and touch no settings store\n"
    "  --quiet         no progress display\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 refused input or bad arguments, 130 interrupted.\n";

struct Args {
    bool noSettings = false;
    bool quiet = false;
    bool json = false;
    std::string command;
    std::string file;
    std::optional<std::string> eventsJson;
};

int Usage(const std::string& problem)
{
    std::cerr << "kelvane-cli: " << problem << "\n\n" << kUsage;
    return kExitRefused;
}

// Returns an exit status when the arguments end the run, nullopt to go on.
std::optional<int> Parse(int argc, char** argv, Args& args)
{
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::optional<std::string>& into) -> bool {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return kExitOk;
        } else if (a == "--version") {
            std::cout << "kelvane-cli " << KELVANE_VERSION << "\n";
            return kExitOk;
        } else if (a == "--no-settings") {
            args.noSettings = true;
        } else if (a == "--quiet") {
            args.quiet = true;
        } else if (a == "--json") {
            args.json = true;
        } else if (a == "--events-json") {
            if (!value(args.eventsJson)) return Usage("--events-json needs a file name");
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage("unknown option " + a);
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) return Usage("no command given");
    args.command = rest[0];
    if (args.command != "info" && args.command != "process") return Usage("unknown command " + args.command);
    if (rest.size() < 2) return Usage(args.command + " needs a FILE");
    if (rest.size() > 2) return Usage("unexpected argument " + rest[2]);
    args.file = rest[1];
    if (args.command == "info" && args.eventsJson) return Usage("--events-json belongs to process");
    if (args.command == "process" && args.json) return Usage("--json belongs to info");
    return std::nullopt;
}

int ExitFor(const OpResult& r)
{
    switch (r.kind) {
    case FailKind::None: return kExitOk;
    case FailKind::BadInput: return kExitRefused;
    case FailKind::Cancelled: return g_interrupted ? kExitInterrupted : kExitFailed;
    default: return kExitFailed;
    }
}

std::unique_ptr<CTerminalInteraction> MakeInteraction(const Args& args)
{
    CTerminalInteraction::Options o;
    o.progress.quiet = args.quiet;
    o.progress.cancelRequested = [] { return g_interrupted != 0; };
    // An interrupt means "stop everything": every cancel question is answered
    // the way that ends the operation; without one, questions keep the work.
    o.policy = [](std::string_view, MbButtons buttons) -> std::optional<MbAnswer> {
        if (!g_interrupted) return std::nullopt;
        if (buttons == MbButtons::YesNoCancel) return MbAnswer::No;
        if (buttons == MbButtons::YesNo) return MbAnswer::Yes;
        return std::nullopt;
    };
    return std::make_unique<CTerminalInteraction>(std::move(o));
}

int RunInfo(CQuillon3Doc& doc, const Args& args)
{
    const OpResult r = OpenRecording(doc, args.file);
    if (!r.Ok()) return ExitFor(r);
    if (args.json) {
        WriteInfoJson(std::cout, doc);
    } else {
        static const char* kinds[] = {"WAV", "Monkey's Audio", "FLAC", "merged WAV files", "mono WAV widened to stereo"};
        std::printf("File:           %s\n", args.file.c_str());
        std::printf("Source kind:    %d (%s)\n", doc.sourceKind, kinds[doc.sourceKind]);
        std::printf("Sample rate:    %d Hz\n", doc.sampleRate);
        std::printf("Bits:           %d\n", doc.bitsPerSample);
        std::printf("dataStart:      %d\n", doc.dataStart);
        std::printf("dataEnd:        %d\n", doc.dataEnd);
        std::printf("dataAlign:      %d\n", doc.dataAlign);
        std::printf("trailerBytes:   %d\n", doc.trailerBytes);
        std::printf("Duration:       %.3f s\n", DurationSeconds(doc));
        std::printf("Title:          %s\n", doc.inputTags.title.c_str());
        std::printf("Artist:         %s\n", doc.inputTags.artist.c_str());
        std::printf("Album:          %s\n", doc.inputTags.album.c_str());
        std::printf("Genre:          %s\n", doc.inputTags.genre.c_str());
        std::printf("Track:          %s\n", doc.inputTrackNumber.c_str());
    }
    doc.DeleteContents();
    return kExitOk;
}

int RunProcess(CQuillon3Doc& doc, const Args& args)
{
    const auto started = std::chrono::steady_clock::now();
    const OpResult r = OpenRecording(doc, args.file);
    if (!r.Ok()) return ExitFor(r);
    const double duration = DurationSeconds(doc);

    std::unique_ptr<CProgressWnd> progress = doc.Ui().CreateProgress(false);
    doc.progress = progress.get();
    progress->SetCaption("Scanning Waveform");
    progress->SetStageName(0, "Scan for Tracks");
    progress->SetStage(0, -1);
    const LoadOutcome outcome = LoadRecording(doc, nullptr);
    doc.progress = nullptr;
    progress.reset();
    if (outcome == LoadOutcome::Abandoned) return g_interrupted ? kExitInterrupted : kExitFailed;
    if (outcome == LoadOutcome::Failed) return kExitFailed;

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (args.eventsJson) {
        std::ofstream out(*args.eventsJson, std::ios::binary | std::ios::trunc);
        if (out) WriteEventsJson(out, doc);
        if (!out || !out.flush()) {
            std::cerr << "kelvane-cli: cannot write " << *args.eventsJson << "\n";
            doc.DeleteContents();
            return kExitFailed;
        }
    }
    std::printf("%s: %s, %d Hz, %d bits, %.1f s\n", args.file.c_str(), StatusWord(doc.status).c_str(), doc.sampleRate,
                doc.bitsPerSample, duration);
    std::printf("Clicks corrected: %d\n", doc.ClickCount());
    std::printf("Tracks: %d\n", doc.TrackCount());
    std::printf("Time taken: %.2f s (%.0fx real time)\n", seconds, seconds > 0 ? duration / seconds : 0.0);
    // Nothing is saved by this command yet: the working copy goes.
    doc.DeleteContents();
    return kExitOk;
}

}  // namespace

int RunCli(int argc, char** argv)
{
    Args args;
    if (std::optional<int> done = Parse(argc, argv, args)) return *done;

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    std::unique_ptr<ISettingsStore> settings;
    if (args.noSettings)
        settings = std::make_unique<CMemorySettings>();
    else
        settings = std::make_unique<CQtSettingsStore>();
    std::unique_ptr<CTerminalInteraction> ui = MakeInteraction(args);
    CQuillon3Doc doc(*settings, *ui);
    try {
        if (args.command == "info") return RunInfo(doc, args);
        return RunProcess(doc, args);
    } catch (const std::exception& e) {
        std::cerr << "kelvane-cli: internal error: " << e.what() << "\n";
        doc.DeleteContents();
        return kExitFailed;
    }
}

}  // namespace kelvane
