#pragma once
// The gain curve of a track's fade-in or fade-out. The exporter asks it for
// a gain as it writes the frames of a fade; the boundary fade display draws
// the same curve. The choice of curve is program-wide and persistent.

#include <cstdint>

namespace kelvane {

class ISettingsStore;

enum class FadeShape {
    Logarithmic = 0,  // straight in decibels, -60 dB at the silent end
    Linear = 1,       // straight in amplitude
};

class CFadeLaw {
public:
    // Added to a track's fade value to give the span the exporter fades over,
    // so that a fade value of 0 still softens the cut over one sector; a
    // value of -kSpanExtra or less makes the span empty: no fade at all.
    static constexpr int32_t kSpanExtra = 2352;
    // The exporter recomputes the gain once per this many frames.
    static constexpr int32_t kGainStepFrames = 20;

    explicit CFadeLaw(FadeShape shape = FadeShape::Logarithmic) : shape_(shape) {}

    // The law the "Fade Linear" setting names: 1 is linear; every other value,
    // including a missing one, is the logarithmic default (the Fade Type
    // commands check "Linear" on 1 alone as well).
    static CFadeLaw FromSetting(int fadeLinear);
    static CFadeLaw Load(const ISettingsStore& store);
    // Writes "Fade Linear" at once, as the Fade Type commands do.
    void Store(ISettingsStore& store) const;
    int SettingValue() const { return shape_ == FadeShape::Linear ? 1 : 0; }

    FadeShape Shape() const { return shape_; }
    bool IsLinear() const { return shape_ == FadeShape::Linear; }

    // Gain (1.0 = full level) at distance r position units from the silent
    // end of a fade spanning `span` units: r = span at the silent end, 0 where
    // the fade meets full level. r is clamped to [0, span]; an empty or
    // negative span means there is no fade and gives 1.0. Never throws.
    double Gain(int64_t r, int64_t span) const;
    static double LinearGain(int64_t r, int64_t span);
    static double LogarithmicGain(int64_t r, int64_t span);

    // The span the exporter fades over for a track's fade value, in position
    // units (64-bit: a fade value near the 32-bit limit must not wrap).
    static int64_t Span(int32_t fadeValue) { return static_cast<int64_t>(fadeValue) + kSpanExtra; }

private:
    FadeShape shape_;
};

}  // namespace kelvane
