// The batch tool's interaction: questions answered without a person, boxes
// logged, and progress that suits both a terminal and a log file.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cli/TerminalInteraction.h"
#include "cli/TerminalProgress.h"
#include "cli/TerminalText.h"

namespace kelvane {
namespace {

using namespace std::chrono_literals;

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// A clock the test moves by hand, so throttling is deterministic.
struct FakeClock {
    CTerminalProgress::Clock::time_point now{};
    std::function<CTerminalProgress::Clock::time_point()> Fn()
    {
        return [this] { return now; };
    }
};

CTerminalProgress::Options PlainOptions(std::ostream& out)
{
    CTerminalProgress::Options o;
    o.out = &out;
    o.terminal = false;
    return o;
}

CTerminalProgress::Options TerminalOptions(std::ostream& out, FakeClock& clock, int columns = 200)
{
    CTerminalProgress::Options o;
    o.out = &out;
    o.terminal = true;
    o.columns = columns;
    o.now = clock.Fn();
    return o;
}

// --- questions -------------------------------------------------------------

TEST(TerminalInteraction, Defaults_SafeAnswerPerButtonSetUnlessTheCallerChoosesAnother)
{
    std::ostringstream out;
    CTerminalInteraction::Options o;
    o.out = &out;
    CTerminalInteraction safe(o);
    EXPECT_EQ(safe.MessageBox("Save changes?", kAppCaption, MbButtons::YesNo, MbIcon::Question), MbAnswer::No);
    EXPECT_EQ(safe.MessageBox("Save changes?", kAppCaption, MbButtons::YesNoCancel, MbIcon::Question),
              MbAnswer::Cancel);
    EXPECT_EQ(safe.MessageBox("Continue?", kAppCaption, MbButtons::OkCancel, MbIcon::Warning), MbAnswer::Cancel);
    EXPECT_EQ(safe.MessageBox("Done.", kAppCaption, MbButtons::Ok, MbIcon::Information), MbAnswer::Ok);

    o.defaults.yesNo = MbAnswer::Yes;       // "Discard the unsaved tracks?" is phrased the other way
    o.defaults.okCancel = MbAnswer::Yes;    // not a button of OkCancel
    o.defaults.yesNoCancel = MbAnswer::Ok;  // nor of YesNoCancel
    CTerminalInteraction chosen(o);
    EXPECT_EQ(chosen.Decide("q", MbButtons::YesNo), MbAnswer::Yes);
    EXPECT_EQ(chosen.Decide("q", MbButtons::OkCancel), MbAnswer::Cancel);
    EXPECT_EQ(chosen.Decide("q", MbButtons::YesNoCancel), MbAnswer::Cancel);
}

TEST(TerminalInteraction, Policy_ExactTextThenCallbackThenDefault)
{
    std::ostringstream out;
    CTerminalInteraction::Options o;
    o.out = &out;
    o.answers["Overwrite the existing tracks?\n"] = MbAnswer::Yes;  // key with a line break
    o.answers["Keep the old scan?"] = MbAnswer::Ok;                 // not offered by YesNo
    int asked = 0;
    o.policy = [&asked](std::string_view text, MbButtons) -> std::optional<MbAnswer> {
        ++asked;
        if (text.find("temporary") != std::string_view::npos) return MbAnswer::Yes;
        if (text.find("restart") != std::string_view::npos) return MbAnswer::Ok;  // never valid for YesNo
        return std::nullopt;
    };
    CTerminalInteraction ui(o);

    // Matching ignores trailing line breaks on either side.
    EXPECT_EQ(ui.MessageBox("Overwrite the existing tracks?", "", MbButtons::YesNo, MbIcon::Question), MbAnswer::Yes);
    EXPECT_EQ(ui.MessageBox("Overwrite the existing tracks?\r\n", "", MbButtons::YesNoCancel, MbIcon::Question),
              MbAnswer::Yes);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(ui.MessageBox("Keep the old scan?", "", MbButtons::YesNo, MbIcon::Question), MbAnswer::No);
    EXPECT_EQ(ui.MessageBox("Delete the temporary file?", "", MbButtons::YesNo, MbIcon::Question), MbAnswer::Yes);
    EXPECT_EQ(ui.MessageBox("Scan again from the restart point?", "", MbButtons::YesNo, MbIcon::Question),
              MbAnswer::No);
    EXPECT_EQ(ui.MessageBox("Something else?", "", MbButtons::OkCancel, MbIcon::Question), MbAnswer::Cancel);
    // A box with one button is not a question: the policy is not consulted.
    int before = asked;
    EXPECT_EQ(ui.MessageBox("Delete the temporary file failed.", "", MbButtons::Ok, MbIcon::Error), MbAnswer::Ok);
    EXPECT_EQ(asked, before);
}

// --- what is printed and kept ---------------------------------------------

TEST(TerminalInteraction, Boxes_PrintedOnePerLineAndRecorded)
{
    std::ostringstream out;
    CTerminalInteraction::Options o;
    o.out = &out;
    o.answers["Replace the file?"] = MbAnswer::Yes;
    CTerminalInteraction ui(o);
    EXPECT_FALSE(ui.LastError().has_value());

    ui.MessageBox("Cannot open 'a.wav'.\r\n", kAppCaption, MbButtons::Ok, MbIcon::Error);
    ui.MessageBox("First line\nsecond line\n\n", kAppCaption, MbButtons::Ok, MbIcon::Warning);
    ui.MessageBox("Replace the file?", kAppCaption, MbButtons::YesNo, MbIcon::Question);
    ui.MessageBox("Save first?", kAppCaption, MbButtons::YesNoCancel, MbIcon::Question);
    ui.MessageBox("Disk full.", kAppCaption, MbButtons::Ok, MbIcon::Error);
    ui.MessageBox("Finished.", kAppCaption, MbButtons::Ok, MbIcon::Information);

    EXPECT_EQ(out.str(),
              "kelvane: Cannot open 'a.wav'.\n"
              "kelvane: First line\nsecond line\n"
              "kelvane: Replace the file? -> Yes\n"
              "kelvane: Save first? -> Cancel\n"
              "kelvane: Disk full.\n"
              "kelvane: Finished.\n");

    const auto& shown = ui.Messages();
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0].text, "Cannot open 'a.wav'.\r\n");
    EXPECT_EQ(shown[0].icon, MbIcon::Error);
    EXPECT_EQ(shown[2].buttons, MbButtons::YesNo);
    EXPECT_EQ(shown[2].answer, MbAnswer::Yes);
    EXPECT_EQ(shown[3].answer, MbAnswer::Cancel);
    EXPECT_EQ(ui.LastError(), "Disk full.");
}

TEST(TerminalInteraction, LabelledButtons_TheLogNamesTheButtonChosen)
{
    std::ostringstream out;
    CTerminalInteraction::Options o;
    o.out = &out;
    o.answers["Save Changes to the Waveform?"] = MbAnswer::No;
    CTerminalInteraction ui(o);
    const MbLabels labels{.yes = "Save", .no = "Do Not Save", .cancel = "Cancel"};
    IInteraction& core = ui;
    EXPECT_EQ(core.MessageBox("Save Changes to the Waveform?", kAppCaption, MbButtons::YesNoCancel, MbIcon::Question,
                              labels),
              MbAnswer::No);
    // A button without a label keeps its usual word.
    EXPECT_EQ(core.MessageBox("Keep it?", kAppCaption, MbButtons::YesNo, MbIcon::Question, MbLabels{.yes = "Keep"}),
              MbAnswer::No);
    EXPECT_EQ(out.str(),
              "kelvane: Save Changes to the Waveform? -> Do Not Save\n"
              "kelvane: Keep it? -> No\n");
}

TEST(TerminalInteraction, Questions_NeverReadStandardInput)
{
    // Put an answer on stdin: a reader would take it and say Yes.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ASSERT_EQ(write(pipeFds[1], "y\n", 2), 2);
    int savedStdin = dup(STDIN_FILENO);  // -1 when run with stdin closed
    ASSERT_EQ(dup2(pipeFds[0], STDIN_FILENO), STDIN_FILENO);

    std::ostringstream out;
    CTerminalInteraction::Options o;
    o.out = &out;
    MbAnswer answer;
    {
        CTerminalInteraction ui(o);
        answer = ui.MessageBox("Overwrite?", "", MbButtons::YesNo, MbIcon::Question);
        auto progress = ui.CreateProgress(false);
        progress->SetPos(50);
        progress->Cancelled();
    }

    fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    char left[8] = {};
    ssize_t got = read(STDIN_FILENO, left, sizeof left);
    if (savedStdin >= 0) {
        dup2(savedStdin, STDIN_FILENO);
        close(savedStdin);
    } else {
        close(STDIN_FILENO);
    }
    if (pipeFds[0] != STDIN_FILENO) close(pipeFds[0]);
    close(pipeFds[1]);

    EXPECT_EQ(answer, MbAnswer::No);
    EXPECT_EQ(got, 2);
    EXPECT_EQ(std::string(left, 2), "y\n");
}

TEST(TerminalInteraction, BoxDuringTerminalProgress_ClearsTheBarAndItReturns)
{
    std::ostringstream out;
    FakeClock clock;
    CTerminalInteraction::Options o;
    o.out = &out;
    o.progress = TerminalOptions(out, clock);
    CTerminalInteraction ui(o);
    auto progress = ui.CreateProgress(true);
    EXPECT_TRUE(progress->SavingLayout());
    progress->SetPos(30);
    ui.MessageBox("Track 2 is shorter than a second.", "", MbButtons::Ok, MbIcon::Warning);
    progress->SetPos(31);  // within the throttle interval, yet redrawn

    std::string text = out.str();
    size_t box = text.find("kelvane: Track 2");
    ASSERT_NE(box, std::string::npos) << text;
    EXPECT_EQ(text.substr(box - 4, 4), "\r\033[K") << text;
    EXPECT_NE(text.find(" 30%"), std::string::npos);
    EXPECT_LT(text.find(" 30%"), box);
    EXPECT_GT(text.find(" 31%"), box);
}

// --- progress into a log or pipe --------------------------------------------

TEST(TerminalProgress, PlainSweep_OneLinePerTenPercent)
{
    std::ostringstream out;
    {
        CTerminalProgress p(PlainOptions(out));
        p.SetRange(0, 100);
        for (int i = 0; i <= 100; ++i) {
            p.SetMessage("Block " + std::to_string(i));  // messages alone print nothing
            p.SetPos(i);
        }
    }
    std::string text = out.str();
    EXPECT_EQ(Count(text, "\n"), 11u) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.rfind("Scanning Waveform: 0%", 0), 0u) << text;
    EXPECT_NE(text.find("Scanning Waveform: 40%  Block 40\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Scanning Waveform: 100%"), std::string::npos) << text;
}

TEST(TerminalProgress, PlainStagesAndCaptions_PrintWhenTheyChange)
{
    std::ostringstream out;
    CTerminalProgress p(PlainOptions(out));
    // Setting up before the first position is not worth a line.
    p.SetCaption("Saving Tracks");
    p.SetStageName(0, "Reading");
    p.SetStageName(1, "Writing");
    EXPECT_EQ(out.str(), "");

    p.SetRange(0, 1000);
    p.SetPos(0);
    p.SetStage(0, 0);
    p.SetPos(50);
    p.SetStage(1, 0);
    p.SetStage(1, 1);  // same stage: nothing new
    p.SetPos(990);
    p.SetRange(0, 10);  // a second sweep of the same stage starts over
    p.SetPos(0);
    p.SetPos(2);
    EXPECT_EQ(out.str(),
              "Saving Tracks: 0%\n"
              "Reading: 0%\n"
              "Writing: 5%\n"
              "Writing: 99%\n"
              "Writing: 0%\n"
              "Writing: 20%\n");
}

// --- progress on a terminal -------------------------------------------------

TEST(TerminalProgress, Terminal_DrawsTheBarInPlace)
{
    std::ostringstream out;
    FakeClock clock;
    {
        CTerminalProgress p(TerminalOptions(out, clock));
        p.SetRange(0, 200);
        p.SetMessage("side A.wav");
        clock.now += 1s;
        p.SetPos(84);
        EXPECT_EQ(p.BarLine(200), "[########............]  42%  Scanning Waveform  side A.wav");
        clock.now += 1s;
        p.SetPos(85);  // still 42%: nothing to redraw
    }
    std::string text = out.str();
    EXPECT_EQ(Count(text, "\r[########............]  42%  Scanning Waveform  side A.wav\033[K"), 1u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1);
}

TEST(TerminalProgress, TerminalFastSweep_IsThrottledButEndsOnTheFinalState)
{
    std::ostringstream out;
    FakeClock clock;
    {
        CTerminalProgress p(TerminalOptions(out, clock));
        for (int i = 0; i <= 100; ++i) {
            clock.now += 1ms;
            p.SetPos(i);
        }
    }
    std::string text = out.str();
    // 101 updates within 0.1 s: the first draw, perhaps one more, the last.
    EXPECT_LE(Count(text, "\r["), 3u) << text;
    EXPECT_NE(text.find("[####################] 100%"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(TerminalProgress, TerminalHeldBackState_ShownByTheNextPumpOrAStageChange)
{
    std::ostringstream out;
    FakeClock clock;
    CTerminalProgress p(TerminalOptions(out, clock));
    p.SetStageName(2, "Removing Clicks");
    p.SetPos(10);
    p.SetPos(20);  // held back: too soon
    EXPECT_EQ(out.str().find(" 20%"), std::string::npos);
    clock.now += 150ms;
    p.Cancelled();  // a pump with nothing new still shows what was held back
    EXPECT_NE(out.str().find(" 20%"), std::string::npos);

    p.SetStage(2, 2);  // too soon for numbers, but a new stage shows at once
    EXPECT_NE(out.str().find(" 20%  Removing Clicks"), std::string::npos) << out.str();
}

TEST(TerminalProgress, TerminalSlowUpdates_EachShowsAtOnce)
{
    // An operation that reports every couple of seconds: the line must show
    // each new position right away, not one report late.
    std::ostringstream out;
    FakeClock clock;
    CTerminalProgress p(TerminalOptions(out, clock));
    p.SetCaption("Saving Tracks");
    p.SetMessage("Track 1");  // held back: too soon after the caption
    for (int pos = 10; pos <= 30; pos += 10) {
        clock.now += 2s;
        p.SetPos(pos);
        EXPECT_NE(out.str().find(" " + std::to_string(pos) + "%  Saving Tracks  Track 1\033[K"), std::string::npos)
            << out.str();
    }
}

TEST(TerminalProgress, TerminalLine_FitsTheWidthWithoutSplittingCharacters)
{
    std::ostringstream out;
    FakeClock clock;
    CTerminalProgress p(TerminalOptions(out, clock, 40));
    p.SetMessage("caf\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 and a very long line\nwith a break");
    EXPECT_EQ(p.BarLine(40), "[....................]   0%  Scanning Wa");
    EXPECT_EQ(p.BarLine(50), "[....................]   0%  Scanning Waveform  ca");
    // 53 characters end after the second two-byte character: 55 bytes.
    std::string cut = p.BarLine(53);
    EXPECT_EQ(cut.size(), 55u);
    EXPECT_EQ(cut.substr(cut.size() - 9), "  caf\xC3\xA9\xC3\xA9");
    EXPECT_EQ(p.BarLine(500).find('\n'), std::string::npos);
}

TEST(TerminalProgress, Quiet_PrintsNothingButStillCancels)
{
    std::ostringstream out;
    FakeClock clock;
    bool interrupted = false;
    {
        CTerminalProgress::Options o = TerminalOptions(out, clock);
        o.quiet = true;
        o.cancelRequested = [&interrupted] { return interrupted; };
        CTerminalProgress p(o);
        p.SetCaption("Saving Tracks");
        p.SetPos(50);
        p.Suspend();
        EXPECT_FALSE(p.Cancelled());
        interrupted = true;
        EXPECT_TRUE(p.Cancelled());
    }
    EXPECT_EQ(out.str(), "");
}

TEST(TerminalProgress, OddRanges_PercentStaysWithinZeroToHundred)
{
    std::ostringstream out;
    CTerminalProgress p(PlainOptions(out));
    p.SetRange(5, 5);
    p.SetPos(5);
    EXPECT_EQ(p.PercentValue(), 0);
    p.SetRange(0, 100);
    p.SetPos(250);
    EXPECT_EQ(p.PercentValue(), 100);
    p.SetPos(-3);
    EXPECT_EQ(p.PercentValue(), 0);
    p.SetRange(INT32_MIN, INT32_MAX);
    p.SetPos(0);
    EXPECT_EQ(p.PercentValue(), 50);
}

// --- text from files --------------------------------------------------------

// Every byte a terminal would act on: C0 controls but the line break, DEL,
// and C1 controls, whether as UTF-8 (U+0080..U+009F) or as raw bytes.
::testing::AssertionResult Inert(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const size_t length = byte < 0x80 ? 1 : Utf8SequenceLength(text, i);
        const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F || length == 0 || c1)
            return ::testing::AssertionFailure() << "control byte " << static_cast<int>(byte) << " at " << i;
        i += length;
    }
    return ::testing::AssertionSuccess();
}

TEST(TerminalText, ControlsBecomeVisibleEscapesAndUtf8TextStays)
{
    // Clear the screen, set the window title, ring the bell, delete.
    EXPECT_EQ(Printable("\x1b[2J\x1b]0;owned\x07 x\x7f"), "\\x1b[2J\\x1b]0;owned\\x07 x\\x7f");
    EXPECT_EQ(Printable(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(Printable("one\ntwo\r\tthree"), "one\\x0atwo\\x0d\\x09three");
    EXPECT_EQ(Printable("one\r\ntwo\n\tthree\rfour", true), "one\ntwo\n\tthree\\x0dfour");
    // C1 controls in UTF-8 (CSI U+009B, NEL U+0085) and as raw bytes.
    EXPECT_EQ(Printable("\xC2\x9B" "31m \xC2\x85"), "\\u009b31m \\u0085");
    EXPECT_EQ(Printable("\x9B" "31m"), "\\x9b31m");
    EXPECT_EQ(Printable("Caf\xE9 \xE2\x82"), "Caf\\xe9 \\xe2\\x82");  // Latin-1, cut short
    // Well-formed text, the first character after the C1 block included.
    const std::string utf8 = "\xC2\xA0Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x8E\xB5 AC\\DC";
    EXPECT_EQ(Printable(utf8), utf8);
}

TEST(TerminalText, BoxesAndProgressShowFileTextsInert)
{
    const std::string hostile = "side \x1b]2;title\x07\xC2\x9B" "2J\x9b.wav";
    std::ostringstream boxes;
    CTerminalInteraction::Options o;
    o.out = &boxes;
    CTerminalInteraction ui(o);
    ui.MessageBox("The file \"" + hostile + "\" cannot be found.\r\nSecond line", kAppCaption, MbButtons::Ok,
                  MbIcon::Error);
    EXPECT_TRUE(Inert(boxes.str())) << boxes.str();
    EXPECT_EQ(boxes.str(), "kelvane: The file \"side \\x1b]2;title\\x07\\u009b2J\\x9b.wav\" cannot be found.\nSecond line\n");
    // The record keeps the text as the core gave it.
    EXPECT_EQ(ui.Messages().back().text.find(hostile), 10u);

    for (bool terminal : {false, true}) {
        std::ostringstream out;
        FakeClock clock;
        CTerminalProgress::Options options = terminal ? TerminalOptions(out, clock) : PlainOptions(out);
        CTerminalProgress p(options);
        p.SetCaption("Saving " + hostile);
        p.SetRange(0, 10);
        p.SetPos(5);
        p.SetMessage(hostile);
        p.SetPos(10);
        std::string shown = out.str();
        // The bar's own line control stays: "\r" and erase-to-end.
        for (const std::string own : {"\r", "\x1b[K"})
            for (size_t at = shown.find(own); at != std::string::npos; at = shown.find(own)) shown.erase(at, own.size());
        EXPECT_TRUE(Inert(shown)) << (terminal ? "terminal: " : "plain: ") << shown;
        EXPECT_NE(shown.find("\\x1b]2;title"), std::string::npos) << shown;
    }
}

}  // namespace
}  // namespace kelvane
