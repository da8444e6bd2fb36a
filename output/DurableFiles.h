#pragma once
// How a finished output reaches its name. Every output is written under a
// partial name in its target folder that no other process can hold (made
// with mkstemp), so two runs saving into one folder never write into the
// same file. It is then made durable and moved onto its name without
// replacing a file that is there, unless replacing was confirmed: a run that
// loses a race for a name fails instead of destroying the other run's file.
//
//   write partial -> fsync partial -> rename (no replace) -> fsync folder
//
// so a power cut leaves either the old file or the complete new one under
// the name, never an empty one.

#include <functional>
#include <string>

namespace kelvane {

// Every partial name holds this mark, so a later run can recognise the files
// a killed run left behind.
inline constexpr const char* kPartialNameMark = ".kelvane-partial";

struct PartialPath {
    std::string path;   // empty when it could not be made
    std::string error;  // the system's reason when it could not be made
    explicit operator bool() const { return !path.empty(); }
};

// Creates an empty file beside target, named target + ".kelvane-partial-"
// and six random characters (or a shorter name in the same folder when that
// one would be too long), with the permissions a new file gets from the
// umask. The caller owns it and removes it unless it is placed.
PartialPath CreatePartialFile(const std::string& target);

// Creates a private folder beside target, named like a partial file, for a
// program that insists on creating its output itself. The caller removes it
// with everything in it.
PartialPath CreatePartialFolder(const std::string& target);

// fsync of a file, and of the folder holding path. False with the system's
// reason in *error.
bool SyncFile(const std::string& path, std::string* error);
bool SyncFolderOf(const std::string& path, std::string* error);

enum class Placement {
    Placed,  // `to` now holds the file, durably
    Exists,  // `to` exists and was not to be replaced; `from` is untouched
    Failed,  // *error says why; `from` is untouched
};

// Moves the complete file `from` onto `to` in one step: syncs `from`,
// renames it (without replacing an existing `to` unless replace is set;
// where the file system cannot rename without replacing, a hard link and
// then an exclusive create claim the name instead), and syncs the folder.
Placement PlaceFile(const std::string& from, const std::string& to, bool replace, std::string* error);

// The sentence for a file that appeared at `to` while it was being written.
std::string TakenMeanwhileText(const std::string& to);

// Whether two paths name one file as the file system sees them: "./a.wav"
// and "a.wav", a symbolic or hard link and its file. An empty path names
// none; a path that cannot be resolved is compared as written.
bool SameFile(const std::string& a, const std::string& b);

// Lets tests see the durable steps in order: "sync" (path), "rename"
// (from, then to in `other`) and "sync folder" (the folder). Called just
// before each step. An empty function stops the reports.
using FileStepObserver = std::function<void(const std::string& step, const std::string& path, const std::string& other)>;
void ObserveFileSteps(FileStepObserver observer);

}  // namespace kelvane
