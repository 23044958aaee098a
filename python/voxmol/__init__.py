"""Grids of values to PDB pseudo-atoms, and a PDB toolkit, on voxmol's C++ library.

Nothing is printed unless asked (level > 0, or verbose=True): what the library prints goes to sys.stdout
only then. Its warnings go to warnings.warn with the category VoxmolWarning at every level. A fatal error
of the library raises voxmol.Error and the process goes on; a file that cannot be opened raises OSError
(FileNotFoundError, PermissionError, ...); wrong arguments raise TypeError or ValueError naming them. Long
calls release the GIL, and Ctrl-C stops them between blocks of work, leaving an earlier output as it was.
"""

from ._voxmol import (
    Atom,
    Error,
    Grid,
    Residue,
    Residues,
    Structure,
    VoxmolWarning,
    __version__,
    convert,
    read_grid,
    read_structure,
    write_grid,
    write_pdb,
    write_points,
)

__all__ = [
    "Atom",
    "Error",
    "Grid",
    "Residue",
    "Residues",
    "Structure",
    "VoxmolWarning",
    "__version__",
    "convert",
    "read_grid",
    "read_structure",
    "write_grid",
    "write_pdb",
    "write_points",
]
