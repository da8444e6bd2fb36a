#include "tests/support/Signals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kelvane::test {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kOne30 = int64_t{1} << 30;
constexpr int64_t kOne15 = int64_t{1} << 15;

int32_t Clip16(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// A quarter wave is computed and mirrored, so the table is exactly symmetric
// and sin(pi/2) is exactly one. Entries are rounded to integers: a last-bit
// difference between two maths libraries cannot reach the samples.
constexpr int kTableBits = 12;
constexpr int kTableSize = 1 << kTableBits;

const std::array<int32_t, kTableSize + 1>& SineTable()
{
    static const std::array<int32_t, kTableSize + 1> table = [] {
        std::array<int32_t, kTableSize + 1> t{};
        const int quarter = kTableSize / 4;
        for (int i = 0; i <= quarter; ++i) {
            double s = std::sin(kPi / 2.0 * static_cast<double>(i) / quarter);
            t[static_cast<size_t>(i)] = static_cast<int32_t>(std::llround(s * static_cast<double>(kOne30)));
        }
        for (int i = 0; i <= quarter; ++i) t[static_cast<size_t>(2 * quarter - i)] = t[static_cast<size_t>(i)];
        for (int i = 1; i <= 2 * quarter; ++i) t[static_cast<size_t>(2 * quarter + i)] = -t[static_cast<size_t>(2 * quarter - i)];
        return t;
    }();
    return table;
}

// Sine of a 32-bit phase (2^32 = one turn) in Q30, linearly interpolated.
inline int64_t Osc(const std::array<int32_t, kTableSize + 1>& t, uint32_t phase)
{
    const uint32_t idx = phase >> (32 - kTableBits);
    const int64_t frac = (phase >> (32 - kTableBits - 16)) & 0xFFFF;
    const int64_t a = t[idx];
    const int64_t b = t[idx + 1];
    return a + (((b - a) * frac) >> 16);
}

// Equal-tempered semitone ratios as literals, so no pow() is involved.
constexpr std::array<double, 12> kSemitone = {
    1.0,
    1.0594630943592953,
    1.122462048309373,
    1.189207115002721,
    1.2599210498948732,
    1.3348398541700344,
    1.4142135623730951,
    1.4983070768766815,
    1.5874010519681994,
    1.681792830507429,
    1.7817974362806785,
    1.8877486253633868,
};

double MidiFrequency(int midi)
{
    const int k = midi - 69;
    const int octave = k >= 0 ? k / 12 : -((-k + 11) / 12);
    const int semi = k - 12 * octave;
    return std::ldexp(440.0 * kSemitone[static_cast<size_t>(semi)], octave);
}

struct Voice {
    size_t start = 0;
    size_t length = 0;
    int midi = 60;
    int64_t gain = 8000;   // Q15
    int64_t panL = kOne15; // Q15
    int64_t panR = kOne15; // Q15
    size_t delayR = 0;     // frames the right channel lags
    uint32_t phase = 0;    // starting phase of the fundamental
    int64_t attack = 100;  // frames
    int64_t tau = 20000;   // frames for the fundamental to fall by 1/e
    int64_t release = 400; // frames of the closing linear fade
    const std::array<int64_t, 5>* weights = nullptr;  // Q15 per harmonic
};

void RenderVoice(const Voice& v, int rate, std::vector<int64_t>& left, std::vector<int64_t>& right)
{
    const auto& table = SineTable();
    const size_t total = left.size();
    if (v.start >= total || v.length == 0) return;
    const size_t len = std::min(v.length, total - v.start);

    const double f0 = MidiFrequency(v.midi);
    std::array<uint32_t, 5> phase{};
    std::array<uint32_t, 5> inc{};
    std::array<int64_t, 5> env{};
    std::array<int64_t, 5> decay{};
    int harmonics = 0;
    for (int h = 1; h <= 5; ++h) {
        if (f0 * h >= 0.45 * rate || (*v.weights)[static_cast<size_t>(h - 1)] == 0) break;
        const auto i = static_cast<size_t>(h - 1);
        inc[i] = static_cast<uint32_t>(std::llround(f0 * h * 4294967296.0 / rate));
        phase[i] = v.phase * static_cast<uint32_t>(h);
        env[i] = kOne30;
        // Upper partials die away sooner, as on a plucked or struck string.
        // (1 - 1/tau) stands in for exp(-1/tau): integer-only and portable.
        const int64_t tauH = std::max<int64_t>(1, v.tau * 2 / (h + 1));
        decay[i] = kOne30 - kOne30 / tauH;
        harmonics = h;
    }
    const int64_t attack = std::max<int64_t>(1, v.attack);
    const int64_t release = std::max<int64_t>(1, std::min<int64_t>(v.release, static_cast<int64_t>(len)));

    for (size_t n = 0; n < len; ++n) {
        int64_t s = 0;
        for (int hi = 0; hi < harmonics; ++hi) {
            const auto i = static_cast<size_t>(hi);
            s += (((Osc(table, phase[i]) * env[i]) >> 30) * (*v.weights)[i]) >> 15;
            phase[i] += inc[i];
            if (static_cast<int64_t>(n) >= attack) env[i] = (env[i] * decay[i]) >> 30;
        }
        const auto ni = static_cast<int64_t>(n);
        if (ni < attack) s = s * ni / attack;
        const int64_t left_frames = static_cast<int64_t>(len) - ni;
        if (left_frames < release) s = s * left_frames / release;
        s = (s * v.gain) >> 15;
        left[v.start + n] += (s * v.panL) >> 15;
        const size_t r = v.start + n + v.delayR;
        if (r < total) right[r] += (s * v.panR) >> 15;
    }
}

// Harmonic weights (Q15) by brightness, for pads, bass and melody.
const std::array<std::array<int64_t, 5>, 5> kPadWeights = {{
    {32768, 6000, 1500, 0, 0},
    {32768, 9000, 3000, 800, 0},
    {32768, 12000, 5000, 1800, 600},
    {32768, 15000, 8000, 3500, 1500},
    {32768, 19000, 11000, 6000, 3000},
}};
const std::array<std::array<int64_t, 5>, 5> kBassWeights = {{
    {32768, 8000, 2000, 0, 0},
    {32768, 12000, 4000, 1500, 0},
    {32768, 16000, 7000, 3000, 1000},
    {32768, 19000, 10000, 5000, 2000},
    {32768, 22000, 14000, 8000, 4000},
}};
const std::array<std::array<int64_t, 5>, 5> kLeadWeights = {{
    {32768, 10000, 4000, 1500, 500},
    {32768, 15000, 8000, 4000, 1500},
    {32768, 19000, 12000, 7000, 3500},
    {32768, 22000, 16000, 10000, 6000},
    {32768, 26000, 20000, 14000, 9000},
}};

// Scales the raw mixes so that the loudest sample becomes `target`, rounding
// half away from zero, and interleaves them.
std::vector<int32_t> Normalise(const std::vector<int64_t>& left, const std::vector<int64_t>& right,
                               int64_t target)
{
    int64_t peak = 0;
    for (size_t i = 0; i < left.size(); ++i) {
        peak = std::max(peak, left[i] < 0 ? -left[i] : left[i]);
        peak = std::max(peak, right[i] < 0 ? -right[i] : right[i]);
    }
    std::vector<int32_t> out(left.size() * 2, 0);
    if (peak == 0 || target == 0) return out;
    auto scale = [&](int64_t x) {
        const int64_t num = x * target;
        const int64_t half = peak / 2;
        return static_cast<int32_t>(num >= 0 ? (num + half) / peak : -((-num + half) / peak));
    };
    for (size_t i = 0; i < left.size(); ++i) {
        out[2 * i] = Clip16(scale(left[i]));
        out[2 * i + 1] = Clip16(scale(right[i]));
    }
    return out;
}

// Scales raw integer noise to the wanted RMS. sqrt is correctly rounded in
// IEEE arithmetic, and products/quotients are too, so this stays portable.
std::vector<int32_t> ScaleToRms(const std::vector<int64_t>& raw, int32_t level)
{
    std::vector<int32_t> out(raw.size(), 0);
    if (raw.empty() || level <= 0) return out;
    uint64_t sumSq = 0;
    for (int64_t v : raw) sumSq += static_cast<uint64_t>(v * v);
    const double rms = std::sqrt(static_cast<double>(sumSq) / static_cast<double>(raw.size()));
    if (rms <= 0.0) return out;
    const double factor = static_cast<double>(level) / rms;
    for (size_t i = 0; i < raw.size(); ++i)
        out[i] = Clip16(std::llround(static_cast<double>(raw[i]) * factor));
    return out;
}

}  // namespace

std::vector<int32_t> Sine(double frequencyHz, double amplitude, size_t frames, int sampleRate)
{
    std::vector<int32_t> out(frames * 2);
    const double rate = sampleRate > 0 ? sampleRate : kDefaultRate;
    for (size_t n = 0; n < frames; ++n) {
        const double v = amplitude * std::sin(2.0 * kPi * frequencyHz * static_cast<double>(n) / rate);
        out[2 * n] = out[2 * n + 1] = Clip16(std::llround(v));
    }
    return out;
}

std::vector<int32_t> Noise(uint64_t seed, int32_t amplitude, size_t frames)
{
    Prng rng(seed);
    std::vector<int32_t> out(frames * 2);
    const int64_t a = std::clamp<int64_t>(amplitude, 0, 32767);
    for (auto& s : out) s = static_cast<int32_t>(rng.Range(-a, a));
    return out;
}

std::vector<int32_t> SurfaceNoise(uint64_t seed, size_t frames, int32_t level, int sampleRate)
{
    Prng rng(seed);
    const int rate = sampleRate > 0 ? sampleRate : kDefaultRate;
    // Groove noise is partly common to both walls; a gentle low-pass takes
    // the edge off so it reads as surface rather than hiss.
    std::vector<int64_t> raw(frames * 2);
    int64_t yl = 0, yr = 0;
    for (size_t n = 0; n < frames; ++n) {
        const int64_t common = rng.Range(-32768, 32767);
        const int64_t xl = common + rng.Range(-32768, 32767);
        const int64_t xr = common + rng.Range(-32768, 32767);
        yl += (xl - yl) >> 1;
        yr += (xr - yr) >> 1;
        raw[2 * n] = yl;
        raw[2 * n + 1] = yr;
    }
    std::vector<int32_t> out = ScaleToRms(raw, level);
    if (level <= 0) return out;
    for (size_t pos = static_cast<size_t>(rng.Range(rate / 16, rate / 2)); pos < frames;
         pos += static_cast<size_t>(rng.Range(rate / 16, rate / 2))) {
        const auto amp = static_cast<int32_t>(std::min<int64_t>(32767, int64_t{level} * rng.Range(3, 6)));
        const int width = static_cast<int>(rng.Range(1, 3));
        const auto mask = static_cast<unsigned>(rng.Range(1, 3));
        AddClick(out, 2, pos, width, amp, mask, rng.Next());
    }
    return out;
}

std::vector<int32_t> Hiss(uint64_t seed, int32_t level, size_t frames)
{
    Prng rng(seed);
    std::vector<int64_t> raw(frames * 2);
    int64_t pl = 0, pr = 0;
    for (size_t n = 0; n < frames; ++n) {
        const int64_t xl = rng.Range(-32768, 32767);
        const int64_t xr = rng.Range(-32768, 32767);
        raw[2 * n] = xl - pl;
        raw[2 * n + 1] = xr - pr;
        pl = xl;
        pr = xr;
    }
    return ScaleToRms(raw, level);
}

std::vector<int32_t> Music(const MusicStyle& style, size_t frames)
{
    if (frames == 0) return {};
    Prng rng(style.seed);
    const int rate = style.sampleRate > 0 ? style.sampleRate : kDefaultRate;
    const int bpm = std::clamp(style.tempoBpm, 30, 300);
    const auto beat = static_cast<size_t>(rate) * 60 / static_cast<size_t>(bpm);
    const size_t bar = 4 * beat;
    const int bright = std::clamp(style.brightness, 0, 4);

    static constexpr std::array<int, 7> kMajor = {0, 2, 4, 5, 7, 9, 11};
    static constexpr std::array<int, 7> kMinor = {0, 2, 3, 5, 7, 8, 10};
    const auto& scale = style.minor ? kMinor : kMajor;
    auto pitch = [&](int degree, int octave) {
        const int oct = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
        const int d = degree - 7 * oct;
        return style.rootMidi + 12 * (octave + oct) + scale[static_cast<size_t>(d)];
    };

    static constexpr std::array<std::array<int, 4>, 4> kMajorProgressions = {{
        {0, 5, 3, 4}, {0, 3, 4, 0}, {0, 4, 5, 3}, {0, 3, 0, 4}}};
    static constexpr std::array<std::array<int, 4>, 4> kMinorProgressions = {{
        {0, 5, 2, 6}, {0, 3, 4, 0}, {0, 6, 5, 4}, {0, 3, 6, 4}}};
    const auto& progression =
        (style.minor ? kMinorProgressions : kMajorProgressions)[static_cast<size_t>(rng.Below(4))];

    std::vector<Voice> voices;
    // A leftover partial bar joins the final one, which holds the tonic.
    const size_t bars = std::max<size_t>(1, frames / bar);
    int melodyDegree = static_cast<int>(rng.Range(2, 6));
    for (size_t b = 0; b < bars; ++b) {
        const size_t barStart = b * bar;
        if (barStart >= frames) break;
        const bool last = b + 1 == bars;
        const int degree = last ? 0 : progression[b % 4];
        const size_t barLen = last ? frames - barStart : bar;

        // Pad chord: three sustained voices spread a little across the stereo image.
        static constexpr std::array<std::array<int64_t, 2>, 3> kPadPans = {{
            {22000, 15000}, {18500, 18500}, {15000, 22000}}};
        for (int t = 0; t < 3; ++t) {
            Voice v;
            v.start = barStart;
            v.length = barLen;
            v.midi = pitch(degree + 2 * t, 0);
            v.gain = 6500;
            v.panL = kPadPans[static_cast<size_t>(t)][0];
            v.panR = kPadPans[static_cast<size_t>(t)][1];
            v.attack = rate / 40;
            v.tau = rate * 6 / 5;
            v.release = rate / 50;
            v.weights = &kPadWeights[static_cast<size_t>(bright)];
            voices.push_back(v);
        }
        // Bass: root, then root or fifth, a half bar each.
        for (int half = 0; half < 2; ++half) {
            const size_t s = barStart + static_cast<size_t>(half) * 2 * beat;
            if (s >= frames) break;
            Voice v;
            v.start = s;
            v.length = (last && half == 1) ? frames - s : 2 * beat;
            v.midi = pitch(half == 1 && !last && rng.Chance(1, 2) ? degree + 4 : degree, -1);
            v.gain = 13000;
            v.panL = v.panR = 19000;
            v.attack = rate / 200;
            v.tau = rate * 7 / 20;
            v.release = rate / 60;
            v.weights = &kBassWeights[static_cast<size_t>(bright)];
            voices.push_back(v);
        }
        if (last) continue;
        // Melody: a random walk on the scale that lands on a chord tone at
        // each bar, with the odd rest and the odd pair of eighths.
        for (size_t q = 0; q < 4; ++q) {
            const size_t beatStart = barStart + q * beat;
            if (rng.Chance(1, 6)) continue;
            const int pieces = rng.Chance(1, 3) ? 2 : 1;
            for (int p = 0; p < pieces; ++p) {
                if (q == 0 && p == 0) {
                    melodyDegree = degree + 2 * static_cast<int>(rng.Below(3));
                } else {
                    melodyDegree += static_cast<int>(rng.Range(-2, 2));
                    melodyDegree = std::clamp(melodyDegree, -1, 9);
                }
                Voice v;
                v.start = beatStart + static_cast<size_t>(p) * (beat / static_cast<size_t>(pieces));
                v.length = beat / static_cast<size_t>(pieces);
                v.midi = pitch(melodyDegree, 1);
                v.gain = 9000 + rng.Range(0, 3000);
                v.panL = 15500;
                v.panR = 21000;
                v.delayR = 9;
                v.attack = rate / 300 + rng.Range(0, rate / 150);
                v.tau = rate / 4;
                v.release = rate / 80;
                v.weights = &kLeadWeights[static_cast<size_t>(bright)];
                voices.push_back(v);
            }
        }
    }

    // Seeded starting phases make every seed sound different from the first
    // frame on, even where two seeds happen to pick the same notes.
    for (Voice& v : voices) v.phase = static_cast<uint32_t>(rng.Next() >> 32);
    std::vector<int64_t> left(frames, 0), right(frames, 0);
    for (const Voice& v : voices) RenderVoice(v, rate, left, right);

    // Close with a fade so the track ends in silence rather than mid-note.
    const size_t fade = std::min<size_t>(static_cast<size_t>(rate) * 3 / 2, frames / 4);
    for (size_t i = 0; i < fade; ++i) {
        const size_t n = frames - fade + i;
        const auto remain = static_cast<int64_t>(fade - 1 - i);
        left[n] = left[n] * remain / static_cast<int64_t>(fade);
        right[n] = right[n] * remain / static_cast<int64_t>(fade);
    }

    const double peak = std::clamp(style.peak, 0.0, 1.0);
    return Normalise(left, right, std::llround(peak * 32767.0));
}

void AddClick(std::vector<int32_t>& interleaved, int channels, size_t frame, int width,
              int32_t amplitude, unsigned channelMask, uint64_t seed, int bits)
{
    if (channels <= 0 || width <= 0) return;
    const auto ch = static_cast<size_t>(channels);
    const size_t frames = interleaved.size() / ch;
    if (frame >= frames) return;
    const int b = std::clamp(bits, 8, 32);
    const int64_t hi = (int64_t{1} << (b - 1)) - 1;
    const int64_t lo = -(int64_t{1} << (b - 1));

    Prng rng(seed);
    const int64_t sign = (rng.Next() & 1) ? 1 : -1;
    const auto w = static_cast<int64_t>(width);
    // One shape for all channels, each channel a little weaker or stronger,
    // as when a speck hits both groove walls.
    std::vector<int64_t> shape(static_cast<size_t>(width));
    for (int64_t k = 0; k < w; ++k) {
        const int64_t decayQ15 = (w - k) * (w - k) * kOne15 / (w * w);
        const int64_t jagQ15 = k == 0 ? kOne15 : rng.Range(-18000, kOne15);
        shape[static_cast<size_t>(k)] = sign * ((int64_t{amplitude} * decayQ15 * jagQ15) >> 30);
    }
    bool first = true;
    for (size_t c = 0; c < ch && c < 32; ++c) {
        if (!(channelMask & (1u << c))) continue;
        const int64_t gainQ15 = first ? kOne15 : rng.Range(24576, kOne15);
        first = false;
        for (size_t k = 0; k < shape.size() && frame + k < frames; ++k) {
            int32_t& s = interleaved[(frame + k) * ch + c];
            s = static_cast<int32_t>(std::clamp<int64_t>(s + ((shape[k] * gainQ15) >> 15), lo, hi));
        }
    }
}

void MixInto(std::vector<int32_t>& dst, const std::vector<int32_t>& src, size_t atFrame, int channels)
{
    if (channels <= 0) return;
    const size_t offset = atFrame * static_cast<size_t>(channels);
    if (dst.size() < offset + src.size()) dst.resize(offset + src.size(), 0);
    for (size_t i = 0; i < src.size(); ++i)
        dst[offset + i] = Clip16(int64_t{dst[offset + i]} + src[i]);
}

double Rms(const std::vector<int32_t>& interleaved, int channels, size_t begin, size_t end, int channel)
{
    if (channels <= 0) return 0.0;
    const auto ch = static_cast<size_t>(channels);
    end = std::min(end, interleaved.size() / ch);
    if (begin >= end) return 0.0;
    double sum = 0.0;
    size_t count = 0;
    for (size_t n = begin; n < end; ++n) {
        for (size_t c = 0; c < ch; ++c) {
            if (channel >= 0 && c != static_cast<size_t>(channel)) continue;
            const double v = interleaved[n * ch + c];
            sum += v * v;
            ++count;
        }
    }
    return count ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

}  // namespace kelvane::test
