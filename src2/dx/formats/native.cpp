#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "dx/io/cconv.h"
#include "dx/formats/format.h"
#include "dx/io/lines.h"
#include "dx/uhbdio.h"
#include "common/fatal.h"

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

}  // namespace

void gridfmt::print_header_lines(const Tuhbdgrd& grd) {
    std::printf("Dimensions: X= %d   Y= %d   Z= %d\n", grd.nx, grd.ny, grd.nz);
    std::printf("Min= %6.3f %6.3f %6.3f   Max= %6.3f %6.3f %6.3f\n", grd.xmin, grd.ymin, grd.zmin, grd.xmax,
                grd.ymax, grd.zmax);
    std::printf("Spacing of the grid= %4.2f %4.2f %4.2f\n", grd.hx, grd.hy, grd.hz);
}

void gridfmt::print_value_count(long nbdat, int LEVEL) {
    if (LEVEL > 2) std::printf("I read : %ld values in the input file\n", nbdat);
    if (LEVEL > 1 && nbdat > 99999)
        std::printf("Very large file, if not yet, increase -r option to a value > 1 \n");
}

void load_header(std::FILE* file, Tuhbdgrd* grd, int LEVEL) {
    std::string line;
    while (lines::read_line(file, line)) {
        if (is_skipped(line)) continue;
        Header h{};
        const int fields = scan_header(line.c_str(), h);
        if (fields != 17) {
            std::printf("WARNING: There are %d fields in the header, instead of 17\n", fields);
            continue;
        }
        if (h.dimX < 0 || h.dimY < 0 || h.dimZ < 0) {
            run_failed("The header of the data file gives a negative grid dimension");
        }
        grd->nx = h.dimX;
        grd->ny = h.dimY;
        grd->nz = h.dimZ;
        grd->xmin = h.minX;
        grd->ymin = h.minY;
        grd->zmin = h.minZ;
        grd->xmax = h.maxX;
        grd->ymax = h.maxY;
        grd->zmax = h.maxZ;
        grd->hx = spacing(h.minX, h.maxX, h.dimX);
        grd->hy = spacing(h.minY, h.maxY, h.dimY);
        grd->hz = spacing(h.minZ, h.maxZ, h.dimZ);
        if (LEVEL > 1) gridfmt::print_header_lines(*grd);
        return;
    }
    run_failed("The data file holds no header line of 17 fields");
}

long load_data(std::FILE* file, Tuhbdgrd* grd, int LEVEL) {
    return gridfmt::load_data(file, grd, LEVEL, nullptr);
}

long gridfmt::load_data(std::FILE* file, Tuhbdgrd* grd, int LEVEL, ValueProgress* progress) {
    const std::size_t capacity = grd->data.size();
    constexpr long kPublishEvery = 1 << 16;
    lines::BlockReader reader(file);
    std::string_view view;
    std::string line;
    long nbdat = 0;
    double last = 0.0;  // what a line that is not a number stores: the value parsed most recently
    while (reader.next(view)) {
        if (is_skipped(view)) continue;
        double value = 0.0;
        const int fields = cconv::scan_value_line(view, value);
        if (fields == 1) last = value;
        // Values past the end of the grid are counted but never stored.
        if (static_cast<std::size_t>(nbdat) < capacity) grd->data[nbdat] = last;
        ++nbdat;
        if (progress != nullptr && nbdat % kPublishEvery == 0)
            progress->publish(std::min(static_cast<std::size_t>(nbdat), capacity));
        if (fields != 1) {
            line.assign(view);
            std::printf("The line #: %ld  has less or more than 1 fields \n>>>%s\n", nbdat, line.c_str());
        }
    }
    if (static_cast<std::size_t>(nbdat) > capacity) {
        std::printf("WARNING: %ld values beyond the %zu points of the grid were ignored\n",
                    nbdat - static_cast<long>(capacity), capacity);
    }
    // Values the file does not hold stay 0.0: with the last line read, every value is final.
    if (progress != nullptr) progress->publish(capacity);
    gridfmt::print_value_count(nbdat, LEVEL);
    return nbdat;
}
