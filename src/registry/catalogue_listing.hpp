// The entries behind the two catalogue listings.
#pragma once

#include <vector>

#include "library/pattern_library.hpp"
#include "core/registry_entry.hpp"

namespace kinetra {

// Every default entry, then one per stored user pattern. The user entries view the library's
// own strings, so the result must not outlive the library.
std::vector<RegistryEntry> library_listing(const PatternLibrary& library);

}  // namespace kinetra
