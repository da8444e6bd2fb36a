#include "output/KaiserFir.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelvane {

// The power series sum ((x/2)^k / k!)^2 has only positive terms, so summing it
// loses nothing to cancellation; it is summed until a term no longer changes
// the total. Above |x| = 40 the series needs many terms and the asymptotic
// expansion e^x / sqrt(2 pi x) (1 + 1/(8x) + 9/(2 (8x)^2) + ...) is accurate
// to rounding already.
double BesselI0(double x)
{
    const double ax = std::fabs(x);
    if (ax <= 40.0) {
        const double q = ax * ax / 4.0;
        double term = 1.0;
        double sum = 1.0;
        for (int k = 1; k < 500; ++k) {
            term *= q / (static_cast<double>(k) * k);
            const double next = sum + term;
            if (next == sum) break;
            sum = next;
        }
        return sum;
    }
    // Terms a_k = ((2k - 1)!!)^2 / (k! (8x)^k); they shrink while k < 2x.
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 30; ++k) {
        const double odd = 2.0 * k - 1.0;
        term *= odd * odd / (k * 8.0 * ax);
        sum += term;
        if (term < 1e-17 * sum) break;
    }
    return std::exp(ax) / std::sqrt(2.0 * std::numbers::pi * ax) * sum;
}

double KaiserBeta(double aa)
{
    if (aa <= 21.0) return 0.0;
    if (aa <= 50.0) return 0.5842 * std::pow(aa - 21.0, 0.4) + 0.07886 * (aa - 21.0);
    return 0.1102 * (aa - 8.7);
}

double KaiserLengthFactor(double aa) { return (aa - 7.95) / 14.36; }

std::vector<double> KaiserLowpass(int64_t taps, double cutoffHz, double rate, double beta, double gain)
{
    std::vector<double> h(static_cast<size_t>(taps));
    if (taps <= 0) return h;
    const int64_t centre = (taps - 1) / 2;
    const double half = centre > 0 ? static_cast<double>(centre) : 1.0;
    const double w = 2.0 * cutoffHz / rate;  // the edge as a fraction of the Nyquist frequency
    const double i0Beta = BesselI0(beta);
    double sum = 0.0;
    for (int64_t n = 0; n < taps; ++n) {
        const double t = static_cast<double>(n - centre);
        const double x = std::numbers::pi * w * t;
        const double ideal = n == centre ? w : std::sin(x) / (std::numbers::pi * t);
        const double r = t / half;
        const double window = BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0Beta;
        h[static_cast<size_t>(n)] = ideal * window;
        sum += h[static_cast<size_t>(n)];
    }
    const double scale = sum != 0.0 ? gain / sum : 0.0;
    for (double& v : h) v *= scale;
    return h;
}

}  // namespace kelvane
