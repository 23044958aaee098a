// The extension module voxmol._voxmol: the converter's grids and the PDB toolkit's structures, on the C++
// library. The package voxmol (voxmol/__init__.py) re-exports it.
#include <pybind11/pybind11.h>

#include "bindings.h"
#include "host.h"

PYBIND11_MODULE(_voxmol, m) {
    // Each docstring starts with its signature in the form inspect.signature reads ("name(args)\n--\n\n").
    pybind11::options options;
    options.disable_function_signatures();
    m.doc() = "The compiled part of voxmol; use the package voxmol.";
    m.attr("__version__") = VOXMOL_VERSION;
    voxpy::install_error_handling(m);
    voxpy::bind_grid(m);
    voxpy::bind_structure(m);
    // The classes and errors are voxmol's: pickle finds them there, and their repr says so.
    for (const char* name : {"Grid", "Structure", "Residues", "Residue", "Atom", "Error", "VoxmolWarning"})
        m.attr(name).attr("__module__") = "voxmol";
}
