// The value every position function returns: a displacement of three doubles.
#pragma once

#include <cstddef>
#include <new>
#include <tuple>

namespace kinetra {

struct Offset3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    friend bool operator==(const Offset3&, const Offset3&) = default;

    // Storage that no constructor filled (Python's __new__ alone) reads as the origin.
    static void* operator new(std::size_t size) { return ::new (::operator new(size)) Offset3{}; }
    static void operator delete(void* storage) noexcept { ::operator delete(storage); }
};

constexpr std::tuple<double, double, double> as_tuple(const Offset3& o) noexcept {
    return {o.x, o.y, o.z};
}

}  // namespace kinetra
