// The atoms a region of the grid is measured from: the ATOM and HETATM records of the first model of a
// PDB file, read with the PDB toolkit's line set and reader, all of them or those of the residues an
// expression of the toolkit's residue-selection language selects.
#ifndef VOXMOL_PDB8X_STRUCTURE_ATOMS_H
#define VOXMOL_PDB8X_STRUCTURE_ATOMS_H

#include <array>
#include <optional>
#include <string>
#include <vector>

struct StructureAtoms {
    std::vector<std::array<double, 3>> positions;  // x, y, z in Ångström, in file order
    int residues = 0;                              // residues the positions belong to
    int model = 0;  // the model read: the first MODEL record's number, 0 without one
};

// The atoms of `file`. The first model is the one the first MODEL record names (with the records before
// any MODEL record, as the toolkit counts them); a file without MODEL records is read whole. `residues`,
// when given, is an expression of read_res_pattern ("A10-A20", "B", "A125", "*"); a leading "!" takes
// the residues it does not select. Each position is the record's coordinate text as a double: the
// toolkit reads coordinates in single precision, and the shortest decimal that reads back as that float
// is the text of any "%8.3f" coordinate. LEVEL goes to the toolkit's reader and selection (which print
// their totals at LEVEL > 1 and more at LEVEL > 2).
// Fatal ("MAIN:VOXDEN"): a file that cannot be read, one without ATOM or HETATM record in that model, an
// expression that selects no residue; the selection language's own errors stop the run at its location.
StructureAtoms structure_atoms(const std::string& file, const std::optional<std::string>& residues,
                               int LEVEL);

#endif  // VOXMOL_PDB8X_STRUCTURE_ATOMS_H
