#include "window/trig.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace pelta {

namespace {

// pi/2 split into pieces of 33 bits, so that n * piece is exact for n < 2^20
// and the reduction x - n * pi/2 keeps its precision.
constexpr double kInvPio2 = 6.36619772367581382433e-01;
constexpr double kPio2_1 = 1.57079632673412561417e+00;
constexpr double kPio2_2 = 6.07710050630396597660e-11;
constexpr double kPio2_2t = 2.02226624879595063154e-21;

// Minimax polynomials on [-pi/4, pi/4] (the classic fdlibm kernels), for the
// argument x + y where y is the small tail left by the reduction.
double kernel_sin(double x, double y) {
    constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                     S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                     S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
    const double z = x * x;
    const double v = z * x;
    const double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
    return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

double kernel_cos(double x, double y) {
    constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                     C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                     C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
    const double z = x * x;
    const double r = z * (C1 + z * (C2 + z * (C3 + z * (C4 + z * (C5 + z * C6)))));
    const double ax = std::fabs(x);
    if (ax < 0.3) return 1.0 - (0.5 * z - (z * r - x * y));
    // 1 - z/2 loses bits near |x| = pi/4; take out a round part qx first.
    double qx;
    if (ax > 0.78125) {
        qx = 0.28125;
    } else {
        uint64_t bits;
        const double quarter = ax * 0.25;
        std::memcpy(&bits, &quarter, sizeof bits);
        bits &= 0xFFFFFFFF00000000ull;  // keep the high word only
        std::memcpy(&qx, &bits, sizeof qx);
    }
    const double hz = 0.5 * z - qx;
    const double a = 1.0 - qx;
    return a - (hz - (z * r - x * y));
}

// x = n * pi/2 + (r + tail) with |r| <= ~pi/4; gives r, its rounding tail,
// and the quadrant n mod 4.
bool reduce(double x, double* r, double* tail, int* quadrant) {
    if (!(std::fabs(x) < 1e15)) return false;  // also NaN
    const double fn = std::floor(x * kInvPio2 + 0.5);
    const double t = x - fn * kPio2_1;  // exact while n < 2^20
    const double w = fn * kPio2_2;
    const double r1 = t - w;
    const double lo = ((t - r1) - w) - fn * kPio2_2t;
    *r = r1 + lo;
    *tail = (r1 - *r) + lo;
    *quadrant = static_cast<int>(static_cast<int64_t>(fn) & 3);
    return true;
}

}  // namespace

// Both functions reduce |x|, so sin(-x) = -sin(x) and cos(-x) = cos(x) hold
// exactly, also where x / (pi/2) rounds half-way.
double det_sin(double x) {
    double r, y;
    int q;
    if (!reduce(std::fabs(x), &r, &y, &q)) return 0.0;
    double v;
    switch (q) {
        case 0: v = kernel_sin(r, y); break;
        case 1: v = kernel_cos(r, y); break;
        case 2: v = -kernel_sin(r, y); break;
        default: v = -kernel_cos(r, y); break;
    }
    return x < 0 ? -v : v;
}

double det_cos(double x) {
    double r, y;
    int q;
    if (!reduce(std::fabs(x), &r, &y, &q)) return 1.0;
    switch (q) {
        case 0: return kernel_cos(r, y);
        case 1: return -kernel_sin(r, y);
        case 2: return -kernel_cos(r, y);
        default: return kernel_sin(r, y);
    }
}

}  // namespace pelta
