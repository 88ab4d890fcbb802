// Musical time in pips (1/64 beat) and the one rule that folds a pip into a loop.
#pragma once

#include <cstdint>

namespace kinetra {

inline constexpr std::int32_t PIPS_PER_BEAT = 64;

// Floor modulo: the truncating remainder, plus the period when negative. Total for every
// 32-bit pip; a period of 0 or less gives 0.
constexpr std::int32_t wrap_pip(std::int32_t pip, std::int32_t period) noexcept {
    if (period <= 0) {
        return 0;
    }
    const std::int32_t r = pip % period;
    return r < 0 ? r + period : r;
}

// The same fold for a constant period, where the compiler turns the remainder into a mask
// or a multiplication.
template <std::int32_t Period>
constexpr std::int32_t wrap_pip_by(std::int32_t pip) noexcept {
    static_assert(Period > 0);
    const std::int32_t r = pip % Period;
    return r < 0 ? r + Period : r;
}

}  // namespace kinetra
