// The converter's number conversions against the C library they mirror.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dx/io/cconv.h"

namespace {

// Value lines as real tools and careless editors write them.
const char* const kValueLines[] = {
    "1.5",     "-0.75\n", "+2",   "  \t 3.25", "1e5",      "1E-5",
    "1e",      "1e+",     "1.5e", "0x1p-1",    "0x1P+3",   "0x",
    "0x.",     "0xp1",    "inf",  "-inf",      "INF",      "infinity",
    "infin",   "in",      "nan",  "NAN",       "nan(12)",  "-nan",
    "-",       "+",       ".",    ".5",        "5.",       "-.5e1",
    "+.e1",    "e5",      "abc",  "x1",        "?",        "\t",
    "   ",     "\r\n",    "\r",   " !1",       "1.5 2.5",  "1,5",
    "1..2",    "0",       "-0",   "-0.0",      "1e-400",   "1e400",
    "2.5\r\n", "007",     "1e5x", "0x1g",      "4.9e-324", "1.7976931348623157e308",
    "",
};

TEST(ScanValueLine, AgreesWithSscanfLf) {
    for (const char* line : kValueLines) {
        double expected = -7.0;
        const int expected_r = std::sscanf(line, "%lf\n", &expected);
        double got = -7.0;
        const int got_r = cconv::scan_value_line(line, got);
        ASSERT_EQ(got_r, expected_r) << '"' << line << '"';
        if (got_r == 1) {
            if (std::isnan(expected)) {
                EXPECT_TRUE(std::isnan(got)) << line;
            } else {
                EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
                    << line << " " << got << " " << expected;
            }
        }
    }
}

TEST(ScanPlainValueLine, TakesOnlyWhatScanValueLineReadsAlikeAndStopsAfterTheLineEnd) {
    std::vector<std::string> lines(std::begin(kValueLines), std::end(kValueLines));
    // The "%.6e" lines the eight-digit path takes, and near misses it must hand on.
    for (const char* e6 :
         {"1.234567e-01",  "-9.999999E+99", "0.000000e+00",  "-0.000000e-05", "5.000000e-30", "1.234567e+22",
          "1.234567e-22",  "1.23456e-01",   "1.2345678e-01", "1,234567e-01",  "1.23456ae-01", "1.234567e-1",
          "1.234567e+123", "1.234567d-01",  "-5.95683E-01",  "5.95683e+00",   "0.00000E+00",  "1.00000E+22",
          "1.00000E-23",   "5.95683E-011",  "5.95683E-0",    "5.9568E-01",    "5.95683E+1x"})
        lines.emplace_back(e6);
    for (std::string line : lines) {
        if (line.empty() || line.back() != '\n') line += '\n';
        const std::string text = line + "7\n";  // a following line the scan must not run into
        double expected = -7.0, got = -7.0;
        const int expected_r = cconv::scan_value_line(line, expected);
        const char* next = cconv::scan_plain_value_line(text.data(), text.data() + text.size(), got);
        if (next == nullptr) continue;  // handed on to scan_value_line
        EXPECT_EQ(next, text.data() + line.size()) << line;
        ASSERT_EQ(expected_r, 1) << line;
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << line << got << " " << expected;
    }
    double v = 0;
    for (const char* taken : {"1.5\n", "-1.234567e-01\n", "-5.95683E-01\n", "0.25\n"})
        EXPECT_NE(cconv::scan_plain_value_line(taken, taken + std::strlen(taken), v), nullptr) << taken;
}

// scan_point6_form against strtod: what it takes reads to the same bit and ends where strtod ends; what
// it hands on is every text that is not "d.dddddd" ended by something other than a digit, a point or
// an exponent's letter. Random "%.6f" values below 10 in both signs, then the near misses.
TEST(ScanPoint6Form, TakesPrintfsSixDecimalsBelowTenAsStrtodReadsThem) {
    struct Case {
        std::string text;  // the number and what follows it
        bool taken;
    };
    std::vector<Case> cases = {
        {"0.000000 ", true},    {"-0.000000\n", true},  {"9.999999-", true},   {"1.000000", true},
        {"5.500000\t", true},   {"1.234567\r\n", true}, {"1.2345678 ", false}, {"1.23456 ", false},
        {"1.234567e5 ", false}, {"1.234567E5", false},  {"1.234567.", false},  {"12.345678 ", false},
        {"1,234567 ", false},   {"1.23456a ", false},   {".1234567 ", false},  {"1.234567x", true},
        {"1.234567d0", true},   {"-1.234567 ", true},   {"+1.234567 ", true},  {"1.23456", false},
    };
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> below_ten(-9.9999994, 9.9999994);
    char text[32];
    for (int n = 0; n < 20000; ++n) {
        std::snprintf(text, sizeof text, "%.6f%c", below_ten(rng), " \n-"[n % 3]);
        cases.push_back({text, true});
    }
    for (const Case& c : cases) {
        const char* const p = c.text.data();
        const bool negative = *p == '-';
        const char* const d = p + (negative || *p == '+' ? 1 : 0);
        double got = -7.0;
        const char* end = cconv::scan_point6_form(d, p + c.text.size(), negative, got);
        ASSERT_EQ(end != nullptr, c.taken) << c.text;
        if (end == nullptr) continue;
        char* strtod_end = nullptr;
        const double expected = std::strtod(p, &strtod_end);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << c.text << " " << got << " " << expected;
        EXPECT_EQ(end, strtod_end) << c.text;
    }
}

TEST(ScanInt, ReadsOptionallySignedDigitsAndSaturates) {
    struct Case {
        const char* text;
        cconv::Scan result;
        int value;
        int consumed;
    };
    using cconv::Scan;
    const Case cases[] = {
        {"64", Scan::ok, 64, 2},
        {"  -12 x", Scan::ok, -12, 5},
        {"+7", Scan::ok, 7, 2},
        {"64.0", Scan::ok, 64, 2},  // stops at the decimal point
        {".0", Scan::mismatch, 0, 0},
        {"-", Scan::mismatch, 0, 0},
        {"+x", Scan::mismatch, 0, 0},
        {"  ", Scan::end, 0, 0},
        {"", Scan::end, 0, 0},
        {"2147483647", Scan::ok, INT_MAX, 10},
        {"2147483648", Scan::ok, INT_MAX, 10},
        {"99999999999999999999999", Scan::ok, INT_MAX, 23},
        {"-2147483648", Scan::ok, INT_MIN, 11},
        {"-99999999999999999999999", Scan::ok, INT_MIN, 24},
        {"0x10", Scan::ok, 0, 1},
    };
    for (const auto& c : cases) {
        const char* p = c.text;
        int value = 0;
        EXPECT_EQ(cconv::scan_int(p, value), c.result) << c.text;
        if (c.result == Scan::ok) {
            EXPECT_EQ(value, c.value) << c.text;
            EXPECT_EQ(p - c.text, c.consumed) << c.text;
        } else {
            EXPECT_EQ(p, c.text) << c.text;
        }
    }
}

TEST(ToInt, IsAtoiWithinRangeAndSaturatesOutside) {
    const char* in_range[] = {"3", "  42abc", "-17", "+5", "abc", "", "3.9", "0x10", "\t-0", "2147483647"};
    for (const char* text : in_range)
        EXPECT_EQ(cconv::to_int(text), std::atoi(text)) << text;
    EXPECT_EQ(cconv::to_int("99999999999"), INT_MAX);
    EXPECT_EQ(cconv::to_int("-99999999999"), INT_MIN);
}

TEST(ToIntTruncated, TruncatesTowardZeroAndSaturates) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"30.9", 30},       {"-30.9", -30}, {"1e3", 1000},
        {"0x10", 16},       {"abc", 0},     {"inf", INT_MAX},
        {"-1e20", INT_MIN}, {"nan", 0},     {"2147483647.5", INT_MAX},
        {" 7", 7},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cconv::to_int_truncated(c.text), c.value) << c.text;
}

}  // namespace
