// A caller's sampled pattern: a name, a description and one sample per pip of one loop.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/offset3.hpp"
#include "core/starts_empty.hpp"

namespace kinetra {

// A pattern's length is its period, which the listings report as a 16-bit number.
inline constexpr std::size_t kMaxPatternSamples = 65535;

class SampledPattern {
public:
    // Validates in a fixed order (name, sample count, sample values) and throws
    // std::invalid_argument at the first failure; the object is immutable afterwards.
    SampledPattern(std::string name, std::string description, std::vector<Offset3> samples);
    // The same from plain triples, the form in which samples arrive from Python.
    SampledPattern(std::string name, std::string description,
                   const std::vector<std::array<double, 3>>& samples);

    SampledPattern(const SampledPattern&) = default;
    SampledPattern& operator=(const SampledPattern&) = default;
    // Moving leaves the source empty (no name, no description, no samples): the moved-from
    // state, which cannot be sampled and which a library refuses.
    SampledPattern(SampledPattern&& other) noexcept;
    SampledPattern& operator=(SampledPattern&& other) noexcept;
    ~SampledPattern() = default;

    // The empty (moved-from) state, the only state of storage that no constructor filled.
    struct Empty {};
    explicit SampledPattern(Empty) noexcept {}
    static void* operator new(std::size_t size) { return allocate_empty<SampledPattern>(size); }
    static void operator delete(void* storage) noexcept { ::operator delete(storage); }

    // Throws std::logic_error for a moved-from pattern.
    Offset3 sample(std::int32_t pip) const;

    const std::string& name() const noexcept { return name_; }
    const std::string& description() const noexcept { return description_; }
    const std::vector<Offset3>& samples() const noexcept { return samples_; }
    std::int32_t period_pips() const noexcept { return static_cast<std::int32_t>(samples_.size()); }
    std::uint8_t dimensions() const noexcept { return dimensions_; }

private:
    std::string name_;
    std::string description_;
    std::vector<Offset3> samples_;
    std::uint8_t dimensions_ = 1;
};

}  // namespace kinetra
