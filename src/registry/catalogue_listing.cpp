#include "registry/catalogue_listing.hpp"

#include "registry/default_registry.hpp"

namespace kinetra {

std::vector<RegistryEntry> library_listing(const PatternLibrary& library) {
    const std::vector<RegistryEntry>& defaults = default_registry();
    std::vector<RegistryEntry> entries;
    entries.reserve(defaults.size() + library.patterns().size());
    entries.insert(entries.end(), defaults.begin(), defaults.end());
    for (const SampledPattern& pattern : library.patterns()) {
        // A stored pattern holds 1 to 65,535 samples, so its length fits the 16-bit field.
        entries.push_back({pattern.name(), pattern.description(),
                           static_cast<std::uint16_t>(pattern.samples().size()), pattern.dimensions()});
    }
    return entries;
}

}  // namespace kinetra
