// Ratio expressions: the C conversions they mirror (atof for plain numbers, atoi for ratio parts), the
// splitting at runs of "/", the message for a wrong number of parts, and texts of any length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "math_tool2.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string wrong(const std::string& text) {
    return "SUB: RTOF;\n Wrong ratio expression: " + text + "\n";
}

TEST(Rtof, ValuesAndMessages) {
    struct Case {
        std::string text;
        double expected;  // kNaN stands for not-a-number
        bool message;     // the wrong-ratio message is printed
    };
    const std::vector<Case> cases = {
        {"3/4", 0.75, false},
        {"0.25", 0.25, false},
        {"1e-2", 0.01, false},
        {"1.5/3", 1.0 / 3.0, false},  // each part is read as a whole number
        {"6//3", 2, false},
        {"/6/3", 2, false},
        {"6/3/", 2, false},
        {" 6/ 3", 2, false},
        {"-7/+2", -3.5, false},
        {"\t12/\n4", 3, false},
        {"0x10/2", 0, false},  // atoi stops at the x
        {"1/2/3", 0.5, true},
        {"1/0", kInf, false},
        {"-1/0", -kInf, false},
        {"0/0", kNaN, false},
        {"a/b", kNaN, false},
        {"7/b", kInf, false},
        // Plain numbers as atof reads them.
        {"abc", 0.0, false},
        {"", 0.0, false},
        {"  -2.5e1xyz", -25, false},
        {"0x1p-2", 0.25, false},
        {"inf", kInf, false},
        {"-.5", -0.5, false},
        // Fewer than two parts: nothing to divide by.
        {"5/", kNaN, true},
        {"/5", kNaN, true},
        {"/", kNaN, true},
        {"///", kNaN, true},
        // Longer than nine characters and more than three parts.
        {"   100000/   400000", 0.25, false},
        {"1/2/3/4/5/6/7/8/9/10/11/12", 0.5, true},
        {"4294967297/2", 0.5, false},  // atoi narrows 2^32 + 1 to 1
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        const double got = rtof(c.text, 0);
        const std::string out = testing::internal::GetCapturedStdout();
        if (std::isnan(c.expected)) {
            EXPECT_TRUE(std::isnan(got)) << "'" << c.text << "' gave " << got;
        } else {
            EXPECT_EQ(c.expected, got) << "'" << c.text << "'";
        }
        EXPECT_EQ(c.message ? wrong(c.text) : "", out) << "'" << c.text << "'";
    }
}

TEST(Rtof, PartsEchoedAtLevelThree) {
    struct Case {
        std::string text;
        int level;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"3/4", 3, "In Split and tok #0 = 3\nIn Split and tok #1 = 4\n"},
        {"3/4", 2, ""},
        {"//12 //x/", 3, "In Split and tok #0 = 12 \nIn Split and tok #1 = x\n"},
        {"1/2/3", 3,
         "In Split and tok #0 = 1\nIn Split and tok #1 = 2\nIn Split and tok #2 = 3\n" + wrong("1/2/3")},
        {"9/", 3, "In Split and tok #0 = 9\n" + wrong("9/")},
        {"0.5", 3, ""},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        rtof(c.text, c.level);
        EXPECT_EQ(c.out, testing::internal::GetCapturedStdout()) << "'" << c.text << "' at " << c.level;
    }
}

TEST(Rtof, TextEndsAtItsFirstNul) {
    const std::string with_nul("3/4\0/5", 6);
    testing::internal::CaptureStdout();
    EXPECT_EQ(0.75, rtof(with_nul, 0));
    EXPECT_EQ(2.5, rtof(std::string("2.5\0/2", 6), 0));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST(Rtof, CallersTokenizerScanIsKept) {
    char buffer[] = "a,b,c";
    ASSERT_STREQ("a", std::strtok(buffer, ","));
    EXPECT_EQ(0.5, rtof("1/2", 0));
    const char* next = std::strtok(nullptr, ",");
    ASSERT_NE(nullptr, next);
    EXPECT_STREQ("b", next);
}

}  // namespace
