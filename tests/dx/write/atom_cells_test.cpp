// The distance test of --near and --outside: every answer equals the exact comparison of squared distances
// against every atom, whatever the voxels and cells chose to measure.
#include "dx/write/atom_cells.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

bool brute_force(const std::vector<Position>& atoms, const Position& p, double radius) {
    for (const Position& a : atoms) {
        const double dx = p[0] - a[0], dy = p[1] - a[1], dz = p[2] - a[2];
        if (dx * dx + dy * dy + dz * dz <= radius * radius) return true;
    }
    return false;
}

std::vector<Position> random_atoms(std::mt19937_64& rng, int n, double spread, double centre) {
    std::uniform_real_distribution<double> u(-spread, spread);
    std::vector<Position> atoms;
    for (int i = 0; i < n; ++i)
        atoms.push_back({centre + u(rng), centre + u(rng), centre + u(rng)});
    return atoms;
}

TEST(AtomCells, AgreesWithEveryAtomMeasured) {
    struct Case {
        const char* name;
        int atoms;
        double spread, centre, radius;
    };
    const Case cases[] = {
        {"radius 0", 200, 10, 0, 0.0},
        {"small radius", 300, 10, 0, 0.5},
        {"outside's 3 A", 400, 15, 5, 3.0},
        {"near's 8 A", 400, 15, -5, 8.0},
        {"radius beyond the atoms", 50, 5, 0, 25.0},
        {"far from the origin", 300, 10, 5000, 2.5},
        {"one atom", 1, 0, 1, 4.0},
        {"coordinates beyond the voxels' margin", 100, 3e6, 5e6, 1e6},
    };
    std::mt19937_64 rng(11);
    for (const Case& c : cases) {
        const auto atoms = random_atoms(rng, c.atoms, c.spread, c.centre);
        const AtomCells cells(atoms, c.radius);
        std::uniform_real_distribution<double> u(-1.5 * c.spread - c.radius - 1,
                                                 1.5 * c.spread + c.radius + 1);
        int differ = 0, hits = 0;
        std::size_t hint = AtomCells::kNoHint;
        for (int n = 0; n < 20000; ++n) {
            // Points at random, near one another as a walk moves, and on the atoms themselves.
            Position p = n % 2 == 0 ? Position{c.centre + u(rng), c.centre + u(rng), c.centre + u(rng)}
                                    : Position{c.centre + u(rng) * 0.01, c.centre, c.centre + u(rng)};
            if (n % 10 == 1) p = atoms[static_cast<std::size_t>(n) % atoms.size()];
            const bool expected = brute_force(atoms, p, c.radius);
            hits += expected;
            if (cells.any_within(p, hint) != expected || cells.any_within(p) != expected) ++differ;
        }
        EXPECT_EQ(differ, 0) << c.name;
        EXPECT_GT(hits, 0) << c.name;
    }
}

TEST(AtomCells, TheBoundaryIsInclusiveAndExact) {
    // Atoms and points whose distances are exact in binary: a point at the radius is within it, one a
    // last bit farther is not.
    const std::vector<Position> atoms = {{0, 0, 0}, {10, 10, 10}};
    struct Case {
        Position p;
        double radius;
        bool within;
    };
    const double above5 = std::nextafter(5.0, 10.0), below5 = std::nextafter(5.0, 0.0);
    const Case cases[] = {
        {{5, 0, 0}, 5.0, true},
        {{above5, 0, 0}, 5.0, false},
        {{below5, 0, 0}, 5.0, true},
        {{3, 4, 0}, 5.0, true},
        {{3, 4, 0}, below5, false},
        {{2, 3, 6}, 7.0, true},
        {{12, 13, 16}, 7.0, true},
        {{12, 13, 16.5}, 7.0, false},
        {{0, 0, 0}, 0.0, true},
        {{0, 0, 1e-150}, 0.0, false},
        {{-0.5, 0, 0}, 0.5, true},
        {{0.25, 0.25, 0.25}, 0.4330128, true},
        {{0.25, 0.25, 0.25}, 0.4330127, false},
    };
    for (const Case& c : cases) {
        const AtomCells cells(atoms, c.radius);
        EXPECT_EQ(cells.any_within(c.p), c.within)
            << c.p[0] << " " << c.p[1] << " " << c.p[2] << " r " << c.radius;
        EXPECT_EQ(brute_force(atoms, c.p, c.radius), c.within);
    }
}

TEST(AtomCells, NoAtomOrNoPositionIsNeverWithin) {
    const AtomCells none(std::vector<Position>{}, 5.0);
    EXPECT_FALSE(none.any_within({0, 0, 0}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const AtomCells one(std::vector<Position>{{0, 0, 0}}, 5.0);
    EXPECT_FALSE(one.any_within({nan, 0, 0}));
    EXPECT_FALSE(one.any_within({std::numeric_limits<double>::infinity(), 0, 0}));
    EXPECT_TRUE(one.any_within({1, 1, 1}));
}

}  // namespace
