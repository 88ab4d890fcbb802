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

// A slot of the name table: a default name's key and the accessor it stands for. One slot is
// one cache line, so a hit reads nothing else before the samples.
struct alignas(64) NameSlot {
    NameKey key{{}, kNoNameLength};
    PatternAccessor accessor = nullptr;
};

// Constant-initialised views of generated arrays, usable before any start-up code.
extern const std::span<const CatalogueRow> catalogue_rows;                      // table order
// Every default name, the rudiments' included, placed by linear probing from its home slot.
extern const std::array<NameSlot, kNameSlotCount> catalogue_name_slots;

// The rows are numbered in registry order (the rudiments, then the catalogue) and the generator
// names a row by its number in each slot, or kNoRow; the compiler makes the keys from the rows
// themselves, so a key cannot disagree with its name.
inline constexpr std::uint16_t kNoRow = 0xFFFF;

template <std::size_t R, std::size_t N>
constexpr const CatalogueRow& registry_row(const std::array<CatalogueRow, R>& rudiments,
                                           const std::array<CatalogueRow, N>& rows, std::size_t n) noexcept {
    return n < R ? rudiments[n] : rows[n - R];
}

template <std::size_t R, std::size_t N>
constexpr std::array<NameSlot, kNameSlotCount> name_slots(
    const std::array<CatalogueRow, R>& rudiments, const std::array<CatalogueRow, N>& rows,
    const std::array<std::uint16_t, kNameSlotCount>& slot_rows) noexcept {
    std::array<NameSlot, kNameSlotCount> slots{};
    for (std::size_t i = 0; i < kNameSlotCount; ++i) {
        if (slot_rows[i] != kNoRow) {
            const CatalogueRow& row = registry_row(rudiments, rows, slot_rows[i]);
            slots[i] = {name_key(row.entry.name), row.accessor};
        }
    }
    return slots;
}

// What the lookup relies on: every row in exactly one slot, reached from its home slot over
// filled slots only, and an empty slot left to end the probing for an unknown name.
template <std::size_t R, std::size_t N>
constexpr bool slots_are_placed(const std::array<CatalogueRow, R>& rudiments,
                                const std::array<CatalogueRow, N>& rows,
                                const std::array<std::uint16_t, kNameSlotCount>& slot_rows) noexcept {
    std::array<bool, R + N> seen{};
    std::size_t filled = 0;
    for (std::size_t i = 0; i < kNameSlotCount; ++i) {
        const std::size_t n = slot_rows[i];
        if (n == kNoRow) {
            continue;
        }
        if (n >= R + N || seen[n]) {
            return false;
        }
        seen[n] = true;
        ++filled;
        const CatalogueRow& row = registry_row(rudiments, rows, n);
        if (row.entry.name.size() > kNameKeyTextBytes) {
            return false;
        }
        for (std::size_t at = name_home_slot(name_key(row.entry.name)); at != i; at = (at + 1) % kNameSlotCount) {
            if (slot_rows[at] == kNoRow) {
                return false;
            }
        }
    }
    return filled == R + N && filled < kNameSlotCount;
}

}  // namespace kinetra
