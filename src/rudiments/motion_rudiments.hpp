// The eight procedural body motions, each a pure function of the pip with its own loop.
#pragma once

#include <cstdint>

#include "core/offset3.hpp"

namespace kinetra {

Offset3 bounce(std::int32_t pip) noexcept;
Offset3 sway(std::int32_t pip) noexcept;
Offset3 circle(std::int32_t pip) noexcept;
Offset3 figure_eight(std::int32_t pip) noexcept;
Offset3 step_touch(std::int32_t pip) noexcept;
Offset3 box_step(std::int32_t pip) noexcept;
Offset3 helix(std::int32_t pip) noexcept;
Offset3 tamsel_background(std::int32_t pip) noexcept;

}  // namespace kinetra
