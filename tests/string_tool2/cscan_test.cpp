// The shared scanner on text ranges: a number ends where the range ends, as it would at a C string's
// NUL, so a reader can convert a column in place. Checked against sscanf on a copy of the range.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "string_tool2/cscan.h"

namespace {

TEST(Cscan, RangesEndNumbersAsANulWould) {
    const std::string texts[] = {"  12.5e3xyz",
                                 "-0.000123456789",
                                 "0x1p4 ",
                                 "infinity",
                                 "nan(1)",
                                 "1e+",
                                 "   -",
                                 "3.14159265358979323846264",
                                 "1e400",
                                 "-1e-400",
                                 "+.5",
                                 "5.",
                                 "1234567890123456789012",
                                 "0.1e-5 7"};
    for (const std::string& text : texts) {
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            const std::string copy = text.substr(0, cut);
            double expected = -7.0;
            int taken = -1;
            const int r = std::sscanf(copy.c_str(), "%lf%n", &expected, &taken);
            double got = -7.0;
            const char* end = cscan::scan_double(text.data(), text.data() + cut, got);
            ASSERT_EQ(end != nullptr, r == 1) << '"' << copy << '"';
            if (r != 1) continue;
            EXPECT_EQ(end - text.data(), taken) << '"' << copy << '"';
            if (std::isnan(expected)) {
                EXPECT_TRUE(std::isnan(got)) << copy;
            } else {
                EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
                    << copy << " " << got << " " << expected;
            }
        }
    }
}

TEST(Cscan, LongsSaturateAtTheLongRange) {
    struct Case {
        const char* text;
        long value;
        int end;  // -1: no number
    };
    const Case cases[] = {{" 42x", 42, 3},
                          {"-17", -17, 3},
                          {"+", 0, -1},
                          {"", 0, -1},
                          {"99999999999999999999", LONG_MAX, 20},
                          {"-99999999999999999999", LONG_MIN, 21}};
    for (const Case& c : cases) {
        long v = 0;
        const char* end = cscan::scan_long(c.text, c.text + std::strlen(c.text), v);
        EXPECT_EQ(end == nullptr ? -1 : end - c.text, c.end) << c.text;
        if (end != nullptr) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

}  // namespace
