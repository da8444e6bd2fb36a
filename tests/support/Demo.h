#pragma once
// The demo recording bundled with the program: a short "side" of four tracks
// with surface noise between them and about 150 clicks of known place, width
// and channel. It is synthesised, not recorded, so it carries no rights and
// its truth is exact; and it is deterministic, byte for byte, so the tracks
// and clicks listed in the truth file stay valid wherever it is rebuilt.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/WavWriter.h"

namespace kelvane::test {

struct DemoTrack {
    size_t startFrame = 0;  // first frame of music
    size_t endFrame = 0;    // one past the last frame of music
};

struct DemoClick {
    size_t frame = 0;        // first frame of the click
    int width = 1;           // frames
    unsigned channelMask = 3;  // bit 0 left, bit 1 right
    int32_t amplitude = 0;   // peak before mixing, in 16-bit sample units
    bool inGap = false;      // lands outside the music
};

struct DemoRecording {
    int sampleRate = 44100;
    int channels = 2;
    int bits = 16;
    std::vector<int32_t> samples;  // interleaved stereo, 16-bit values
    std::vector<DemoTrack> tracks;
    std::vector<DemoClick> clicks;  // sorted by frame

    size_t Frames() const { return samples.size() / static_cast<size_t>(channels); }
    WavOptions Format() const;
};

// Builds the demo (about 100 s; takes well under a second optimised).
DemoRecording MakeDemoRecording();

// The truth file: rate, length, the tracks and the clicks, as JSON.
std::string DemoTruthJson(const DemoRecording& demo);

}  // namespace kelvane::test
