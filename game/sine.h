// The game's own sine: correctly rounded, built from additions, subtractions,
// multiplications and divisions alone, so a match computes the same bits with
// every compiler, C library, processor and in WebAssembly.
#pragma once

namespace prendax {

// sin(x) rounded to the nearest double, for |x| below 2^26 radians (6.7e7; a
// match stays below 6.5e7: ticks times 0.03 plus a phase). Beyond that bound the
// argument is first reduced modulo 2*pi held as a double, so the value is
// still the same everywhere but no longer the true sine. NaN and infinities
// give NaN.
double sine(double x);

// The slow, more accurate path on its own, for tests: sin(x) carried to about
// 100 bits before its one rounding.
double sine_accurate(double x);

}  // namespace prendax
