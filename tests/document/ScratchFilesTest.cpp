// Scratch files and their lock files: a later run removes exactly the files
// of runs that have ended, and nothing of a live run or of the user.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/ScratchFiles.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// A child process that makes scratch files (as a run does) and then waits,
// alive, until it is killed.
class ScratchMaker {
public:
    explicit ScratchMaker(const std::vector<fs::path>& files)
    {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            std::string error;
            char ok = 1;
            for (const fs::path& f : files) {
                if (!CreateScratchFile(f.string(), error)) ok = 0;
                // A full-size working copy, as far as anyone can tell.
                if (::truncate(f.c_str(), 1 << 20) != 0) ok = 0;
            }
            if (::write(ready[1], &ok, 1) != 1) _exit(1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char ok = 0;
        made_ = ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~ScratchMaker() { Kill(); }
    bool Made() const { return made_; }
    // SIGKILL: nothing of the child's own clean-up runs.
    void Kill()
    {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool made_ = false;
};

TEST(ScratchFiles, OnlyTheFilesOfEndedRunsAreReclaimed)
{
    test::TempDir dir;
    const fs::path dead = dir.file("side~.wav");
    const fs::path live = dir.file("other~.wav");
    const fs::path mine = dir.file("mine.tmp");
    // The user's own files, one with a scratch file's name.
    const fs::path users = dir.file("notes~.wav");
    const fs::path partialOfUser = dir.file("x.flac.kelvane-partial-old");
    ASSERT_TRUE(test::WriteFileBytes(users, {1, 2, 3}));
    ASSERT_TRUE(test::WriteFileBytes(partialOfUser, {4, 5}));

    ScratchMaker killed({dead});
    ASSERT_TRUE(killed.Made());
    ScratchMaker running({live});
    ASSERT_TRUE(running.Made());
    std::string error;
    ASSERT_TRUE(CreateScratchFile(mine.string(), error)) << error;
    EXPECT_TRUE(IsOwnScratchFile(mine.string()));

    // While every maker lives, nothing is anyone's to take.
    EXPECT_TRUE(ReclaimDeadScratchFiles(dir.path().string()).empty());
    killed.Kill();
    EXPECT_EQ(ReclaimDeadScratchFiles(dir.path().string()), std::vector<std::string>{dead.string()});
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"other~.wav", "other~.wav.kelvane-lock", "mine.tmp",
                                                        "mine.tmp.kelvane-lock", "notes~.wav",
                                                        "x.flac.kelvane-partial-old"}));
    // A partial output nobody holds, but written just now, may be a live
    // writer's between closing and renaming it.
    EXPECT_TRUE(ReclaimDeadScratchFiles(dir.path().string()).empty());

    // The name of a dead run's file taken over by the user: their file stays.
    running.Kill();
    fs::remove(live);
    ASSERT_TRUE(test::WriteFileBytes(live, {7}));
    EXPECT_TRUE(ReclaimDeadScratchFiles(dir.path().string()).empty());
    EXPECT_EQ(test::ReadFileBytes(live), std::vector<uint8_t>{7});
    EXPECT_FALSE(fs::exists(live.string() + kScratchLockSuffix)) << "the dead lock file goes";

    RemoveScratchFile(mine.string());
    EXPECT_FALSE(IsOwnScratchFile(mine.string()));
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"other~.wav", "notes~.wav", "x.flac.kelvane-partial-old"}));
}

TEST(ScratchFiles, AbandonedPartialOutputWithoutALockIsReclaimed)
{
    test::TempDir dir;
    const fs::path old = dir.file("t01.flac.kelvane-partial-ab12");
    const fs::path fresh = dir.file("t02.flac.kelvane-partial-cd34");
    const fs::path held = dir.file("t03.flac.kelvane-partial-ef56");
    for (const fs::path& p : {old, fresh, held}) ASSERT_TRUE(test::WriteFileBytes(p, {1}));
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(old, hourAgo);
    fs::last_write_time(held, hourAgo);
    // An old partial that a process still has open is being written.
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReclaimDeadScratchFiles(dir.path().string()), std::vector<std::string>{old.string()});
    ::close(fd);
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(held));
}

TEST(ScratchFiles, ImportMarksItsFilesAndEmptyingTheDocumentRemovesTheMarks)
{
    test::TempDir dir;
    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    test::ScriptedInteraction ui;
    test::WavOptions mono;
    mono.channels = 1;
    std::vector<int32_t> samples(4000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i % 300) - 150;
    const fs::path input = dir.file("m.wav");
    ASSERT_TRUE(test::WriteWav(input, mono, samples));
    CQuillon3Doc doc(settings, ui);
    ASSERT_TRUE(OpenRecording(doc, input.string()).Ok());
    EXPECT_TRUE(IsOwnScratchFile(doc.sourcePath));
    EXPECT_TRUE(IsOwnScratchFile(doc.workingPath));
    EXPECT_EQ(Names(dir.path()),
              (std::set<std::string>{"m.wav", "m.tmp", "m.tmp.kelvane-lock", "m~.wav", "m~.wav.kelvane-lock"}));
    // Another run looking at the folder meanwhile leaves them alone.
    EXPECT_TRUE(ReclaimDeadScratchFiles(dir.path().string()).empty());
    doc.DeleteContents();
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"m.wav"});
}

}  // namespace
}  // namespace kelvane
