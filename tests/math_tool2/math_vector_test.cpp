// Vector geometry: exact results where the evaluation order decides the last bit, the sign conventions,
// and the degenerate inputs that must give not-a-number (or, for angles, must not).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "math_tool2.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Pair {
    std::string name;
    COORD a, b;
};

// Calls the component-pointer functions with the fields of two COORDs.
double norm_of(COORD a, COORD b) {
    return norm_vector(&a.x, &a.y, &a.z, &b.x, &b.y, &b.z);
}
double dot_of(COORD a, COORD b) {
    return mult_vector(&a.x, &a.y, &a.z, &b.x, &b.y, &b.z);
}
COORD vector_of(COORD a, COORD b) {
    return vector(&a.x, &a.y, &a.z, &b.x, &b.y, &b.z);
}
COORD cross_of(COORD a, COORD b) {
    return cross_vector(&a.x, &a.y, &a.z, &b.x, &b.y, &b.z);
}
double dihedral_of(COORD A, COORD B, COORD C, COORD D) {
    return dihedral(&A.x, &A.y, &A.z, &B.x, &B.y, &B.z, &C.x, &C.y, &C.z, &D.x, &D.y, &D.z);
}

// Exact equality that also accepts not-a-number for not-a-number.
void expect_same(double expected, double actual, const std::string& what) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << what << ": " << actual;
    } else {
        EXPECT_EQ(expected, actual) << what;
    }
}

void expect_coord(COORD expected, COORD actual, const std::string& name) {
    expect_same(expected.x, actual.x, name + " x");
    expect_same(expected.y, actual.y, name + " y");
    expect_same(expected.z, actual.z, name + " z");
}

TEST(Distance, SquaredAndRootedAgree) {
    struct Case {
        std::string name;
        COORD a, b;
        double squared, root;
    };
    const std::vector<Case> cases = {
        {"3-4-0 triangle", {0, 0, 0}, {3, 4, 0}, 25, 5},
        {"same point", {1.5, -2, 7}, {1.5, -2, 7}, 0, 0},
        {"negative offsets", {1, 2, 3}, {-1, -2, -3}, 56, std::sqrt(56.0)},
        // x-term 2^54 plus two terms of 1 and 1.5625: the x and y terms added first lose the 1, while the
        // y and z terms added first would carry the sum up to the next representable value.
        {"(x + y) + z order", {0, 0, 0}, {134217728.0, 1, 1.25}, 18014398509481984.0, 134217728.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.squared, distance2(c.a, c.b)) << c.name;
        EXPECT_EQ(c.root, distance(c.a, c.b)) << c.name;
        EXPECT_EQ(c.root, norm_of(c.a, c.b)) << c.name << " (norm_vector)";
    }
}

TEST(Distance, SinglePrecisionThroughout) {
    struct Case {
        std::string name;
        float a[3], b[3];
        float expected;
    };
    // The last two cases round differently when the differences and squares are formed in double.
    const std::vector<Case> cases = {
        {"3-4-0 triangle", {0, 0, 0}, {3, 4, 0}, 5.0f},
        {"random pair 1",
         {0x1.7221cp+5f, -0x1.7cbd4p+6f, -0x1.fb45dp+3f},
         {-0x1.568c4ep+6f, 0x1.b6e1e8p+5f, -0x1.79f17ep+6f},
         0x1.ad657ap+7f},
        {"random pair 2",
         {0x1.95ef48p+4f, -0x1.5c8442p+6f, -0x1.28feep+5f},
         {-0x1.882748p+5f, -0x1.d0fc4p+1f, 0x1.d02p-4f},
         0x1.d775ecp+6f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, fdistance(c.a[0], c.a[1], c.a[2], c.b[0], c.b[1], c.b[2])) << c.name;
    }
}

TEST(Products, ScalarVectorAndDifference) {
    EXPECT_EQ(0.0, norm_of({1, 2, 3}, {1, 2, 3})) << "norm_vector measures between two points";
    expect_coord({3, 4, 0}, vector_of({1, 2, 3}, {4, 6, 3}), "vector from first to second");
    EXPECT_EQ(32.0, dot_of({1, 2, 3}, {4, 5, 6}));
    // 1 + 1e16 rounds back to 1e16, so the left-to-right sum is 0; adding the last two terms first gives 1.
    EXPECT_EQ(0.0, dot_of({1, 1e16, -1e16}, {1, 1, 1})) << "(x*u + y*v) + z*w order";
}

TEST(Products, CrossIsUnitNormal) {
    struct Case {
        std::string name;
        COORD a, b, expected;
    };
    const std::vector<Case> cases = {
        {"x by y, scaled", {2, 0, 0}, {0, 3, 0}, {0, 0, 1}},
        {"y by x", {0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
        {"y by z", {0, 5, 0}, {0, 0, 5}, {1, 0, 0}},
        {"3-4 normal", {0, 0, 1}, {3, 4, 0}, {-0.8, 0.6, 0}},
        {"parallel", {1, 0, 0}, {2, 0, 0}, {kNaN, kNaN, kNaN}},
        {"zero vector", {0, 0, 0}, {1, 2, 3}, {kNaN, kNaN, kNaN}},
    };
    for (const Case& c : cases)
        expect_coord(c.expected, cross_of(c.a, c.b), c.name);
    // The middle component is the negated difference -(x*w - z*u): for x by y it is -0, where the
    // rearranged z*u - x*w would give +0.
    EXPECT_TRUE(std::signbit(cross_of({1, 0, 0}, {0, 1, 0}).y));
}

TEST(Products, Normalisation) {
    expect_coord({0.6, 0, 0.8}, normv({3, 0, 4}), "3-0-4");
    expect_coord({-1, 0, 0}, normv({-7, 0, 0}), "negative axis");
    expect_coord({kNaN, kNaN, kNaN}, normv({0, 0, 0}), "zero length");
}

TEST(Angles, SignVector) {
    const struct {
        double value;
        int expected;
    } cases[] = {{-1e-300, -1}, {-5, -1}, {0.0, 1}, {-0.0, 1}, {7, 1}, {kNaN, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, sign_vector(&c.value)) << "value " << c.value;
}

TEST(Angles, CosAngleIsUnclampedAndExact) {
    const struct {
        double cosine;
        double expected;
    } cases[] = {
        {0.5, 60.00000000000001},  // times 360, then divided by two pi
        {0.6, 53.13010235415598},  // 360 / (2 pi) formed first would give ...987
        {-0.25, 104.47751218592992},
        {-1, 180},
        {1, 0},
        {0, 90},
        {1.0000000000000002, kNaN},  // not clamped for direct callers
        {-1.5, kNaN},
    };
    for (const auto& c : cases) {
        const double before = c.cosine;
        expect_same(c.expected, cos_angle(&c.cosine), "cos_angle of " + std::to_string(c.cosine));
        expect_same(before, c.cosine, "argument unchanged");
    }
}

TEST(Angles, AngleAtVertex) {
    struct Case {
        std::string name;
        COORD A, B, C;
        double expected;
    };
    const std::vector<Case> cases = {
        {"right angle", {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, 90},
        {"vertex away from origin", {2, 1, 1}, {1, 1, 1}, {1, 1, -4}, 90},
        {"half turn on an axis", {3, 0, 0}, {0, 0, 0}, {-1, 0, 0}, 180},
        // The unit vectors' scalar product rounds to -1.0000000000000002 and 1.0000000000000002 here.
        {"straight, rounding past -1", {1, 1, 1}, {0, 0, 0}, {-2, -2, -2}, 180},
        {"folded, rounding past 1", {1, 1, 10}, {0, 0, 0}, {3, 3, 30}, 0},
        {"A on B", {0, 0, 0}, {0, 0, 0}, {1, 0, 0}, kNaN},
    };
    for (const Case& c : cases)
        expect_same(c.expected, angle(c.A, c.B, c.C), c.name);
}

TEST(Angles, SignedDihedral) {
    struct Case {
        std::string name;
        COORD A, B, C, D;
        double expected;
    };
    const std::vector<Case> cases = {
        {"minus ninety", {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 1, 1}, -90},
        {"plus ninety", {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 1, -1}, 90},
        {"cis", {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 1, 0}, 0},
        {"trans counts as plus", {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {-1, 1, 0}, 180},
        // Flat arrangements on a tilted plane whose plane normals' scalar product rounds past -1 and 1.
        {"flat trans, rounding past -1", {-20, -6, -32}, {-18, 16, 14}, {-18, 17, 16}, {15, -16, -17}, 180},
        {"flat cis, rounding past 1", {-18, 16, 14}, {10, 16, 42}, {-9, -19, -47}, {-19, 17, 15}, 0},
        {"A, B, C collinear", {1, 0, 0}, {0, 0, 0}, {2, 0, 0}, {0, 1, 1}, kNaN},
    };
    for (const Case& c : cases)
        expect_same(c.expected, dihedral_of(c.A, c.B, c.C, c.D), c.name);
}

TEST(Polar, DegreesToCartesian) {
    struct Case {
        std::string name;
        double r, theta, phi;
        COORD expected;
    };
    const std::vector<Case> cases = {
        // cos(pi/2) in double is not 0: z keeps a tiny value.
        {"equator on +x", 2, 90, 0, {2, 0, 1.2246467991473532e-16}},
        {"equator on +y", 2, 90, 90, {1.2246467991473532e-16, 2, 1.2246467991473532e-16}},
        {"north pole", 5, 0, 123, {0, 0, 5}},
        // Degrees times pi, then divided by 180: pi/180 formed first gives ...438 here.
        {"multiply before divide", 2, 38, 0, {1.2313229506513164, 0, 1.576021507213444}},
        // (r * sin(theta)) * cos(phi): r times the product of the sine and cosine gives ...267.
        {"radius times sine first",
         3,
         0.5,
         0.5,
         {0.026178609655925271, 0.00022845726541314125, 2.999885769192514}},
    };
    for (const Case& c : cases) {
        expect_coord(c.expected, get_xyz_from_polar_deg(1, &c.r, &c.theta, &c.phi, 0), c.name);
    }
}

}  // namespace
