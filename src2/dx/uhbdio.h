// The grid record and the converter's grid reader and PDB pseudo-atom writer.
//
// voxmol's own grid data file is text: "!" comment lines and empty lines anywhere, one header line of 17
// numbers (bounds, counts, dimensions, origin, span), then one value per line, z fastest, then y, then x
// slowest. read_grid_file also reads the formats other tools write (OpenDX, CCP4/MRC, Gaussian cube,
// AutoDock maps, any of them gzip-compressed) into the same record.
#ifndef VOXMOL_DX_UHBDIO_H
#define VOXMOL_DX_UHBDIO_H

#include <array>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// A regular grid of scalar values. Spacings and bounds are in Ångström. `data` views an array of
// nx*ny*nz values owned by the caller (the converter's run driver), in the order the file lists them.
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

// The step vectors a, b, c of a grid (rows), as the writer places its points.
std::array<std::array<double, 3>, 3> grid_axes(const Tuhbdgrd& grid);

// The record of an nx*ny*nz grid whose point (0, 0, 0) lies at `origin` and whose step vectors are the
// rows of `axes`, as every format but voxmol's own describes one: the origin as the lower bounds, the
// last point as the upper ones and the lengths of the step vectors as the spacings. `data` is empty.
Tuhbdgrd grid_record(int nx, int ny, int nz, const std::array<double, 3>& origin,
                     const std::array<std::array<double, 3>, 3>& axes);

// The values of a grid: nx*ny*nz doubles set to 0.0, on 2 MiB pages where the system grants them.
struct GridValuesFree {
    void operator()(double* p) const;
};
using GridValues = std::unique_ptr<double[], GridValuesFree>;
// Fatal ("=> Unable to allocate memory for the grid.") when the memory is not there.
GridValues allocate_grid_values(std::size_t points);

// A grid read from a file, in any format voxmol reads.
struct GridFile {
    Tuhbdgrd grid{};     // grid.data views `values`
    GridValues values;   // in walk order: point (i, j, k) at (i*ny + j)*nz + k (for "XYZ" data)
    std::string format;  // as the run names it: "voxmol text", "OpenDX, text", "CCP4/MRC, mode 2", ...
    bool native = true;  // voxmol's own format, whose value order -o gives; the others set their own
    bool gzip = false;
    long count = 0;  // value lines read (voxmol's format), or nx*ny*nz
};

// Reads the grid data file `name` and prints what the converter prints from the header on, through
// "Time to read the data file": the header's lines and warnings, "Grid format: ..." for any format but
// voxmol's own uncompressed one, the dimensions, the value warnings and counts, at the usual LEVEL
// thresholds. `order_given` tells that -o was given, which only voxmol's own format takes (the others
// say where every value lies): for them it is ignored, with one "WARNING:" line. Every problem with the
// file is fatal (err); "I cannot open the input data file" when it cannot be opened.
GridFile read_grid_file(const std::string& name, bool order_given, int LEVEL);

// Number of points nx*ny*nz, computed without overflow; empty when a dimension is negative or the
// product does not fit a size_t.
std::optional<std::size_t> grid_points(const Tuhbdgrd& grid);

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
// The same with the choice of how the records reach `file`: `threaded` hands the full buffers to a second
// thread that writes them while the next ones are filled (what write_pdb does on a machine of more than
// one core); otherwise each is written in turn. The bytes written are the same either way.
int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol, std::string_view type,
              bool threaded);

struct ValueProgress;
// The records of write_pdb, after the four remark lines, without its progress lines; returns how many
// were written. `x_fastest` reads the values as "ZYX" data lists them. With `progress`, values are
// taken only once it says they are final (they are being read in walk order by another thread); a
// progress abandoned stops the walk.
long write_pdb_records(std::FILE* file, const Tuhbdgrd& grid, double min, double max, int resol,
                       bool x_fastest, bool threaded, const ValueProgress* progress);

// The banner, the usage text, and the usage text followed by the fatal "Incorrect input argument".
void print_title();
void print_usage();
[[noreturn]] void error_usage();
// `voxmol --help`: the usage text, then the options and the grid formats. `voxmol --version`: one line,
// "voxmol <version>".
void print_help();
void print_version();

// One whole conversion from a command line (argv[0] is the program name); returns the exit status.
int voxmol_main(int argc, const char* const* argv);

#endif  // VOXMOL_DX_UHBDIO_H
