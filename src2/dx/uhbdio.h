// The grid record, and the converter's public functions: the reader of voxmol's own grid file
// (load_header, load_data), the pseudo-atom writer (write_pdb) and the command line's printing.
//
// voxmol's own grid data file is text: "!" comment lines and empty lines anywhere, one header line of 17
// numbers (bounds, counts, dimensions, origin, span), then one value per line, z fastest, then y, then x
// slowest. The other formats voxmol reads are read into the same record (dx/formats/read.h).
#ifndef VOXMOL_DX_UHBDIO_H
#define VOXMOL_DX_UHBDIO_H

#include <array>
#include <cstdio>
#include <span>
#include <string_view>

// A regular grid of scalar values. Spacings and bounds are in Ångström. `data` views an array of
// nx*ny*nz values owned by the caller (the converter's run), in the order the file lists them.
// Point (i, j, k) lies at (xmin, ymin, zmin) + i*a + j*b + k*c, with a, b, c the rows of `axes`. Left
// all zero, as voxmol's own format leaves it, the steps follow x, y and z: a = (hx, 0, 0),
// b = (0, hy, 0), c = (0, 0, hz). A grid from another format sets them (its hx, hy, hz are then the
// step lengths and xmax, ymax, zmax its last point).
struct Tuhbdgrd {
    int nx, ny, nz;
    double hx, hy, hz;
    double xmin, ymin, zmin;
    double xmax, ymax, zmax;
    std::span<double> data;
    std::array<std::array<double, 3>, 3> axes;
};

// The converter's one grid.
extern Tuhbdgrd grd;

// Reads from the current position of `file` up to and including the first line that yields the 17 header
// fields and fills every field of `grd` but `data`. Lines that yield another field count get a
// "WARNING: " line each, at every verbosity; at LEVEL > 1 the dimensions, bounds and spacings are printed.
// A file without a header line, or a header with a negative dimension, is a fatal error (err).
void load_header(std::FILE* file, Tuhbdgrd* grd, int LEVEL);

// Reads the rest of `file`, one value per line, into grd->data in file order and returns the number of
// value lines read. A line that does not start with a number repeats the previous value (0.0 before the
// first) and is reported at every verbosity. Values beyond the array's end are counted, not stored, and
// reported once. At LEVEL > 2 the count is printed; at LEVEL > 1 a file of 100000 values or more gets a
// hint to thin the output.
long load_data(std::FILE* file, Tuhbdgrd* grd, int LEVEL);

// Writes four REMARK lines and one ATOM record for every `resol`-th grid point whose value lies in
// [min, max], walking x slowest and z fastest. With the ordering "ZYX" the value of point (i, j, k) is
// taken from element i + nx*(j + ny*k) instead of (i*ny + j)*nz + k. Prints two progress lines on
// standard output at every verbosity. Returns 1; write errors are left for the caller to detect on `file`.
int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol, std::string_view type);

// The banner, the usage text, and the usage text followed by the fatal "Incorrect input argument".
void print_title();
void print_usage();
[[noreturn]] void error_usage();

#endif  // VOXMOL_DX_UHBDIO_H
