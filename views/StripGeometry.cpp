#include "StripGeometry.h"

#include "declick/ClickListRows.h"
#include "document/EventRecord.h"

#include <algorithm>
#include <cmath>

namespace kelvane::strip {

int BarTop(int32_t level)
{
    const double p = std::max(230.0, 40.0 * std::log10(static_cast<double>(std::max<int32_t>(level, 1))));
    return 320 - static_cast<int>(p);
}

Rgb TrackColour(int32_t track)
{
    if (track <= 0) return kAllTracks;
    return track % 2 ? Rgb{255, 160, 160} : Rgb{160, 160, 255};
}

Rgb TickColour(const EventRecord& record)
{
    switch (ColourClass(record)) {
    case 1: return {0, 255, 0};
    case 2: return {255, 255, 0};
    case 3: return {255, 0, 0};
    case 4: return {192, 192, 255};
    default: return {255, 255, 255};
    }
}

int SignatureY(int32_t corrections) { return 40 - corrections / 3; }

double Scale::UnitsPerPixel() const
{
    return std::max(1.0, static_cast<double>(last - first) / std::max(width, 1));
}

int Scale::X(int32_t pos) const
{
    return static_cast<int>(static_cast<double>(pos - first) / UnitsPerPixel());
}

int32_t Scale::Position(int x) const
{
    const double pos = first + x * UnitsPerPixel();
    return static_cast<int32_t>(std::clamp(pos, static_cast<double>(first), static_cast<double>(last)));
}

}  // namespace kelvane::strip
