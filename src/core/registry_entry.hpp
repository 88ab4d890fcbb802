// One row of the default pattern registry: what a pattern is called and how it loops. It lives
// here because the catalogue's rows embed it and the registry is built from those rows.
#pragma once

#include <cstdint>
#include <string_view>

namespace kinetra {

struct RegistryEntry {
    std::string_view name;         // views of static text, or of a library's own strings
    std::string_view description;
    std::uint16_t period_pips;
    std::uint8_t dimensions;
};

}  // namespace kinetra
