// Seven classic drum stickings turned into motion through the stroke envelope.
#pragma once

#include <cstdint>

#include "core/offset3.hpp"
#include "core/pip.hpp"

namespace kinetra {

// Each sticking's loop, in whole beats; the registry lists these same periods.
inline constexpr std::int32_t kSingleStrokeRollPeriodPips = 1 * PIPS_PER_BEAT;
inline constexpr std::int32_t kDoubleStrokeRollPeriodPips = 1 * PIPS_PER_BEAT;
inline constexpr std::int32_t kMultipleBounceRollPeriodPips = 1 * PIPS_PER_BEAT;
inline constexpr std::int32_t kSingleParadiddlePeriodPips = 2 * PIPS_PER_BEAT;
inline constexpr std::int32_t kFlamPeriodPips = 1 * PIPS_PER_BEAT;
inline constexpr std::int32_t kDragPeriodPips = 1 * PIPS_PER_BEAT;
inline constexpr std::int32_t kFiveStrokeRollPeriodPips = 2 * PIPS_PER_BEAT;

Offset3 single_stroke_roll(std::int32_t pip) noexcept;
Offset3 double_stroke_roll(std::int32_t pip) noexcept;
Offset3 multiple_bounce_roll(std::int32_t pip) noexcept;
Offset3 single_paradiddle(std::int32_t pip) noexcept;
Offset3 flam(std::int32_t pip) noexcept;
Offset3 drag(std::int32_t pip) noexcept;
Offset3 five_stroke_roll(std::int32_t pip) noexcept;

}  // namespace kinetra
