#pragma once
// Running a user-chosen command-line encoder on an exported WAV without a
// shell. The user's command-line template is split into words first and the
// track's values are put into those words afterwards, so whatever a title
// holds (blanks, quotes, "$(...)", ";") it stays exactly one argument and is
// never interpreted. The program is then started directly with that
// argument vector.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Splits a command-line template into words. Words are separated by blanks,
// tabs, carriage returns and newlines. A stretch in double or single quotes
// groups its characters into the word it is part of, the quotes themselves
// removed (TITLE="%T" gives the word TITLE=%T; "" gives an empty word).
// Inside double quotes a backslash escapes only '"' and '\'; any other
// backslash is kept. Nothing else is special: $, `, ;, |, *, ~ and a
// backslash outside quotes are plain characters.
// On an unmatched quote returns an empty vector and, when error is not null,
// sets *error to a sentence for the user; on success clears *error.
std::vector<std::string> SplitCommandTemplate(std::string_view text, std::string* error);

// The texts put into the placeholders: %A artist, %T title, %L album,
// %G genre, %N track-number text, %IN the WAV handed over, %OUT the output
// path. All UTF-8, used exactly as they are.
struct ExternalValues {
    std::string artist, title, album, genre, number, in, out;
};

// The argument vector (without the program itself) for templateWords as
// SplitCommandTemplate gives them.
// Each word has its placeholders replaced in one left-to-right pass, so a
// value is never searched again (a title "%IN" arrives as "%IN"). Where a
// '%' starts, %IN and %OUT are tried before %A, %T, %L, %G and %N; a '%'
// followed by anything else is kept. A word that ends up empty stays as an
// empty argument, so an empty title is still passed.
// passedOnComments are a FLAC source's comments, each stored as
// NAME="value"; each becomes the pair "-T", "NAME=value" (one pair of
// enclosing double quotes removed from the value, the rest kept as it is; a
// comment without '=' gives "NAME="). The pairs go, in order, before the
// first template word that is exactly "-T", or at the front when there is
// none. They are values, not template: no placeholder in them is replaced.
std::vector<std::string> BuildEncoderArguments(const std::vector<std::string>& templateWords,
                                               const std::vector<std::string>& passedOnComments,
                                               const ExternalValues& values);

// How a program run ended. started is false when the program could not be
// started at all; exitStatus is its exit status (0..255) when it ended
// normally, otherwise -1; error is a sentence for the user when it could not
// be started, was stopped by a signal or could not be waited for, and empty
// otherwise (a non-zero exit alone is not an error here; see
// DescribeFailure).
struct ProgramRun {
    bool started = false;
    int exitStatus = -1;
    std::string error;
    bool stopped = false;  // ended because stop asked for it
};

// Starts program with arguments and waits for it to end, however long that
// takes. No shell is involved: a program containing '/' is started from
// that path as it is; one without '/' is looked up in PATH. argv[0] is
// program. Standard input is /dev/null so an encoder waiting for input
// cannot hang the export; standard output and error are shared with ours.
// The program gets default signal handling and no blocked signals, and none
// of our file descriptors above 2. A script runs through its own "#!" line;
// one without it is refused (no interpreter is chosen for it).
// An argument holding a zero byte cannot be passed and is refused. Never
// throws.
// The program runs in a process group of its own, so the helpers it starts
// can be ended with it. stop, when given, is asked every few milliseconds
// while it runs; once it answers true the program gets the interrupt
// (SIGINT), then, if it is still running a moment later, SIGTERM and at last
// SIGKILL, and the run is reported as stopped.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::function<bool()>& stop = {});

// A sentence for the user when run failed: run.error when that is set,
// "The encoder <program> ended with exit status <n>." for a non-zero exit;
// empty for a run that ended with status 0.
std::string DescribeFailure(const ProgramRun& run, const std::string& program);

}  // namespace kelvane
