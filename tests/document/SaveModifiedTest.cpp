// What becomes of the temporary files when a recording is closed.

#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "document/SaveModified.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

struct CloseFixture : ::testing::Test {
    test::TempDir dir;
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::string input;

    void SetUp() override
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        test::WavOptions mono;
        mono.channels = 1;
        input = dir.file("m.wav").string();
        ASSERT_TRUE(test::WriteWav(input, mono, std::vector<int32_t>(30000, 7)));
        ASSERT_TRUE(OpenRecording(doc, input).Ok());
        ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
        ASSERT_TRUE(fs::exists(dir.file("m~.wav")));
        ASSERT_TRUE(fs::exists(dir.file("m.tmp")));
    }
};

TEST_F(CloseFixture, CancelKeepsEverything)
{
    ui.Expect({kMsgSaveChanges, MbAnswer::Cancel, std::string("Kelvane"), MbButtons::YesNoCancel, MbIcon::Question});
    EXPECT_FALSE(SaveModified(doc, [] { return true; }));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_TRUE(fs::exists(dir.file("m~.wav")));
    // The buttons read as the user must see them.
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].yesLabel, "Save");
    EXPECT_EQ(ui.Messages()[0].noLabel, "Do Not Save");
    EXPECT_EQ(ui.Messages()[0].cancelLabel, "Cancel");
}

TEST_F(CloseFixture, DoNotSaveDeletesWorkingAndTemporarySourceButNeverTheInput)
{
    ui.Expect(kMsgSaveChanges, MbAnswer::No);
    EXPECT_TRUE(SaveModified(doc, [] {
        ADD_FAILURE() << "no save was asked for";
        return true;
    }));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_FALSE(fs::exists(dir.file("m~.wav")));
    EXPECT_FALSE(fs::exists(dir.file("m.tmp")));
    EXPECT_TRUE(fs::exists(input));
}

TEST_F(CloseFixture, FailedSaveRefusesToClose)
{
    ui.Expect(kMsgSaveChanges, MbAnswer::Yes);
    EXPECT_FALSE(SaveModified(doc, [] { return false; }));
    EXPECT_TRUE(fs::exists(dir.file("m~.wav")));
    ui.Expect(kMsgSaveChanges, MbAnswer::Yes);
    EXPECT_TRUE(SaveModified(doc, [&] {
        doc.SetModifiedFlag(false);
        return true;
    }));
}

TEST_F(CloseFixture, UnmodifiedDocumentClosesSilentlyAndAdjustmentRefuses)
{
    struct Adjusting : IDocObserver {
        bool IsAdjusting() const override { return true; }
    } adjusting;
    IDocObserver idle;
    doc.AddObserver(&idle);  // the waveform view is not the only observer
    doc.AddObserver(&adjusting);
    ui.Expect(kMsgAdjusting, MbAnswer::Ok);
    EXPECT_FALSE(SaveModified(doc, nullptr));
    doc.RemoveObserver(&adjusting);
    doc.SetModifiedFlag(false);
    EXPECT_TRUE(SaveModified(doc, nullptr));
    EXPECT_FALSE(fs::exists(dir.file("m~.wav")));
    EXPECT_FALSE(fs::exists(dir.file("m.tmp")));
    EXPECT_TRUE(fs::exists(input));
}

}  // namespace
}  // namespace kelvane
