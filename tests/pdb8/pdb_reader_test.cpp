// The reader: fixed columns, number conversions, MODEL handling, residue grouping, bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "pdb8.h"
#include "pdb8/scan.h"
#include "pdb_test_util.h"

using pdbtest::lines_of;
using pdbtest::rec;

namespace {

// Residues as "chain number letter * atoms", with "/m<model>" when the model is not 0.
std::string residues(const PDBMOL& mol, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        const PDBRESI& r = mol.r[static_cast<std::size_t>(i)];
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s%c%d%c*%d", i ? " " : "", r.rchain, r.rnb, r.rletter, r.rnbofa);
        out += buf;
        if (r.model != 0) out += "/m" + std::to_string(r.model);
    }
    return out;
}

// One atom and its residue, field by field.
std::string atom_fields(const PDBRESI& r, const PDBATOM& a) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s|%d|%s|%c|%s|%c|%d|%c|%.3f,%.3f,%.3f|%.2f,%.2f|%s|%s", r.atom, a.anb,
                  a.aname, a.aalt, r.rname, r.rchain, r.rnb, r.rletter, static_cast<double>(a.x),
                  static_cast<double>(a.y), static_cast<double>(a.z), static_cast<double>(a.occup),
                  static_cast<double>(a.bfac), r.segid, a.extra);
    return buf;
}

struct GroupCase {
    const char* name;
    std::string text;
    int model;
    char typ;
    std::string expected;  // as residues() prints them; "" when no record is accepted
};

std::vector<GroupCase> group_cases() {
    const std::string two = rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("ATOM", 2, " CA", "ALA", 'A', 1) +
                            rec("ATOM", 3, " N", "GLY", 'A', 2);
    const std::string models = "MODEL        1\n" + rec("ATOM", 1, " N", "ALA", 'A', 1) +
                               rec("ATOM", 2, " N", "GLY", 'A', 2) + "ENDMDL\nMODEL        2\n" +
                               rec("ATOM", 1, " N", "ALA", 'A', 1) + "ENDMDL\n";
    std::string long_line = rec("ATOM", 1, " N", "ALA", 'A', 1);
    long_line.pop_back();
    long_line += "          N     remark: MODEL 7 follows\n";
    return {
        {"no MODEL records, model 0", "HEADER\n" + two, 0, 'w', "A1 *2 A2 *1"},
        {"no MODEL records, model -1", two, -1, 'w', ""},
        {"unknown selector", two, 0, 'q', ""},
        {"all records after MODEL 1, model 0", models, 0, 'w', ""},
        {"first model only", models, 1, 'w', "A1 *1/m1 A2 *1/m1"},
        {"two models one after the other", models, 2, 'w', "A1 *1/m1 A2 *1/m1 A1 *1/m2"},
        // Residues are told apart by their key alone: the same key on both sides of a model boundary
        // makes one residue, which tells the model of its last record.
        {"same key across a model boundary",
         "MODEL 1\n" + rec("HETATM", 1, " C1", "LIG", 'A', 1) + "ENDMDL\nMODEL 2\n" +
             rec("HETATM", 1, " C1", "LIG", 'A', 1),
         2, 'h', "A1 *2/m2"},
        {"the scan goes on after a model above the limit",
         "MODEL 5\n" + rec("ATOM", 1, " N", "ALA", 'A', 1) + "MODEL 1\n" +
             rec("ATOM", 2, " N", "GLY", 'A', 2),
         1, 'w', "A2 *1/m1"},
        {"MODEL without a number keeps the model",
         "MODEL        3\nATOM      1  N   ALA A   1\nMODEL\nATOM      2  N   ALA A   2\n", 3, 'w',
         "A1 *1/m3 A2 *1/m3"},
        {"MODEL after leading blanks", "  MODEL 4\nATOM      1  N   ALA A   1\n", 0, 'w', "A1 *1"},
        // Only a first word beginning with MODEL makes a MODEL record.
        {"MODEL past column 80 of an ATOM line", long_line, 0, 'w', "A1 *1"},
        {"residue MODE of chain L", "ATOM      1  N   MODEL   1\nATOM      2  CA  MODEL   1\n", 0, 'w',
         "L1 *2"},
        {"remark naming MODELS between the atoms",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + "REMARK 350 MODELS\n" + rec("ATOM", 2, " N", "ALA", 'A', 1), 0,
         'w', "A1 *2"},
        {"insertion code makes another residue",
         rec("ATOM", 1, " N", "ALA", 'A', 52) + rec("ATOM", 2, " N", "ALA", 'A', 52, 'A'), 0, 'a',
         "A52 *1 A52A*1"},
        {"same number in another chain",
         rec("ATOM", 1, " N", "ALA", 'A', 10) + rec("ATOM", 2, " N", "ALA", 'B', 10), 0, 'a',
         "A10 *1 B10 *1"},
        {"a key that comes back is a new residue",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("ATOM", 2, " N", "ALA", 'A', 2) +
             rec("ATOM", 3, " C", "ALA", 'A', 1),
         0, 'a', "A1 *1 A2 *1 A1 *1"},
        {"HETATM inside an ATOM residue, 'a'",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("HETATM", 2, " O", "HOH", 'A', 9) +
             rec("ATOM", 3, " C", "ALA", 'A', 1),
         0, 'a', "A1 *2"},
        {"HETATM only, 'h'",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("HETATM", 2, " O", "HOH", 'A', 9) +
             rec("ATOM", 3, " C", "ALA", 'A', 1),
         0, 'h', "A9 *1"},
        {"TER inside a residue does not split it",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + "TER       2      ALA A   1\n" +
             rec("ATOM", 3, " C", "ALA", 'A', 1),
         0, 'w', "A1 *2"},
        {"ATOM followed by other than two blanks is refused",
         "ATOMX     1  N   ALA A   1\nATOM 1    2  N   ALA A   2\nATOM      3  N   ALA A   3\nATOM\n", 0, 'w',
         "A3 *1"},
        {"leading blank before ATOM is refused", std::string(" ") + rec("ATOM", 1, " N", "ALA", 'A', 1), 0,
         'w', ""},
        // The first record opens a residue even when its key equals the reader's starting key.
        {"first key equal to the starting key", "ATOM      1  N   ALA # -99#\nATOM      2  CA  ALA # -99#\n",
         0, 'a', "#-99#*2"},
        // A residue number that does not convert is taken from the last line where it did, TER included.
        {"residue number carried from a rejected line",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + "TER       2      ALA A   7\nATOM      3  N   ALA A    \n", 0,
         'w', "A1 *1 A7 *1"},
        // A line that ends before column 22 keeps the chain, number and letter of the line before it.
        {"short line joins the residue before it",
         rec("ATOM", 1, " N", "ALA", 'B', 4, 'C') + "ATOM      2  CA\n", 0, 'w', "B4C*2"},
    };
}

TEST(LoadPdb, GroupsRecordsIntoResidues) {
    for (const GroupCase& c : group_cases()) {
        SCOPED_TRACE(c.name);
        const PDBLINES set = lines_of(c.text);
        const pdbtest::Loaded l = pdbtest::load(set, c.model, c.typ);
        if (c.expected.empty()) {
            EXPECT_EQ(l.result, 1);
            EXPECT_EQ(l.mol.r[0].rnbofa, 0);
            continue;
        }
        EXPECT_EQ(residues(l.mol, l.result), c.expected);
        EXPECT_EQ(l.mol.nbofr, l.result);
        // The exact sizes agree with what was loaded.
        std::vector<int> counts(static_cast<std::size_t>(set.max) + 1, -1);
        const PDBSIZE size = get_pdb_load_size(set.line, set.max, c.model, c.typ, counts);
        EXPECT_EQ(size.nbofr, l.result);
        int total = 0, most = 0;
        for (int i = 0; i < l.result; ++i) {
            const int n = l.mol.r[static_cast<std::size_t>(i)].rnbofa;
            EXPECT_EQ(counts[static_cast<std::size_t>(i)], n) << "residue " << i;
            total += n;
            most = std::max(most, n);
        }
        EXPECT_EQ(size.nbofa, total);
        EXPECT_EQ(size.maxatm, most);
    }
}

struct FieldCase {
    const char* name;
    std::string text;
    std::string expected;  // the last atom loaded, as atom_fields() prints it
};

std::vector<FieldCase> field_cases() {
    //                   1         2         3         4         5         6         7         8
    //          12345678901234567890123456789012345678901234567890123456789012345678901234567890
    const char* full = "ATOM    127  CA AALA B  52C     11.104  13.207  -2.100  0.50 20.00      SEG1 C1-\n";
    return {
        {"every column of a full line", full,
         "ATOM  |127| CA |A|ALA|B|52|C|11.104,13.207,-2.100|0.50,20.00|      SEG1| C1-"},
        {"line ending after column 54", "ATOM      1  N   GLY A   1      11.104  13.207   2.100\n",
         "ATOM  |1| N  | |GLY|A|1| |11.104,13.207,2.100|0.00,0.00||"},
        {"line ending inside the segment area",
         "HETATM    1  O   HOH A   1       1.000   2.000   3.000  1.00 10.00  AB\n",
         "HETATM|1| O  | |HOH|A|1| |1.000,2.000,3.000|1.00,10.00|  AB|"},
        {"line ending after the element",
         "ATOM      1  N   GLY A   1       1.000   2.000   3.000  1.00 10.00           N\n",
         "ATOM  |1| N  | |GLY|A|1| |1.000,2.000,3.000|1.00,10.00|          | N"},
        {"blank occupancy", "ATOM      1  N   GLY A   1       1.000   2.000   3.000       10.00\n",
         "ATOM  |1| N  | |GLY|A|1| |1.000,2.000,3.000|0.00,10.00||"},
        // "%d" takes a sign and skips blanks; "%f" takes exponents, a leading point, hexadecimal, and drops
        // an exponent with no digits ("1e" reads 1).
        {"numbers by the conversion rules",
         "ATOM    +12  N   ALA A -5        1.5e2    -.5       1e  1e-1 0x1p4\n",
         "ATOM  |12| N  | |ALA|A|-5| |150.000,-0.500,1.000|0.10,16.00||"},
        // Serial and coordinates that do not convert keep the last converted value; "nan" converts.
        {"fall-backs for numbers that do not convert",
         std::string(full) + "ATOM  *****  N   ALA A   1    ********  abc    nan    ******      \n",
         "ATOM  |127| N  | |ALA|A|1| |11.104,13.207,nan|0.00,0.00||"},
        // A line that ends inside the atom name keeps the three single characters of the line before it.
        {"short line keeps the single characters", std::string(full) + "ATOM    128  C\n",
         "ATOM  |128| C|A||B|52|C|11.104,13.207,-2.100|0.00,0.00||"},
        // Lines before the first coordinate line are never read, not even for a fall-back number.
        {"lines before the first coordinate line are not read",
         "REMARK   55      ALA A   9       7.000   7.000   7.000\nATOM         N   ALA A    \n",
         "ATOM  |0| N  | |ALA|A|0| |0.000,0.000,0.000|0.00,0.00||"},
    };
}

TEST(LoadPdb, ReadsTheFixedColumns) {
    for (const FieldCase& c : field_cases()) {
        SCOPED_TRACE(c.name);
        const pdbtest::Loaded l = pdbtest::load(lines_of(c.text));
        const PDBRESI& r = l.mol.r[static_cast<std::size_t>(l.result - 1)];
        ASSERT_GT(r.rnbofa, 0);
        EXPECT_EQ(atom_fields(r, r.a[static_cast<std::size_t>(r.rnbofa - 1)]), c.expected);
    }
}

// A caller's line set may keep its line ends: a line end falls into the field where the line stops.
TEST(LoadPdb, KeptLineEndIsReadAsACharacter) {
    PDBLINES set = lines_of("");
    set.line.push_back({});
    const char* text = "ATOM      1  N   GLY A   1       1.000   2.000   3.000  1.00 10.00\n";
    std::memcpy(set.line[0].data(), text, std::strlen(text) + 1);
    set.max = 1;
    const pdbtest::Loaded l = pdbtest::load(set);
    EXPECT_STREQ(l.mol.r[0].segid, "\n");
    EXPECT_STREQ(l.mol.r[0].a[0].extra, "");
}

TEST(LoadPdb, CrlfLoadsLikeLf) {
    const std::string lf = "HEADER\n" + rec("ATOM", 1, " N", "ALA", 'A', 1) +
                           rec("ATOM", 2, " CA", "ALA", 'A', 1) +
                           "ATOM      3  C   ALA A   1       1.000   2.000   3.000  1.00 10.00           C";
    std::string crlf;
    for (char ch : lf)
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    const pdbtest::Loaded a = pdbtest::load(lines_of(lf)), b = pdbtest::load(lines_of(crlf + "\r\n"));
    ASSERT_EQ(a.result, b.result);
    ASSERT_EQ(a.mol.r[0].rnbofa, 3);
    ASSERT_EQ(b.mol.r[0].rnbofa, 3);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(atom_fields(a.mol.r[0], a.mol.r[0].a[static_cast<std::size_t>(k)]),
                  atom_fields(b.mol.r[0], b.mol.r[0].a[static_cast<std::size_t>(k)]));
}

// Slots the reader does not fill from columns read empty or 0.0 after a load, whatever they held.
TEST(LoadPdb, FixedValuesOverwriteWhateverTheArraysHeld) {
    const PDBLINES set = lines_of("MODEL 2\n" + rec("HETATM", 1, " O", "HOH", 'W', 5));
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(set.line, set.max, 9, 'w', store);
    std::memset(store.a.data(), 'x', sizeof(PDBATOM));
    for (PDBRESI& r : store.r) {
        std::memset(r.label_rname, 'x', sizeof r.label_rname);
        std::memset(r.label_rchain, 'x', sizeof r.label_rchain);
        std::memset(r.label_rnb, 'x', sizeof r.label_rnb);
    }
    ASSERT_EQ(load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, 9, 'w', 0), 1);
    const PDBATOM& a = store.a[0];
    for (const char* text :
         {a.label_atype, a.label_aname, a.x_esd, a.y_esd, a.z_esd, a.occup_esd, a.bfac_esd})
        EXPECT_STREQ(text, "");
    for (float v : {a.rad, a.bon, a.crg, a.eps, a.sigma})
        EXPECT_EQ(v, 0.0f);
    const PDBRESI& r = store.r[0];
    EXPECT_STREQ(r.label_rname, "");
    EXPECT_STREQ(r.label_rchain, "");
    EXPECT_STREQ(r.label_rnb, "");
    EXPECT_EQ(r.model, 2);
    EXPECT_EQ(r.rentity, 2);
}

// Every field of a residue but its atom array, byte for byte.
bool same_residue(const PDBRESI& a, const PDBRESI& b) {
    return std::memcmp(a.atom, b.atom, sizeof a.atom) == 0 &&
           std::memcmp(a.label_rname, b.label_rname, sizeof a.label_rname) == 0 &&
           std::memcmp(a.label_rchain, b.label_rchain, sizeof a.label_rchain) == 0 &&
           std::memcmp(a.label_rnb, b.label_rnb, sizeof a.label_rnb) == 0 && a.rnb == b.rnb &&
           std::memcmp(a.rname, b.rname, sizeof a.rname) == 0 && a.rchain == b.rchain &&
           a.rentity == b.rentity && a.model == b.model && a.rletter == b.rletter && a.rnbofa == b.rnbofa &&
           std::memcmp(a.segid, b.segid, sizeof a.segid) == 0;
}

// With no accepted record only r[start].rnbofa is written; the totals still count start + 1 residues.
TEST(LoadPdb, NoAcceptedRecordTouchesOnlyTheCount) {
    const PDBLINES set = lines_of(rec("ATOM", 1, " N", "ALA", 'A', 1));
    std::vector<PDBATOM> atoms(1);
    PDBRESI sentinel{};
    for (char* text : {sentinel.atom, sentinel.label_rname, sentinel.label_rchain, sentinel.label_rnb,
                       sentinel.rname, sentinel.segid})
        std::strcpy(text, "zz");
    sentinel.rnb = sentinel.rentity = sentinel.model = 77;
    sentinel.rchain = sentinel.rletter = 'z';
    sentinel.rnbofa = 77;
    std::vector<PDBRESI> res(3, sentinel);
    res[2].a = atoms;
    PDBMOL mol{'Q', 0, res};
    testing::internal::CaptureStdout();
    EXPECT_EQ(load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 2, set.max, 0, 'h', 2), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Total number of residues : 3\nTotal number of atoms    : 0\n");
    EXPECT_EQ(mol.nbofr, 3);
    EXPECT_EQ(mol.chain, 'Q');
    EXPECT_EQ(res[2].rnbofa, 0);
    res[2].rnbofa = 77;
    EXPECT_TRUE(same_residue(res[2], sentinel));
    EXPECT_TRUE(same_residue(res[1], sentinel));
}

TEST(LoadPdb, LaterStartFillsLaterSlots) {
    const PDBLINES set = lines_of(rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("ATOM", 2, " N", "GLY", 'A', 2));
    std::vector<PDBATOM> atoms(2);
    std::vector<PDBRESI> res(4);
    res[2].a = std::span<PDBATOM>(atoms).first(1);
    res[3].a = std::span<PDBATOM>(atoms).last(1);
    PDBMOL mols[2] = {{}, {' ', 0, res}};
    testing::internal::CaptureStdout();
    EXPECT_EQ(load_pdb(set.line, mols, 1, 2, set.max, 0, 'w', 2), 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Total number of residues : 4\nTotal number of atoms    : 2\n");
    EXPECT_EQ(residues(mols[1], 4).substr(residues(mols[1], 2).size()), " A1 *1 A2 *1");
}

// At LEVEL 4 each finished residue but the last is echoed as the display writes it, yet the loaded
// "?" insertion code and "." alternate location stay as read.
TEST(LoadPdb, EchoLeavesTheLoadedDataAlone) {
    const std::string text =
        "ATOM      1  N  .ALA A   1?      1.000   2.000   3.000  1.00 10.00      SEGA\n"
        "ATOM      2  CA .ALA A   1?      4.000   5.000   6.000  0.50 20.00      SEGA\n"
        "HETATM    3  O   HOH A   2       7.000   8.000   9.000  1.00 30.00\n";
    const PDBLINES set = lines_of(text);
    const pdbtest::Loaded quiet = pdbtest::load(set, 0, 'w', 0);
    testing::internal::CaptureStdout();
    const pdbtest::Loaded loud = pdbtest::load(set, 0, 'w', 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ATOM      1  N   ALA A   1       1.000   2.000   3.000  1.00 10.00      SEGA  \n"
              "ATOM      2  CA  ALA A   1       4.000   5.000   6.000  0.50 20.00      SEGA  \n"
              "Total number of residues : 2\nTotal number of atoms    : 3\n");
    ASSERT_EQ(loud.result, 2);
    EXPECT_EQ(loud.mol.r[0].rletter, '?');
    EXPECT_EQ(loud.mol.r[0].a[0].aalt, '.');
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < quiet.mol.r[static_cast<std::size_t>(i)].rnbofa; ++k)
            EXPECT_EQ(atom_fields(quiet.mol.r[static_cast<std::size_t>(i)],
                                  quiet.mol.r[static_cast<std::size_t>(i)].a[static_cast<std::size_t>(k)]),
                      atom_fields(loud.mol.r[static_cast<std::size_t>(i)],
                                  loud.mol.r[static_cast<std::size_t>(i)].a[static_cast<std::size_t>(k)]));
}

// Arrays too small for the line set stop the run instead of being written past.
TEST(LoadPdbDeathTest, UndersizedArraysStopTheRun) {
    const PDBLINES set = lines_of(rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("ATOM", 2, " CA", "ALA", 'A', 1) +
                                  rec("ATOM", 3, " N", "GLY", 'A', 2));
    std::vector<PDBATOM> atoms(4);
    std::vector<PDBRESI> one(1), two(2);
    one[0].a = atoms;
    two[0].a = std::span<PDBATOM>(atoms).first(1);
    two[1].a = std::span<PDBATOM>(atoms).last(2);
    PDBMOL too_few_residues{' ', 0, one}, too_few_atoms{' ', 0, two};
    const struct {
        const char* name;
        PDBMOL* mol;
        int index, start;
    } cases[] = {
        {"one residue slot for two residues", &too_few_residues, 0, 0},
        {"one atom slot for two atoms", &too_few_atoms, 0, 0},
        {"structure index outside the array", &too_few_residues, 1, 0},
        {"negative structure index", &too_few_residues, -1, 0},
        {"start outside the residue array", &too_few_atoms, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(pdbtest::reporting_on_stderr([&] {
                        load_pdb(set.line, std::span<PDBMOL>(c.mol, 1), c.index, c.start, set.max, 0, 'w', 0);
                    }),
                    testing::ExitedWithCode(1), "ERROR IN SUB:LOAD_PDB");
    }
}

// Every text the reader converts goes through the same rules as the C library's "%d" and "%f"; compare
// with the library on all short texts over the characters that matter, and on many longer ones.
TEST(ReadConversions, AgreeWithTheLibrary) {
    const std::string alphabet = " +-019.eExXpPaAfFiInNtTy(\t";
    const auto check = [](const std::string& text) {
        SCOPED_TRACE("text \"" + text + "\"");
        int lib_i = -777, our_i = -777;
        const bool lib_int = std::sscanf(text.c_str(), "%d", &lib_i) == 1;
        const bool our_int = pdbscan::scan_int(text.data(), text.data() + text.size(), our_i) != nullptr;
        ASSERT_EQ(our_int, lib_int);
        ASSERT_EQ(our_i, lib_i);
        float lib_f = -777.0f, our_f = -777.0f;
        const bool lib_float = std::sscanf(text.c_str(), "%f", &lib_f) == 1;
        const bool our_float = pdbscan::scan_float(text.data(), text.data() + text.size(), our_f);
        ASSERT_EQ(our_float, lib_float);
        ASSERT_EQ(std::memcmp(&our_f, &lib_f, sizeof(float)), 0) << our_f << " vs " << lib_f;
    };
    std::string text;
    const std::function<void(std::size_t)> all = [&](std::size_t left) {
        check(text);
        if (left == 0 || testing::Test::HasFatalFailure()) return;
        for (char c : alphabet) {
            text.push_back(c);
            all(left - 1);
            text.pop_back();
        }
    };
    all(4);
    std::mt19937 rng(2024);
    const std::string digits = "0123456789012345678901234567890123456789.-+eE ";
    std::uniform_int_distribution<std::size_t> pick(0, digits.size() - 1), length(1, 8);
    for (int i = 0; i < 300000 && !testing::Test::HasFatalFailure(); ++i) {
        text.clear();
        for (std::size_t n = length(rng); n > 0; --n)
            text.push_back(digits[pick(rng)]);
        check(text);
    }
    for (const char* odd : {"infinity",
                            "-INFINITY",
                            "infinit",
                            "nan(1)",
                            "99999999999",
                            "-99999999999",
                            "9999999999999999999999",
                            "1e39",
                            "-1e39",
                            "1e-46",
                            "1.4e-45",
                            "3.4028235e38",
                            "3.4028236e38",
                            "0x1.fffffep127",
                            "0x1p-150",
                            "0x.8",
                            "0x.",
                            "00x1",
                            "1e+-5",
                            "16777216",
                            "16777217",
                            "-0.16777217",
                            "1.000000000",
                            "0.0000000001",
                            "123456789.0",
                            "0.33333334",
                            "8.589973e9",
                            "0.1.2",
                            "  -0.000"})
        check(odd);
}

// ---- Line sets ----

std::vector<std::string> texts(const PDBLINES& set) {
    std::vector<std::string> out;
    for (const PDBLINE& l : set.line)
        out.emplace_back(l.data());
    return out;
}

TEST(LineSets, SplitAtLineEnds) {
    const std::string l127(127, 'x'), l128(128, 'y');
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> lines;
        int cut;
    } cases[] = {
        {"LF", "ATOM\nEND\n", {"ATOM", "END"}, 0},
        {"no final line end", "ATOM\nEND", {"ATOM", "END"}, 0},
        {"CRLF from a Windows tool", "ATOM\r\nEND\r\n", {"ATOM", "END"}, 0},
        {"CR elsewhere is a character", "A\rB\n\r\r\n", {"A\rB", "\r"}, 0},
        {"CR at the very end is kept", "END\r", {"END\r"}, 0},
        {"empty lines", "\n\n", {"", ""}, 0},
        {"empty text", "", {}, 0},
        {"127 characters fit", l127 + "\n", {l127}, 0},
        {"128 characters are cut", l128 + "\nEND", {l128.substr(0, 127), "END"}, 1},
        {"127 characters and CRLF fit", l127 + "\r\n", {l127}, 0},
        {"128 characters and CRLF are cut", l128 + "\r\n", {l128.substr(0, 127)}, 1},
        {"a NUL byte ends the text", std::string("AB\0CD\nEF", 8), {"AB", "EF"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PDBLINES set;
        set.cut = 99;
        EXPECT_EQ(pdb_lines_from_text(c.text, set), static_cast<int>(c.lines.size()));
        EXPECT_EQ(set.max, static_cast<int>(c.lines.size()));
        EXPECT_EQ(texts(set), c.lines);
        EXPECT_EQ(set.cut, c.cut);
    }
}

// A stream is read in blocks; lines, long lines and a CRLF that straddle a block boundary come out as
// they do from the same text in one piece.
TEST(LineSets, StreamBlocksJoinSeamlessly) {
    const std::size_t block = 1 << 20;
    std::string text;
    while (text.size() < block - 1000)
        text += rec("ATOM", 1, " N", "ALA", 'A', 1);
    text.append(block - 1 - text.size(), 'z');  // a long line running up to the boundary...
    text += "\r\nATOM";                         // ...whose CRLF straddles it
    text += std::string(300, 'q') + "\r\n" + std::string(block, 'w') + "\nEND";
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    PDBLINES from_stream, from_text;
    const int n = pdb_lines_from_stream(f, from_stream);
    std::fclose(f);
    ASSERT_EQ(n, pdb_lines_from_text(text, from_text));
    EXPECT_EQ(texts(from_stream), texts(from_text));
    EXPECT_EQ(from_stream.cut, 3);
    EXPECT_EQ(texts(from_stream).back(), "END");
    // Every buffer ends its text with NULs to the end.
    for (const PDBLINE& l : from_stream.line)
        for (std::size_t i = std::strlen(l.data()); i < l.size(); ++i)
            ASSERT_EQ(l[i], '\0');
}

TEST(LineSets, MissingFileGivesMinusOne) {
    PDBLINES set = lines_of("ATOM\n");
    EXPECT_EQ(pdb_lines_from_file("/nonexistent/dir/none.pdb", set), -1);
    EXPECT_EQ(set.max, 0);
    EXPECT_TRUE(set.line.empty());
    EXPECT_EQ(pdb_lines_from_stream(nullptr, set), -1);
}

}  // namespace
