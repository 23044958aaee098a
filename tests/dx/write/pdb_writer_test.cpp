#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dx/uhbdio.h"
#include "test_util.h"

namespace {

const std::string kRemarks =
    "REMARK  Generated from Cavora (https://cavora.bio/)\n"
    "REMARK               Transformed by voxmol \n"
    "REMARK  Please cite the Cavora web service (https://cavora.bio/)\n"
    "REMARK  This file can be read using VMD\n";

struct Written {
    std::string file;    // what write_pdb wrote into its stream
    std::string stdout;  // its progress lines
};

Written write(Tuhbdgrd grid, std::vector<double> values, double min, double max, int resol,
              const char* order = "XYZ") {
    grid.data = values;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&buffer, &size);
    testing::internal::CaptureStdout();
    EXPECT_EQ(write_pdb(f, &grid, min, max, resol, order), 1);
    Written w;
    w.stdout = testing::internal::GetCapturedStdout();
    std::fclose(f);
    w.file.assign(buffer, size);
    std::free(buffer);
    return w;
}

Tuhbdgrd grid(int nx, int ny, int nz, double h = 1.0, double xmin = 0, double ymin = 0, double zmin = 0) {
    Tuhbdgrd g{};
    g.nx = nx;
    g.ny = ny;
    g.nz = nz;
    g.hx = g.hy = g.hz = h;
    g.xmin = xmin;
    g.ymin = ymin;
    g.zmin = zmin;
    return g;
}

// The ATOM lines of a written file, without the remarks.
std::string atoms(const Written& w) {
    EXPECT_EQ(w.file.substr(0, kRemarks.size()), kRemarks);
    return w.file.substr(kRemarks.size());
}

TEST(WritePdb, SampleLinesColumnForColumn) {
    // Point (0,0,0) with 0.5, then (0,2,0) placed at x -1.5, y 2, z 10.25 by the bounds.
    EXPECT_EQ(atoms(write(grid(1, 1, 1), {0.5}, -1, 1, 1)),
              "ATOM      1 CA   UNK A   1       0.000   0.000   0.000  1.00  0.50            \n");
    EXPECT_EQ(atoms(write(grid(1, 1, 1, 1.0, -1.5, 2, 10.25), {-0.75}, -1, 1, 1)),
              "ATOM      1 CA   UNK A   1      -1.500   2.000  10.250  1.00 -0.75            \n");
}

TEST(WritePdb, WindowAndThinning) {
    // Values 0.5, 2.0, -1.0, 1.0 in walk order; the bounds of the window are inside it.
    struct Case {
        double min, max;
        int resol;
        std::vector<int> points;  // walk indices of the written records, serials 1, 2, ...
    };
    const Case cases[] = {
        {-1, 1, 1, {0, 2, 3}},
        {-1, 1, 2, {2}},
        {-1, 1, 3, {3}},
        {-1, 1, 4, {}},
        {1, -1, 1, {}},
        {2, 2, 1, {1}},
        {-INFINITY, INFINITY, 2, {1, 3}},
    };
    for (const auto& c : cases) {
        const std::string got = atoms(write(grid(1, 1, 4), {0.5, 2.0, -1.0, 1.0}, c.min, c.max, c.resol));
        std::string expected;
        int serial = 0;
        for (int p : c.points) {
            char line[100];
            const double values[] = {0.5, 2.0, -1.0, 1.0};
            std::snprintf(line, sizeof line,
                          "ATOM  %5d CA   UNK A   1       0.000   0.000 %7.3f  1.00%6.2f            \n",
                          ++serial, static_cast<double>(p), values[p]);
            expected += line;
        }
        EXPECT_EQ(got, expected) << "window " << c.min << ".." << c.max << " resol " << c.resol;
    }
}

TEST(WritePdb, NotANumberIsOutsideEveryWindow) {
    EXPECT_EQ(atoms(write(grid(1, 1, 2), {NAN, 0.0}, -INFINITY, INFINITY, 1)),
              "ATOM      1 CA   UNK A   1       0.000   0.000   1.000  1.00  0.00            \n");
}

TEST(WritePdb, OneResiduePerColumnOfPoints) {
    // 2 x 3 x 4 points, all in the window: residue i*3 + j + 1 for the 4 points of column (i, j).
    const std::string got = atoms(write(grid(2, 3, 4), std::vector<double>(24, 0.0), -1, 1, 1));
    int line = 0;
    for (std::size_t pos = 0; pos < got.size(); pos = got.find('\n', pos) + 1, ++line) {
        EXPECT_EQ(std::stoi(got.substr(pos + 22, 4)), line / 4 + 1) << "line " << line;
        EXPECT_EQ(std::stoi(got.substr(pos + 6, 5)), line + 1) << "line " << line;
    }
    EXPECT_EQ(line, 24);
    // With only the column at i = 1, j = 0 in the window its records carry residue 4 and serial 1.
    std::vector<double> values(24, 5.0);
    for (int k = 0; k < 4; ++k)
        values[12 + k] = 0.0;
    EXPECT_EQ(atoms(write(grid(2, 3, 4), values, -1, 1, 1)).substr(0, 27), "ATOM      1 CA   UNK A   4 ");
}

TEST(WritePdb, CoordinatesFollowBoundsAndSpacing) {
    const std::string got = atoms(write(grid(3, 1, 1, 0.5, -2), {0, 0, 0}, -1, 1, 1));
    EXPECT_EQ(got,
              "ATOM      1 CA   UNK A   1      -2.000   0.000   0.000  1.00  0.00            \n"
              "ATOM      2 CA   UNK A   2      -1.500   0.000   0.000  1.00  0.00            \n"
              "ATOM      3 CA   UNK A   3      -1.000   0.000   0.000  1.00  0.00            \n");
}

TEST(WritePdb, WideNumbersKeepTheirColumns) {
    // A coordinate or value too wide for its columns loses decimals instead of pushing the line.
    Tuhbdgrd g = grid(1, 1, 1, 1.0, -12345.678, 99999.5, 0);
    EXPECT_EQ(atoms(write(g, {-1234.5}, -1e9, 1e9, 1)),
              "ATOM      1 CA   UNK A   1    -12345.799999.50   0.000  1.00 -1234            \n");
}

TEST(WritePdb, LargeGridsTakeHybrid36Numbers) {
    // 1 x 10001 x 10 points: the 10000th column is residue 9999, the next A000; the 100000th point
    // is serial A0000. Every record is 78 characters and its line end.
    const std::string got = atoms(write(grid(1, 10001, 10), std::vector<double>(100010, 0.25), -1, 1, 1));
    EXPECT_EQ(got.size(), 100010u * 79);
    EXPECT_EQ(got.substr(99989 * 79, 27), "ATOM  99990 CA   UNK A9999 ");
    EXPECT_EQ(got.substr(99990 * 79, 27), "ATOM  99991 CA   UNK AA000 ");
    EXPECT_EQ(got.substr(99998 * 79, 27), "ATOM  99999 CA   UNK AA000 ");
    EXPECT_EQ(got.substr(99999 * 79, 27), "ATOM  A0000 CA   UNK AA000 ");
    EXPECT_EQ(got.substr(100009 * 79),
              "ATOM  A000A CA   UNK AA001       0.00010000.00   9.000  1.00  0.25            \n");
}

TEST(WritePdb, PointsFollowTheStepVectors) {
    // Point (i, j, k) at origin + i*a + j*b + k*c: a sheared cell, and steps along x, y, z that run
    // backwards (axes on the diagonal take the per-axis path).
    struct Case {
        std::string name;
        std::array<std::array<double, 3>, 3> axes;
    };
    const std::vector<Case> cases = {
        {"sheared", {{{1.5, 0.0, 0.0}, {0.75, 1.299, 0.0}, {0.1, -0.2, 2.0}}}},
        {"diagonal, backwards", {{{-0.5, 0.0, 0.0}, {0.0, 2.0, 0.0}, {0.0, 0.0, -1.25}}}},
    };
    for (const Case& c : cases) {
        Tuhbdgrd g = grid(2, 3, 4, 9.0, -1.0, 2.0, 3.0);  // hx, hy, hz are not used once axes are set
        g.axes = c.axes;
        std::vector<double> values(24);
        for (std::size_t v = 0; v < values.size(); ++v)
            values[v] = 0.01 * static_cast<double>(v);
        std::string expected;
        for (int i = 0, v = 0; i < 2; ++i) {
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 4; ++k, ++v) {
                    double p[3];
                    for (int d = 0; d < 3; ++d)
                        p[d] = (d == 0   ? -1.0
                                : d == 1 ? 2.0
                                         : 3.0) +
                               i * c.axes[0][d] + j * c.axes[1][d] + k * c.axes[2][d];
                    char line[100];
                    std::snprintf(line, sizeof line,
                                  "ATOM  %5d CA   UNK A%4d    %8.3f%8.3f%8.3f  1.00%6.2f            \n",
                                  v + 1, i * 3 + j + 1, p[0], p[1], p[2], values[v]);
                    expected += line;
                }
            }
        }
        EXPECT_EQ(atoms(write(g, values, -1, 1, 1)), expected) << c.name;
    }
}

TEST(WritePdb, EmptyWalkWritesOnlyTheRemarks) {
    for (const auto& g : {grid(0, 5, 5), grid(5, 0, 5), grid(5, 5, 0)}) {
        const Written w = write(g, {}, -1, 1, 1);
        EXPECT_EQ(w.file, kRemarks);
        EXPECT_EQ(w.stdout, "\nWriting to dx file ...\nWriting to dx file : Done\n\n");
    }
}

TEST(WritePdb, ZyxTakesTheValuesListedXFastest) {
    // Grid 2 x 3 x 1 listed x fastest: element i + 2*j holds 10*i + j.
    const std::vector<double> x_fastest = {0, 10, 1, 11, 2, 12};
    const std::vector<double> z_fastest = {0, 1, 2, 10, 11, 12};
    const Written zyx = write(grid(2, 3, 1), x_fastest, -100, 100, 1, "ZYX");
    const Written xyz = write(grid(2, 3, 1), z_fastest, -100, 100, 1, "XYZ");
    EXPECT_EQ(zyx.file, xyz.file);
    EXPECT_NE(atoms(zyx).find("1.000   0.000   0.000  1.00 10.00"), std::string::npos);
}

TEST(WritePdbDeath, AnArrayShorterThanTheGridIsRefused) {
    Tuhbdgrd g = grid(2, 2, 2);
    std::vector<double> values = {1, 2, 3};
    g.data = values;
    EXPECT_FATAL(write_pdb(stdout, &g, -1, 1, 1, "XYZ"), "fewer values than its dimensions");
}

}  // namespace
