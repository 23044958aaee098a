// Reading a whole grid data file, in whichever format it holds, into a grid record and its values, with
// the lines every run prints about it.
#include "dx/formats/read.h"
#include "common/text_out.h"

#include <cstdio>
#include <ctime>

#include "common/fatal.h"

namespace gridfmt {

namespace {

// The name a detector is shown: without the ending of a compression, so that "density.cube.gz" is
// taken for what it holds.
std::string_view detection_name(std::string_view name) {
    for (std::string_view ending : {".gz", ".bz2", ".xz"}) {
        if (name.ends_with(ending)) return name.substr(0, name.size() - ending.size());
    }
    return name;
}

// The grid's point count, fatal when the dimensions are negative or too large for memory.
std::size_t checked_points(const Tuhbdgrd& grid) {
    const auto points = grid_points(grid);
    if (!points || *points > SIZE_MAX / sizeof(double))
        fatal_error("MAIN:voxden", "=> Unable to allocate memory for the grid.");
    return *points;
}

}  // namespace

void print_header_lines(const Tuhbdgrd& grd) {
    std::fprintf(text_out(), "Dimensions: X= %d   Y= %d   Z= %d\n", grd.nx, grd.ny, grd.nz);
    std::fprintf(text_out(), "Min= %6.3f %6.3f %6.3f   Max= %6.3f %6.3f %6.3f\n", grd.xmin, grd.ymin,
                 grd.zmin, grd.xmax, grd.ymax, grd.zmax);
    std::fprintf(text_out(), "Spacing of the grid= %4.2f %4.2f %4.2f\n", grd.hx, grd.hy, grd.hz);
}

void print_value_count(long nbdat, int LEVEL) {
    if (LEVEL > 2) std::fprintf(text_out(), "I read : %ld values in the input file\n", nbdat);
    if (LEVEL > 1 && nbdat > 99999)
        std::fprintf(text_out(), "Very large file, if not yet, increase -r option to a value > 1 \n");
}

GridReading::GridReading(const std::string& name, std::optional<ValueOrder> order, int LEVEL,
                         PointSelection* selection)
    : name_(name), offered_(selection), LEVEL_(LEVEL) {
    open(LEVEL);
    const Format& format = *format_;
    out_.compression = input_.compression;
    out_.native = format.native;
    const std::string compressed = input_.compression.empty() ? "" : ", " + input_.compression;

    Geometry geometry;
    if (format.native) {
        // voxmol's own format keeps the lines it always printed: named only when compressed, before its
        // header is searched (whose warnings it prints as it goes).
        if (!compressed.empty() && LEVEL > 1)
            std::fprintf(text_out(), "Grid format: %s%s\n", "voxmol text", compressed.c_str());
        geometry = reader_->read_header();
        out_.order = order.value_or(ValueOrder::z_fastest);
    } else {
        geometry = reader_->read_header();
        if (LEVEL > 1)
            std::fprintf(text_out(), "Grid format: %s%s\n", geometry.description.c_str(), compressed.c_str());
        for (const std::string& warning : geometry.warnings)
            std::fprintf(text_out(), "WARNING: %s\n", warning.c_str());
        if (order) {
            std::fprintf(
                text_out(),
                "WARNING: The -o option applies to voxmol's own grid format only; ignored for this %s file\n",
                geometry.description.substr(0, geometry.description.find(',')).c_str());
        }
    }
    out_.format = geometry.description;
    out_.grid = record_of(geometry);
    if (LEVEL > 1) print_header_lines(out_.grid);
    if (LEVEL > 1)
        std::fprintf(text_out(), "Dimension of data: X= %d Y= %d Z= %d \n", out_.grid.nx, out_.grid.ny,
                     out_.grid.nz);
}

GridReading::~GridReading() = default;

void GridReading::open(int LEVEL) {
    reader_.reset();
    in_.reset();
    if (!io::open_input(name_.c_str(), kPrefixSize, input_)) run_failed("I cannot open the input data file");
    format_ = &recognise(input_.prefix, detection_name(name_));
    in_ = std::make_unique<io::BlockReader>(*input_.source);
    reader_ = format_->open(*in_, LEVEL);
    if (offered_ != nullptr && input_.compression.empty()) reader_->offer_selection(*offered_);
}

std::size_t GridReading::points() const {
    return checked_points(out_.grid);
}

void GridReading::allocate() {
    const std::size_t n = points();
    out_.values = allocate_grid_values(n);
    out_.grid.data = std::span<double>(out_.values.get(), n);
}

bool GridReading::holds_single() const {
    return reader_->holds_single();
}

void GridReading::allocate_single() {
    const std::size_t n = points();
    out_.single = allocate_single_values(n);
    single_points_ = n;
}

void GridReading::read_values(ValueProgress* progress) {
    const std::time_t started = std::time(nullptr);
    if (single_points_) {
        out_.order = reader_->read_single(std::span<float>(out_.single.get(), *single_points_));
        out_.count = static_cast<long>(*single_points_);
    } else {
        out_.count = reader_->read_values(out_.grid.data, progress);
    }
    if (progress != nullptr) progress->publish(out_.grid.data.size());
    finish_reading(started);
}

bool GridReading::selects() const {
    return reader_->selects() && input_.compression.empty();
}

bool GridReading::read_selection(PointSelection& selection) {
    const std::time_t started = std::time(nullptr);
    const std::size_t n = points();
    reader_->read_selection(selection);
    if (!selection.complete) {
        selection.points = {};
        offered_ = nullptr;  // read whole this time
        open(LEVEL_);
        reader_->read_header();
        return false;
    }
    out_.count = static_cast<long>(n);
    finish_reading(started);
    return true;
}

void GridReading::finish_reading(std::time_t started) {
    print_value_count(out_.count, LEVEL_);
    reader_.reset();
    in_.reset();
    input_ = io::Input{};
    const std::time_t t2 = std::time(nullptr);
    if (LEVEL_ > 1)
        std::fprintf(text_out(), "Time to read the data file : %4d sec\n", static_cast<int>(t2 - started));
}

}  // namespace gridfmt

GridFile read_grid_file(const std::string& name, std::optional<ValueOrder> order, int LEVEL) {
    gridfmt::GridReading reading(name, order, LEVEL);
    reading.allocate();
    reading.read_values();
    return std::move(reading.file());
}
