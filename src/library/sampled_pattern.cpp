#include "library/sampled_pattern.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "core/identifier.hpp"
#include "core/pip.hpp"

namespace kinetra {
namespace {

bool in_unit_range(double v) noexcept { return std::isfinite(v) && v >= -1.0 && v <= 1.0; }

std::vector<Offset3> to_offsets(const std::vector<std::array<double, 3>>& triples) {
    std::vector<Offset3> out;
    out.reserve(triples.size());
    for (const auto& t : triples) {
        out.push_back({t[0], t[1], t[2]});
    }
    return out;
}

}  // namespace

SampledPattern::SampledPattern(std::string name, std::string description, std::vector<Offset3> samples)
    : name_(std::move(name)), description_(std::move(description)), samples_(std::move(samples)) {
    if (!is_identifier(name_)) {
        throw std::invalid_argument("Invalid pattern name");
    }
    if (samples_.empty() || samples_.size() > kMaxPatternSamples) {
        throw std::invalid_argument("A pattern requires 1..65535 samples (one per pip)");
    }
    for (const Offset3& s : samples_) {
        if (!in_unit_range(s.x) || !in_unit_range(s.y) || !in_unit_range(s.z)) {
            throw std::invalid_argument("Pattern samples must be finite and within [-1, 1]");
        }
        // -0.0 compares equal to zero, so it counts as no motion.
        if (s.z != 0.0) {
            dimensions_ = 3;
        } else if (s.y != 0.0 && dimensions_ != 3) {
            dimensions_ = 2;
        }
    }
}

SampledPattern::SampledPattern(std::string name, std::string description,
                               const std::vector<std::array<double, 3>>& samples)
    : SampledPattern(std::move(name), std::move(description), to_offsets(samples)) {}

SampledPattern::SampledPattern(SampledPattern&& other) noexcept
    : name_(std::exchange(other.name_, {})),
      description_(std::exchange(other.description_, {})),
      samples_(std::exchange(other.samples_, {})),
      dimensions_(other.dimensions_) {}

SampledPattern& SampledPattern::operator=(SampledPattern&& other) noexcept {
    name_ = std::exchange(other.name_, {});
    description_ = std::exchange(other.description_, {});
    samples_ = std::exchange(other.samples_, {});
    dimensions_ = other.dimensions_;
    return *this;
}

Offset3 SampledPattern::sample(std::int32_t pip) const {
    if (samples_.empty()) {
        throw std::logic_error("Cannot sample a moved-from pattern");
    }
    return samples_[static_cast<std::size_t>(wrap_pip(pip, period_pips()))];
}

}  // namespace kinetra
