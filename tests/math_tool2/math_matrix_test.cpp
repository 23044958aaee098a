// Matrices: the two printed layouts byte for byte, transposition (also in place), the shared work area of
// mult_mat_by_vec and its refusal of dimensions it cannot honour, and the affine map of a point.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "math_tool2.h"
#include "test_util.h"

namespace {

// Collects what a writer sends to a stream.
template <typename Write>
std::string written(Write write) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    write(stream);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

const double kIdentity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const double kQuarterTurnZ[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}};

TEST(MatrixPrint, RowMajorWithZeroBasedLabels) {
    const double m[3][3] = {{1, 0, 0}, {-2.5, 12345.67891, 0}, {0.00005, -0.00005, 1e6}};
    EXPECT_EQ(
        "[0][0]     1.0000  [0][1]     0.0000  [0][2]     0.0000  \n"
        "[1][0]    -2.5000  [1][1] 12345.6789  [1][2]     0.0000  \n"
        "[2][0]     0.0001  [2][1]    -0.0001  [2][2] 1000000.0000  \n",
        written([&](std::FILE* f) { print_matrix(f, m); }));
}

TEST(MatrixPrint, DisplayShowsRecordsAsColumns) {
    const MATRIX m{{1, 2, 3}, {4, 5, 6}, {7, 8, 9.125}};
    EXPECT_EQ(
        "[1][1]       1.00  [1][2]       4.00  [1][3]       7.00  \n"
        "[2][1]       2.00  [2][2]       5.00  [2][3]       8.00  \n"
        "[3][1]       3.00  [3][2]       6.00  [3][3]       9.12  \n",
        written([&](std::FILE* f) { display_matrix(f, m); }));
}

TEST(Transpose, SeparateAndSameArray) {
    const double a[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const double expected[3][3] = {{1, 4, 7}, {2, 5, 8}, {3, 6, 9}};
    double separate[3][3] = {};
    transpose1(a, separate);
    double same[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    transpose1(same, same);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(expected[i][j], separate[i][j]) << "separate [" << i << "][" << j << "]";
            EXPECT_EQ(expected[i][j], same[i][j]) << "in place [" << i << "][" << j << "]";
            EXPECT_EQ(a[j][i], separate[i][j]) << "source kept";
        }
    }
}

TEST(MatVec, Products) {
    struct Case {
        std::string name;
        int row1, column1;
        std::vector<double> P;
        double v[3];
        std::vector<double> expected;
    };
    const std::vector<Case> cases = {
        {"quarter turn of x", 3, 3, {0, -1, 0, 1, 0, 0, 0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
        {"general 3x3", 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 10}, {1, -1, 2}, {5, 11, 19}},
        {"2x2 uses x and y only", 2, 2, {1, 2, 3, 4}, {5, 6, 1e300}, {17, 39}},
        {"1x3 row times vector", 1, 3, {1, 2, 3}, {4, 5, 6}, {32}},
        {"3x1 column times scalar", 3, 1, {1, 2, 3}, {-2, 0, 0}, {-2, -4, -6}},
    };
    for (const Case& c : cases) {
        const double* out = mult_mat_by_vec(c.row1, c.column1, c.P, c.column1, 1, &c.v[0], &c.v[1], &c.v[2]);
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(c.expected[i], out[i]) << c.name << " [" << i << "]";
        // The rest of the work area is cleared on every call.
        for (std::size_t i = c.expected.size(); i < 9; ++i)
            EXPECT_EQ(0.0, out[i]) << c.name << " [" << i << "]";
    }
}

TEST(MatVec, SumStartsFromZero) {
    // -1 times 0 is -0; the sum 0 + -0 makes it +0, as the accumulation from 0.0 does.
    const double P[9] = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double x = 0, y = 1, z = 1;
    const double* out = mult_mat_by_vec(3, 3, P, 3, 1, &x, &y, &z);
    EXPECT_EQ(0.0, out[0]);
    EXPECT_FALSE(std::signbit(out[0]));
}

TEST(MatVec, WorkAreaIsSharedBetweenCalls) {
    const double P[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    const double one = 1, zero = 0, two = 2;
    const double* first = mult_mat_by_vec(3, 3, P, 3, 1, &one, &zero, &zero);
    EXPECT_EQ(1.0, first[1]);
    const double* second = mult_mat_by_vec(3, 3, P, 3, 1, &zero, &two, &zero);
    EXPECT_EQ(first, second);
    EXPECT_EQ(-2.0, first[0]) << "the first pointer shows the latest product";
    EXPECT_EQ(0.0, first[1]);
}

TEST(MatVecDeathTest, RefusesDimensionsItCannotHonour) {
    struct Case {
        std::string name;
        int row1, column1, row2, column2;
        std::size_t values;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"four rows", 4, 3, 3, 1, 12, "unsupported dimensions: matrix 4x3, vector 3x1"},
        {"no rows", 0, 3, 3, 1, 9, "unsupported dimensions: matrix 0x3, vector 3x1"},
        {"four columns", 3, 4, 4, 1, 12, "unsupported dimensions: matrix 3x4, vector 4x1"},
        {"vector too short", 3, 3, 2, 1, 9, "unsupported dimensions: matrix 3x3, vector 2x1"},
        {"two vector columns", 3, 3, 3, 2, 9, "unsupported dimensions: matrix 3x3, vector 3x2"},
        {"negative", -1, 3, 3, 1, 9, "unsupported dimensions: matrix -1x3, vector 3x1"},
        {"matrix values missing", 3, 3, 3, 1, 8, "the matrix holds 8 values, 9 needed"},
    };
    const double v = 1;
    for (const Case& c : cases) {
        const std::vector<double> P(c.values, 1.0);
        EXPECT_EXIT(reporting_on_stderr(
                        [&] { mult_mat_by_vec(c.row1, c.column1, P, c.row2, c.column2, &v, &v, &v); }),
                    ::testing::ExitedWithCode(1), "\n>ERROR IN SUB:MULT_MAT_BY_VEC\n>ERRROR : " + c.message)
            << c.name;
    }
}

TEST(MatVec, AffineMapOfAPoint) {
    struct Case {
        std::string name;
        const double (*matrix)[3];
        COORD cor;
        double vec[3];
        COORD expected;
    };
    const double scale[3][3] = {{2, 0, 0}, {0, 3, 0}, {1, 1, 1}};
    const std::vector<Case> cases = {
        {"identity plus shift", kIdentity, {4, 5, 6}, {1, 2, 3}, {5, 7, 9}},
        {"quarter turn", kQuarterTurnZ, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}},
        {"rows and shift", scale, {1, 2, 3}, {-1, -1, 0.5}, {1, 5, 6.5}},
    };
    for (const Case& c : cases) {
        const COORD got = mult_vec_by_matvec(c.cor, c.matrix, c.vec);
        EXPECT_EQ(c.expected.x, got.x) << c.name;
        EXPECT_EQ(c.expected.y, got.y) << c.name;
        EXPECT_EQ(c.expected.z, got.z) << c.name;
    }
}

}  // namespace
