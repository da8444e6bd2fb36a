#include "tests/support/ToneFit.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace kelvane::test {

namespace {

// Solves a x = b in place by Gaussian elimination with partial pivoting.
std::vector<double> Solve(std::vector<std::vector<double>> a, std::vector<double> b)
{
    const size_t n = b.size();
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (size_t r = col + 1; r < n; ++r) {
            const double f = a[r][col] / a[col][col];
            for (size_t c = col; c < n; ++c) a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    std::vector<double> x(n);
    for (size_t i = n; i-- > 0;) {
        double s = b[i];
        for (size_t c = i + 1; c < n; ++c) s -= a[i][c] * x[c];
        x[i] = s / a[i][i];
    }
    return x;
}

}  // namespace

ToneFit FitTones(const double* x, size_t n, double rate, const std::vector<double>& hz)
{
    const size_t m = 1 + 2 * hz.size();
    std::vector<std::vector<double>> ata(m, std::vector<double>(m, 0.0));
    std::vector<double> atb(m, 0.0);
    std::vector<double> row(m);
    auto basis = [&](size_t i) {
        row[0] = 1.0;
        for (size_t k = 0; k < hz.size(); ++k) {
            const double phase = 2.0 * std::numbers::pi * std::fmod(hz[k] * static_cast<double>(i), rate) / rate;
            row[1 + 2 * k] = std::sin(phase);
            row[2 + 2 * k] = std::cos(phase);
        }
    };
    for (size_t i = 0; i < n; ++i) {
        basis(i);
        for (size_t r = 0; r < m; ++r) {
            atb[r] += row[r] * x[i];
            for (size_t c = r; c < m; ++c) ata[r][c] += row[r] * row[c];
        }
    }
    for (size_t r = 0; r < m; ++r)
        for (size_t c = 0; c < r; ++c) ata[r][c] = ata[c][r];
    const std::vector<double> coef = Solve(ata, atb);

    ToneFit fit;
    for (size_t k = 0; k < hz.size(); ++k) fit.amplitudes.push_back(std::hypot(coef[1 + 2 * k], coef[2 + 2 * k]));
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        basis(i);
        double model = 0.0;
        for (size_t r = 0; r < m; ++r) model += coef[r] * row[r];
        sum += (x[i] - model) * (x[i] - model);
    }
    fit.residualRms = n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
    return fit;
}

double Db(double value, double reference) { return value > 0 ? 20.0 * std::log10(value / reference) : -400.0; }

double ThdPlusNoiseDb(const ToneFit& fit) { return Db(fit.residualRms, fit.amplitudes.at(0) / std::sqrt(2.0)); }

std::vector<int32_t> ToneSamples(const std::vector<double>& hz, double amplitude, size_t frames, int rate, int bits,
                             int channels)
{
    const double full = std::ldexp(1.0, bits - 1) - 1.0;
    std::vector<int32_t> out;
    out.reserve(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i) {
        double v = 0.0;
        for (double f : hz)
            v += std::sin(2.0 * std::numbers::pi * std::fmod(f * static_cast<double>(i), rate) / rate);
        const auto s = static_cast<int32_t>(std::lround(v * amplitude * full));
        for (int c = 0; c < channels; ++c) out.push_back(s);
    }
    return out;
}

}  // namespace kelvane::test
