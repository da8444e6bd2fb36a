#include "CliApp.h"

#include "cli/Report.h"
#include "cli/ReportFile.h"
#include "cli/TerminalInteraction.h"
#include "cli/TerminalText.h"
#include "tracks/CTrackFinder.h"
#include "tracks/CTrackProperties.h"
#include "tracks/TrackTimes.h"
#include "document/CQuillon3Doc.h"
#include "document/CImporter.h"
#include "document/DocumentOpen.h"
#include "document/ScratchFiles.h"
#include "document/StatusTexts.h"
#include "operations/ProcessRecording.h"
#include "output/CTrackExporter.h"
#include "output/EncoderLevels.h"
#include "output/EncoderList.h"
#include "output/NamingRules.h"
#include "output/OutputNames.h"
#include "output/SaveTracks.h"
#include "tracks/FadeLaw.h"
#include "tracks/SectorGrid.h"
#include "tracks/TrackRefresh.h"
#include "settings/QtSettingsStore.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstring>
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
    "  process FILE [options]    import FILE, find and correct its clicks\n"
    "      --sensitivity 0..5    click detection sensitivity (0: no click scan)\n"
    "      --mode differential|per-channel\n"
    "                            click detection mode\n"
    "      --discriminator 0..3  music/noise discriminator strength\n"
    "      --agc 0..3            reduce sensitivity with increasing volume\n"
    "      --min-magnitude 0..10 smallest click magnitude corrected\n"
    "      --width normal|narrow correction width\n"
    "      --no-split            do not divide the side into tracks\n"
    "      --tracks N            divide it into N tracks (2 to 30) instead of finding them\n"
    "      --gapless             track boundaries without gaps\n"
    "      --fade linear|log     the shape of the fades\n"
    "      --pre-silence S, --fade-in S, --fade-out S, --post-silence S\n"
    "                            timings in seconds for every track\n"
    "      --album TEXT, --artist TEXT, --genre TEXT\n"
    "                            texts for every track\n"
    "      --title N=TEXT        the title of track N (repeatable)\n"
    "      --events-json OUT     write the report of the processed recording to OUT\n"
    "      --corrected OUT.wav   write the corrected recording (a complete WAV) to OUT.wav\n"
    "                            (either may be - for standard output, a FIFO or a device)\n"
    "      --out DIR             save the tracks into DIR (made if missing); without it no track is saved\n"
    "      --format F            the format of the saved tracks: wav, flac (default), ogg, ape, or\n"
    "                            external:PROGRAM to hand each track as a WAV to a command-line encoder\n"
    "                            (PROGRAM a path, or a name found among the known encoders or in PATH)\n"
    "      --encoder-command T   the external encoder's command line: %IN the WAV, %OUT the output,\n"
    "                            %A artist, %T title, %L album, %G genre, %N number (each one argument)\n"
    "      --encoder-ext EXT     the extension of the external encoder's files\n"
    "      --rule RULE           the naming rule (default INPUTcor#: INPUT the input's name, # the number)\n"
    "      --start-number N      the number of the first saved track (default 1)\n"
    "      --no-consecutive      number the tracks by their place, not by the order saved\n"
    "      --select LIST         the tracks to save, such as 1,3-5 (default all)\n"
    "      --normalise DB        bring the peak of each track to DB (-30 to 0)\n"
    "      --scale DB            change the level of each track by DB (-30 to 10)\n"
    "      --flac-level INDEX    FLAC compression: the place in the Compression Settings list, 0 first\n"
    "      --ogg-quality INDEX   Ogg Vorbis quality: the place in the Compression Settings list, 0 first\n"
    "      --ape-level INDEX     Monkey's Audio compression: the place in the Compression Settings list\n"
    "      --overwrite           replace saved tracks that exist already (otherwise: exit 1)\n"
    "      --close               save and close: the working copy is consumed, and a saved track\n"
    "                            named like the input replaces the input once all is saved\n"
    "    Scan settings not given here come from the settings store.\n"
    "\n"
    "Global options:\n"
    "  --no-settings   use the default settings and touch no settings store\n"
    "  --quiet         no progress display\n"
    "  --accept-damaged\n"
    "                  import a damaged FLAC file anyway (its bad frames as the decoder gives them)\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 refused input or bad arguments, 130 interrupted.\n";

bool ParseInt(const std::string& text, int lo, int hi, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

struct Args {
    bool noSettings = false;
    bool quiet = false;
    bool json = false;
    std::string command;
    std::string file;
    std::optional<std::string> eventsJson;
    std::optional<std::string> corrected;
    std::optional<int> sensitivity, mode, discriminator, agc, minMagnitude, corWidth;
    bool noSplit = false;
    bool gapless = false;
    std::optional<int> tracks;
    std::optional<int> fadeLinear;
    std::array<std::optional<std::string>, 4> timings;  // pre-silence, fade-in, fade-out, post-silence
    std::optional<std::string> album, artist, genre;
    std::map<int, std::string> titles;
    // Saving the tracks.
    std::optional<std::string> outDir;
    int fileType = kFileTypeFlac;
    std::optional<std::string> unavailableFormat;  // accepted, but not written by this version
    std::string rule = kDefaultNamingRule;
    int startNumber = 1;
    bool startNumberGiven = false;
    bool consecutive = true;
    std::vector<std::pair<int, int>> select;  // inclusive ranges of track numbers; empty: all
    std::optional<double> normaliseDb, scaleDb;
    std::optional<int> flacLevel, oggQuality, apeLevel;
    std::optional<std::string> externalProgram;
    std::optional<std::string> encoderCommand, encoderExt;
    bool overwrite = false;
    bool close = false;
    bool acceptDamaged = false;
};

// "1,3-5": track numbers and ranges of them, each from 1 up.
bool ParseSelection(const std::string& text, std::vector<std::pair<int, int>>& out)
{
    out.clear();
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const size_t dash = item.find('-');
        int lo = 0, hi = 0;
        if (dash == std::string::npos) {
            if (!ParseInt(item, 1, 9999, lo)) return false;
            hi = lo;
        } else if (!ParseInt(item.substr(0, dash), 1, 9999, lo) || !ParseInt(item.substr(dash + 1), 1, 9999, hi) ||
                   hi < lo) {
            return false;
        }
        out.emplace_back(lo, hi);
        at = comma + 1;
    }
    return !out.empty();
}

// A level in decibels within lo..hi.
bool ParseDb(const std::string& text, double lo, double hi, double& out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < lo || v > hi) return false;
    out = v;
    return true;
}

// A typed number of seconds: digits with an optional decimal point, not negative.
bool ValidSeconds(const std::string& text)
{
    if (text.empty() || text.size() > 12) return false;
    bool point = false, digit = false;
    for (char c : text) {
        if (c == '.' && !point) point = true;
        else if (c >= '0' && c <= '9') digit = true;
        else return false;
    }
    return digit;
}

int Usage(const std::string& problem)
{
    std::cerr << "kelvane-cli: " << Printable(problem) << "\n\n" << kUsage;
    return kExitRefused;
}

// Returns an exit status when the arguments end the run, nullopt to go on.
std::optional<int> Parse(int argc, char** argv, Args& args)
{
    std::vector<std::string> rest;
    std::string processOption;  // the first option that only process takes
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (processOption.empty() &&
            (a == "--events-json" || a == "--corrected" || a == "--sensitivity" || a == "--mode" ||
             a == "--discriminator" || a == "--agc" || a == "--min-magnitude" || a == "--width" ||
             a == "--no-split" || a == "--tracks" || a == "--gapless" || a == "--fade" || a == "--pre-silence" ||
             a == "--fade-in" || a == "--fade-out" || a == "--post-silence" || a == "--album" || a == "--artist" ||
             a == "--genre" || a == "--title" || a == "--out" || a == "--format" || a == "--rule" ||
             a == "--start-number" || a == "--no-consecutive" || a == "--select" || a == "--normalise" ||
             a == "--scale" || a == "--flac-level" || a == "--ogg-quality" || a == "--overwrite" ||
             a == "--ape-level" || a == "--close" || a == "--encoder-command" || a == "--encoder-ext"))
            processOption = a;
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
        } else if (a == "--accept-damaged") {
            args.acceptDamaged = true;
        } else if (a == "--json") {
            args.json = true;
        } else if (a == "--events-json") {
            if (!value(args.eventsJson)) return Usage("--events-json needs a file name");
        } else if (a == "--corrected") {
            if (!value(args.corrected)) return Usage("--corrected needs a file name");
        } else if (a == "--sensitivity" || a == "--discriminator" || a == "--agc" || a == "--min-magnitude") {
            std::optional<std::string> text;
            const int hi = a == "--sensitivity" ? 5 : a == "--min-magnitude" ? 10 : 3;
            int v = 0;
            if (!value(text) || !ParseInt(*text, 0, hi, v))
                return Usage(a + " needs a whole number from 0 to " + std::to_string(hi));
            (a == "--sensitivity" ? args.sensitivity : a == "--discriminator" ? args.discriminator
                                                   : a == "--agc"           ? args.agc
                                                                            : args.minMagnitude) = v;
        } else if (a == "--fade") {
            std::optional<std::string> text;
            if (!value(text) || (*text != "linear" && *text != "log")) return Usage("--fade needs linear or log");
            args.fadeLinear = *text == "linear" ? 1 : 0;
        } else if (a == "--pre-silence" || a == "--fade-in" || a == "--fade-out" || a == "--post-silence") {
            const int k = a == "--pre-silence" ? 0 : a == "--fade-in" ? 1 : a == "--fade-out" ? 2 : 3;
            if (!value(args.timings[k]) || !ValidSeconds(*args.timings[k]))
                return Usage(a + " needs a number of seconds such as 2.5");
        } else if (a == "--album" || a == "--artist" || a == "--genre") {
            std::optional<std::string>& into = a == "--album" ? args.album : a == "--artist" ? args.artist : args.genre;
            if (!value(into)) return Usage(a + " needs a text");
        } else if (a == "--title") {
            std::optional<std::string> text;
            const size_t eq = value(text) ? text->find('=') : std::string::npos;
            int n = 0;
            if (eq == std::string::npos || !ParseInt(text->substr(0, eq), 1, 9999, n))
                return Usage("--title needs N=TEXT with a track number N");
            args.titles[n] = text->substr(eq + 1);
        } else if (a == "--no-split") {
            args.noSplit = true;
        } else if (a == "--gapless") {
            args.gapless = true;
        } else if (a == "--tracks") {
            std::optional<std::string> text;
            int v = 0;
            if (!value(text) || !ParseInt(*text, 2, 30, v)) return Usage("--tracks needs a whole number from 2 to 30");
            args.tracks = v;
        } else if (a == "--mode") {
            std::optional<std::string> text;
            if (!value(text) || (*text != "differential" && *text != "per-channel"))
                return Usage("--mode needs differential or per-channel");
            args.mode = *text == "differential" ? settings::kModeDifferential : settings::kModePerChannel;
        } else if (a == "--width") {
            std::optional<std::string> text;
            if (!value(text) || (*text != "normal" && *text != "narrow"))
                return Usage("--width needs normal or narrow");
            args.corWidth = *text == "narrow" ? settings::kCorWidthNarrow : settings::kCorWidthNormal;
        } else if (a == "--out") {
            if (!value(args.outDir) || args.outDir->empty()) return Usage("--out needs a folder");
        } else if (a == "--format") {
            std::optional<std::string> text;
            if (!value(text)) return Usage("--format needs wav, flac, ogg, ape or external:PROGRAM");
            args.unavailableFormat.reset();
            args.externalProgram.reset();
            if (*text == "wav") args.fileType = kFileTypeWav;
            else if (*text == "flac") args.fileType = kFileTypeFlac;
            else if (*text == "ogg") args.fileType = kFileTypeOgg;
            else if (*text == "ape") args.unavailableFormat = *text;
            else if (text->rfind("external:", 0) == 0 && text->size() > 9) {
                args.fileType = kFileTypeWav;
                args.externalProgram = text->substr(9);
            } else
                return Usage("--format needs wav, flac, ogg, ape or external:PROGRAM");
        } else if (a == "--encoder-command") {
            if (!value(args.encoderCommand)) return Usage("--encoder-command needs a command line");
        } else if (a == "--encoder-ext") {
            if (!value(args.encoderExt) || args.encoderExt->empty() ||
                args.encoderExt->find_first_of("/\\") != std::string::npos)
                return Usage("--encoder-ext needs an extension such as mp3");
            if ((*args.encoderExt)[0] == '.') args.encoderExt->erase(0, 1);
        } else if (a == "--close") {
            args.close = true;
        } else if (a == "--rule") {
            std::optional<std::string> text;
            if (!value(text) || text->empty()) return Usage("--rule needs a naming rule such as INPUTcor#");
            args.rule = *text;
        } else if (a == "--start-number") {
            std::optional<std::string> text;
            if (!value(text) || !ParseInt(*text, 1, 9999, args.startNumber))
                return Usage("--start-number needs a whole number from 1 to 9999");
            args.startNumberGiven = true;
        } else if (a == "--no-consecutive") {
            args.consecutive = false;
        } else if (a == "--select") {
            std::optional<std::string> text;
            if (!value(text) || !ParseSelection(*text, args.select))
                return Usage("--select needs track numbers such as 1,3-5");
        } else if (a == "--normalise" || a == "--scale") {
            std::optional<std::string> text;
            const bool norm = a == "--normalise";
            double db = 0.0;
            if (!value(text) || !ParseDb(*text, -30.0, norm ? 0.0 : 10.0, db))
                return Usage(a + (norm ? " needs a level in dB from -30 to 0" : " needs a level in dB from -30 to 10"));
            (norm ? args.normaliseDb : args.scaleDb) = db;
        } else if (a == "--flac-level" || a == "--ogg-quality" || a == "--ape-level") {
            std::optional<std::string> text;
            const bool flac = a == "--flac-level", ogg = a == "--ogg-quality";
            const int hi = static_cast<int>(flac ? FlacLevels().size()
                                            : ogg ? OggQualities().size()
                                                  : ApeLevels().size()) - 1;
            int v = 0;
            if (!value(text) || !ParseInt(*text, 0, hi, v))
                return Usage(a + " needs a whole number from 0 to " + std::to_string(hi));
            (flac ? args.flacLevel : ogg ? args.oggQuality : args.apeLevel) = v;
        } else if (a == "--overwrite") {
            args.overwrite = true;
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
    if (args.command == "info" && !processOption.empty()) return Usage(processOption + " belongs to process");
    if (args.command == "process" && args.json) return Usage("--json belongs to info");
    if (args.normaliseDb && args.scaleDb) return Usage("--normalise and --scale cannot be used together");
    if ((args.encoderCommand || args.encoderExt) && !args.externalProgram)
        return Usage("--encoder-command and --encoder-ext belong to --format external:PROGRAM");
    if (args.close && !args.outDir) return Usage("--close needs --out");
    return std::nullopt;
}

int ExitFor(const OpResult& r)
{
    switch (r.kind) {
    case FailKind::None: return kExitOk;
    case FailKind::BadInput: return kExitRefused;
    case FailKind::Cancelled:
    case FailKind::Declined: return g_interrupted ? kExitInterrupted : kExitFailed;
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
    const bool overwrite = args.overwrite;
    o.policy = [overwrite](std::string_view text, MbButtons buttons) -> std::optional<MbAnswer> {
        // The save lists the existing files after its question, so the text
        // is matched by its start. Replacing them is only ever done on the
        // user's word, and never while being stopped.
        if (text.rfind(kConfirmSaveText, 0) == 0) return overwrite && !g_interrupted ? MbAnswer::Yes : MbAnswer::No;
        if (!g_interrupted) return std::nullopt;
        if (buttons == MbButtons::YesNoCancel) return MbAnswer::No;
        if (buttons == MbButtons::YesNo) return MbAnswer::Yes;
        return std::nullopt;
    };
    return std::make_unique<CTerminalInteraction>(std::move(o));
}

// Scratch files that runs which have ended left behind (killed, crashed, a
// power cut) in the folders this run uses: removed before they fill the disk.
void ReclaimScratchFiles(CQuillon3Doc& doc, const Args& args)
{
    namespace fs = std::filesystem;
    std::vector<std::string> folders{fs::path(args.file).parent_path().string(),
                                     CImporter::ScratchFolder(args.file, doc.Settings().Get(settings::TempMode),
                                                              doc.Settings().Get(settings::TempPath))};
    if (args.outDir) folders.push_back(*args.outDir);
    for (std::string& f : folders)
        if (f.empty()) f = ".";
    std::vector<std::string> done;
    for (const std::string& folder : folders) {
        std::error_code ec;
        const bool seen = std::any_of(done.begin(), done.end(),
                                      [&](const std::string& d) { return fs::equivalent(d, folder, ec); });
        if (seen || !fs::is_directory(folder, ec)) continue;
        done.push_back(folder);
        for (const std::string& path : ReclaimDeadScratchFiles(folder))
            std::cerr << "kelvane-cli: removed " << path << ", a scratch file left by a run that has ended\n";
    }
}

// Imports the input as the command line asks.
OpResult OpenInput(CQuillon3Doc& doc, const Args& args)
{
    ReclaimScratchFiles(doc, args);
    CImporter importer(doc);
    importer.SetAcceptDamaged(args.acceptDamaged);
    OpResult r = OpenRecording(doc, args.file, &importer);
    if (r.damaged) std::cerr << "kelvane-cli: --accept-damaged imports it anyway, with its bad frames as decoded\n";
    return r;
}

int RunInfo(CQuillon3Doc& doc, const Args& args)
{
    const OpResult r = OpenInput(doc, args);
    if (!r.Ok()) return ExitFor(r);
    if (args.json) {
        WriteInfoJson(std::cout, doc);
    } else {
        static const char* kinds[] = {"WAV", "Monkey's Audio", "FLAC", "merged WAV files", "mono WAV widened to stereo"};
        // Tags and names come from files: shown, never obeyed by the terminal.
        std::printf("File:           %s\n", Printable(args.file).c_str());
        std::printf("Source kind:    %d (%s)\n", doc.sourceKind, kinds[doc.sourceKind]);
        std::printf("Sample rate:    %d Hz\n", doc.sampleRate);
        std::printf("Bits:           %d\n", doc.bitsPerSample);
        std::printf("dataStart:      %d\n", doc.dataStart);
        std::printf("dataEnd:        %d\n", doc.dataEnd);
        std::printf("dataAlign:      %d\n", doc.dataAlign);
        std::printf("trailerBytes:   %d\n", doc.trailerBytes);
        std::printf("Duration:       %.3f s\n", DurationSeconds(doc));
        std::printf("Title:          %s\n", Printable(doc.inputTags.title).c_str());
        std::printf("Artist:         %s\n", Printable(doc.inputTags.artist).c_str());
        std::printf("Album:          %s\n", Printable(doc.inputTags.album).c_str());
        std::printf("Genre:          %s\n", Printable(doc.inputTags.genre).c_str());
        std::printf("Track:          %s\n", Printable(doc.inputTrackNumber).c_str());
    }
    doc.DeleteContents();
    return kExitOk;
}

// True when `out` names the input or another file the run must not replace.
bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec) && !ec;
}

// Scratch file names and the lock files that guard them.
std::vector<std::string> WithLockFiles(std::vector<std::string> names)
{
    const size_t count = names.size();
    for (size_t i = 0; i < count; ++i)
        if (!names[i].empty()) names.push_back(names[i] + kScratchLockSuffix);
    return names;
}

// The scratch files the import will make for the input, under the names it
// gives them when those are free: the decoded copy of a FLAC or APE input,
// and the working copy. Whether a WAV input is mono, and so gets a decoded
// copy too, is only known once it is read; ScratchFileTaken covers that.
std::vector<std::string> PredictedScratchFiles(CQuillon3Doc& doc, const Args& args)
{
    namespace fs = std::filesystem;
    const int tempMode = doc.Settings().Get(settings::TempMode);
    const std::string tempPath = doc.Settings().Get(settings::TempPath);
    std::vector<std::string> names;
    std::string source = args.file;
    const size_t extension = PathTail(args.file, 5) == ".flac" ? 5 : PathTail(args.file, 4) == ".ape" ? 4 : 0;
    if (extension != 0) {
        // The decoded copy goes where the working copy goes.
        const fs::path folder = fs::path(CImporter::WorkingFilePath(args.file, tempMode, tempPath)).parent_path();
        source = (folder / ReplaceTail(fs::path(args.file).filename().string(), extension, ".tmp")).string();
        names.push_back(source);
    }
    names.push_back(CImporter::WorkingFilePath(source, tempMode, tempPath));
    return WithLockFiles(names);
}

// A report written under a scratch file's name would be deleted with it when
// the run ends (or be renamed over the open working copy), so such a name is
// refused: before the import by the names it will choose, and after it by
// the files it did make.
std::optional<std::string> ScratchFileTaken(const ReportTarget& target, const std::vector<std::string>& scratch)
{
    namespace fs = std::filesystem;
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

int RefuseScratchName(const ReportTarget& target, const std::string& scratch)
{
    std::cerr << "kelvane-cli: " << Printable(target.given) << " is the name of this run's scratch file "
              << Printable(scratch) << "; give another name\n";
    return kExitRefused;
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
bool ApplyTrackTexts(CQuillon3Doc& doc, const Args& args)
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

// The files the "Confirm Save" box listed as existing ("* path" lines).
std::vector<std::string> ExistingOutputs(IInteraction& ui)
{
    std::vector<std::string> paths;
    const auto* terminal = dynamic_cast<const CTerminalInteraction*>(&ui);
    if (!terminal) return paths;
    const auto& shown = terminal->Messages();
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
        if (it->text.rfind(kConfirmSaveText, 0) != 0) continue;
        std::string_view rest(it->text);
        rest.remove_prefix(std::string_view(kConfirmSaveText).size());
        while (!rest.empty()) {
            const size_t end = std::min(rest.find('\n'), rest.size());
            const std::string_view line = rest.substr(0, end);
            if (line.rfind("* ", 0) == 0) paths.emplace_back(line.substr(2));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
        break;
    }
    return paths;
}

// Saves the chosen tracks of the processed recording into --out through the
// same command the save dialog runs, so every check it makes (the input is
// never an output, no two tracks onto one file, free space) holds here too.
int SaveChosenTracks(CQuillon3Doc& doc, const Args& args, const EncoderEntry& encoder)
{
    namespace fs = std::filesystem;
    const int32_t count = doc.TrackCount();
    for (const auto& [lo, hi] : args.select) {
        if (hi > count) {
            std::cerr << "kelvane-cli: --select names track " << hi << " but the recording has " << count
                      << (count == 1 ? " track\n" : " tracks\n");
            return kExitRefused;
        }
    }
    std::error_code ec;
    const std::string& dir = *args.outDir;
    const bool existed = fs::exists(dir, ec);
    if (existed && !fs::is_directory(dir, ec)) {
        std::cerr << "kelvane-cli: --out " << Printable(dir) << ": " << std::strerror(ENOTDIR) << "\n";
        return kExitRefused;
    }
    if (!existed && (!fs::create_directories(dir, ec) || ec)) {
        std::cerr << "kelvane-cli: cannot create the folder " << Printable(dir) << ": " << ec.message() << "\n";
        return kExitFailed;
    }

    SaveRequest request;
    request.selected.assign(static_cast<size_t>(count), args.select.empty());
    for (const auto& [lo, hi] : args.select)
        for (int n = lo; n <= hi; ++n) request.selected[static_cast<size_t>(n - 1)] = true;
    request.startNumber = args.startNumber;
    request.consecutive = args.consecutive;
    // A single track keeps the input's own number unless --start-number asks
    // for another; without a number from the input it is numbered from the
    // start value, as the dialog starts.
    request.renumberSingle = args.startNumberGiven || RenumberSingleByDefault(doc);
    request.folder = dir.back() == '/' ? dir : dir + "/";
    request.rule = args.rule;
    ExportOptions& o = request.options;
    o.fileType = args.fileType;
    o.flacLevelIndex = args.flacLevel.value_or(StoredFlacLevelIndex(doc.Settings()));
    o.oggQualityIndex = args.oggQuality.value_or(StoredOggQualityIndex(doc.Settings()));
    o.normalise = args.normaliseDb.has_value();
    o.scale = args.scaleDb.has_value();
    o.gainDb = args.normaliseDb ? *args.normaliseDb : args.scaleDb.value_or(0.0);
    o.apeLevelIndex = args.apeLevel.value_or(StoredApeLevelIndex(doc.Settings()));
    o.fade = FadeLaw::FromSetting(doc.Settings().Get(settings::FadeLinear)).Shape();
    if (args.externalProgram) {
        o.external = true;
        o.encoderPath = encoder.path;
        o.parameters = encoder.command;
        request.encoderExtension = encoder.ext;
    }
    request.close = args.close;

    // The whole side as one track when it was not divided: the batch
    // counterpart of removing all track boundaries before saving.
    if (doc.TrackCount() == 0) {
        TrackRecord whole = doc.tracks[0];
        whole.start = FirstAllowedStart(doc);
        doc.tracks.Add(whole);
        RefreshTracks(doc);
        request.selected.assign(1, true);
    }

    const SaveOutcome outcome = SaveTracks(doc, request);
    for (const std::string& path : outcome.written) std::printf("Wrote %s\n", Printable(path).c_str());
    if (outcome.handedOver) std::printf("The working copy became %s (nothing copied)\n", Printable(outcome.written.front()).c_str());
    if (outcome.replacedInput) std::printf("Replaced %s\n", Printable(args.file).c_str());
    std::fflush(stdout);
    if (!existed && outcome.written.empty()) fs::remove(dir, ec);  // only if still empty
    switch (outcome.result) {
    case SaveResult::Saved: return kExitOk;
    case SaveResult::Refused: return kExitRefused;
    case SaveResult::Declined: {
        std::string names;
        for (const std::string& p : ExistingOutputs(doc.Ui())) names += (names.empty() ? "" : ", ") + p;
        std::cerr << "kelvane-cli: not saved, since these files exist already: " << Printable(names)
                  << "\n(--overwrite replaces them)\n";
        return g_interrupted ? kExitInterrupted : kExitFailed;
    }
    case SaveResult::ClosedInputKept:
        std::cerr << "kelvane-cli: saved and closed, but the input " << Printable(args.file)
                  << " was kept as it was; the new file was kept as " << Printable(outcome.keptAs) << "\n";
        return kExitFailed;
    case SaveResult::Cancelled:
    case SaveResult::NoSpace:
    case SaveResult::OutputFailed: break;
    }
    for (const std::string& path : outcome.notWritten) std::cerr << "kelvane-cli: not written: " << Printable(path) << "\n";
    if (outcome.result == SaveResult::Cancelled) {
        std::cerr << "kelvane-cli: the save was stopped\n";
        return g_interrupted ? kExitInterrupted : kExitFailed;
    }
    std::cerr << "kelvane-cli: the tracks were not all saved\n";
    return kExitFailed;
}

// The external encoder of --format external:PROGRAM: its program file, its
// command line and its extension. PROGRAM is a path, or a name looked up as
// the program does at start (the encoder list, its search folder and PATH),
// then as any program in PATH. The command line and extension come from the
// options, else from the encoder's entry or the known-encoder table.
std::optional<int> ResolveEncoder(CQuillon3Doc& doc, const Args& args, EncoderEntry& out)
{
    const std::string& program = *args.externalProgram;
    const char* pathVariable = std::getenv("PATH");
    std::optional<EncoderEntry> entry;
    if (program.find('/') != std::string::npos) {
        if (!IsExecutableProgram(program)) {
            std::cerr << "kelvane-cli: the encoder " << Printable(program) << " is not a program that can be run\n";
            return kExitRefused;
        }
        entry = EncoderEntry{program, "", ""};
    } else {
        const std::vector<EncoderEntry> list =
            args.noSettings ? [&] {
                std::vector<EncoderEntry> found;
                SearchPathFolders(found, pathVariable);
                return found;
            }()
                            : RefreshEncoderList(doc.Settings(), nullptr, pathVariable);
        for (const EncoderEntry& e : list)
            if (ProgramKey(e.path) == ProgramKey(program)) entry = e;
        if (!entry) {
            if (const std::string found = FindProgramInPath(program, pathVariable); !found.empty())
                entry = EncoderEntry{found, "", ""};
        }
        if (!entry) {
            std::cerr << "kelvane-cli: no encoder " << Printable(program) << " was found (give its path, or put it in PATH)\n";
            return kExitRefused;
        }
    }
    out = *entry;
    const KnownEncoder* known = FindKnownEncoder(out.path);
    // The command line last chosen for this encoder is its current one.
    const std::string stored = doc.Settings().Get(settings::Parameters);
    if (args.encoderCommand) out.command = *args.encoderCommand;
    else if (!args.noSettings && ProgramKey(doc.Settings().Get(settings::Encoder)) == ProgramKey(out.path) &&
             ValidCommandLine(stored))
        out.command = stored;
    else if (out.command.empty() && known) out.command = known->command;
    if (args.encoderExt) out.ext = *args.encoderExt;
    else if (out.ext.empty() && known) out.ext = known->ext;
    if (out.command.empty()) {
        std::cerr << "kelvane-cli: " << Printable(out.path) << " is not a known encoder: give its command line with --encoder-command\n";
        return kExitRefused;
    }
    if (!ValidCommandLine(out.command)) {
        std::cerr << "kelvane-cli: " << kInvalidParameters << " The command line must hold %IN\n";
        return kExitRefused;
    }
    if (out.ext.empty()) {
        std::cerr << "kelvane-cli: " << Printable(out.path) << " is not a known encoder: give its extension with --encoder-ext\n";
        return kExitRefused;
    }
    return std::nullopt;
}

int RunProcess(CQuillon3Doc& doc, const Args& args)
{
    // Refused before the scan, so nobody waits for a run that cannot end well.
    if (args.unavailableFormat) {
        std::cerr << "kelvane-cli: --format " << *args.unavailableFormat
                  << " is not available yet; use wav, flac, ogg or external:PROGRAM\n";
        return kExitFailed;
    }
    EncoderEntry encoder;
    if (args.externalProgram) {
        if (std::optional<int> refused = ResolveEncoder(doc, args, encoder)) return *refused;
    }
    for (const auto* out : {&args.eventsJson, &args.corrected}) {
        if (*out && SameFile(**out, args.file)) {
            std::cerr << "kelvane-cli: " << Printable(**out) << " is the input recording; it is never written\n";
            return kExitRefused;
        }
    }
    if (args.eventsJson && args.corrected && SameFile(*args.eventsJson, *args.corrected)) {
        std::cerr << "kelvane-cli: --events-json and --corrected name the same file\n";
        return kExitRefused;
    }
    // Where the report and the corrected recording go is settled now: a name
    // that cannot be written is refused before the work, not after it.
    std::optional<ReportTarget> reportTarget, correctedTarget;
    const std::vector<std::string> predictedScratch = PredictedScratchFiles(doc, args);
    for (auto [given, target] : {std::pair{&args.eventsJson, &reportTarget}, std::pair{&args.corrected, &correctedTarget}}) {
        if (!*given) continue;
        std::string refusal;
        *target = PlanReportTarget(**given, refusal);
        if (!*target) {
            std::cerr << "kelvane-cli: " << Printable(refusal) << "\n";
            return kExitRefused;
        }
        if (TargetIsFile(**target, args.file)) {
            std::cerr << "kelvane-cli: " << Printable(**given) << " is the input recording; it is never written\n";
            return kExitRefused;
        }
        if (const std::optional<std::string> scratch = ScratchFileTaken(**target, predictedScratch))
            return RefuseScratchName(**target, *scratch);
    }
    if (reportTarget && correctedTarget && SameTarget(*reportTarget, *correctedTarget)) {
        std::cerr << "kelvane-cli: --events-json and --corrected name the same file\n";
        return kExitRefused;
    }
    for (std::optional<ReportTarget>* target : {&reportTarget, &correctedTarget}) {
        std::string error;
        if (*target && !TakeStandardOutput(**target, error)) {
            std::cerr << "kelvane-cli: " << Printable(error) << "\n";
            return kExitFailed;
        }
    }
    if (args.sensitivity) doc.sensitivity = *args.sensitivity;
    if (args.mode) doc.mode = *args.mode;
    if (args.discriminator) doc.discriminator = *args.discriminator;
    if (args.agc) doc.agc = *args.agc;
    if (args.minMagnitude) doc.minMagnitude = *args.minMagnitude;
    if (args.corWidth) doc.corWidth = *args.corWidth;
    if (args.noSplit && args.tracks) {
        std::cerr << "kelvane-cli: --no-split and --tracks contradict each other\n";
        return kExitRefused;
    }
    if (args.noSplit) doc.splitTracks = 0;
    if (args.tracks) doc.splitTracks = 1;
    if (args.gapless) doc.gapless = 1;
    if (args.fadeLinear) doc.Settings().Set(settings::FadeLinear, *args.fadeLinear);

    const auto started = std::chrono::steady_clock::now();
    const OpResult r = OpenInput(doc, args);
    if (!r.Ok()) return ExitFor(r);
    const std::vector<std::string> made =
        WithLockFiles({doc.workingPath, doc.sourcePath != args.file ? doc.sourcePath : std::string()});
    for (const std::optional<ReportTarget>* target : {&reportTarget, &correctedTarget}) {
        if (!*target) continue;
        if (const std::optional<std::string> scratch = ScratchFileTaken(**target, made)) {
            doc.DeleteContents();
            return RefuseScratchName(**target, *scratch);
        }
    }
    const double duration = DurationSeconds(doc);

    ProcessRequest request;
    if (args.tracks) request.trackCount = *args.tracks;
    const OpResult processed = ProcessRecording(doc, request);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!processed.Ok()) {
        doc.DeleteContents();
        return ExitFor(processed);
    }

    if (!ApplyTrackTexts(doc, args)) {
        doc.DeleteContents();
        return kExitFailed;
    }
    for (const std::optional<ReportTarget>* target : {&reportTarget, &correctedTarget}) {
        if (!*target) continue;
        std::string error;
        const auto write = [&](std::ostream& out) {
            if (target == &correctedTarget) return CopyWorkingFile(doc, out);
            WriteEventsJson(out, doc);
            return static_cast<bool>(out);
        };
        const ReportWrite written = WriteReport(**target, write, [] { return g_interrupted != 0; }, error);
        if (written == ReportWrite::Failed) std::cerr << "kelvane-cli: " << Printable(error) << "\n";
        if (written != ReportWrite::Written) {
            doc.DeleteContents();
            return written == ReportWrite::Cancelled ? kExitInterrupted : kExitFailed;
        }
    }
    std::printf("%s: %s, %d Hz, %d bits, %.1f s\n", Printable(args.file).c_str(), StatusWord(doc.status).c_str(), doc.sampleRate,
                doc.bitsPerSample, duration);
    std::printf("Clicks corrected: %d\n", doc.ClickCount());
    std::printf("Tracks: %d\n", doc.TrackCount());
    for (int32_t t = 1; t < doc.tracks.Size(); ++t) {
        const TrackRecord& tr = doc.tracks[t];
        std::printf("  %2d  %s - %s  (%s)  %s\n", t,
                    FormatMinutes((tr.start - doc.dataStart) / 4, doc.sampleRate).c_str(),
                    FormatMinutes((tr.end - doc.dataStart) / 4, doc.sampleRate).c_str(),
                    FormatMinutes((tr.end - tr.start) / 4, doc.sampleRate).c_str(), Printable(tr.title).c_str());
    }
    std::printf("Time taken: %.2f s (%.0fx real time)\n", seconds, seconds > 0 ? duration / seconds : 0.0);
    std::fflush(stdout);
    // The reports come first: "Save && Close..." consumes the working copy.
    const int saved = args.outDir ? SaveChosenTracks(doc, args, encoder) : kExitOk;
    // Nothing else is saved by this command: the working copy goes.
    doc.DeleteContents();
    return saved;
}

}  // namespace

int RunCli(int argc, char** argv)
{
    Args args;
    if (std::optional<int> done = Parse(argc, argv, args)) return *done;

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    std::unique_ptr<ISettingsStore> settings;
    CQtSettingsStore* fileStore = nullptr;
    if (args.noSettings) {
        settings = std::make_unique<CMemorySettings>();
    } else {
        auto store = std::make_unique<CQtSettingsStore>();
        fileStore = store.get();
        settings = std::move(store);
    }
    std::unique_ptr<CTerminalInteraction> ui = MakeInteraction(args);
    CQuillon3Doc doc(*settings, *ui);
    int status = kExitFailed;
    try {
        status = args.command == "info" ? RunInfo(doc, args) : RunProcess(doc, args);
    } catch (const std::exception& e) {
        std::cerr << "kelvane-cli: internal error: " << Printable(e.what()) << "\n";
        doc.DeleteContents();
        status = kExitFailed;
    }
    // What the store has to say about its file (lines it cannot read, a
    // copy kept, changes it could not save), as it stands after the run.
    if (fileStore && !fileStore->Problem().empty())
        std::cerr << "kelvane-cli: " << Printable(fileStore->Problem()) << "\n";
    return status;
}

}  // namespace kelvane
