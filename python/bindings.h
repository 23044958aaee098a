// The parts of the voxmol module, each adding its classes and functions.
#ifndef VOXMOL_PYTHON_BINDINGS_H
#define VOXMOL_PYTHON_BINDINGS_H

#include <pybind11/pybind11.h>

namespace voxpy {

void bind_grid(pybind11::module_& m);
void bind_structure(pybind11::module_& m);

}  // namespace voxpy

#endif  // VOXMOL_PYTHON_BINDINGS_H
