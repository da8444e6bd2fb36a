// The division by the window without the divider: every quotient must be
// the one plain division gives, bit for bit, or the filtered samples could
// move by one where a sum sits on an integer.

#include "filters/ExactDivision.h"
#include "spectral/Spectral.h"
#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kelvane {
namespace {

// Numerators of every kind: random mantissas over a wide range of
// exponents and both signs, whole numbers, values at and near powers of
// two, and the smallest ones that take the divider.
std::vector<double> Numerators(uint64_t seed, size_t count)
{
    test::Prng prng(seed);
    std::vector<double> x;
    x.reserve(count);
    for (size_t i = 0; x.size() < count; ++i) {
        const uint64_t bits = prng.Next();
        double v = 0;
        switch (i % 5) {
        case 0: v = std::ldexp(1.0 + static_cast<double>(bits >> 12) * 0x1p-52, static_cast<int>(prng.Range(-80, 80))); break;
        case 1: v = static_cast<double>(static_cast<int64_t>(prng.Range(-8388608, 8388607))); break;
        case 2: v = std::ldexp(1.0, static_cast<int>(prng.Range(-40, 40))) * (1.0 + static_cast<double>(prng.Range(-4, 4)) * 0x1p-52); break;
        case 3: v = std::ldexp(static_cast<double>(bits >> 11), -30); break;
        default: v = std::ldexp(1.0 + static_cast<double>(bits >> 12) * 0x1p-52, static_cast<int>(prng.Range(-1000, -880))); break;
        }
        x.push_back(bits & 1 ? -v : v);
    }
    x.push_back(0.0);
    x.push_back(-0.0);
    return x;
}

void ExpectPlainQuotients(const std::vector<double>& divisors, uint64_t seed)
{
    std::vector<double> reciprocal;
    for (double d : divisors) reciprocal.push_back(1.0 / d);
    const std::vector<double> numerators = Numerators(seed, 20000);
    const size_t count = divisors.size();
    std::vector<double> x(count);
    size_t wrong = 0;
    for (size_t start = 0; start < numerators.size(); start += 7) {
        for (size_t i = 0; i < count; ++i) x[i] = numerators[(start + i) % numerators.size()];
        DivideExactly(x.data(), divisors.data(), reciprocal.data(), static_cast<int>(count));
        for (size_t i = 0; i < count; ++i) {
            const double expected = numerators[(start + i) % numerators.size()] / divisors[i];
            // Zero's sign is the one thing allowed to differ: it never
            // reaches a sample.
            if (std::bit_cast<uint64_t>(x[i]) != std::bit_cast<uint64_t>(expected) && !(x[i] == 0 && expected == 0)) {
                if (wrong++ < 5)
                    ADD_FAILURE() << std::hexfloat << numerators[(start + i) % numerators.size()] << " / " << divisors[i]
                                  << " gave " << x[i] << ", not " << expected;
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(ExactDivision, GivesPlainDivisionsQuotientsForTheWindowsWeighedPart)
{
    for (int n : {512, 1024}) {
        const std::vector<double> w = WindowTable(n);
        ExpectPlainQuotients(std::vector<double>(w.begin() + n / 8, w.begin() + 7 * n / 8), static_cast<uint64_t>(n));
    }
}

TEST(ExactDivision, GivesPlainDivisionsQuotientsForAnyNormalDivisor)
{
    test::Prng prng(99);
    std::vector<double> divisors;
    for (int i = 0; i < 301; ++i) {  // odd, so the last value goes alone
        const double d = std::ldexp(1.0 + static_cast<double>(prng.Next() >> 12) * 0x1p-52, static_cast<int>(prng.Range(-20, 20)));
        divisors.push_back(i % 3 == 0 ? -d : d);
    }
    divisors[7] = 1.0;
    divisors[8] = 0.75;
    ExpectPlainQuotients(divisors, 5);
}

}  // namespace
}  // namespace kelvane
