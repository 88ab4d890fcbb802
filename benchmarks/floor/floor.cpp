// The cheapest module the binding library allows with kinetra's call shapes: every function
// does next to no native work, so its cost is the binding library's alone.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace {

struct Point {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Point at(std::int32_t pip) noexcept { return {static_cast<double>(pip), 0.0, 0.0}; }

Point named(std::string_view name, std::int32_t pip) noexcept {
    return {static_cast<double>(pip), static_cast<double>(name.size()), 0.0};
}

// The same shape as a failed lookup: the message is built from the name and thrown.
Point unknown(std::string_view name, std::int32_t) {
    throw std::invalid_argument("Unknown kinetra: " + std::string(name));
}

struct Holder {
    std::vector<Point> points;
    explicit Holder(const std::vector<std::array<double, 3>>& samples) {
        points.reserve(samples.size());
        for (const auto& s : samples) {
            points.push_back({s[0], s[1], s[2]});
        }
    }
    Point sample(std::int32_t pip) const { return points[static_cast<std::size_t>(pip) % points.size()]; }
    Point sample_named(std::string_view, std::int32_t pip) const { return sample(pip); }
};

struct Rows {
    std::vector<double> values;
    std::size_t axes;
    Rows(const std::vector<std::vector<double>>& rows, std::size_t n) : axes(n) {
        values.reserve(rows.size() * n);
        for (const auto& row : rows) {
            values.insert(values.end(), row.begin(), row.end());
        }
    }
    std::vector<double> sample(std::int32_t pip) const {
        const auto first = values.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(pip) * axes);
        return {first, first + static_cast<std::ptrdiff_t>(axes)};
    }
};

}  // namespace

PYBIND11_MODULE(kinetra_floor, m) {
    py::class_<Point>(m, "Point")
        .def_readonly("x", &Point::x)
        .def("as_tuple", [](const Point& p) { return std::tuple<double, double, double>{p.x, p.y, p.z}; });
    py::class_<Holder>(m, "Holder")
        .def(py::init<const std::vector<std::array<double, 3>>&>(), py::arg("samples"))
        .def("sample", &Holder::sample, py::arg("pip_count").noconvert())
        .def("sample_named", &Holder::sample_named, py::arg("name"), py::arg("pip_count").noconvert());
    py::class_<Rows>(m, "Rows")
        .def(py::init<const std::vector<std::vector<double>>&, std::size_t>())
        .def("sample", &Rows::sample, py::arg("pip").noconvert());
    m.def("at", &at);
    m.def("named", &named, py::arg("name"), py::arg("pip_count"));
    m.def("unknown", &unknown, py::arg("name"), py::arg("pip_count"));
}
