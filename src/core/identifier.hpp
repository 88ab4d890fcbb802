// The one naming rule for patterns, recordings and axes.
#pragma once

#include <cstddef>
#include <string_view>

namespace kinetra {

inline constexpr std::size_t kMaxIdentifierBytes = 128;

// 1 to 128 bytes of a-z, 0-9 and _, beginning with a letter; nothing else, no non-ASCII byte.
constexpr bool is_identifier(std::string_view name) noexcept {
    if (name.empty() || name.size() > kMaxIdentifierBytes || name[0] < 'a' || name[0] > 'z') {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace kinetra
