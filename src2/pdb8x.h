// Additions to the PDB toolkit for hosts that hand a structure to users of another language (the Python
// module): the selection language with its traps refused, one model out of an ensemble, a structure of
// chosen atoms, the element of an atom, and the nearest atom with its index. The toolkit's own functions
// (pdb8.h) are unchanged by them.
#ifndef VOXMOL_PDB8X_H
#define VOXMOL_PDB8X_H

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pdb8.h"

// ---- Selection ---------------------------------------------------------------------------------------

// The residues an expression of the selection language (read_res_pattern) selects, or why the expression
// is refused: where read_res_pattern would read something other than what the text says, it is not run.
// Refused: an empty text; anything but "*" alone, one chain letter, one identifier (A125, 125, 125B) or
// two identifiers joined by "-" or ":" (blanks around the expression and the joiner are ignored); a comma
// or blanks between two identifiers (the language reads both as a range, where a list is meant); an
// identifier without a residue number ("CA", "resname", the "D" of "D-1", whose "-" ends a range); a
// range whose first residue matches nothing, or whose last matches no residue at or after the first
// (the range would run to the last residue); an identifier without a chain letter when no residue has a
// blank chain. "*" selects every residue (read_res_pattern's stretch from the first residue's key to
// the last's would stop early where keys repeat, as in pooled models).
struct CheckedSelection {
    std::vector<int> residues;  // ascending indices, `invert` applied
    std::string error;          // why the expression is refused; empty when it is not
};
CheckedSelection select_checked(std::string_view expression, PDBMOL mol, int max, bool invert);

// ---- Models ------------------------------------------------------------------------------------------

// The number of the first MODEL record of the coordinate section as load_pdb reads it ("MODEL" anywhere
// in a line, the number after its sixth character), or 0 when a coordinate record comes first or there is
// none.
int first_model_number(std::span<const PDBLINE> lines, int max);

// The same for the first lines of a file: empty when they end before a MODEL or coordinate record
// settles it.
std::optional<int> first_model_in_head(std::span<const PDBLINE> lines, int max);

// The MODEL numbers of the coordinate section, in file order.
std::vector<int> model_numbers(std::span<const PDBLINE> lines, int max);

// Keeps the first `residues` residues of `store` for which keep(residue index) is true, with their atoms,
// in order; the store and `mol` shrink to them. Returns the new residue count.
template <class Keep>
int keep_residues(PDBSTORE& store, PDBMOL& mol, int residues, Keep keep);

// ---- Atoms -------------------------------------------------------------------------------------------

// A structure of the atoms `atoms` (indices into store.a, ascending) of the first `residues` residues
// of `store`: each run of chosen atoms of one residue is a residue of the result, with that residue's
// fields. Returns the residue count of `out` (0 for no atom).
int copy_atoms(const PDBSTORE& store, int residues, std::span<const std::size_t> atoms, PDBSTORE& out,
               PDBMOL& out_mol);

// The element of an atom, upper case: columns 77-78 when they hold one, else from the name field
// (columns 13-16): a blank or a digit in column 13 puts a one-letter element in column 14 (" CA " is
// carbon); a letter there starts a two-letter element ("FE  ", "CA  " calcium, "CL1 "), except for a
// four-character name beginning with H, a hydrogen ("HG21"), and a letter followed by no letter ("C1'").
std::string atom_element(const PDBATOM& atom);

// The atom nearest to `target` among `atoms` (indices into `store_atoms`), and its distance, computed as
// get_pdb_closest_atom does (ties keep the first); empty when there is no atom.
std::optional<std::pair<std::size_t, double>> nearest_atom(std::span<const PDBATOM> store_atoms,
                                                           std::span<const std::size_t> atoms, COORD target);

// ---- Template definitions ----------------------------------------------------------------------------

namespace pdb8x_detail {
void rebuild(PDBSTORE& store, PDBMOL& mol, const std::vector<int>& kept);
}  // namespace pdb8x_detail

template <class Keep>
int keep_residues(PDBSTORE& store, PDBMOL& mol, int residues, Keep keep) {
    std::vector<int> kept;
    for (int i = 0; i < residues; ++i) {
        if (keep(i)) kept.push_back(i);
    }
    if (static_cast<int>(kept.size()) == residues) return residues;
    pdb8x_detail::rebuild(store, mol, kept);
    return static_cast<int>(kept.size());
}

#endif  // VOXMOL_PDB8X_H
