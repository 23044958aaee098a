#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "pdb8.h"

namespace {

TEST(PdbClassify, FormatAtmAlignsToTheFourColumns) {
    const std::pair<std::string, std::string> cases[] = {
        {"CA", " CA "},   {"N", " N  "},      {"OXT", " OXT"},    {"1HB", "1HB "},
        {"4HB", "4HB "},  {"5HB", " 5HB"},    {"HD21", "HD21"},   {" C A ", " CA "},
        {"'O5'", " O5 "}, {" CA \n", " CA "}, {"'1HB'", "1HB "},  {"O5'", " O5'"},
        {"", "    "},     {" '' ", "    "},   {"ABCDEF", "ABCD"}, {"\tCA", " \tCA"},
    };
    for (const auto& [in, want] : cases) {
        std::string out = "stale";
        EXPECT_EQ(format_atm(in, out, 0), 4) << '|' << in << '|';
        EXPECT_EQ(out, want) << '|' << in << '|';
    }
}

int nuc(std::string_view rname, int LEVEL) {
    PDBRESI res{};
    copy_field(res.rname, rname);
    return is_nuc(res, LEVEL);
}

TEST(PdbClassify, NamesAreClassified) {
    const struct {
        const char* what;
        int (*fn)(std::string_view, int);
        int want;
        std::vector<std::string> names;
    } cases[] = {
        {"hydrogen", is_hydrogen, 1, {"H", "HA", "  HD2", "D", "1HB", "2HD1", "3DG", "HXT-long-name"}},
        {"hydrogen", is_hydrogen, 0, {"4HB", " CA ", "", "   ", "1", "hA"}},
        {"nucleotide", nuc, 1, {"G", "+A", "+UX", "GUA", "INO"}},
        {"nucleotide", nuc, 0, {"DG", " A", "g", "GU", "", "+", "GG"}},
        {"amino acid", is_known_AA, 1, {"ALA", "TYR"}},
        {"amino acid", is_known_AA, 0, {"ALB", "ala", "AL", " ALA"}},
        {"file kind", is_pdb_cif, 1, {"1abc.pdb", "pdb1abc.ent", "x.pdb.gz", "a.cif.pdb", "my.entry.cif"}},
        {"file kind", is_pdb_cif, 2, {"1abc.cif"}},
        {"file kind", is_pdb_cif, 0, {"1ABC.PDB", "pdb"}},
    };
    for (const auto& c : cases) {
        for (const auto& name : c.names)
            EXPECT_EQ(c.fn(name, 0), c.want) << c.what << " |" << name << '|';
    }
}

TEST(PdbClassify, GetAchemFindsElementCodeAndNumber) {
    const struct {
        std::string aname, code;
        int number;
    } cases[] = {
        {" CA ", "C ", 6}, {" N  ", "N ", 7},  {"1HB ", "H ", 1}, {" O", "O ", 8},   {"CL", "CL", 17},
        {"SE", "SE", 34},  {"BR", "BR", 35},   {"FE", "FE", 0},   {"HD21", "D ", 0}, {"SE  ", "E ", 0},
        {" P", "P ", 15},  {" S  ", "S ", 16}, {"C", "C ", 6},    {"", "", 0},       {"cl", "cl", 0},
    };
    for (const auto& c : cases) {
        std::string code = "stale";
        EXPECT_EQ(get_achem(c.aname, code, 0), c.number) << '|' << c.aname << '|';
        EXPECT_EQ(code, c.code) << '|' << c.aname << '|';
    }
}

TEST(PdbClassify, TraceLinesFollowTheLevel) {
    std::string out;
    for (const int quiet : {0, 1}) {
        testing::internal::CaptureStdout();
        format_atm("ABCDE", out, 4 - quiet);
        nuc("GUA", 3 - quiet);
        is_hydrogen(" HA", 3 - quiet);
        get_achem(" CA ", out, 3 - quiet);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  quiet ? ""
                        : "Entering in format_atm\nInput atom= |ABCDE|  New atom= |ABCD|   length=5\n"
                          "Entering into is_nuc and res.rname=|GUA|\n"
                          "Entering into is_hydrogen and aname=| HA|\n"
                          "Entering into get_achem and aname=| CA |\n");
    }
}

// Every atom of the twenty amino acids in the real files comes back from format_atm exactly as stored in
// columns 13-16, and is_known_AA accepts those residue names and no other name found in columns 18-20.
TEST(PdbClassify, RealFilesRoundTripAtomNamesAndResidues) {
    const std::set<std::string> amino_acids{"ALA", "CYS", "ASP", "GLU", "PHE", "GLY", "HIS",
                                            "ILE", "LYS", "LEU", "MET", "ASN", "PRO", "GLN",
                                            "ARG", "SER", "THR", "VAL", "TRP", "TYR"};
    int atoms = 0;
    std::set<std::string> others;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(VOXMOL_TEST_DATA) + "/pdb")) {
        if (entry.path().extension() != ".pdb") continue;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            if ((line.rfind("ATOM  ", 0) != 0 && line.rfind("HETATM", 0) != 0) || line.size() < 20) continue;
            const std::string stored = line.substr(12, 4), rname = line.substr(17, 3);
            const std::string where = entry.path().filename().string() + ": " + line;
            const bool standard = amino_acids.count(rname) == 1;
            EXPECT_EQ(is_known_AA(rname, 0), standard ? 1 : 0) << where;
            if (!standard) {
                others.insert(rname);
                continue;
            }
            std::string aligned, name = stored;
            name.erase(0, name.find_first_not_of(' '));
            name.erase(name.find_last_not_of(' ') + 1);
            format_atm(name, aligned, 0);
            EXPECT_EQ(aligned, stored) << where;
            ++atoms;
        }
    }
    EXPECT_GT(atoms, 9000);  // the files were found and read
    EXPECT_TRUE(others.count("HOH") && others.count("MSE") && others.count(" DA") && others.count("LK "));
}

}  // namespace
