#include "views/BoundaryFadeGeometry.h"

#include "document/CQuillon3Doc.h"

#include <algorithm>
#include <cmath>

namespace kelvane::fadeview {

FadeLengths LengthsOf(const CQuillon3Doc& doc, int32_t markerWidth)
{
    const int32_t t = event::MarkerTrack(markerWidth);
    if (markerWidth >= 0 || t < 1 || t >= doc.tracks.Size()) return {};
    const TrackRecord& track = doc.tracks[t];
    return event::MarkerIsStart(markerWidth) ? FadeLengths{track.fadeIn, track.preSilence}
                                             : FadeLengths{track.fadeOut, track.postSilence};
}

Marks MarksFor(int32_t markerWidth, int32_t pos, FadeLengths lengths)
{
    if (event::MarkerIsStart(markerWidth)) return {pos + lengths.fade, pos - lengths.silence};
    return {pos - lengths.fade, pos + lengths.silence};
}

bool ShowsGapless(const CQuillon3Doc& doc, int32_t markerWidth)
{
    if (!doc.gapless || markerWidth >= 0) return false;
    const int32_t t = event::MarkerTrack(markerWidth);
    const bool start = event::MarkerIsStart(markerWidth);
    return !(start && t == 1) && !(!start && t == doc.TrackCount());
}

static double Offset(const Layout& l, int32_t length)
{
    return std::clamp<double>(length, 0, l.halfUnits) * l.Centre() / l.halfUnits;
}

double Layout::FadeX(int32_t fade) const { return start ? Centre() + Offset(*this, fade) : Centre() - Offset(*this, fade); }

double Layout::SilenceX(int32_t silence) const
{
    return start ? Centre() - Offset(*this, silence) : Centre() + Offset(*this, silence);
}

static int32_t LengthAt(const Layout& l, double x, bool right)
{
    const double d = right ? x - l.Centre() : l.Centre() - x;
    return static_cast<int32_t>(std::clamp(d, 0.0, l.Centre()) * l.halfUnits / std::max(1.0, l.Centre()));
}

int32_t Layout::FadeAt(double x) const { return LengthAt(*this, x, start); }
int32_t Layout::SilenceAt(double x) const { return LengthAt(*this, x, !start); }

Handle HitHandle(const Layout& layout, FadeLengths lengths, double x)
{
    const double df = std::fabs(x - layout.FadeX(lengths.fade));
    const double ds = std::fabs(x - layout.SilenceX(lengths.silence));
    if (df >= 4 && ds >= 4) return Handle::None;
    if (df < 4 && ds < 4 && df == ds) {
        // Both at the boundary: the side of the mouse tells which half.
        const bool right = x >= layout.Centre();
        return right == layout.start ? Handle::Fade : Handle::Silence;
    }
    return df < ds ? Handle::Fade : Handle::Silence;
}

}  // namespace kelvane::fadeview
