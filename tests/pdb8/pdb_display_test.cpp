// Record display: the written line, the record-kind filter and the in-place substitutions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "pdb8.h"
#include "pdb_test_util.h"

using pdbtest::written_by;

namespace {

// A residue of `n` atoms with everything the display writes set to plain values.
struct Residue {
    explicit Residue(const char* record = "ATOM  ", int n = 1) : atoms(static_cast<std::size_t>(n)) {
        res = PDBRESI{};
        copy_field(res.atom, record);
        copy_field(res.rname, "ALA");
        copy_field(res.segid, "      SEGA");
        res.rchain = 'A';
        res.rnb = 7;
        res.rletter = ' ';
        res.rnbofa = n;
        res.a = atoms;
        for (int k = 0; k < n; ++k) {
            PDBATOM& a = atoms[static_cast<std::size_t>(k)];
            a = PDBATOM{};
            a.anb = k + 1;
            copy_field(a.aname, " CA ");
            a.aalt = ' ';
            a.x = 1.5f;
            a.y = -2.25f;
            a.z = 100.0f;
            a.occup = 1.0f;
            a.bfac = 12.5f;
            copy_field(a.extra, " C");
        }
    }
    std::vector<PDBATOM> atoms;
    PDBRESI res;
};

TEST(DisplayPdbres, FilterOnRecordKind) {
    const struct {
        const char* name;
        const char* record;
        int atoms;
        char ATM;
        int lines;
    } cases[] = {
        {"ATOM with 'a'", "ATOM  ", 2, 'a', 2},
        {"ATOM with 'w'", "ATOM  ", 2, 'w', 2},
        {"ATOM with 'h'", "ATOM  ", 2, 'h', 0},
        {"HETATM with 'h'", "HETATM", 1, 'h', 1},
        {"HETATM with 'w'", "HETATM", 1, 'w', 1},
        {"HETATM with 'a'", "HETATM", 1, 'a', 0},
        {"record beginning with ATOM with 'a'", "ATOMXY", 1, 'a', 1},
        {"HETAT with 'h'", "HETAT", 1, 'h', 0},
        {"unknown filter", "ATOM  ", 1, 'x', 0},
        {"no atoms, 'w'", "ATOM  ", 0, 'w', 0},
        {"no atoms, 'a'", "ATOM  ", 0, 'a', 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Residue r(c.record, c.atoms);
        PDBMOL mol{' ', 1, std::span<PDBRESI>(&r.res, 1)};
        const std::string out = written_by([&](std::FILE* f) { display_pdbres(f, mol, 0, c.ATM); });
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), c.lines);
        if (c.lines > 0) {
            EXPECT_EQ(out.substr(0, 6), std::string(c.record).substr(0, 6));
        }
    }
}

// The line, column by column, on values that test the formats: rounding of ties (the binary value
// decides), negative zero, numbers wider than their columns, not-a-number and infinity.
TEST(DisplayLine, ColumnsAndNumberFormats) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* name;
        int anb, rnb;
        float x, y, z, occup, bfac;
        const char* aname;
        const char* line;
    } cases[] = {
        //                                         1         2         3         4         5         6 7
        //                                1234567890123456789012345678901234567890123456789012345678901234567890123456789
        {"plain", 1, 7, 1.5f, -2.25f, 100.0f, 1.0f, 12.5f, " CA ",
         "ATOM      1  CA  ALA A   7       1.500  -2.250 100.000  1.00 12.50      SEGA  \n"},
        {"ties and negative zero", 12, -7, 0.0625f, -0.0f, 2.0005f, 0.125f, 0.375f, "CA",
         "ATOM     12 CA   ALA A  -7       0.062  -0.000   2.000  0.12  0.38      SEGA  \n"},
        {"wide numbers push right", 123456, 12345, 12345.678f, -1234.5f, 0.0f, 100.0f, 1000.0f, "HG21",
         "ATOM  123456 HG21 ALA A12345    12345.678-1234.500   0.000100.001000.00      SEGA  \n"},
        {"not-a-number and infinity", 0, 0, nan, -inf, inf, -nan, 0.0f, "",
         "ATOM      0      ALA A   0         nan    -inf     inf  -nan  0.00      SEGA  \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Residue r;
        PDBATOM& a = r.atoms[0];
        a.anb = c.anb;
        r.res.rnb = c.rnb;
        a.x = c.x;
        a.y = c.y;
        a.z = c.z;
        a.occup = c.occup;
        a.bfac = c.bfac;
        copy_field(a.aname, c.aname);
        EXPECT_EQ(written_by([&](std::FILE* f) { display_pdb1atm(f, r.res, 0); }), c.line);
    }
}

// "." as alternate location and "?" as insertion code are written as blanks; whose record keeps the
// change depends on the operation.
TEST(DisplaySubstitutions, WhoSeesTheBlanks) {
    const std::string blanked =
        "ATOM      1  CA  ALA A   7       1.500  -2.250 100.000  1.00 12.50      SEGA  \n";
    const struct {
        const char* name;
        int which;  // 0 display_pdbres, 1 display_pdb1res, 2 display_pdb1atm on atom 1
        char rletter_after, aalt0_after, aalt1_after;
    } cases[] = {
        {"display_pdbres changes the caller's residue and atoms", 0, ' ', ' ', ' '},
        {"display_pdb1res changes the caller's atoms only", 1, '?', ' ', ' '},
        {"display_pdb1atm changes the one atom only", 2, '?', '.', ' '},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Residue r("ATOM  ", 2);
        r.res.rletter = '?';
        r.atoms[0].aalt = '.';
        r.atoms[1].aalt = '.';
        r.atoms[1].anb = 1;
        PDBMOL mol{' ', 1, std::span<PDBRESI>(&r.res, 1)};
        const std::string out = written_by([&](std::FILE* f) {
            if (c.which == 0) display_pdbres(f, mol, 0, 'a');
            if (c.which == 1) display_pdb1res(f, r.res);
            if (c.which == 2) display_pdb1atm(f, r.res, 1);
        });
        EXPECT_EQ(out, c.which == 2 ? blanked : blanked + blanked);
        EXPECT_EQ(r.res.rletter, c.rletter_after);
        EXPECT_EQ(r.atoms[0].aalt, c.aalt0_after);
        EXPECT_EQ(r.atoms[1].aalt, c.aalt1_after);
    }
}

// A residue the filter passes over is not touched.
TEST(DisplaySubstitutions, FilteredResidueKeepsItsQuestionMark) {
    Residue r("HETATM");
    r.res.rletter = '?';
    r.atoms[0].aalt = '.';
    PDBMOL mol{' ', 1, std::span<PDBRESI>(&r.res, 1)};
    EXPECT_EQ(written_by([&](std::FILE* f) { display_pdbres(f, mol, 0, 'a'); }), "");
    EXPECT_EQ(r.res.rletter, '?');
    EXPECT_EQ(r.atoms[0].aalt, '.');
}

// A text field that fills its whole array, with no NUL, is written up to its last character only.
TEST(DisplayLine, UnterminatedFieldsStayInsideTheirArrays) {
    Residue r;
    std::memset(r.res.rname, 'R', sizeof r.res.rname);
    std::memset(r.atoms[0].aname, 'N', sizeof r.atoms[0].aname);
    std::memset(r.res.segid, 'S', sizeof r.res.segid);
    EXPECT_EQ(written_by([&](std::FILE* f) { display_pdb1res(f, r.res); }),
              "ATOM      1 NNNNN RRR A   7       1.500  -2.250 100.000  1.00 12.50SSSSSSSSSSSS\n");
}

TEST(DisplayDeathTest, IndexesOutsideTheArraysStopTheRun) {
    Residue r("ATOM  ", 2);
    PDBMOL mol{' ', 1, std::span<PDBRESI>(&r.res, 1)};
    PDBRESI overcounted = r.res;
    overcounted.rnbofa = 3;
    PDBMOL overcounted_mol{' ', 1, std::span<PDBRESI>(&overcounted, 1)};
    const struct {
        const char* name;
        std::function<void()> call;
        const char* report;
    } cases[] = {
        {"residue past the array", [&] { display_pdbres(stdout, mol, 1, 'w'); }, "SUB:DISPLAY_PDBRES"},
        {"negative residue", [&] { display_pdbres(stdout, mol, -1, 'w'); }, "SUB:DISPLAY_PDBRES"},
        {"atom count past the array", [&] { display_pdbres(stdout, overcounted_mol, 0, 'w'); },
         "SUB:DISPLAY_PDBRES"},
        {"atom count past the array, one residue", [&] { display_pdb1res(stdout, overcounted); },
         "SUB:DISPLAY_PDB1RES"},
        {"atom past the array", [&] { display_pdb1atm(stdout, r.res, 2); }, "SUB:DISPLAY_PDB1ATM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(pdbtest::reporting_on_stderr(c.call), testing::ExitedWithCode(1),
                    std::string("ERROR IN ") + c.report);
    }
}

// display_pdb1atm checks the atom against the array, not against rnbofa.
TEST(DisplayLine, AtomBeyondTheCountButInsideTheArray) {
    Residue r("ATOM  ", 2);
    r.res.rnbofa = 1;
    EXPECT_EQ(written_by([&](std::FILE* f) { display_pdb1atm(f, r.res, 1); }).substr(0, 11), "ATOM      2");
}

}  // namespace
