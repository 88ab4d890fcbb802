#include "recording/sampled_recording.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "core/identifier.hpp"
#include "core/pip.hpp"

namespace kinetra {
namespace {

// A pip lasts 1/64 beat; a tempo so slow or so fast that a pip's length underflows to zero
// cannot place rows in time.
constexpr double kBeatsPerPip = 1.0 / PIPS_PER_BEAT;

bool valid_tempo(double bpm, double beat_zero_seconds) noexcept {
    if (!std::isfinite(bpm) || !(bpm > 0.0)) {
        return false;
    }
    const double seconds_per_beat = 60.0 / bpm;
    return std::isfinite(seconds_per_beat) && seconds_per_beat * kBeatsPerPip > 0.0 &&
           std::isfinite(beat_zero_seconds);
}

}  // namespace

SampledRecording::SampledRecording(std::string name, std::vector<std::string> dimensions,
                                   const std::vector<std::vector<double>>& rows, double bpm,
                                   double beat_zero_seconds, std::int32_t start_pip)
    : name_(std::move(name)),
      dimensions_(std::move(dimensions)),
      bpm_(bpm),
      beat_zero_seconds_(beat_zero_seconds),
      start_pip_(start_pip) {
    if (!is_identifier(name_)) {
        throw std::invalid_argument("Invalid identifier");
    }
    if (!valid_tempo(bpm, beat_zero_seconds)) {
        throw std::invalid_argument("A finite positive BPM and beat origin are required");
    }
    const std::size_t axes = dimensions_.size();
    // 64-bit sum: the pip one past the last row must still be a valid 32-bit pip.
    const std::int64_t end_pip = static_cast<std::int64_t>(start_pip) + static_cast<std::int64_t>(rows.size());
    if (axes == 0 || axes > kMaxRecordingValues || rows.empty() ||
        rows.size() > kMaxRecordingValues / axes ||
        end_pip > std::numeric_limits<std::int32_t>::max()) {
        throw std::invalid_argument("Empty recording or recording resource limit exceeded");
    }
    std::unordered_set<std::string_view> seen;
    seen.reserve(axes);
    for (const std::string& axis : dimensions_) {
        if (!is_identifier(axis)) {
            throw std::invalid_argument("Invalid identifier");
        }
        if (!seen.insert(axis).second) {
            throw std::invalid_argument("Duplicate axis");
        }
    }
    values_.reserve(rows.size() * axes);
    for (const std::vector<double>& row : rows) {
        if (row.size() != axes) {
            throw std::invalid_argument("Ragged recording");
        }
        for (const double v : row) {
            if (!std::isfinite(v) || std::fabs(v) > 1.0) {
                throw std::invalid_argument("Invalid sample");
            }
            values_.push_back(v);
        }
    }
}

std::int32_t SampledRecording::sample_count() const noexcept {
    return dimensions_.empty() ? 0 : static_cast<std::int32_t>(values_.size() / dimensions_.size());
}

std::vector<double> SampledRecording::sample(std::int32_t pip) const {
    const std::int64_t row = static_cast<std::int64_t>(pip) - start_pip_;
    if (row < 0 || row >= sample_count()) {
        throw std::out_of_range("Pip outside non-looping recording");
    }
    const std::size_t axes = dimensions_.size();
    const auto first = values_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(row) * axes);
    return {first, first + static_cast<std::ptrdiff_t>(axes)};
}

}  // namespace kinetra
