// The progress window is there for every operation, also when the front
// end offers none, and a disabled Cancel button is never asked about.

#include "declick/CCorrector.h"
#include "document/CProgressScope.h"
#include "document/CQuillon3Doc.h"
#include "document/CancelQuestions.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

// Every sample distinct enough that a frame taken from the wrong place
// shows; in 24 bits the low byte varies too.
int32_t SampleAt(size_t i, int bits)
{
    const int32_t v = static_cast<int32_t>((i * 7919) % 40001) - 20000;
    return bits == 24 ? v * 256 + static_cast<int32_t>((i * 37) & 0xFF) : v;
}

// Regeneration after a restore runs with Cancel disabled: an interrupt of the
// batch tool (a press the window records all the same) must not stop it.
TEST(DisabledCancel, CorrectionGenerationIsNotAskedAndMakesEveryRecord)
{
    test::TempDir dir;
    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::vector<int32_t> s(2 * 200000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = SampleAt(i, 16) / 4;
    ASSERT_TRUE(test::WriteWav(dir.file("c.wav"), {}, s));
    ASSERT_TRUE(OpenRecording(doc, dir.file("c.wav").string()).Ok());
    ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    for (int k = 1; k <= 20; ++k)
        doc.events.InsertAt(doc.events.Size() - 1, EventRecord{1, 0, doc.dataStart + 4 * 9000 * k, 4, 50});

    test::RecordingProgress window;
    doc.progress = &window;
    window.EnableCancel(false);
    window.CancelAtPump(3);
    CCorrector corrector(doc);
    EXPECT_EQ(corrector.GenerateAll(doc.events), GenerateOutcome::Completed);
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(window.Log()->cancelsRequested, 1);
    EXPECT_EQ(window.Log()->positions.back(), 20);

    // With the button enabled the same press is a question.
    window.EnableCancel(true);
    ui.Expect(std::string(cancel::kReallyCancel), MbAnswer::Yes);
    EXPECT_EQ(corrector.GenerateAll(doc.events), GenerateOutcome::Cancelled);
    ui.ExpectDone();
    doc.progress = nullptr;
}

// A front end without progress windows.
class NoWindows : public test::ScriptedInteraction {
public:
    std::unique_ptr<CProgressWnd> CreateProgress(bool) override { return nullptr; }
};

TEST(SilentProgress, PassesRunWhereTheFrontEndOffersNoWindow)
{
    test::TempDir dir;
    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    NoWindows ui;
    CQuillon3Doc doc{settings, ui};
    std::vector<int32_t> s(2 * 70000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = SampleAt(i, 16);
    ASSERT_TRUE(test::WriteWav(dir.file("q.wav"), {}, s));
    ASSERT_TRUE(OpenRecording(doc, dir.file("q.wav").string()).Ok());
    ASSERT_EQ(LoadRecording(doc, nullptr), LoadOutcome::Completed);
    {
        CProgressScope scope(doc);
        EXPECT_EQ(doc.progress, scope.get());
        EXPECT_FALSE(scope.CancelPressed());
    }
    EXPECT_EQ(doc.progress, nullptr);
    EXPECT_TRUE(ui.Messages().empty());
}

}  // namespace
}  // namespace kelvane
