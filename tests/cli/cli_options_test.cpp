// The command line, the run's messages and its fatal errors, seen from outside: each case runs the
// built voxmol in a fresh folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;
using clitest::ends_with;
using clitest::has_line;
using Files = std::vector<std::pair<std::string, std::string>>;

// Four points in walk order with the values 0.5, 2.0, -1.0, 1.0.
const std::string kGrid =
    "! four points\n"
    "0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n"
    "0.5\n2.0\n-1.0\n1.0\n";

const std::string kRemarks =
    "REMARK  Generated from Cavora (https://cavora.bio/)\n"
    "REMARK               Transformed by voxmol \n"
    "REMARK  Please cite the Cavora web service (https://cavora.bio/)\n"
    "REMARK  This file can be read using VMD\n";

std::string atom(int serial, int point, const char* value) {
    char line[100];
    std::snprintf(line, sizeof line,
                  "ATOM  %5d CA   UNK A   1       0.000   0.000 %7.3f  1.00%6s            \n", serial,
                  static_cast<double>(point), value);
    return line;
}

// The file the default window writes for kGrid: points 0, 2 and 3.
const std::string kDefaultPdb = kRemarks + atom(1, 0, "0.50") + atom(2, 2, "-1.00") + atom(3, 3, "1.00");

CliRun run(std::vector<std::string> args, const Files& files = {{"grid.txt", kGrid}}) {
    return clitest::run_voxmol(args, files);
}

const std::string kUsageError =
    "         [-l %d] verbose LEVEL {2}\n\n\n>ERROR IN MAIN:VOXDEN\n>ERRROR : Incorrect input argument\n\n";

std::string fatal(const std::string& where, const std::string& message) {
    return "\n>ERROR IN " + where + "\n>ERRROR : " + message + "\n\n";
}

TEST(Cli, ArgumentCount) {
    std::vector<std::string> fifteen = {"grid.txt"};
    for (int i = 0; i < 7; ++i)
        fifteen.insert(fifteen.end(), {"-s", "1"});
    ASSERT_EQ(fifteen.size(), 15u);
    const CliRun ok = run(fifteen);
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.written.at("grid.pdb"), kDefaultPdb);

    std::vector<std::string> sixteen = fifteen;
    sixteen.push_back("1");
    for (const auto& args : {std::vector<std::string>{}, sixteen}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 1) << args.size() << " arguments";
        EXPECT_TRUE(ends_with(r.out, kUsageError)) << r.out;
        EXPECT_TRUE(r.written.empty());
    }
}

TEST(Cli, OptionsMissingTheirValuesAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"grid.txt", "-l"},
        {"grid.txt", "-t", "0"},
        {"grid.txt", "-d", "1", "2"},
        {"grid.txt", "-dz", "1", "2"},
        {"grid.txt", "-o"},
        {"grid.txt", "-l", "1", "-r"},
        {"grid.txt", "-t", "-1", "-s"},  // the value "-s" is itself an option, with nothing after it
    };
    for (const auto& args : cases) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 1) << args.back();
        EXPECT_TRUE(ends_with(r.out, kUsageError)) << r.out;
        EXPECT_TRUE(r.written.empty()) << args.back();
        EXPECT_EQ(r.err, "");
    }
}

TEST(Cli, OptionMatchingAndEcho) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> lines;  // whole lines expected in standard output
    };
    const Case cases[] = {
        {"-d values are truncated", {"-d", "10", "20", "30.9"}, {"Grid size: X=10  Y=20  Z=30"}},
        {"-d values are read as atof", {"-d", "1e3", "0x10", "-2.5"}, {"Grid size: X=1000  Y=16  Z=-2"}},
        {"-d values out of the int range saturate",
         {"-d", "inf", "-1e20", "nan"},
         {"Grid size: X=2147483647  Y=-2147483648  Z=0"}},
        {"-d only echoes; the header gives the grid",
         {"-d", "10", "20", "30"},
         {"Dimension of data: X= 1 Y= 1 Z= 4 "}},
        {"-o is upper-cased", {"-o", "zyx"}, {"Input data are in the order: ZYX"}},
        {"-r 2", {"-r", "2"}, {"Resolution set to: High"}},
        {"-r 3", {"-r", "3"}, {"Resolution set to: Med-High"}},
        {"-r 4", {"-r", "4"}, {"Resolution set to: Med"}},
        {"-r 5", {"-r", "5"}, {"Resolution set to: Low-Med"}},
        {"-r 6", {"-r", "6"}, {"Resolution set to: Low"}},
        {"-r 100", {"-r", "100"}, {"Resolution set to: Low"}},
        {"-r -3", {"-r", "-3"}, {"Resolution cannot be negative, set to 1", "Resolution set to: Max"}},
        {"-r beyond the int range", {"-r", "99999999999"}, {"Resolution set to: Low"}},
        {"-l takes the integer prefix", {"-l", "3abc"}, {"Debug option turned on"}},
        {"the last occurrence wins", {"-l", "1", "-l", "3"}, {"Debug option turned on"}},
        {"--level counts as -l", {"--level", "3"}, {"Debug option turned on"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"grid.txt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 0) << c.name;
        for (const auto& line : c.lines)
            EXPECT_TRUE(has_line(r.out, line)) << c.name << ": " << line << "\n" << r.out;
    }
}

TEST(Cli, OptionsThatChangeNothingWritten) {
    const std::vector<std::vector<std::string>> cases = {
        {"grid.txt", "-z", "1", "2", "3", "-s", "2.5"},
        {"grid.txt", "-d", "10", "20", "30"},
        {"grid.txt", "-o", "xyzzy"},  // only the first three characters name the ordering
        {"grid.txt", "-l", "0"},
        {"grid.txt", "-r", "0", "-l", "1"},  // a step below 1 is taken as 1 at every level
    };
    for (const auto& args : cases) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 0) << args[1];
        EXPECT_EQ(r.written.at("grid.pdb"), kDefaultPdb) << args[1];
    }
}

TEST(Cli, OptionValuesAreScannedAsEntriesToo) {
    // "--threshold" matches -t; the -o value "xyz-l" matches -l and takes "1" as the level, so the
    // run is quiet, and its first three characters still name the ordering XYZ.
    const CliRun r = run({"grid.txt", "--threshold", "0", "0.6", "-o", "xyz-l", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "[0]= 0.500000\n[1]= 2.000000\n[2]= -1.000000\n[3]= 1.000000\n"
              "\nWriting to dx file ...\nWriting to dx file : Done\n\n");
    EXPECT_EQ(r.written.at("grid.pdb"), kRemarks + atom(1, 0, "0.50"));
}

TEST(Cli, VerbosityLevels) {
    struct Case {
        const char* level;
        bool banner, debug, count;
    };
    const Case cases[] = {{"-5", false, false, false},
                          {"1", false, false, false},
                          {"2", true, false, false},
                          {"3", true, true, true},
                          {"9", true, true, true}};
    for (const auto& c : cases) {
        const CliRun r = run({"grid.txt", "-l", c.level});
        EXPECT_EQ(has_line(r.out, "                  Program VOXMOL version 0.1"), c.banner) << c.level;
        EXPECT_EQ(has_line(r.out, "Name of output file is: grid.pdb"), c.banner) << c.level;
        EXPECT_EQ(has_line(r.out, "Debug option turned on"), c.debug) << c.level;
        EXPECT_EQ(has_line(r.out, "I read : 4 values in the input file"), c.count) << c.level;
        EXPECT_TRUE(has_line(r.out, "[3]= 1.000000")) << c.level;
        EXPECT_TRUE(has_line(r.out, "Writing to dx file : Done")) << c.level;
        EXPECT_EQ(r.written.at("grid.pdb"), kDefaultPdb) << c.level;
    }
}

TEST(Cli, OutputNameFollowsTheLastDotOfTheBaseName) {
    struct Case {
        const char *data, *output;
        const char* file = nullptr;  // the data file's place in the folder, when the name is not it
    };
    const Case cases[] = {
        {"grid.dat", "grid.pdb"},
        {"runs/grid.dat", "runs/grid.pdb"},
        {"grid.", "grid.pdb"},
        {"run.d/grid", "run.d/grid.pdb"},  // a dot in a folder's name stays there
        {"proteins.v1/ligandgrid", "proteins.v1/ligandgrid.pdb"},
        {"grid", "grid.pdb"},
        {"./grid", "grid.pdb", "grid"},  // beside it, not a hidden ".pdb"
        {".hidden", ".hidden.pdb"},
        {"-l", "-l.pdb"},
        {"a.tar.gz", "a.tar.pdb"},
        {"run.d/g.dx", "run.d/g.pdb"},
    };
    for (const auto& c : cases) {
        const CliRun r = run({c.data, "-l", "1"}, {{c.file != nullptr ? c.file : c.data, kGrid}});
        EXPECT_EQ(r.status, 0) << c.data;
        ASSERT_EQ(r.written.size(), 1u) << c.data;
        EXPECT_EQ(r.written.count(c.output), 1u) << c.data;
    }
}

TEST(Cli, FatalErrors) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        Files files;
        std::string where, message;
    };
    const std::string header = "0 0 0 1 1 1 0 0 2 2 2 0 0 0 1 1 1\n";
    const Case cases[] = {
        {"missing data file", {"nothere.txt"}, {}, "MAIN:VOXDEN", "I cannot open the input data file"},
        {"a folder as data file",
         {"dir"},
         {{"dir/x", ""}},
         "MAIN:VOXDEN",
         "I cannot read the input data file"},
        {"no header",
         {"grid.txt"},
         {{"grid.txt", "! none\n1\n2\n"}},
         "MAIN:VOXDEN",
         "The data file holds no header line of 17 fields"},
        {"empty data file",
         {"grid.txt"},
         {{"grid.txt", ""}},
         "MAIN:VOXDEN",
         "The data file holds no header line of 17 fields"},
        {"negative dimension",
         {"grid.txt"},
         {{"grid.txt", "0 0 0 1 1 1 0 0 2 -2 2 0 0 0 1 1 1\n"}},
         "MAIN:VOXDEN",
         "The header of the data file gives a negative grid dimension"},
        {"grid too large for memory",
         {"grid.txt"},
         {{"grid.txt", "0 0 0 1 1 1 0 0 2000000 2000000 2000000 0 0 0 1 1 1\n"}},
         "MAIN:voxden",
         "=> Unable to allocate memory for the grid."},
        {"element count beyond 64 bits",
         {"grid.txt"},
         {{"grid.txt", "0 0 0 1 1 1 0 0 2147483647 2147483647 2147483647 0 0 0 1 1 1\n"}},
         "MAIN:voxden",
         "=> Unable to allocate memory for the grid."},
        {"unknown ordering",
         {"grid.txt", "-o", "abc"},
         {{"grid.txt", kGrid}},
         "MAIN:VOXDEN",
         "Unknown data ordering: use XYZ or ZYX"},
        {"ordering too short",
         {"grid.txt", "-o", "xy"},
         {{"grid.txt", kGrid}},
         "MAIN:VOXDEN",
         "Unknown data ordering: use XYZ or ZYX"},
        {"the data file is its own output name",
         {"grid.pdb"},
         {{"grid.pdb", kGrid}},
         "MAIN:VOXDEN",
         "The output file would overwrite the input data file"},
        {"the output name is a folder",
         {"grid.txt"},
         {{"grid.txt", kGrid}, {"grid.pdb/keep", "x"}},
         "MAIN:VOXDEN",
         "I cannot open the output data file"},
    };
    for (const auto& c : cases) {
        const CliRun r = run(c.args, c.files);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(ends_with(r.out, fatal(c.where, c.message))) << c.name << "\n" << r.out;
        EXPECT_TRUE(r.written.empty()) << c.name;
        EXPECT_EQ(r.err, "") << c.name;
    }
}

TEST(Cli, UnknownOrderingFailsBeforeTheDataFileIsRead) {
    const CliRun r = run({"grid.txt", "-o", "abc"});
    EXPECT_EQ(r.out.find("I am reading the data file header"), std::string::npos);
    EXPECT_TRUE(has_line(r.out, "Input data are in the order: ABC"));
}

TEST(Cli, AFullDiskIsAFailure) {
    const CliRun r = clitest::run_voxmol({"grid.txt", "-l", "1"}, {{"grid.txt", kGrid}}, [](const auto& dir) {
        std::filesystem::create_symlink("/dev/full", dir / "grid.pdb");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, fatal("MAIN:VOXDEN", "I cannot write the output data file"))) << r.out;
}

TEST(Cli, OutputLinkedToTheDataFileIsRefused) {
    const CliRun r = clitest::run_voxmol({"grid.txt", "-l", "1"}, {{"grid.txt", kGrid}}, [](const auto& dir) {
        std::filesystem::create_symlink("grid.txt", dir / "grid.pdb");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        ends_with(r.out, fatal("MAIN:VOXDEN", "The output file would overwrite the input data file")));
    EXPECT_TRUE(r.written.empty());  // grid.txt is unchanged
}

TEST(Cli, GridShapesAndValueLines) {
    struct Case {
        const char* name;
        std::string data;
        std::vector<std::string> args;
        std::string values_printed;  // the "[%d]= %f" lines
        std::string pdb;
    };
    const Case cases[] = {
        {"CRLF line ends",
         "! dos\r\n0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\r\n0.5\r\n2.0\r\n-1.0\r\n1.0\r\n",
         {},
         "[0]= 0.500000\n[1]= 2.000000\n[2]= -1.000000\n[3]= 1.000000\n",
         kDefaultPdb},
        // Appended: "!" + a temporary string makes GCC 12 warn (-Wrestrict, a false positive).
        {"a long comment and long padded lines",
         std::string("!").append(3000, '#') + "\n0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3" + std::string(900, ' ') +
             "\n0.5\n2.0" + std::string(1000, ' ') + "\n-1.0\n1.0\n",
         {},
         "[0]= 0.500000\n[1]= 2.000000\n[2]= -1.000000\n[3]= 1.000000\n",
         kDefaultPdb},
        {"C number forms",
         "0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n0x1p-1\ninf\n-1e0\n+1.\n",
         {},
         "[0]= 0.500000\n[1]= inf\n[2]= -1.000000\n[3]= 1.000000\n",
         kDefaultPdb},
        {"nan is outside every window",
         "0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\nnan\n2.0\n-1.0\n1.0\n",
         {"-t", "-inf", "inf"},
         "[0]= nan\n[1]= 2.000000\n[2]= -1.000000\n[3]= 1.000000\n",
         kRemarks + atom(1, 1, "2.00") + atom(2, 2, "-1.00") + atom(3, 3, "1.00")},
        {"missing values read as 0",
         "0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n0.5\n",
         {},
         "[0]= 0.500000\n[1]= 0.000000\n[2]= 0.000000\n[3]= 0.000000\n",
         kRemarks + atom(1, 0, "0.50") + atom(2, 1, "0.00") + atom(3, 2, "0.00") + atom(4, 3, "0.00")},
        {"a dimension of 0 walks nothing", "0 0 0 1 1 1 0 0 2 0 4 0 0 0 1 1 1\n", {}, "", kRemarks},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"grid.txt", "-l", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun r = run(args, {{"grid.txt", c.data}});
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.out, c.values_printed + "\nWriting to dx file ...\nWriting to dx file : Done\n\n")
            << c.name;
        EXPECT_EQ(r.written.at("grid.pdb"), c.pdb) << c.name;
    }
}

TEST(Cli, ExtraValuesAreReportedOnce) {
    const CliRun r = run({"grid.txt", "-l", "1"}, {{"grid.txt", kGrid + "7\n8\n"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has_line(r.out, "WARNING: 2 values beyond the 4 points of the grid were ignored"));
    EXPECT_EQ(r.written.at("grid.pdb"), kDefaultPdb);
}

TEST(Cli, OrderingZyxWritesTheSameRecordsFromValuesListedXFastest) {
    // A 2 x 2 x 1 grid: z fastest the values are a, b, c, d for (0,0), (0,1), (1,0), (1,1); listed x
    // fastest the same grid reads a, c, b, d.
    const std::string head = "0 0 0 1 1 0 4 1 2 2 1 0 0 0 1 1 0\n";
    const CliRun xyz = run({"grid.txt", "-l", "1"}, {{"grid.txt", head + "0.1\n0.2\n0.3\n0.4\n"}});
    const CliRun zyx =
        run({"grid.txt", "-l", "1", "-o", "zyx"}, {{"grid.txt", head + "0.1\n0.3\n0.2\n0.4\n"}});
    EXPECT_EQ(zyx.status, 0);
    EXPECT_EQ(zyx.written.at("grid.pdb"), xyz.written.at("grid.pdb"));
}

}  // namespace

namespace {

// The rows of the README's table of bad inputs that no test above covers yet.
TEST(Cli, BadInputs) {
    std::string garbage;
    unsigned state = 12345;
    for (int i = 0; i < 5000; ++i) {
        state = state * 1103515245u + 12345u;
        garbage += static_cast<char>(state >> 16);
    }
    const std::string header = "0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n";
    struct Case {
        const char* name;
        std::string data;
        int status;
        std::string out_tail;  // how standard output ends
    };
    const Case cases[] = {
        {"binary garbage", garbage, 1,
         fatal("MAIN:VOXDEN", "The data file holds no header line of 17 fields")},
        {"binary garbage after the header", header + garbage, 0, "Writing to dx file : Done\n\n"},
        {"grid too large for memory", "0 0 0 1 1 1 0 0 100000 100000 100000 0 0 0 1 1 1\n", 1,
         fatal("MAIN:voxden", "=> Unable to allocate memory for the grid.")},
        // A dimension beyond the int range is taken as the nearest int, here a negative one.
        {"header dimension beyond the int range", "0 0 0 1 1 1 0 0 2 -99999999999 2 0 0 0 1 1 1\n", 1,
         fatal("MAIN:VOXDEN", "The header of the data file gives a negative grid dimension")},
    };
    for (const auto& c : cases) {
        const CliRun r = run({"grid.txt", "-l", "1"}, {{"grid.txt", c.data}});
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_TRUE(ends_with(r.out, c.out_tail)) << c.name;
        EXPECT_EQ(r.written.count("grid.pdb"), c.status == 0 ? 1u : 0u) << c.name;
        if (!clitest::tool_notes_possible()) {
            EXPECT_EQ(r.err, "") << c.name;
        }
    }
}

TEST(Cli, LinesOfMegabytesAreReadWhole) {
    // Appended: "!" + a temporary string makes GCC 12 warn (-Wrestrict, a false positive).
    const std::string data = std::string("!").append(2 << 20, 'c') +
                             "\n0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n0.5\n2.0" + std::string(3 << 20, ' ') +
                             "\n" + std::string(1 << 20, 'x') + "\n1.0\n";
    const CliRun r = run({"grid.txt", "-l", "1"}, {{"grid.txt", data}});
    EXPECT_EQ(r.status, 0);
    // The long text line is the third value: it repeats 2.0 and is reported whole.
    const std::string report =
        "The line #: 3  has less or more than 1 fields \n>>>" + std::string(1 << 20, 'x') + "\n\n";
    EXPECT_EQ(r.out.substr(0, report.size()), report);
    EXPECT_TRUE(has_line(r.out, "[2]= 2.000000"));
    EXPECT_TRUE(has_line(r.out, "[3]= 1.000000"));
    EXPECT_EQ(r.written.at("grid.pdb"), kRemarks + atom(1, 0, "0.50") + atom(2, 3, "1.00"));
}

}  // namespace
