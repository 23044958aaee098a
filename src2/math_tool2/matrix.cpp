#include <cstdio>
#include <string>

#include "common/fatal.h"
#include "math_tool2.h"

namespace {

// The work area of mult_mat_by_vec: alive for the whole process, zero at start, rewritten by every call.
double C[9];
double* ptr = nullptr;

bool within_1_to_3(int n) {
    return n >= 1 && n <= 3;
}

}  // namespace

void print_matrix(std::FILE* periph, const double matrix[3][3]) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            std::fprintf(periph, "[%d][%d] %10.4lf  ", i, j, matrix[i][j]);
        std::fprintf(periph, "\n");
    }
}

void display_matrix(std::FILE* periph, MATRIX A) {
    std::fprintf(periph, "[1][1] %10.2f  [1][2] %10.2f  [1][3] %10.2f  \n", A.A.x, A.B.x, A.C.x);
    std::fprintf(periph, "[2][1] %10.2f  [2][2] %10.2f  [2][3] %10.2f  \n", A.A.y, A.B.y, A.C.y);
    std::fprintf(periph, "[3][1] %10.2f  [3][2] %10.2f  [3][3] %10.2f  \n", A.A.z, A.B.z, A.C.z);
}

void transpose1(const double A[3][3], double B[3][3]) {
    // Copy A first: when B is the same array, writing B in place would overwrite elements of A that are
    // still to be read, and the result would not be the transpose.
    double source[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            source[i][j] = A[i][j];
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            B[i][j] = source[j][i];
    }
}

double* mult_mat_by_vec(int row1, int column1, std::span<const double> P, int row2, int column2,
                        const double* x, const double* y, const double* z) {
    // Dimensions beyond a 3x3 matrix times a matching column vector would read matrix or vector elements
    // that were never filled; refuse them instead of returning a product of garbage.
    if (!within_1_to_3(row1) || !within_1_to_3(column1) || row2 != column1 || column2 != 1) {
        fatal_error(
            "SUB:MULT_MAT_BY_VEC",
            "unsupported dimensions: matrix " + std::to_string(row1) + "x" + std::to_string(column1) +
                ", vector " + std::to_string(row2) + "x" + std::to_string(column2) +
                " (the matrix needs 1 to 3 rows and columns, the vector one column of as many rows as the "
                "matrix has columns)");
    }
    const auto needed = static_cast<std::size_t>(row1 * column1);
    if (P.size() < needed) {
        fatal_error("SUB:MULT_MAT_BY_VEC", "the matrix holds " + std::to_string(P.size()) + " values, " +
                                               std::to_string(needed) + " needed");
    }
    double M[3][3] = {};
    std::size_t next = 0;
    for (int i = 0; i < row1; ++i) {
        for (int j = 0; j < column1; ++j)
            M[i][j] = P[next++];
    }
    for (double& c : C)
        c = 0.0;
    // Only the first column of the vector operand is used, and of it only the first row2 components.
    const double* components[3] = {x, y, z};
    double V[3][3] = {};
    for (int k = 0; k < row2; ++k)
        V[k][0] = *components[k];
    for (int i = 0; i < row1; ++i) {
        for (int j = 0; j < column2; ++j) {
            // The sum starts from 0.0, which turns a product of -0 into +0; the element (i, j) is stored
            // column after column, so a one-column product lies in the first row1 positions.
            for (int k = 0; k < row2; ++k)
                C[3 * j + i] += M[i][k] * V[k][j];
        }
    }
    ptr = C;
    return ptr;
}

COORD mult_vec_by_matvec(COORD cor, const double matrix[3][3], const double vec[3]) {
    const double p[3] = {cor.x, cor.y, cor.z};
    double out[3];
    for (int i = 0; i < 3; ++i) {
        out[i] = ((matrix[i][0] * p[0] + matrix[i][1] * p[1]) + matrix[i][2] * p[2]) + vec[i];
    }
    return COORD{out[0], out[1], out[2]};
}
