// The records every part of the library shares: a point or vector of three doubles, and a 3x3 matrix
// held as three of them.
#ifndef VOXMOL_COMMON_COORD_H
#define VOXMOL_COMMON_COORD_H

// A point or a vector.
struct COORD {
    double x;
    double y;
    double z;
};

// A 3x3 matrix held as three records; display_matrix shows them as the matrix's columns.
struct MATRIX {
    COORD A;
    COORD B;
    COORD C;
};

#endif  // VOXMOL_COMMON_COORD_H
