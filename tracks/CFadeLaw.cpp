#include "CFadeLaw.h"

#include "settings/SettingsStore.h"

#include <cmath>

namespace kelvane {

namespace {

// r / span as a fraction of the way to the silent end, or a negative value
// when there is no fade. The quotient is taken in double from the integer
// distances, which is the plain reading of r / F.
double FractionToSilence(int64_t r, int64_t span)
{
    if (span <= 0) return -1.0;
    if (r < 0) r = 0;
    if (r > span) r = span;
    return static_cast<double>(r) / static_cast<double>(span);
}

// -60 dB at the silent end of a logarithmic fade.
constexpr double kSilentEndGain = 0.001;

}  // namespace

CFadeLaw CFadeLaw::FromSetting(int fadeLinear)
{
    return CFadeLaw(fadeLinear == 1 ? FadeShape::Linear : FadeShape::Logarithmic);
}

CFadeLaw CFadeLaw::Load(const ISettingsStore& store)
{
    return FromSetting(store.Get(settings::FadeLinear));
}

void CFadeLaw::Store(ISettingsStore& store) const
{
    store.Set(settings::FadeLinear, SettingValue());
}

double CFadeLaw::Gain(int64_t r, int64_t span) const
{
    return shape_ == FadeShape::Linear ? LinearGain(r, span) : LogarithmicGain(r, span);
}

double CFadeLaw::LinearGain(int64_t r, int64_t span)
{
    const double x = FractionToSilence(r, span);
    if (x < 0.0) return 1.0;
    return 1.0 - x;
}

double CFadeLaw::LogarithmicGain(int64_t r, int64_t span)
{
    const double x = FractionToSilence(r, span);
    if (x < 0.0) return 1.0;
    return std::pow(kSilentEndGain, x);
}

}  // namespace kelvane
