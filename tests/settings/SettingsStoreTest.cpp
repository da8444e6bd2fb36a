// Behaviour both stores must share: the core cannot tell which one it got.

#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/QtSettingsStore.h"
#include "settings/SettingsStore.h"
#include "tests/support/TempDir.h"

namespace kelvane {
namespace {

// A backend hands out the store and, for Reopen, a second view of the same
// saved data: a fresh store on the same file, or the one memory store.
class MemoryBackend {
public:
    ISettingsStore& First() { return store_; }
    ISettingsStore& Reopen() { return store_; }

private:
    CMemorySettings store_;
};

class QtBackend {
public:
    ISettingsStore& First()
    {
        if (!first_) first_ = std::make_unique<CQtSettingsStore>(Path());
        return *first_;
    }
    // The first store stays open, so what the second sees must already be
    // on disk. It opens a copy: QSettings objects in one process share
    // their view of a file by path, which would hide what parsing gives.
    ISettingsStore& Reopen()
    {
        std::string copy = dir_.file("Copy" + std::to_string(++copies_) + ".ini").string();
        std::error_code ec;
        std::filesystem::copy_file(Path(), copy, ec);  // none yet: an empty store
        second_ = std::make_unique<CQtSettingsStore>(copy);
        return *second_;
    }

private:
    std::string Path() const { return dir_.file("Kelvane.ini").string(); }

    int copies_ = 0;

    test::TempDir dir_{"kelvane-settings"};
    std::unique_ptr<CQtSettingsStore> first_;
    std::unique_ptr<CQtSettingsStore> second_;
};

template <typename Backend>
class SettingsStoreTest : public ::testing::Test {
protected:
    Backend backend_;
};

using Backends = ::testing::Types<MemoryBackend, QtBackend>;
TYPED_TEST_SUITE(SettingsStoreTest, Backends);

struct ExpectedInt {
    const IntSetting& setting;
    const char* section;
    const char* name;
    int defaultValue;
};

// The stored names are the contract with files users already have: a
// renamed declaration would silently reset that preference.
const std::vector<ExpectedInt>& ExpectedInts()
{
    static const std::vector<ExpectedInt> expected = {
        {settings::Sensitivity, "SettingsZR", "Sensitivity", -1},
        {settings::SplitTracks, "SettingsZR", "Split Tracks", 1},
        {settings::Source, "SettingsZR", "Source", 1095},
        {settings::Mode, "SettingsZR", "Mode", 1005},
        {settings::MinMagnitude, "SettingsZR", "Min Magnitude", 0},
        {settings::CorWidth, "SettingsZR", "Cor Width", 1303},
        {settings::TempMode, "SettingsZR", "Temp Mode", 1135},
        {settings::OggQuality, "SettingsZR", "Ogg Quality", 5},
        {settings::FlacLevel, "SettingsZR", "Flac Level", 1},
        {settings::ResampleRate, "SettingsZR", "Resample Rate", 44100},
        {settings::Resample2Pass, "SettingsZR", "Resample 2pass", 0},
        {settings::TraceSep, "SettingsZR", "Trace Sep", 100},
        {settings::ListSel, "SettingsZR", "ListSel", 1165},
        {settings::ConvertMode, "SettingsZR", "Convert Mode", 1269},
        {settings::ExternalIndex, "SettingsZR", "External Index", -1},
        {settings::Splash, "Settings", "Splash", 1},
        {settings::TipStartUp, "TipZR", "StartUp", 0},
        {settings::TipFilePos, "TipZR", "FilePos", 0},
    };
    return expected;
}

TYPED_TEST(SettingsStoreTest, EmptyStore_DeclaredSettingsReadTheirDefaultsUnderTheirNames)
{
    ISettingsStore& store = this->backend_.First();
    for (const ExpectedInt& e : ExpectedInts()) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(std::string(e.setting.section), e.section);
        EXPECT_EQ(std::string(e.setting.name), e.name);
        EXPECT_EQ(store.Get(e.setting), e.defaultValue);
    }
    EXPECT_EQ(store.Get(settings::NormGain), "-1");
    EXPECT_EQ(store.Get(settings::PreSilence), "0");
    EXPECT_EQ(store.Get(settings::EncoderPath), "");
    EXPECT_EQ(std::string(settings::EncoderPath.name), "Encoder Path");

    // A value written under the literal name is what the declaration reads.
    for (const ExpectedInt& e : ExpectedInts()) store.WriteInt(e.section, e.name, e.defaultValue + 7);
    ISettingsStore& again = this->backend_.Reopen();
    for (const ExpectedInt& e : ExpectedInts()) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(again.Get(e.setting), e.defaultValue + 7);
    }
}

TYPED_TEST(SettingsStoreTest, WrittenValues_ReadBackUnchangedInAnotherStore)
{
    const std::vector<std::string> strings = {
        "",
        "plain",
        "/home/ann/Music/Side A",
        "a, b, c",
        "  leading and trailing blanks  ",
        "quote \" backslash \\ semicolon ; hash # equals = percent %20",
        "@Variant(not really)",
        "two\nlines",
        "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x8E\xB5",  // UTF-8 text
    };
    const std::vector<int> ints = {0, -1, 1, 1095, INT_MAX, INT_MIN};

    ISettingsStore& store = this->backend_.First();
    for (size_t i = 0; i < strings.size(); ++i) store.WriteString("SettingsZR", "Text " + std::to_string(i), strings[i]);
    for (size_t i = 0; i < ints.size(); ++i) store.WriteInt("Settings", "Number " + std::to_string(i), ints[i]);

    ISettingsStore& again = this->backend_.Reopen();
    for (size_t i = 0; i < strings.size(); ++i) {
        EXPECT_EQ(again.ReadString("SettingsZR", "Text " + std::to_string(i), "default"), strings[i]) << i;
    }
    for (size_t i = 0; i < ints.size(); ++i) {
        EXPECT_EQ(again.ReadInt("Settings", "Number " + std::to_string(i), 12345), ints[i]) << i;
    }
}

TYPED_TEST(SettingsStoreTest, NamesWithBlanks_AreDistinctFromLookalikes)
{
    ISettingsStore& store = this->backend_.First();
    store.Set(settings::MinMagnitude, 7);
    store.WriteInt("SettingsZR", "MinMagnitude", 8);
    store.WriteInt("SettingsZR", "Min%20Magnitude", 9);
    store.WriteInt("Settings", "Min Magnitude", 10);
    store.WriteInt("SettingsZR", "Min  Magnitude", 11);

    ISettingsStore& again = this->backend_.Reopen();
    EXPECT_EQ(again.Get(settings::MinMagnitude), 7);
    EXPECT_EQ(again.ReadInt("SettingsZR", "MinMagnitude", 0), 8);
    EXPECT_EQ(again.ReadInt("SettingsZR", "Min%20Magnitude", 0), 9);
    EXPECT_EQ(again.ReadInt("Settings", "Min Magnitude", 0), 10);
    EXPECT_EQ(again.ReadInt("SettingsZR", "Min  Magnitude", 0), 11);
    EXPECT_EQ(again.ReadInt("SettingsZR", "Min magnitude", -5), -5);
}

TYPED_TEST(SettingsStoreTest, TextValues_IntsReadTheDefaultUnlessANumber)
{
    ISettingsStore& store = this->backend_.First();
    store.Set(settings::Source, settings::kSourceTape);
    store.WriteString("SettingsZR", "Source", "tape");
    store.WriteString("SettingsZR", "Mode", "");
    store.WriteString("SettingsZR", "Trace Sep", "120");
    store.Set(settings::NormGain, "");

    ISettingsStore& again = this->backend_.Reopen();
    EXPECT_EQ(again.Get(settings::Source), settings::kSourceVinyl);
    EXPECT_EQ(again.ReadString("SettingsZR", "Source", ""), "tape");
    EXPECT_EQ(again.Get(settings::Mode), settings::kModePerChannel);
    EXPECT_EQ(again.Get(settings::TraceSep), 120);
    EXPECT_EQ(again.Get(settings::NormGain), "");  // an empty text is a value, not the default
    // The last write wins, whatever the type before it.
    again.WriteInt("SettingsZR", "Source", settings::kSourceTape);
    EXPECT_EQ(again.Get(settings::Source), settings::kSourceTape);
    EXPECT_EQ(again.ReadString("SettingsZR", "Source", ""), "1096");
}

// The memory store counts the saves a file would have cost, so the core's
// batches can be checked without a file.
TEST(MemorySettings, ABatchIsOneSaveAndAnEmptyOneNone)
{
    CMemorySettings store;
    store.Set(settings::FlacLevel, 3);
    EXPECT_EQ(store.Saves(), 1);
    {
        ISettingsStore::Batch outer(store);
        store.Set(settings::OggQuality, 8);
        {
            ISettingsStore::Batch inner(store);
            store.Set(settings::ApeLevel, 1);
            store.Remove(kSectionMain, "Flac Level");
        }
        EXPECT_EQ(store.Get(settings::ApeLevel), 1);  // read back at once
        EXPECT_EQ(store.Saves(), 1);
    }
    EXPECT_EQ(store.Saves(), 2);
    {
        ISettingsStore::Batch nothing(store);
        store.Remove(kSectionMain, "Flac Level");  // no longer there
    }
    EXPECT_EQ(store.Saves(), 2);
}

}  // namespace
}  // namespace kelvane
