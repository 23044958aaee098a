// Pre-scan counters and the start of the coordinate section.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "pdb8.h"
#include "pdb8/scan.h"
#include "pdb_test_util.h"

using pdbtest::lines_of;
using pdbtest::rec;

namespace {

struct CountCase {
    const char* name;
    std::string text;
    char typ;
    std::vector<int> nbr, nba;  // per chain run
    int res_nb, atm_nb;         // whole line set
};

std::string two_residues_two_atoms() {
    return rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("ATOM", 2, " CA", "ALA", 'A', 1) +
           rec("ATOM", 3, " N", "GLY", 'A', 2) + rec("ATOM", 4, " CA", "GLY", 'A', 2);
}

std::vector<CountCase> count_cases() {
    const std::string ab = two_residues_two_atoms() + rec("ATOM", 5, " N", "SER", 'B', 1) +
                           rec("ATOM", 6, " CA", "SER", 'B', 1) + rec("ATOM", 7, " C", "SER", 'B', 1);
    return {
        {"no selected line", "REMARK nothing\nEND\n", 'w', {1}, {1}, 1, 1},
        {"empty line set", "", 'w', {1}, {1}, 1, 1},
        {"unknown selector", two_residues_two_atoms(), 'x', {1}, {1}, 1, 1},
        {"one chain, two residues of two atoms", two_residues_two_atoms(), 'a', {3}, {3}, 3, 3},
        {"chain A then chain B", ab, 'w', {3, 2}, {2, 4}, 4, 4},
        {"a chain that comes back is a new run",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("ATOM", 2, " N", "ALA", 'B', 1) +
             rec("ATOM", 3, " N", "ALA", 'A', 2),
         'a',
         {2, 2, 2},
         {1, 1, 2},
         4,
         2},
        {"HETATM inside an ATOM residue is skipped with 'a'",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("HETATM", 2, " O", "HOH", 'A', 99) +
             rec("ATOM", 3, " CA", "ALA", 'A', 1),
         'a',
         {2},
         {3},
         2,
         3},
        {"HETATM with another key opens a residue with 'w'",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("HETATM", 2, " O", "HOH", 'A', 99) +
             rec("ATOM", 3, " CA", "ALA", 'A', 1),
         'w',
         {4},
         {2},
         4,
         2},
        {"only HETATM with 'h'",
         rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("HETATM", 2, " O", "HOH", 'A', 99) +
             rec("HETATM", 3, " O", "HOH", 'A', 100),
         'h',
         {3},
         {2},
         3,
         2},
        // Selection looks at the line's own first columns: a leading blank hides a record.
        {"leading blank is not selected",
         std::string(" ") + rec("ATOM", 1, " N", "ALA", 'A', 1),
         'w',
         {1},
         {1},
         1,
         1},
        // "ATOM" is compared on four characters, so an ATOMIC line counts as an atom record.
        {"ATOMIC counts as ATOM", "ATOMIC    1  N   ALA A   1\n", 'a', {2}, {2}, 2, 2},
        // Insertion codes are the letter after the number: 52 and 52A are two residues.
        {"insertion code splits residues",
         rec("ATOM", 1, " N", "ALA", 'A', 52) + rec("ATOM", 2, " N", "ALA", 'A', 52, 'A'),
         'a',
         {3},
         {2},
         3,
         2},
        // A first record whose key is the counters' starting key still opens a residue.
        {"first key equal to the starting key",
         "ATOM      1  N   ALA @-9999@\nATOM      2  N   ALA @-9999@\n",
         'a',
         {2},
         {3},
         2,
         3},
        // Before the first line that supplies them the key is (blank, 0, blank); a line that ends right
        // after its residue number keeps the previous letter, so it stays in residue 1B.
        {"fields that do not convert keep earlier values",
         "ATOM\nATOM      1  N   ALA A   1B\nATOM      2  CA  ALA A   1\n",
         'a',
         {2, 2},
         {1, 3},
         3,
         3},
    };
}

TEST(PrescanCounters, CountsFollowTheArithmetic) {
    for (const CountCase& c : count_cases()) {
        SCOPED_TRACE(c.name);
        const PDBLINES set = lines_of(c.text);
        std::vector<int> nbr(static_cast<std::size_t>(set.max) + 2, -1), nba(nbr.size(), -1);
        testing::internal::CaptureStdout();
        const int runs = get_pdb_chain_res_atm_nb(set.line, set.max, nbr, nba, c.typ, 0);
        const std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_EQ(runs, static_cast<int>(c.nbr.size()));
        std::string expected;
        for (int i = 0; i < runs; ++i) {
            EXPECT_EQ(nbr[static_cast<std::size_t>(i)], c.nbr[static_cast<std::size_t>(i)]) << "run " << i;
            EXPECT_EQ(nba[static_cast<std::size_t>(i)], c.nba[static_cast<std::size_t>(i)]) << "run " << i;
            char line[100];
            std::snprintf(line, sizeof line, "For chain: %d  max_res= %d   max_atm=%d\n", i,
                          c.nbr[static_cast<std::size_t>(i)], c.nba[static_cast<std::size_t>(i)]);
            expected += line;
        }
        EXPECT_EQ(printed, expected);
        EXPECT_EQ(nbr[static_cast<std::size_t>(runs)], -1) << "written past the last run";

        int atm = -1;
        EXPECT_EQ(get_pdb_res_atm_nb(set.line, set.max, &atm, c.typ, 0), c.res_nb);
        EXPECT_EQ(atm, c.atm_nb);
    }
}

TEST(PrescanCounters, MaxBoundsTheScan) {
    const PDBLINES set = lines_of(two_residues_two_atoms());
    int atm = 0;
    EXPECT_EQ(get_pdb_res_atm_nb(set.line, 2, &atm, 'a', 0), 2);  // first residue only, counted 2+1
    EXPECT_EQ(atm, 3);
    EXPECT_EQ(get_pdb_res_atm_nb(set.line, 1000, &atm, 'a', 0), 3);  // never past the line set
    EXPECT_EQ(get_pdb_res_atm_nb(set.line, -5, &atm, 'a', 0), 1);
}

// A HETATM serial of 10000 runs into the record name: the word reading then keeps the previous key (the
// water is counted into the residue before it), while the column reading still finds it.
TEST(PrescanCounters, FiveDigitHetatmSerialDiffersBetweenTheTwoReadings) {
    const PDBLINES set = lines_of(
        "HETATM 9999  O   HOH A 500      1.000   2.000   3.000  1.00 10.00           O\n"
        "HETATM10000  O   HOH A 501      1.000   2.000   3.000  1.00 10.00           O\n");
    std::vector<int> nbr(3), nba(3);
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_pdb_chain_res_atm_nb(set.line, set.max, nbr, nba, 'h', 0), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(nbr[0], 2);
    EXPECT_EQ(nba[0], 3);
    int atm = 0;
    EXPECT_EQ(get_pdb_res_atm_nb(set.line, set.max, &atm, 'h', 0), 3);
    EXPECT_EQ(atm, 2);
    const PDBSIZE exact = get_pdb_load_size(set.line, set.max, 0, 'h', {});
    EXPECT_EQ(exact.nbofr, 2);
    EXPECT_EQ(exact.maxatm, 1);
}

TEST(PrescanCountersDeathTest, ChainArraysTooSmallStopTheRun) {
    const PDBLINES set = lines_of(rec("ATOM", 1, " N", "ALA", 'A', 1) + rec("ATOM", 2, " N", "ALA", 'B', 1));
    std::vector<int> one(1), two(2);
    EXPECT_EXIT(
        pdbtest::reporting_on_stderr([&] { get_pdb_chain_res_atm_nb(set.line, set.max, one, two, 'a', 0); }),
        testing::ExitedWithCode(1), "ERROR IN SUB:GET_PDB_CHAIN_RES_ATM_NB");
    EXPECT_EXIT(pdbtest::reporting_on_stderr(
                    [&] { get_pdb_chain_res_atm_nb(set.line, set.max, two, std::span<int>(), 'a', 0); }),
                testing::ExitedWithCode(1), "ERROR IN SUB:GET_PDB_CHAIN_RES_ATM_NB");
}

TEST(FindBeginning, FirstWordDecides) {
    const struct {
        const char* name;
        const char* text;
        int expected;
    } cases[] = {
        {"ATOM after a header", "HEADER x\nREMARK 1 ATOM\nATOM      1\n", 2},
        {"leading blanks are skipped", "REMARK\n   ATOM\n", 1},
        {"a tab is white space", "REMARK\n\tHETATM\n", 1},
        {"MODEL first", "MODEL        1\nATOM\n", 0},
        {"ATOMS begins with ATOM", "ATOMS\n", 0},
        {"MODE is not MODEL", "MODE 1\nHETAT\nENDMDL\n", 3},
        {"empty lines are passed over", "\n\n  \nATOM\n", 3},
        {"no coordinate line gives the line count", "HEADER\nEND\n", 2},
        {"empty line set", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find_beginning1(lines_of(c.text).line), c.expected);
    }
}

// The counters read each line as the C library reads it with their formats; compare with the library
// itself on many generated lines, the key carried from line to line as it is in the counters.
TEST(PrescanKeyReading, AgreesWithTheLibraryFormats) {
    const std::vector<std::string> pieces = {"ATOM", "HETATM", "ATOM  ", " ",           "  ",  "\t", "1",
                                             "12",   "-3",     "+7",     "99999999999", "-",   "A",  "AB",
                                             "CA",   "ALA",    "x",      "?",           "0",   "00", "\r",
                                             " 42A", "1234",   "B",      "5",           "HOH", "\v"};
    std::mt19937 rng(12345);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1), count(0, 14);
    pdbscan::PrescanKey words, columns;
    char w_chain = ' ', w_letter = ' ', c_chain = ' ', c_letter = ' ';
    int w_nb = 0, c_nb = 0;
    for (int i = 0; i < 40000; ++i) {
        std::string line = i % 2 ? "ATOM" : "HETATM";
        for (std::size_t n = count(rng); n > 0; --n)
            line += pieces[pick(rng)];
        if (line.size() > 127) line.resize(127);
        SCOPED_TRACE("line \"" + line + "\"");
        char s1[128], s3[128], s4[128], s9[128], c1, c2, c3, c4, c5, sep;
        int serial;
        std::sscanf(line.c_str(), "%s%d%s%s%c%c%d%c%s\n", s1, &serial, s3, s4, &sep, &w_chain, &w_nb,
                    &w_letter, s9);
        std::sscanf(line.c_str(), "%c%c%c%c%c%c%d%c%c%c%c%c%s%c%c%d%c%s\n", &c1, &c2, &c3, &c4, &c5, &sep,
                    &serial, &c1, &c2, &c3, &c4, &c5, s4, &sep, &c_chain, &c_nb, &c_letter, s9);
        pdbscan::read_key_words(line, words);
        pdbscan::read_key_columns(line, columns);
        ASSERT_EQ(words.chain, w_chain);
        ASSERT_EQ(words.nb, w_nb);
        ASSERT_EQ(words.letter, w_letter);
        ASSERT_EQ(columns.chain, c_chain);
        ASSERT_EQ(columns.nb, c_nb);
        ASSERT_EQ(columns.letter, c_letter);
    }
}

}  // namespace
