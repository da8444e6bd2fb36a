#include "output/ResampleRatios.h"

#include "spectral/CRealFft.h"
#include "output/KaiserFir.h"

#include <cmath>
#include <cstdio>
#include <numeric>

namespace kelvane {

namespace {

// The short filter's taps are held in memory whole; a pair whose common
// multiple is this fine-grained is not a rate anybody records at.
constexpr int64_t kMaxShortTaps = int64_t{1} << 22;

// Both filters reach a stopband this far down; the long one narrows its
// transition band to below this many Hz.
constexpr double kLongTransitionHz = 100.0;
constexpr int64_t kLongTapsBase = 65536;

std::string Format(const char* pattern, int a, int b)
{
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

}  // namespace

std::optional<ResamplePlan> PlanResampling(int source, int target, std::string* message)
{
    auto refuse = [&](std::string text) -> std::optional<ResamplePlan> {
        if (message) *message = std::move(text);
        return std::nullopt;
    };
    if (source <= 0 || target <= 0) return refuse(Format(kRatioNotSupported, source, target));

    ResamplePlan plan;
    plan.source = source;
    plan.target = target;
    if (source == target) {
        plan.equal = true;
        plan.g = source;
        plan.r = 1;
        return plan;
    }
    plan.up = target > source;
    plan.g = std::gcd(int64_t{source}, int64_t{target});
    plan.r = (plan.up ? source : target) / plan.g;
    if (plan.r == 1) plan.osf = 1;
    else if (plan.r % 2 == 0) plan.osf = 2;
    else if (plan.r % 3 == 0) plan.osf = 3;
    else {
        const int numerator = plan.up ? source : target;
        char second[200];
        std::snprintf(second, sizeof second, kRatioMustDivide, numerator, source, target, static_cast<int>(plan.r));
        return refuse(Format(kRatioNotSupported, source, target) + second);
    }
    plan.fs1 = int64_t{plan.osf} * (plan.up ? target : source);
    plan.lcm = int64_t{source} / plan.g * target;

    const double factor = KaiserLengthFactor(kResampleAttenuationDb);
    const double half = source / 2.0;
    const double fs1Half = static_cast<double>(plan.fs1) / 2.0;
    if (!plan.up && plan.osf == 1) {
        plan.shortTaps = 1;
        plan.shortCutoff = 0;
    } else {
        const double width = fs1Half - half;
        const double taps = static_cast<double>(plan.lcm) / width * factor + 1.0;
        if (!(taps < static_cast<double>(kMaxShortTaps))) return refuse(Format(kRatioNotSupported, source, target));
        plan.shortTaps = static_cast<int64_t>(taps);
        if (plan.shortTaps % 2 == 0) ++plan.shortTaps;
        plan.shortCutoff = (half + fs1Half) / 2.0;
    }

    int64_t taps = kLongTapsBase - 1;
    while (static_cast<double>(plan.fs1) * factor / static_cast<double>(taps - 1) >= kLongTransitionHz)
        taps = (taps + 1) * 2 - 1;
    const int64_t fft = 2 * (taps + 1);
    if (fft > CRealFft::kMaxSize) return refuse(Format(kRatioNotSupported, source, target));
    plan.longTaps = taps;
    plan.fftSize = static_cast<int>(fft);
    plan.longTransition = static_cast<double>(plan.fs1) * factor / static_cast<double>(taps - 1);
    plan.longCutoff = plan.up ? half : (target - plan.longTransition) / 2.0;
    plan.longGain = plan.up ? 1.0 : plan.osf;
    return plan;
}

}  // namespace kelvane
