// kelvane-make-demo: writes the bundled demo recording (and optionally its
// truth file). The output is the same bytes on every run, so an existing
// identical file is left alone; a different existing file is only replaced
// with --force, since it might be somebody's own recording.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/Demo.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

namespace {

constexpr const char* kUsage =
    "usage: kelvane-make-demo OUT.wav [--truth OUT.json] [--force]\n"
    "Writes the demo recording (44.1 kHz 16-bit stereo, about 100 s) to OUT.wav\n"
    "and, with --truth, the list of its tracks and clicks as JSON.\n"
    "An existing different file is replaced only with --force.\n";

int Fail(const std::string& message, int code)
{
    std::fprintf(stderr, "kelvane-make-demo: %s\n", message.c_str());
    return code;
}

enum class Outcome { Written, Unchanged, Exists, Failed };

// Writes beside the target and renames over it, so a failed write never
// leaves half a file where a good one was.
Outcome Store(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, bool force, std::string& error)
{
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        if (!std::filesystem::is_regular_file(path, ec)) {
            error = path.string() + " exists and is not a regular file";
            return Outcome::Failed;
        }
        if (kelvane::test::ReadFileBytes(path) == bytes) return Outcome::Unchanged;
        if (!force) {
            error = path.string() + " already exists and differs from the demo; use --force to replace it";
            return Outcome::Exists;
        }
    }
    std::filesystem::path temp = path;
    temp += ".partial";
    if (!kelvane::test::WriteFileBytes(temp, bytes)) {
        std::filesystem::remove(temp, ec);
        const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
        error = std::filesystem::is_directory(folder, ec)
                    ? "cannot write " + path.string() + " (no permission or disk full?)"
                    : "cannot write " + path.string() + ": folder " + folder.string() + " does not exist";
        return Outcome::Failed;
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        error = "cannot write " + path.string();
        return Outcome::Failed;
    }
    return Outcome::Written;
}

}  // namespace

int main(int argc, char** argv)
{
    std::filesystem::path wavPath;
    std::filesystem::path truthPath;
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--force") {
            force = true;
        } else if (arg == "--truth") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0' || (argv[i + 1][0] == '-' && argv[i + 1][1] != '\0'))
                return Fail(std::string("--truth needs a file name\n") + kUsage, 2);
            if (!truthPath.empty()) return Fail(std::string("--truth given twice\n") + kUsage, 2);
            truthPath = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Fail("unknown option " + arg + "\n" + kUsage, 2);
        } else if (arg.empty()) {
            return Fail(std::string("empty output file name\n") + kUsage, 2);
        } else if (!wavPath.empty()) {
            return Fail("more than one output file (" + wavPath.string() + ", " + arg + ")\n" + kUsage, 2);
        } else {
            wavPath = arg;
        }
    }
    if (wavPath.empty()) return Fail(std::string("no output file given\n") + kUsage, 2);
    std::error_code ec;
    if (!truthPath.empty() && (truthPath == wavPath || std::filesystem::equivalent(truthPath, wavPath, ec)))
        return Fail("the truth file and the recording must be different files", 2);

    const kelvane::test::DemoRecording demo = kelvane::test::MakeDemoRecording();
    const std::vector<uint8_t> wav = kelvane::test::WavBytes(demo.Format(), demo.samples);

    std::string error;
    const Outcome wavOutcome = Store(wavPath, wav, force, error);
    if (wavOutcome == Outcome::Exists || wavOutcome == Outcome::Failed) return Fail(error, 1);

    Outcome truthOutcome = Outcome::Unchanged;
    if (!truthPath.empty()) {
        const std::string json = kelvane::test::DemoTruthJson(demo);
        truthOutcome = Store(truthPath, std::vector<uint8_t>(json.begin(), json.end()), force, error);
        if (truthOutcome == Outcome::Exists || truthOutcome == Outcome::Failed) return Fail(error, 1);
    }

    const size_t frames = demo.Frames();
    std::string line = (wavOutcome == Outcome::Written ? "wrote " : "up to date: ") + wavPath.string() + " (" +
                       std::to_string(frames / static_cast<size_t>(demo.sampleRate)) + "." +
                       std::to_string(frames % static_cast<size_t>(demo.sampleRate) * 10 /
                                      static_cast<size_t>(demo.sampleRate)) +
                       " s, " + std::to_string(demo.tracks.size()) + " tracks, " +
                       std::to_string(demo.clicks.size()) + " clicks)";
    if (!truthPath.empty())
        line += (truthOutcome == Outcome::Written ? ", truth " : ", truth up to date: ") + truthPath.string();
    std::fprintf(stderr, "kelvane-make-demo: %s\n", line.c_str());
    return 0;
}
