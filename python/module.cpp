// The voxmol Python module: the converter's grids and the PDB toolkit's structures, on the C++ library.
#include <pybind11/pybind11.h>

#include "bindings.h"
#include "host.h"

PYBIND11_MODULE(voxmol, m) {
    m.doc() =
        "Grids of values to PDB pseudo-atoms, and the PDB toolkit, on voxmol's C++ library.\n\n"
        "Nothing is printed unless asked (level > 0, or verbose=True): what the library prints on standard\n"
        "output is taken from descriptor 1 and handed to sys.stdout or dropped. A fatal error of the "
        "library\n"
        "raises voxmol.Error, and the process goes on.";
    m.attr("__version__") = VOXMOL_VERSION;
    voxpy::install_error_handling(m);
    voxpy::bind_grid(m);
    voxpy::bind_structure(m);
}
