// The shared routine of the drum rudiments: an ordered stroke list turned into a position.
#pragma once

#include <cstdint>
#include <span>

#include "core/offset3.hpp"

namespace kinetra {

struct Stroke {
    std::int32_t onset_pip;
    std::int32_t hand;  // +1 right, -1 left
    double peak;
    std::int32_t length_pips;
};

// Each stroke is a sine-squared swell towards its hand's side on x and a proportional dip on
// y; strokes add in list order and each sum is clamped to [-1, 1].
Offset3 stroke_envelope(std::int32_t pip, std::int32_t period_pips,
                        std::span<const Stroke> strokes) noexcept;

}  // namespace kinetra
