// Sine and cosine of our own, in plain IEEE double arithmetic. The carrier
// tables and shift taps must come out the same in every build and on every
// CPU; the C libraries' versions differ (glibc against the x87 fsin/fsincos
// that mingw-w64 links into the DLL), so the filter carries its own.
// Accurate to about one unit in the last place for |x| up to ~1e6; beyond,
// still deterministic but with growing error; beyond 1e15 it gives sin 0 and
// cos 1.
#pragma once

namespace pelta {

double det_sin(double x);
double det_cos(double x);

}  // namespace pelta
