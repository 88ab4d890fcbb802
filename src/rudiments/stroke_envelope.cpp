#include "rudiments/stroke_envelope.hpp"

#include <cmath>
#include <numbers>

#include "core/pip.hpp"

namespace kinetra {
namespace {

// Each stroke lowers y by this share of its swell: a hit is a sideways swing with a dip.
constexpr double kDipPerSwell = 0.72;

constexpr double clamp_unit(double v) noexcept {
    if (v > 1.0) {
        return 1.0;
    }
    if (v < -1.0) {
        return -1.0;
    }
    return v;
}

}  // namespace

Offset3 stroke_envelope(std::int32_t pip, std::int32_t period_pips,
                        std::span<const Stroke> strokes) noexcept {
    double sum_x = 0.0;
    double sum_y = 0.0;
    const std::int32_t phase = wrap_pip(pip, period_pips);
    for (const Stroke& stroke : strokes) {
        // Onsets lie inside the period, so the difference cannot overflow.
        const std::int32_t d = wrap_pip(phase - stroke.onset_pip, period_pips);
        double env = 0.0;
        if (d < stroke.length_pips) {
            const double v = std::sin(static_cast<double>(d) / static_cast<double>(stroke.length_pips) * std::numbers::pi);
            env = (v * stroke.peak) * v;
        }
        sum_x = sum_x + static_cast<double>(stroke.hand) * env;
        sum_y = sum_y - env * kDipPerSwell;
    }
    return {clamp_unit(sum_x), clamp_unit(sum_y), 0.0};
}

}  // namespace kinetra
