#pragma once
// The external command-line encoders the track export can hand its WAV files
// to: the programs this system knows how to drive, the list the user keeps in
// the settings, the search that fills it at start-up, and the command lines
// the user typed. Paths are native byte strings (UTF-8 on the systems we
// support); nothing here ever throws for a missing or unreadable folder.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class CProgressWnd;
class ISettingsStore;

// One usable encoder: path is the full path of the program, command the
// command-line template (placeholders %IN %OUT %A %T %L %G %N), ext the
// output file extension without the dot.
struct EncoderEntry {
    std::string path;
    std::string command;
    std::string ext;

    bool operator==(const EncoderEntry&) const = default;
};

// A program this system has a default command line for. `searched` is false
// for the ones the user may pick in the editor but that are never looked for.
struct KnownEncoder {
    const char* program;  // the name it is distributed under
    const char* ext;
    const char* command;
    bool searched;
};

inline constexpr int kMaxStoredEncoders = 10;
inline constexpr int kCommandHistorySize = 6;
inline constexpr const char* kInvalidParameters = "Invalid Parameters entered.";

// The known programs, in the order they are searched for and listed.
std::span<const KnownEncoder> KnownEncoders();

// The known program a file is, judged by the file name part of `fileName`
// only: compared without regard to ASCII case, and a program distributed as
// "x.exe" is also recognised as plain "x" (the name it has in a Linux
// package). Null when it is none of them.
const KnownEncoder* FindKnownEncoder(std::string_view fileName);

// The identity that decides two entries are the same program: the file name
// part, upper-cased, without a trailing ".EXE".
std::string ProgramKey(std::string_view pathOrName);

// The stored list (section "Encoders", slots 0..9). A slot is taken only when
// its program still exists as a regular file; the others are left out and
// the order of the rest is kept.
std::vector<EncoderEntry> LoadEncoders(const ISettingsStore& store);
// Stores the first kMaxStoredEncoders entries and removes the values of every
// slot beyond them. Values that already hold the same text are not written
// again, so an unchanged list costs the settings file nothing.
void SaveEncoders(ISettingsStore& store, const std::vector<EncoderEntry>& list);

// Looks in `folder` (not below it) for an executable regular file named as
// `known` (FindKnownEncoder rules; when several names fit, the exact one wins,
// else the first in byte order). Appends {full path, default command, ext}
// unless `list` already holds that program (same ProgramKey). Returns whether
// it appended. An unreadable or missing folder appends nothing.
bool AddFoundEncoder(const std::string& folder, const KnownEncoder& known, std::vector<EncoderEntry>& list);

// Searches `folder` and every folder below it (depth first, in byte order of
// the names; names starting with '.' and symbolic links to folders are not
// entered) for the searched programs, appending as AddFoundEncoder does.
// Each folder is shown as the progress message before it is searched;
// `progress` may be null. Returns false when the user cancelled: the search
// stops there and what was found so far stays in `list`.
bool SearchEncoders(const std::string& folder, std::vector<EncoderEntry>& list, CProgressWnd* progress);

// Searches each folder of `pathVariable` (a PATH value, ':'-separated; may be
// null) for the searched programs, folder by folder and not below them.
// Empty and relative parts are skipped: a relative part names a different
// folder in every working directory, and the list outlives this run.
void SearchPathFolders(std::vector<EncoderEntry>& list, const char* pathVariable);

// Whether path is a regular file (links followed) this user may run.
bool IsExecutableProgram(const std::string& path);

// The first runnable file called name in the absolute folders of the PATH
// value pathVariable (may be null), or empty. A name holding '/' is no name.
std::string FindProgramInPath(const std::string& name, const char* pathVariable);

// Where encoders are looked for unless the user chose a folder:
// $XDG_DATA_HOME/Tessaly Instruments/Kelvane/Encoders, or under
// $HOME/.local/share when XDG_DATA_HOME is unset, empty or relative.
// Empty when no home folder is known either.
std::string DefaultEncoderFolder();
// The "Encoder Path" setting, or DefaultEncoderFolder() when it is empty.
std::string EncoderSearchFolder(const ISettingsStore& store);

// What the program does at start: the stored list, plus what the encoder
// folder and PATH hold, stored again and returned. A cancel ends only the
// (possibly long) folder walk; PATH is still searched. The result is cut to
// kMaxStoredEncoders so that indices into it mean the same next session.
std::vector<EncoderEntry> RefreshEncoderList(ISettingsStore& store, CProgressWnd* progress, const char* pathVariable);

// A command line is usable only when it names the input file (%IN); the
// export refuses others with kInvalidParameters.
bool ValidCommandLine(std::string_view command);

// The command lines the user typed (section "Settings", Para1..Para6): the
// non-empty ones, in slot order.
std::vector<std::string> LoadCommandHistory(const ISettingsStore& store);
// Stores the first kCommandHistorySize non-empty lines into Para1.. in order
// and removes the slots left over.
void SaveCommandHistory(ISettingsStore& store, const std::vector<std::string>& history);

// Takes a command line the user entered for an encoder whose default command
// is `encoderDefault`. Returns false and stores nothing when it is not valid.
// Otherwise it becomes the current "Parameters", and, unless it is the
// default or already in the history, goes into the first empty history slot;
// with all slots used the oldest (Para1) is dropped and it becomes Para6.
bool StoreCommandLine(ISettingsStore& store, const std::string& command, const std::string& encoderDefault);

}  // namespace kelvane
