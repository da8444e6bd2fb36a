// Removing values from the programs' store: gone from the file when it can
// be written, hidden for the session when it cannot, and a removal of
// nothing never touches the file.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "settings/QtSettingsStore.h"
#include "settings/SettingsStore.h"
#include "tests/support/TempDir.h"

namespace kelvane {
namespace {

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// QSettings shares its view of a file by path inside one process; a copy is
// read from disk as another process would read it.
std::filesystem::path CopyOf(const std::filesystem::path& path)
{
    std::filesystem::path copy = path;
    copy += ".copy.ini";
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}

TEST(SettingsRemove, QtStore_RemovalReachesTheFileAndKeepsTheRest)
{
    test::TempDir dir("kelvane-remove");
    const auto path = dir.file("Kelvane.ini");
    CQtSettingsStore store(path.string());
    store.WriteString("Encoders", "Enc0", "/usr/bin/lame");
    store.WriteString("Encoders", "Ext0", "mp3");
    store.Set(settings::Splash, 0);

    store.Remove("Encoders", "Enc0");
    store.Remove("Encoders", "");  // must not take the whole section with it
    EXPECT_EQ(store.ReadString("Encoders", "Enc0", "none"), "none");
    CQtSettingsStore other(CopyOf(path).string());
    EXPECT_EQ(other.ReadString("Encoders", "Enc0", "none"), "none");
    EXPECT_EQ(other.ReadString("Encoders", "Ext0", ""), "mp3");
    EXPECT_EQ(other.Get(settings::Splash), 0);

    {
        CQtSettingsStore::Batch batch(store);
        store.Remove("Encoders", "Ext0");
        EXPECT_EQ(store.ReadString("Encoders", "Ext0", ""), "");
        EXPECT_NE(ReadText(path).find("mp3"), std::string::npos);  // saved when the batch ends
    }
    EXPECT_EQ(ReadText(path).find("mp3"), std::string::npos);
}

TEST(SettingsRemove, QtStore_RemovingNothingLeavesADamagedFileAlone)
{
    test::TempDir dir("kelvane-remove");
    const auto path = dir.file("Kelvane.ini");
    const std::string original = "[Encoders]\nEnc0=/usr/bin/lame\nno equals sign here\n[broken\n";
    WriteText(path, original);

    CQtSettingsStore store(path.string());
    store.Remove("Encoders", "Enc5");
    store.Remove("Settings", "Para1");
    EXPECT_EQ(ReadText(path), original);
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".bak"));

    // A real removal saves, and so keeps the original first, as a write would.
    store.Remove("Encoders", "Enc0");
    EXPECT_EQ(ReadText(path.string() + ".bak"), original);
    EXPECT_EQ(ReadText(path).find("lame"), std::string::npos);
}

TEST(SettingsRemove, QtStore_ReadOnlyFileHidesTheValueForTheSessionOnly)
{
    test::TempDir dir("kelvane-remove");
    const auto path = dir.file("Kelvane.ini");
    const std::string original = "[Encoders]\nEnc0=/usr/bin/lame\nEnc1=/usr/bin/flac\nnot a setting\n[broken\n";
    WriteText(path, original);
    // A folder where the copy of the damaged file would go: no copy can be
    // kept, so the store must not save over the file.
    std::filesystem::create_directories(path.string() + ".bak/keep");

    CQtSettingsStore store(path.string());
    store.WriteString("Encoders", "Ext0", "mp3");  // goes to the session overlay
    ASSERT_NE(store.Problem().find("this session only"), std::string::npos) << store.Problem();

    store.Remove("Encoders", "Enc0");
    store.Remove("Encoders", "Ext0");
    EXPECT_EQ(store.ReadString("Encoders", "Enc0", "none"), "none");
    EXPECT_EQ(store.ReadString("Encoders", "Ext0", "none"), "none");
    EXPECT_EQ(store.ReadString("Encoders", "Enc1", ""), "/usr/bin/flac");

    store.WriteString("Encoders", "Enc0", "/opt/lame");
    EXPECT_EQ(store.ReadString("Encoders", "Enc0", ""), "/opt/lame");
    store.Remove("Encoders", "Enc0");
    EXPECT_EQ(store.ReadString("Encoders", "Enc0", "none"), "none");
    EXPECT_EQ(ReadText(path), original);
}

}  // namespace
}  // namespace kelvane
