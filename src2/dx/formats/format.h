// The grid formats other tools write (OpenDX, CCP4/MRC, Gaussian cube, AutoDock maps), read into the one
// grid record the writer walks. Which format a file holds is decided in one place, recognise(), from
// the file's first bytes; what it does not recognise is voxmol's own text format, read by load_header
// and load_data exactly as ever.
#ifndef VOXMOL_DX_FORMATS_FORMAT_H
#define VOXMOL_DX_FORMATS_FORMAT_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dx/io/lines.h"
#include "dx/uhbdio.h"
#include "dx/value_progress.h"

namespace gridfmt {

enum class Format { native, opendx, ccp4, cube, autodock };

// How many bytes of the (decompressed) file recognise() is shown: enough for any header it looks at.
constexpr std::size_t kPrefixSize = 64 * 1024;

// The format of a file from its first bytes (at most kPrefixSize; fewer when the file is shorter) and
// its name (a cube file is recognised by its name's ending and its shape):
//   OpenDX    the first line that is not a "#" comment is "object <name> [class] <class>", with one of
//             the format's classes;
//   CCP4/MRC  "MAP " at byte 208 (either byte order), or a plausible 1024-byte header of an old CCP4 file;
//   AutoDock  the first line starts with "GRID_PARAMETER_FILE";
//   cube      the name ends in ".cube" or ".cub" (before a ".gz"), and lines 3 to 6 have a cube's shape;
// anything else is the native format.
Format recognise(std::string_view prefix, std::string_view name);

// What a format's header gives: the grid's shape and its place in space, in Ångström.
struct Geometry {
    int nx = 0, ny = 0, nz = 0;
    std::array<double, 3> origin{};               // position of point (0, 0, 0)
    std::array<std::array<double, 3>, 3> axes{};  // step vectors a, b, c between neighbours along i, j, k
    std::string description;                      // the format as the run names it: "OpenDX, text"
    std::vector<std::string> warnings;            // printed by the run as "WARNING: <text>", in order
};

// A reader of one self-describing format. The run reads the header, allocates the values, then reads
// them. A reader prints nothing; what is wrong with a file is a fatal error through err, with a message
// that names the problem ("The OpenDX file ends after 1000 of 1614177 values").
class Reader {
  public:
    virtual ~Reader() = default;
    // Reads the header from the start of the stream. Dimensions are at least 1 each, and their product
    // fits both a size_t and the memory a grid may ask for (checked by the run).
    virtual Geometry read_header() = 0;
    // Reads nx*ny*nz values into `values` in walk order: point (i, j, k) at (i*ny + j)*nz + k, whatever
    // order the file lists them in.
    virtual void read_values(std::span<double> values) = 0;
};

// The readers, each on the stream of the whole (decompressed) file, positioned at its start.
std::unique_ptr<Reader> make_opendx_reader(lines::BlockReader& in);
std::unique_ptr<Reader> make_ccp4_reader(lines::BlockReader& in);
std::unique_ptr<Reader> make_cube_reader(lines::BlockReader& in);
std::unique_ptr<Reader> make_autodock_reader(lines::BlockReader& in);

// A layer between the file and the stream the readers see (decompression, a replay of bytes taken from
// a pipe); owned by the Input whose stream reads through it.
struct Layer {
    virtual ~Layer() = default;
};

struct StreamCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// An open data file, decompressed as it is read when it is gzip-compressed (its first two bytes are the
// gzip magic). `stream` reads the file from its start, whatever recognise() was shown of it.
struct Input {
    std::vector<std::unique_ptr<Layer>> layers;  // outlive the stream, which reads through them
    std::unique_ptr<std::FILE, StreamCloser> stream;
    bool gzip = false;
    std::string prefix;  // the first kPrefixSize bytes (fewer when the file is shorter)
};

// Opens `name` for reading; false when it cannot be opened. A read error or a corrupt gzip stream later
// is fatal.
bool open_input(const char* name, Input& input);

// The lines every run prints about its grid, whatever the format: at LEVEL > 1 the dimensions, the
// first and last point and the step lengths; the value count at LEVEL > 2 and, at LEVEL > 1 for 100000
// values or more, the hint to thin the output.
void print_header_lines(const Tuhbdgrd& grd);
void print_value_count(long nbdat, int LEVEL);

// load_data, publishing in `progress` (when given) how many values are final as it goes.
long load_data(std::FILE* file, Tuhbdgrd* grd, int LEVEL, ValueProgress* progress);

// read_grid_file in its steps, so that the run can start writing while the values are read. The
// constructor opens the file and reads its header, printing through "Dimension of data"; allocate()
// makes room for the values (fatal when the dimensions are beyond memory); read_values() reads them,
// printing through "Time to read the data file".
class GridReading {
  public:
    GridReading(const std::string& name, bool order_given, int LEVEL);
    ~GridReading();
    GridReading(const GridReading&) = delete;
    GridReading& operator=(const GridReading&) = delete;

    GridFile& file() { return out_; }
    // The number of points the header gives (fatal when it overflows); allocate() makes room for them.
    std::size_t points() const;
    void allocate();
    // `progress` is followed only for voxmol's own format, whose values arrive in walk order (for "XYZ"
    // data); the others publish all their values at the end.
    void read_values(ValueProgress* progress = nullptr);

  private:
    Input input_;
    GridFile out_;
    int LEVEL_;
    std::unique_ptr<lines::BlockReader> in_;  // the stream of a self-describing format
    std::unique_ptr<Reader> reader_;
};

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_FORMAT_H
