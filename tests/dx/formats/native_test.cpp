#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "dx/grid.h"
#include "test_util.h"

namespace {

struct Loaded {
    Tuhbdgrd grid{};
    std::vector<double> values;
    long count = 0;
    std::string out;  // standard output of both readers
};

// Reads `text` as a grid file: the header, then the values into an array of the header's size (or of
// `capacity` values when given), as the converter does.
Loaded load(std::string text, int level, long capacity = -1) {
    Loaded r;
    std::FILE* f = fmemopen(text.data(), text.size(), "r");
    testing::internal::CaptureStdout();
    load_header(f, &r.grid, level);
    r.values.assign(capacity >= 0 ? capacity : static_cast<long>(*grid_points(r.grid)), 0.0);
    r.grid.data = r.values;
    r.count = load_data(f, &r.grid, level);
    r.out = testing::internal::GetCapturedStdout();
    std::fclose(f);
    return r;
}

const std::string kHeader222 = "0 0 0 1 1 1 8 1 2 2 2 0 0 0 1 1 1\n";

TEST(LoadHeader, FieldCountsOfLinesThatAreNotTheHeader) {
    struct Case {
        const char* name;
        std::string before;
        const char* warning;
    };
    const Case cases[] = {
        {"16 fields", "0 0 0 1 1 1 8 1 2 2 2 0 0 0 1 1\n",
         "WARNING: There are 16 fields in the header, instead of 17\n"},
        {"dimension written 64.0", "0 0 0 1 1 1 8 1 64.0 2 2 0 0 0 1 1 1\n",
         "WARNING: There are 9 fields in the header, instead of 17\n"},
        {"blanks only", "    \n", "WARNING: There are -1 fields in the header, instead of 17\n"},
        {"carriage return only", "\r\n", "WARNING: There are -1 fields in the header, instead of 17\n"},
        {"text", "object 1 class gridpositions\n",
         "WARNING: There are 0 fields in the header, instead of 17\n"},
        {"comment after a blank", " ! not a comment\n",
         "WARNING: There are 0 fields in the header, instead of 17\n"},
        {"value line before the header", "0.5\n",
         "WARNING: There are 1 fields in the header, instead of 17\n"},
        {"real in an integer field", "0 0 0 1 1 1 8.5 1 2 2 2 0 0 0 1 1 1\n",
         "WARNING: There are 7 fields in the header, instead of 17\n"},
    };
    for (const auto& c : cases) {
        const Loaded r = load("! comment\n\n" + c.before + kHeader222, 1);
        EXPECT_EQ(r.out, c.warning) << c.name;
        EXPECT_EQ(r.grid.nx, 2) << c.name;
    }
}

TEST(LoadHeader, CommentsAndEmptyLinesAreSkippedSilently) {
    const Loaded r = load(std::string("!a\n\n!b\n") + std::string(1, '\0') + "nul line\n" + kHeader222, 2);
    EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
}

TEST(LoadHeader, SpacingIsPositiveAndBoundsStayAsGiven) {
    struct Case {
        const char* header;
        double hx, hy, hz, xmin, xmax;
    };
    const Case cases[] = {
        {"0 0 0 10 10 10 0 0 11 11 11 0 0 0 0 0 0\n", 1.0, 1.0, 1.0, 0, 10},
        {"10 0 0 0 10 10 0 0 11 11 11 0 0 0 0 0 0\n", 1.0, 1.0, 1.0, 10, 0},
        {"-2 0 0 2 4 1 0 0 9 3 5 0 0 0 0 0 0\n", 0.5, 2.0, 0.25, -2, 2},
        // One point along an axis has no neighbour: spacing 0, never a division by zero.
        {"0 0 0 5 5 5 0 0 1 1 2 0 0 0 0 0 0\n", 0.0, 0.0, 5.0, 0, 5},
        // No point along an axis: (points - 1) is -1, and the spacing is still made positive.
        {"1 0 0 4 5 5 0 0 0 1 2 0 0 0 0 0 0\n", 3.0, 0.0, 5.0, 1, 4},
    };
    for (const auto& c : cases) {
        const Loaded r = load(c.header, 0);
        EXPECT_DOUBLE_EQ(r.grid.hx, c.hx) << c.header;
        EXPECT_DOUBLE_EQ(r.grid.hy, c.hy) << c.header;
        EXPECT_DOUBLE_EQ(r.grid.hz, c.hz) << c.header;
        EXPECT_EQ(r.grid.xmin, c.xmin) << c.header;
        EXPECT_EQ(r.grid.xmax, c.xmax) << c.header;
    }
}

TEST(LoadHeader, PrintsDimensionsBoundsAndSpacingAboveLevel1) {
    const std::string header = "0 0 0 10 10 10 1331 1000 11 11 11 0 0 0 10 10 10\n";
    EXPECT_EQ(load(header, 2).out,
              "Dimensions: X= 11   Y= 11   Z= 11\n"
              "Min=  0.000  0.000  0.000   Max= 10.000 10.000 10.000\n"
              "Spacing of the grid= 1.00 1.00 1.00\n");
    EXPECT_EQ(load(header, 1).out, "");
}

TEST(LoadHeader, HeaderFieldsMayUseEveryNumberForm) {
    // Signs, exponents and hex floats in the real fields; text after the 17th field is ignored.
    const Loaded r = load("-0x1p1 +1e0 .5 2.0E0 3 4 0 0 3 +2 2 0 0 0 1 1 1 trailing words\n", 0);
    EXPECT_EQ(r.grid.xmin, -2.0);
    EXPECT_EQ(r.grid.ymin, 1.0);
    EXPECT_EQ(r.grid.zmin, 0.5);
    EXPECT_EQ(r.grid.ny, 2);
    EXPECT_DOUBLE_EQ(r.grid.hx, 2.0);
}

// Reads only the header of `text`, with its output left on standard output.
void read_header(std::string text) {
    std::FILE* f = fmemopen(text.data(), text.size(), "r");
    Tuhbdgrd g{};
    load_header(f, &g, 2);
    std::fclose(f);
}

TEST(LoadHeaderDeath, NoHeaderLineIsFatal) {
    EXPECT_FATAL(read_header("! only comments\n1.0\n2.0\n"),
                 ">ERROR IN MAIN:VOXDEN\n>ERRROR : The data file holds no header line of 17 fields");
}

TEST(LoadHeaderDeath, NegativeDimensionIsFatal) {
    EXPECT_FATAL(read_header("0 0 0 1 1 1 8 1 2 -2 2 0 0 0 1 1 1\n"),
                 ">ERRROR : The header of the data file gives a negative grid dimension");
}

TEST(LoadData, ValueLines) {
    struct Case {
        const char* name;
        std::string lines;
        std::vector<double> values;
        long count;
        std::string out;
    };
    const std::string warn2 = "The line #: 2  has less or more than 1 fields \n>>>";
    const Case cases[] = {
        {"two numbers on a line keep the first", "1.5 2.5\n", {1.5, 0, 0, 0, 0, 0, 0, 0}, 1, ""},
        {"a line of only a carriage return repeats the previous value",
         "1.5\n\r\n3\n",
         {1.5, 1.5, 3, 0, 0, 0, 0, 0},
         3,
         warn2 + "\r\n\n"},
        {"a blank before ! is not a comment",
         "1.5\n !x\n",
         {1.5, 1.5, 0, 0, 0, 0, 0, 0},
         2,
         warn2 + " !x\n\n"},
        {"comments and empty lines between values", "1\n!c\n\n2\n", {1, 2, 0, 0, 0, 0, 0, 0}, 2, ""},
        {"a failure before any value stores 0",
         "abc\n4\n",
         {0, 4, 0, 0, 0, 0, 0, 0},
         2,
         "The line #: 1  has less or more than 1 fields \n>>>abc\n\n"},
        {"CRLF line ends", "1.25\r\n-2\r\n", {1.25, -2, 0, 0, 0, 0, 0, 0}, 2, ""},
        {"last line without a line end", "1\nx", {1, 1, 0, 0, 0, 0, 0, 0}, 2, warn2 + "x\n"},
        {"C number forms", "0x1p-2\n-inf\n1e\n+.5\n-0\n", {0.25, -INFINITY, 1, 0.5, -0.0, 0, 0, 0}, 5, ""},
        {"text after the number is ignored", "7 kcal/mol\n", {7, 0, 0, 0, 0, 0, 0, 0}, 1, ""},
    };
    for (const auto& c : cases) {
        const Loaded r = load(kHeader222 + c.lines, 1);
        EXPECT_EQ(r.values, c.values) << c.name;
        EXPECT_EQ(r.count, c.count) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
    }
}

TEST(LoadData, LinesLongerThan511CharactersAreReadWhole) {
    // A long comment, a long value line padded with blanks, and a long line that is not a number:
    // each is one line, so the values keep their grid positions.
    const std::string text = kHeader222 + "!" + std::string(2000, 'c') + "\n" + "1.5" +
                             std::string(1500, ' ') + "\n" + std::string(600, 'x') + "\n" + "2.5\n";
    const Loaded r = load(text, 1);
    EXPECT_EQ(r.values, (std::vector<double>{1.5, 1.5, 2.5, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(r.out, "The line #: 2  has less or more than 1 fields \n>>>" + std::string(600, 'x') + "\n\n");
}

TEST(LoadData, ValuesBeyondTheGridAreCountedNotStored) {
    std::string text = kHeader222;
    for (int i = 1; i <= 11; ++i)
        text += std::to_string(i) + "\n";
    Loaded r = load(text, 3, 8);
    EXPECT_EQ(r.values, (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(r.count, 11);
    EXPECT_EQ(r.out,
              "Dimensions: X= 2   Y= 2   Z= 2\n"
              "Min=  0.000  0.000  0.000   Max=  1.000  1.000  1.000\n"
              "Spacing of the grid= 1.00 1.00 1.00\n"
              "WARNING: 3 values beyond the 8 points of the grid were ignored\n"
              "I read : 11 values in the input file\n");
}

TEST(LoadData, CountAndLargeFileLinesFollowTheLevel) {
    struct Case {
        int values, level;
        bool count_line, large_line;
    };
    const Case cases[] = {
        {99999, 2, false, false},  {100000, 2, false, true}, {100000, 3, true, true},
        {100000, 1, false, false}, {5, 3, true, false},
    };
    for (const auto& c : cases) {
        std::string text = "0 0 0 1 1 1 0 0 1 1 1 0 0 0 1 1 1\n";
        for (int i = 0; i < c.values; ++i)
            text += "0.5\n";
        const Loaded r = load(text, c.level, c.values);
        const std::string count = "I read : " + std::to_string(c.values) + " values in the input file\n";
        const std::string large = "Very large file, if not yet, increase -r option to a value > 1 \n";
        std::string expected = c.level > 1 ? "Dimensions: X= 1   Y= 1   Z= 1\n"
                                             "Min=  0.000  0.000  0.000   Max=  1.000  1.000  1.000\n"
                                             "Spacing of the grid= 0.00 0.00 0.00\n"
                                           : "";
        if (c.count_line) expected += count;
        if (c.large_line) expected += large;
        EXPECT_EQ(r.out, expected) << c.values << " values at level " << c.level;
        EXPECT_EQ(r.count, c.values);
    }
}

}  // namespace
