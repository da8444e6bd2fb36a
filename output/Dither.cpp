#include "output/Dither.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelvane {

CShuffledRand::CShuffledRand(uint32_t seed) : rand_(seed)
{
    for (int& slot : slots_) slot = rand_.Next();
    last_ = rand_.Next();
}

int CShuffledRand::Next()
{
    const int j = static_cast<int>(static_cast<int64_t>(last_) * kSlots / (ReferenceRand::kMax + 1));
    last_ = slots_[static_cast<size_t>(j)];
    slots_[static_cast<size_t>(j)] = rand_.Next();
    return last_;
}

double CDitherNoise::Amplitude(DitherPdf pdf)
{
    switch (pdf) {
    case DitherPdf::Rectangular: return 0.7;
    case DitherPdf::Triangular: return 0.9;
    case DitherPdf::Gaussian: return 0.18;
    }
    return 0.7;
}

CDitherNoise::CDitherNoise(DitherPdf pdf) : table_(kTableSize)
{
    CShuffledRand random;
    auto uniform = [&] { return random.Next() / static_cast<double>(ReferenceRand::kMax); };
    const double a = Amplitude(pdf);
    for (size_t i = 0; i < kTableSize; ++i) {
        double v = 0.0;
        switch (pdf) {
        case DitherPdf::Rectangular: v = (uniform() - 0.5) * a; break;
        case DitherPdf::Triangular: {
            const double u1 = uniform();
            const double u2 = uniform();
            v = (u1 - u2) * a;
            break;
        }
        case DitherPdf::Gaussian: {
            // Box-Muller; u1 = 0 would put the logarithm at infinity.
            double u1 = 0.0;
            while (u1 <= 0.0) u1 = uniform();
            const double u2 = uniform();
            v = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2) * a;
            break;
        }
        }
        table_[i] = v;
        peak_ = std::max(peak_, std::fabs(v));
    }
}

}  // namespace kelvane
