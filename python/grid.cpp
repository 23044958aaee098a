// voxmol.Grid, read_grid, write_pdb, convert, write_grid and write_points: the converter's grid reader,
// pseudo-atom writer and run driver, and the grid and point writers of dx/export.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"
#include "dx/formats/read.h"
#include "dx/grid.h"
#include "dx/voxmol.h"
#include "dx/write/export.h"
#include "dx/write/pdb_writer.h"
#include "dx/write/record_filter.h"
#include "dx/write/write_pipe.h"
#include "host.h"

namespace voxpy {

namespace {

// A grid and the values it owns.
struct Grid {
    Tuhbdgrd record{};  // record.data views `values` (empty when the values are kept in `single`)
    GridValues values;
    // A grid read from a file whose values are all floats (a CCP4/MRC map) keeps them in single
    // precision, as the file did, and `values` is empty: half the memory, and a map read as it lies.
    SingleValues single;
    std::size_t count = 0;  // nx*ny*nz
    std::string format;
    std::string compression;  // "gzip", or empty
    // How the values are stored: x fastest for a voxmol text file read with the order "ZYX", whose value
    // of point (i, j, k) is element i + nx*(j + ny*k), as the writer then takes it.
    ValueOrder order = ValueOrder::z_fastest;

    std::size_t points() const { return count; }
    std::span<const float> single_values() const { return {single.get(), single ? count : 0}; }
    const char* order_name() const { return order == ValueOrder::x_fastest ? "ZYX" : "XYZ"; }
};

using DoubleArray = py::array_t<double, py::array::c_style>;

// The grid's record with its values as doubles, for the writers: its own record, or, for a grid kept in
// single precision, a copy whose values are converted into `scratch` (exactly: every float is a double).
const Tuhbdgrd& double_record(const Grid& g, Tuhbdgrd& copy, GridValues& scratch) {
    if (!g.single) return g.record;
    copy = g.record;
    scratch = allocate_grid_values(g.points());
    const float* from = g.single.get();
    for (std::size_t i = 0; i < g.points(); ++i) {
        if (i % (std::size_t{1} << 20) == 0) check_interrupt();
        scratch[i] = from[i];
    }
    copy.data = std::span<double>(scratch.get(), g.points());
    return copy;
}

// "XYZ" or "ZYX", as the command line's -o takes it (any case).
std::string checked_order(const py::handle& given) {
    std::string order = as_str(given, "order");
    for (char& c : order)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (order != "XYZ" && order != "ZYX")
        throw py::value_error("order must be \"XYZ\" or \"ZYX\", not \"" + order + "\"");
    return order;
}

int checked_step(const py::handle& given) {
    const long long step = as_int(given, "step");
    if (step < 1 || step > INT_MAX)
        throw py::value_error("step must be 1 or more (every step-th point in the window is written)");
    return static_cast<int>(step);
}

int checked_level(const py::handle& given) {
    return as_int32(given, "level");
}

// The values as an array of shape (nx, ny, nz) indexed [i, j, k], viewing the grid's own storage and
// keeping the grid alive.
py::array values_view(const py::object& self) {
    Grid& g = self.cast<Grid&>();
    const auto& r = g.record;
    const std::vector<py::ssize_t> shape{r.nx, r.ny, r.nz};
    if (g.points() == 0) return py::array_t<double>(shape);
    const py::ssize_t d = g.single ? sizeof(float) : sizeof(double);
    const std::vector<py::ssize_t> strides = g.order == ValueOrder::x_fastest
                                                 ? std::vector<py::ssize_t>{d, d * r.nx, d * r.nx * r.ny}
                                                 : std::vector<py::ssize_t>{d * r.ny * r.nz, d * r.nz, d};
    if (g.single) return py::array(py::dtype::of<float>(), shape, strides, g.single.get(), self);
    return py::array(py::dtype::of<double>(), shape, strides, g.values.get(), self);
}

py::array read_only(py::array a) {
    a.attr("flags").attr("writeable") = false;
    return a;
}

py::array origin_of(const Grid& g) {
    DoubleArray out(3);
    auto o = out.mutable_unchecked<1>();
    o(0) = g.record.xmin;
    o(1) = g.record.ymin;
    o(2) = g.record.zmin;
    return read_only(out);
}

py::array axes_of(const Grid& g) {
    const Axes a = grid_axes(g.record);
    DoubleArray out({3, 3});
    auto o = out.mutable_unchecked<2>();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            o(r, c) = a[r][c];
    return read_only(out);
}

Axes finite_axes(const py::handle& v) {
    if (py::isinstance<py::str>(v)) throw py::type_error("axes must be a 3x3 array of numbers, not str");
    py::array a;
    try {
        a = py::module_::import("numpy").attr("asarray")(v, py::arg("dtype") = "float64");
    } catch (const py::error_already_set&) {
        throw py::type_error("axes must be a 3x3 array of numbers");
    }
    if (a.ndim() != 2 || a.shape(0) != 3 || a.shape(1) != 3)
        throw py::value_error("axes must be a 3x3 array: the step vectors a, b, c as rows");
    const auto c = DoubleArray::ensure(a);
    Axes out{};
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            out[r][k] = c.at(r, k);
            if (!std::isfinite(out[r][k])) throw py::value_error("axes must be finite");
        }
    }
    return out;
}

// The same grid placed at another origin or along other axes: the record of every other format, its
// values kept.
void place(Grid& g, const std::array<double, 3>& origin, const Axes& axes) {
    const std::span<double> data = g.record.data;
    g.record = grid_record(g.record.nx, g.record.ny, g.record.nz, origin, axes);
    g.record.data = data;
}

std::unique_ptr<Grid> new_grid(int nx, int ny, int nz, const std::array<double, 3>& origin,
                               const Axes& axes) {
    auto g = std::make_unique<Grid>();
    g->record = grid_record(nx, ny, nz, origin, axes);
    g->format = "array";
    const std::size_t points = static_cast<std::size_t>(nx) * ny * nz;
    g->values = released(false, [&] { return allocate_grid_values(points); });
    g->record.data = std::span<double>(g->values.get(), points);
    g->count = points;
    return g;
}

// A grid made from an array of real numbers: the values copied, whatever their type and layout, into
// storage of the library's own, in walk order.
std::unique_ptr<Grid> grid_from_array(const py::handle& given, const py::handle& origin,
                                      const py::handle& axes) {
    if (py::isinstance<py::str>(given))
        throw py::type_error("values must be an array of real numbers, not str");
    py::array values;
    try {
        values = py::module_::import("numpy").attr("asarray")(given);
    } catch (const py::error_already_set&) {
        throw py::type_error("values must be an array of real numbers");
    }
    if (values.ndim() != 3)
        throw py::value_error("values must be a 3-dimensional array, not " + std::to_string(values.ndim()) +
                              "-dimensional");
    const char kind = values.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u')
        throw py::type_error("values must hold real numbers, not " + std::string(py::str(values.dtype())));
    for (int d = 0; d < 3; ++d)
        if (values.shape(d) > INT_MAX)
            throw py::value_error("a grid dimension must not exceed " + std::to_string(INT_MAX));
    auto g = new_grid(static_cast<int>(values.shape(0)), static_cast<int>(values.shape(1)),
                      static_cast<int>(values.shape(2)), as_vector3(origin, "origin"), finite_axes(axes));
    if (g->points() > 0) {
        const DoubleArray target({values.shape(0), values.shape(1), values.shape(2)}, g->values.get(),
                                 py::none());
        py::module_::import("numpy").attr("copyto")(target, values, py::arg("casting") = "unsafe");
    }
    return g;
}

std::size_t reading_points(const GridFile& file) {
    return file.single ? grid_points(file.grid).value_or(0) : file.grid.data.size();
}

std::unique_ptr<Grid> read_grid(const py::handle& path, const py::handle& level_arg,
                                const py::handle& order_arg) {
    const int level = checked_level(level_arg);
    const std::string order = checked_order(order_arg);
    const std::string name = file_name(path);
    // As the command line's -o: given only when it says something, since any other format draws a warning.
    const std::optional<ValueOrder> given =
        order == "ZYX" ? std::optional(ValueOrder::x_fastest) : std::nullopt;
    check_readable(name);
    // Values that are all floats in the file (a CCP4/MRC map) stay floats: the command line's doubles
    // would take twice the memory and twice the time to fill, for no more precision.
    GridFile file = released(level > 0, [&] {
        gridfmt::GridReading reading(name, given, level);
        if (reading.holds_single())
            reading.allocate_single();
        else
            reading.allocate();
        reading.read_values();
        return std::move(reading.file());
    });
    auto g = std::make_unique<Grid>();
    g->record = file.grid;
    g->count = reading_points(file);
    g->values = std::move(file.values);
    g->single = std::move(file.single);
    g->format = std::move(file.format);
    g->compression = std::move(file.compression);
    g->order = file.order;
    return g;
}

// A mask of the grid's shape as one byte per point in walk order, point (i, j, k) at (i*ny + j)*nz + k.
py::array_t<std::uint8_t, py::array::c_style> as_mask(const Grid& g, const py::handle& v) {
    py::array a;
    try {
        a = py::module_::import("numpy").attr("asarray")(v);
    } catch (const py::error_already_set&) {
        throw py::type_error("mask must be an array of booleans");
    }
    if (a.dtype().kind() != 'b')
        throw py::type_error("mask must be an array of booleans, not " +
                             py::str(a.dtype()).cast<std::string>());
    const auto& r = g.record;
    if (a.ndim() != 3 || a.shape(0) != r.nx || a.shape(1) != r.ny || a.shape(2) != r.nz)
        throw py::value_error("mask must have the grid's shape (" + std::to_string(r.nx) + ", " +
                              std::to_string(r.ny) + ", " + std::to_string(r.nz) + "), not " +
                              py::str(a.attr("shape")).cast<std::string>());
    return py::array_t<std::uint8_t, py::array::c_style>::ensure(
        py::module_::import("numpy").attr("ascontiguousarray")(a, py::arg("dtype") = "uint8"));
}

long write_grid_pdb(const Grid& g, const py::handle& target, const py::handle& window_arg,
                    const py::handle& step_arg, const py::handle& verbose_arg, const py::handle& mask_arg) {
    // Plain variables, not a structured binding: the lambda below captures them.
    const std::pair<double, double> window = as_window(window_arg, "window");
    const double min = window.first, max = window.second;
    const int step = checked_step(step_arg);
    const bool verbose = as_bool(verbose_arg, "verbose");
    py::array_t<std::uint8_t, py::array::c_style> mask;
    if (!mask_arg.is_none()) mask = as_mask(g, mask_arg);
    Output out(target);
    // A Python file object may only be written from this thread.
    const bool threaded = !out.to_python() && writepipe::second_thread_pays();
    return released(verbose, [&] {
        Tuhbdgrd copy;
        GridValues scratch;
        const Tuhbdgrd& record = double_record(g, copy, scratch);
        print_writing_started();
        long records = 0;
        if (mask_arg.is_none()) {
            records = write_pdb_records(out.get(), record, min, max, step, g.order, threaded, nullptr);
        } else {
            RecordFilter filter;
            filter.min = min;
            filter.max = max;
            filter.mask = std::span<const std::uint8_t>(mask.data(), static_cast<std::size_t>(mask.size()));
            records =
                write_records(out.get(), record, g.order, filter, step, RecordStyle{}, threaded, nullptr)
                    .written;
        }
        out.close();
        print_writing_done();
        return records;
    });
}

// A conversion run uses the converter's one grid record (grd): runs from two threads take turns.
std::mutex conversion_turn;

// A (file, distance) pair of convert's near= and outside=.
std::optional<StructureDistance> as_structure_distance(const py::handle& v, const char* what) {
    if (v.is_none()) return std::nullopt;
    if (py::isinstance<py::str>(v) || !py::isinstance<py::sequence>(v) || py::len(v) != 2)
        throw py::type_error(std::string(what) + " must be a pair (structure file, distance in Angstrom)");
    const py::sequence pair = py::reinterpret_borrow<py::sequence>(v);
    StructureDistance d;
    d.file = file_name(pair[0], what);
    d.distance = as_double(pair[1], what, true);
    if (d.distance < 0.0) throw py::value_error(std::string(what) + "'s distance must not be negative");
    return d;
}

// convert's box=: (x0, y0, z0, x1, y1, z1), or ((x0, y0, z0), (x1, y1, z1)).
std::optional<PositionBox> as_box(const py::handle& v) {
    if (v.is_none()) return std::nullopt;
    py::array_t<double, py::array::c_style | py::array::forcecast> a;
    try {
        a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(v);
    } catch (const py::error_already_set&) {
    }
    if (!a || a.size() != 6) throw py::type_error("box must be six numbers: x0, y0, z0, x1, y1, z1");
    PositionBox box;
    for (int d = 0; d < 3; ++d) {
        box.lo[d] = a.data()[d];
        box.hi[d] = a.data()[3 + d];
        if (!std::isfinite(box.lo[d]) || !std::isfinite(box.hi[d]))
            throw py::value_error("box must be finite");
        if (box.lo[d] > box.hi[d]) throw py::value_error("box's minimum lies above its maximum");
    }
    return box;
}

py::object convert(const py::handle& path, const py::handle& window_arg, const py::handle& step_arg,
                   const py::handle& order_arg, const py::handle& verbose_arg, const py::handle& level_arg,
                   const py::handle& near_arg, const py::handle& residues_arg, const py::handle& outside_arg,
                   const py::handle& sigma_arg, const py::handle& box_arg, const py::handle& out_arg,
                   const py::handle& cif_arg, const py::handle& element_arg, const py::handle& pml_arg) {
    const std::string name = file_name(path);
    const auto [min, max] = as_window(window_arg, "window");
    const int step = checked_step(step_arg);
    const std::string order = checked_order(order_arg);
    const bool verbose = as_bool(verbose_arg, "verbose");
    Settings s;
    s.dataname = name;
    s.thres_min = min;
    s.thres_max = max;
    s.resol = step;
    // -o only when it says something: for a format other than voxmol's own, -o draws a warning.
    if (order != "XYZ") {
        s.DATAORD = order;
        s.order_given = true;
    }
    if (!level_arg.is_none()) s.LEVEL = checked_level(level_arg);
    // The options of the command line's --near, --residues, --outside, --sigma, --box, --out, --cif,
    // --element and --pml, checked by the run as the command line's are.
    s.near = as_structure_distance(near_arg, "near");
    if (!residues_arg.is_none()) s.residues = as_str(residues_arg, "residues");
    s.outside = as_structure_distance(outside_arg, "outside");
    s.sigma = as_bool(sigma_arg, "sigma");
    s.box = as_box(box_arg);
    if (!out_arg.is_none()) {
        s.out = file_name(out_arg, "out");
        // A call has no standard output of its own to write the records to; write_pdb takes sys.stdout.
        if (s.out == "-")
            throw py::value_error("out='-' is the command line's standard output: use write_pdb");
    }
    s.cif = as_bool(cif_arg, "cif");
    if (!element_arg.is_none()) s.element = as_str(element_arg, "element");
    s.pml = as_bool(pml_arg, "pml");
    check_readable(name);
    released(verbose, [&] {
        std::lock_guard turn(conversion_turn);
        return run_conversion(s);
    });
    return shown_name(output_name(s));
}

py::array positions_of(const Grid& g) {
    const auto& r = g.record;
    DoubleArray out({static_cast<py::ssize_t>(g.points()), py::ssize_t{3}});
    double* p = out.mutable_data();
    released(false, [&] {
        const Axes a = grid_axes(r);
        for (long i = 0; i < r.nx; ++i) {
            check_interrupt();
            for (long j = 0; j < r.ny; ++j) {
                for (long k = 0; k < r.nz; ++k) {
                    for (double c : grid_position(r, a, i, j, k))
                        *p++ = c;
                }
            }
        }
    });
    return out;
}

GridFrame invertible_frame(const Grid& g) {
    GridFrame f = grid_frame(g.record);
    if (!f.invertible)
        throw py::value_error(
            "the grid's step vectors are linearly dependent (a step of length 0, or two "
            "parallel steps): no point has indices in it");
    return f;
}

// Results for each of N points, shaped as the points were given: (N, ...) or, for one point, (...).
py::object shaped(py::array out, bool single) {
    if (!single) return out;
    return out[py::int_(0)];
}

py::object index_of(const Grid& g, const py::handle& points_arg) {
    bool single = false;
    const DoubleArray points = as_points(points_arg, "points", single);
    const GridFrame f = invertible_frame(g);
    const auto n = points.shape(0);
    DoubleArray out({n, py::ssize_t{3}});
    const double* in = points.data();
    double* o = out.mutable_data();
    released(false, [&] {
        for (py::ssize_t p = 0; p < n; ++p) {
            const auto index = grid_index_of(f, {in[3 * p], in[3 * p + 1], in[3 * p + 2]});
            std::copy(index.begin(), index.end(), o + 3 * p);
        }
    });
    return shaped(out, single);
}

py::object interpolate(const Grid& g, const py::handle& points_arg) {
    bool single = false;
    const DoubleArray points = as_points(points_arg, "points", single);
    const GridFrame f = invertible_frame(g);
    const auto n = points.shape(0);
    DoubleArray out(n);
    const double* in = points.data();
    double* o = out.mutable_data();
    released(false, [&] {
        for (py::ssize_t p = 0; p < n; ++p) {
            if (p % 65536 == 0) check_interrupt();
            const auto index = grid_index_of(f, {in[3 * p], in[3 * p + 1], in[3 * p + 2]});
            o[p] = g.single ? grid_value_at(g.record, g.single_values(), g.order, index)
                            : grid_value_at(g.record, g.order, index);
        }
    });
    if (single) return py::float_(o[0]);
    return out;
}

py::object position(const Grid& g, const py::handle& i, const py::handle& j, const py::handle& k) {
    const py::module_ np = py::module_::import("numpy");
    py::list indices;
    const char* names[3] = {"i", "j", "k"};
    const py::handle given[3] = {i, j, k};
    for (int d = 0; d < 3; ++d) {
        if (py::isinstance<py::str>(given[d]))
            throw py::type_error(std::string(names[d]) + " must be a number or an array of numbers, not str");
        py::array a;
        try {
            a = np.attr("asarray")(given[d], py::arg("dtype") = "float64");
        } catch (const py::error_already_set&) {
            throw py::type_error(std::string(names[d]) + " must be a number or an array of numbers");
        }
        indices.append(a);
    }
    const py::tuple b = np.attr("broadcast_arrays")(*indices);
    const py::array shape_of = b[0];
    std::vector<py::ssize_t> shape(shape_of.shape(), shape_of.shape() + shape_of.ndim());
    const DoubleArray ci = np.attr("ascontiguousarray")(b[0]), cj = np.attr("ascontiguousarray")(b[1]),
                      ck = np.attr("ascontiguousarray")(b[2]);
    shape.push_back(3);
    DoubleArray out(shape);
    const Axes a = grid_axes(g.record);
    const double origin[3] = {g.record.xmin, g.record.ymin, g.record.zmin};
    const auto n = ci.size();
    double* o = out.mutable_data();
    for (py::ssize_t p = 0; p < n; ++p) {
        // Summed in the order grid_position sums, so that whole indices give the writer's positions.
        for (int d = 0; d < 3; ++d)
            o[3 * p + d] =
                origin[d] + ci.data()[p] * a[0][d] + cj.data()[p] * a[1][d] + ck.data()[p] * a[2][d];
    }
    return out;
}

std::unique_ptr<Grid> crop(const Grid& g, const py::handle& lo_arg, const py::handle& hi_arg) {
    const auto lo = as_vector3(lo_arg, "lo");
    const auto hi = as_vector3(hi_arg, "hi");
    for (int d = 0; d < 3; ++d) {
        if (lo[d] > hi[d]) throw py::value_error("lo must not exceed hi along any axis");
    }
    const GridFrame f = invertible_frame(g);
    const auto box = grid_box(g.record, f, lo, hi);
    if (!box) throw py::value_error("the box from lo to hi holds no point of the grid");
    const int n[3] = {static_cast<int>(box->hi[0] - box->lo[0] + 1),
                      static_cast<int>(box->hi[1] - box->lo[1] + 1),
                      static_cast<int>(box->hi[2] - box->lo[2] + 1)};
    const Axes axes = grid_axes(g.record);
    auto out =
        new_grid(n[0], n[1], n[2], grid_position(g.record, axes, box->lo[0], box->lo[1], box->lo[2]), axes);
    released(false, [&] {
        if (g.single)
            copy_block(g.record, g.single_values(), g.order, *box, out->record.data);
        else
            copy_block(g.record, g.order, *box, out->record.data);
    });
    return out;
}

void write_grid(const Grid& g, const py::handle& target, const py::handle& format_arg) {
    std::optional<gridexport::GridFormat> format;
    if (!format_arg.is_none()) {
        std::string f = as_str(format_arg, "format");
        for (char& c : f)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (f == "dx" || f == "opendx")
            format = gridexport::GridFormat::opendx;
        else if (f == "mrc" || f == "ccp4" || f == "map")
            format = gridexport::GridFormat::mrc;
        else
            throw py::value_error("format must be \"dx\" (OpenDX) or \"mrc\" (MRC2014), not \"" + f + "\"");
    } else if (py::hasattr(target, "write")) {
        throw py::value_error("format must be given (\"dx\" or \"mrc\") when writing to a file object");
    } else {
        const std::string name = file_name(target);
        format = gridexport::format_for_name(name);
        if (!format) {
            throw py::value_error(
                "the name " + py::repr(shown_name(name)).cast<std::string>() +
                " ends in none of .dx (OpenDX) or .mrc, .map, .ccp4 (MRC2014): give format=");
        }
    }
    const auto& r = g.record;
    if (r.nx < 1 || r.ny < 1 || r.nz < 1) throw py::value_error("a grid without points cannot be written");
    if (*format == gridexport::GridFormat::mrc) {
        const std::string refusal = gridexport::mrc_refusal(r);
        if (!refusal.empty()) throw py::value_error("this grid cannot be written as MRC: " + refusal);
        if (py::isinstance(target, py::module_::import("io").attr("TextIOBase")))
            throw py::type_error("an MRC map is binary: open the file object in binary mode (\"wb\")");
    }
    Output out(target);
    released(false, [&] {
        Tuhbdgrd copy;
        GridValues scratch;
        const Tuhbdgrd& record = double_record(g, copy, scratch);
        if (*format == gridexport::GridFormat::mrc)
            gridexport::write_mrc(out.get(), record, g.order);
        else
            gridexport::write_opendx(out.get(), record, g.order);
        out.close();
    });
}

// A text field of the records write_points writes: 1 to `most` printable ASCII characters.
std::string record_text(const py::handle& v, const char* what, std::size_t least, std::size_t most) {
    const std::string text = as_str(v, what);
    bool printable = true;
    for (char c : text)
        printable = printable && c >= ' ' && c < 127;
    if (text.size() < least || text.size() > most || !printable) {
        throw py::value_error(
            std::string(what) + " must be " +
            (least == most ? std::to_string(most) : std::to_string(least) + " to " + std::to_string(most)) +
            " printable ASCII characters, not " + py::repr(v).cast<std::string>());
    }
    return text;
}

long write_points(const py::handle& points_arg, const py::handle& target, const py::handle& values_arg,
                  const py::handle& name, const py::handle& resname, const py::handle& chain,
                  const py::handle& element, const py::handle& cif_arg) {
    bool single = false;
    const DoubleArray points = as_points(points_arg, "points", single);
    const auto n = points.shape(0);
    for (py::ssize_t i = 0; i < 3 * n; ++i) {
        if (!std::isfinite(points.data()[i])) throw py::value_error("points must be finite");
    }
    DoubleArray values;
    if (!values_arg.is_none()) {
        if (py::isinstance<py::str>(values_arg))
            throw py::type_error("values must be an array of numbers, not str");
        try {
            values = DoubleArray::ensure(
                py::module_::import("numpy").attr("asarray")(values_arg, py::arg("dtype") = "float64"));
        } catch (const py::error_already_set&) {
            throw py::type_error("values must be an array of numbers");
        }
        if (!values || values.ndim() != 1 || values.shape(0) != n)
            throw py::value_error("values must be one number per point (" + std::to_string(n) + ")");
        for (py::ssize_t i = 0; i < n; ++i) {
            if (std::isnan(values.data()[i])) throw py::value_error("values must not be NaN");
        }
    }
    gridexport::PointFields fields;
    fields.name = record_text(name, "name", 1, 4);
    fields.resname = record_text(resname, "resname", 1, 3);
    fields.chain = record_text(chain, "chain", 1, 1)[0];
    if (!element.is_none()) {
        fields.element = record_text(element, "element", 1, 2);
        for (char c : fields.element) {
            if (!std::isalpha(static_cast<unsigned char>(c)))
                throw py::value_error("element must be 1 or 2 letters, not " +
                                      py::repr(element).cast<std::string>());
        }
    }
    const bool cif = as_bool(cif_arg, "cif");
    Output out(target);
    const std::span<const double> xyz(points.data(), static_cast<std::size_t>(3 * n));
    const std::span<const double> v =
        values ? std::span<const double>(values.data(), static_cast<std::size_t>(n))
               : std::span<const double>();
    return released(false, [&] {
        const long written = cif ? gridexport::write_points_cif(out.get(), xyz, v, fields)
                                 : gridexport::write_points_pdb(out.get(), xyz, v, fields);
        out.close();
        return written;
    });
}

// ---- Pickling: the grid's record and values, as they are stored -----------------------------------

// The state's first item: 1 for values in double precision, 2 for values kept in single precision.
constexpr int kGridState = 1;
constexpr int kSingleGridState = 2;

py::tuple grid_state(const Grid& g) {
    const auto& r = g.record;
    const Axes a = r.axes;
    py::list axes;
    for (const auto& row : a)
        for (double v : row)
            axes.append(v);
    const py::tuple numbers =
        py::make_tuple(r.hx, r.hy, r.hz, r.xmin, r.ymin, r.zmin, r.xmax, r.ymax, r.zmax);
    const py::bytes data =
        g.single ? py::bytes(reinterpret_cast<const char*>(g.single.get()), g.points() * sizeof(float))
                 : py::bytes(reinterpret_cast<const char*>(g.values.get()), g.points() * sizeof(double));
    return py::make_tuple(g.single ? kSingleGridState : kGridState, py::make_tuple(r.nx, r.ny, r.nz), numbers,
                          py::tuple(axes), data, g.format, g.compression, std::string(g.order_name()));
}

std::unique_ptr<Grid> grid_from_state(const py::tuple& t) {
    const int version = t.size() == 8 ? t[0].cast<int>() : 0;
    if (version != kGridState && version != kSingleGridState)
        throw py::value_error("not the state of a voxmol.Grid");
    const bool single = version == kSingleGridState;
    auto g = std::make_unique<Grid>();
    auto& r = g->record;
    const py::tuple shape = t[1], numbers = t[2], axes = t[3];
    r.nx = shape[0].cast<int>();
    r.ny = shape[1].cast<int>();
    r.nz = shape[2].cast<int>();
    double* fields[] = {&r.hx, &r.hy, &r.hz, &r.xmin, &r.ymin, &r.zmin, &r.xmax, &r.ymax, &r.zmax};
    for (int f = 0; f < 9; ++f)
        *fields[f] = numbers[f].cast<double>();
    for (int f = 0; f < 9; ++f)
        r.axes[f / 3][f % 3] = axes[f].cast<double>();
    const std::string data = t[4].cast<std::string>();
    const auto points = grid_points(r);
    if (!points || data.size() != *points * (single ? sizeof(float) : sizeof(double)))
        throw py::value_error("not the state of a voxmol.Grid");
    g->count = *points;
    if (single) {
        g->single = released(false, [&] { return allocate_single_values(*points); });
        if (*points > 0) std::memcpy(g->single.get(), data.data(), data.size());
    } else {
        g->values = released(false, [&] { return allocate_grid_values(*points); });
        if (*points > 0) std::memcpy(g->values.get(), data.data(), data.size());
        r.data = std::span<double>(g->values.get(), *points);
    }
    g->format = t[5].cast<std::string>();
    g->compression = t[6].cast<std::string>();
    g->order = t[7].cast<std::string>() == "ZYX" ? ValueOrder::x_fastest : ValueOrder::z_fastest;
    return g;
}

std::string grid_repr(const Grid& g) {
    std::string text = "<voxmol.Grid " + std::to_string(g.record.nx) + "x" + std::to_string(g.record.ny) +
                       "x" + std::to_string(g.record.nz) + ", " + g.format;
    if (!g.compression.empty()) text += ", " + g.compression;
    return text + ">";
}

}  // namespace

void bind_grid(py::module_& m) {
    py::class_<Grid>(m, "Grid",
                     "A regular 3-D grid of values, point (i, j, k) at origin + i*a + j*b + k*c (Angstrom).")
        .def(py::init(&grid_from_array), py::arg("values"), py::arg("origin"), py::arg("axes"),
             "__init__(self, values, origin, axes)\n--\n\n"
             "A grid from a 3-D array of real numbers (any dtype and memory order; copied), the position of "
             "point (0, 0, 0) and the step vectors a, b, c as the rows of a 3x3 array.")
        .def_property_readonly(
            "values", &values_view,
            "The values, shape (nx, ny, nz), indexed [i, j, k]: a writable view of the grid's "
            "own storage that keeps the grid alive; float32 for a grid read from a CCP4/MRC map (the "
            "file's own precision), float64 otherwise. values.ravel() lists them in the order of "
            "positions().")
        .def_property(
            "origin", &origin_of,
            [](Grid& g, const py::handle& v) { place(g, as_vector3(v, "origin"), grid_axes(g.record)); },
            "Position of point (0, 0, 0), shape (3,): a read-only array; assign a new origin to move the "
            "grid.")
        .def_property(
            "axes", &axes_of,
            [](Grid& g, const py::handle& v) {
                place(g, {g.record.xmin, g.record.ymin, g.record.zmin}, finite_axes(v));
            },
            "The step vectors a, b, c as rows, shape (3, 3): a read-only array; assign new axes to change "
            "them.")
        .def_property_readonly(
            "shape", [](const Grid& g) { return py::make_tuple(g.record.nx, g.record.ny, g.record.nz); },
            "(nx, ny, nz)")
        .def_property_readonly(
            "format", [](const Grid& g) { return g.format; },
            "The file format as the converter names it (\"voxmol text\", \"OpenDX, text\", ...), or "
            "\"array\" "
            "for a grid made from an array.")
        .def_property_readonly(
            "compression",
            [](const Grid& g) -> py::object {
                if (g.compression.empty()) return py::none();
                return py::str(g.compression);
            },
            "The compression of the file (\"gzip\"), or None.")
        .def_property_readonly(
            "gzip", [](const Grid& g) { return g.compression == "gzip"; }, "The file was gzip-compressed.")
        .def_property_readonly(
            "order", [](const Grid& g) { return std::string(g.order_name()); },
            "How the values are stored: \"ZYX\" x fastest (a voxmol text file read with order=\"ZYX\", a "
            "CCP4/MRC map whose columns run along X and sections along Z), else \"XYZ\" (z fastest).")
        .def("positions", &positions_of,
             "positions($self, /)\n--\n\n"
             "Cartesian position of every point, shape (nx*ny*nz, 3), in walk order (i slowest, k fastest).")
        .def("position", &position, py::arg("i"), py::arg("j"), py::arg("k"),
             "position($self, /, i, j, k)\n--\n\n"
             "The Cartesian position of grid indices (i, j, k): numbers or arrays (broadcast together; "
             "fractional indices allowed), giving an array of shape (..., 3).")
        .def("index_of", &index_of, py::arg("points"),
             "index_of($self, /, points)\n--\n\n"
             "The fractional grid indices (i, j, k) of Cartesian points, shape (N, 3) for points of shape "
             "(N, 3), (3,) for one point; np.rint(...).astype(int) gives the nearest grid point. Raises "
             "ValueError when the step vectors are linearly dependent.")
        .def("interpolate", &interpolate, py::arg("points"),
             "interpolate($self, /, points)\n--\n\n"
             "The values at Cartesian points, trilinear between the eight grid points around each (in the "
             "grid's own index space, so oblique grids too); NaN outside the grid. Shape (N,) for points of "
             "shape (N, 3), a float for one point.")
        .def(
            "crop", &crop, py::arg("lo"), py::arg("hi"),
            "crop($self, /, lo, hi)\n--\n\n"
            "A new grid of the points inside the Cartesian box from lo to hi (Angstrom, each 3 numbers): the "
            "smallest block of the grid's points holding every point inside the box (exactly those for axes "
            "along x, y and z). Raises ValueError when no point lies in the box.")
        .def(py::pickle(&grid_state, &grid_from_state))
        .def("__repr__", &grid_repr);

    m.def("read_grid", &read_grid, py::arg("path"), py::arg("level") = 0, py::arg("order") = "XYZ",
          "read_grid(path, level=0, order='XYZ')\n--\n\n"
          "Reads a grid file in any format voxmol reads (voxmol text, OpenDX, CCP4/MRC, cube, AutoDock; "
          "gzip-compressed or not). order=\"ZYX\" reads a voxmol text file listed x fastest, as -o ZYX. "
          "What the reader prints goes to sys.stdout only when level > 0 (the converter's -l); its warnings "
          "go to warnings.warn (voxmol.VoxmolWarning) at every level. A file that cannot be opened raises "
          "OSError (FileNotFoundError, PermissionError, IsADirectoryError).");
    m.def("write_pdb", &write_grid_pdb, py::arg("grid"), py::arg("path"),
          py::arg("window") = std::pair<double, double>(-1.0, 1.0), py::arg("step") = 1,
          py::arg("verbose") = false, py::arg("mask") = py::none(),
          "write_pdb(grid, path, window=(-1.0, 1.0), step=1, verbose=False, mask=None)\n--\n\n"
          "Writes the pseudo-atom PDB file the command line writes for this grid, window (min, max) and step "
          "(-t and -r), to a path (replaced only when complete) or a file object opened for writing; returns "
          "the number of ATOM records. mask, a boolean array of the grid's shape indexed [i, j, k], keeps "
          "only the points where it is True (the step then counts the points kept). The two progress lines "
          "go to sys.stdout only when verbose.");
    m.def(
        "convert", &convert, py::arg("path"), py::arg("window") = std::pair<double, double>(-1.0, 1.0),
        py::arg("step") = 1, py::arg("order") = "XYZ", py::arg("verbose") = false,
        py::arg("level") = py::none(), py::arg("near") = py::none(), py::arg("residues") = py::none(),
        py::arg("outside") = py::none(), py::arg("sigma") = false, py::arg("box") = py::none(),
        py::arg("out") = py::none(), py::arg("cif") = false, py::arg("element") = py::none(),
        py::arg("pml") = false,
        "convert(path, window=(-1.0, 1.0), step=1, order='XYZ', verbose=False, level=None, near=None, "
        "residues=None, outside=None, sigma=False, box=None, out=None, cif=False, element=None, "
        "pml=False)\n--\n\n"
        "One command-line run, voxmol <path> -t min max -r step [-o order] [-l level] and the options "
        "--near=FILE:R (near=(file, R)), --residues=EXPR, --outside=FILE:D (outside=(file, D)), --sigma, "
        "--box=x0,y0,z0,x1,y1,z1 (box=six numbers), --out=PATH, --cif, --element=SYM and --pml: writes the "
        "output (beside the input unless out names it) and returns its name. The run's messages go to "
        "sys.stdout only when verbose; what it refuses raises voxmol.Error with the command line's message. "
        "Ctrl-C stops the run and leaves an earlier output as it was.");
    m.def(
        "write_grid", &write_grid, py::arg("grid"), py::arg("path"), py::arg("format") = py::none(),
        "write_grid(grid, path, format=None)\n--\n\n"
        "Writes the grid as OpenDX text (format \"dx\"; read by GridDataFormats, PyMOL, VMD) or as an "
        "MRC2014 float32 map (\"mrc\"; read by mrcfile, gemmi), to a path (replaced only when complete) or a "
        "file object. Without format, the name's ending chooses: .dx, or .mrc, .map, .ccp4. An MRC map "
        "holds axes a along x, b in the xy plane and c above it: other axes raise ValueError.");
    m.def(
        "write_points", &write_points, py::arg("points"), py::arg("path"), py::arg("values") = py::none(),
        py::arg("name") = "CA", py::arg("resname") = "UNK", py::arg("chain") = "A",
        py::arg("element") = py::none(), py::arg("cif") = false,
        "write_points(points, path, values=None, name='CA', resname='UNK', chain='A', element=None, "
        "cif=False)\n--\n\n"
        "Writes points (shape (N, 3), Angstrom) as pseudo-atom ATOM records in the converter's layout: point "
        "n (from 1) is serial n of residue n, its value (0.0 without values) in the B column; name (up to 4 "
        "characters, written from column 13 as given), resname, chain and element (columns 77-78) on every "
        "record. cif=True writes an mmCIF atom_site table instead. Returns the number of records.");
}

}  // namespace voxpy
