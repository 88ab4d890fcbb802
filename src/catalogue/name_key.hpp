// Fixed-width keys of default names and the hash that places them in the lookup's table, so
// that finding a name is one hash, one table slot and a compare of five machine words.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace kinetra {

// A key holds the first 32 bytes of a name, zero-padded, as four little-endian words, and the
// name's length capped at 33. Every default name has 32 bytes or fewer, so its key is the name
// whole: a zero byte of a name and the padding differ in the length, and a longer name's
// capped length matches no default's. src/catalogue/name_table.py mirrors this file; the
// generated table is checked against it when it compiles.
inline constexpr std::size_t kNameKeyTextBytes = 32;
inline constexpr std::uint64_t kNoNameLength = ~std::uint64_t{0};  // marks an empty slot

struct NameKey {
    std::array<std::uint64_t, kNameKeyTextBytes / 8> text;
    std::uint64_t length;
};

namespace name_key_detail {

template <typename Word>
Word load(const char* at) noexcept {
    Word word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

inline std::uint64_t byte_at(const char* at, std::size_t k) noexcept {
    return std::uint64_t{static_cast<unsigned char>(at[k])} << (8 * k);
}

}  // namespace name_key_detail

constexpr NameKey name_key(std::string_view name) noexcept {
    const std::size_t n = name.size();
    NameKey key{{}, std::min<std::uint64_t>(n, kNameKeyTextBytes + 1)};
    if (std::is_constant_evaluated() || std::endian::native != std::endian::little) {
        for (std::size_t k = 0; k < std::min(n, kNameKeyTextBytes); ++k) {
            key.text[k / 8] |= std::uint64_t{static_cast<unsigned char>(name[k])} << (8 * (k % 8));
        }
        return key;
    }
    // Whole-word loads that never leave the name: a word the name ends inside is loaded from
    // the name's last eight bytes and shifted down. Copying into a zeroed buffer instead
    // branched on every bit of the length and stalled on reading back what it had just written.
    using name_key_detail::byte_at;
    using name_key_detail::load;
    const char* p = name.data();
    if (n >= 8) {
        for (std::size_t i = 0; i < key.text.size(); ++i) {
            const std::size_t at = 8 * i;
            const std::size_t from = std::min(at, n - 8);
            const std::uint64_t word = load<std::uint64_t>(p + from) >> ((8 * (at - from)) & 63);
            key.text[i] = at < n ? word : 0;
        }
    } else if (n >= 4) {
        key.text[0] = load<std::uint32_t>(p) | std::uint64_t{load<std::uint32_t>(p + n - 4)} << (8 * (n - 4));
    } else if (n > 0) {
        key.text[0] = byte_at(p, 0) | byte_at(p, n / 2) | byte_at(p, n - 1);
    }
    return key;
}

// One test of all five words: a hit is decided by a single branch, never word by word.
constexpr bool same_key(const NameKey& a, const NameKey& b) noexcept {
    return ((a.text[0] ^ b.text[0]) | (a.text[1] ^ b.text[1]) | (a.text[2] ^ b.text[2]) |
            (a.text[3] ^ b.text[3]) | (a.length ^ b.length)) == 0;
}

// 4,096 slots keep the table under half full with every default name, so most names sit in
// their home slot and an unknown name meets an empty slot within a few.
inline constexpr unsigned kNameSlotBits = 12;
inline constexpr std::size_t kNameSlotCount = std::size_t{1} << kNameSlotBits;

// The words are multiplied independently and summed, so the products overlap in the pipeline;
// the slot is the sum's top bits, the ones every byte of the key reaches.
inline constexpr std::array<std::uint64_t, 5> kNameHashMultipliers{
    0x9E3779B97F4A7C15, 0xC2B2AE3D27D4EB4F, 0x165667B19E3779F9, 0xD6E8FEB86659FD93,
    0xFF51AFD7ED558CCD};

constexpr std::size_t name_home_slot(const NameKey& key) noexcept {
    const std::array<std::uint64_t, 5>& m = kNameHashMultipliers;
    const std::uint64_t sum = (key.text[0] * m[0] + key.text[1] * m[1]) +
                              (key.text[2] * m[2] + key.text[3] * m[3]) + key.length * m[4];
    return static_cast<std::size_t>(sum >> (64 - kNameSlotBits));
}

}  // namespace kinetra
