// Closed-form body motions. Every formula is evaluated in the written order so that results
// are reproducible bit for bit given the same sin and cos.
#include "rudiments/motion_rudiments.hpp"

#include <array>
#include <cmath>
#include <numbers>

#include "core/pip.hpp"

namespace kinetra {
namespace {

// Doubling and halving are exact, so these are 6.283185307179586, 1.5707963267948966 and
// 12.566370614359172 to the bit.
constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kHalfPi = 0.5 * kPi;
constexpr double kFourPi = 4.0 * kPi;

constexpr double smoothstep(double f) noexcept { return (3.0 - (f + f)) * (f * f); }

// The phase as a fraction of a loop of P pips, or of a segment of P pips. Every P here is a
// power of two, so 1/P is exact and multiplying by it gives the quotient bit for bit.
template <std::int32_t P>
constexpr double per_pip() noexcept {
    static_assert(P > 0 && (P & (P - 1)) == 0);
    return 1.0 / P;
}

struct BackgroundKey {
    std::int32_t pip;
    double x;
    double y;
};

// The drift's keyframes over its loop; the last closes the loop at the first.
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
using BackgroundTable = std::array<Offset3, kTamselBackgroundPeriodPips>;
static_assert(kBackgroundKeys.back().pip == kTamselBackgroundPeriodPips);

constexpr BackgroundTable build_background_table() {
    BackgroundTable table{};
    std::size_t i = 0;
    for (std::int32_t j = 0; j < kTamselBackgroundPeriodPips; ++j) {
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
constexpr BackgroundTable kBackgroundTable = build_background_table();

// Side to side through the middle: four stops, one step between each and the next.
constexpr std::array<double, 4> kStepStops{-1.0, 0.0, 1.0, 0.0};
constexpr std::int32_t kStepPips = kStepTouchPeriodPips / 4;
constexpr double kStepLift = 0.35;

struct Corner {
    double x;
    double y;
};
constexpr std::array<Corner, 4> kBoxCorners{{{-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}}};
constexpr std::int32_t kBoxSidePips = kBoxStepPeriodPips / 4;

}  // namespace

Offset3 bounce(std::int32_t pip) noexcept {
    const double t = static_cast<double>(wrap_pip_by<kBouncePeriodPips>(pip)) * per_pip<kBouncePeriodPips>();
    return {1.0 - std::fabs(t - 0.5) * 4.0, 0.0, 0.0};
}

Offset3 sway(std::int32_t pip) noexcept {
    const double phase = static_cast<double>(wrap_pip_by<kSwayPeriodPips>(pip));
    return {std::sin(phase * per_pip<kSwayPeriodPips>() * kTwoPi), 0.0, 0.0};
}

Offset3 circle(std::int32_t pip) noexcept {
    // A quarter turn back: the orbit starts at (0, -1) and reaches (1, 0) a quarter loop on.
    const double a =
        static_cast<double>(wrap_pip_by<kCirclePeriodPips>(pip)) * per_pip<kCirclePeriodPips>() * kTwoPi - kHalfPi;
    return {std::cos(a), std::sin(a), 0.0};
}

Offset3 figure_eight(std::int32_t pip) noexcept {
    const double a =
        static_cast<double>(wrap_pip_by<kFigureEightPeriodPips>(pip)) * per_pip<kFigureEightPeriodPips>() * kTwoPi;
    return {std::sin(a), std::sin(a + a), 0.0};
}

Offset3 step_touch(std::int32_t pip) noexcept {
    const std::int32_t phase = wrap_pip_by<kStepTouchPeriodPips>(pip);
    const auto k = static_cast<std::size_t>(phase / kStepPips);
    const double f = static_cast<double>(phase % kStepPips) * per_pip<kStepPips>();
    const double from = kStepStops[k];
    const double to = kStepStops[(k + 1) % 4];
    // Negating the finished product makes y exactly -0.0 at every stop.
    return {from + (to - from) * smoothstep(f), -(std::sin(f * kPi) * kStepLift), 0.0};
}

Offset3 box_step(std::int32_t pip) noexcept {
    const std::int32_t phase = wrap_pip_by<kBoxStepPeriodPips>(pip);
    const auto k = static_cast<std::size_t>(phase / kBoxSidePips);
    const double s = smoothstep(static_cast<double>(phase % kBoxSidePips) * per_pip<kBoxSidePips>());
    const Corner& a = kBoxCorners[k];
    const Corner& b = kBoxCorners[(k + 1) % 4];
    return {a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s, 0.0};
}

Offset3 helix(std::int32_t pip) noexcept {
    const double c = static_cast<double>(wrap_pip_by<kHelixPeriodPips>(pip)) * per_pip<kHelixPeriodPips>();
    const double a = c * kFourPi;  // two turns a loop while z rises and falls once
    return {std::cos(a), std::sin(a), std::sin(c * kTwoPi)};
}

Offset3 tamsel_background(std::int32_t pip) noexcept {
    return kBackgroundTable[static_cast<std::size_t>(wrap_pip_by<kTamselBackgroundPeriodPips>(pip))];
}

}  // namespace kinetra
