// The place of a grid in a crystal's unit cell, for the cell-based formats (XPLOR/CNS, DSN6/BRIX), as
// CCP4/MRC maps are placed: i, j, k run along the cell's edges a, b, c; a step is the edge over the
// sampling (the points along the whole edge); the first point lies at the start indices, taken as steps
// through the cell. The cell is set in space by the orthogonalisation the PDB uses: a along x, b in the
// xy plane. A non-orthogonal cell gives sheared steps, as it is.
#ifndef VOXMOL_DX_FORMATS_CELL_H
#define VOXMOL_DX_FORMATS_CELL_H

#include <array>
#include <string>

#include "dx/formats/format.h"

namespace gridfmt {

struct CellGrid {
    std::array<double, 3> lengths{};  // a, b, c in Ångström
    std::array<double, 3> angles{};   // alpha, beta, gamma in degrees
    std::array<long, 3> sampling{};   // points along each whole edge
    std::array<long, 3> start{};      // index of the first point along each edge
};

// The grid's origin and step vectors; what makes no cell (a length or sampling not positive, angles
// outside (0, 180) or that close no cell) is fatal, with a message that names `format`.
void place_in_cell(const CellGrid& cell, const std::string& format, Geometry& g);

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_CELL_H
