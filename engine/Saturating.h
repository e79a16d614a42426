#pragma once
// 64-bit token arithmetic that clamps at the type's limits instead of
// wrapping: a hand-edited or corrupt transcript must never turn a huge count
// into a negative total.

#include <cstdint>
#include <limits>

namespace vorel {

inline std::int64_t satAdd(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_add_overflow(a, b, &r)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return r;
}

inline std::int64_t satSub(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) {
        // Only a negative `a` can fall below the range; from zero up it can
        // only rise above it.
        return a < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    return r;
}

// A double as a token count: truncated toward zero; NaN and anything outside
// the 64-bit range gives 0 (a plain cast would be undefined there).
inline std::int64_t truncatedOrZero(double v) {
    // 2^63 is exactly representable; every double below it in magnitude
    // converts without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(v >= -kLimit && v < kLimit)) return 0;  // also false for NaN
    return static_cast<std::int64_t>(v);
}

}  // namespace vorel
