// The test helpers themselves: a writer that silently wrote the wrong bytes
// or a script that let an unexpected question through would make every other
// test lie, so they get checked like production code.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Demo.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"

namespace kelvane::test {
namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

std::string Id(const std::vector<uint8_t>& b, size_t at)
{
    return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

// ---------------------------------------------------------------- WAV files

TEST(WavWriter, RoundTrip_PreservesEverySampleSize)
{
    TempDir dir;
    struct Case {
        int bits;
        int channels;
        std::vector<int32_t> samples;
    };
    const std::vector<Case> cases = {
        {8, 1, {-128, 0, 127, -1, 1}},
        {16, 2, {-32768, 32767, 0, -1, 1234, -4321}},
        {24, 1, {-8388608, 8388607, -1}},  // odd data size: needs the pad byte
        {32, 2, {INT32_MIN, INT32_MAX, 0, -7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        WavOptions opts;
        opts.bits = c.bits;
        opts.channels = c.channels;
        opts.sampleRate = 48000;
        const auto path = dir.file("rt" + std::to_string(c.bits) + ".wav");
        ASSERT_TRUE(WriteWav(path, opts, c.samples));
        const WavContents w = ReadWavSamples(path);
        ASSERT_TRUE(w.ok()) << w.error;
        EXPECT_EQ(w.rate, 48000);
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(w.bits, c.bits);
        EXPECT_EQ(w.dataOffset, 44u);
        EXPECT_EQ(w.samples, c.samples);
        EXPECT_EQ(std::filesystem::file_size(path) % 2, 0u);
    }
}

TEST(WavWriter, PlainHeader_HasTheStandardFields)
{
    WavOptions opts;  // 44.1 kHz 16-bit stereo
    const std::vector<uint8_t> b = WavBytes(opts, {1, 2, 3, 4});
    ASSERT_EQ(b.size(), 44u + 8u);
    EXPECT_EQ(Id(b, 0), "RIFF");
    EXPECT_EQ(Le32(b, 4), b.size() - 8);
    EXPECT_EQ(Id(b, 8), "WAVE");
    EXPECT_EQ(Id(b, 12), "fmt ");
    EXPECT_EQ(Le32(b, 16), 16u);
    EXPECT_EQ(Le32(b, 20), 0x00020001u);  // tag 1, 2 channels
    EXPECT_EQ(Le32(b, 24), 44100u);
    EXPECT_EQ(Le32(b, 28), 44100u * 4);
    EXPECT_EQ(Le32(b, 32), 0x00100004u);  // block align 4, 16 bits
    EXPECT_EQ(Id(b, 36), "data");
    EXPECT_EQ(Le32(b, 40), 8u);
    EXPECT_EQ(b[44], 1);
    EXPECT_EQ(b[45], 0);
}

TEST(WavWriter, OddHeaders_AreWrittenAsAsked)
{
    const std::vector<int32_t> s = {100, -100, 200, -200};
    {
        WavOptions opts;
        opts.lowerCaseIds = true;
        const auto b = WavBytes(opts, s);
        EXPECT_EQ(Id(b, 0), "riff");
        EXPECT_EQ(Id(b, 8), "wave");
        EXPECT_EQ(Id(b, 12), "fmt ");
        EXPECT_EQ(Id(b, 36), "data");
    }
    {
        WavOptions opts;
        opts.upperCaseIds = true;
        const auto b = WavBytes(opts, s);
        EXPECT_EQ(Id(b, 12), "FMT ");
        EXPECT_EQ(Id(b, 36), "DATA");
    }
    {
        // Foreign chunks before, between and after, one with an odd payload.
        WavOptions opts;
        opts.chunksBeforeFmt = {{"JUNK", std::string(5, 'j')}};
        opts.chunksBetween = {{"LIST", "INFOabcd"}};
        opts.chunksAfterData = {{"id3", "tag"}};
        const auto b = WavBytes(opts, s);
        EXPECT_EQ(Id(b, 12), "JUNK");
        EXPECT_EQ(Le32(b, 16), 5u);
        EXPECT_EQ(b[25], 0);  // pad byte
        EXPECT_EQ(Id(b, 26), "fmt ");
        EXPECT_EQ(Id(b, 50), "LIST");
        EXPECT_EQ(Id(b, 66), "data");
        EXPECT_EQ(Id(b, 82), "id3 ");
        EXPECT_EQ(b.size(), 82u + 8 + 4);
        EXPECT_EQ(Le32(b, 4), b.size() - 8);
        const WavContents w = ParseWavSamples(b);
        ASSERT_TRUE(w.ok()) << w.error;
        EXPECT_EQ(w.dataOffset, 74u);
        EXPECT_EQ(w.samples, s);
    }
    {
        // The "corrupt header" case: a zero data size over real samples.
        WavOptions opts;
        opts.dataSizeOverride = 0;
        opts.riffSizeOverride = 0xFFFFFFFFu;
        const auto b = WavBytes(opts, s);
        EXPECT_EQ(Le32(b, 40), 0u);
        EXPECT_EQ(Le32(b, 4), 0xFFFFFFFFu);
        ASSERT_EQ(b.size(), 44u + 8);
        EXPECT_EQ(b[44], 100);
    }
    {
        WavOptions opts;
        opts.fmtSize = 18;
        const auto b = WavBytes(opts, s);
        EXPECT_EQ(Le32(b, 16), 18u);
        EXPECT_EQ(b[36], 0);  // cbSize
        EXPECT_EQ(b[37], 0);
        EXPECT_EQ(Id(b, 38), "data");
        EXPECT_EQ(ParseWavSamples(b).dataOffset, 46u);
    }
    {
        WavOptions opts;
        opts.formatTag = 0xFFFE;
        opts.fmtSize = 40;
        opts.bits = 24;
        const std::vector<int32_t> s24 = {-8388608, 8388607};
        const auto b = WavBytes(opts, s24);
        EXPECT_EQ(Le32(b, 16), 40u);
        const WavContents w = ParseWavSamples(b);
        ASSERT_TRUE(w.ok()) << w.error;
        EXPECT_EQ(w.samples, s24);
    }
    {
        WavOptions opts;
        opts.truncateAt = 47;
        EXPECT_EQ(WavBytes(opts, s).size(), 47u);
        opts.truncateAt = 1000;  // beyond the end: no effect
        EXPECT_EQ(WavBytes(opts, s).size(), 52u);
    }
}

TEST(WavWriter, Reader_ExplainsWhatItCannotRead)
{
    const std::vector<int32_t> s = {1, 2, 3, 4};
    WavOptions cut;
    cut.truncateAt = 48;
    EXPECT_NE(ParseWavSamples(WavBytes(cut, s)).error.find("past the end"), std::string::npos);

    WavOptions fl;
    fl.formatTag = 3;
    fl.bits = 32;
    EXPECT_NE(ParseWavSamples(WavBytes(fl, s)).error.find("not PCM"), std::string::npos);

    EXPECT_FALSE(ParseWavSamples({'R', 'I', 'F', 'F'}).ok());
    TempDir dir;
    const WavContents missing = ReadWavSamples(dir.file("none.wav"));
    EXPECT_NE(missing.error.find("cannot open"), std::string::npos);
    EXPECT_FALSE(WriteWav(dir.file("no/such/folder.wav"), WavOptions{}, s));
}

// ------------------------------------------------------------------ signals

TEST(Signals, Generators_AreSeededAndRepeatable)
{
    EXPECT_EQ(Noise(5, 1000, 500), Noise(5, 1000, 500));
    EXPECT_NE(Noise(5, 1000, 500), Noise(6, 1000, 500));
    EXPECT_EQ(SurfaceNoise(5, 20000, 40), SurfaceNoise(5, 20000, 40));
    EXPECT_NE(SurfaceNoise(5, 20000, 40), SurfaceNoise(6, 20000, 40));
    EXPECT_EQ(Hiss(5, 40, 500), Hiss(5, 40, 500));
    MusicStyle a;
    MusicStyle b;
    b.seed = 2;
    EXPECT_EQ(Music(a, 30000), Music(a, 30000));
    EXPECT_NE(Music(a, 30000), Music(b, 30000));

    // The PRNG is our own so that sequences are fixed; pin its first value.
    Prng p(0);
    EXPECT_EQ(p.Next(), 0xE220A8397B1DCDAFull);
    for (int i = 0; i < 1000; ++i) {
        const int64_t v = p.Range(-3, 3);
        ASSERT_GE(v, -3);
        ASSERT_LE(v, 3);
    }
}

TEST(Signals, Levels_AreWhatWasAsked)
{
    const auto noise = Noise(1, 500, 10000);
    EXPECT_LE(*std::max_element(noise.begin(), noise.end()), 500);
    EXPECT_GE(*std::min_element(noise.begin(), noise.end()), -500);

    const auto surface = SurfaceNoise(3, 44100 * 2, 50);
    EXPECT_NEAR(Rms(surface, 2, 0, 44100 * 2), 50.0, 6.0);  // the ticks add a little
    const auto hiss = Hiss(3, 80, 44100);
    EXPECT_NEAR(Rms(hiss, 2, 0, 44100), 80.0, 1.0);

    const auto sine = Sine(1000.0, 10000.0, 44100);
    EXPECT_EQ(*std::max_element(sine.begin(), sine.end()), 10000);
    int crossings = 0;
    for (size_t n = 1; n < 44100; ++n)
        if ((sine[2 * n - 2] < 0) != (sine[2 * n] < 0)) ++crossings;
    EXPECT_NEAR(crossings, 2000, 2);

    MusicStyle style;
    style.peak = 0.4;
    const auto music = Music(style, 44100 * 5);
    int32_t peak = 0;
    bool stereoDiffers = false;
    for (size_t i = 0; i < music.size(); i += 2) {
        peak = std::max({peak, std::abs(music[i]), std::abs(music[i + 1])});
        stereoDiffers = stereoDiffers || music[i] != music[i + 1];
    }
    EXPECT_EQ(peak, std::lround(0.4 * 32767));
    EXPECT_TRUE(stereoDiffers);
    EXPECT_GT(Rms(music, 2, 0, 44100), 1000.0);
    EXPECT_EQ(music[music.size() - 2], 0);  // faded out, not cut off
}

TEST(Signals, AddClick_StaysOnItsChannelsAndFrames)
{
    std::vector<int32_t> s(2 * 100, 0);
    AddClick(s, 2, 10, 5, 20000, kLeft, 77);
    EXPECT_EQ(std::abs(s[2 * 10]), 20000);  // the spike's first frame is full height
    for (size_t n = 0; n < 100; ++n) {
        EXPECT_EQ(s[2 * n + 1], 0) << "right channel touched at " << n;
        if (n < 10 || n >= 15) {
            EXPECT_EQ(s[2 * n], 0) << "left touched outside the click at " << n;
        }
    }
    std::vector<int32_t> again(2 * 100, 0);
    AddClick(again, 2, 10, 5, 20000, kLeft, 77);
    EXPECT_EQ(s, again);

    // Sums clip to the sample size instead of running past it.
    for (int bits : {16, 24}) {
        std::vector<int32_t> probe(2, 0);
        AddClick(probe, 2, 0, 1, 20000, kLeft, 1, bits);
        const int32_t sign = probe[0] > 0 ? 1 : -1;
        const int32_t limit = bits == 16 ? 32767 : 8388607;
        std::vector<int32_t> loud(2, sign * (limit - 1000));
        AddClick(loud, 2, 0, 1, 20000, kLeft, 1, bits);
        EXPECT_EQ(loud[0], sign > 0 ? limit : -limit - 1) << bits;
    }

    // A click at or running past the end is cut, not written out of bounds.
    std::vector<int32_t> shortBuf(2 * 3, 0);
    AddClick(shortBuf, 2, 2, 40, 1000, kBoth, 3);
    AddClick(shortBuf, 2, 3, 40, 1000, kBoth, 3);
    EXPECT_EQ(shortBuf.size(), 6u);
    EXPECT_EQ(shortBuf[0], 0);
    EXPECT_NE(shortBuf[4], 0);
}

// ------------------------------------------------------------- demo recording

const DemoRecording& Demo()
{
    static const DemoRecording demo = MakeDemoRecording();
    return demo;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

TEST(DemoRecording, SameBytesEveryRun)
{
    const std::vector<uint8_t> first = WavBytes(Demo().Format(), Demo().samples);
    const DemoRecording again = MakeDemoRecording();
    EXPECT_TRUE(first == WavBytes(again.Format(), again.samples));
    EXPECT_EQ(DemoTruthJson(Demo()), DemoTruthJson(again));
    // The truth file shipped with the demo is only valid for these exact
    // bytes. If the demo is changed on purpose, update the value here and
    // regenerate every truth file made from the old one.
    EXPECT_EQ(Fnv1a(first), 0xd18f78f16656e557ull) << std::hex << Fnv1a(first);
}

TEST(DemoRecording, Layout_HasTracksGapsAndClicksAsDescribed)
{
    const DemoRecording& d = Demo();
    const double rate = d.sampleRate;
    EXPECT_EQ(d.sampleRate, 44100);
    EXPECT_EQ(d.channels, 2);
    EXPECT_NEAR(d.Frames() / rate, 100.0, 5.0);
    ASSERT_EQ(d.tracks.size(), 4u);
    EXPECT_NEAR(d.tracks.front().startFrame / rate, 1.5, 0.2);
    EXPECT_NEAR((d.Frames() - d.tracks.back().endFrame) / rate, 2.0, 0.3);

    std::vector<double> levels;
    for (size_t i = 0; i < d.tracks.size(); ++i) {
        const DemoTrack& t = d.tracks[i];
        const double len = (t.endFrame - t.startFrame) / rate;
        EXPECT_GE(len, 18.0);
        EXPECT_LE(len, 28.0);
        if (i > 0) {
            const double gap = (t.startFrame - d.tracks[i - 1].endFrame) / rate;
            EXPECT_GE(gap, 2.0);
            EXPECT_LE(gap, 4.0);
            // The gap is quiet surface noise only; the middle second of it
            // keeps away from the fade and the next attack.
            // Clicks may land here, so count loud samples rather than take the RMS.
            const size_t mid = (t.startFrame + d.tracks[i - 1].endFrame) / 2;
            size_t loud = 0;
            for (size_t k = 2 * (mid - 22050); k < 2 * (mid + 22050); ++k) loud += std::abs(d.samples[k]) > 500;
            EXPECT_LT(loud, 882u) << "gap before track " << i;
            EXPECT_LT(Rms(d.samples, 1, 2 * (mid - 22050), 2 * (mid + 22050)), 300.0);
        }
        levels.push_back(Rms(d.samples, 2, t.startFrame, t.startFrame + (t.endFrame - t.startFrame) / 2));
        EXPECT_GT(levels.back(), 1000.0) << "track " << i;
    }
    // Distinct loudness, so per-track level handling has something to see.
    std::sort(levels.begin(), levels.end());
    for (size_t i = 1; i < levels.size(); ++i) EXPECT_GT(levels[i] / levels[i - 1], 1.05);

    EXPECT_GE(d.clicks.size(), 130u);
    EXPECT_LE(d.clicks.size(), 170u);
    int leftOnly = 0, rightOnly = 0, inGaps = 0, narrow = 0, wide = 0;
    for (size_t i = 0; i < d.clicks.size(); ++i) {
        const DemoClick& c = d.clicks[i];
        ASSERT_GE(c.width, 1);
        ASSERT_LE(c.width, 40);
        ASSERT_LE(c.frame + static_cast<size_t>(c.width), d.Frames());
        if (i > 0) {
            ASSERT_GT(c.frame, d.clicks[i - 1].frame + 40) << "clicks overlap";
        }
        leftOnly += c.channelMask == kLeft;
        rightOnly += c.channelMask == kRight;
        narrow += c.width <= 4;
        wide += c.width >= 20;
        const bool inTrack = std::any_of(d.tracks.begin(), d.tracks.end(), [&](const DemoTrack& t) {
            return c.frame >= t.startFrame && c.frame < t.endFrame;
        });
        EXPECT_EQ(c.inGap, !inTrack) << "click at " << c.frame;
        if (c.inGap) {
            ++inGaps;
            // Over quiet surface the listed click must stand out where listed.
            const unsigned ch = (c.channelMask & kLeft) ? 0 : 1;
            EXPECT_GT(std::abs(d.samples[2 * c.frame + ch]), c.amplitude - 400) << "click at " << c.frame;
        }
    }
    EXPECT_GT(leftOnly, 5);
    EXPECT_GT(rightOnly, 5);
    EXPECT_GT(inGaps, 10);
    EXPECT_GT(narrow, 30);
    EXPECT_GT(wide, 3);
}

TEST(DemoRecording, TruthJson_ListsEveryTrackAndClick)
{
    const DemoRecording& d = Demo();
    const std::string j = DemoTruthJson(d);
    auto count = [&](const std::string& needle) {
        size_t n = 0;
        for (size_t at = j.find(needle); at != std::string::npos; at = j.find(needle, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("\"start\": "), d.tracks.size());
    EXPECT_EQ(count("\"frame\": "), d.clicks.size());
    EXPECT_NE(j.find("{\"start\": " + std::to_string(d.tracks[0].startFrame) + ", \"end\": " +
                     std::to_string(d.tracks[0].endFrame) + "}"),
              std::string::npos);
    EXPECT_GT(count("\"channels\": [0]"), 0u);
    EXPECT_GT(count("\"channels\": [1]"), 0u);
    EXPECT_GT(count("\"channels\": [0, 1]"), 0u);
    EXPECT_EQ(count("{"), count("}"));
    EXPECT_EQ(count("["), count("]"));
}

// ----------------------------------------------------------- scripted user

TEST(ScriptedInteraction, ScriptedQuestions_GetTheirAnswersAndAreRecorded)
{
    ScriptedInteraction ui;
    ui.Expect("Save changes?", MbAnswer::No).Expect("Really quit?", MbAnswer::Yes);
    EXPECT_EQ(ui.MessageBox("Save changes?", kAppCaption, MbButtons::YesNoCancel, MbIcon::Question), MbAnswer::No);
    EXPECT_EQ(ui.MessageBox("Really quit?", kAppCaption, MbButtons::YesNo, MbIcon::Question), MbAnswer::Yes);
    EXPECT_EQ(ui.PendingCount(), 0u);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(ui.Messages()[0].caption, kAppCaption);
    EXPECT_EQ(ui.Messages()[0].buttons, MbButtons::YesNoCancel);
    EXPECT_EQ(ui.Messages()[1].answer, MbAnswer::Yes);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Save changes?", "Really quit?"}));
}

TEST(ScriptedInteraction, UnexpectedQuestion_FailsTheTestAndBacksOut)
{
    MbAnswer answer = MbAnswer::Yes;
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            answer = ui.MessageBox("Overwrite?", kAppCaption, MbButtons::YesNoCancel, MbIcon::Warning);
        },
        "Unexpected message box: \"Overwrite?\"");
    EXPECT_EQ(answer, MbAnswer::Cancel);
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            answer = ui.MessageBox("Delete?", kAppCaption, MbButtons::YesNo, MbIcon::Question);
        },
        "Delete?");
    EXPECT_EQ(answer, MbAnswer::No);

    // Texts must match exactly: a reworded message is a different message.
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            ui.Expect("Save changes?", MbAnswer::Yes);
            answer = ui.MessageBox("Save changes ?", kAppCaption, MbButtons::OkCancel, MbIcon::Question);
            ui.MessageBox("Save changes?", kAppCaption, MbButtons::YesNo, MbIcon::Question);
        },
        "next expected: \"Save changes?\"");
    EXPECT_EQ(answer, MbAnswer::Cancel);
}

TEST(ScriptedInteraction, QuestionsNeverAsked_AreReported)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            ui.Expect("Split tracks now?", MbAnswer::Yes);
        },
        "never shown: \"Split tracks now?\"");
    // ExpectDone reports once; the destructor then has nothing left to say.
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            ui.Expect("A", MbAnswer::Ok);
            ui.ExpectDone();
            EXPECT_EQ(ui.PendingCount(), 0u);
        },
        "\"A\"");
}

TEST(ScriptedInteraction, WrongDetailsOrAnswer_AreReported)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            ScriptedInteraction::Expectation e;
            e.text = "Disk full";
            e.caption = std::string(kAppCaption);
            e.buttons = MbButtons::Ok;
            ui.Expect(e);
            ui.MessageBox("Disk full", "Other", MbButtons::Ok, MbIcon::Error);
        },
        "caption \"Other\"");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            ScriptedInteraction::Expectation e;
            e.text = "Disk full";
            e.icon = MbIcon::Error;
            ui.Expect(e);
            ui.MessageBox("Disk full", kAppCaption, MbButtons::Ok, MbIcon::Warning);
        },
        "icon Warning, expected Error");
    MbAnswer answer = MbAnswer::Yes;
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedInteraction ui;
            ui.Expect("Done.", MbAnswer::Yes);
            answer = ui.MessageBox("Done.", kAppCaption, MbButtons::OkCancel, MbIcon::Information);
        },
        "not among its buttons");
    EXPECT_EQ(answer, MbAnswer::Cancel);
}

TEST(ScriptedInteraction, AllowInformation_WavesThroughNoticesOnly)
{
    ScriptedInteraction ui;
    ui.AllowInformation(true);
    EXPECT_EQ(ui.MessageBox("Finished.", kAppCaption, MbButtons::Ok, MbIcon::Information), MbAnswer::Ok);
    EXPECT_EQ(ui.MessageBox("Note", kAppCaption, MbButtons::Ok, MbIcon::None), MbAnswer::Ok);
    EXPECT_NONFATAL_FAILURE(ui.MessageBox("Cannot open file", kAppCaption, MbButtons::Ok, MbIcon::Error),
                            "need scripting");
    EXPECT_NONFATAL_FAILURE(ui.MessageBox("Continue?", kAppCaption, MbButtons::OkCancel, MbIcon::Information),
                            "Unexpected");
    ASSERT_EQ(ui.Messages().size(), 4u);
    EXPECT_TRUE(ui.Messages()[0].expected);
    EXPECT_FALSE(ui.Messages()[2].expected);
}

TEST(ScriptedInteraction, ProgressWindows_CanBeSetUpAndInspectedAfterwards)
{
    ScriptedInteraction ui;
    ui.OnCreateProgress([](RecordingProgress& p, size_t index) {
        if (index == 1) p.CancelAtPos(50);
    });
    bool secondCancelled = false;
    {
        auto first = ui.CreateProgress(false);
        first->SetPos(60);
        EXPECT_FALSE(first->Cancelled());
        auto second = ui.CreateProgress(true);
        EXPECT_TRUE(second->SavingLayout());
        second->SetPos(20);
        second->SetPos(60);
        secondCancelled = second->Cancelled();
    }
    EXPECT_TRUE(secondCancelled);
    ASSERT_EQ(ui.Progresses().size(), 2u);
    EXPECT_TRUE(ui.Progresses()[0]->destroyed);
    EXPECT_TRUE(ui.Progresses()[1]->savingLayout);
    EXPECT_EQ(ui.Progresses()[1]->positions, (std::vector<int32_t>{20, 60}));
    EXPECT_EQ(ui.Progresses()[1]->cancelsRequested, 1);
}

// --------------------------------------------------------- progress window

TEST(RecordingProgress, CancelAtPump_PressesCancelOnTheNthPump)
{
    RecordingProgress p;
    p.CancelAtPump(3);
    p.SetPos(1);                   // pump 1
    p.StepIt();                    // pump 2
    EXPECT_TRUE(p.Cancelled());    // pump 3 presses, then reports it
    EXPECT_FALSE(p.Cancelled());   // once only
    EXPECT_EQ(p.Log()->pumps, 4);

    RecordingProgress q;
    q.CancelAtPos(100);
    q.SetPos(99);
    EXPECT_FALSE(q.Cancelled());
    q.SetPos(150);
    EXPECT_TRUE(q.Cancelled());
    q.SetPos(200);
    EXPECT_FALSE(q.Cancelled());
}

TEST(RecordingProgress, Log_KeepsWhatWasShown)
{
    std::shared_ptr<const ProgressLog> log;
    {
        RecordingProgress p;
        log = p.Log();
        p.SetCaption("Saving Tracks");
        p.SetMessage("Track 1");
        p.SetRange(0, 200);
        p.SetPos(0);
        p.SetPos(100);
        p.SetPos(50);  // backwards within one range
        p.SetRange(0, 10);
        p.SetPos(5);   // a new range may start lower
        p.SetStageName(0, "Scan");
        p.SetStage(0, 0);
        p.SetStage(0, 0);
        p.SetStage(1, 0);
        p.EnableCancel(false);
        EXPECT_FALSE(log->destroyed);
    }
    EXPECT_TRUE(log->destroyed);
    EXPECT_EQ(log->captions, (std::vector<std::string>{"Saving Tracks"}));
    EXPECT_EQ(log->messages, (std::vector<std::string>{"Track 1"}));
    EXPECT_EQ(log->positions, (std::vector<int32_t>{0, 100, 50, 5}));
    EXPECT_EQ(log->FirstBackwardStep(), std::optional<size_t>(2));
    EXPECT_EQ(log->ranges.size(), 2u);
    EXPECT_EQ(log->stages, (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}}));
    EXPECT_EQ(log->stageNames[0], "Scan");
    EXPECT_EQ(log->cancelEnabled, (std::vector<bool>{false}));
    EXPECT_EQ(log->percents.back(), "50%");

    RecordingProgress forward;
    forward.SetPos(10);
    forward.SetRange(0, 100);
    forward.SetPos(3);
    forward.SetPos(3);
    forward.SetPos(90);
    EXPECT_EQ(forward.Log()->FirstBackwardStep(), std::nullopt);
}

// ---------------------------------------------------------------- temp dirs

TEST(TempDir, IsUniqueAndRemovedWithItsContents)
{
    std::filesystem::path kept;
    {
        TempDir a;
        TempDir b;
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(std::filesystem::is_directory(a.path()));
        std::filesystem::create_directories(a.file("sub/deeper"));
        ASSERT_TRUE(WriteFileBytes(a.file("sub/deeper/x.bin"), {1, 2, 3}));
        EXPECT_EQ(ReadFileBytes(a.file("sub/deeper/x.bin")), (std::vector<uint8_t>{1, 2, 3}));
        kept = a.path();
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

}  // namespace
}  // namespace kelvane::test
