// The pseudo-atom record keeps every field in its columns: hybrid-36 serial and residue numbers, and the
// ladder of fixed and exponent formats for coordinates and values. Checked against a decoder and a
// ladder written here from the format's definition, not from the writer's code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "dx/write/atom_format.h"

namespace {

// Reads a hybrid-36 field of `width` columns the way a PDB library does; -1 for stars or a bad field.
long decode_hy36(const std::string& field) {
    const int width = static_cast<int>(field.size());
    if (field.find_first_not_of(' ') == std::string::npos) return -1;
    const char first = field[field.find_first_not_of(' ')];
    if (first == '-' || (first >= '0' && first <= '9')) return std::stol(field);
    const bool upper = first >= 'A' && first <= 'Z';
    const bool lower = first >= 'a' && first <= 'z';
    if (!upper && !lower) return -1;
    long n = 0;
    for (char c : field) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (upper && c >= 'A' && c <= 'Z')
            digit = c - 'A' + 10;
        else if (lower && c >= 'a' && c <= 'z')
            digit = c - 'a' + 10;
        else
            return -1;
        n = n * 36 + digit;
    }
    const long leading = static_cast<long>(std::pow(36, width - 1));
    const long decimal_end = static_cast<long>(std::pow(10, width));
    return n - 10 * leading + decimal_end + (lower ? 26 * leading : 0);
}

std::string hy36(long value, int width) {
    char out[atomfmt::kMaxLong + 8];
    char* end = atomfmt::put_hy36(out, value, width);
    return std::string(out, end);
}

TEST(Hybrid36, EveryBoundaryOfSerialsAndResidues) {
    const long s_upper = 26L * 36 * 36 * 36 * 36;  // numbers in each letter block of 5 columns
    const long r_upper = 26L * 36 * 36 * 36;       // and of 4 columns
    struct Case {
        long value;
        int width;
        std::string text;
    };
    const std::vector<Case> cases = {
        {1, 5, "    1"},
        {99999, 5, "99999"},
        {100000, 5, "A0000"},
        {100001, 5, "A0001"},
        {100035, 5, "A000Z"},
        {100036, 5, "A0010"},
        {100000 + s_upper - 1, 5, "ZZZZZ"},
        {100000 + s_upper, 5, "a0000"},
        {100000 + 2 * s_upper - 1, 5, "zzzzz"},
        {100000 + 2 * s_upper, 5, "*****"},
        {1, 4, "   1"},
        {9999, 4, "9999"},
        {10000, 4, "A000"},
        {10000 + r_upper - 1, 4, "ZZZZ"},
        {10000 + r_upper, 4, "a000"},
        {10000 + 2 * r_upper - 1, 4, "zzzz"},
        {10000 + 2 * r_upper, 4, "****"},
    };
    for (const Case& c : cases) {
        const std::string got = hy36(c.value, c.width);
        EXPECT_EQ(got, c.text) << c.value;
        if (c.text[0] != '*') {
            EXPECT_EQ(decode_hy36(got), c.value) << c.text;
        }
    }
}

TEST(Hybrid36, RoundTripsAcrossTheWholeRange) {
    for (int width : {4, 5}) {
        const long last =
            static_cast<long>(std::pow(10, width)) + 2 * 26 * static_cast<long>(std::pow(36, width - 1));
        for (long v = 1; v < last; v += v < 200000 ? 1 : 9973) {
            const std::string text = hy36(v, width);
            ASSERT_EQ(text.size(), static_cast<std::size_t>(width)) << v;
            ASSERT_EQ(decode_hy36(text), v) << text;
        }
    }
}

// The ladder as the record layout defines it: the first format whose text fits, else stars.
std::string ladder(double value, int width, const std::vector<std::string>& formats) {
    char text[512];
    for (const std::string& f : formats) {
        const int n = std::snprintf(text, sizeof text, f.c_str(), value);
        if (n <= width) return text;
    }
    return std::string(static_cast<std::size_t>(width), '*');
}

TEST(FieldLadder, ValuesAndCoordinatesKeepTheirColumns) {
    const std::vector<std::string> value_formats = {"%6.2f", "%6.1f", "%6.0f", "%6.0e"};
    const std::vector<std::string> coord_formats = {"%8.3f", "%8.2f", "%8.1f", "%8.0f", "%8.1e"};
    const double values[] = {0.0,      -0.0,     0.5,       99.994,    99.995,     -99.994,    -99.995,
                             999.99,   999.994,  999.995,   -999.95,   9999.94,    9999.95,    -9999.5,
                             99999.4,  99999.5,  -99999.5,  999999.4,  999999.5,   1234567,    -1234567,
                             -664.527, 12345.6,  1e99,      -1e99,     1e100,      -1e100,     1e300,
                             -1e300,   9999.995, 99999.995, 12345.678, -1234.5678, 99999999.5, -9999999.5,
                             1e-300,   INFINITY, -INFINITY, NAN};
    for (double v : values) {
        char out[atomfmt::kMaxFixed + 8];
        char* end = atomfmt::put_value(out, v);
        EXPECT_EQ(std::string(out, end), ladder(v, 6, value_formats)) << "value " << v;
        end = atomfmt::put_coordinate(out, v);
        EXPECT_EQ(std::string(out, end), ladder(v, 8, coord_formats)) << "coordinate " << v;
    }
    // The examples the record layout gives.
    char out[atomfmt::kMaxFixed + 8];
    EXPECT_EQ(std::string(out, atomfmt::put_value(out, -664.527)), "-664.5");
    EXPECT_EQ(std::string(out, atomfmt::put_value(out, 12345.6)), " 12346");
    EXPECT_EQ(std::string(out, atomfmt::put_value(out, 1234567)), " 1e+06");
    EXPECT_EQ(std::string(out, atomfmt::put_value(out, -1e100)), "******");
}

}  // namespace
