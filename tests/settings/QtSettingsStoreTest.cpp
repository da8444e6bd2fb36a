// The INI file itself: what other tools (and people) see, what a hand-edited
// or damaged file gives, and that nothing needs a QCoreApplication.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QCoreApplication>
#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include "settings/QtSettingsStore.h"
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

// QSettings objects in one process share their view of a file by path; a
// copy under a new name is read from disk, as another process would.
std::filesystem::path CopyOf(const std::filesystem::path& path)
{
    std::filesystem::path copy = path;
    copy += ".copy.ini";
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

TEST(QtSettingsStore, Written_PlainQSettingsAndAPersonCanReadTheFile)
{
    test::TempDir dir("kelvane-ini");
    const auto path = dir.file("Kelvane.ini");
    {
        CQtSettingsStore store(path.string());
        store.Set(settings::MinMagnitude, 7);
        store.Set(settings::EncoderPath, "/usr/bin/lame");
        store.Set(settings::Splash, 0);
        EXPECT_EQ(store.FileName(), path.string());
        EXPECT_EQ(store.Problem(), "");
    }
    ASSERT_EQ(QCoreApplication::instance(), nullptr);

    QSettings plain(QString::fromStdString(CopyOf(path).string()), QSettings::IniFormat);
    EXPECT_EQ(plain.value("SettingsZR/Min Magnitude").toInt(), 7);
    EXPECT_EQ(plain.value("SettingsZR/Encoder Path").toString(), QString("/usr/bin/lame"));
    EXPECT_EQ(plain.value("Settings/Splash").toInt(), 0);

    // One group per section, one "name=value" line per setting; a blank in a
    // name is escaped by QSettings but the name stays recognisable.
    std::string text = ReadText(path);
    EXPECT_NE(text.find("[SettingsZR]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Settings]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Magnitude=7\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Path=/usr/bin/lame\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Splash=0\n"), std::string::npos) << text;
}

TEST(QtSettingsStore, Batch_SavesOnceWhenTheOutermostOneEnds)
{
    test::TempDir dir("kelvane-ini");
    const QString path = QString::fromStdString(dir.file("Kelvane.ini").string());
    CQtSettingsStore store(path.toStdString());
    {
        CQtSettingsStore::Batch outer(store);
        store.Set(settings::OggQuality, 8);
        {
            CQtSettingsStore::Batch inner(store);
            store.Set(settings::FlacLevel, 6);
        }
        EXPECT_EQ(store.Get(settings::FlacLevel), 6);  // visible to the store at once
        // The bytes on disk: QSettings objects in one process share unsaved
        // changes, so only the file shows what was saved.
        EXPECT_EQ(ReadText(dir.file("Kelvane.ini")).find("Quality"), std::string::npos);
    }
    QSettings plain(QString::fromStdString(CopyOf(dir.file("Kelvane.ini")).string()), QSettings::IniFormat);
    EXPECT_EQ(plain.value("SettingsZR/Ogg Quality").toInt(), 8);
    EXPECT_EQ(plain.value("SettingsZR/Flac Level").toInt(), 6);
}

TEST(QtSettingsStore, HandEditedValues_NumbersParseAndTheRestFallBackToDefaults)
{
    test::TempDir dir("kelvane-ini");
    const auto path = dir.file("Kelvane.ini");
    WriteText(path,
              "[SettingsZR]\n"
              "Min%20Magnitude=3\n"
              "Source = 1096 \n"
              "Mode=per channel\n"
              "Cor%20Width=12x\n"
              "Temp%20Mode=99999999999\n"
              "Trace%20Sep=1.5\n"
              "Ogg%20Quality=4,5\n"
              "Encoder%20Path=a,b\n"
              "[Settings]\n"
              "Splash=0\n");
    CQtSettingsStore store(path.string());
    EXPECT_EQ(store.Problem(), "");
    EXPECT_EQ(store.Get(settings::MinMagnitude), 3);
    EXPECT_EQ(store.Get(settings::Source), settings::kSourceTape);
    EXPECT_EQ(store.Get(settings::Mode), settings::kModePerChannel);
    EXPECT_EQ(store.Get(settings::CorWidth), settings::kCorWidthNormal);
    EXPECT_EQ(store.Get(settings::TempMode), settings::kTempModeSystem);
    EXPECT_EQ(store.Get(settings::TraceSep), 100);
    EXPECT_EQ(store.Get(settings::OggQuality), 5);
    EXPECT_EQ(store.Get(settings::EncoderPath), "a, b");
    EXPECT_EQ(store.Get(settings::Splash), 0);
}

TEST(QtSettingsStore, MalformedFile_IsReadAndKeptAsACopyBeforeTheFirstSave)
{
    test::TempDir dir("kelvane-ini");
    const auto path = dir.file("Kelvane.ini");
    const std::string original =
        "[SettingsZR]\n"
        "Mode=1004\n"
        "a line the user typed without an equals sign\n"
        "[broken\n";
    WriteText(path, original);

    {
        CQtSettingsStore reader(path.string());
        EXPECT_EQ(reader.Get(settings::Mode), settings::kModeDifferential);
    }
    EXPECT_EQ(ReadText(path), original);  // a session that only reads leaves it alone

    CQtSettingsStore store(path.string());
    EXPECT_NE(store.Problem().find(path.string()), std::string::npos) << store.Problem();
    EXPECT_EQ(store.Get(settings::Mode), settings::kModeDifferential);
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".bak"));  // reading alone changes nothing

    store.Set(settings::Source, settings::kSourceTape);
    EXPECT_EQ(ReadText(path.string() + ".bak"), original);
    EXPECT_NE(ReadText(path).find("a line the user typed without an equals sign\n"), std::string::npos) << ReadText(path);
    EXPECT_NE(store.Problem().find(".bak"), std::string::npos) << store.Problem();
    CQtSettingsStore again(CopyOf(path).string());
    EXPECT_EQ(again.Get(settings::Source), settings::kSourceTape);
    EXPECT_EQ(again.Get(settings::Mode), settings::kModeDifferential);
}

TEST(QtSettingsStore, UnwritableLocation_KeepsValuesForTheSessionAndSaysSo)
{
    test::TempDir dir("kelvane-ini");
    const auto notADirectory = dir.file("plain-file");
    WriteText(notADirectory, "x");
    const std::string path = (notADirectory / "Kelvane.ini").string();

    CQtSettingsStore store(path);
    EXPECT_EQ(store.Get(settings::Source), settings::kSourceVinyl);
    store.Set(settings::Source, settings::kSourceTape);
    store.Set(settings::OutputPath, "/tmp/out");
    EXPECT_EQ(store.Get(settings::Source), settings::kSourceTape);
    EXPECT_EQ(store.Get(settings::OutputPath), "/tmp/out");
    EXPECT_NE(store.Problem().find(path), std::string::npos) << store.Problem();
    EXPECT_EQ(ReadText(notADirectory), "x");
}

TEST(QtSettingsStore, UserStore_LivesUnderTheOrganisationAndApplicationNames)
{
    // Redirect the user configuration folder so the test never touches the
    // real one; there is still no QCoreApplication to supply the names.
    test::TempDir dir("kelvane-user");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
    ASSERT_EQ(QCoreApplication::instance(), nullptr);

    const auto expected = dir.path() / "Tessaly Instruments" / "Kelvane.ini";
    {
        CQtSettingsStore store;
        EXPECT_EQ(store.FileName(), expected.string());
        store.Set(settings::TipStartUp, 1);
    }
    EXPECT_TRUE(std::filesystem::exists(expected));
    CQtSettingsStore explicitPath(CopyOf(expected).string());
    EXPECT_EQ(explicitPath.Get(settings::TipStartUp), 1);
}

TEST(QtSettingsStore, HandWrittenComments_AndUnreadableLinesOutliveEverySave)
{
    test::TempDir dir("kelvane-ini");
    const auto path = dir.file("Kelvane.ini");
    WriteText(path,
              "; My turntable's settings. Do not lose.\n"
              "[SettingsZR]\n"
              "; differential suits the worn records\n"
              "Mode=1004\n"
              "remember to clean the stylus\n"
              "Source=1096\n"
              "[Settings]\n"
              "# the splash is annoying\n"
              "Splash=0\n");
    {
        CQtSettingsStore store(path.string());
        EXPECT_NE(store.Problem().find("line 5"), std::string::npos) << store.Problem();
        store.Set(settings::MinMagnitude, 4);  // a save of its own
        {
            CQtSettingsStore::Batch batch(store);
            store.Set(settings::OggQuality, 7);
            store.Remove(settings::Splash.section, settings::Splash.name);
        }
        EXPECT_EQ(store.Get(settings::Mode), settings::kModeDifferential);
    }
    CQtSettingsStore another(CopyOf(path).string());
    another.Set(settings::FlacLevel, 3);
    for (const std::filesystem::path& file : {path, std::filesystem::path(another.FileName())}) {
        const std::string text = ReadText(file);
        for (const char* kept : {"; My turntable's settings. Do not lose.\n",
                                 "; differential suits the worn records\nMode=1004\n",
                                 "remember to clean the stylus\nSource=1096\n", "# the splash is annoying\n"})
            EXPECT_NE(text.find(kept), std::string::npos) << "lost: " << kept << "\n" << file << ":\n" << text;
        EXPECT_EQ(text.find("Splash=0"), std::string::npos) << text;
    }
    EXPECT_EQ(another.Get(settings::MinMagnitude), 4);
    EXPECT_EQ(another.Get(settings::OggQuality), 7);
    EXPECT_EQ(another.Get(settings::Source), settings::kSourceTape);
}

}  // namespace
}  // namespace kelvane

namespace kelvane {
namespace {

// Found by fuzzing: kept lines without an end of line, and bytes that are
// not text, must neither swallow the values written after them nor change
// what the store answers.
TEST(QtSettingsStore, KeptLinesOfAnyBytesNeverSwallowWrittenValues)
{
    test::TempDir dir;
    const std::filesystem::path path = dir.file("odd.ini");
    WriteText(path, std::string("[General]\n!\"\xb1\n\xff\xff\xff\xff\xff\xff\xff; my settin\xffg", 34));
    {
        CQtSettingsStore store(path.string());
        store.Set(settings::TempMode, settings::kTempModeUser);
        store.Set(settings::TempPath, "/scratch/side A");
        EXPECT_EQ(store.Get(settings::TempMode), settings::kTempModeUser);
        EXPECT_EQ(store.Get(settings::TempPath), "/scratch/side A");
    }
    CQtSettingsStore again(CopyOf(path).string());
    EXPECT_EQ(again.Get(settings::TempMode), settings::kTempModeUser);
    EXPECT_EQ(again.Get(settings::TempPath), "/scratch/side A");
}

}  // namespace
}  // namespace kelvane
