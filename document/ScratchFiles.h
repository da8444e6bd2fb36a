#pragma once
// Scratch files: the working copy ("~.wav"), the decoded source (".tmp") and
// partial outputs. A run that is killed, crashes or loses power leaves them
// behind, full size; the next run must be able to tell them from the files
// of a run that is still going, and from the user's own files.
//
// Every scratch file NAME made here gets a small lock file beside it,
// NAME.kelvane-lock, which this process holds locked (flock) for as long as
// it lives and which records who made the scratch file (process id, its start
// time and the boot) and which file it is (device and inode). A later run may
// remove a scratch file only when all of this holds: the lock file is not
// held, the process it names is gone, and the scratch file is still the very
// file recorded. Anything else is left alone.

#include <string>
#include <vector>

namespace kelvane {

inline constexpr const char* kScratchLockSuffix = ".kelvane-lock";

// `path` when neither it nor its lock file exists, else the first free
// "stem-2.ext", "stem-3.ext", ...
std::string FreeScratchName(const std::string& path);

// Creates `path` as a new, empty file (never replacing anything there) and
// marks it as this process's scratch file. False, with the system's text in
// `error`, when either file cannot be created.
bool CreateScratchFile(const std::string& path, std::string& error);

// Creates the first free scratch name from `path` on (FreeScratchName) and
// returns it; when another run takes that name in the same moment, the next
// free one is tried. Empty, with the system's text in `error`, on failure.
std::string CreateFreeScratchFile(const std::string& path, std::string& error);

// Marks a file that this process has just created by other means (mkstemp)
// as its scratch file.
bool AdoptScratchFile(const std::string& path, std::string& error);

// Deletes a scratch file of this process and its lock file. A path this
// process did not mark is simply deleted (callers pass only their own files).
void RemoveScratchFile(const std::string& path);

// The scratch file has become a real file (renamed into place) or is gone:
// only its lock file is removed.
void ReleaseScratchFile(const std::string& path);

// Drops the marks of this process's scratch files that are no longer there
// under their names (renamed into place as a saved file, or deleted).
void ReleaseGoneScratchFiles();

// True while `path` is marked as this process's scratch file.
bool IsOwnScratchFile(const std::string& path);

// Removes from `folder` the scratch files whose runs have ended, with their
// lock files, and returns the paths of the scratch files removed. Output
// partial files ("*.kelvane-partial*") that have no lock file are removed
// when they are provably abandoned: owned by this user, open in no process,
// and untouched for a while.
std::vector<std::string> ReclaimDeadScratchFiles(const std::string& folder);

}  // namespace kelvane
