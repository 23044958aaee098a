// OpenDX files given to the built voxmol: the run's messages, the records it writes (the same as for
// the same grid in voxmol's own format), and one fatal error for each kind of bad OpenDX input.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;
using clitest::ends_with;
using clitest::fatal;
using clitest::gzip;
using clitest::has_line;
using Files = std::vector<std::pair<std::string, std::string>>;

// A 2 x 3 x 4 grid at (1.5, -2, 0.25) with steps 0.5, 0.25 and 1 along x, y and z; its values run from
// -1.15 to 1.15 in steps of 0.1, in walk order.
const std::string kHeader =
    "# a small grid\n"
    "object 1 class gridpositions counts 2 3 4\n"
    "origin 1.5 -2 0.25\n"
    "delta 0.5 0 0\n"
    "delta 0 0.25 0\n"
    "delta 0 0 1\n"
    "object 2 class gridconnections counts 2 3 4\n";
const std::string kArray = "object 3 class array type double rank 0 items 24 data follows\n";

// The values' texts, -1.15 to 1.15.
std::vector<std::string> value_texts() {
    std::vector<std::string> texts;
    for (int n = 0; n < 24; ++n) {
        char text[16];
        std::snprintf(text, sizeof text, "%.2f", -1.15 + 0.1 * n);
        texts.push_back(text);
    }
    return texts;
}

// Three values to a line, as APBS writes them.
std::string value_lines(std::size_t count) {
    std::string lines;
    const auto texts = value_texts();
    for (std::size_t n = 0; n < count; ++n)
        lines += texts[n] + (n % 3 == 2 || n + 1 == count ? "\n" : " ");
    return lines;
}

const std::string kValues = value_lines(24);
const std::string kTrailer =
    "attribute \"dep\" string \"positions\"\n"
    "object \"small\" class field\n"
    "component \"positions\" value 1\n"
    "component \"connections\" value 2\n"
    "component \"data\" value 3\n";
const std::string kDx = kHeader + kArray + kValues + kTrailer;

// The same grid in voxmol's own format: bounds, counts, dimensions, origin and span, one value a line.
std::string native_grid() {
    std::string text = "! the small grid\n1.5 -2 0.25 2 -1.5 3.25 24 6 2 3 4 1.5 -2 0.25 0.5 0.5 3\n";
    for (const std::string& value : value_texts())
        text += value + "\n";
    return text;
}

// `text` with its first `from` replaced by `to`.
std::string with(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("no \"" + from + "\" in the test text");
    return text.replace(at, from.size(), to);
}

// The first `count` values as little-endian IEEE doubles.
std::string lsb_doubles(std::size_t count) {
    std::string bytes;
    const auto texts = value_texts();
    for (std::size_t n = 0; n < count; ++n) {
        const auto bits = std::bit_cast<std::uint64_t>(std::stod(texts[n]));
        for (int b = 0; b < 8; ++b)
            bytes.push_back(static_cast<char>(bits >> (8 * b)));
    }
    return bytes;
}

std::string binary_dx(const std::string& modes, const std::string& type, const std::string& data) {
    return kHeader + "object 3 class array type " + type + " rank 0 items 24 " + modes + " data follows\n" +
           data + "\n" + kTrailer;
}

CliRun run(const std::vector<std::string>& args, const std::string& dx) {
    return clitest::run_voxmol(args, Files{{"grid.dx", dx}});
}

std::string atoms(const std::string& pdb) {
    std::string out;
    for (std::size_t at = pdb.find("ATOM"); at != std::string::npos; at = pdb.find("\nATOM", at + 1)) {
        if (pdb[at] == '\n') ++at;
        out += pdb.substr(at, pdb.find('\n', at) + 1 - at);
    }
    return out;
}

TEST(CliOpenDx, RunMessagesAtLevelTwo) {
    const CliRun r = run({"grid.dx", "-o", "zyx"}, kDx);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string expected =
        "I am reading the data file header:  grid.dx  ...........\n"
        "Grid format: OpenDX, text\n"
        "WARNING: The -o option applies to voxmol's own grid format only; ignored for this OpenDX file\n"
        "Dimensions: X= 2   Y= 3   Z= 4\n"
        "Min=  1.500 -2.000  0.250   Max=  2.000 -1.500  3.250\n"
        "Spacing of the grid= 0.50 0.25 1.00\n"
        "Dimension of data: X= 2 Y= 3 Z= 4 \n"
        "Time to read the data file : N sec\n"
        "[0]= -1.150000\n[1]= -1.050000\n[2]= -0.950000\n[3]= -0.850000\n"
        "Name of output file is: grid.pdb\n";
    EXPECT_NE(clitest::mask_seconds(r.out).find(expected), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(CliOpenDx, LevelOneNamesNoFormat) {
    const CliRun r = run({"grid.dx", "-l", "1"}, kDx);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Grid format"), std::string::npos) << r.out;
}

TEST(CliOpenDx, SameRecordsAsTheNativeFormat) {
    const CliRun native =
        clitest::run_voxmol({"grid.txt", "-t", "-1", "1"}, Files{{"grid.txt", native_grid()}});
    ASSERT_EQ(native.status, 0) << native.out;
    const std::string expected = atoms(native.written.at("grid.pdb"));
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 20);  // the 20 values inside [-1, 1]
    const struct {
        const char* name;
        std::string dx;
    } cases[] = {
        {"text", kDx},
        {"binary lsb double", binary_dx("lsb binary", "double", lsb_doubles(24))},
    };
    for (const auto& c : cases) {
        const CliRun r = run({"grid.dx", "-t", "-1", "1"}, c.dx);
        ASSERT_EQ(r.status, 0) << c.name << "\n" << r.out;
        EXPECT_EQ(atoms(r.written.at("grid.pdb")), expected) << c.name;
    }
}

TEST(CliOpenDx, BinaryFormatLineAndByteOrderWarning) {
    const CliRun given = run({"grid.dx"}, binary_dx("lsb ieee", "double", lsb_doubles(24)));
    ASSERT_EQ(given.status, 0) << given.out;
    EXPECT_TRUE(has_line(given.out, "Grid format: OpenDX, binary lsb double")) << given.out;
    EXPECT_EQ(given.out.find("WARNING"), std::string::npos) << given.out;

    const CliRun apbs = run({"grid.dx"}, binary_dx("binary", "double", lsb_doubles(24)));
    ASSERT_EQ(apbs.status, 0) << apbs.out;
    EXPECT_TRUE(has_line(apbs.out, "Grid format: OpenDX, binary lsb double")) << apbs.out;
    EXPECT_TRUE(has_line(apbs.out,
                         "WARNING: The OpenDX binary data do not give their byte order (msb or lsb): read as "
                         "lsb, the order APBS and VMD write"))
        << apbs.out;
    EXPECT_EQ(atoms(apbs.written.at("grid.pdb")), atoms(given.written.at("grid.pdb")));
}

TEST(CliOpenDx, RealApbsPotentialGzip) {
    const std::string dx =
        clitest::read_file(std::string(VOXMOL_TEST_DATA) + "/grids/apbs_ubiquitin_potential.dx.gz");
    const CliRun r = clitest::run_voxmol({"pot.dx.gz", "-t", "-1e30", "1e30"}, Files{{"pot.dx.gz", dx}});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has_line(r.out, "Grid format: OpenDX, text, gzip")) << r.out;
    EXPECT_TRUE(has_line(r.out, "Dimensions: X= 17   Y= 17   Z= 17")) << r.out;
    const std::string records = atoms(r.written.at("pot.dx.pdb"));
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 17 * 17 * 17);
}

// One fatal error per kind of bad OpenDX input: its message, exit status 1, no file written.
TEST(CliOpenDx, BadInputsAreFatal) {
    const std::string binary_array =
        "object 3 class array type double rank 0 items 24 lsb binary data follows\n";
    const std::string float_array =
        "object 3 class array type float rank 0 items 24 lsb binary data follows\n";
    const struct {
        const char* name;
        std::string dx;
        std::string message;
    } cases[] = {
        {"text ends early", kHeader + kArray + value_lines(10), "The OpenDX file ends after 10 of 24 values"},
        {"binary ends early", kHeader + binary_array + lsb_doubles(17) + "abc",
         "The OpenDX file ends after 17 of 24 values"},
        {"statement in place of a value", kHeader + kArray + value_lines(10) + kTrailer,
         "The OpenDX data array ends after 10 of 24 values (\"attribute\" follows)"},
        {"item count larger than the grid", with(kDx, "items 24", "items 25"),
         "The OpenDX data array has 25 items, but its grid of 2 x 3 x 4 points needs 24"},
        {"more values than items", with(kDx, "1.15\n", "1.15\n2.5\n"),
         "The OpenDX data array holds more values than its 24 items"},
        {"more values on the last line", with(kDx, "1.15\n", "1.15 2.5\n"),
         "The OpenDX data array holds more values than its 24 items"},
        {"binary data longer than said", kHeader + float_array + lsb_doubles(24) + kTrailer,
         "after its 24 values, where a statement was expected: the item count or data type is wrong"},
        {"value that is not a number", with(kDx, "-0.85", "-0.85x"),
         "The OpenDX data value 4 of 24 is not a number: \"-0.85x\""},
        {"data in another file", with(kDx, "data follows", "data file \"values.bin\",0"),
         "The OpenDX data lies in another file (\"data file\"): voxmol reads data that follows its header "
         "(\"data follows\")"},
        {"data at an offset", with(kDx, "data follows", "data 0"),
         "The OpenDX data lies at an offset in the file's data section: voxmol reads data that follows its "
         "header (\"data follows\")"},
        {"positions listed point by point",
         "object 1 class array type float rank 1 shape 3 items 8 data follows\n0 0 0\n",
         "The OpenDX data array has rank 1: voxmol reads one value per point (rank 0)"},
        {"positions as a product of arrays", "object 1 class productarray term 4 term 5 term 6\n",
         "The OpenDX positions are a productarray object: voxmol reads regular grids given as \"class "
         "gridpositions\""},
        {"a series of fields",
         with(kDx, "object 2 class gridconnections",
              "object 9 class series member 0 1\n"
              "object 2 class gridconnections"),
         "The OpenDX file holds a \"series\" object, which voxmol does not read: it reads one regular grid "
         "(\"class gridpositions\") with one array of values (line 7)"},
        {"count of 0", with(kDx, "counts 2 3 4\norigin", "counts 2 0 4\norigin"),
         "The OpenDX grid positions counts \"2 0 4\" must be whole numbers from 1 to 2147483647"},
        {"negative count", with(kDx, "counts 2 3 4\norigin", "counts -2 3 4\norigin"),
         "The OpenDX grid positions counts \"-2 3 4\" must be whole numbers from 1 to 2147483647"},
        {"two-dimensional grid", with(kDx, "counts 2 3 4\norigin", "counts 6 4\norigin"),
         "The OpenDX grid positions give 2 counts (\"6 4\"), not 3: voxmol reads 3-dimensional grids"},
        {"missing delta", with(kDx, "delta 0 0 1\n", ""),
         "The OpenDX grid positions give 2 delta lines, not 3 (one step vector per axis)"},
        {"missing origin", with(kDx, "origin 1.5 -2 0.25\n", ""), "The OpenDX grid positions give no origin"},
        {"delta of two numbers", with(kDx, "delta 0 0 1", "delta 0 1"),
         "The OpenDX delta has 2 numbers, not 3 (line 6)"},
        {"connections disagree", with(kDx, "gridconnections counts 2 3 4", "gridconnections counts 2 4 3"),
         "The OpenDX grid connections' counts 2 4 3 disagree with the grid positions' counts 2 3 4"},
        {"vectors at each point", with(kDx, "rank 0", "rank 1 shape 3"),
         "The OpenDX data array has rank 1: voxmol reads one value per point (rank 0)"},
        {"binary integers", binary_dx("lsb binary", "int", std::string(96, '\0')),
         "The OpenDX binary data are of type \"int\": voxmol reads binary data of type float or double"},
        {"text after data follows", with(kDx, "data follows\n", "data follows -1.15\n"),
         "The OpenDX file has more text on the line of \"data follows\" (line 8): the data starts on the "
         "next "
         "line"},
        {"field names another data array", with(kDx, "\"data\" value 3", "\"data\" value 4"),
         "The OpenDX field takes its data from object \"4\", not from the one voxmol read (object \"3\")"},
        {"no data array", kHeader,
         "The OpenDX file holds no data array (\"object ... class array ... data follows\")"},
        {"quote left open", with(kDx, "type double", "type \"double"),
         "The OpenDX header has a quote that does not close on its line (line 8)"},
    };
    for (const auto& c : cases) {
        const CliRun r = run({"grid.dx"}, c.dx);
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.out;
        EXPECT_NE(r.out.find("\n>ERROR IN MAIN:VOXDEN\n>ERRROR : The OpenDX "), std::string::npos) << c.name;
        EXPECT_NE(r.out.find(c.message + "\n\n"), std::string::npos) << c.name << "\n" << r.out;
        EXPECT_TRUE(r.written.empty()) << c.name;
    }
}

}  // namespace
