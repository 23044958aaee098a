// voxmol.Grid, read_grid, write_pdb and convert: the converter's grid reader, pseudo-atom writer and run
// driver.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bindings.h"
#include "dx/formats/read.h"
#include "dx/grid.h"
#include "dx/voxmol.h"
#include "dx/write/pdb_writer.h"
#include "dx/write/write_pipe.h"
#include "host.h"

namespace voxpy {

namespace {

// A grid and the values it owns.
struct Grid {
    Tuhbdgrd record{};  // record.data views `values`
    GridValues values;
    std::string format;
    std::string compression;  // "gzip", or empty
    // How the values are stored: x fastest for a voxmol text file read with the order "ZYX", whose value
    // of point (i, j, k) is element i + nx*(j + ny*k), as the writer then takes it.
    ValueOrder order = ValueOrder::z_fastest;

    std::size_t points() const { return record.data.size(); }
    const char* order_name() const { return order == ValueOrder::x_fastest ? "ZYX" : "XYZ"; }
};

// "XYZ" or "ZYX", as the command line's -o takes it (any case).
std::string checked_order(std::string order) {
    for (char& c : order)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (order != "XYZ" && order != "ZYX")
        throw py::value_error("order must be \"XYZ\" or \"ZYX\", not \"" + order + "\"");
    return order;
}

void check_step(int step) {
    if (step < 1)
        throw py::value_error("step must be 1 or more (every step-th point in the window is written)");
}

// The values as an array of shape (nx, ny, nz) indexed [i, j, k], viewing the grid's own storage and
// keeping the grid alive.
py::array values_view(const py::object& self) {
    Grid& g = self.cast<Grid&>();
    const auto& r = g.record;
    const std::vector<py::ssize_t> shape{r.nx, r.ny, r.nz};
    if (g.points() == 0) return py::array_t<double>(shape);
    const py::ssize_t d = sizeof(double);
    const std::vector<py::ssize_t> strides = g.order == ValueOrder::x_fastest
                                                 ? std::vector<py::ssize_t>{d, d * r.nx, d * r.nx * r.ny}
                                                 : std::vector<py::ssize_t>{d * r.ny * r.nz, d * r.nz, d};
    return py::array(py::dtype::of<double>(), shape, strides, g.values.get(), self);
}

py::array_t<double> origin_of(const Grid& g) {
    py::array_t<double> out(3);
    auto o = out.mutable_unchecked<1>();
    o(0) = g.record.xmin;
    o(1) = g.record.ymin;
    o(2) = g.record.zmin;
    return out;
}

py::array_t<double> axes_of(const Grid& g) {
    const Axes a = grid_axes(g.record);
    py::array_t<double> out({3, 3});
    auto o = out.mutable_unchecked<2>();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            o(r, c) = a[r][c];
    return out;
}

// Point (i, j, k) at origin + i*a + j*b + k*c, as the writer places it.
py::array_t<double> positions_of(const Grid& g) {
    const auto& r = g.record;
    const Axes a = grid_axes(r);
    py::array_t<double> out({static_cast<py::ssize_t>(g.points()), py::ssize_t{3}});
    double* p = out.mutable_data();
    for (long i = 0; i < r.nx; ++i) {
        for (long j = 0; j < r.ny; ++j) {
            for (long k = 0; k < r.nz; ++k) {
                for (double c : grid_position(r, a, i, j, k))
                    *p++ = c;
            }
        }
    }
    return out;
}

std::array<double, 3> finite_vector(const py::handle& v, const char* what) {
    const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(v);
    if (!a || a.ndim() != 1 || a.shape(0) != 3)
        throw py::value_error(std::string(what) + " must be 3 numbers");
    std::array<double, 3> out{};
    for (int d = 0; d < 3; ++d) {
        out[d] = a.at(d);
        if (!std::isfinite(out[d])) throw py::value_error(std::string(what) + " must be finite");
    }
    return out;
}

Axes finite_axes(const py::handle& v) {
    const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(v);
    if (!a || a.ndim() != 2 || a.shape(0) != 3 || a.shape(1) != 3)
        throw py::value_error("axes must be a 3x3 array: the step vectors a, b, c as rows");
    Axes out{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            out[r][c] = a.at(r, c);
            if (!std::isfinite(out[r][c])) throw py::value_error("axes must be finite");
        }
    }
    return out;
}

// A grid made from an array of real numbers: the values copied, whatever their type and layout, into
// storage of the library's own, in walk order.
std::unique_ptr<Grid> grid_from_array(const py::handle& given, const py::handle& origin,
                                      const py::handle& axes) {
    const auto values = py::module_::import("numpy").attr("asarray")(given).cast<py::array>();
    if (values.ndim() != 3)
        throw py::value_error("values must be a 3-dimensional array, not " + std::to_string(values.ndim()) +
                              "-dimensional");
    const char kind = values.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u')
        throw py::type_error("values must hold real numbers, not " + std::string(py::str(values.dtype())));
    for (int d = 0; d < 3; ++d)
        if (values.shape(d) > INT_MAX)
            throw py::value_error("a grid dimension must not exceed " + std::to_string(INT_MAX));
    auto g = std::make_unique<Grid>();
    g->record =
        grid_record(static_cast<int>(values.shape(0)), static_cast<int>(values.shape(1)),
                    static_cast<int>(values.shape(2)), finite_vector(origin, "origin"), finite_axes(axes));
    g->format = "array";
    const std::size_t points = static_cast<std::size_t>(values.size());
    g->values = quietly(false, [&] { return allocate_grid_values(points); });
    g->record.data = std::span<double>(g->values.get(), points);
    if (points > 0) {
        const py::array_t<double> target({values.shape(0), values.shape(1), values.shape(2)}, g->values.get(),
                                         py::none());
        py::module_::import("numpy").attr("copyto")(target, values, py::arg("casting") = "unsafe");
    }
    return g;
}

std::unique_ptr<Grid> read_grid(const py::handle& path, int level, std::string order) {
    order = checked_order(std::move(order));
    const std::string name = file_name(path);
    // As the command line's -o: given only when it says something, since any other format draws a warning.
    const std::optional<ValueOrder> given =
        order == "ZYX" ? std::optional(ValueOrder::x_fastest) : std::nullopt;
    GridFile file = quietly(level > 0, [&] { return read_grid_file(name, given, level); });
    auto g = std::make_unique<Grid>();
    g->record = file.grid;
    g->values = std::move(file.values);
    g->format = std::move(file.format);
    g->compression = std::move(file.compression);
    g->order = file.order;
    return g;
}

long write_grid_pdb(const Grid& g, const py::handle& target, std::pair<double, double> window, int step,
                    bool verbose) {
    check_step(step);
    const auto [min, max] = window;
    Output out(target);
    // A Python file object may only be written from this thread.
    const bool threaded = !out.to_python() && writepipe::second_thread_pays();
    return quietly(verbose, [&] {
        print_writing_started();
        const long records =
            write_pdb_records(out.get(), g.record, min, max, step, g.order, threaded, nullptr);
        out.close();
        print_writing_done();
        return records;
    });
}

std::string convert(const py::handle& path, std::pair<double, double> window, int step, std::string order,
                    bool verbose, std::optional<int> level) {
    check_step(step);
    order = checked_order(std::move(order));
    Settings s;
    s.dataname = file_name(path);
    s.thres_min = window.first;
    s.thres_max = window.second;
    s.resol = step;
    // -o only when it says something: for a format other than voxmol's own, -o draws a warning.
    if (order != "XYZ") {
        s.DATAORD = order;
        s.order_given = true;
    }
    if (level) s.LEVEL = *level;
    quietly(verbose, [&] { return run_conversion(s); });
    return py::module_::import("os").attr("fsdecode")(py::bytes(output_name(s.dataname))).cast<std::string>();
}

}  // namespace

void bind_grid(py::module_& m) {
    py::class_<Grid>(m, "Grid",
                     "A regular 3-D grid of values, point (i, j, k) at origin + i*a + j*b + k*c (Angstrom).")
        .def(py::init(&grid_from_array), py::arg("values"), py::arg("origin"), py::arg("axes"),
             "A grid from a 3-D array of real numbers (any dtype and memory order; copied), the position of "
             "point (0, 0, 0) and the step vectors a, b, c as the rows of a 3x3 array.")
        .def_property_readonly(
            "values", &values_view,
            "The values, shape (nx, ny, nz), indexed [i, j, k]: a writable view of the grid's "
            "own storage (float64) that keeps the grid alive. values.ravel() lists them in "
            "the order of positions().")
        .def_property_readonly("origin", &origin_of, "Position of point (0, 0, 0), shape (3,).")
        .def_property_readonly("axes", &axes_of, "The step vectors a, b, c as rows, shape (3, 3).")
        .def_property_readonly(
            "shape", [](const Grid& g) { return py::make_tuple(g.record.nx, g.record.ny, g.record.nz); },
            "(nx, ny, nz)")
        .def_property_readonly(
            "format", [](const Grid& g) { return g.format; },
            "The file format as the converter names it (\"voxmol text\", \"OpenDX, text\", "
            "...), or \"array\" for a grid made from an array.")
        .def_property_readonly(
            "gzip", [](const Grid& g) { return g.compression == "gzip"; }, "The file was gzip-compressed.")
        .def_property_readonly(
            "order", [](const Grid& g) { return std::string(g.order_name()); },
            "\"ZYX\" for a voxmol text file read with order=\"ZYX\" (values listed x "
            "fastest), else \"XYZ\".")
        .def("positions", &positions_of,
             "Cartesian position of every point, shape (nx*ny*nz, 3), in walk order (i slowest, k fastest).")
        .def("__repr__", [](const Grid& g) {
            return "<voxmol.Grid " + std::to_string(g.record.nx) + "x" + std::to_string(g.record.ny) + "x" +
                   std::to_string(g.record.nz) + ", " + g.format + ">";
        });

    m.def("read_grid", &read_grid, py::arg("path"), py::arg("level") = 0, py::arg("order") = "XYZ",
          "Reads a grid file in any format voxmol reads (voxmol text, OpenDX, CCP4/MRC, cube, AutoDock; "
          "gzip-compressed or not). order=\"ZYX\" reads a voxmol text file listed x fastest, as -o ZYX. "
          "What the reader prints goes to sys.stdout only when level > 0 (the converter's -l).");
    m.def("write_pdb", &write_grid_pdb, py::arg("grid"), py::arg("path"),
          py::arg("window") = std::pair<double, double>(-1.0, 1.0), py::arg("step") = 1,
          py::arg("verbose") = false,
          "Writes the pseudo-atom PDB file the command line writes for this grid, window (min, max) and step "
          "(-t and -r), to a path or a file object opened for writing; returns the number of ATOM records. "
          "The two progress lines go to sys.stdout only when verbose.");
    m.def("convert", &convert, py::arg("path"), py::arg("window") = std::pair<double, double>(-1.0, 1.0),
          py::arg("step") = 1, py::arg("order") = "XYZ", py::arg("verbose") = false,
          py::arg("level") = py::none(),
          "One command-line run, voxmol <path> -t min max -r step [-o order] [-l level]: writes the PDB file "
          "beside the input and returns its name. The run's messages go to sys.stdout only when verbose.");
}

}  // namespace voxpy
