// Two's-complement 32-bit arithmetic with defined wrap-around. The filter's
// integer formulas are 32-bit ones; where a setting outside its track bar's
// range could push a product or sum past the int range, these give the
// wrapped result a 32-bit machine gives, instead of undefined behaviour.
#pragma once

#include <cstdint>

namespace pelta {

inline int32_t wrap_add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrap_sub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrap_mul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
// |v|, with the most negative value mapping to itself as on the machine.
inline int32_t wrap_abs(int32_t v) { return v < 0 ? wrap_sub(0, v) : v; }

}  // namespace pelta
