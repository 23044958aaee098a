// The converter's fast paths against the C conversions they replace: value lines against
// sscanf("%lf"), numbers against printf's "%6.2f" and "%8.3f", and whole written files against one
// fprintf per ATOM line. They must never differ by a single byte or bit.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dx/io/cconv.h"
#include "dx/uhbdio.h"
#include "dx/write/atom_format.h"
#include "dx/write/pdb_writer.h"

namespace {

void expect_same_as_sscanf(const std::string& line) {
    double expected = -7.0;
    const int expected_r = std::sscanf(line.c_str(), "%lf", &expected);
    double got = -7.0;
    const int got_r = cconv::scan_value_line(line, got);
    ASSERT_EQ(got_r, expected_r) << '"' << line << '"';
    if (got_r != 1) return;
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(got)) << line;
    } else {
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
            << '"' << line << "\" " << got << " vs " << expected;
    }
}

std::string format(const char* fmt, double v) {
    char text[512];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

TEST(FastValueParser, TrickyTexts) {
    const char* const texts[] = {
        "0.1",
        "-0.0",
        "+0",
        "0",
        "00012",
        "1.0000000000000000000001",
        "123456789012345678901234567890",
        "9007199254740993",
        "9007199254740992",
        "4.9406564584124654e-324",
        "2.2250738585072011e-308",
        "1.7976931348623157e308",
        "1.7976931348623159e308",
        "1e22",
        "1e23",
        "1e-22",
        "1e-23",
        "8.5e-1",
        "3.194988e-11",
        "  -1.25e+02xyz",
        "\t7",
        "1e5.5",
        "1.5.5",
        ".5",
        "5.",
        "-.5",
        "+.5e-3",
        "1e",
        "1e+",
        "1e-",
        "1E5",
        "0x10",
        "0X1p4",
        "0x",
        "1x",
        "00x1",
        "inf",
        "-Infinity",
        "nan",
        "nan(0x1)",
        "-",
        "+",
        ".",
        "e1",
        "-e1",
        "abc",
        "",
        "   ",
        "\r\n",
        "1\r\n",
        "1,5",
        "12345678901234567890",
        "1234567890123456789",
        "0.000000000000000000000000001",
        "100000000000000000000000e-30",
        "9999999999999999999e22",
    };
    for (const char* t : texts)
        expect_same_as_sscanf(t);
    expect_same_as_sscanf(std::string("  \0 5", 5));
    expect_same_as_sscanf(std::string("2.5\0 9", 6));
}

TEST(FastValueParser, NumbersAsToolsWriteThem) {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    const char* const formats[] = {"%.6e", "%g", "%.17g", "%f", "%.3f", "%.10e", "%12.6E", "%.0f"};
    for (int n = 0; n < 20000; ++n) {
        const double v = mantissa(rng) * std::pow(10.0, exponent(rng));
        for (const char* f : formats)
            expect_same_as_sscanf(format(f, v));
    }
}

TEST(FastValueParser, RandomDigitStrings) {
    std::mt19937_64 rng(777);
    std::uniform_int_distribution<int> len(1, 25), digit(0, 9), coin(0, 3), exp(-330, 330);
    for (int n = 0; n < 50000; ++n) {
        std::string t;
        if (coin(rng) == 0) t += coin(rng) < 2 ? '-' : '+';
        for (int i = len(rng); i > 0; --i)
            t += static_cast<char>('0' + digit(rng));
        if (coin(rng) < 2) t = t.substr(0, t.size() / 2) + "." + t.substr(t.size() / 2);
        if (coin(rng) == 0) {
            t += 'e';
            t += std::to_string(exp(rng));
        }
        expect_same_as_sscanf(t);
    }
}

void expect_same_as_printf(double v, int width, int decimals) {
    char fmt[16];
    std::snprintf(fmt, sizeof fmt, "%%%d.%df", width, decimals);
    char got[atomfmt::kMaxFixed + 8];
    char* end = atomfmt::put_fixed(got, v, width, decimals);
    EXPECT_EQ(std::string(got, end), format(fmt, v)) << fmt << " of " << format("%.17g", v);
}

TEST(FastFixed, TrickyValues) {
    const double values[] = {
        0.0,
        -0.0,
        0.005,
        0.015,
        0.025,
        0.125,
        0.375,
        2.675,
        1.005,
        -0.005,
        -0.0004,
        -0.004,
        0.0005,
        0.0015,
        0.0625,
        1e-300,
        -1e-300,
        999.995,
        9999.995,
        99999.995,
        999999.9995,
        1e7,
        1e9,
        1e15,
        1.7976931348623157e308,
        -1.7976931348623157e308,
        4.9e-324,
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
        -std::numeric_limits<double>::quiet_NaN(),
        123.4565,
        123.4575,
        -12345.678,
        99999.5,
        0.5,
        1.5,
        -2.5,
        1234.5,
        -123.45,
        1000000.0,
        4294967296.5,
    };
    for (double v : values) {
        for (int d : {1, 2, 3}) {
            expect_same_as_printf(v, 6, d);
            expect_same_as_printf(v, 8, d);
        }
    }
}

TEST(FastFixed, NearTiesAtTheLastDecimal) {
    // Values around k/200 and k/2000, the halfway points of "%.2f" and "%.3f", nudged by a few ulps.
    for (int k = -5000; k <= 5000; ++k) {
        for (double base : {k / 200.0, k / 2000.0, k * 0.005, k * 0.0005 + 100.0}) {
            double v = base;
            for (int step = 0; step < 3; ++step)
                v = std::nextafter(v, -INFINITY);
            for (int step = 0; step < 7; ++step, v = std::nextafter(v, INFINITY)) {
                expect_same_as_printf(v, 6, 2);
                expect_same_as_printf(v, 8, 3);
            }
        }
    }
}

TEST(FastFixed, RandomMagnitudes) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> m(-1.0, 1.0);
    std::uniform_int_distribution<int> e(-8, 12);
    for (int n = 0; n < 200000; ++n) {
        const double v = m(rng) * std::pow(10.0, e(rng));
        expect_same_as_printf(v, 6, 2);
        expect_same_as_printf(v, 8, 3);
    }
}

TEST(FastLong, RightJustifiesLikePrintf) {
    for (long v : {0L, 1L, 9L, 99999L, 100000L, 123456789L, -1L, -9999L, 2147483647L, 9223372036854775807L}) {
        for (int w : {4, 5}) {
            char got[atomfmt::kMaxLong + 8];
            char* end = atomfmt::put_long(got, v, w);
            char expected[64];
            std::snprintf(expected, sizeof expected, "%*ld", w, v);
            EXPECT_EQ(std::string(got, end), expected) << v;
        }
    }
}

TEST(FastValue, SixColumnsAsPutInColumnsWritesThem) {
    // The table path (magnitudes below 99.99) and the values around its edges and rounding ties.
    std::vector<double> values = {0.0, -0.0, 99.985, 99.99, 99.994999, 99.995, -99.995, 100.0, -100.0, 1e-9};
    for (int k = -10050; k <= 10050; ++k) {
        for (double base : {k / 100.0, k / 100.0 + 0.005}) {
            double v = base;
            for (int step = 0; step < 3; ++step)
                v = std::nextafter(v, -INFINITY);
            for (int step = 0; step < 7; ++step, v = std::nextafter(v, INFINITY))
                values.push_back(v);
        }
    }
    values.push_back(std::numeric_limits<double>::quiet_NaN());
    values.push_back(-std::numeric_limits<double>::infinity());
    for (double v : values) {
        char got[atomfmt::kMaxFixed + 8], expected[atomfmt::kMaxFixed + 8];
        char* end = atomfmt::put_value(got, v);
        char* expected_end = atomfmt::put_in_columns(expected, v, 6, 2, 0);
        EXPECT_EQ(std::string(got, end), std::string(expected, expected_end)) << format("%.17g", v);
    }
}

TEST(FastHy36, CounterTextsAreThoseOfPutHy36) {
    // Runs of consecutive numbers across every range edge of a 4- and a 5-column field (decimal to
    // upper-case base 36, upper to lower case, lower case to stars), numbers that stay (a residue over
    // its points), and jumps back and forth.
    for (int width : {4, 5}) {
        long decimal_end = 1, block = 26;
        for (int d = 0; d < width; ++d)
            decimal_end *= 10;
        for (int d = 1; d < width; ++d)
            block *= 36;
        atomfmt::Hy36Counter counter(width);
        std::vector<long> numbers;
        for (long start :
             {-20L, decimal_end - 1500, decimal_end + block - 1500, decimal_end + 2 * block - 1500}) {
            for (long v = start; v < start + 3000; ++v)
                numbers.push_back(v);
        }
        for (long v = 90; v < 1300; v += 1 + v % 3)
            numbers.insert(numbers.end(), {v, v, v});
        numbers.insert(numbers.end(),
                       {5, 4, 100000, 99, 100, 1L << 40, (1L << 40) + 1, LONG_MAX, LONG_MIN, 0, 1});
        for (long v : numbers) {
            char expected[atomfmt::kMaxLong + 8];
            atomfmt::put_hy36(expected, v, width);
            const char* got = counter.text(v);
            ASSERT_EQ(std::string(got, static_cast<std::size_t>(width)),
                      std::string(expected, static_cast<std::size_t>(width)))
                << "width " << width << ", number " << v;
        }
    }
}

// The file write_pdb writes, and the one a plain fprintf per record writes.
std::string written(const Tuhbdgrd& g, double min, double max, int resol, bool threaded) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&buffer, &size);
    testing::internal::CaptureStdout();
    write_pdb(f, &g, min, max, resol, "XYZ", threaded);
    testing::internal::GetCapturedStdout();
    std::fclose(f);
    std::string out(buffer, size);
    std::free(buffer);
    return out;
}

// printf's "%<width>.<decimals>f", with fewer decimals, then "%.<e>e", for a number too wide for its field.
std::string fitted(double v, int width, int decimals) {
    char text[512];
    for (int d = decimals; d >= 0; --d) {
        if (std::snprintf(text, sizeof text, "%*.*f", width, d, v) <= width) return text;
    }
    if (std::snprintf(text, sizeof text, "%*.*e", width, width == 8 ? 1 : 0, v) <= width) return text;
    return std::string(static_cast<std::size_t>(width), '*');
}

std::string reference(const Tuhbdgrd& g, double min, double max, int resol) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&buffer, &size);
    long v = 0, w = 0, resid = 0;
    int icol = 0;
    for (int i = 0; i < g.nx; ++i) {
        for (int j = 0; j < g.ny; ++j) {
            ++resid;
            for (int k = 0; k < g.nz; ++k, ++v) {
                const double value = g.data[v];
                if (min <= value && value <= max && ++icol == resol) {
                    std::fprintf(
                        f, "%-6s%5d %-4s%c%3s %c%4d%c   %s%s%s%6.2f%s%-12s\n", "ATOM", static_cast<int>(++w),
                        "CA", ' ', "UNK", 'A', static_cast<int>(resid), ' ',
                        fitted(g.xmin + i * g.hx, 8, 3).c_str(), fitted(g.ymin + j * g.hy, 8, 3).c_str(),
                        fitted(g.zmin + k * g.hz, 8, 3).c_str(), 1.0, fitted(value, 6, 2).c_str(), "  ");
                    icol = 0;
                }
            }
        }
    }
    std::fclose(f);
    std::string out(buffer, size);
    std::free(buffer);
    return out;
}

TEST(FastWriter, WholeFilesMatchOneFprintfPerRecord) {
    struct Case {
        int nx, ny, nz;
        double min, h, scale;
        int resol;
    };
    const Case cases[] = {
        {40, 30, 20, -12.3456, 0.375, 2.0, 1},
        {25, 25, 25, 0.0005, 0.001, 1000.0, 1},
        {10, 10, 100, -99999.0, 1234.5678, 1e5, 3},
        {50, 40, 60, 1.0, 0.005, 0.01, 1},
    };
    std::mt19937_64 rng(4242);
    for (const auto& c : cases) {
        Tuhbdgrd g{};
        g.nx = c.nx;
        g.ny = c.ny;
        g.nz = c.nz;
        g.xmin = c.min;
        g.ymin = -c.min;
        g.zmin = c.min / 3;
        g.hx = c.h;
        g.hy = c.h * 2;
        g.hz = c.h / 3;
        std::vector<double> values(static_cast<std::size_t>(c.nx) * c.ny * c.nz);
        std::normal_distribution<double> field(0.0, c.scale);
        for (double& v : values)
            v = field(rng);
        g.data = values;
        for (bool threaded : {false, true}) {
            const std::string got = written(g, -c.scale, c.scale, c.resol, threaded);
            const std::string remarks = got.substr(0, got.find("ATOM"));
            EXPECT_EQ(got, remarks + reference(g, -c.scale, c.scale, c.resol))
                << c.nx << "x" << c.ny << "x" << c.nz << (threaded ? " threaded" : " plain");
        }
    }
}

TEST(FastWriter, TheSecondThreadWritesTheSameBytes) {
    // 45 MB of records, many buffers handed from the formatting thread to the writing one.
    Tuhbdgrd g{};
    g.nx = 150;
    g.ny = 80;
    g.nz = 50;
    g.xmin = -3.5;
    g.hx = g.hy = g.hz = 0.375;
    std::vector<double> values(static_cast<std::size_t>(g.nx) * g.ny * g.nz);
    std::mt19937_64 rng(17);
    std::normal_distribution<double> field(0.0, 1.0);
    for (double& v : values)
        v = field(rng);
    g.data = values;
    const std::string plain = written(g, -2.0, 2.0, 1, false);
    EXPECT_GT(plain.size(), 40u << 20);
    EXPECT_TRUE(written(g, -2.0, 2.0, 1, true) == plain);
}

}  // namespace
