// Vector, matrix and statistics math over three-component coordinates, and the ratio parser.
#ifndef VOXMOL_MATH_TOOL2_H
#define VOXMOL_MATH_TOOL2_H

#include "pdb8.h"

#endif  // VOXMOL_MATH_TOOL2_H
