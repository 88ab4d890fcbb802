#include "library/pattern_library.hpp"

#include <stdexcept>
#include <string>
#include <unordered_set>

#include "registry/default_registry.hpp"
#include "registry/name_lookup.hpp"

namespace kinetra {
namespace {

const RegistryEntry* find_default(const std::vector<RegistryEntry>& registry, std::string_view name) noexcept {
    for (const RegistryEntry& entry : registry) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

bool copies_default(const SampledPattern& pattern, const RegistryEntry& entry) {
    if (pattern.description() != entry.description ||
        pattern.samples().size() != entry.period_pips) {
        return false;
    }
    for (std::int32_t pip = 0; pip < pattern.period_pips(); ++pip) {
        if (!(pattern.sample(pip) == kinetra::sample(entry.name, pip))) {
            return false;
        }
    }
    return true;
}

}  // namespace

PatternLibrary::PatternLibrary(std::vector<SampledPattern> patterns) {
    if (patterns.size() > kMaxPackPatterns) {
        throw std::invalid_argument("Too many patterns");
    }
    std::unordered_set<std::string> seen;
    seen.reserve(patterns.size());
    std::size_t total = 0;
    const std::vector<RegistryEntry>& registry = default_registry();
    patterns_.reserve(patterns.size());
    for (SampledPattern& pattern : patterns) {
        if (pattern.samples().empty()) {
            throw std::invalid_argument("Empty/moved-from pattern");
        }
        if (!seen.insert(pattern.name()).second) {
            throw std::invalid_argument("Duplicate pattern name: " + pattern.name());
        }
        total += pattern.samples().size();
        if (total > kMaxPackSamples) {
            throw std::invalid_argument("Pattern pack is too large");
        }
        if (const RegistryEntry* entry = find_default(registry, pattern.name())) {
            if (!copies_default(pattern, *entry)) {
                throw std::invalid_argument("Cannot override default pattern: " + pattern.name());
            }
            continue;
        }
        patterns_.push_back(std::move(pattern));
    }
}

Offset3 PatternLibrary::sample(std::string_view name, std::int32_t pip) const {
    for (const SampledPattern& pattern : patterns_) {
        if (pattern.name() == name) {
            return pattern.sample(pip);
        }
    }
    return kinetra::sample(name, pip);
}

}  // namespace kinetra
