// The eight procedural body motions, each a pure function of the pip with its own loop.
#pragma once

#include <cstdint>

#include "core/offset3.hpp"
#include "core/pip.hpp"

namespace kinetra {

// Each motion's loop, in whole beats; the registry lists these same periods.
inline constexpr std::int32_t kBouncePeriodPips = 1 * PIPS_PER_BEAT;
inline constexpr std::int32_t kSwayPeriodPips = 2 * PIPS_PER_BEAT;
inline constexpr std::int32_t kCirclePeriodPips = 1 * PIPS_PER_BEAT;
inline constexpr std::int32_t kFigureEightPeriodPips = 2 * PIPS_PER_BEAT;
inline constexpr std::int32_t kStepTouchPeriodPips = 2 * PIPS_PER_BEAT;
inline constexpr std::int32_t kBoxStepPeriodPips = 4 * PIPS_PER_BEAT;
inline constexpr std::int32_t kHelixPeriodPips = 4 * PIPS_PER_BEAT;
inline constexpr std::int32_t kTamselBackgroundPeriodPips = 4 * PIPS_PER_BEAT;

Offset3 bounce(std::int32_t pip) noexcept;
Offset3 sway(std::int32_t pip) noexcept;
Offset3 circle(std::int32_t pip) noexcept;
Offset3 figure_eight(std::int32_t pip) noexcept;
Offset3 step_touch(std::int32_t pip) noexcept;
Offset3 box_step(std::int32_t pip) noexcept;
Offset3 helix(std::int32_t pip) noexcept;
Offset3 tamsel_background(std::int32_t pip) noexcept;

}  // namespace kinetra
