// The sampled default patterns, generated at build time from data/ as constant tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

}  // namespace kinetra
