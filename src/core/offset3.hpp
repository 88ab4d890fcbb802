// The value every position function returns: a displacement of three doubles.
#pragma once

#include <tuple>

namespace kinetra {

struct Offset3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    friend bool operator==(const Offset3&, const Offset3&) = default;
};

constexpr std::tuple<double, double, double> as_tuple(const Offset3& o) noexcept {
    return {o.x, o.y, o.z};
}

}  // namespace kinetra
