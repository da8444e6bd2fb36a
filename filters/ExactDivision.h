#pragma once
// x[i] / d[i] for a run of values, giving exactly the correctly rounded
// quotients plain division gives, bit for bit, for divisors that stay the
// same from call to call (a window) and whose reciprocals are known.
//
// Where the processor has fused multiply-adds, the quotient comes from the
// stored reciprocal y = RN(1/d) instead of the divider: q0 = RN(x y), one
// correction q1 = RN(q0 + RN(x - d q0) y), which leaves q1 within one unit
// in the last place of x / d, and a final one, q = RN(q1 + (x - d q1) y),
// whose residual is exact and which rounds correctly by Markstein's theorem
// (y within half an ulp of 1/d, q1 within one ulp of x / d). The theorem
// needs no underflow: values near zero (and zero itself) are divided.

namespace kelvane {

// x[i] = x[i] / divisor[i] for i in [0, count); reciprocal[i] must be
// 1.0 / divisor[i] as double division gives it, every divisor normal and
// finite.
void DivideExactly(double* x, const double* divisor, const double* reciprocal, int count);

}  // namespace kelvane
