#include "registry/name_lookup.hpp"

#include <array>
#include <stdexcept>
#include <string>

#include "catalogue/catalogue.hpp"
#include "catalogue/name_key.hpp"
#include "registry/rudiment_table.hpp"

namespace kinetra {
namespace {

constexpr std::array<NameKey, kRudimentRows.size()> rudiment_keys() noexcept {
    std::array<NameKey, kRudimentRows.size()> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keys[i] = name_key(kRudimentRows[i].entry.name);
    }
    return keys;
}

// Every rudiment name fits a key whole, so equal keys are equal names.
constexpr std::array<NameKey, kRudimentRows.size()> kRudimentKeys = rudiment_keys();
static_assert([] {
    for (const CatalogueRow& row : kRudimentRows) {
        if (key_is_partial(row.entry.name)) {
            return false;
        }
    }
    return true;
}());

const CatalogueRow* find_rudiment(const NameKey& key) noexcept {
    for (std::size_t i = 0; i < kRudimentKeys.size(); ++i) {
        if (kRudimentKeys[i] == key) {
            return &kRudimentRows[i];
        }
    }
    return nullptr;
}

// The lower-bound search over the name index, position for position: each step compares the
// key at the middle of the remaining range. The keys are a compact array of their own, so a
// step reads one cache line and no name; the full names are read only when a name too long
// for its key meets another such name with the same key. The step branches on the comparison:
// moving the bounds by masks instead measured twice as slow, since every step then waits for
// the one before, where a predicted branch lets the next loads start at once.
template <bool Partial>
std::size_t lower_bound(std::string_view name, const NameKey& key) noexcept {
    const std::span<const NameKey> keys = catalogue_name_keys;
    std::size_t first = 0;
    std::size_t count = keys.size();
    while (count > 0) {
        const std::size_t half = count / 2;
        const std::size_t middle = first + half;
        auto [before, tie] = compare_keys(keys[middle], key);
        if constexpr (Partial) {
            if (tie) {
                before = catalogue_rows[catalogue_name_index[middle]].entry.name < name;
            }
        }
        if (before) {
            first = middle + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

const CatalogueRow* find_catalogue_row(std::string_view name, const NameKey& key) noexcept {
    const bool partial = key_is_partial(name);
    const std::size_t at = partial ? lower_bound<true>(name, key) : lower_bound<false>(name, key);
    if (at == catalogue_name_keys.size() || !(catalogue_name_keys[at] == key)) {
        return nullptr;
    }
    // Equal keys of names that fit them whole are equal names.
    const CatalogueRow& row = catalogue_rows[catalogue_name_index[at]];
    return partial && row.entry.name != name ? nullptr : &row;
}

}  // namespace

Offset3 sample(std::string_view name, std::int32_t pip) {
    const NameKey key = name_key(name);
    if (const CatalogueRow* row = find_rudiment(key)) {
        return row->accessor(pip);
    }
    if (const CatalogueRow* row = find_catalogue_row(name, key)) {
        return row->accessor(pip);
    }
    throw std::invalid_argument("Unknown kinetra: " + std::string(name));
}

}  // namespace kinetra
