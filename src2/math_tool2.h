// Vector, matrix and statistics math over three-component coordinates, and the ratio parser.
//
// Distances are in the caller's units (Ångström for structures); angles cross the interface in degrees.
// Sums of three per-axis terms are always formed as (x-term + y-term) + z-term, and degree conversions
// multiply before they divide, so results are reproducible to the last bit. The math checks nothing on
// degenerate input: a zero-length vector or an empty set gives the IEEE result (not-a-number or infinity).
// A count larger than the arrays it describes is refused through err, since reading past them is never
// meaningful.
#ifndef VOXMOL_MATH_TOOL2_H
#define VOXMOL_MATH_TOOL2_H

#include <array>
#include <cstdio>
#include <span>
#include <string_view>

#include "common/coord.h"

// ---- Vector geometry ---------------------------------------------------------------------------------
// Vectors given as components are read through six pointers: (x, y, z) first, (u, v, w) second. The
// pointed-to values are never written. Nothing here prints or keeps state.

// Euclidean distance between two points, and its square.
double distance(COORD a, COORD b);
double distance2(COORD a, COORD b);

// Distance computed in single precision throughout (differences, squares, sums and the root).
float fdistance(float ax, float ay, float az, float bx, float by, float bz);

// Distance between the points (x, y, z) and (u, v, w): the length of their difference.
double norm_vector(const double* x, const double* y, const double* z, const double* u, const double* v,
                   const double* w);

// Scalar product x*u + y*v + z*w.
double mult_vector(const double* x, const double* y, const double* z, const double* u, const double* v,
                   const double* w);

// The vector from the point (x, y, z) to the point (u, v, w): (u - x, v - y, w - z).
COORD vector(const double* x, const double* y, const double* z, const double* u, const double* v,
             const double* w);

// The vector product of (x, y, z) and (u, v, w) divided by its own length: a unit normal. Parallel or
// zero vectors give not-a-number in every component.
COORD cross_vector(const double* x, const double* y, const double* z, const double* u, const double* v,
                   const double* w);

// `A` divided by its length.
COORD normv(COORD A);

// -1 when *dihedral is less than 0; +1 otherwise (0, -0 and not-a-number included).
int sign_vector(const double* dihedral);

// The angle in degrees, 0 to 180, whose cosine is *angle. The cosine is not clamped: a value outside
// [-1, 1] gives not-a-number. acos(0.5) comes out as 60.00000000000001 (times 360, then divided by 2 pi).
double cos_angle(const double* angle);

// The angle A-B-C at the vertex B, in degrees, 0 to 180.
double angle(COORD A, COORD B, COORD C);

// The signed dihedral angle A-B-C-D in degrees, -180 to 180. Seen along B towards C it is positive when
// the bond B-A turns clockwise to cover the bond C-D; a flat trans arrangement gives +180.
double dihedral(const double* Ax, const double* Ay, const double* Az, const double* Bx, const double* By,
                const double* Bz, const double* Cx, const double* Cy, const double* Cz, const double* Dx,
                const double* Dy, const double* Dz);

// The Cartesian point of radius *R, polar angle *THETA (from +z) and azimuth *PHI (from +x towards +y),
// both angles in degrees. `nbatm` and `LEVEL` are accepted and not used.
COORD get_xyz_from_polar_deg(int nbatm, const double* R, const double* THETA, const double* PHI, int LEVEL);

// ---- Matrices ----------------------------------------------------------------------------------------
// A plain matrix is three rows of three doubles, row-major, passed as a pointer to its first row.

// Writes the matrix to `periph` as three lines of "[%d][%d] %10.4lf  " fields, indices counted from 0.
void print_matrix(std::FILE* periph, const double matrix[3][3]);

// Writes the three records of `A` to `periph` as the columns of a matrix: line r holds the r-th
// component of A.A, A.B and A.C, with labels counted from 1 and two decimals.
void display_matrix(std::FILE* periph, MATRIX A);

// B receives the transpose of A. A and B may be the same array.
void transpose1(const double A[3][3], double B[3][3]);

// The product of the row1 x column1 matrix held row after row in P and the column vector (*x, *y, *z) cut
// to its first row2 components. Returns a pointer to a static work area of nine doubles whose first row1
// values are the product: the same pointer on every call, to content that the next call overwrites.
// Needs 1 <= row1, column1 <= 3, row2 == column1, column2 == 1 and P holding row1 * column1 values;
// anything else is refused through err.
double* mult_mat_by_vec(int row1, int column1, std::span<const double> P, int row2, int column2,
                        const double* x, const double* y, const double* z);

// matrix times the column vector `cor`, plus the translation vec[0..2].
COORD mult_vec_by_matvec(COORD cor, const double matrix[3][3], const double vec[3]);

// ---- Coordinate-set statistics -----------------------------------------------------------------------
// Coordinate sets come as parallel per-axis arrays with a count; element i of each array belongs to point
// i. Only the first `count` elements are used; a count of 0 or less means an empty set.

// One atom-name slot as get_com reads it: a name of at most 4 characters and its terminator.
using ANAME_SLOT = std::array<char, 5>;

// Writes the mean of the first nb values and their sample standard deviation (divisor nb - 1) through
// `mean` and `sdev`; returns 1. One value gives the deviation not-a-number; no values give not-a-number
// for both.
int stat_mean(int nb, std::span<const double> data, double* mean, double* sdev);

// Root-mean-square deviation between the loop and the reference points, point by point, as passed (no
// superposition). Prints "RMSD=%6.2f \n" at LEVEL > 2.
double RMSD1(std::span<const double> loopX, std::span<const double> loopY, std::span<const double> loopZ,
             std::span<const double> refX, std::span<const double> refY, std::span<const double> refZ,
             int max, int LEVEL);

// The bounding box of the first nbatm points, in single precision. The minima start at 9999 and the maxima
// at -9999, so those values also act as limits. At LEVEL > 2 prints one three-line block of the minima,
// maxima and extents.
void get_pdb_xyz_min_max(int nbatm, std::span<const float> Cx, std::span<const float> Cy,
                         std::span<const float> Cz, float* minX, float* maxX, float* minY, float* maxY,
                         float* minZ, float* maxZ, int LEVEL);

// The centre of the first nbatm points. With MASS == 0 it is the plain centroid and `aname` is not read
// (it may be empty). With MASS != 0 each point is weighted by the element its name slot starts with
// (" N" 14, " O" 16, " C" 12, " S" 32, " H" 1, " P" 31); any other name weighs 1.0. At LEVEL > 2 prints
// "mass_tot = %f\n" and "Center of mass: %6.2f %6.2f %6.2f\n".
COORD get_com(int nbatm, std::span<const float> Cx, std::span<const float> Cy, std::span<const float> Cz,
              std::span<const ANAME_SLOT> aname, int MASS, int LEVEL);

// Moves the first nbatm points of A, in place, so that their plain centroid lies at the origin; returns
// the number of points averaged. At LEVEL > 1 prints "Original center of mass = %f %f %f \n".
int center_coord(int nbatm, std::span<COORD> A, int LEVEL);

// Radius of gyration of the first nbatm points about (Ax, Ay, Az), every point weighing the same. Prints
// nothing; LEVEL is not used.
double radius_gyr(int nbatm, std::span<const float> X, std::span<const float> Y, std::span<const float> Z,
                  double Ax, double Ay, double Az, int LEVEL);

// ---- Ratio expressions -------------------------------------------------------------------------------

// The value of a ratio of two whole numbers ("3/4") or of a plain decimal number ("0.75"). The text ends
// at its first NUL, as a C string would. Without a "/" the whole text is read as atof reads it. With one,
// the text is split at runs of "/" into non-empty parts (at LEVEL > 2 each is printed as
// "In Split and tok #%d = %s\n"), and the result is atoi(part 0) / atoi(part 1) in double precision:
// 1.5/3 is 1/3. Any number of parts other than two prints "SUB: RTOF;\n Wrong ratio expression: %s\n"
// with the text, at every level; with three or more the first two still give the value, with fewer the
// result is not-a-number.
double rtof(std::string_view ratio, int LEVEL);

#endif  // VOXMOL_MATH_TOOL2_H
