// Closed-form body motions. Every formula is evaluated in the written order so that results
// are reproducible bit for bit given the same sin and cos.
#include "rudiments/motion_rudiments.hpp"

#include <array>
#include <cmath>

#include "core/pip.hpp"

namespace kinetra {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kFourPi = 12.566370614359172;

constexpr double smoothstep(double f) noexcept { return (3.0 - (f + f)) * (f * f); }

struct BackgroundKey {
    std::int32_t pip;
    double x;
    double y;
};

constexpr std::array<BackgroundKey, 14> kBackgroundKeys{{
    {0, 0.0, 0.0},
    {23, 2.0 / 14.0, -0.1},
    {33, 13.0 / 14.0, -0.8},
    {49, 5.0 / 14.0, -0.4},
    {87, -3.0 / 14.0, 0.2},
    {100, -1.0, 0.9},
    {118, -5.0 / 14.0, 0.5},
    {154, 1.0 / 14.0, 0.0},
    {169, 12.0 / 14.0, 1.0},
    {187, 4.0 / 14.0, 0.5},
    {215, -2.0 / 14.0, -0.2},
    {228, -10.0 / 14.0, -0.9},
    {243, -3.0 / 14.0, -0.3},
    {256, 0.0, 0.0},
}};

// A key's own pip is computed from the segment that ends there (e = 1), so its value is the
// previous key plus the full difference and may differ from the key in the last bit.
constexpr std::array<Offset3, 256> build_background_table() {
    std::array<Offset3, 256> table{};
    std::size_t i = 0;
    for (std::int32_t j = 0; j < 256; ++j) {
        while (i + 1 < kBackgroundKeys.size() && kBackgroundKeys[i + 1].pip < j) {
            ++i;
        }
        const BackgroundKey& a = kBackgroundKeys[i];
        const BackgroundKey& b = kBackgroundKeys[i + 1];
        const double e = static_cast<double>(j - a.pip) / static_cast<double>(b.pip - a.pip);
        const double s = smoothstep(e);
        table[static_cast<std::size_t>(j)] = {(b.x - a.x) * s + a.x, (b.y - a.y) * s + a.y, 0.0};
    }
    return table;
}

// Computed by the compiler: the table is constant data with no start-up cost.
constexpr std::array<Offset3, 256> kBackgroundTable = build_background_table();

constexpr std::array<double, 4> kStepStops{-1.0, 0.0, 1.0, 0.0};

struct Corner {
    double x;
    double y;
};
constexpr std::array<Corner, 4> kBoxCorners{{{-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}}};

}  // namespace

Offset3 bounce(std::int32_t pip) noexcept {
    const double t = static_cast<double>(wrap_pip_by<64>(pip)) * 0.015625;
    return {1.0 - std::fabs(t - 0.5) * 4.0, 0.0, 0.0};
}

Offset3 sway(std::int32_t pip) noexcept {
    const double phase = static_cast<double>(wrap_pip_by<128>(pip));
    return {std::sin(phase * 0.0078125 * kTwoPi), 0.0, 0.0};
}

Offset3 circle(std::int32_t pip) noexcept {
    const double a = static_cast<double>(wrap_pip_by<64>(pip)) * 0.015625 * kTwoPi - kHalfPi;
    return {std::cos(a), std::sin(a), 0.0};
}

Offset3 figure_eight(std::int32_t pip) noexcept {
    const double a = static_cast<double>(wrap_pip_by<128>(pip)) * 0.0078125 * kTwoPi;
    return {std::sin(a), std::sin(a + a), 0.0};
}

Offset3 step_touch(std::int32_t pip) noexcept {
    const std::int32_t phase = wrap_pip_by<128>(pip);
    const auto k = static_cast<std::size_t>(phase / 32);
    const double f = static_cast<double>(phase % 32) * 0.03125;
    const double from = kStepStops[k];
    const double to = kStepStops[(k + 1) % 4];
    // Negating the finished product makes y exactly -0.0 at every stop.
    return {from + (to - from) * smoothstep(f), -(std::sin(f * kPi) * 0.35), 0.0};
}

Offset3 box_step(std::int32_t pip) noexcept {
    const std::int32_t phase = wrap_pip_by<256>(pip);
    const auto k = static_cast<std::size_t>(phase / 64);
    const double s = smoothstep(static_cast<double>(phase % 64) * 0.015625);
    const Corner& a = kBoxCorners[k];
    const Corner& b = kBoxCorners[(k + 1) % 4];
    return {a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s, 0.0};
}

Offset3 helix(std::int32_t pip) noexcept {
    const double c = static_cast<double>(wrap_pip_by<256>(pip)) * 0.00390625;
    const double a = c * kFourPi;
    return {std::cos(a), std::sin(a), std::sin(c * kTwoPi)};
}

Offset3 tamsel_background(std::int32_t pip) noexcept {
    return kBackgroundTable[static_cast<std::size_t>(wrap_pip_by<256>(pip))];
}

}  // namespace kinetra
