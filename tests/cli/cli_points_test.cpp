// The extension arguments seen from outside: how they are told from the one-letter options, where the
// output goes, and every kind of bad input ending in the error block with nothing written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;
using clitest::has_line;
using Files = std::vector<std::pair<std::string, std::string>>;

// A 3 x 3 x 3 grid of 1 A steps from the origin, values 0 to 2.6 by 0.1 in walk order.
std::string grid_text() {
    std::string text = "0 0 0 2 2 2 27 8 3 3 3 0 0 0 2 2 2\n";
    for (int n = 0; n < 27; ++n)
        text += std::to_string(n * 0.1) + "\n";
    return text;
}

// Two atoms: one at the grid's corner (0, 0, 0) in residue A1, one at (2, 2, 2) in residue A2.
const std::string kProtein =
    "ATOM      1  N   GLY A   1       0.000   0.000   0.000  1.00  0.00           N\n"
    "ATOM      2  CA  GLY A   2       2.000   2.000   2.000  1.00  0.00           C\n"
    "END\n";

const Files kFiles = {{"grid.txt", grid_text()},
                      {"protein.pdb", kProtein},
                      {"empty.pdb", ""},
                      {"words.pdb", "HEADER    NOTHING HERE\nEND\n"}};

CliRun run(std::vector<std::string> args) {
    args.insert(args.begin(), "grid.txt");
    return clitest::run_voxmol(args, kFiles);
}

std::vector<std::string> atom_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (text.compare(at, 4, "ATOM") == 0) lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

TEST(CliPoints, BadInputEndsWithTheErrorBlockAndWritesNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::string where = "MAIN:VOXDEN";
    };
    const Case cases[] = {
        {{"--near=missing.pdb:3"}, "I cannot read the structure file missing.pdb: No such file or directory"},
        {{"--near=empty.pdb:3"}, "The structure file empty.pdb holds no ATOM or HETATM record"},
        {{"--outside=words.pdb:3"}, "The structure file words.pdb holds no ATOM or HETATM record"},
        {{"--near=protein.pdb:abc"}, "--near=protein.pdb:abc: \"abc\" is not a number"},
        {{"--near=protein.pdb:3A"}, "--near=protein.pdb:3A: \"3A\" is not a number"},
        {{"--outside=protein.pdb:"}, "--outside=protein.pdb:: \"\" is not a number"},
        {{"--near=protein.pdb:nan"}, "--near=protein.pdb:nan: \"nan\" is not a finite number"},
        {{"--near=protein.pdb"}, "--near=protein.pdb: no distance after the file (FILE:R)"},
        {{"--near=:2"}, "--near=:2: no structure file before the distance (FILE:R)"},
        {{"--near=protein.pdb:-1"}, "--near: the distance -1 is negative"},
        {{"--outside=protein.pdb:-0.5"}, "--outside: the distance -0.5 is negative"},
        {{"--box=0,0,0,1,1"}, "--box=0,0,0,1,1: six numbers are needed, x0,y0,z0,x1,y1,z1, not 5"},
        {{"--box=0,0,0,1,1,1,1"}, "--box=0,0,0,1,1,1,1: six numbers are needed, x0,y0,z0,x1,y1,z1, not 7"},
        {{"--box=0,0,x,1,1,1"}, "--box=0,0,x,1,1,1: \"x\" is not a number"},
        {{"--box=0,2,0,1,1,1"}, "--box: y0 2 lies above y1 1"},
        {{"--residues=A1"}, "--residues=A1 needs --near: it names the atoms --near measures from"},
        {{"--near=protein.pdb:1", "--residues=A99"},
         "The residue selection A99 selects no residue of protein.pdb"},
        {{"--near=protein.pdb:1", "--residues=!*"},
         "The residue selection !* selects no residue of protein.pdb"},
        {{"--near=protein.pdb:1", "--residues=A1-A2-A3"},
         "Error in the split residue selection",
         "SUB:READ_RES_PATTERN"},
        {{"--element=XYZ"}, "--element=XYZ: an element symbol is one or two letters"},
        {{"--element=C1"}, "--element=C1: an element symbol is one or two letters"},
        {{"--out=nowhere/grid.pdb"}, "--out=nowhere/grid.pdb: the folder nowhere does not exist"},
        {{"--out="}, "--out=: no output file named"},
        {{"--out=grid.txt"}, "The output file would overwrite the input data file"},
        {{"--near=protein.pdb:2", "--out=protein.pdb"},
         "The output file would overwrite the structure file protein.pdb"},
        {{"--pml", "--out=-"}, "--pml writes its script beside the output file: --out=- names none"},
        {{"--cif=yes"}, "--cif=yes: --cif takes no value"},
        {{"--box"}, "--box: a value is needed: --box=..."},
    };
    for (const Case& c : cases) {
        std::string args;
        for (const auto& a : c.args)
            args += a + " ";
        const CliRun r = run(c.args);
        EXPECT_EQ(r.status, 1) << args;
        const bool to_stderr = args.find("--out=- ") != std::string::npos;
        EXPECT_TRUE((to_stderr ? r.err : r.out).ends_with(clitest::fatal(c.message, c.where)))
            << args << "\n"
            << r.out << r.err;
        EXPECT_TRUE(r.written.empty()) << args << ": " << r.written.begin()->first;
    }
}

TEST(CliPoints, ExtensionArgumentsAreNotScannedForOptions) {
    // "--out=my-data.pdb" holds "-d" but sets no grid size; "--near=run-t.pdb:..." holds "-t".
    const CliRun r = run({"--out=my-data.pdb", "-t", "1", "2"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has_line(r.out, "Grid size: X=128  Y=128  Z=128"));
    EXPECT_EQ(r.written.size(), 1u);
    EXPECT_EQ(atom_lines(r.written.at("my-data.pdb")).size(), 11u);  // values 1.0 to 2.0

    // "--threshold" is no extension argument: still -t. An unknown "--name=value" is reported and
    // scanned as before: "--step=-r" is -r, taking the next argument.
    const CliRun t = run({"--threshold", "1", "2", "--step=-r", "2"});
    ASSERT_EQ(t.status, 0) << t.out;
    EXPECT_TRUE(t.out.starts_with("WARNING: unknown option --step ignored\n")) << t.out;
    EXPECT_TRUE(has_line(t.out, "Resolution set to: High"));
    EXPECT_EQ(atom_lines(t.written.at("grid.pdb")).size(), 5u);

    // Extension arguments count toward the 15.
    std::vector<std::string> sixteen;
    for (int i = 0; i < 15; ++i)
        sixteen.push_back("--cif");
    const CliRun many = run(sixteen);
    EXPECT_EQ(many.status, 1);
    EXPECT_TRUE(many.written.empty());
    sixteen.pop_back();
    EXPECT_EQ(run(sixteen).status, 0);
}

TEST(CliPoints, WhereTheOutputGoes) {
    // Beside the input, its extension cif for mmCIF; an --out ending in .cif or .mmcif is mmCIF too.
    const CliRun cif = run({"--cif", "-l", "1"});
    ASSERT_EQ(cif.status, 0);
    ASSERT_EQ(cif.written.count("grid.cif"), 1u);
    EXPECT_TRUE(cif.written.at("grid.cif").starts_with("data_grid\n"));
    const CliRun mmcif = run({"--out=points.MMCIF", "-l", "1"});
    EXPECT_TRUE(mmcif.written.at("points.MMCIF").starts_with("data_points\n"));

    // Standard output: the records alone; every message on standard error.
    const CliRun plain = run({"-t", "0.5", "1.5"});
    const CliRun piped = run({"-t", "0.5", "1.5", "--out=-"});
    ASSERT_EQ(piped.status, 0);
    EXPECT_TRUE(piped.written.empty());
    EXPECT_EQ(piped.out, plain.written.at("grid.pdb"));
    EXPECT_TRUE(has_line(piped.err, "Name of output file is: -"));
    EXPECT_TRUE(has_line(piped.err, "Writing to dx file : Done"));
}

TEST(CliPoints, ShellElementCountAndScript) {
    // Points within 1.8 A of an atom but beyond 1 A of both: the shell around (0, 0, 0) and (2, 2, 2).
    const CliRun r =
        run({"-t", "-9", "9", "--near=protein.pdb:1.8", "--outside=protein.pdb:1", "--element=x", "--pml"});
    ASSERT_EQ(r.status, 0) << r.out;
    const auto lines = atom_lines(r.written.at("grid.pdb"));
    // Every point whose distance to the nearer atom lies in (1, 1.8]: sqrt(2) or sqrt(3) in whole steps.
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                auto shell = [&](int a) { return (i - a) * (i - a) + (j - a) * (j - a) + (k - a) * (k - a); };
                const int d0 = shell(0), d2 = shell(2);
                const bool near = d0 <= 3 || d2 <= 3, inside = d0 <= 1 || d2 <= 1;
                if (near && !inside)
                    expected.push_back(std::to_string(i) + std::to_string(j) + std::to_string(k));
            }
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t n = 0; n < lines.size(); ++n) {
        EXPECT_EQ(lines[n].size(), 78u);
        EXPECT_EQ(lines[n].substr(76), " X");
        const std::string ijk = {lines[n][33], lines[n][41], lines[n][49]};  // the units digit of x, y, z
        EXPECT_EQ(ijk, expected[n]) << lines[n];
    }
    const std::string done = "Writing to dx file : Done\n\n";
    const std::string count = "Points written: " + std::to_string(expected.size()) +
                              " of 27 in the window (" + std::to_string(expected.size()) +
                              ".0 \u00c5\u00b3)\n";
    EXPECT_NE(r.out.find(done + count), std::string::npos) << r.out;

    const std::string& script = r.written.at("grid.pdb.pml");
    EXPECT_NE(script.find("set connect_mode, 1\nload \"/"), std::string::npos) << script;
    EXPECT_NE(script.find("/grid.pdb\", points\n"), std::string::npos);
    EXPECT_NE(script.find("/protein.pdb\", structure\n"), std::string::npos);
    EXPECT_NE(script.find("spectrum b, red_white_blue, points, minimum=-"), std::string::npos);

    // A plain run prints no count; -l 1 prints none either.
    EXPECT_EQ(run({}).out.find("Points written"), std::string::npos);
    EXPECT_EQ(run({"--cif", "-l", "1"}).out.find("Points written"), std::string::npos);
}

TEST(CliPoints, SigmaResiduesAndBox) {
    // Values 0 to 2.6: mean 1.3, population sigma sqrt((27^2 - 1) / 12) * 0.1 = 0.7789...; within one
    // sigma lie 0.6 to 2.0, 15 points.
    const CliRun sigma = run({"-t", "-1", "1", "--sigma"});
    ASSERT_EQ(sigma.status, 0) << sigma.out;
    EXPECT_EQ(atom_lines(sigma.written.at("grid.pdb")).size(), 15u);
    EXPECT_TRUE(has_line(sigma.out, "Mean of the grid= 1.3  Standard deviation= 0.778888  (27 values)"));

    // Only residue A2's atom, at (2, 2, 2), within 1 A: 4 points; !A2 takes the other atom.
    const CliRun a2 = run({"-t", "-9", "9", "--near=protein.pdb:1", "--residues=A2"});
    const auto near_a2 = atom_lines(a2.written.at("grid.pdb"));
    ASSERT_EQ(near_a2.size(), 4u);
    EXPECT_EQ(near_a2[3].substr(30, 24), "   2.000   2.000   2.000");
    const CliRun not_a2 = run({"-t", "-9", "9", "--near=protein.pdb:1", "--residues=!A2"});
    const auto near_a1 = atom_lines(not_a2.written.at("grid.pdb"));
    ASSERT_EQ(near_a1.size(), 4u);
    EXPECT_EQ(near_a1[0].substr(30, 24), "   0.000   0.000   0.000");

    // The box's bounds are inclusive: x from 1 to 2, y and z exactly 0.
    const CliRun box = run({"-t", "-9", "9", "--box=1,0,0,2,0,0"});
    const auto in_box = atom_lines(box.written.at("grid.pdb"));
    ASSERT_EQ(in_box.size(), 2u);
    EXPECT_EQ(in_box[0].substr(30, 24), "   1.000   0.000   0.000");
}

}  // namespace
