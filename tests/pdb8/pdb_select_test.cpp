// Residue selection: every expression form on a hand-made structure with repeated identities, the NOT
// complement, the printed lines at LEVEL 3, the fatal errors with their exact report, the bounds of the
// caller's arrays, and properties on the real structures of data/pdb.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pdb8.h"
#include "pdb_test_util.h"
#include "test_util.h"

namespace {

using Indices = std::vector<int>;

struct Key {
    char chain;
    int nb;
    char letter;
};

// A structure of one ATOM residue per key, in the order given; residue i has i % 2 + 1 atoms, named
// " N  " then " CA ".
pdbtest::Loaded structure(const std::vector<Key>& keys) {
    std::string text;
    int serial = 1;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        text += pdbtest::rec("ATOM", serial++, " N", "ALA", keys[i].chain, keys[i].nb, keys[i].letter);
        if (i % 2)
            text += pdbtest::rec("ATOM", serial++, " CA", "ALA", keys[i].chain, keys[i].nb, keys[i].letter);
    }
    const PDBLINES set = pdbtest::lines_of(text);
    return pdbtest::load(set);
}

// Indices 0 to 14; A10 and A20 come back after other residues, blank-chain 5 and 20 sit in the middle.
const std::vector<Key> kKeys = {
    {'A', 1, ' '},  {'A', 2, ' '},  {'A', 10, ' '}, {'A', 11, ' '}, {'A', 12, ' '},
    {'A', 12, 'B'}, {'A', 20, ' '}, {'B', 5, ' '},  {'B', 10, ' '}, {' ', 5, ' '},
    {' ', 20, ' '}, {'A', 10, ' '}, {'A', 20, ' '}, {'C', 7, ' '},  {'A', -3, ' '},
};

Indices select_with(std::string_view expr, const PDBMOL& mol, int max, int NOT) {
    std::vector<int> list(static_cast<std::size_t>(max > 0 ? max : 0));
    const int count = read_res_pattern(expr, mol, max, list, NOT, 0);
    list.resize(static_cast<std::size_t>(count));
    return list;
}

Indices span_of(int from, int to) {
    Indices out;
    for (int i = from; i <= to; ++i)
        out.push_back(i);
    return out;
}

Indices complement(const Indices& sel, int max) {
    Indices out;
    std::size_t k = 0;
    for (int i = 0; i < max; ++i) {
        if (k < sel.size() && sel[k] == i)
            ++k;
        else
            out.push_back(i);
    }
    return out;
}

struct ExprCase {
    std::string_view expr;
    int max;
    Indices expected;
};

TEST(ReadResPattern, SelectsEveryFormAndItsComplement) {
    const pdbtest::Loaded s = structure(kKeys);
    const Indices chain_a = {0, 1, 2, 3, 4, 5, 6, 11, 12, 14};
    const ExprCase cases[] = {
        {"*", 15, span_of(0, 14)},
        {"*rest is ignored", 15, span_of(0, 14)},
        // The whole structure is the range up to the first residue with the last one's identity: with
        // 12 residues the last is the second A10, and the range stops at the first.
        {"*", 12, span_of(0, 2)},
        {"*", 1, {0}},
        {"*", 0, {}},
        {"*", -4, {}},
        {"A", 15, chain_a},
        {"a", 15, chain_a},
        {"b", 15, {7, 8}},
        {"C", 15, {13}},
        {"C", 13, {}},
        {"D", 15, {}},
        {"5", 15, {9}},  // a digit is an identifier: blank chain 5, not chain B's 5
        {"b5", 15, {7}},
        {"A10", 15, {2}},  // the first A10 only
        {"A12", 15, {4}},  // a blank insertion letter matches only a blank
        {"a12b", 15, {5}},
        {"A12C", 15, {}},
        {"AB", 15, {}},   // two characters: chain A, insertion B, number 0
        {" B", 15, {}},   // not one character, so no chain: B0
        {"5 ", 15, {9}},  //
        {"A10-A20", 15, span_of(2, 6)},
        {"A10:A20", 15, span_of(2, 6)},
        {"A10,A20", 15, span_of(2, 6)},
        {"A10 A20", 15, span_of(2, 6)},
        {"a10 -, a20", 15, span_of(2, 6)},
        {"A10-A10", 15, {2}},
        {"A20-A10", 15, span_of(6, 11)},  // storage order, not number order
        {"A11-A10", 15, span_of(3, 11)},
        {"A10-20", 15, span_of(2, 10)},  // the second identifier has a blank chain
        {"A10-20", 10, span_of(2, 9)},   // ... and without one following, the range runs to the end
        {"A10-A99", 15, span_of(2, 14)},
        {"A99-A10", 15, {}},
        {"A1-C7", 15, span_of(0, 13)},
        {"C7-A1", 15, {13, 14}},
        {"b10 5", 15, {8, 9}},
    };
    for (const ExprCase& c : cases) {
        const Indices sel = select_with(c.expr, s.mol, c.max, 0);
        EXPECT_EQ(c.expected, sel) << "'" << c.expr << "' max " << c.max;
        EXPECT_EQ(complement(c.expected, c.max), select_with(c.expr, s.mol, c.max, 1))
            << "NOT '" << c.expr << "' max " << c.max;
    }
}

TEST(ReadResPattern, ListNeedsRoomOnlyForWhatIsSelected) {
    const pdbtest::Loaded s = structure(kKeys);
    int one = -1;
    EXPECT_EQ(1, read_res_pattern("A10", s.mol, 15, std::span<int>(&one, 1), 0, 0));
    EXPECT_EQ(2, one);
    EXPECT_EQ(0, read_res_pattern("Z", s.mol, 15, std::span<int>(), 0, 0));
}

TEST(ReadResPattern, HandlesExpressionsLongerThanAnyFixedField) {
    const pdbtest::Loaded s = structure(kKeys);
    const std::string padded =
        std::string(100, ' ') + "A10" + std::string(100, '-') + "A20" + std::string(50, ':');
    EXPECT_EQ(span_of(2, 6), select_with(padded, s.mol, 15, 0));
    // A long identifier is read whole: its leading zeros do not push the number out of a field.
    EXPECT_EQ(Indices{2}, select_with("A" + std::string(60, '0') + "10", s.mol, 15, 0));
}

struct IndexCase {
    std::string_view id;
    int max;
    int expected;
};

TEST(GetPdbIndex, ReturnsTheLastMatch) {
    const pdbtest::Loaded s = structure(kKeys);
    const IndexCase cases[] = {
        {"A1", 15, 0},    // index 0 is found like any other
        {"A10", 15, 11},  // repeated identity: the last one
        {"A10", 11, 2},   //
        {"a20", 15, 12},  //
        {"a12b", 15, 5},  //
        {"A12", 15, 4},   //
        {"5", 15, 9},     //
        {"20", 15, 10},   //
        {"A-3", 15, 14},  // a sign is read in an identifier given directly
    };
    for (const IndexCase& c : cases)
        EXPECT_EQ(c.expected, get_pdb_index(s.mol, c.max, c.id, 0)) << "'" << c.id << "' max " << c.max;
}

TEST(GetPdbIndexDeathTest, AbsentResidueEndsTheRun) {
    const pdbtest::Loaded s = structure(kKeys);
    const std::string report =
        "\n>ERROR IN SUB:GET_PDB_INDEX\n>ERRROR : Residue not found in this PDB file\n\n$";
    EXPECT_FATAL(get_pdb_index(s.mol, 15, "q9", 0), "^Residue: q9 is not found\n" + report);
    EXPECT_FATAL(get_pdb_index(s.mol, 15, "B7", 0), "^Residue: B7 is not found\n" + report);
    EXPECT_FATAL(get_pdb_index(s.mol, 13, "C7", 0), "^Residue: C7 is not found\n" + report);
    EXPECT_FATAL(get_pdb_index(s.mol, 0, "A1", 0), "^Residue: A1 is not found\n" + report);
}

TEST(ReadResPatternDeathTest, ExpressionsWithoutOneOrTwoIdentifiersEndTheRun) {
    const pdbtest::Loaded s = structure(kKeys);
    std::vector<int> list(15);
    for (const char* expr : {"", " ", "   ", "-", "-:, ,", "A1-A5-A9", "a1 a5 a9", "1,2,3,4"}) {
        EXPECT_FATAL(read_res_pattern(expr, s.mol, 15, list, 0, 0),
                     "^\n>ERROR IN SUB:READ_RES_PATTERN\n>ERRROR : Error in the split residue selection\n\n$")
            << "'" << expr << "'";
        EXPECT_FATAL(read_res_pattern(expr, s.mol, 15, list, 1, 0), "Error in the split residue selection")
            << "NOT '" << expr << "'";
    }
}

TEST(SelectorsDeathTest, RefuseToReachPastTheCallersArrays) {
    const pdbtest::Loaded s = structure(kKeys);
    std::vector<int> list(15);
    std::vector<int> small(3);
    const PDBRES a10{'A', 10, ' ', {}};
    const PDBRES a20{'A', 20, ' ', {}};
    EXPECT_FATAL(read_res_pattern("*", s.mol, 16, list, 0, 0),
                 "ERROR IN SUB:READ_RES_PATTERN\n>ERRROR : residue count 16 exceeds the 15 residues held");
    EXPECT_FATAL(read_res_pattern("A10-A20", s.mol, 15, small, 0, 0),
                 "ERROR IN SUB:GET_RES_RANGE1\n>ERRROR : the selection list has room for 3 residues only");
    EXPECT_FATAL(read_res_pattern("A10", s.mol, 15, small, 1, 0), "ERROR IN SUB:GET_NOTRES_RANGE1");
    EXPECT_FATAL(read_res_pattern("a", s.mol, 15, small, 0, 0), "ERROR IN SUB:GET_CHAIN_RANGE1");
    EXPECT_FATAL(read_res_pattern("a", s.mol, 15, small, 1, 0), "ERROR IN SUB:GET_NOTCHAIN_RANGE1");
    EXPECT_FATAL(get_res_range1(a10, a20, 15, s.mol, list, -1, 0),
                 "ERROR IN SUB:GET_RES_RANGE1\n>ERRROR : fill position -1 lies outside the selection list");
    EXPECT_FATAL(get_res_range1(a10, a20, 15, s.mol, list, 16, 0), "fill position 16 lies outside");
    EXPECT_FATAL(get_res_range1(a10, a20, 15, s.mol, list, 12, 0), "room for 15 residues only");
    EXPECT_FATAL(get_chain_range1('A', 99, s.mol, list, 0, 0), "residue count 99 exceeds the 15 residues");
    EXPECT_FATAL(get_pdb_index(s.mol, 99, "A1", 0), "ERROR IN SUB:GET_PDB_INDEX\n>ERRROR : residue count 99");
}

TEST(Selectors, AppendFromTheGivenPosition) {
    const pdbtest::Loaded s = structure(kKeys);
    std::vector<int> list(20, -1);
    const PDBRES a10{'A', 10, ' ', {}};
    const PDBRES a20{'A', 20, ' ', {}};
    int n = get_chain_range1('B', 15, s.mol, list, 0, 0);
    n = get_res_range1(a10, a20, 15, s.mol, list, n, 0);
    n = get_notchain_range1('A', 15, s.mol, list, n, 0);
    ASSERT_EQ(12, n);
    EXPECT_EQ((Indices{7, 8, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13}), Indices(list.begin(), list.begin() + n));
    EXPECT_EQ(-1, list[12]);
    // A selector that selects nothing returns the position it was given.
    EXPECT_EQ(5, get_res_range1(PDBRES{'Q', 1, ' ', {}}, a20, 15, s.mol, list, 5, 0));
    EXPECT_EQ(20, get_chain_range1('Q', 15, s.mol, list, 20, 0));
}

// ---- Printed lines ---------------------------------------------------------------------------------

std::string printed(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

const char* const kOpen = "----------------------Selection------------------------\n";
const char* const kClose = "----------------------------------------------------------------------\n";

struct PrintCase {
    std::string_view expr;
    int NOT;
    int count;
    std::string out;
};

TEST(ReadResPattern, PrintsEachStepAboveLevelTwo) {
    // A1 with one atom, A2 with two, B3 with one.
    const pdbtest::Loaded s = structure({{'A', 1, ' '}, {'A', 2, ' '}, {'B', 3, ' '}});
    const std::string dump_all = std::string(kOpen) + "i=0 SELECT = 1  |A|  atm= N  \n" +
                                 "i=1 SELECT = 2  |A|  atm= N  \n" + "i=1 SELECT = 2  |A|  atm= CA \n" +
                                 "i=2 SELECT = 3  |B|  atm= N  \n" + kClose;
    const std::string range_all =
        "In get_res_range1: first_res=A1   last_res=B3    idx=0\n"
        "[0] Selected res : A1 \n"
        "[1] Selected res : A2 \n"
        "[2] Selected res : B3 \n";
    const PrintCase cases[] = {
        {"*", 0, 3,
         "Entering into read_res_pattern and string=*\nString=*\n" + range_all +
             "Selected residues: from  A1  to  B3  -> 3 residues\n" + dump_all},
        {"*", 1, 0,
         "Entering into read_res_pattern and string=*\nString=*\n"
         "In get_notres_range1: first_res=A1   last_res=B3    idx=0\n"
         "Selected residues: from  A1  to  B3  -> 0 residues\n" +
             std::string(kOpen) + kClose},
        {"b", 1, 2,
         "Entering into read_res_pattern and string=b\nString=B\nstring= |B|  Length of string= 1\n"
         "In get_chain_range1: chainId=B   idx=0\n"
         "[1] Selected res : A1 \n"
         "[2] Selected res : A2 \n"
         "Selected residues   -> 2  \n" +
             std::string(kOpen) + "i=0 SELECT = 1  |A|  atm= N  \n" + "i=1 SELECT = 2  |A|  atm= N  \n" +
             "i=1 SELECT = 2  |A|  atm= CA \n" + kClose},
        // The residues before the range are selected without a line; those after it get one.
        {"a2", 1, 2,
         "Entering into read_res_pattern and string=a2\nString=A2\nstring= |A|  Length of string= 2\n"
         "Single residue in this pattern expression\n"
         "In get_res_pattern, with input string=A2\n"
         "In get_notres_range1: first_res=A2   last_res=A2    idx=0\n"
         "[2] Selected res : B3 \n"
         "Selected residue:   A2 \n   -> 2  residues\n" +
             std::string(kOpen) + "i=0 SELECT = 1  |A|  atm= N  \n" + "i=1 SELECT = 3  |B|  atm= N  \n" +
             kClose},
        {"A1-b3", 0, 3,
         "Entering into read_res_pattern and string=A1-b3\nString=A1-B3\nstring= |A|  Length of string= 5\n"
         "Range of residue in this pattern expression\n"
         "In get_res_pattern, with input string=A1\n"
         "In get_res_pattern, with input string=B3\n" +
             range_all + "Selected residues: from  A1  to  B3  -> 3 residues\n" + dump_all},
        {"5", 0, 0,
         "Entering into read_res_pattern and string=5\nString=5\nstring= | |  Length of string= 1\n"
         "Single residue in this pattern expression\n"
         "In get_res_pattern, with input string=5\n"
         "In get_res_range1: first_res= 5   last_res= 5    idx=0\n"
         "Selected residue:    5 \n   -> 0  residues\n" +
             std::string(kOpen) + kClose},
    };
    for (const PrintCase& c : cases) {
        std::vector<int> list(3);
        int count = -1;
        EXPECT_EQ(c.out, printed([&] { count = read_res_pattern(c.expr, s.mol, 3, list, c.NOT, 3); }))
            << "'" << c.expr << "' NOT " << c.NOT;
        EXPECT_EQ(c.count, count) << "'" << c.expr << "' NOT " << c.NOT;
        EXPECT_EQ("", printed([&] { read_res_pattern(c.expr, s.mol, 3, list, c.NOT, 2); }))
            << "'" << c.expr << "' NOT " << c.NOT << " at level 2";
    }
}

TEST(Selectors, PrintTheirEntryAndSelectedLines) {
    const pdbtest::Loaded s = structure({{'A', 1, ' '}, {'B', 2, 'X'}, {'A', 3, ' '}});
    std::vector<int> list(6);
    // Both chain selectors print the same entry line, and number their lines by the fill count.
    EXPECT_EQ("In get_chain_range1: chainId=A   idx=2\n[3] Selected res : A1 \n[4] Selected res : A3 \n",
              printed([&] { get_chain_range1('A', 3, s.mol, list, 2, 3); }));
    EXPECT_EQ("In get_chain_range1: chainId=A   idx=1\n[2] Selected res : B2X\n",
              printed([&] { get_notchain_range1('A', 3, s.mol, list, 1, 3); }));
    const PDBRES b2x{'B', 2, 'X', {}};
    const PDBRES a3{'A', 3, ' ', {}};
    EXPECT_EQ(
        "In get_res_range1: first_res=B2X  last_res=A3    idx=4\n[1] Selected res : B2X\n"
        "[2] Selected res : A3 \n",
        printed([&] { get_res_range1(b2x, a3, 3, s.mol, list, 4, 3); }));
    EXPECT_EQ("In get_notres_range1: first_res=B2X  last_res=B2X   idx=0\n[2] Selected res : A3 \n",
              printed([&] { get_notres_range1(b2x, b2x, 3, s.mol, list, 0, 3); }));
    EXPECT_EQ("Entering into get_pdb_index\nIn get_res_pattern, with input string=b2x\n",
              printed([&] { EXPECT_EQ(1, get_pdb_index(s.mol, 3, "b2x", 3)); }));
    EXPECT_EQ("", printed([&] {
                  get_chain_range1('A', 3, s.mol, list, 0, 2);
                  get_notres_range1(b2x, b2x, 3, s.mol, list, 0, 2);
                  get_pdb_index(s.mol, 3, "b2x", 2);
              }));
}

// ---- Real structures -------------------------------------------------------------------------------

// The identifier that names a residue's identity, or "" when the language cannot name it: a chain or
// insertion code that is not a letter A to Z, or (in an expression, where "-" separates) a negative number.
std::string identifier_of(const PDBRESI& r, bool in_expression) {
    auto nameable = [](char c) { return c == ' ' || (c >= 'A' && c <= 'Z'); };
    if (!nameable(r.rchain) || !nameable(r.rletter) || (in_expression && r.rnb < 0)) return "";
    std::string id;
    if (r.rchain != ' ') id += r.rchain;
    id += std::to_string(r.rnb);
    if (r.rletter != ' ') id += r.rletter;
    return id;
}

bool same_identity(const PDBRESI& a, const PDBRESI& b) {
    return a.rchain == b.rchain && a.rnb == b.rnb && a.rletter == b.rletter;
}

// The range from the first residue with f's identity to the first with l's at or after it, to the end
// when none follows, and nothing when f's identity does not occur.
Indices expected_range(const PDBMOL& mol, int max, const PDBRESI& f, const PDBRESI& l) {
    int p = 0;
    while (p < max && !same_identity(mol.r[static_cast<std::size_t>(p)], f))
        ++p;
    Indices out;
    for (int i = p; i < max; ++i) {
        out.push_back(i);
        if (same_identity(mol.r[static_cast<std::size_t>(i)], l)) break;
    }
    return out;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The selection and its NOT complement split residues 0 to max-1: both ascending, each index in exactly
// one of them.
void expect_partition(const Indices& sel, const Indices& rest, int max, const std::string& what) {
    std::vector<int> seen(static_cast<std::size_t>(max), 0);
    for (const Indices* part : {&sel, &rest}) {
        for (std::size_t k = 0; k < part->size(); ++k) {
            const int i = (*part)[k];
            ASSERT_TRUE(i >= 0 && i < max) << what << ": index " << i;
            if (k > 0) {
                EXPECT_LT((*part)[k - 1], i) << what << ": not ascending";
            }
            ++seen[static_cast<std::size_t>(i)];
        }
    }
    for (int i = 0; i < max; ++i)
        EXPECT_EQ(1, seen[static_cast<std::size_t>(i)]) << what << ": residue " << i;
}

class RealStructure : public testing::TestWithParam<std::string> {};

TEST_P(RealStructure, EveryFormAndItsComplementPartitionTheResidues) {
    PDBLINES set;
    ASSERT_GT(pdb_lines_from_file(GetParam().c_str(), set), 0);
    // Every model is loaded, so an ensemble repeats each identity once per model.
    const pdbtest::Loaded s = pdbtest::load(set, 1000);
    const PDBMOL& mol = s.mol;
    for (const int max : {s.result, s.result / 2}) {
        const std::string where = GetParam() + " max " + std::to_string(max);
        auto check = [&](const std::string& expr, const Indices* expected) {
            const Indices sel = select_with(expr, mol, max, 0);
            const Indices rest = select_with(expr, mol, max, 1);
            expect_partition(sel, rest, max, where + " '" + expr + "'");
            if (expected) {
                EXPECT_EQ(*expected, sel) << where << " '" << expr << "'";
            }
        };

        check("*", nullptr);
        for (char chain = 'A'; chain <= 'Z'; ++chain) {
            Indices members;
            for (int i = 0; i < max; ++i)
                if (mol.r[static_cast<std::size_t>(i)].rchain == chain) members.push_back(i);
            check(std::string(1, chain), &members);
            if (!members.empty()) check(std::string(1, static_cast<char>(chain - 'A' + 'a')), &members);
        }

        // Every nameable residue alone, and get_pdb_index on it.
        std::vector<int> named;
        for (int i = 0; i < max; ++i) {
            const PDBRESI& r = mol.r[static_cast<std::size_t>(i)];
            const std::string direct = identifier_of(r, false);
            if (!direct.empty()) {
                const int found = get_pdb_index(mol, max, direct, 0);
                EXPECT_TRUE(found >= i && same_identity(mol.r[static_cast<std::size_t>(found)], r))
                    << where << " index of " << direct;
                for (int k = found + 1; k < max; ++k)
                    EXPECT_FALSE(same_identity(mol.r[static_cast<std::size_t>(k)], r))
                        << where << " " << direct;
            }
            const std::string id = identifier_of(r, true);
            if (id.empty()) continue;
            named.push_back(i);
            const Indices first = expected_range(mol, max, r, r);
            check(i % 2 ? lower(id) : id, &first);
        }

        // Ranges between a sample of residues, in both orders, with every separator; also with a second
        // identifier that names no chain.
        std::vector<int> sample;
        const std::size_t step = named.size() / 10 + 1;
        for (std::size_t k = 0; k < named.size(); k += step)
            sample.push_back(named[k]);
        if (!named.empty()) sample.push_back(named.back());
        for (const int f : sample) {
            for (const int l : sample) {
                const PDBRESI& fr = mol.r[static_cast<std::size_t>(f)];
                const PDBRESI& lr = mol.r[static_cast<std::size_t>(l)];
                const Indices expected = expected_range(mol, max, fr, lr);
                for (const char* sep : {"-", ":", ",", " "}) {
                    const std::string expr = identifier_of(fr, true) + sep + identifier_of(lr, true);
                    check(expr, &expected);
                    check(lower(expr), &expected);
                }
                PDBRESI chainless = lr;
                chainless.rchain = ' ';
                const Indices to_chainless = expected_range(mol, max, fr, chainless);
                check(identifier_of(fr, true) + "-" + identifier_of(chainless, true), &to_chainless);
            }
        }
    }
}

std::vector<std::string> real_files() {
    std::vector<std::string> out;
    for (const auto& path : pdbtest::real_pdb_files())
        out.push_back(path.string());
    return out;
}

INSTANTIATE_TEST_SUITE_P(DataPdb, RealStructure, testing::ValuesIn(real_files()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = std::filesystem::path(info.param).stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(RealStructures, AreAllThere) {
    EXPECT_EQ(10u, real_files().size());
}

}  // namespace
