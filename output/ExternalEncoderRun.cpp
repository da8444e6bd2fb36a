#include "output/ExternalEncoderRun.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <new>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvane {

namespace {

constexpr const char* kUnmatchedQuote = "The encoder's command line has an unmatched quote.";

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The value for the placeholder starting at rest (just after its '%'), and
// how many characters of rest it takes; nullptr when rest starts no
// placeholder. The two-letter and three-letter names are tried first so that
// "%IN" is never read as something shorter.
const std::string* Placeholder(std::string_view rest, const ExternalValues& values, size_t* length)
{
    if (rest.substr(0, 2) == "IN") {
        *length = 2;
        return &values.in;
    }
    if (rest.substr(0, 3) == "OUT") {
        *length = 3;
        return &values.out;
    }
    if (rest.empty()) return nullptr;
    *length = 1;
    switch (rest.front()) {
    case 'A': return &values.artist;
    case 'T': return &values.title;
    case 'L': return &values.album;
    case 'G': return &values.genre;
    case 'N': return &values.number;
    default: return nullptr;
    }
}

std::string Substitute(std::string_view word, const ExternalValues& values)
{
    std::string out;
    out.reserve(word.size());
    size_t i = 0;
    while (i < word.size()) {
        size_t length = 0;
        const std::string* value = word[i] == '%' ? Placeholder(word.substr(i + 1), values, &length) : nullptr;
        if (value) {
            out += *value;
            i += 1 + length;
        } else {
            out += word[i];
            ++i;
        }
    }
    return out;
}

// NAME="value" as the encoder's "NAME=value". Only one enclosing pair of
// quotes is taken off: quotes inside the value belong to it.
std::string CommentArgument(const std::string& comment)
{
    const size_t eq = comment.find('=');
    if (eq == std::string::npos) return comment + "=";
    std::string_view value = std::string_view(comment).substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return comment.substr(0, eq + 1) + std::string(value);
}

std::string Cannot(const std::string& program, const std::string& why)
{
    return "The encoder " + program + " could not be started: " + why + ".";
}

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

// Starts the child; returns 0 or the errno value why it could not be.
int Spawn(const std::string& program, char* const* argv, pid_t* pid)
{
    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawn_file_actions_init(&actions)) return rc;
    posix_spawnattr_t attributes;
    if (int rc = posix_spawnattr_init(&attributes)) {
        posix_spawn_file_actions_destroy(&actions);
        return rc;
    }

    int rc = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Files we hold open (the WAV being handed over, other outputs) are none
    // of the encoder's business, and an inherited write end could keep a
    // pipe of ours from ever seeing its end.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    // An ignored SIGPIPE or a blocked signal of ours would otherwise carry
    // over through exec and change how the encoder behaves.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attributes, &all);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attributes, &none);
    // A group of its own: the helpers an encoder starts are ended with it.
    if (rc == 0) rc = posix_spawnattr_setpgroup(&attributes, 0);
    if (rc == 0)
        rc = posix_spawnattr_setflags(&attributes,
                                      POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    if (rc == 0) {
        // posix_spawn takes a path as it is; posix_spawnp searches PATH only
        // for a bare name, which is the one case we want searched.
        const bool hasSlash = program.find('/') != std::string::npos;
        rc = hasSlash ? posix_spawn(pid, program.c_str(), &actions, &attributes, argv, environ)
                      : posix_spawnp(pid, program.c_str(), &actions, &attributes, argv, environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// How long a stopped encoder gets for each request before the next, harder one.
constexpr auto kStopGrace = std::chrono::milliseconds(1000);

// Waits for the child. Returns 0 with its status, or the errno value of a
// failed wait.
int WaitBlocking(pid_t pid, int* status)
{
    while (waitpid(pid, status, 0) < 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// True once the child has ended; it is left unreaped, so its process group
// (named by its id) cannot be taken by another process meanwhile.
bool HasEnded(pid_t pid)
{
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
    return info.si_pid == pid;
}

// Interrupt, then terminate, then kill the child's whole group, each after
// the grace time, until the child has ended. Helpers still in its group are
// killed before the child is reaped.
void StopGroup(pid_t pid)
{
    for (const int request : {SIGINT, SIGTERM, SIGKILL}) {
        ::kill(-pid, request);
        const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
        while (!HasEnded(pid) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kPollInterval);
        if (HasEnded(pid)) break;
    }
    ::kill(-pid, SIGKILL);
}

}  // namespace

std::vector<std::string> SplitCommandTemplate(std::string_view text, std::string* error)
{
    std::vector<std::string> words;
    std::string word;
    // Separate from word.empty(): "" is a word of its own.
    bool inWord = false;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsSeparator(c)) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const size_t close = text.find('\'', i + 1);
            if (close == std::string_view::npos) {
                if (error) *error = kUnmatchedQuote;
                return {};
            }
            word.append(text.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (c == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const char d = text[i];
                if (d == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
                    word += text[i + 1];
                    i += 2;
                    continue;
                }
                word += d;
                ++i;
            }
            if (!closed) {
                if (error) *error = kUnmatchedQuote;
                return {};
            }
        } else {
            word += c;
            ++i;
        }
    }
    if (inWord) words.push_back(std::move(word));
    if (error) error->clear();
    return words;
}

std::vector<std::string> BuildEncoderArguments(const std::vector<std::string>& templateWords,
                                               const std::vector<std::string>& passedOnComments,
                                               const ExternalValues& values)
{
    std::vector<std::string> arguments;
    arguments.reserve(templateWords.size() + 2 * passedOnComments.size());
    // The insertion point is found among the template's own words: a title
    // that happens to read "-T" must not move the comments.
    size_t insertAt = templateWords.size();
    for (size_t i = 0; i < templateWords.size(); ++i) {
        if (insertAt == templateWords.size() && templateWords[i] == "-T") insertAt = i;
        arguments.push_back(Substitute(templateWords[i], values));
    }
    if (insertAt == templateWords.size()) insertAt = 0;

    std::vector<std::string> pairs;
    pairs.reserve(2 * passedOnComments.size());
    for (const std::string& comment : passedOnComments) {
        pairs.emplace_back("-T");
        pairs.push_back(CommentArgument(comment));
    }
    arguments.insert(arguments.begin() + static_cast<std::ptrdiff_t>(insertAt), pairs.begin(), pairs.end());
    return arguments;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::function<bool()>& stop)
{
    ProgramRun run;
    try {
        if (program.empty()) {
            run.error = "No encoder program is set.";
            return run;
        }
        if (program.find('\0') != std::string::npos) {
            run.error = Cannot(program, "its name holds a zero byte");
            return run;
        }
        // Each argument must reach the program whole; a zero byte would cut
        // it short without anyone noticing.
        std::vector<char*> argv;
        argv.reserve(arguments.size() + 2);
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) {
            if (argument.find('\0') != std::string::npos) {
                run.error = Cannot(program, "one of its arguments holds a zero byte");
                return run;
            }
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);

        pid_t pid = -1;
        if (const int rc = Spawn(program, argv.data(), &pid)) {
            run.error = Cannot(program, ErrnoText(rc));
            return run;
        }
        run.started = true;

        if (stop) {
            while (!HasEnded(pid)) {
                if (stop()) {
                    StopGroup(pid);
                    run.stopped = true;
                    break;
                }
                std::this_thread::sleep_for(kPollInterval);
            }
        }
        int status = 0;
        if (const int rc = WaitBlocking(pid, &status)) {
            run.error = "The encoder " + program + " could not be waited for: " + ErrnoText(rc) + ".";
            return run;
        }
        if (run.stopped) return run;
        if (WIFEXITED(status)) {
            run.exitStatus = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            run.error = "The encoder " + program + " was stopped by signal " + std::to_string(WTERMSIG(status)) + ".";
        }
    } catch (const std::bad_alloc&) {
        run.error = "The encoder could not be run: out of memory.";
    }
    return run;
}

std::string DescribeFailure(const ProgramRun& run, const std::string& program)
{
    if (!run.error.empty()) return run.error;
    if (!run.started) return "The encoder " + program + " could not be started.";
    if (run.exitStatus != 0)
        return "The encoder " + program + " ended with exit status " + std::to_string(run.exitStatus) + ".";
    return {};
}

}  // namespace kelvane
