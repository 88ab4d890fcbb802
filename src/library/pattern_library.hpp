// A caller's pattern pack layered over the default patterns.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/offset3.hpp"
#include "core/starts_empty.hpp"
#include "library/sampled_pattern.hpp"

namespace kinetra {

// Bounds on what one pack may cost in memory and in checking: 2^20 samples are 24 MiB.
inline constexpr std::size_t kMaxPackPatterns = 1024;
inline constexpr std::size_t kMaxPackSamples = std::size_t{1} << 20;

class PatternLibrary {
public:
    // Checks the whole pack once and throws std::invalid_argument at the first fault. A
    // pattern that carries a default's name is accepted only as an exact copy of that default,
    // and is then not stored: the name keeps meaning the default.
    explicit PatternLibrary(std::vector<SampledPattern> patterns);

    // A stored pattern of that name, otherwise the default lookup.
    Offset3 sample(std::string_view name, std::int32_t pip) const;

    const std::vector<SampledPattern>& patterns() const noexcept { return patterns_; }

    // A library without user patterns, the state of storage that no constructor filled.
    struct Empty {};
    explicit PatternLibrary(Empty) noexcept {}
    static void* operator new(std::size_t size) { return allocate_empty<PatternLibrary>(size); }
    static void operator delete(void* storage) noexcept { ::operator delete(storage); }

private:
    std::vector<SampledPattern> patterns_;
};

}  // namespace kinetra
