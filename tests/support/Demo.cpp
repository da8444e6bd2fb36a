#include "tests/support/Demo.h"

#include <algorithm>
#include <array>

#include "tests/support/Signals.h"

namespace kelvane::test {

namespace {

constexpr int kRate = 44100;
constexpr int32_t kSurfaceLevel = 45;  // RMS, about -57 dBFS
constexpr int kClickCount = 150;
constexpr int kGapClickCount = 24;
constexpr size_t kMinClickSpacing = kRate / 10;

struct TrackPlan {
    MusicStyle style;
    size_t seconds10;  // length in tenths of a second
};

// Four tracks that differ in key, mode, tempo, timbre and level, so track
// splitting and per-track settings have something real to tell apart.
std::array<TrackPlan, 4> Plans()
{
    std::array<TrackPlan, 4> p{};
    p[0].style = {101, kRate, 96, 57, true, 0.55, 2};   // A minor
    p[0].seconds10 = 210;
    p[1].style = {202, kRate, 124, 62, false, 0.42, 3}; // D major
    p[1].seconds10 = 250;
    p[2].style = {303, kRate, 72, 54, true, 0.70, 1};   // F# minor
    p[2].seconds10 = 190;
    p[3].style = {404, kRate, 140, 51, false, 0.50, 4}; // E flat major
    p[3].seconds10 = 230;
    return p;
}

// Lead-in, the three gaps and the tail, in tenths of a second.
constexpr std::array<size_t, 5> kQuiet10 = {15, 30, 25, 35, 20};

size_t Tenths(size_t t) { return t * kRate / 10; }

int PickWidth(Prng& rng)
{
    // Mostly short ticks, some longer crackles, a few broad scratches.
    const uint64_t r = rng.Below(100);
    if (r < 50) return static_cast<int>(rng.Range(1, 4));
    if (r < 80) return static_cast<int>(rng.Range(5, 12));
    if (r < 95) return static_cast<int>(rng.Range(13, 25));
    return static_cast<int>(rng.Range(26, 40));
}

unsigned PickChannels(Prng& rng)
{
    const uint64_t r = rng.Below(20);
    if (r < 4) return kLeft;
    if (r < 7) return kRight;
    return kBoth;
}

int32_t PickAmplitude(Prng& rng, bool inGap)
{
    if (inGap) return static_cast<int32_t>(rng.Range(600, 9000));
    switch (rng.Below(3)) {
    case 0: return static_cast<int32_t>(rng.Range(1500, 5000));
    case 1: return static_cast<int32_t>(rng.Range(5000, 12000));
    default: return static_cast<int32_t>(rng.Range(12000, 24000));
    }
}

}  // namespace

WavOptions DemoRecording::Format() const
{
    WavOptions opts;
    opts.sampleRate = sampleRate;
    opts.channels = channels;
    opts.bits = bits;
    return opts;
}

DemoRecording MakeDemoRecording()
{
    DemoRecording demo;
    const auto plans = Plans();

    size_t cursor = Tenths(kQuiet10[0]);
    for (size_t i = 0; i < plans.size(); ++i) {
        const size_t length = Tenths(plans[i].seconds10);
        demo.tracks.push_back({cursor, cursor + length});
        cursor += length + Tenths(kQuiet10[i + 1]);
    }
    const size_t frames = cursor;

    // The surface runs under the music too, as on a real record.
    demo.samples = SurfaceNoise(7, frames, kSurfaceLevel, kRate);
    for (size_t i = 0; i < plans.size(); ++i) {
        const DemoTrack& t = demo.tracks[i];
        MixInto(demo.samples, Music(plans[i].style, t.endFrame - t.startFrame), t.startFrame);
    }

    // Quiet stretches where a click can land, away from the music's edges
    // so each click is clearly "in a gap" or "in a track".
    std::vector<std::pair<size_t, size_t>> quiet;
    size_t prevEnd = 0;
    for (const DemoTrack& t : demo.tracks) {
        quiet.emplace_back(prevEnd, t.startFrame);
        prevEnd = t.endFrame;
    }
    quiet.emplace_back(prevEnd, frames);
    const size_t margin = kRate / 20;

    Prng rng(2024);
    auto fits = [&](size_t frame) {
        for (const DemoClick& c : demo.clicks) {
            const size_t d = frame > c.frame ? frame - c.frame : c.frame - frame;
            if (d < kMinClickSpacing) return false;
        }
        return true;
    };
    // The attempt cap only guards against a future edit that asks for more
    // clicks than fit; with today's numbers every draw settles quickly.
    for (int attempt = 0; attempt < 1000000 && demo.clicks.size() < static_cast<size_t>(kClickCount); ++attempt) {
        const bool inGap = demo.clicks.size() < static_cast<size_t>(kGapClickCount);
        DemoClick c;
        c.inGap = inGap;
        c.width = PickWidth(rng);
        c.channelMask = PickChannels(rng);
        c.amplitude = PickAmplitude(rng, inGap);
        size_t lo, hi;
        if (inGap) {
            const auto& q = quiet[static_cast<size_t>(rng.Below(quiet.size()))];
            lo = q.first + margin;
            hi = q.second - margin - static_cast<size_t>(c.width);
        } else {
            const DemoTrack& t = demo.tracks[static_cast<size_t>(rng.Below(demo.tracks.size()))];
            lo = t.startFrame + margin;
            hi = t.endFrame - margin - static_cast<size_t>(c.width);
        }
        c.frame = static_cast<size_t>(rng.Range(static_cast<int64_t>(lo), static_cast<int64_t>(hi)));
        if (!fits(c.frame)) continue;
        demo.clicks.push_back(c);
    }
    std::sort(demo.clicks.begin(), demo.clicks.end(),
              [](const DemoClick& a, const DemoClick& b) { return a.frame < b.frame; });
    for (size_t i = 0; i < demo.clicks.size(); ++i) {
        const DemoClick& c = demo.clicks[i];
        AddClick(demo.samples, demo.channels, c.frame, c.width, c.amplitude, c.channelMask, 9000 + i);
    }
    return demo;
}

std::string DemoTruthJson(const DemoRecording& demo)
{
    std::string j;
    j += "{\n";
    j += "  \"sampleRate\": " + std::to_string(demo.sampleRate) + ",\n";
    j += "  \"channels\": " + std::to_string(demo.channels) + ",\n";
    j += "  \"bits\": " + std::to_string(demo.bits) + ",\n";
    j += "  \"frames\": " + std::to_string(demo.Frames()) + ",\n";
    j += "  \"tracks\": [\n";
    for (size_t i = 0; i < demo.tracks.size(); ++i) {
        const DemoTrack& t = demo.tracks[i];
        j += "    {\"start\": " + std::to_string(t.startFrame) + ", \"end\": " + std::to_string(t.endFrame) + "}";
        j += i + 1 < demo.tracks.size() ? ",\n" : "\n";
    }
    j += "  ],\n";
    j += "  \"clicks\": [\n";
    for (size_t i = 0; i < demo.clicks.size(); ++i) {
        const DemoClick& c = demo.clicks[i];
        std::string channels;
        for (int ch = 0; ch < demo.channels; ++ch) {
            if (!(c.channelMask & (1u << ch))) continue;
            if (!channels.empty()) channels += ", ";
            channels += std::to_string(ch);
        }
        j += "    {\"frame\": " + std::to_string(c.frame) + ", \"width\": " + std::to_string(c.width) +
             ", \"channels\": [" + channels + "], \"amplitude\": " + std::to_string(c.amplitude) +
             ", \"inGap\": " + (c.inGap ? "true" : "false") + "}";
        j += i + 1 < demo.clicks.size() ? ",\n" : "\n";
    }
    j += "  ]\n";
    j += "}\n";
    return j;
}

}  // namespace kelvane::test
