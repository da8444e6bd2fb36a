#pragma once
// The boundary fade display in numbers: the fade and silence lengths of the
// current boundary, the marks a boundary move takes from them, and the
// control's two handles (the fade's inside the track, the silence's
// outside it), each dragged within its own half. Plain C++ over the
// document. Positions and lengths are position units.

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

namespace fadeview {

// The fade-in and pre-silence of a start marker's track, or the fade-out
// and post-silence of an end marker's.
struct FadeLengths {
    int32_t fade = 0;
    int32_t silence = 0;
    bool operator==(const FadeLengths&) const = default;
};
FadeLengths LengthsOf(const CQuillon3Doc& doc, int32_t markerWidth);

// The fade and silence marks for a boundary at pos: a start has its fade
// after it and its silence before it, an end the other way round.
struct Marks {
    int32_t fade = 0;
    int32_t silence = 0;
};
Marks MarksFor(int32_t markerWidth, int32_t pos, FadeLengths lengths);

// With gapless tracks an inner boundary has no fades to show.
bool ShowsGapless(const CQuillon3Doc& doc, int32_t markerWidth);

// The control: the boundary at its centre, each half `halfUnits` long. The
// fade lies on the track's side (right of a start, left of an end).
struct Layout {
    int width = 0;
    int32_t halfUnits = 1;
    bool start = true;

    double Centre() const { return width / 2.0; }
    double FadeX(int32_t fade) const;
    double SilenceX(int32_t silence) const;
    // The length a handle at x gives, kept inside its half (0 .. halfUnits).
    int32_t FadeAt(double x) const;
    int32_t SilenceAt(double x) const;
};

enum class Handle { None, Fade, Silence };
// The handle less than 4 pixels from x (the nearer one when both are).
Handle HitHandle(const Layout& layout, FadeLengths lengths, double x);

}  // namespace fadeview
}  // namespace kelvane
