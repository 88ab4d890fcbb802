// The process-wide list of every default pattern: the rudiments, then the sampled catalogue.
#pragma once

#include <vector>

#include "core/registry_entry.hpp"

namespace kinetra {

// Built on first use behind a thread-safe one-time initialisation, never at import; if
// building runs out of memory the next call builds it anew.
const std::vector<RegistryEntry>& default_registry();

}  // namespace kinetra
