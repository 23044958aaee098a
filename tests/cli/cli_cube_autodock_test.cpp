// Gaussian cube files and AutoDock maps given to the built voxmol: the format line, the warnings, the
// records written, and every kind of bad file, each refused with its message and no output file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;
using clitest::ends_with;
using clitest::fatal;
using clitest::gzip;
using clitest::has_line;

// Points 2 x 1 x 3, steps of 0.5 Bohr, one atom, values 1 to 6 in walk order.
const std::string kCube =
    "cube written by hand\n"
    "OUTER LOOP: X, MIDDLE LOOP: Y, INNER LOOP: Z\n"
    "    1    0.000000    0.000000    0.000000\n"
    "    2    0.500000    0.000000    0.000000\n"
    "    1    0.000000    0.500000    0.000000\n"
    "    3    0.000000    0.000000    0.500000\n"
    "    8    8.000000    0.000000    0.000000    0.000000\n"
    " 1.0 2.0 3.0\n"
    " 4.0 5.0 6.0\n";

// The orbital form: a negative atom count, then the orbital list after the atom line; three values a
// point, of which the first (orbital 12) is read.
const std::string kOrbitalCube =
    "orbitals\n"
    "MO coefficients\n"
    "   -1    0.000000    0.000000    0.000000\n"
    "    1    0.500000    0.000000    0.000000\n"
    "    1    0.000000    0.500000    0.000000\n"
    "    2    0.000000    0.000000    0.500000\n"
    "    8    8.000000    0.000000    0.000000    0.000000\n"
    "    3   12   13   14\n"
    " 1.0 -1.0 -1.0 2.0 -1.0 -1.0\n";

// The value lines 1.000 to count.000, one a line.
std::string map_values(int count) {
    std::string v;
    for (int n = 1; n <= count; ++n)
        v += std::to_string(n) + ".000\n";
    return v;
}
// NELEMENTS 2 2 2: 3 x 3 x 3 points around CENTER, values 1 to 27 listed x fastest.
const std::string kMapHeader =
    "GRID_PARAMETER_FILE receptor.gpf\n"
    "GRID_DATA_FILE receptor.maps.fld\n"
    "MACROMOLECULE receptor.pdbqt\n"
    "SPACING 0.500\n"
    "NELEMENTS 2 2 2\n"
    "CENTER 0.000 0.000 0.000\n";
const std::string kMap = kMapHeader + map_values(27);

// `text` with its line `n` (from 1) replaced by `line`, or removed when `line` is empty.
std::string with_line(const std::string& text, int n, const std::string& line) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i)
        start = text.find('\n', start) + 1;
    const std::size_t end = text.find('\n', start) + 1;
    return text.substr(0, start) + (line.empty() ? "" : line + "\n") + text.substr(end);
}

TEST(CliCubeAutoDock, FormatLineAndWarnings) {
    struct Case {
        const char* name;
        std::string file, content;
        std::vector<std::string> lines;  // expected among the lines of standard output
    };
    const Case cases[] = {
        {"cube in Bohr",
         "x.cube",
         kCube,
         {"Grid format: Gaussian cube, Bohr", "Dimensions: X= 2   Y= 1   Z= 3"}},
        {"cube in Ångström, short ending",
         "x.cub",
         with_line(with_line(with_line(kCube, 4, "   -2 0.5 0 0"), 5, "   -1 0 0.5 0"), 6, "   -3 0 0 0.5"),
         {"Grid format: Gaussian cube, Ångström", "Spacing of the grid= 0.50 0.50 0.50"}},
        {"orbitals",
         "x.cube",
         kOrbitalCube,
         {"WARNING: The cube file holds 3 orbitals per point; only the first (orbital 12) is read"}},
        {"orbital list over two lines",
         "x.cube",
         with_line(kOrbitalCube, 8, "    3   12\n   13   14"),
         {"WARNING: The cube file holds 3 orbitals per point; only the first (orbital 12) is read"}},
        {"one orbital",
         "x.cube",
         with_line(with_line(kOrbitalCube, 8, "    1   7"), 9, " 1.0 2.0"),
         {"Grid format: Gaussian cube, Bohr"}},
        {"two values per point",
         "x.cube",
         with_line(with_line(with_line(kCube, 9, ""), 3, "    1    0.0 0.0 0.0    2"), 8,
                   " 1 9 2 9 3 9\n 4 9 5 9 6 9"),
         {"WARNING: The cube file holds 2 values per point; only the first is read"}},
        {"AutoDock map",
         "x.map",
         kMap,
         {"Grid format: AutoDock map", "Min= -0.500 -0.500 -0.500   Max=  0.500  0.500  0.500"}},
        {"odd NELEMENTS",
         "x.map",
         with_line(kMapHeader, 5, "NELEMENTS 1 2 2") + map_values(18),
         {"WARNING: The AutoDock map's NELEMENTS 1 2 2 are not all even: the grid is centred on CENTER, "
          "which "
          "lies between points",
          "Min= -0.250 -0.500 -0.500   Max=  0.250  0.500  0.500"}},
        {"-o with a cube",
         "x.cube",
         kCube,
         {"WARNING: The -o option applies to voxmol's own grid format only; ignored for this Gaussian cube "
          "file"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {c.file, "-l", "2"};
        if (std::string(c.name) == "-o with a cube") args.insert(args.end(), {"-o", "ZYX"});
        const CliRun r = clitest::run_voxmol(args, {{c.file, c.content}});
        EXPECT_EQ(r.status, 0) << c.name << "\n" << r.out;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(has_line(r.out, line)) << c.name << ": " << line << "\n" << r.out;
        EXPECT_EQ(r.written.size(), 1u) << c.name;
    }
}

// A compressed cube keeps its ending before ".gz", which is how it is recognised.
TEST(CliCubeAutoDock, CompressedCube) {
    const CliRun r = clitest::run_voxmol({"x.cube.gz", "-l", "2"}, {{"x.cube.gz", gzip(kCube)}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has_line(r.out, "Grid format: Gaussian cube, Bohr, gzip")) << r.out;
    EXPECT_EQ(r.written.count("x.cube.pdb"), 1u);
}

// One grid, 3 x 3 x 3 points from -0.5 in steps of 0.5, as a cube in Ångström, as an AutoDock map and
// in voxmol's own format: the same records, byte for byte.
TEST(CliCubeAutoDock, TheSameGridInThreeFormatsWritesTheSameFile) {
    std::string walk_order;  // the map's values 1..27 (x fastest) in walk order (z fastest)
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                walk_order += std::to_string(1 + i + 3 * j + 9 * k) + "\n";
    const std::string cube =
        "same grid\n\n    0   -0.5 -0.5 -0.5\n   -3    0.5 0 0\n   -3    0 0.5 0\n   -3    0 0 0.5\n" +
        walk_order;
    const std::string native = "! same grid\n-0.5 -0.5 -0.5 0.5 0.5 0.5 0 0 3 3 3 0 0 0 0 0 0\n" + walk_order;
    const std::vector<std::string> window = {"-t", "1", "27", "-l", "1"};
    auto written = [&](const std::string& name, const std::string& content) {
        std::vector<std::string> args = {name};
        args.insert(args.end(), window.begin(), window.end());
        const CliRun r = clitest::run_voxmol(args, {{name, content}});
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
        const auto it = r.written.find("grid.pdb");
        return it == r.written.end() ? std::string() : it->second;
    };
    const std::string from_native = written("grid.txt", native);
    EXPECT_NE(from_native.find("ATOM     27 CA   UNK A   9       0.500   0.500   0.500  1.00 27.00"),
              std::string::npos)
        << from_native;
    EXPECT_EQ(written("grid.cube", cube), from_native);
    EXPECT_EQ(written("grid.map", kMap), from_native);
}

// A file of voxmol's own format stays one, whatever its name.
TEST(CliCubeAutoDock, NativeFileNamedCubeIsReadAsNative) {
    const std::string native = "! four points\n\n0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n0.5\n2.0\n-1.0\n1.0\n";
    const CliRun as_cube = clitest::run_voxmol({"grid.cube", "-l", "2"}, {{"grid.cube", native}});
    const CliRun as_text = clitest::run_voxmol({"grid.txt", "-l", "2"}, {{"grid.txt", native}});
    EXPECT_EQ(as_cube.status, 0);
    EXPECT_EQ(as_cube.out.find("Grid format"), std::string::npos) << as_cube.out;
    EXPECT_EQ(as_cube.written.at("grid.pdb"), as_text.written.at("grid.pdb"));
}

TEST(CliCubeAutoDock, BadFiles) {
    struct Case {
        const char* name;
        std::string file, content, message;
    };
    const std::string big = "3000000000 0.5 0 0";
    const Case cases[] = {
        // Gaussian cube
        {"cube values truncated", "x.cube", with_line(kCube, 9, ""),
         "The cube file ends after 3 of 6 values"},
        {"orbital values truncated", "x.cube", with_line(kOrbitalCube, 9, " 1 2 3 4 5"),
         "The cube file ends after 5 of 6 values (3 per point)"},
        {"cube value not a number", "x.cube", with_line(kCube, 9, " 4.0 five 6.0"),
         "Value 5 of 6 in the cube file (line 9) is not a number: \"five\""},
        {"cube value with a trailing letter", "x.cube", with_line(kCube, 8, " 1.0 2.0x 3.0"),
         "Value 2 of 6 in the cube file (line 8) is not a number: \"2.0x\""},
        {"cube values beyond the header's count", "x.cube", kCube + " 7.0\n",
         "The cube file holds more than the 6 values its header gives: line 10 holds a value"},
        {"cube text after the values", "x.cube", kCube + "end\n",
         "The cube file holds more than the 6 values its header gives: line 10 holds \"end\""},
        {"cube zero dimension", "x.cube", with_line(kCube, 5, "    0    0.0 0.5 0.0"),
         "The cube file gives 0 points along its second axis"},
        {"cube counts of both signs", "x.cube", with_line(kCube, 6, "   -3    0.0 0.0 0.5"),
         "The cube file's point counts 2, 1 and -3 differ in sign: whether it is in Bohr or in Ångström is "
         "unclear"},
        {"cube count beyond the int range", "x.cube", with_line(kCube, 4, big),
         "The cube file's point count 3000000000 along its first axis is beyond the int range"},
        {"cube axis line with an extra word", "x.cube", with_line(kCube, 5, "    1    0.0 0.5 0.0 0.0"),
         "Line 5 of the cube file should hold a point count and a step vector (n x y z): \"    1    0.0 0.5 "
         "0.0 "
         "0.0\""},
        {"cube axis not finite", "x.cube", with_line(kCube, 6, "    3    0.0 0.0 inf"),
         "Line 6 of the cube file gives a step vector that is not finite: \"    3    0.0 0.0 inf\""},
        {"cube grid beyond the range of numbers", "x.cube", with_line(kCube, 4, "    4    1.7e308 0.0 0.0"),
         "The cube file's grid reaches beyond the range of numbers"},
        {"cube origin not finite", "x.cube", with_line(kCube, 3, "    1    nan 0.0 0.0"),
         "The cube file's origin is not finite: \"    1    nan 0.0 0.0\""},
        {"cube atom line short", "x.cube", with_line(kCube, 7, "    8    8.0 0.0 0.0"),
         "Atom line 1 of 1 (line 7) of the cube file should hold 5 numbers: \"    8    8.0 0.0 0.0\""},
        {"cube ends in its atom lines", "x.cube", with_line(kCube, 3, "    9    0.0 0.0 0.0"),
         "Atom line 2 of 9 (line 8) of the cube file should hold 5 numbers: \" 1.0 2.0 3.0\""},
        {"cube file of nothing but a header", "x.cube", kCube.substr(0, kCube.find("    8    8.0")),
         "The cube file ends after 0 of its 1 atom lines"},
        {"cube values per point zero", "x.cube", with_line(kCube, 3, "    1    0.0 0.0 0.0    0"),
         "The cube file gives 0 values per point (line 3)"},
        {"cube orbitals and values per point", "x.cube", with_line(kOrbitalCube, 3, "   -1  0.0 0.0 0.0  2"),
         "The cube file gives both orbitals and 2 values per point: how its values are laid out is unclear"},
        {"cube orbital list missing", "x.cube", kOrbitalCube.substr(0, kOrbitalCube.find("    3   12")),
         "The cube file ends before its orbital list"},
        {"cube orbital list short", "x.cube", with_line(with_line(kOrbitalCube, 9, ""), 8, "    3   12   13"),
         "The cube file ends after 2 of its 3 orbital numbers"},
        {"cube orbital list not whole", "x.cube", with_line(kOrbitalCube, 8, "    3   12   13.5   14"),
         "The cube file's orbital list (line 8) holds something other than a whole number: \"13.5\""},
        {"cube orbital list too long", "x.cube", with_line(kOrbitalCube, 8, "    3   12   13   14   15"),
         "The cube file's orbital list (line 8) holds more than the 3 orbital numbers it announces"},
        {"cube zero orbitals", "x.cube", with_line(kOrbitalCube, 8, "    0"),
         "The cube file's orbital list gives 0 orbitals"},
        // AutoDock map
        {"map without SPACING", "x.map", with_line(kMap, 4, ""),
         "The AutoDock map's header has no SPACING line"},
        {"map without NELEMENTS", "x.map", with_line(kMap, 5, ""),
         "The AutoDock map's header has no NELEMENTS line"},
        {"map without CENTER", "x.map", with_line(kMap, 6, ""),
         "The AutoDock map's header has no CENTER line"},
        {"map SPACING zero", "x.map", with_line(kMap, 4, "SPACING 0"),
         "The AutoDock map's SPACING must be positive and finite: \"SPACING 0\""},
        {"map SPACING negative", "x.map", with_line(kMap, 4, "SPACING -0.375"),
         "The AutoDock map's SPACING must be positive and finite: \"SPACING -0.375\""},
        {"map SPACING without its number", "x.map", with_line(kMap, 4, "SPACING"),
         "The AutoDock map's SPACING line should hold one number: \"SPACING\""},
        {"map NELEMENTS zero", "x.map", with_line(kMap, 5, "NELEMENTS 2 0 2"),
         "The AutoDock map's NELEMENTS must be positive: \"NELEMENTS 2 0 2\""},
        {"map NELEMENTS not whole", "x.map", with_line(kMap, 5, "NELEMENTS 2 2.5 2"),
         "The AutoDock map's NELEMENTS line should hold three whole numbers: \"NELEMENTS 2 2.5 2\""},
        {"map NELEMENTS beyond the int range", "x.map", with_line(kMap, 5, "NELEMENTS 2 2147483647 2"),
         "The AutoDock map's NELEMENTS are beyond the int range: \"NELEMENTS 2 2147483647 2\""},
        {"map CENTER short", "x.map", with_line(kMap, 6, "CENTER 1.0 2.0"),
         "The AutoDock map's CENTER line should hold three numbers: \"CENTER 1.0 2.0\""},
        {"map CENTER not finite", "x.map", with_line(kMap, 6, "CENTER 1.0 nan 2.0"),
         "The AutoDock map's CENTER must be finite: \"CENTER 1.0 nan 2.0\""},
        {"map SPACING twice", "x.map", with_line(kMap, 3, "SPACING 0.375"),
         "The AutoDock map's header gives SPACING twice (lines 3 and 4)"},
        {"map grid beyond the range of numbers", "x.map", with_line(kMap, 4, "SPACING 1e308"),
         "The AutoDock map's SPACING and NELEMENTS give a grid beyond the range of numbers"},
        {"map header line that is no keyword", "x.map", with_line(kMap, 3, "macromolecule receptor.pdbqt"),
         "Line 3 of the AutoDock map is neither a header line nor a value: \"macromolecule receptor.pdbqt\""},
        {"map values truncated", "x.map", kMapHeader + map_values(20),
         "The AutoDock map ends after 20 of 27 values"},
        {"map value not a number", "x.map", with_line(kMap, 10, "-"),
         "Value 4 of 27 in the AutoDock map (line 10) is not a number: \"-\""},
        {"map values beyond NELEMENTS", "x.map", kMap + "28.000\n",
         "The AutoDock map holds more than the 27 values its NELEMENTS give: line 34 holds a value"},
    };
    for (const auto& c : cases) {
        const CliRun r = clitest::run_voxmol({c.file, "-l", "1"}, {{c.file, c.content}});
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.out;
        EXPECT_TRUE(ends_with(r.out, fatal(c.message))) << c.name << "\n" << r.out;
        EXPECT_TRUE(r.written.empty()) << c.name;
        EXPECT_EQ(r.err, "") << c.name;
    }
}

}  // namespace
