// The external encoder list: which files count as which program, the search
// of real folders, what is kept in the settings, and the command history.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "output/EncoderList.h"
#include "settings/SettingsStore.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TempDir.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;

// A stand-in program: the search only looks at names and permissions.
fs::path MakeProgram(const fs::path& folder, const std::string& name, bool executable = true)
{
    fs::create_directories(folder);
    const fs::path path = folder / name;
    std::ofstream(path) << "#!/bin/sh\nexit 0\n";
    fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
    return path;
}

const KnownEncoder& Known(const char* program)
{
    const KnownEncoder* known = FindKnownEncoder(program);
    if (!known) throw std::logic_error(std::string("not in the table: ") + program);
    return *known;
}

std::vector<std::string> Paths(const std::vector<EncoderEntry>& list)
{
    std::vector<std::string> paths;
    for (const EncoderEntry& e : list) paths.push_back(e.path);
    return paths;
}

std::vector<fs::path> MakeEverySearchedProgram(const fs::path& folder)
{
    std::vector<fs::path> made;
    for (const KnownEncoder& k : KnownEncoders()) {
        if (k.searched) made.push_back(MakeProgram(folder, k.program));
    }
    return made;
}

// Sets (or, given null, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr)
    {
        if (had_) old_ = std::getenv(name);
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { had_ ? ::setenv(name_.c_str(), old_.c_str(), 1) : ::unsetenv(name_.c_str()); }

private:
    std::string name_, old_;
    bool had_;
};

TEST(EncoderList, KnownTable_HoldsTheDefaultCommandsInSearchOrder)
{
    const auto table = KnownEncoders();
    ASSERT_EQ(table.size(), 12u);
    EXPECT_STREQ(table[0].program, "lame.exe");
    EXPECT_STREQ(table[8].program, "NeroAacEnc.exe");
    EXPECT_STREQ(table[3].command, "-b 160 --artist %A --title %T --album %L --genre %G --track %N  -o %OUT %IN");
    EXPECT_STREQ(table[3].ext, "mp4");
    EXPECT_STREQ(table[11].program, "wmcmd.vbs");
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].searched, i != 11) << table[i].program;
        // The defaults must pass the check the export applies to typed lines.
        EXPECT_TRUE(ValidCommandLine(table[i].command)) << table[i].program;
    }
}

TEST(EncoderList, ProgramNames_MatchIgnoringCaseWithOrWithoutExe)
{
    for (const char* name : {"lame", "LAME.EXE", "Lame.exe", "/opt/LAME/lame.EXE"}) {
        ASSERT_NE(FindKnownEncoder(name), nullptr) << name;
        EXPECT_STREQ(FindKnownEncoder(name)->program, "lame.exe") << name;
    }
    EXPECT_STREQ(FindKnownEncoder("wm8eutil")->program, "WM8EUTIL.exe");
    EXPECT_STREQ(FindKnownEncoder("WMCMD.VBS")->program, "wmcmd.vbs");
    for (const char* name : {"oggenc", "lame.exe.exe", "xlame", "/usr/bin/lame/", "wmcmd", ""}) {
        EXPECT_EQ(FindKnownEncoder(name), nullptr) << name;
    }
    EXPECT_EQ(ProgramKey("/opt/enc/Lame.exe"), "LAME");
    EXPECT_EQ(ProgramKey("/x.exe/flac"), "FLAC");
    EXPECT_EQ(ProgramKey("wmcmd.vbs"), "WMCMD.VBS");
}

TEST(EncoderList, AddFound_TakesOneExecutableFilePerProgram)
{
    test::TempDir dir("kelvane-enc");
    const fs::path root = dir.path();
    std::vector<EncoderEntry> list;
    MakeProgram(root / "plain", "lame", /*executable=*/false);
    fs::create_directories(root / "folder" / "lame.exe");  // a folder by the name
    for (const char* folder : {"plain", "folder", "missing"}) {
        EXPECT_FALSE(AddFoundEncoder((root / folder).string(), Known("lame"), list)) << folder;
    }

    // Several spellings: the exact name wins, else the first in byte order.
    MakeProgram(root / "a", "LAME");
    const fs::path exact = MakeProgram(root / "a", "lame.exe");
    MakeProgram(root / "b", "lame");
    const fs::path upper = MakeProgram(root / "b", "LAME");
    MakeProgram(root / "b", "lame.exe", /*executable=*/false);
    ASSERT_TRUE(AddFoundEncoder((root / "b").string(), Known("lame"), list));
    EXPECT_EQ(list, (std::vector<EncoderEntry>{{upper.string(), Known("lame").command, "mp3"}}));
    std::vector<EncoderEntry> other;
    ASSERT_TRUE(AddFoundEncoder((root / "a").string(), Known("lame"), other));
    EXPECT_EQ(other[0].path, exact.string());

    // A second copy of a program already listed is not a second encoder.
    EXPECT_FALSE(AddFoundEncoder((root / "a").string(), Known("lame"), list));
    EXPECT_EQ(list.size(), 1u);
}

TEST(EncoderList, Search_WalksRealSubfoldersDepthFirstInNameOrder)
{
    test::TempDir dir("kelvane-enc");
    const fs::path root = dir.path() / "Encoders";
    const fs::path lame = MakeProgram(root / "b" / "deep", "lame");
    const fs::path flac = MakeProgram(root / "c", "flac");
    MakeProgram(root, "lame.exe");  // found after the subfolders: theirs wins
    const fs::path wavpack = MakeProgram(root, "wavpack");
    MakeProgram(root / ".hidden", "faac");
    MakeProgram(dir.path() / "elsewhere", "oggenc2");
    fs::create_symlink(dir.path() / "elsewhere", root / "a-link");
    fs::create_symlink(root, root / "b" / "loop");
    MakeProgram(root / "ssrc.exe", "inner");  // a folder named as a program

    test::RecordingProgress progress;
    std::vector<EncoderEntry> list;
    EXPECT_TRUE(SearchEncoders(root.string(), list, &progress));

    EXPECT_EQ(Paths(list), (std::vector<std::string>{lame.string(), flac.string(), wavpack.string()}));
    EXPECT_EQ(list[2].ext, "wv");
    const std::vector<std::string> shown = {root.string(), (root / "b").string(), (root / "b" / "deep").string(),
                                            (root / "c").string(), (root / "ssrc.exe").string()};
    EXPECT_EQ(progress.Log()->messages, shown);

    // Without a window, and on a folder that is not there, nothing throws.
    std::vector<EncoderEntry> again;
    EXPECT_TRUE(SearchEncoders(root.string(), again, nullptr));
    EXPECT_EQ(again, list);
    EXPECT_TRUE(SearchEncoders((dir.path() / "gone").string(), again, nullptr));
    EXPECT_EQ(again, list);
}

TEST(EncoderList, Search_CancelStopsTheWholeWalkAndKeepsWhatWasFound)
{
    test::TempDir dir("kelvane-enc");
    const fs::path root = dir.path() / "Encoders";
    const fs::path lame = MakeProgram(root / "a", "lame");
    MakeProgram(root / "b", "flac");
    MakeProgram(root / "c", "faac");
    MakeProgram(root, "wavpack");

    test::RecordingProgress progress;
    progress.CancelAtPump(3);  // while showing root/b
    std::vector<EncoderEntry> list;
    EXPECT_FALSE(SearchEncoders(root.string(), list, &progress));
    EXPECT_EQ(Paths(list), std::vector<std::string>{lame.string()});
    // Neither root/c nor root's own files are looked at after the cancel.
    EXPECT_EQ(progress.Log()->messages.back(), (root / "b").string());
    EXPECT_EQ(progress.Log()->messages.size(), 3u);
}

TEST(EncoderList, PathFolders_AreSearchedFolderByFolderNotBelow)
{
    test::TempDir dir("kelvane-enc");
    const fs::path flac = MakeProgram(dir.path() / "bin1", "flac");
    MakeProgram(dir.path() / "bin1" / "sub", "lame");
    const fs::path lame = MakeProgram(dir.path() / "bin2", "lame");
    MakeProgram(dir.path() / "bin2", "flac");

    const std::string path = ":" + (dir.path() / "bin1").string() + "::relative/bin:" + (dir.path() / "bin2").string() +
                             ":" + (dir.path() / "missing").string() + ":";
    std::vector<EncoderEntry> list;
    SearchPathFolders(list, path.c_str());
    EXPECT_EQ(Paths(list), (std::vector<std::string>{flac.string(), lame.string()}));

    SearchPathFolders(list, nullptr);
    SearchPathFolders(list, "");
    EXPECT_EQ(list.size(), 2u);
}

TEST(EncoderList, SaveAndLoad_KeepTenSlotsAndDropVanishedPrograms)
{
    test::TempDir dir("kelvane-enc");
    const std::vector<fs::path> programs = MakeEverySearchedProgram(dir.path());
    ASSERT_EQ(programs.size(), 11u);
    std::vector<EncoderEntry> eleven;
    for (size_t i = 0; i < programs.size(); ++i) {
        eleven.push_back({programs[i].string(), "%IN %OUT -" + std::to_string(i), "e" + std::to_string(i)});
    }

    CMemorySettings store;
    SaveEncoders(store, eleven);
    EXPECT_EQ(store.Count(), 30u);
    EXPECT_EQ(store.ReadString("Encoders", "Enc9", ""), programs[9].string());
    EXPECT_EQ(store.ReadString("Encoders", "Command9", ""), "%IN %OUT -9");
    EXPECT_EQ(store.ReadString("Encoders", "Ext0", ""), "e0");
    EXPECT_FALSE(store.Has("Encoders", "Enc10"));
    EXPECT_EQ(LoadEncoders(store), std::vector<EncoderEntry>(eleven.begin(), eleven.begin() + 10));

    // A shorter list clears the slots it no longer uses.
    SaveEncoders(store, {eleven[4], eleven[2]});
    EXPECT_EQ(store.Count(), 6u);
    EXPECT_EQ(store.ReadString("Encoders", "Enc1", ""), programs[2].string());

    // Programs uninstalled since, or replaced by a folder, are left out; the
    // rest keep their order even across the gap.
    SaveEncoders(store, {eleven[0], eleven[1], eleven[2], eleven[3]});
    fs::remove(programs[1]);
    fs::remove(programs[2]);
    fs::create_directory(programs[2]);
    store.WriteString("Encoders", "Enc6", "");
    store.WriteString("Encoders", "Enc7", (dir.path() / "never-there").string());
    EXPECT_EQ(LoadEncoders(store), (std::vector<EncoderEntry>{eleven[0], eleven[3]}));
}

TEST(EncoderList, Refresh_KeepsStoredEntriesAddsFoundOnesAndStoresTen)
{
    test::TempDir dir("kelvane-enc");
    const fs::path ownLame = MakeProgram(dir.path() / "mine", "lame");
    const fs::path folder = dir.path() / "Encoders";
    MakeEverySearchedProgram(folder / "all");
    const fs::path pathFlac = MakeProgram(dir.path() / "bin", "flac");

    CMemorySettings store;
    SaveEncoders(store, {{ownLame.string(), "-b 320 %IN %OUT", "mp3"}});
    store.Set(settings::EncoderPath, folder.string());
    test::RecordingProgress progress;
    const std::string path = (dir.path() / "bin").string();
    const std::vector<EncoderEntry> list = RefreshEncoderList(store, &progress, path.c_str());

    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list[0], (EncoderEntry{ownLame.string(), "-b 320 %IN %OUT", "mp3"}));  // the user's edit stays
    EXPECT_EQ(list[1].path, (folder / "all" / "fastencc.exe").string());
    EXPECT_EQ(list[4].path, (folder / "all" / "flac.exe").string());  // the encoder folder before PATH
    for (const EncoderEntry& e : list) EXPECT_NE(e.path, pathFlac.string());
    EXPECT_EQ(LoadEncoders(store), list);
    EXPECT_FALSE(store.Has("Encoders", "Enc10"));
    EXPECT_EQ(progress.Log()->messages.front(), folder.string());

    // PATH fills what the folder did not provide, even after a cancel.
    CMemorySettings fresh;
    fresh.Set(settings::EncoderPath, folder.string());
    test::RecordingProgress cancelling;
    cancelling.CancelAtPump(1);
    EXPECT_EQ(RefreshEncoderList(fresh, &cancelling, path.c_str()),
              (std::vector<EncoderEntry>{{pathFlac.string(), Known("flac").command, "flac"}}));
}

TEST(EncoderList, SearchFolder_IsTheSettingElseTheUsersDataFolder)
{
    ScopedEnv home("HOME", "/home/ann");
    {
        ScopedEnv data("XDG_DATA_HOME", "/data/ann");
        EXPECT_EQ(DefaultEncoderFolder(), "/data/ann/Tessaly Instruments/Kelvane/Encoders");
    }
    for (const char* notUsable : {static_cast<const char*>(nullptr), "", "relative/share"}) {
        ScopedEnv data("XDG_DATA_HOME", notUsable);
        EXPECT_EQ(DefaultEncoderFolder(), "/home/ann/.local/share/Tessaly Instruments/Kelvane/Encoders");
    }

    ScopedEnv data("XDG_DATA_HOME", nullptr);
    CMemorySettings store;
    EXPECT_EQ(EncoderSearchFolder(store), DefaultEncoderFolder());
    store.Set(settings::EncoderPath, "/opt/encoders");
    EXPECT_EQ(EncoderSearchFolder(store), "/opt/encoders");
}

TEST(EncoderList, CommandHistory_FillsSlotsThenPushesTheOldestOut)
{
    CMemorySettings store;
    const std::string def = Known("lame").command;
    EXPECT_FALSE(ValidCommandLine("%in %OUT"));
    EXPECT_FALSE(StoreCommandLine(store, "-o %OUT", def));  // no input: refused, nothing kept
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_TRUE(StoreCommandLine(store, def, def));
    EXPECT_EQ(store.Get(settings::Parameters), def);
    EXPECT_TRUE(LoadCommandHistory(store).empty());  // the default is always offered anyway

    std::vector<std::string> typed;
    for (int i = 1; i <= 6; ++i) typed.push_back("-V" + std::to_string(i) + " %IN %OUT");
    for (const std::string& line : typed) ASSERT_TRUE(StoreCommandLine(store, line, def));
    EXPECT_TRUE(StoreCommandLine(store, typed[2], def));  // already there: no second copy
    EXPECT_EQ(LoadCommandHistory(store), typed);
    EXPECT_EQ(store.ReadString("Settings", "Para6", ""), typed[5]);
    EXPECT_EQ(store.Get(settings::Parameters), typed[2]);

    ASSERT_TRUE(StoreCommandLine(store, "-V7 %IN %OUT", def));
    const std::vector<std::string> shifted = {typed[1], typed[2], typed[3], typed[4], typed[5], "-V7 %IN %OUT"};
    EXPECT_EQ(LoadCommandHistory(store), shifted);

    // A slot emptied by hand is the first one reused.
    store.WriteString("Settings", "Para3", "");
    ASSERT_TRUE(StoreCommandLine(store, "-V8 %IN %OUT", def));
    EXPECT_EQ(store.ReadString("Settings", "Para3", ""), "-V8 %IN %OUT");
    EXPECT_EQ(store.ReadString("Settings", "Para6", ""), "-V7 %IN %OUT");
}

TEST(EncoderList, CommandHistory_SavesSixAndClearsTheRest)
{
    CMemorySettings store;
    SaveCommandHistory(store, {"1 %IN", "", "2 %IN", "3 %IN", "4 %IN", "5 %IN", "6 %IN", "7 %IN"});
    EXPECT_EQ(LoadCommandHistory(store),
              (std::vector<std::string>{"1 %IN", "2 %IN", "3 %IN", "4 %IN", "5 %IN", "6 %IN"}));
    SaveCommandHistory(store, {"only %IN"});
    EXPECT_EQ(store.Count(), 1u);
    EXPECT_EQ(store.ReadString("Settings", "Para1", ""), "only %IN");
}

}  // namespace
}  // namespace kelvane
