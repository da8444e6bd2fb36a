#pragma once
// The output paths of a track export, as the save dialog lists them: where
// each selected track goes, which of those files exist already, and whether
// the names are usable (no two tracks onto one file, no path that would
// leave the output folder). Paths use "/" on disk; the output folder text
// always ends in "/" unless it is empty (the current folder).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;
class ISettingsStore;

// The stored "File Type" choices.
inline constexpr int kFileTypeWav = 1239;
inline constexpr int kFileTypeApe = 1240;
inline constexpr int kFileTypeOgg = 1241;
inline constexpr int kFileTypeExternal = 1242;
inline constexpr int kFileTypeFlac = 1243;

// The note shown when a listed output file exists.
inline constexpr const char* kFileExistsNote = "*File already exists and will be overwritten";

// "." plus the encoder's extension when external is set, otherwise ".wav",
// ".ape", ".ogg" or ".flac" for fileType; an unknown type gives ".wav", the
// format the exporter falls back to.
std::string OutputExtension(int fileType, bool external, const std::string& encoderExtension);

// The folder part of path: everything up to and including its last "/";
// empty when it has none.
std::string FolderOfPath(const std::string& path);

// The permanent output folder: the stored "Output Path" with a "/" added
// (unless it already ends in one), or, when that is empty, the folder of the
// input file the user chose (inputPath).
std::string OutputFolder(const ISettingsStore& settings, const std::string& inputPath);
// The same for the document's settings and input file.
std::string OutputFolder(CQuillon3Doc& doc);

// True when path, taken lexically (no symbolic links followed, nothing read
// from disk), names something strictly below folder. An empty folder is the
// current folder: path must then be relative and must not climb out of it.
bool LiesInside(const std::string& folder, const std::string& path);

// folder + SafeRelativeName(name) + extension, or nothing when the result
// would not lie inside folder (which only a hostile extension can cause).
std::optional<std::string> OutputFilePath(const std::string& folder, const std::string& name,
                                          const std::string& extension);

// The numbers the tracks of the list get, one per line, 0 for none. With
// consecutive numbering the k-th selected line (k from 0) gets start + k and
// unselected lines get none; otherwise line i (from 0, that is track i + 1)
// gets start + i. A start below 1 counts as 1. A single track that keeps the
// input file's number is not numbered here: the caller sets it directly.
std::vector<int32_t> AssignTrackNumbers(const std::vector<bool>& selected, int32_t start, bool consecutive);

// One line of the dialog's track list.
struct OutputLine {
    int32_t track = 0;    // index into the document's track table
    bool selected = false;
    int32_t number = 0;   // the number the track gets, 0 or less for none
};

struct OutputNameRequest {
    std::string folder;     // output folder, ending in "/" (or empty)
    std::string rule;       // the naming rule's text as typed
    std::string extension;  // from OutputExtension
    std::vector<OutputLine> lines;
};

struct OutputNames {
    std::vector<int32_t> tracks;        // selected track indices, in list order
    std::vector<int32_t> numbers;       // their numbers
    std::vector<std::string> shown;     // relative names for the list, "*" in front when the file exists
    std::vector<std::string> paths;     // full paths for the save; empty where a name was refused
    std::string note;                   // kFileExistsNote or empty
    bool unknownTags = false;           // a name says "Unknown Title", "Unknown Artist", ...
    bool duplicates = false;            // two selected tracks would write one file
    bool outsideFolder = false;         // a path would leave the output folder (refused)

    // "OK" may be pressed: something is selected, every path is usable and
    // no two are equal.
    bool OkEnabled() const { return !tracks.empty() && !duplicates && !outsideFolder; }
};

// Builds the names of the selected lines with the request's rule. Looks at
// the disk only to test whether each file exists (errors count as "does not
// exist"). Throws std::out_of_range for a line whose track is not in the
// document's track table.
OutputNames RefreshOutputNames(const CQuillon3Doc& doc, const OutputNameRequest& request);

}  // namespace kelvane
