// Reading a grid file, in whichever format it holds, into a grid record and its values: the input opened
// (and decompressed), the format recognised, the header read and reported, room made for the values,
// and the values read.
#ifndef VOXMOL_DX_FORMATS_READ_H
#define VOXMOL_DX_FORMATS_READ_H

#include <cstddef>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "dx/formats/format.h"
#include "dx/grid.h"
#include "dx/io/input.h"

// A grid read from a file, in any format voxmol reads.
struct GridFile {
    Tuhbdgrd grid{};    // grid.data views `values`
    GridValues values;  // stored in `order`
    // Instead of `values` (grid.data then empty), when the host asked for the file's own precision and
    // the format holds only floats: nx*ny*nz of them, stored in `order`.
    SingleValues single;
    std::string format;       // as the run names it: "voxmol text", "OpenDX, text", "CCP4/MRC, mode 2", ...
    std::string compression;  // "gzip", or empty for a plain file
    ValueOrder order = ValueOrder::z_fastest;
    bool native = true;  // voxmol's own format
    long count = 0;      // value lines read (voxmol's format), or nx*ny*nz
};

// Reads the grid data file `name` and prints what the converter prints from the header on, through
// "Time to read the data file": the header's lines and warnings, "Grid format: ..." for any format but
// voxmol's own uncompressed one, the dimensions, the value warnings and counts, at the usual LEVEL
// thresholds. `order` is what -o gave, if it was given: voxmol's own format stores its values in that
// order (z fastest when none was given); every other format says where each value lies and is read in
// walk order, and a given order draws one "WARNING:" line. Every problem with the file is fatal;
// "I cannot open the input data file" when it cannot be opened.
GridFile read_grid_file(const std::string& name, std::optional<ValueOrder> order, int LEVEL);

namespace gridfmt {

// The lines every run prints about its grid, whatever the format: the dimensions, the first and last
// point and the step lengths (the caller checks LEVEL > 1); the value count at LEVEL > 2 and, at
// LEVEL > 1 for 100000 values or more, the hint to thin the output.
void print_header_lines(const Tuhbdgrd& grd);
void print_value_count(long nbdat, int LEVEL);

// read_grid_file in its steps, so that the run can start writing while the values are read. The
// constructor opens the file and reads its header, printing through "Dimension of data"; allocate()
// makes room for the values (fatal when the dimensions are beyond memory); read_values() reads them,
// printing through "Time to read the data file".
class GridReading {
  public:
    // `selection`, when given, is offered to the reader of a plain file (Reader::offer_selection):
    // read_selection() must then be called with it should selects() be true.
    GridReading(const std::string& name, std::optional<ValueOrder> order, int LEVEL,
                PointSelection* selection = nullptr);
    ~GridReading();
    GridReading(const GridReading&) = delete;
    GridReading& operator=(const GridReading&) = delete;

    GridFile& file() { return out_; }
    // The number of points the header gives (fatal when it overflows); allocate() makes room for them.
    std::size_t points() const;
    void allocate();
    // Whether every value of the file is a float exactly (a CCP4/MRC map); allocate_single() then makes
    // room for them in single precision instead of allocate(), and read_values() reads them into
    // file().single, in the order the format finds cheapest (file().order).
    bool holds_single() const;
    void allocate_single();
    // `progress`, when given, is raised as values become final in storage order.
    void read_values(ValueProgress* progress = nullptr);
    // Whether the values can be read into a selection instead (a reader that can, of a plain file, which
    // can be read again from its start). read_selection() reads them so, printing what read_values()
    // prints, and returns true; or, should more points than the selection's limit lie in its window,
    // opens the file again, reads its header again (silently) and returns false: allocate() and
    // read_values() then read the grid whole.
    bool selects() const;
    bool read_selection(PointSelection& selection);

  private:
    void open(int LEVEL);
    void finish_reading(std::time_t started);

    std::string name_;
    const Format* format_ = nullptr;
    PointSelection* offered_ = nullptr;
    io::Input input_;
    GridFile out_;
    int LEVEL_;
    std::unique_ptr<io::BlockReader> in_;
    std::unique_ptr<Reader> reader_;
    std::optional<std::size_t> single_points_;  // allocate_single()'s count
};

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_READ_H
