// Seven classic drum stickings turned into motion through the stroke envelope.
#pragma once

#include <cstdint>

#include "core/offset3.hpp"

namespace kinetra {

Offset3 single_stroke_roll(std::int32_t pip) noexcept;
Offset3 double_stroke_roll(std::int32_t pip) noexcept;
Offset3 multiple_bounce_roll(std::int32_t pip) noexcept;
Offset3 single_paradiddle(std::int32_t pip) noexcept;
Offset3 flam(std::int32_t pip) noexcept;
Offset3 drag(std::int32_t pip) noexcept;
Offset3 five_stroke_roll(std::int32_t pip) noexcept;

}  // namespace kinetra
