#include "ExactDivision.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define KELVANE_FMA_DIVISION 1
#endif

namespace kelvane {

namespace {

void DivideScalar(double* x, const double* divisor, int count)
{
    for (int i = 0; i < count; ++i) x[i] /= divisor[i];
}

#if defined(KELVANE_FMA_DIVISION)
__attribute__((target("fma"))) void DivideFma(double* x, const double* divisor, const double* reciprocal, int count)
{
    // Numerators below this (zero included) take the divider; above it no
    // step underflows.
    const __m128d small = _mm_set1_pd(0x1p-900);
    const __m128d sign = _mm_set1_pd(-0.0);
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m128d a = _mm_loadu_pd(x + i), d = _mm_loadu_pd(divisor + i);
        if (_mm_movemask_pd(_mm_cmplt_pd(_mm_andnot_pd(sign, a), small)) != 0) {
            _mm_storeu_pd(x + i, _mm_div_pd(a, d));
            continue;
        }
        const __m128d y = _mm_loadu_pd(reciprocal + i);
        const __m128d q0 = _mm_mul_pd(a, y);
        const __m128d q1 = _mm_fmadd_pd(_mm_fnmadd_pd(d, q0, a), y, q0);
        _mm_storeu_pd(x + i, _mm_fmadd_pd(_mm_fnmadd_pd(d, q1, a), y, q1));
    }
    DivideScalar(x + i, divisor + i, count - i);
}

bool HasFma()
{
    static const bool has = __builtin_cpu_supports("fma");
    return has;
}
#endif

}  // namespace

void DivideExactly(double* x, const double* divisor, const double* reciprocal, int count)
{
#if defined(KELVANE_FMA_DIVISION)
    if (HasFma()) return DivideFma(x, divisor, reciprocal, count);
#endif
    (void)reciprocal;
    DivideScalar(x, divisor, count);
}

}  // namespace kelvane
