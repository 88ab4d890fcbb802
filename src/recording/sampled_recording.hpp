// A multi-axis recording captured once per pip against a tempo and a beat origin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/starts_empty.hpp"

namespace kinetra {

// At most 2^23 values (64 MiB of doubles) in a recording, whatever the number of axes.
inline constexpr std::size_t kMaxRecordingValues = std::size_t{1} << 23;

class SampledRecording {
public:
    // Validates in a fixed order and throws std::invalid_argument at the first failure.
    SampledRecording(std::string name, std::vector<std::string> dimensions,
                     const std::vector<std::vector<double>>& rows, double bpm,
                     double beat_zero_seconds, std::int32_t start_pip);

    // The row recorded at the pip; a recording never loops, so a pip outside its span
    // throws std::out_of_range.
    std::vector<double> sample(std::int32_t pip) const;

    const std::string& name() const noexcept { return name_; }
    const std::vector<std::string>& dimensions() const noexcept { return dimensions_; }
    std::int32_t sample_count() const noexcept;
    double bpm() const noexcept { return bpm_; }
    double beat_zero_seconds() const noexcept { return beat_zero_seconds_; }
    std::int32_t start_pip() const noexcept { return start_pip_; }

    // A recording without rows, the state of storage that no constructor filled.
    struct Empty {};
    explicit SampledRecording(Empty) noexcept {}
    static void* operator new(std::size_t size) { return allocate_empty<SampledRecording>(size); }
    static void operator delete(void* storage) noexcept { ::operator delete(storage); }

private:
    std::string name_;
    std::vector<std::string> dimensions_;
    std::vector<double> values_;  // row-major: axis a of row r at r * axes + a
    double bpm_ = 0.0;
    double beat_zero_seconds_ = 0.0;
    std::int32_t start_pip_ = 0;
};

}  // namespace kinetra
