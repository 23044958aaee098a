#include <gtest/gtest.h>

#include <string>

#include "string_tool2.h"

namespace {

struct NameCase {
    const char* input;
    const char* expected;
    int length;
};

TEST(GetExtname, TakesTheTextAfterTheLastSeparator) {
    const NameCase cases[] = {
        {"grid.txt", "txt", 3},     {"archive.tar.gz", "gz", 2}, {"grid", "grid", 4}, {"grid.", "", 0},
        {".profile", "profile", 7}, {"run.d/grid", "d/grid", 6}, {"", "", 0},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(get_extname(c.input, '.', out), c.length) << c.input;
        EXPECT_EQ(out, c.expected) << c.input;
    }
}

TEST(RemovePath, KeepsTheBaseName) {
    const NameCase cases[] = {
        {"a/b/c.pdb", "c.pdb", 5}, {"c.pdb", "c.pdb", 5}, {"a/b/", "", 0}, {"/", "", 0}, {"/x", "x", 1},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(remove_path(c.input, out), c.length) << c.input;
        EXPECT_EQ(out, c.expected) << c.input;
    }
}

TEST(GetOutputname, ReplacesTheLastCharactersWhenTheExtensionOccurs) {
    struct Case {
        const char *input, *extin, *extout, *expected;
    };
    const Case cases[] = {
        {"grid.txt", "txt", "pdb", "grid.pdb"},
        {"txt.dat", "txt", "pdb", "txt.pdb"},  // found at the start, the last three are replaced
        {"grid.dat", "txt", "pdb", "grid.datpdb"},
        {"grid.txt", "", "pdb", "grid.txtpdb"},
        {"grid", "grid", "pdb", "pdb"},
        {"grid.", "", "pdb", "grid.pdb"},
        {"run.d/grid", "d/grid", "pdb", "run.pdb"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(get_outputname(c.input, c.extin, c.extout, out),
                  static_cast<int>(std::string(c.expected).size()))
            << c.input;
        EXPECT_EQ(out, c.expected) << c.input << " " << c.extin;
    }
}

TEST(GetOutputname, OutputMayBeTheInput) {
    std::string name = "runs/grid.dat";
    std::string ext;
    get_extname(name, '.', ext);
    get_outputname(name, ext, "pdb", name);
    EXPECT_EQ(name, "runs/grid.pdb");
}

TEST(FileNames, NamesLongerThanAnyOldBufferAreKeptWhole) {
    const std::string dir(700, 'd');
    const std::string name = dir + "/" + std::string(600, 'g') + ".dat";
    std::string ext, out, base;
    EXPECT_EQ(get_extname(name, '.', ext), 3);
    EXPECT_EQ(get_outputname(name, ext, "pdb", out), static_cast<int>(name.size()));
    EXPECT_EQ(out, dir + "/" + std::string(600, 'g') + ".pdb");
    EXPECT_EQ(remove_path(name, base), 604);
}

TEST(GetSegidFromName, SixBlanksThenFourCharactersOfTheBaseName) {
    const NameCase cases[] = {
        {"/data/1abc_model.pdb", "      1abc", 0},
        {"/data/ab", "      ab", 0},
        {"xyz", "      xyz", 0},
        {"dir/", "      ", 0},
    };
    for (const auto& c : cases) {
        std::string out;
        get_segid_from_name(c.input, out, 0);
        EXPECT_EQ(out, c.expected) << c.input;
    }
}

}  // namespace
