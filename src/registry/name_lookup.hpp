// Finding a default pattern by name and evaluating it at a pip.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/offset3.hpp"

namespace kinetra {

// Looks the name up in the generated table of name slots, rudiments and catalogue alike. Throws
// std::invalid_argument "Unknown kinetra: <name>" for any other name. Never builds the
// registry and allocates only for the error message.
Offset3 sample(std::string_view name, std::int32_t pip);

}  // namespace kinetra
