// Files other programs read, written from what a host holds: a grid as OpenDX text or as an MRC2014
// map, and any set of points as pseudo-atom records. The converter's own output is written elsewhere
// (dx/write); these are for hosts such as the Python module. Every function writes to a stream the caller
// opened (an outfile::OutputFile, so that a file appears only when complete) and leaves write errors to
// be found on the stream; each checks the host's interrupt between blocks (common/interrupt.h).
#ifndef VOXMOL_DX_WRITE_EXPORT_H
#define VOXMOL_DX_WRITE_EXPORT_H

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dx/grid.h"

namespace gridexport {

enum class GridFormat { opendx, mrc };

// The format a file name asks for: ".dx" OpenDX, ".mrc", ".map" or ".ccp4" MRC2014 (any case); none for
// another ending.
std::optional<GridFormat> format_for_name(std::string_view name);

// OpenDX text as Poisson-Boltzmann solvers write it: the positions (origin and the three step vectors,
// any directions), the connections, then the values, three to a line, the last index fastest, each in the
// shortest text that reads back to the same double; then the field that ties them together.
void write_opendx(std::FILE* file, const Tuhbdgrd& grid, ValueOrder order);

// Why the grid cannot be written as an MRC map, or empty when it can. An MRC cell has its first axis
// along x, its second in the xy plane and its third above it, with positive steps: the step vectors
// a = (ax, 0, 0), b = (bx, by, 0), c = (cx, cy, cz) with ax, by, cz > 0. Any other grid (rotated axes,
// a step of length 0, steps against the axes) has no MRC cell.
std::string mrc_refusal(const Tuhbdgrd& grid);

// An MRC2014 map, mode 2 (float32), little-endian: columns along the cell's first axis, the cell's
// lengths and angles from the step vectors and the dimensions, ORIGIN the grid's origin, start indices 0,
// DMIN, DMAX, DMEAN and RMS from the values (NaN values left out of them). The grid must pass
// mrc_refusal.
void write_mrc(std::FILE* file, const Tuhbdgrd& grid, ValueOrder order);

// What every record of a point set carries besides its position and value.
struct PointFields {
    std::string name = "CA";      // atom name, up to 4 characters, written from column 13 as given
    std::string resname = "UNK";  // residue name, up to 3 characters
    char chain = 'A';
    std::string element;  // up to 2 characters, columns 77-78; empty for none
};

// Writes one ATOM record per point in the converter's record layout (its column table in
// dx/write/atom_format.h): serial and residue number both the point's number from 1 (hybrid-36 beyond
// 99999 and 9999), the coordinates and the value (0.0 without values) in the same fitting columns, the
// element in columns 77-78. `xyz` holds x, y, z of each point; `values` is empty or one per point.
// Returns the number of records.
long write_points_pdb(std::FILE* file, std::span<const double> xyz, std::span<const double> values,
                      const PointFields& fields);

// The same points as an mmCIF atom_site table, one model. (A small writer of its own until the
// converter writes mmCIF; it writes the same columns.)
long write_points_cif(std::FILE* file, std::span<const double> xyz, std::span<const double> values,
                      const PointFields& fields);

}  // namespace gridexport

#endif  // VOXMOL_DX_WRITE_EXPORT_H
