// Coordinate-set statistics: the stated values, the empty and one-point sets, the messages at their
// levels, mass weighting (including names that match no element), and counts larger than the arrays.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "math_tool2.h"
#include "test_util.h"

namespace {

ANAME_SLOT slot(const char* name) {
    ANAME_SLOT s{};
    for (int i = 0; i < 4 && name[i] != '\0'; ++i)
        s[i] = name[i];
    return s;
}

TEST(StatMean, MeanAndSampleDeviation) {
    struct Case {
        std::string name;
        std::vector<double> data;
        int nb;
        double mean, sdev;  // NaN stands for not-a-number
    };
    const double nan = std::nan("");
    const std::vector<Case> cases = {
        {"1 to 4", {1, 2, 3, 4}, 4, 2.5, std::sqrt(5.0 / 3.0)},
        {"first two of four", {1, 3, 100, 100}, 2, 2, std::sqrt(2.0)},
        {"constant", {7, 7, 7}, 3, 7, 0},
        {"one value", {5}, 1, 5, nan},
        {"no values", {}, 0, nan, nan},
        {"negative count", {1, 2}, -3, nan, nan},
    };
    for (const Case& c : cases) {
        double mean = -1, sdev = -1;
        EXPECT_EQ(1, stat_mean(c.nb, c.data, &mean, &sdev)) << c.name;
        if (std::isnan(c.mean)) {
            EXPECT_TRUE(std::isnan(mean)) << c.name << " mean " << mean;
        } else {
            EXPECT_EQ(c.mean, mean) << c.name;
        }
        if (std::isnan(c.sdev)) {
            EXPECT_TRUE(std::isnan(sdev)) << c.name << " sdev " << sdev;
        } else {
            EXPECT_EQ(c.sdev, sdev) << c.name;
        }
    }
}

TEST(StatsDeathTest, CountBeyondTheArraysIsRefused) {
    const std::vector<double> d3 = {1, 2, 3};
    const std::span<const double> d2 = std::span<const double>(d3).first(2);
    const std::vector<float> f3 = {1, 2, 3};
    const std::span<const float> f1 = std::span<const float>(f3).first(1);
    const std::vector<ANAME_SLOT> two_names = {slot(" C"), slot(" O")};
    std::vector<COORD> c3(3);
    double mean, sdev;
    float lo, hi;
    struct Case {
        std::string name;
        std::function<void()> call;
        std::string report;
    };
    const std::vector<Case> cases = {
        {"stat_mean", [&] { stat_mean(4, d3, &mean, &sdev); },
         "SUB:STAT_MEAN\n>ERRROR : count 4 exceeds the 3 elements of the data"},
        {"RMSD1 short reference z", [&] { RMSD1(d3, d3, d3, d3, d3, d2, 3, 0); },
         "SUB:RMSD1\n>ERRROR : count 3 exceeds the 2 elements of the reference coordinates"},
        {"bounding box", [&] { get_pdb_xyz_min_max(4, f3, f3, f3, &lo, &hi, &lo, &hi, &lo, &hi, 0); },
         "SUB:GET_PDB_XYZ_MIN_MAX\n>ERRROR : count 4 exceeds the 3 elements of the coordinates"},
        {"get_com short z", [&] { get_com(3, f3, f3, f1, {}, 0, 0); },
         "SUB:GET_COM\n>ERRROR : count 3 exceeds the 1 elements of the coordinates"},
        {"get_com short names", [&] { get_com(3, f3, f3, f3, two_names, 1, 0); },
         "SUB:GET_COM\n>ERRROR : count 3 exceeds the 2 elements of the atom names"},
        {"center_coord", [&] { center_coord(5, c3, 0); },
         "SUB:CENTER_COORD\n>ERRROR : count 5 exceeds the 3 elements of the points"},
        {"radius_gyr", [&] { radius_gyr(4, f3, f3, f3, 0, 0, 0, 0); },
         "SUB:RADIUS_GYR\n>ERRROR : count 4 exceeds the 3 elements of the coordinates"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(reporting_on_stderr(c.call), ::testing::ExitedWithCode(1), ">ERROR IN " + c.report)
            << c.name;
    }
}

TEST(Rmsd, PointByPoint) {
    struct Case {
        std::string name;
        std::vector<double> lx, ly, lz, rx, ry, rz;
        int max;
        double expected;
    };
    const std::vector<Case> cases = {
        {"identical sets", {1, 2}, {3, 4}, {5, 6}, {1, 2}, {3, 4}, {5, 6}, 2, 0},
        {"one point 1-2-2 away", {1}, {2}, {2}, {0}, {0}, {0}, 1, 3},
        {"two points", {3, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, 2, std::sqrt(4.5)},
        {"only the first point", {0, 100}, {0, 100}, {0, 100}, {0, 0}, {0, 0}, {0, 0}, 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, RMSD1(c.lx, c.ly, c.lz, c.rx, c.ry, c.rz, c.max, 0)) << c.name;
    }
    const std::vector<double> none;
    EXPECT_TRUE(std::isnan(RMSD1(none, none, none, none, none, none, 0, 0))) << "empty set";
}

TEST(Rmsd, PrintsAtLevelThree) {
    const std::vector<double> l = {1}, m = {2}, zero = {0};
    for (int level : {2, 3}) {
        testing::internal::CaptureStdout();
        RMSD1(l, m, m, zero, zero, zero, 1, level);
        EXPECT_EQ(level > 2 ? "RMSD=  3.00 \n" : "", testing::internal::GetCapturedStdout())
            << "level " << level;
    }
}

TEST(BoundingBox, ExtremesAndLimits) {
    struct Case {
        std::string name;
        std::vector<float> x, y, z;
        float min[3], max[3];
    };
    const std::vector<Case> cases = {
        {"two points", {0, 2}, {-1, 5}, {3, 3}, {0, -1, 3}, {2, 5, 3}},
        {"one point", {1.5f}, {-2.5f}, {0}, {1.5f, -2.5f, 0}, {1.5f, -2.5f, 0}},
        {"empty", {}, {}, {}, {9999, 9999, 9999}, {-9999, -9999, -9999}},
        // The starting values act as limits.
        {"beyond the limits",
         {10000, 20000},
         {-10000, -9999.5f},
         {9999, -9999},
         {9999, -10000, -9999},
         {20000, -9999, 9999}},
    };
    for (const Case& c : cases) {
        float got[6];
        get_pdb_xyz_min_max(static_cast<int>(c.x.size()), c.x, c.y, c.z, &got[0], &got[1], &got[2], &got[3],
                            &got[4], &got[5], 0);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_EQ(c.min[axis], got[2 * axis]) << c.name << " min of axis " << axis;
            EXPECT_EQ(c.max[axis], got[2 * axis + 1]) << c.name << " max of axis " << axis;
        }
    }
}

TEST(BoundingBox, BlockAtLevelThree) {
    const std::vector<float> x = {0, 2}, y = {-1, 5}, z = {3, 3}, none;
    float a, b, c, d, e, f;
    testing::internal::CaptureStdout();
    get_pdb_xyz_min_max(2, x, y, z, &a, &b, &c, &d, &e, &f, 2);
    get_pdb_xyz_min_max(2, x, y, z, &a, &b, &c, &d, &e, &f, 3);
    get_pdb_xyz_min_max(0, none, none, none, &a, &b, &c, &d, &e, &f, 3);
    EXPECT_EQ(
        "MinX=   0.000  MaxX=   2.000  ExtX=   2.000\n"
        "MinY=  -1.000  MaxY=   5.000  ExtY=   6.000\n"
        "MinZ=   3.000  MaxZ=   3.000  ExtZ=   0.000\n"
        "MinX=9999.000  MaxX=-9999.000  ExtX=-19998.000\n"
        "MinY=9999.000  MaxY=-9999.000  ExtY=-19998.000\n"
        "MinZ=9999.000  MaxZ=-9999.000  ExtZ=-19998.000\n",
        testing::internal::GetCapturedStdout());
}

TEST(CentreOfMass, Weighting) {
    struct Case {
        std::string name;
        std::vector<float> x;
        std::vector<const char*> names;
        int mass;
        double expected_x;
    };
    const std::vector<Case> cases = {
        {"centroid, names ignored", {0, 2}, {" O", " C"}, 0, 1},
        {"oxygen and carbon", {0, 28}, {" O", " C"}, 1, 12},
        // Each key against a hydrogen at 0: m / (m + 1).
        {"nitrogen", {1, 0}, {" N", " H"}, 1, 14.0 / 15.0},
        {"oxygen", {1, 0}, {" O", " H"}, 1, 16.0 / 17.0},
        {"carbon", {1, 0}, {" C", " H"}, 1, 12.0 / 13.0},
        {"sulphur", {1, 0}, {" S", " H"}, 1, 32.0 / 33.0},
        {"hydrogen", {1, 0}, {" H", " H"}, 1, 0.5},
        {"phosphorus", {1, 0}, {" P", " H"}, 1, 31.0 / 32.0},
        {"alpha carbon and O G 1", {0, 28}, {" OG1", " CA "}, 1, 12},
        // A name matching no key weighs 1.0 even right after a heavy atom: (0*32 + 33*1) / 33.
        {"iron after sulphur", {0, 33}, {" S", "FE"}, 1, 1},
        {"hydrogen name without blank", {0, 13}, {" C", "HD21"}, 1, 1},
        {"lower case is no key", {0, 13}, {" C", " c"}, 1, 1},
        {"empty name", {0, 13}, {" C", ""}, 1, 1},
    };
    for (const Case& c : cases) {
        const std::vector<float> zeros(c.x.size(), 0.0f);
        std::vector<ANAME_SLOT> slots;
        for (const char* n : c.names)
            slots.push_back(slot(n));
        const COORD com = get_com(static_cast<int>(c.x.size()), c.x, zeros, zeros, slots, c.mass, 0);
        EXPECT_EQ(c.expected_x, com.x) << c.name;
        EXPECT_EQ(0.0, com.y) << c.name;
    }
}

TEST(CentreOfMass, LinesAndEmptySet) {
    const std::vector<float> x = {0, 28}, y = {0, 2}, z = {1, 1}, none;
    const std::vector<ANAME_SLOT> names = {slot(" O"), slot(" C")};
    testing::internal::CaptureStdout();
    get_com(2, x, y, z, names, 1, 2);
    const COORD com = get_com(2, x, y, z, names, 1, 3);
    EXPECT_EQ("mass_tot = 28.000000\nCenter of mass:  12.00   0.86   1.00\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ(24.0 / 28.0, com.y);
    const COORD empty = get_com(0, none, none, none, {}, 0, 0);
    EXPECT_TRUE(std::isnan(empty.x) && std::isnan(empty.y) && std::isnan(empty.z));
}

TEST(Centring, MovesToCentroid) {
    std::vector<COORD> points = {{1, 1, 1}, {3, 5, 7}};
    testing::internal::CaptureStdout();
    EXPECT_EQ(2, center_coord(2, points, 2));
    EXPECT_EQ("Original center of mass = 2.000000 3.000000 4.000000 \n",
              testing::internal::GetCapturedStdout());
    const COORD expected[] = {{-1, -2, -3}, {1, 2, 3}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(expected[i].x, points[i].x) << "point " << i;
        EXPECT_EQ(expected[i].y, points[i].y) << "point " << i;
        EXPECT_EQ(expected[i].z, points[i].z) << "point " << i;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, center_coord(1, points, 1)) << "only the first point, silent at level 1";
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(0.0, points[0].x);
    EXPECT_EQ(1.0, points[1].x) << "beyond the count untouched";
}

TEST(Centring, EmptySetChangesNothing) {
    std::vector<COORD> points = {{1, 2, 3}};
    for (int count : {0, -2}) {
        EXPECT_EQ(0, center_coord(count, points, 0)) << "count " << count;
        EXPECT_EQ(1.0, points[0].x) << "count " << count;
    }
}

TEST(Gyration, AboutAGivenCentre) {
    struct Case {
        std::string name;
        std::vector<float> x, y, z;
        double ax, ay, az;
        double expected;
    };
    const std::vector<Case> cases = {
        {"two points about origin", {1, -1}, {0, 0}, {0, 0}, 0, 0, 0, 1},
        {"about one end", {1, -1}, {0, 0}, {0, 0}, 1, 0, 0, std::sqrt(2.0)},
        {"3-4 offsets", {3, 0}, {4, 0}, {0, 5}, 0, 0, 0, 5},
        {"float widened before subtracting", {0.1f}, {0}, {0}, 0.1, 0, 0, std::fabs(double(0.1f) - 0.1)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, radius_gyr(static_cast<int>(c.x.size()), c.x, c.y, c.z, c.ax, c.ay, c.az, 0))
            << c.name;
    }
    const std::vector<float> none;
    EXPECT_TRUE(std::isnan(radius_gyr(0, none, none, none, 0, 0, 0, 0))) << "empty set";
}

}  // namespace
