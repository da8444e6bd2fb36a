#pragma once
// The files the batch tool writes besides the tracks: the JSON report
// (--events-json) and the corrected recording (--corrected). The name the
// user gives may be anything a shell can spell, and none of it is ever
// replaced by something the tool did not mean to make:
//
//   "-", or the standard output itself (/dev/stdout, /proc/self/fd/1, a link
//   to them, the file a shell sends it to)   written through standard output
//   the standard error itself                written through standard error
//   a FIFO or a character device             written through, left as it is
//   a regular file, or a new name            written beside it under a partial
//                                            name, made durable, renamed onto it
//   a symbolic link to a regular file        the same, beside and onto the file
//                                            the link leads to; the link stays
//
// and refused, before any work: a link that leads nowhere (following it would
// create a file wherever it points), a folder, a block device, a socket, a
// name in a folder that does not exist.

#include <sys/types.h>

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace kelvane {

struct ReportTarget {
    enum class Kind { Descriptor, Stream, File };
    Kind kind = Kind::File;
    std::string given;  // as on the command line, for messages
    // Stream: the name to open for writing. File: the regular file to replace
    // or create (a link already followed).
    std::string path;
    int fd = -1;  // Descriptor: the descriptor to write to
    // The file or stream that is written, when it exists already.
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// Where `given` is written, or nullopt with the reason in `refusal`.
std::optional<ReportTarget> PlanReportTarget(const std::string& given, std::string& refusal);

// True when both end in the same file or stream.
bool SameTarget(const ReportTarget& a, const ReportTarget& b);

// True when the target is the existing file at `path` (any other name of it).
bool TargetIsFile(const ReportTarget& target, const std::string& path);

// A target on standard output gets a descriptor of its own, and standard
// output itself is sent to standard error from now on, so that nothing else
// printed during the run (the summary, the saved files, an encoder's chatter)
// lands in the middle of the report. False with the reason in `error`.
bool TakeStandardOutput(ReportTarget& target, std::string& error);

enum class ReportWrite { Written, Failed, Cancelled };

// Writes what `write` produces to the target; `write` returns false when it
// could not produce it all. A File target holds the complete new content or
// is left as it was. cancelled: polled while a FIFO waits for its reader.
// error: the reason of a failure, naming the file.
ReportWrite WriteReport(const ReportTarget& target, const std::function<bool(std::ostream&)>& write,
                        const std::function<bool()>& cancelled, std::string& error);

}  // namespace kelvane
