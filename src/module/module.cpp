// The import entry and the Python surface. Each registration points at one core operation;
// conversion and exception translation are the binding library's own.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <span>

#include "core/pip.hpp"
#include "library/pattern_library.hpp"
#include "library/sampled_pattern.hpp"
#include "recording/sampled_recording.hpp"
#include "registry/catalogue_listing.hpp"
#include "registry/default_registry.hpp"
#include "registry/name_lookup.hpp"
#include "rudiments/drum_rudiments.hpp"
#include "rudiments/motion_rudiments.hpp"

namespace py = pybind11;

namespace {

// The catalogue dictionary: keys inserted in the documented order; texts decoded strictly.
// The keys are made once per listing and interned, as the interpreter's own literals are, so a
// caller's entry["name"] finds its key by identity. The list is sized up front and each
// dictionary filled through the interpreter's own insertion.
py::list catalogue_list(std::span<const kinetra::RegistryEntry> entries) {
    std::array<py::object, 4> keys;
    const std::array<const char*, 4> key_texts{"name", "description", "period_pips", "dimensions"};
    for (std::size_t k = 0; k < keys.size(); ++k) {
        keys[k] = py::reinterpret_steal<py::object>(PyUnicode_InternFromString(key_texts[k]));
        if (!keys[k]) {
            throw py::error_already_set();
        }
    }
    py::list out(entries.size());
    std::size_t i = 0;
    for (const kinetra::RegistryEntry& entry : entries) {
        const std::array<py::object, 4> values{
            py::str(entry.name.data(), entry.name.size()),
            py::str(entry.description.data(), entry.description.size()),
            py::int_(entry.period_pips), py::int_(entry.dimensions)};
        py::dict d;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (PyDict_SetItem(d.ptr(), keys[k].ptr(), values[k].ptr()) != 0) {
                throw py::error_already_set();
            }
        }
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i++), d.release().ptr());
    }
    return out;
}

py::list module_catalogue() { return catalogue_list(kinetra::default_registry()); }

py::list library_catalogue(const kinetra::PatternLibrary& library) {
    return catalogue_list(kinetra::library_listing(library));
}

}  // namespace

PYBIND11_MODULE(kinetra, m) {
    using namespace kinetra;
    m.doc() = "Integer-pip rhythmic position functions";
    m.attr("PIPS_PER_BEAT") = PIPS_PER_BEAT;

    py::class_<SampledRecording>(m, "SampledRecording")
        .def(py::init<std::string, std::vector<std::string>, const std::vector<std::vector<double>>&,
                      double, double, std::int32_t>(),
             py::arg("name"), py::arg("dimensions"), py::arg("samples"), py::arg("bpm"),
             py::arg("beat_zero_seconds") = 0.0, py::arg("start_pip") = 0)
        .def_property_readonly("name", &SampledRecording::name)
        .def_property_readonly("dimensions", &SampledRecording::dimensions)
        .def_property_readonly("sample_count", &SampledRecording::sample_count)
        .def_property_readonly("bpm", &SampledRecording::bpm)
        .def_property_readonly("beat_zero_seconds", &SampledRecording::beat_zero_seconds)
        .def_property_readonly("start_pip", &SampledRecording::start_pip)
        .def("sample", &SampledRecording::sample, py::arg("pip").noconvert());

    py::class_<Offset3>(m, "Offset3")
        .def_readonly("x", &Offset3::x)
        .def_readonly("y", &Offset3::y)
        .def_readonly("z", &Offset3::z)
        .def("as_tuple", &as_tuple);

    py::class_<SampledPattern>(m, "SampledPattern")
        .def(py::init<std::string, std::string, const std::vector<std::array<double, 3>>&>(),
             py::arg("name"), py::arg("description"), py::arg("samples"))
        .def_property_readonly("name", &SampledPattern::name)
        .def_property_readonly("description", &SampledPattern::description)
        .def_property_readonly("period_pips", &SampledPattern::period_pips)
        .def("sample", &SampledPattern::sample, py::arg("pip_count").noconvert());

    py::class_<PatternLibrary>(m, "PatternLibrary")
        .def(py::init<std::vector<SampledPattern>>(), py::arg("patterns") = py::list())
        .def("sample", &PatternLibrary::sample, py::arg("name"), py::arg("pip_count").noconvert())
        .def("catalogue", &library_catalogue);

    m.def("sample", &kinetra::sample, py::arg("name"), py::arg("pip_count"));
    m.def("catalogue", &module_catalogue);

    m.def("bounce", &bounce);
    m.def("sway", &sway);
    m.def("circle", &circle);
    m.def("figure_eight", &figure_eight);
    m.def("step_touch", &step_touch);
    m.def("box_step", &box_step);
    m.def("helix", &helix);
    m.def("tamsel_background", &tamsel_background);
    m.def("single_stroke_roll", &single_stroke_roll);
    m.def("double_stroke_roll", &double_stroke_roll);
    m.def("multiple_bounce_roll", &multiple_bounce_roll);
    m.def("single_paradiddle", &single_paradiddle);
    m.def("flam", &flam);
    m.def("drag", &drag);
    m.def("five_stroke_roll", &five_stroke_roll);
}
