// The record display's line writer, shared with the reader's residue echo.
#ifndef VOXMOL_PDB8_DISPLAY_H
#define VOXMOL_PDB8_DISPLAY_H

#include <cstdio>

#include "pdb8.h"

namespace pdbshow {

// The record-kind filter of display_pdbres.
bool residue_passes(const PDBRESI& res, char ATM);

// Writes the line of atom `atom` of residue `res`, printing an alternate location "." and an insertion
// code "?" as blanks without changing either record.
void write_atom_line(std::FILE* periph, const PDBRESI& res, const PDBATOM& atom);

// The reader's residue echo on standard output: the lines display_pdbres would write for a residue just
// closed, with the "?" and "." substitutions made only in what is printed, so one file loads to the same
// structure at every verbosity.
void echo_residue(const PDBRESI& res, char typ);

}  // namespace pdbshow

#endif  // VOXMOL_PDB8_DISPLAY_H
