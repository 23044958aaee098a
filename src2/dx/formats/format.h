// What a grid format is to the run: a detector that recognises a file from its first bytes, and a reader
// that turns the file into the one grid record the writer walks. Each format lives in one file of this
// folder, beside its entry; table.cpp lists the entries in the order recognition tries them.
#ifndef VOXMOL_DX_FORMATS_FORMAT_H
#define VOXMOL_DX_FORMATS_FORMAT_H

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/fatal.h"
#include "dx/grid.h"
#include "dx/io/lines.h"

namespace gridfmt {

// How many bytes of the (decompressed) file a detector is shown: enough for any header it looks at.
constexpr std::size_t kPrefixSize = 64 * 1024;

// What a format's header gives: the grid's shape and its place in space, in Ångström.
struct Geometry {
    int nx = 0, ny = 0, nz = 0;
    std::array<double, 3> origin{};     // position of point (0, 0, 0)
    Axes axes{};                        // step vectors a, b, c between neighbours along i, j, k
    std::string description;            // the format as the run names it: "OpenDX, text"
    std::vector<std::string> warnings;  // printed by the run as "WARNING: <text>", after the format line
    // Set instead by a format that gives its bounds itself (voxmol's own: the first and last point as
    // written, the points evenly spaced between them): the grid's record is then this one.
    std::optional<Tuhbdgrd> record;
};

// The grid record a header describes.
Tuhbdgrd record_of(const Geometry& g);

// A reader of one file. The run reads the header, allocates the values, then reads them. A reader
// prints nothing but what its format's own messages are (voxmol's text format reports lines as it
// reads them); what is wrong with a file is fatal through fail(), with a message that names the
// problem ("The OpenDX file ends after 1000 of 1614177 values").
class Reader {
  public:
    virtual ~Reader() = default;
    // Reads the header from the start of the stream. For every format but voxmol's own, dimensions are at
    // least 1 each; the run checks that their product fits memory.
    virtual Geometry read_header() = 0;
    // Reads the values into `values` (nx*ny*nz of them), in walk order, point (i, j, k) at
    // (i*ny + j)*nz + k, whatever order the file lists them in (voxmol's own format: in file order).
    // Returns the number of values read. A reader whose values arrive in storage order publishes them
    // in `progress` (when given) as they become final.
    virtual long read_values(std::span<double> values, ValueProgress* progress) = 0;

    // For a host that keeps a file's own precision: whether every value the file can hold is a float
    // exactly (a CCP4/MRC map), and then read_values' read into floats instead, stored in the order
    // nearest the file's own, which it returns (x fastest for a map whose columns run along X and
    // sections along Z: the values are then read as they lie, not moved). Every check of read_values
    // holds. A format without it keeps these defaults, and its host reads doubles.
    virtual bool holds_single() const { return false; }
    virtual ValueOrder read_single(std::span<float> values);

    // For a run that writes only the points in a window: whether this reader can read its values into a
    // selection instead of a whole grid, and then read_selection() does, with every check of read_values
    // (selection.complete false when it stopped at the selection's limit, the rest of the file unread).
    virtual bool selects() const { return false; }
    virtual void read_selection(PointSelection& selection);
    // The selection the run will read the values into, offered before the header is read (a plain file
    // only; the run then calls read_selection() with it, should this reader select): a format whose values
    // come before what places the grid (DelPhi's potential, before its trailer) selects them as it
    // passes them, instead of keeping them all until the header is read.
    virtual void offer_selection(PointSelection& selection) { (void)selection; }
};

// One grid format.
struct Format {
    std::string_view name;     // as messages and --help name it: "OpenDX"
    std::string_view summary;  // one line for --help: who writes it, and its usual endings
    // Whether a file is of this format, from its first bytes (at most kPrefixSize of the decompressed
    // file; fewer when it is shorter) and its name (before a compression ending).
    bool (*detect)(std::string_view prefix, std::string_view name);
    // A reader of the stream of the whole (decompressed) file, positioned at its start.
    std::unique_ptr<Reader> (*open)(io::BlockReader& in, int LEVEL);
    // voxmol's own format: its values come in the order -o gives, the run names it only when the file is
    // compressed, and its header lines are printed as it reads them.
    bool native = false;
};

// The formats in the order recognition tries them; the last, voxmol's own, takes every file.
std::span<const Format* const> formats();

// The first format whose detector takes the file.
const Format& recognise(std::string_view prefix, std::string_view name);

// The format of that name, or nullptr.
const Format* format_named(std::string_view name);

// What is wrong with a file, reported as the run's fatal error: the one way a reader fails.
[[noreturn]] inline void fail(const std::string& message) {
    run_failed(message);
}

inline ValueOrder Reader::read_single(std::span<float>) {
    fail("This grid format is read in double precision only");
}

inline void Reader::read_selection(PointSelection&) {
    fail("This grid format is read whole only");
}

// A message built as printf builds text, for the readers whose messages quote numbers of a header.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Fails, naming `format`, when a point of the grid `g` describes would lie beyond the range of numbers:
// every point the run places must have finite coordinates.
void check_reach(const Geometry& g, const std::string& format);

// nx*ny*nz for three counts, empty when the product overflows 64 bits.
std::optional<std::uint64_t> product3(std::uint64_t nx, std::uint64_t ny, std::uint64_t nz);

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_FORMAT_H
