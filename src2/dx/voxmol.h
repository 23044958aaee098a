// One conversion: a grid data file to a PDB file of pseudo-atoms.
#ifndef VOXMOL_DX_VOXMOL_H
#define VOXMOL_DX_VOXMOL_H

#include "dx/cli.h"

// One whole conversion from a command line (argv[0] is the program name); returns the exit status.
int voxmol_main(int argc, const char* const* argv);

// The conversion the settings describe, from the echo of the settings on; returns the exit status.
int run_conversion(Settings s);

#endif  // VOXMOL_DX_VOXMOL_H
