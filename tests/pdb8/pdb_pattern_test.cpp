// Residue pattern parsing: identifiers read into chain, number and insertion letter; expressions and item
// lists cut into identifiers, with separator runs, edges, the buffer left behind and the messages.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "pdb8.h"
#include "test_util.h"

namespace {

using namespace std::string_literals;

struct PatternCase {
    std::string_view text;
    char chain;
    int nb;
    char letter;
};

TEST(GetResPattern, ReadsChainNumberAndInsertionLetter) {
    const PatternCase cases[] = {
        {"a12b", 'A', 12, 'B'},
        {"A12", 'A', 12, ' '},
        {"12", ' ', 12, ' '},
        {"12A", ' ', 12, 'A'},
        {"1A2", ' ', 1, ' '},       // the number is a leading integer
        {"A", 'A', 0, ' '},         // nothing left after the chain
        {"AB", 'A', 0, 'B'},        // chain, then insertion letter, no number
        {"ABC12", 'A', 0, ' '},     // BC12 does not start with a digit
        {" A12", ' ', 0, ' '},      // a leading blank is no chain letter, and A12 is no number
        {"A12 ", 'A', 12, ' '},     // a trailing blank is no insertion letter
        {"A 12", 'A', 12, ' '},     // white space before the number is skipped
        {"A\t-7", 'A', -7, ' '},    //
        {"A-5", 'A', -5, ' '},      // a sign is read when the identifier is given directly
        {"-5", ' ', -5, ' '},       //
        {"+8c", ' ', 8, 'C'},       //
        {"z999z", 'Z', 999, 'Z'},   //
        {"", ' ', 0, ' '},          //
        {"5", ' ', 5, ' '},         // a digit alone is a number, never a chain
        {"A12\xe9", 'A', 12, ' '},  // only a to z are letters; other bytes stay as they are
        {"\xe9"
         "12",
         ' ', 0, ' '},                        //
        {"A0012", 'A', 12, ' '},              //
        {"B99999999999", 'B', INT_MAX, ' '},  // beyond the int range: clamped, not wrapped
        {"-99999999999X", ' ', INT_MIN, 'X'},
        {"A2147483647", 'A', INT_MAX, ' '},
        {"-2147483648", ' ', INT_MIN, ' '},
        {std::string_view("A12\0B", 5), 'A', 12, ' '},            // the text ends at its first NUL
        {"A123456789012345678901234567890Q", 'A', INT_MAX, 'Q'},  // longer than any fixed field
    };
    for (const PatternCase& c : cases) {
        const PDBRES r = get_res_pattern(c.text, 0);
        EXPECT_EQ(c.chain, r.chain) << "'" << c.text << "'";
        EXPECT_EQ(c.nb, r.nb) << "'" << c.text << "'";
        EXPECT_EQ(c.letter, r.letter) << "'" << c.text << "'";
        EXPECT_STREQ("", r.name) << "'" << c.text << "'";
    }
}

TEST(GetResPattern, PrintsItsInputAboveLevelTwo) {
    for (int level : {0, 2, 3}) {
        testing::internal::CaptureStdout();
        get_res_pattern("a12b", level);
        EXPECT_EQ(level > 2 ? "In get_res_pattern, with input string=a12b\n" : "",
                  testing::internal::GetCapturedStdout())
            << "level " << level;
    }
}

const char* const kSingle = "Single residue in this pattern expression\n";
const char* const kRange = "Range of residue in this pattern expression\n";

struct SplitCase {
    std::string text;
    int count;
    std::vector<std::string> array;  // after a call on {"x", "y", "z"}
    std::string buf;                 // the buffer after the call
    std::string printed;             // at level 3
};

TEST(SplitRange, CutsAtEverySeparatorAndKeepsUnwrittenEntries) {
    const std::string long_id(40, '7');
    const SplitCase cases[] = {
        {"A10", 1, {"A10", "A10", "z"}, "A10", kSingle},
        {"A10-A20", 2, {"A10", "A20", "z"}, "A10\0A20"s, kRange},
        {"A10:A20", 2, {"A10", "A20", "z"}, "A10\0A20"s, kRange},
        {"A10,A20", 2, {"A10", "A20", "z"}, "A10\0A20"s, kRange},
        {"A10 A20", 2, {"A10", "A20", "z"}, "A10\0A20"s, kRange},
        // Runs count once, edges make no empty token; only the separator after a token is overwritten.
        {"--A10,,  A20::", 2, {"A10", "A20", "z"}, "--A10\0,  A20\0:"s, kRange},
        {" a10 ", 1, {"a10", "a10", "z"}, " a10\0"s, kSingle},
        {"A1-A5-A9", 3, {"A1", "A5", "A9"}, "A1\0A5\0A9"s, ""},
        {"1-2-3-4",
         4,
         {"1", "2", "3", "4"},
         "1\0"
         "2\0"
         "3\0"
         "4"s,
         ""},
        {"", 0, {"x", "y", "z"}, "", ""},
        {"-: ,,", 0, {"x", "y", "z"}, "-: ,,", ""},
        {long_id + "-B1", 2, {long_id, "B1", "z"}, long_id + "\0B1"s, kRange},
        {"A1\0-B2"s, 1, {"A1", "A1", "z"}, "A1\0-B2"s, kSingle},  // nothing after a NUL is read
    };
    for (const SplitCase& c : cases) {
        std::string buf = c.text;
        std::vector<std::string> array{"x", "y", "z"};
        testing::internal::CaptureStdout();
        const int count = split_range(buf, array, 3);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(c.count, count) << "'" << c.text << "'";
        EXPECT_EQ(c.array, array) << "'" << c.text << "'";
        EXPECT_EQ(c.buf, buf) << "'" << c.text << "'";
        EXPECT_EQ(c.printed, printed) << "'" << c.text << "'";

        std::string quiet = c.text;
        std::vector<std::string> fresh;
        testing::internal::CaptureStdout();
        EXPECT_EQ(c.count, split_range(quiet, fresh, 2)) << "'" << c.text << "'";
        EXPECT_EQ("", testing::internal::GetCapturedStdout()) << "'" << c.text << "'";
        // An empty array grows to exactly what is written.
        EXPECT_EQ(c.count == 1 ? 2u : static_cast<std::size_t>(c.count), fresh.size())
            << "'" << c.text << "'";
    }
}

TEST(SplitRange, HoldsAnyNumberOfTokens) {
    std::string buf;
    for (int i = 0; i < 1000; ++i)  // appended: "A" + a temporary makes GCC 12 warn (-Wrestrict)
        buf.append("A").append(std::to_string(i)).append(i % 2 ? "," : "-");
    std::vector<std::string> array;
    ASSERT_EQ(1000, split_range(buf, array, 0));
    EXPECT_EQ("A0", array[0]);
    EXPECT_EQ("A999", array[999]);
}

TEST(SplitRange, MayCutOneOfItsOwnEntries) {
    std::vector<std::string> array{"b7:c9"};
    EXPECT_EQ(2, split_range(array[0], array, 0));
    EXPECT_EQ((std::vector<std::string>{"b7", "c9"}), array);
}

using Pairs = std::vector<std::array<std::string, 2>>;

struct Split1Case {
    std::string text;
    int count;
    Pairs array;  // after a call on one pair {"x", "y"} per item
    std::string buf;
    std::string printed;  // at level 3, after the input line
};

TEST(SplitRange1, CutsItemsIntoPairs) {
    const Split1Case cases[] = {
        {"A1-A5,B7 C3:C9",
         3,
         {{"A1", "A5"}, {"B7", "B7"}, {"C3", "C9"}},
         "A1-A5\0B7\0C3:C9"s,
         std::string(kRange) + kSingle + kRange},
        {"a1", 1, {{"a1", "a1"}}, "a1", kSingle},
        {",, A1:A2 ,", 1, {{"A1", "A2"}}, ",, A1:A2\0,"s, kRange},
        // An item of only "-" and ":" is counted, but its pair is left as it was and nothing is printed.
        {"A1,--,B2",
         3,
         {{"A1", "A1"}, {"x", "y"}, {"B2", "B2"}},
         "A1\0--\0B2"s,
         std::string(kSingle) + kSingle},
        // A blank separates items, so a blank around a hyphen makes three items.
        {"A1 - A5",
         3,
         {{"A1", "A1"}, {"x", "y"}, {"A5", "A5"}},
         "A1\0-\0A5"s,
         std::string(kSingle) + kSingle},
        {"-A1-", 1, {{"A1", "A1"}}, "-A1-", kSingle},
        {"", 0, {}, "", ""},
        {" , ", 0, {}, " , ", ""},
    };
    for (const Split1Case& c : cases) {
        std::string buf = c.text;
        Pairs array(c.array.size(), {"x", "y"});
        testing::internal::CaptureStdout();
        const int count = split_range1(buf, array, 3);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(c.count, count) << "'" << c.text << "'";
        EXPECT_EQ(c.array, array) << "'" << c.text << "'";
        EXPECT_EQ(c.buf, buf) << "'" << c.text << "'";
        EXPECT_EQ("Input for split_range1= " + c.text + "\n" + c.printed, printed) << "'" << c.text << "'";

        std::string quiet = c.text;
        Pairs fresh;
        testing::internal::CaptureStdout();
        EXPECT_EQ(c.count, split_range1(quiet, fresh, 2)) << "'" << c.text << "'";
        EXPECT_EQ("", testing::internal::GetCapturedStdout()) << "'" << c.text << "'";
        EXPECT_EQ(static_cast<std::size_t>(c.count), fresh.size()) << "'" << c.text << "'";
    }
}

TEST(SplitRange1, HoldsMoreItemsThanTheOldWorkArea) {
    std::string buf;
    for (int i = 0; i < 600; ++i)  // appended: "A" + a temporary makes GCC 12 warn (-Wrestrict)
        buf.append("A").append(std::to_string(i)).append("-B").append(std::to_string(i)).append(" ");
    Pairs array;
    ASSERT_EQ(600, split_range1(buf, array, 0));
    EXPECT_EQ((std::array<std::string, 2>{"A599", "B599"}), array[599]);
}

TEST(SplitRange1DeathTest, RefusesAnItemOfThreeResidues) {
    for (const char* text : {"A1-A5-A9", "B1,A1:A5-A9", "1-2-3-4"}) {
        std::string buf = text;
        Pairs array;
        EXPECT_FATAL(split_range1(buf, array, 0),
                     "\n>ERROR IN SUB:SPLIT_RANGE1\n>ERRROR : More than two residues in the range ")
            << text;
    }
}

}  // namespace
