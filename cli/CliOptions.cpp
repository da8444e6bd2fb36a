#include "CliOptions.h"

#include "cli/TerminalText.h"
#include "output/EncoderLevels.h"
#include "settings/SettingsStore.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>

namespace kelvane {

namespace {

// The commands an option belongs to, as bits.
struct Command {
    static constexpr unsigned Info = 1, Process = 2, Resample = 4, Merge = 8, Any = 15;
};

struct Option {
    std::string name;       // "--sensitivity"
    std::string value;      // what follows it in the usage ("0..5"); empty for a switch
    unsigned command;       // the Command bits; Any: a global option
    std::string help;       // its text in the usage; "\n" starts another line
    // Why the value is refused ("needs a whole number from 0 to 5"), for a
    // missing value too; check tells whether a value is good (none: any).
    std::string needs;
    std::function<bool(const std::string&)> check;
    std::function<void(CliArgs&, const std::string&)> apply;
};

bool ParseInt(const std::string& text, int lo, int hi, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

int IntOf(const std::string& text)
{
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

std::function<bool(const std::string&)> IntIn(int lo, int hi)
{
    return [lo, hi](const std::string& text) {
        int v = 0;
        return ParseInt(text, lo, hi, v);
    };
}

std::string IntRange(int lo, int hi)
{
    return "needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
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

std::function<bool(const std::string&)> DbIn(double lo, double hi)
{
    return [lo, hi](const std::string& text) {
        double v = 0;
        return ParseDb(text, lo, hi, v);
    };
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

// "START-END" in seconds, START before END.
bool ParseSpan(const std::string& text, std::pair<double, double>* out)
{
    const size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    const std::string a = text.substr(0, dash), b = text.substr(dash + 1);
    if (!ValidSeconds(a) || !ValidSeconds(b)) return false;
    const double start = std::strtod(a.c_str(), nullptr), end = std::strtod(b.c_str(), nullptr);
    if (!(start < end)) return false;
    if (out) *out = {start, end};
    return true;
}

// A point of the recording: seconds such as 12.5, or whole frames such as
// 551250f.
bool ParseTimePoint(const std::string& text, TimePoint& out)
{
    if (!text.empty() && text.back() == 'f') {
        const std::string digits = text.substr(0, text.size() - 1);
        int frames = 0;
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            !ParseInt(digits, 0, 2147483647, frames))
            return false;
        out = {static_cast<double>(frames), true};
        return true;
    }
    if (!ValidSeconds(text)) return false;
    out = {std::strtod(text.c_str(), nullptr), false};
    return true;
}

// "START-END" of the block whose corrections go: both in seconds or both
// in frames, START before END.
bool ParseBlock(const std::string& text, std::pair<TimePoint, TimePoint>* out)
{
    const size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    TimePoint a, b;
    if (!ParseTimePoint(text.substr(0, dash), a) || !ParseTimePoint(text.substr(dash + 1), b)) return false;
    if (a.frames != b.frames || !(a.value < b.value)) return false;
    if (out) *out = {a, b};
    return true;
}

// "N=TEXT" with a track number N.
bool ValidTitle(const std::string& text)
{
    const size_t eq = text.find('=');
    int n = 0;
    return eq != std::string::npos && ParseInt(text.substr(0, eq), 1, 9999, n);
}

bool OneOf(const std::string& text, std::initializer_list<const char*> words)
{
    for (const char* w : words)
        if (text == w) return true;
    return false;
}

bool ValidFormat(const std::string& text)
{
    return OneOf(text, {"wav", "flac", "ogg", "ape"}) || (text.rfind("external:", 0) == 0 && text.size() > 9);
}

int LastIndex(size_t size) { return static_cast<int>(size) - 1; }

// A switch: no value, no check.
Option Switch(std::string name, unsigned command, std::string help, void (*set)(CliArgs&))
{
    return {std::move(name), "", command, std::move(help), "", nullptr,
            [set](CliArgs& a, const std::string&) { set(a); }};
}

const std::vector<Option>& Options()
{
    using C = Command;
    const int flacHi = LastIndex(FlacLevels().size()), oggHi = LastIndex(OggQualities().size()),
              apeHi = LastIndex(ApeLevels().size());
    static const std::vector<Option> options = {
        Switch("--json", C::Info, "describe it in JSON", [](CliArgs& a) { a.json = true; }),

        {"--sensitivity", "0..5", C::Process, "click detection sensitivity (0: no click scan)", IntRange(0, 5),
         IntIn(0, 5), [](CliArgs& a, const std::string& v) { a.process.sensitivity = IntOf(v); }},
        {"--mode", "differential|per-channel", C::Process, "click detection mode", "needs differential or per-channel",
         [](const std::string& v) { return OneOf(v, {"differential", "per-channel"}); },
         [](CliArgs& a, const std::string& v) {
             a.process.mode = v == "differential" ? settings::kModeDifferential : settings::kModePerChannel;
         }},
        {"--discriminator", "0..3", C::Process, "music/noise discriminator strength", IntRange(0, 3), IntIn(0, 3),
         [](CliArgs& a, const std::string& v) { a.process.discriminator = IntOf(v); }},
        {"--agc", "0..3", C::Process, "reduce sensitivity with increasing volume", IntRange(0, 3), IntIn(0, 3),
         [](CliArgs& a, const std::string& v) { a.process.agc = IntOf(v); }},
        {"--min-magnitude", "0..10", C::Process, "smallest click magnitude corrected", IntRange(0, 10), IntIn(0, 10),
         [](CliArgs& a, const std::string& v) { a.process.minMagnitude = IntOf(v); }},
        {"--width", "normal|narrow", C::Process, "correction width", "needs normal or narrow",
         [](const std::string& v) { return OneOf(v, {"normal", "narrow"}); },
         [](CliArgs& a, const std::string& v) {
             a.process.corWidth = v == "narrow" ? settings::kCorWidthNarrow : settings::kCorWidthNormal;
         }},
        {"--source", "vinyl|tape", C::Process, "the kind of recording: a tape gets the hiss filter, not the click scan",
         "needs vinyl or tape", [](const std::string& v) { return OneOf(v, {"vinyl", "tape"}); },
         [](CliArgs& a, const std::string& v) {
             a.process.source = v == "tape" ? settings::kSourceTape : settings::kSourceVinyl;
         }},
        {"--subtractor", "0..3", C::Process, "the hiss strength of a tape (0: no hiss filter)", IntRange(0, 3),
         IntIn(0, 3), [](CliArgs& a, const std::string& v) { a.process.subtractor = IntOf(v); }},
        {"--profile", "START-END", C::Process,
         "take the noise profile from START to END seconds (noise only)\n"
         "instead of looking for a quiet stretch",
         "needs START-END in seconds such as 0.5-2.5, START before END",
         [](const std::string& v) { return ParseSpan(v, nullptr); },
         [](CliArgs& a, const std::string& v) {
             std::pair<double, double> span;
             ParseSpan(v, &span);
             a.profile = span;
         }},
        {"--hiss", "0..3", C::Process, "then apply the hiss filter at this strength (0: none; 3: 20 dB)",
         IntRange(0, 3), IntIn(0, 3), [](CliArgs& a, const std::string& v) { a.hiss = IntOf(v); }},
        Switch("--remove-hiss", C::Process, "then remove the hiss filter: the unfiltered recording, corrected again",
               [](CliArgs& a) { a.removeHiss = true; }),
        Switch("--rescan", C::Process,
               "then re-scan the whole file for clicks: every correction but the user's goes\n"
               "and the scan runs again with the --rescan-... values",
               [](CliArgs& a) { a.rescan = true; }),
        {"--super-scan", "N", C::Process,
         "then super-scan the whole file: N further scans (1 to 20) with the --rescan-... values,\n"
         "each adding its corrections on top of those there",
         IntRange(1, 20), IntIn(1, 20), [](CliArgs& a, const std::string& v) { a.superScan = IntOf(v); }},
        {"--rescan-sensitivity", "0..5", C::Process, "the re-scan's sensitivity (default: the load scan's)",
         IntRange(0, 5), IntIn(0, 5),
         [](CliArgs& a, const std::string& v) {
             a.scanOptions.sensitivity = IntOf(v);
             a.scanOptionGiven = true;
         }},
        {"--rescan-mode", "differential|per-channel", C::Process, "the re-scan's click detection mode",
         "needs differential or per-channel", [](const std::string& v) { return OneOf(v, {"differential", "per-channel"}); },
         [](CliArgs& a, const std::string& v) {
             a.scanOptions.mode = v == "differential" ? settings::kModeDifferential : settings::kModePerChannel;
             a.scanOptionGiven = true;
         }},
        {"--rescan-discriminator", "0..3", C::Process, "the re-scan's music/noise discriminator", IntRange(0, 3),
         IntIn(0, 3),
         [](CliArgs& a, const std::string& v) {
             a.scanOptions.discriminator = IntOf(v);
             a.scanOptionGiven = true;
         }},
        {"--rescan-agc", "0..3", C::Process, "the re-scan's AGC", IntRange(0, 3), IntIn(0, 3),
         [](CliArgs& a, const std::string& v) {
             a.scanOptions.agc = IntOf(v);
             a.scanOptionGiven = true;
         }},
        {"--rescan-min-magnitude", "0..10", C::Process, "the re-scan's smallest click magnitude", IntRange(0, 10),
         IntIn(0, 10),
         [](CliArgs& a, const std::string& v) {
             a.scanOptions.minMagnitude = IntOf(v);
             a.scanOptionGiven = true;
         }},
        {"--rescan-width", "normal|narrow", C::Process, "the re-scan's correction width", "needs normal or narrow",
         [](const std::string& v) { return OneOf(v, {"normal", "narrow"}); },
         [](CliArgs& a, const std::string& v) {
             a.scanOptions.corWidth = v == "narrow" ? settings::kCorWidthNarrow : settings::kCorWidthNormal;
             a.scanOptionGiven = true;
         }},
        {"--remove-corrections", "START-END", C::Process,
         "then remove the corrections from START to END (seconds, or frames as 551250f-882000f)\n"
         "and restore the original there; the user's corrections and the track boundaries stay",
         "needs START-END in seconds such as 12.5-20 or in frames such as 551250f-882000f, START before END",
         [](const std::string& v) { return ParseBlock(v, nullptr); },
         [](CliArgs& a, const std::string& v) {
             std::pair<TimePoint, TimePoint> block;
             ParseBlock(v, &block);
             a.removeCorrections = block;
         }},
        {"-o", "MERGED.wav", C::Merge, "the merged file (it stays, as the recording's source)", "needs a file name",
         [](const std::string& v) { return !v.empty(); }, [](CliArgs& a, const std::string& v) { a.file = v; }},
        Switch("--delete-inputs", C::Merge, "delete the inputs once the merged file is loaded",
               [](CliArgs& a) { a.deleteInputs = true; }),
        Switch("--no-split", C::Process, "do not divide the side into tracks", [](CliArgs& a) { a.noSplit = true; }),
        {"--tracks", "N", C::Process, "divide it into N tracks (2 to 30) instead of finding them", IntRange(2, 30),
         IntIn(2, 30), [](CliArgs& a, const std::string& v) { a.tracks = IntOf(v); }},
        Switch("--gapless", C::Process, "track boundaries without gaps", [](CliArgs& a) { a.process.gapless = 1; }),
        {"--fade", "linear|log", C::Process, "the shape of the fades", "needs linear or log",
         [](const std::string& v) { return OneOf(v, {"linear", "log"}); },
         [](CliArgs& a, const std::string& v) { a.fadeLinear = v == "linear" ? 1 : 0; }},
        {"--pre-silence", "S", C::Process, "seconds of silence before every track", "needs a number of seconds such as 2.5",
         ValidSeconds, [](CliArgs& a, const std::string& v) { a.timings[0] = v; }},
        {"--fade-in", "S", C::Process, "seconds of fade-in of every track", "needs a number of seconds such as 2.5",
         ValidSeconds, [](CliArgs& a, const std::string& v) { a.timings[1] = v; }},
        {"--fade-out", "S", C::Process, "seconds of fade-out of every track", "needs a number of seconds such as 2.5",
         ValidSeconds, [](CliArgs& a, const std::string& v) { a.timings[2] = v; }},
        {"--post-silence", "S", C::Process, "seconds of silence after every track",
         "needs a number of seconds such as 2.5", ValidSeconds,
         [](CliArgs& a, const std::string& v) { a.timings[3] = v; }},
        {"--album", "TEXT", C::Process, "the album of every track", "needs a text", nullptr,
         [](CliArgs& a, const std::string& v) { a.album = v; }},
        {"--artist", "TEXT", C::Process, "the artist of every track", "needs a text", nullptr,
         [](CliArgs& a, const std::string& v) { a.artist = v; }},
        {"--genre", "TEXT", C::Process, "the genre of every track", "needs a text", nullptr,
         [](CliArgs& a, const std::string& v) { a.genre = v; }},
        {"--title", "N=TEXT", C::Process, "the title of track N (repeatable)", "needs N=TEXT with a track number N",
         ValidTitle,
         [](CliArgs& a, const std::string& v) {
             const size_t eq = v.find('=');
             a.titles[IntOf(v.substr(0, eq))] = v.substr(eq + 1);
         }},
        {"--events-json", "OUT", C::Process, "write the report of the processed recording to OUT", "needs a file name",
         nullptr, [](CliArgs& a, const std::string& v) { a.eventsJson = v; }},
        {"--corrected", "OUT.wav", C::Process,
         "write the corrected recording (a complete WAV) to OUT.wav\n"
         "(either may be - for standard output, a FIFO or a device)",
         "needs a file name", nullptr, [](CliArgs& a, const std::string& v) { a.corrected = v; }},
        {"--out", "DIR", C::Process, "save the tracks into DIR (made if missing); without it no track is saved",
         "needs a folder", [](const std::string& v) { return !v.empty(); },
         [](CliArgs& a, const std::string& v) { a.outDir = v; }},
        {"--format", "F", C::Process,
         "the format of the saved tracks: wav, flac (default), ogg, ape (Monkey's Audio), or\n"
         "external:PROGRAM to hand each track as a WAV to a command-line encoder\n"
         "(PROGRAM a path, or a name found among the known encoders or in PATH)",
         "needs wav, flac, ogg, ape or external:PROGRAM", ValidFormat,
         [](CliArgs& a, const std::string& v) {
             a.externalProgram.reset();
             if (v.rfind("external:", 0) == 0) {
                 a.fileType = kFileTypeWav;
                 a.externalProgram = v.substr(9);
             } else {
                 a.fileType = v == "wav" ? kFileTypeWav : v == "ogg" ? kFileTypeOgg : v == "ape" ? kFileTypeApe
                                                                                                : kFileTypeFlac;
             }
         }},
        {"--encoder-command", "T", C::Process,
         "the external encoder's command line: %IN the WAV, %OUT the output,\n"
         "%A artist, %T title, %L album, %G genre, %N number (each one argument)",
         "needs a command line", nullptr, [](CliArgs& a, const std::string& v) { a.encoderCommand = v; }},
        {"--encoder-ext", "EXT", C::Process, "the extension of the external encoder's files",
         "needs an extension such as mp3",
         [](const std::string& v) { return !v.empty() && v.find_first_of("/\\") == std::string::npos; },
         [](CliArgs& a, const std::string& v) { a.encoderExt = v[0] == '.' ? v.substr(1) : v; }},
        {"--rule", "RULE", C::Process, "the naming rule (default INPUTcor#: INPUT the input's name, # the number)",
         "needs a naming rule such as INPUTcor#", [](const std::string& v) { return !v.empty(); },
         [](CliArgs& a, const std::string& v) { a.rule = v; }},
        {"--start-number", "N", C::Process, "the number of the first saved track (default 1)", IntRange(1, 9999),
         IntIn(1, 9999), [](CliArgs& a, const std::string& v) { a.startNumber = IntOf(v); }},
        Switch("--no-consecutive", C::Process, "number the tracks by their place, not by the order saved",
               [](CliArgs& a) { a.consecutive = false; }),
        {"--select", "LIST", C::Process, "the tracks to save, such as 1,3-5 (default all)",
         "needs track numbers such as 1,3-5",
         [](const std::string& v) {
             std::vector<std::pair<int, int>> ranges;
             return ParseSelection(v, ranges);
         },
         [](CliArgs& a, const std::string& v) { ParseSelection(v, a.select); }},
        {"--normalise", "DB", C::Process, "bring the peak of each track to DB (-30 to 0)",
         "needs a level in dB from -30 to 0", DbIn(-30.0, 0.0),
         [](CliArgs& a, const std::string& v) { a.normaliseDb = std::strtod(v.c_str(), nullptr); }},
        {"--scale", "DB", C::Process, "change the level of each track by DB (-30 to 10)",
         "needs a level in dB from -30 to 10", DbIn(-30.0, 10.0),
         [](CliArgs& a, const std::string& v) { a.scaleDb = std::strtod(v.c_str(), nullptr); }},
        {"--flac-level", "INDEX", C::Process,
         "FLAC compression: the place in the Compression Settings list, 0 first", IntRange(0, flacHi),
         IntIn(0, flacHi), [](CliArgs& a, const std::string& v) { a.flacLevel = IntOf(v); }},
        {"--ogg-quality", "INDEX", C::Process,
         "Ogg Vorbis quality: the place in the Compression Settings list, 0 first", IntRange(0, oggHi),
         IntIn(0, oggHi), [](CliArgs& a, const std::string& v) { a.oggQuality = IntOf(v); }},
        {"--ape-level", "INDEX", C::Process,
         "Monkey's Audio compression: the place in the Compression Settings list, 0 first", IntRange(0, apeHi),
         IntIn(0, apeHi), [](CliArgs& a, const std::string& v) { a.apeLevel = IntOf(v); }},
        {"--resample", "RATE/BITS", C::Process,
         "convert every saved track to RATE Hz and BITS (8, 16 or 24) bits, as 48000/24\n"
         "(not Ogg Vorbis, which is encoded from the recording as it is)",
         "needs RATE/BITS such as 48000/24",
         [](const std::string& v) { return ParseResampleTarget(v, nullptr, nullptr); },
         [](CliArgs& a, const std::string& v) {
             int rate = 0, bits = 0;
             ParseResampleTarget(v, &rate, &bits);
             a.resampleRate = rate;
             a.resampleBits = bits;
         }},
        {"--rate", "HZ", C::Resample, "the output's sample rate", "needs a rate in Hz such as 48000",
         IntIn(1, 1000000), [](CliArgs& a, const std::string& v) { a.resampleRate = IntOf(v); }},
        {"--bits", "8|16|24", C::Resample, "the output's bits per sample", "needs 8, 16 or 24",
         [](const std::string& v) { return OneOf(v, {"8", "16", "24"}); },
         [](CliArgs& a, const std::string& v) { a.resampleBits = IntOf(v); }},
        {"--dither", "D", C::Resample | C::Process,
         "when converting: auto, none, plain, triangular, ath or less-ath\n"
         "(the noise shaping; default: the stored choice)",
         "needs auto, none, plain, triangular, ath or less-ath",
         [](const std::string& v) { return DitherTypeFromName(v).has_value(); },
         [](CliArgs& a, const std::string& v) { a.dither = DitherTypeFromName(v); }},
        {"--pdf", "P", C::Resample | C::Process, "when converting: the dither's rectangular, triangular or gaussian PDF",
         "needs rectangular, triangular or gaussian",
         [](const std::string& v) { return DitherPdfFromName(v).has_value(); },
         [](CliArgs& a, const std::string& v) { a.ditherPdf = DitherPdfFromName(v); }},
        Switch("--two-pass", C::Resample | C::Process,
               "when converting: measure the peak first and scale so that it fits",
               [](CliArgs& a) { a.twoPass = true; }),
        Switch("--overwrite", C::Process | C::Resample,
               "replace saved tracks (or resample's OUT, merge's MERGED.wav) that exist already\n"
               "(otherwise: exit 1; an existing MERGED.wav: exit 2)",
               [](CliArgs& a) { a.overwrite = true; }),
        Switch("--allow-unknown-tags", C::Process,
               "save even when a file name holds an unknown tag (\"Unknown Title\" and the like):\n"
               "answers OK to \"File names include unknown tags. Do you want to continue?\",\n"
               "which is otherwise answered Cancel (exit 1)",
               [](CliArgs& a) { a.allowUnknownTags = true; }),
        Switch("--close", C::Process,
               "save and close: the working copy is consumed, and a saved track\n"
               "named like the input replaces the input once all is saved",
               [](CliArgs& a) { a.close = true; }),

        Switch("--no-settings", C::Any, "use the default settings and touch no settings store",
               [](CliArgs& a) { a.noSettings = true; }),
        Switch("--quiet", C::Any, "no progress display", [](CliArgs& a) { a.quiet = true; }),
        Switch("--accept-damaged", C::Any, "import a damaged FLAC file anyway (its bad frames as the decoder gives them)",
               [](CliArgs& a) { a.acceptDamaged = true; }),
        Switch("--help", C::Any, "show this text", nullptr),
        Switch("--version", C::Any, "show the version", nullptr),
    };
    return options;
}

// "process or resample": the commands an option belongs to.
std::string CommandNames(unsigned command)
{
    std::string names;
    for (auto [bit, name] : {std::pair{Command::Info, "info"}, {Command::Process, "process"},
                             {Command::Resample, "resample"}, {Command::Merge, "merge"}})
        if (command & bit) names += (names.empty() ? "" : " or ") + std::string(name);
    return names;
}

// One option's lines: its name and value, then its help from column `at`
// (on the next line when the name does not leave room for it).
void AppendOption(std::string& text, const Option& o, size_t indent, size_t at)
{
    std::string left(indent, ' ');
    left += o.name + (o.value.empty() ? "" : " " + o.value);
    size_t start = 0;
    bool first = true;
    while (start <= o.help.size()) {
        const size_t end = std::min(o.help.find('\n', start), o.help.size());
        const std::string line = o.help.substr(start, end - start);
        if (first && left.size() < at) {
            text += left + std::string(at - left.size(), ' ') + line + "\n";
        } else {
            if (first) text += left + "\n";
            text += std::string(at, ' ') + line + "\n";
        }
        first = false;
        start = end + 1;
    }
}

OpResult Refuse(const std::string& problem)
{
    std::cerr << "kelvane-cli: " << Printable(problem) << "\n\n" << UsageText();
    return OpResult::Fail(FailKind::BadInput, problem);
}

}  // namespace

std::string UsageText()
{
    std::string text =
        "Usage: kelvane-cli [--no-settings] [--quiet] COMMAND FILE... [options]\n"
        "\n"
        "Commands:\n"
        "  info FILE [--json]        import FILE and describe it (kind, format, layout, tags)\n";
    // Options of several commands are listed under each of them.
    for (const Option& o : Options())
        if (o.command == Command::Info) AppendOption(text, o, 6, 28);
    text += "  resample IN.wav OUT.wav   convert a WAV file's rate and depth\n";
    for (const Option& o : Options())
        if (o.command != Command::Any && (o.command & Command::Resample)) AppendOption(text, o, 6, 28);
    text += "  merge IN.wav IN.wav... -o MERGED.wav [options]\n"
            "                            join WAV files of one rate and depth end to end into\n"
            "                            MERGED.wav and process it; every option of process\n";
    for (const Option& o : Options())
        if (o.command == Command::Merge) AppendOption(text, o, 6, 28);
    text += "  process FILE [options]    import FILE, find and correct its clicks\n";
    for (const Option& o : Options())
        if (o.command != Command::Any && (o.command & Command::Process)) AppendOption(text, o, 6, 28);
    text += "    Scan settings not given here come from the settings store.\n"
            "\n"
            "Global options:\n";
    for (const Option& o : Options())
        if (o.command == Command::Any) AppendOption(text, o, 2, 18);
    text += "\nExit status: 0 done, 1 failed, 2 refused input or bad arguments, 130 interrupted.\n";
    return text;
}

std::optional<OpResult> ParseCommandLine(int argc, char** argv, CliArgs& args)
{
    std::vector<std::string> rest;
    std::vector<const Option*> given;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << UsageText();
            return OpResult::Success();
        }
        if (a == "--version") {
            std::cout << "kelvane-cli " << KELVANE_VERSION << "\n";
            return OpResult::Success();
        }
        if (a.size() < 2 || a[0] != '-') {
            rest.push_back(a);
            continue;
        }
        const Option* option = nullptr;
        for (const Option& o : Options())
            if (o.name == a) option = &o;
        if (!option) return Refuse("unknown option " + a);
        std::string value;
        if (!option->value.empty()) {
            if (i + 1 >= argc) return Refuse(a + " " + option->needs);
            value = argv[++i];
            if (option->check && !option->check(value)) return Refuse(a + " " + option->needs);
        }
        option->apply(args, value);
        given.push_back(option);
    }
    if (rest.empty()) return Refuse("no command given");
    args.command = rest[0];
    if (args.command != "info" && args.command != "process" && args.command != "resample" && args.command != "merge")
        return Refuse("unknown command " + args.command);
    const unsigned command = args.command == "info"      ? Command::Info
                             : args.command == "process" ? Command::Process
                             : args.command == "merge"   ? Command::Merge
                                                         : Command::Resample;
    if (command == Command::Merge) {
        // The merge is the process road after its first step.
        if (rest.size() < 3) return Refuse("merge needs at least two files to join");
        if (args.file.empty()) return Refuse("merge needs -o MERGED.wav");
        args.mergeInputs.assign(rest.begin() + 1, rest.end());
    } else {
        const size_t files = command == Command::Resample ? 2 : 1;
        if (rest.size() < 1 + files) return Refuse(args.command + (files == 2 ? " needs IN and OUT" : " needs a FILE"));
        if (rest.size() > 1 + files) return Refuse("unexpected argument " + rest[1 + files]);
        args.file = rest[1];
        if (files == 2) args.output = rest[2];
    }
    const unsigned accepted = command == Command::Merge ? Command::Merge | Command::Process : command;
    for (const Option* o : given)
        if (!(o->command & accepted)) return Refuse(o->name + " belongs to " + CommandNames(o->command));
    if (args.scanOptionGiven && !args.rescan && !args.superScan)
        return Refuse("the --rescan-... options belong to --rescan or --super-scan");
    if (command == Command::Resample && (!args.resampleRate || !args.resampleBits))
        return Refuse("resample needs --rate and --bits");
    if (command == Command::Process && !args.resampleRate && (args.dither || args.ditherPdf || args.twoPass))
        return Refuse("--dither, --pdf and --two-pass belong to --resample");
    if (args.normaliseDb && args.scaleDb) return Refuse("--normalise and --scale cannot be used together");
    if ((args.encoderCommand || args.encoderExt) && !args.externalProgram)
        return Refuse("--encoder-command and --encoder-ext belong to --format external:PROGRAM");
    if (args.close && !args.outDir) return Refuse("--close needs --out");
    return std::nullopt;
}

}  // namespace kelvane
