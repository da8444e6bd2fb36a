#pragma once
// Deterministic test signals. Everything is seeded from a small PRNG of our
// own and built in integer arithmetic wherever the result feeds a file, so a
// given seed yields the same samples on every machine and every standard
// library (std::uniform_*_distribution differ between implementations).
//
// Unless stated otherwise a function returns interleaved stereo samples
// (left, right, left, ...) as int32 values in the 16-bit range
// [-32768, 32767], ready for WriteWav with bits = 16.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane::test {

// splitmix64: tiny, fast and defined bit for bit, so sequences are portable.
class Prng {
public:
    explicit Prng(uint64_t seed) : state_(seed) {}

    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, n); n == 0 yields 0. Rejection keeps it unbiased.
    uint64_t Below(uint64_t n)
    {
        if (n == 0) return 0;
        const uint64_t limit = (0 - n) % n;  // 2^64 mod n
        uint64_t r;
        do {
            r = Next();
        } while (r < limit);
        return r % n;
    }

    // Uniform in [lo, hi] inclusive; hi < lo yields lo.
    int64_t Range(int64_t lo, int64_t hi)
    {
        if (hi <= lo) return lo;
        return lo + static_cast<int64_t>(Below(static_cast<uint64_t>(hi - lo) + 1));
    }

    // True with probability num/den.
    bool Chance(uint64_t num, uint64_t den) { return Below(den) < num; }

private:
    uint64_t state_;
};

inline constexpr int kDefaultRate = 44100;

// A pure tone, identical on both channels: amplitude in sample units
// (peak), frequency in Hz. Rounded to the nearest integer per sample.
std::vector<int32_t> Sine(double frequencyHz, double amplitude, size_t frames,
                          int sampleRate = kDefaultRate);

// White noise, uniform in [-amplitude, amplitude], independent per channel.
std::vector<int32_t> Noise(uint64_t seed, int32_t amplitude, size_t frames);

// Record-surface noise for the quiet parts of a transfer: softened noise with
// an RMS of about `level` sample units, plus a few tiny ticks per second
// (3 to 6 times level, 1 to 3 frames, often one channel only). The ticks are
// part of the texture, not clicks a declicker is expected to find.
std::vector<int32_t> SurfaceNoise(uint64_t seed, size_t frames, int32_t level,
                                  int sampleRate = kDefaultRate);

// Tape hiss: high-tilted noise with an RMS of about `level` sample units.
std::vector<int32_t> Hiss(uint64_t seed, int32_t level, size_t frames);

// How a piece of music is put together. Different styles sound clearly
// different (key, tempo, timbre, loudness) so track tests can tell them apart.
struct MusicStyle {
    uint64_t seed = 1;
    int sampleRate = kDefaultRate;
    int tempoBpm = 110;     // quarter notes per minute
    int rootMidi = 57;      // key root as a MIDI note (57 = A3)
    bool minor = false;
    double peak = 0.5;      // loudest sample as a fraction of full scale
    int brightness = 2;     // 0..4: how much the upper harmonics carry
};

// Chords, a bass line and a melody with attack/decay envelopes, slightly
// different in the two channels, ending with a short fade. The result is
// scaled so that its loudest sample is exactly round(peak * 32767).
std::vector<int32_t> Music(const MusicStyle& style, size_t frames);

// Which channels a click lands on.
inline constexpr unsigned kLeft = 1u;
inline constexpr unsigned kRight = 2u;
inline constexpr unsigned kBoth = kLeft | kRight;

// Adds an impulsive click of `width` frames starting at `frame`: a sharp spike
// of about `amplitude` sample units decaying over the width with some jagged
// ringing. The seed picks the sign and the jaggedness. channelMask bit c
// selects channel c of `channels`. Frames past the end are ignored; sums are
// clipped to the signed range of `bits`.
void AddClick(std::vector<int32_t>& interleaved, int channels, size_t frame, int width,
              int32_t amplitude, unsigned channelMask, uint64_t seed, int bits = 16);

// Adds src into dst starting at frame `atFrame` (both interleaved with
// `channels`), clipping to the 16-bit range. dst grows if src runs past it.
void MixInto(std::vector<int32_t>& dst, const std::vector<int32_t>& src, size_t atFrame,
             int channels = 2);

// Root-mean-square of one channel (or all samples when channel < 0) over
// frames [begin, end), in sample units; 0 for an empty range.
double Rms(const std::vector<int32_t>& interleaved, int channels, size_t begin, size_t end,
           int channel = -1);

}  // namespace kelvane::test
