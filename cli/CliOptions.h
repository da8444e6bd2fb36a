#pragma once
// The batch tool's command line. Every option is one row of a table (its
// name, its value, the command it belongs to, its line of the usage, the
// check of its value and what it sets), from which the usage text, the
// parsing and the "belongs to" refusals are all made.

#include "document/ImportResult.h"
#include "operations/ProcessRecording.h"
#include "operations/Rescan.h"
#include "output/CResampler.h"
#include "output/NamingRules.h"
#include "output/OutputNames.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

// A point of the recording as typed: seconds, or frames ("551250f").
struct TimePoint {
    double value = 0;
    bool frames = false;
};

// What the command line asked for.
struct CliArgs {
    bool noSettings = false;
    bool quiet = false;
    bool acceptDamaged = false;
    bool json = false;
    std::string command;
    std::string file;
    std::string output;  // resample's OUT
    std::optional<std::string> eventsJson;
    std::optional<std::string> corrected;
    // The scan settings and the division into tracks given for this run.
    ProcessRequest process;
    bool noSplit = false;
    // The hiss filter: a lead-in noise profile captured from [start, end)
    // seconds, the "Hiss Filter..." strength applied after the processing,
    // and "Remove Hiss Filter".
    std::optional<std::pair<double, double>> profile;
    std::optional<int> hiss;
    bool removeHiss = false;
    // Merging: the inputs in merge order (the merged file is `file`), and
    // "Delete after merging".
    std::vector<std::string> mergeInputs;
    bool deleteInputs = false;
    // After the automatic processing: a re-scan of the whole file and a
    // super-scan of `superScan` passes, with the Scan Options values in
    // `scanOptions`; then the corrections of a block go (the user's kept).
    bool rescan = false;
    std::optional<int> superScan;
    RescanRequest scanOptions;
    bool scanOptionGiven = false;
    std::optional<std::pair<TimePoint, TimePoint>> removeCorrections;
    std::optional<int> tracks;
    std::optional<int> fadeLinear;
    std::array<std::optional<std::string>, 4> timings;  // pre-silence, fade-in, fade-out, post-silence
    std::optional<std::string> album, artist, genre;
    std::map<int, std::string> titles;
    // Saving the tracks.
    std::optional<std::string> outDir;
    int fileType = kFileTypeFlac;
    std::string rule = kDefaultNamingRule;
    std::optional<int> startNumber;
    bool consecutive = true;
    std::vector<std::pair<int, int>> select;  // inclusive ranges of track numbers; empty: all
    std::optional<double> normaliseDb, scaleDb;
    std::optional<int> flacLevel, oggQuality, apeLevel;
    std::optional<std::string> externalProgram;
    std::optional<std::string> encoderCommand, encoderExt;
    // Converting: resample's target, or the tracks' with process --resample
    // RATE/BITS; the dither choices not given keep the stored ones.
    std::optional<int> resampleRate, resampleBits;
    std::optional<DitherType> dither;
    std::optional<DitherPdf> ditherPdf;
    bool twoPass = false;
    bool overwrite = false;
    bool allowUnknownTags = false;
    bool close = false;
};

// The usage text, as --help prints it.
std::string UsageText();

// Reads the command line into args. nullopt: go on with the command.
// Otherwise the run ends here with that result: success after --help or
// --version (printed on stdout), BadInput for a command line that cannot be
// run (the reason and the usage printed on stderr).
std::optional<OpResult> ParseCommandLine(int argc, char** argv, CliArgs& args);

}  // namespace kelvane
