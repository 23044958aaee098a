// voxmol's own grid format: "!" comment lines and empty lines anywhere, one header line of 17 numbers
// (bounds, counts, dimensions, origin, span), then one value per line, in the order -o gives (z fastest
// by default). Read through the public load_header and load_data on a stdio stream, and as a format
// of the table by the run, on the input layer's stream: both share every step below.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "common/fatal.h"
#include "common/text_out.h"
#include "dx/formats/format.h"
#include "dx/formats/read.h"
#include "dx/io/cconv.h"
#include "dx/io/lines.h"
#include "dx/uhbdio.h"

namespace {

// The 17 fields of the header line, in file order.
struct Header {
    double minX, minY, minZ, maxX, maxY, maxZ;
    int numVerts, numCells, dimX, dimY, dimZ;
    float originX, originY, originZ, spanX, spanY, spanZ;
};

// Parses a header line as "%lf %lf %lf %lf %lf %lf %d %d %d %d %d %f %f %f %f %f %f" would: returns the
// number of fields converted, or -1 when the line holds nothing but white space.
int scan_header(const char* line, Header& h) {
    using cconv::Scan;
    double* const reals[] = {&h.minX, &h.minY, &h.minZ, &h.maxX, &h.maxY, &h.maxZ};
    int* const ints[] = {&h.numVerts, &h.numCells, &h.dimX, &h.dimY, &h.dimZ};
    float* const singles[] = {&h.originX, &h.originY, &h.originZ, &h.spanX, &h.spanY, &h.spanZ};

    const char* p = line;
    int count = 0;
    auto done = [&count](Scan s) { return s == Scan::end && count == 0 ? -1 : count; };
    for (double* v : reals) {
        const Scan s = cconv::scan_double(p, *v);
        if (s != Scan::ok) return done(s);
        ++count;
    }
    for (int* v : ints) {
        const Scan s = cconv::scan_int(p, *v);
        if (s != Scan::ok) return done(s);
        ++count;
    }
    for (float* v : singles) {
        const Scan s = cconv::scan_float(p, *v);
        if (s != Scan::ok) return done(s);
        ++count;
    }
    return count;
}

// Comment lines start with "!", empty lines with the line end or a NUL byte. Only the very first
// character counts: a line that starts with a blank or a carriage return is neither.
bool is_skipped(std::string_view line) {
    return line.empty() || line[0] == '!' || line[0] == '\n' || line[0] == '\0';
}

// Distance between neighbouring points. The spacing is made positive even when the maximum lies below
// the minimum; the bounds stay as given. A single point has no neighbour: spacing 0 instead of a
// division by zero.
double spacing(double min, double max, int points) {
    if (points == 1) return 0.0;
    return std::fabs((max - min) / static_cast<double>(points - 1));
}

// Reads lines from `next_line` (a callable filling a std::string_view or std::string and returning false
// at the end) up to and including the header, and returns the record it gives (data empty). Each
// other line that is neither a comment nor empty gets its warning, at every verbosity.
template <typename NextLine>
Tuhbdgrd find_header(NextLine next_line) {
    std::string line;
    while (next_line(line)) {
        if (is_skipped(line)) continue;
        Header h{};
        const int fields = scan_header(line.c_str(), h);
        if (fields != 17) {
            std::fprintf(text_out(), "WARNING: There are %d fields in the header, instead of 17\n", fields);
            continue;
        }
        if (h.dimX < 0 || h.dimY < 0 || h.dimZ < 0)
            run_failed("The header of the data file gives a negative grid dimension");
        Tuhbdgrd grd{};
        grd.nx = h.dimX;
        grd.ny = h.dimY;
        grd.nz = h.dimZ;
        grd.xmin = h.minX;
        grd.ymin = h.minY;
        grd.zmin = h.minZ;
        grd.xmax = h.maxX;
        grd.ymax = h.maxY;
        grd.zmax = h.maxZ;
        grd.hx = spacing(h.minX, h.maxX, h.dimX);
        grd.hy = spacing(h.minY, h.maxY, h.dimY);
        grd.hz = spacing(h.minZ, h.maxZ, h.dimZ);
        return grd;
    }
    run_failed("The data file holds no header line of 17 fields");
}

// Reads the value lines of `reader` into grid.data in file order and returns how many there were. Values
// past the end of the grid are counted but never stored. `progress`, when given, learns how many values
// are final as they come.
long load_values(io::BlockReader& reader, Tuhbdgrd& grid, ValueProgress* progress) {
    const std::size_t capacity = grid.data.size();
    constexpr long kPublishEvery = 1 << 16;
    std::string_view view;
    std::string line;
    long nbdat = 0;
    double last = 0.0;  // what a line that is not a number stores: the value parsed most recently
    for (;;) {
        // The lines that hold one plain number and nothing else, as tools write them, are read straight
        // from the reader's block, without being handed out one by one; the first other line goes the
        // general way below (scan_value_line gives such a line's value to the same bit).
        const std::string_view block = reader.buffered();
        const char* p = block.data();
        const char* const e = p + block.size();
        double value;
        while (const char* next = cconv::scan_plain_value_line(p, e, value)) {
            last = value;
            if (static_cast<std::size_t>(nbdat) < capacity) grid.data[nbdat] = value;
            ++nbdat;
            if (progress != nullptr && nbdat % kPublishEvery == 0)
                progress->publish(std::min(static_cast<std::size_t>(nbdat), capacity));
            p = next;
        }
        reader.consume(static_cast<std::size_t>(p - block.data()));
        if (!reader.next(view)) break;
        if (is_skipped(view)) continue;
        value = 0.0;
        const int fields = cconv::scan_value_line(view, value);
        if (fields == 1) last = value;
        if (static_cast<std::size_t>(nbdat) < capacity) grid.data[nbdat] = last;
        ++nbdat;
        if (progress != nullptr && nbdat % kPublishEvery == 0)
            progress->publish(std::min(static_cast<std::size_t>(nbdat), capacity));
        if (fields != 1) {
            line.assign(view);
            std::fprintf(text_out(), "The line #: %ld  has less or more than 1 fields \n>>>%s\n", nbdat,
                         line.c_str());
        }
    }
    if (static_cast<std::size_t>(nbdat) > capacity) {
        std::fprintf(text_out(), "WARNING: %ld values beyond the %zu points of the grid were ignored\n",
                     nbdat - static_cast<long>(capacity), capacity);
    }
    // Values the file does not hold stay 0.0: with the last line read, every value is final.
    if (progress != nullptr) progress->publish(capacity);
    return nbdat;
}

class NativeReader final : public gridfmt::Reader {
  public:
    explicit NativeReader(io::BlockReader& in) : in_(in) {}

    gridfmt::Geometry read_header() override {
        gridfmt::Geometry g;
        g.record = find_header([this](std::string& line) {
            std::string_view view;
            if (!in_.next(view)) return false;
            line.assign(view);
            return true;
        });
        g.nx = g.record->nx;
        g.ny = g.record->ny;
        g.nz = g.record->nz;
        g.description = "voxmol text";
        return g;
    }

    long read_values(std::span<double> values, ValueProgress* progress) override {
        Tuhbdgrd grid{};
        grid.data = values;
        return load_values(in_, grid, progress);
    }

  private:
    io::BlockReader& in_;
};

// Every file is voxmol's own format that no other format takes.
bool detect_native(std::string_view, std::string_view) {
    return true;
}

std::unique_ptr<gridfmt::Reader> open_native(io::BlockReader& in, int) {
    return std::make_unique<NativeReader>(in);
}

}  // namespace

namespace gridfmt {
extern const Format native_format = {
    "voxmol text", "voxmol's own: a header line of 17 numbers, then one value per line",
    detect_native, open_native,
    true,
};
}  // namespace gridfmt

void load_header(std::FILE* file, Tuhbdgrd* grd, int LEVEL) {
    const Tuhbdgrd found = find_header([file](std::string& line) { return io::read_line(file, line); });
    const std::span<double> data = grd->data;
    const auto axes = grd->axes;
    *grd = found;
    grd->data = data;
    grd->axes = axes;
    if (LEVEL > 1) gridfmt::print_header_lines(*grd);
}

long load_data(std::FILE* file, Tuhbdgrd* grd, int LEVEL) {
    io::BlockReader reader(file);
    const long nbdat = load_values(reader, *grd, nullptr);
    gridfmt::print_value_count(nbdat, LEVEL);
    return nbdat;
}
