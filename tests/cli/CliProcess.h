#pragma once
// Runs the real kelvane-cli as a child process for the end-to-end tests:
// started without a shell, stdin from /dev/null, stdout and stderr captured,
// HOME, XDG_CONFIG_HOME and TMPDIR pointed at folders the test owns.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kelvane::test {

struct RunResult {
    int exitStatus = -1;  // -1 when the child did not exit normally
    int signal = 0;       // the signal that ended it, if any
    std::string out;
    std::string err;
};

inline std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every entry under a folder, relative to it, folders included.
inline std::set<std::string> Tree(const std::filesystem::path& root)
{
    namespace fs = std::filesystem;
    std::set<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        names.insert(fs::relative(it->path(), root).string());
    return names;
}

struct CliEnvironment {
    std::filesystem::path home, config, tmp, capture;
};

// watch: a folder whose entries are collected while the child runs, into
// `seen`, to show where the tool keeps its files meanwhile.
inline RunResult RunCliProcess(const std::vector<std::string>& args, const CliEnvironment& where,
                               const std::filesystem::path* watch = nullptr, std::set<std::string>* seen = nullptr)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("HOME=", 0) == 0 || entry.rfind("XDG_CONFIG_HOME=", 0) == 0 || entry.rfind("TMPDIR=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    env.push_back("HOME=" + where.home.string());
    env.push_back("XDG_CONFIG_HOME=" + where.config.string());
    env.push_back("TMPDIR=" + where.tmp.string());

    std::vector<std::string> argStrings{KELVANE_CLI_PATH};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::filesystem::path outPath = where.capture / "stdout";
    const std::filesystem::path errPath = where.capture / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    RunResult r;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
        return r;
    }
    // A hung child must not hang the suite; the limit is far above any
    // honest run and is no performance check.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (watch && seen) seen->merge(Tree(*watch));
        if (done < 0) {
            ADD_FAILURE() << "waitpid: " << std::strerror(errno);
            return r;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "kelvane-cli did not finish within five minutes";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) r.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    r.out = ReadText(outPath);
    r.err = ReadText(errPath);
    return r;
}

}  // namespace kelvane::test
