// Finding a default pattern by name and evaluating it at a pip.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/offset3.hpp"

namespace kinetra {

// Rudiment names first, then a binary search of the catalogue's name index. Throws
// std::invalid_argument "Unknown kinetra: <name>" for any other name. Never builds the
// registry and allocates only for the error message.
Offset3 sample(std::string_view name, std::int32_t pip);

}  // namespace kinetra
