#include "registry/name_lookup.hpp"

#include <stdexcept>
#include <string>

#include "catalogue/catalogue.hpp"
#include "catalogue/name_key.hpp"

namespace kinetra {
namespace {

// Linear probing from the name's home slot: every default name lies on a run of filled slots
// from its home, so reaching an empty slot first means no default has this name. Rudiments and
// catalogue rows share the table; no two defaults share a name, so neither can shadow the other.
const NameSlot* find_slot(std::string_view name) noexcept {
    const NameKey key = name_key(name);
    for (std::size_t at = name_home_slot(key);; at = (at + 1) % kNameSlotCount) {
        const NameSlot& slot = catalogue_name_slots[at];
        if (same_key(slot.key, key)) {
            return &slot;
        }
        if (slot.key.length == kNoNameLength) {
            return nullptr;
        }
    }
}

}  // namespace

Offset3 sample(std::string_view name, std::int32_t pip) {
    if (const NameSlot* slot = find_slot(name)) {
        return slot->accessor(pip);
    }
    throw std::invalid_argument("Unknown kinetra: " + std::string(name));
}

}  // namespace kinetra
