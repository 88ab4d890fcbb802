// The sampled default patterns, generated at build time from data/ as constant tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "catalogue/name_key.hpp"
#include "core/offset3.hpp"
#include "core/registry_entry.hpp"

namespace kinetra {

using PatternAccessor = Offset3 (*)(std::int32_t pip) noexcept;

// A registry entry plus the accessor that folds a pip into the row's slice of the block.
struct CatalogueRow {
    RegistryEntry entry;
    PatternAccessor accessor;
};

// Both are constant-initialised views of generated arrays, usable before any start-up code.
extern const std::span<const CatalogueRow> catalogue_rows;          // table order
extern const std::span<const std::size_t> catalogue_name_index;     // names in unsigned byte order
extern const std::span<const NameKey> catalogue_name_keys;          // their keys, in index order

// Made by the compiler over the generated arrays: the keys cannot disagree with the names.
template <std::size_t N>
constexpr std::array<NameKey, N> name_keys_in_order(const std::array<CatalogueRow, N>& rows,
                                                    const std::array<std::size_t, N>& index) noexcept {
    std::array<NameKey, N> keys{};
    for (std::size_t i = 0; i < N; ++i) {
        keys[i] = name_key(rows[index[i]].entry.name);
    }
    return keys;
}

// Strictly ascending names over as many positions as rows: the index is a permutation in the
// search's order.
template <std::size_t N>
constexpr bool names_ascend(const std::array<CatalogueRow, N>& rows,
                            const std::array<std::size_t, N>& index) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
        if (index[i] >= N || (i > 0 && !(rows[index[i - 1]].entry.name < rows[index[i]].entry.name))) {
            return false;
        }
    }
    return true;
}

}  // namespace kinetra
