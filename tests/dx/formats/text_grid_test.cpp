// The value reading the text grid formats share (text_grid.h): the fixed E fields against strtod, and the
// lines read straight from the reader's block against the same lines handed over a few bytes at a time
// (where nearly every line spans two blocks and is read one at a time): the same values, the same line
// numbers and the same text left for the formats' messages. Then whole XPLOR/CNS, UHBD and Situs files,
// well formed and damaged, read both ways, their values against strtod of the text they were printed as.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/fatal.h"
#include "dx/formats/format.h"
#include "dx/formats/text_grid.h"
#include "dx/io/input.h"
#include "dx/io/lines.h"

namespace {

// A text handed out at most `step` bytes a read.
class TextSource final : public io::Source {
  public:
    TextSource(const std::string& text, std::size_t step) : text_(text), step_(step) {}
    std::size_t read(char* dst, std::size_t n) override {
        const std::size_t take = std::min({n, step_, text_.size() - at_});
        std::memcpy(dst, text_.data() + at_, take);
        at_ += take;
        return take;
    }

  private:
    const std::string& text_;
    std::size_t step_;
    std::size_t at_ = 0;
};

constexpr std::size_t kWhole = std::size_t{1} << 30;  // every read as large as the reader asks

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// scan_e_field<kWidth> on `field` (kWidth characters) followed by `after`: its value, or nothing.
template <std::size_t kWidth>
std::optional<double> e_field(const std::string& field, char after) {
    EXPECT_EQ(field.size(), kWidth) << field;
    const std::string text = field + after;
    double v = 0.0;
    if (!gridfmt::scan_e_field<kWidth>(text.data(), v)) return std::nullopt;
    return v;
}

TEST(ScanEField, TakesTheWritersFieldsAsStrtodReadsThemAndNothingElse) {
    struct Case {
        const char* field;  // 12 characters, or 13
        char after;
        bool taken;
    };
    const Case cases[] = {
        {"-0.00000E+00", ' ', true},    {" 0.00000E-99", '\n', true},  {"-0.00000e+99", '-', true},
        {" 9.99999E+27", ' ', true},    {" 9.99999E+28", ' ', false},  {" 1.00000E-17", ' ', true},
        {" 1.00000E-18", ' ', false},   {" 1.23456E-99", ' ', false},  {"-9.99999E+99", ' ', false},
        {" 1.00000D+00", ' ', false},   {" 1.00000E+00", '7', false},  {" 1.00000E+00", 'x', false},
        {" 1.00000E+00", '\r', true},   {"+1.00000E+00", ' ', false},  {"\t1.00000E+00", ' ', false},
        {" 1.000000E+0", ' ', false},   {" 1.0000E+000", ' ', false},  {" 1,00000E+00", ' ', false},
        {" 1.00000E 00", ' ', false},   {" 1.00000E+0x", ' ', false},  {" a.00000E+00", ' ', false},
        {" -1.00000E+00", ' ', true},   {"  1.00000e+05", '\n', true}, {"x-1.00000E+00", ' ', false},
        {"\t 1.00000E+00", ' ', false}, {" 1.00000E+00 ", ' ', false}, {"  -1.0000E+00", ' ', false},
    };
    for (const Case& c : cases) {
        const std::string field = c.field;
        const std::optional<double> got =
            field.size() == 12 ? e_field<12>(field, c.after) : e_field<13>(field, c.after);
        ASSERT_EQ(got.has_value(), c.taken) << '"' << field << '"';
        if (got) {
            EXPECT_TRUE(same_bits(*got, std::strtod(c.field, nullptr))) << field;
        }
    }
    // Random values over the exponents a field holds, in the three writers' forms: taken exactly when the
    // scale stays within the exact powers of ten (or the value is 0).
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<int> power(-40, 40);
    char text[40];
    int taken = 0;
    for (int n = 0; n < 30000; ++n) {
        const double x = normal(rng) * std::pow(10.0, power(rng)) * (n % 97 == 0 ? 0.0 : 1.0);
        const char* const form = n % 3 == 0 ? "%12.5E" : n % 3 == 1 ? "%12.5e" : " %12.5e";
        std::snprintf(text, sizeof text, form, x);
        const std::string field = text;
        const char after = " \n-"[n % 3];
        const std::optional<double> got =
            field.size() == 12 ? e_field<12>(field, after) : e_field<13>(field, after);
        const int exponent = std::atoi(field.c_str() + field.size() - 3);
        const bool zero = std::strtod(text, nullptr) == 0.0;
        ASSERT_EQ(got.has_value(), zero || (exponent - 5 >= -22 && exponent - 5 <= 22)) << field;
        if (!got) continue;
        ++taken;
        EXPECT_TRUE(same_bits(*got, std::strtod(text, nullptr))) << field;
    }
    EXPECT_GT(taken, 15000);
}

// What a reader gets from a text: its values, and a log of where the lines stood after each step.
struct Read {
    std::vector<double> values;
    std::string log;
};

// Takes every number of `text` as a reader does, `chunk` at a time through take(), one at a time through
// next() where take() stops, logging the line number, the current line and what is left of it after each
// take(), and how the numbers end.
Read read_lines(const std::string& text, std::size_t step, std::size_t width, std::size_t chunk) {
    TextSource source(text, step);
    io::BlockReader in(source);
    gridfmt::ValueLines lines(in, 0, width);
    std::vector<double> got(chunk);
    Read r;
    for (;;) {
        const std::size_t n = lines.take(reinterpret_cast<char*>(got.data()), chunk);
        r.values.insert(r.values.end(), got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n));
        // The current line is the stream's while take() stopped on it: at the count, or at a text that is
        // not a number. (At the stream's end, the last line's view is gone with the reader's block.)
        const bool on_line = n == chunk || !lines.rest().empty();
        r.log += std::to_string(n) + " to line " + std::to_string(lines.line_number()) + " [" +
                 std::string(on_line ? lines.line() : "") + "] [" + std::string(lines.rest()) + "]\n";
        if (n == chunk) continue;
        double v = 0.0;
        switch (lines.next(v)) {
            case gridfmt::ValueLines::Got::number:
                r.values.push_back(v);
                continue;
            case gridfmt::ValueLines::Got::end_of_line:
                r.log += "end at line " + std::to_string(lines.line_number());
                return r;
            case gridfmt::ValueLines::Got::other:
                r.log += "other at line " + std::to_string(lines.line_number()) + ": " + lines.word();
                return r;
        }
    }
}

// The values' bits, to compare them with what strtod makes of the same text.
std::string bits_of(const std::vector<double>& values) {
    std::string text;
    char bits[40];
    for (const double v : values) {
        std::snprintf(bits, sizeof bits, "%a ", v);
        text += bits;
    }
    return text;
}

// Value lines as the three formats' writers print them (`per_line` fields of `form`, fields separated by
// `gap`), the values drawn from `rng`; `printed` gets each value's text.
std::string value_lines(std::mt19937_64& rng, std::size_t count, const char* form, int per_line,
                        const char* gap, std::vector<std::string>* printed = nullptr) {
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<int> power(-3, 3);
    std::string text;
    char field[48];
    for (std::size_t n = 0; n < count; ++n) {
        std::snprintf(field, sizeof field, form, normal(rng) * std::pow(10.0, power(rng)));
        if (printed != nullptr) printed->push_back(field);
        text += field;
        text += (n + 1) % static_cast<std::size_t>(per_line) == 0 || n + 1 == count ? "\n" : gap;
    }
    return text;
}

// A copy of `text` with a few bytes changed, dropped or added where `rng` says.
std::string damaged(std::string text, std::mt19937_64& rng) {
    static const std::string_view kJunk[] = {"x", "-", " ",  "\n",    "\t",  "\r\n",  "E",    "D",      "+",
                                             ".", "9", "--", "1e400", "nan", "0x1p3", "\n\n", {"\0", 1}};
    std::uniform_int_distribution<int> what(0, 3), count(1, 3);
    for (int k = count(rng); k > 0 && !text.empty(); --k) {
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size() - 1)(rng);
        const std::string junk(kJunk[rng() % std::size(kJunk)]);
        switch (what(rng)) {
            case 0:
                text.replace(at, 1, junk);
                break;
            case 1:
                text.erase(at, 1);
                break;
            case 2:
                text.insert(at, junk);
                break;
            default:
                text.resize(at);
        }
    }
    return text;
}

struct Writer {
    const char* form;
    int per_line;
    const char* gap;
    std::size_t width;  // the fields the reader is told of
};
const Writer kWriters[] = {
    {"%12.5E", 6, "", 12}, {" %12.5e", 6, "", 13}, {"%.6f", 10, " ", 0},  {"%12.5E", 6, "", 0},
    {"%12.5e", 5, "", 13}, {"%13.5E", 6, "", 12},  {"%.6e", 6, "  ", 12}, {"%.5f", 10, " ", 0},
    {"%13.6E", 6, "", 12}, {" %12.5e", 4, "", 12},
};

TEST(ValueLines, ReadsWholeLinesFromTheBlockAsItReadsThemOneByOne) {
    std::mt19937_64 rng(7);
    int texts = 0;
    for (const Writer& w : kWriters) {
        for (int round = 0; round < 24; ++round) {
            std::vector<std::string> printed;
            const std::size_t count = 1 + rng() % 200;
            std::string text = value_lines(rng, count, w.form, w.per_line, w.gap, &printed);
            if (round % 4 == 1) text = "\n \n" + text + "\n\n";
            if (round % 4 == 2) text.pop_back();  // no line end after the last value
            const bool whole = round % 4 != 3;
            if (!whole) text = damaged(text, rng);
            for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, count, std::size_t{1000}}) {
                const Read expected = read_lines(text, 3, w.width, chunk);
                for (const std::size_t step : {kWhole, std::size_t{64}}) {
                    const Read got = read_lines(text, step, w.width, chunk);
                    EXPECT_EQ(got.log, expected.log) << w.form << " " << round << " " << chunk;
                    EXPECT_EQ(bits_of(got.values), bits_of(expected.values)) << w.form << " " << round;
                }
            }
            ++texts;
            if (!whole) continue;
            std::vector<double> values;
            for (const std::string& p : printed)
                values.push_back(std::strtod(p.c_str(), nullptr));
            EXPECT_EQ(bits_of(read_lines(text, kWhole, w.width, count).values), bits_of(values))
                << w.form << " " << round;
        }
    }
    EXPECT_EQ(texts, 240);
}

// A whole file of a format read through its reader: the values in walk order, or the run's message.
std::string read_file(std::string_view format, const std::string& text, std::size_t step) {
    TextSource source(text, step);
    io::BlockReader in(source);
    const FatalReport previous = set_fatal_report(throw_fatal_error);
    std::string result;
    try {
        std::unique_ptr<gridfmt::Reader> reader = gridfmt::format_named(format)->open(in, 0);
        const gridfmt::Geometry g = reader->read_header();
        if (1.0 * g.nx * g.ny * g.nz > 1e7) {
            result = "too large";  // a damaged header's count
        } else {
            std::vector<double> values(static_cast<std::size_t>(g.nx) * static_cast<std::size_t>(g.ny) *
                                       static_cast<std::size_t>(g.nz));
            reader->read_values(values, nullptr);
            result = bits_of(values);
        }
    } catch (const FatalError& e) {
        result = std::string("error: ") + e.what();
    }
    set_fatal_report(previous);
    return result;
}

// A grid of nx*ny*nz values in one of the three formats, listed x fastest; `walk` gets strtod of each
// value's text in walk order.
std::string grid_file(std::string_view format, int nx, int ny, int nz, std::mt19937_64& rng,
                      std::string& walk) {
    std::string text;
    std::vector<std::string> printed;
    char line[200];
    const std::size_t plane = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    if (format == "XPLOR/CNS") {
        std::snprintf(line, sizeof line, "\n       1 !NTITLE\n test\n%8d%8d%8d%8d%8d%8d%8d%8d%8d\n", nx, 0,
                      nx - 1, ny, 0, ny - 1, nz, 0, nz - 1);
        text = line;
        std::snprintf(line, sizeof line, "%12.5E%12.5E%12.5E%12.5E%12.5E%12.5E\nZYX\n", 1.0 * nx, 1.0 * ny,
                      1.0 * nz, 90.0, 90.0, 90.0);
        text += line;
        for (int k = 0; k < nz; ++k) {
            std::snprintf(line, sizeof line, "%8d\n", k);
            text += line + value_lines(rng, plane, "%12.5E", 6, "", &printed);
        }
        text += "   -9999\n  0.1000E+01  0.2000E+01\n";
    } else if (format == "UHBD") {
        std::snprintf(line, sizeof line, "%72s\n%12.5e%12.5e%7d%7d%7d%7d%7d\n", "test", 1.0, 0.0, -1, 0, nz,
                      1, nz);
        text = line;
        std::snprintf(line, sizeof line, "%7d%7d%7d%12.5e%12.5e%12.5e%12.5e\n", nx, ny, nz, 1.0, -1.0, -1.0,
                      -1.0);
        text += line;
        text += " 0.00000e+00 0.00000e+00 0.00000e+00 0.00000e+00\n 0.00000e+00 0.00000e+00      0      0\n";
        for (int k = 0; k < nz; ++k) {
            std::snprintf(line, sizeof line, "%7d%7d%7d\n", k + 1, nx, ny);
            text += line + value_lines(rng, plane, " %12.5e", 6, "", &printed);
        }
    } else {
        std::snprintf(line, sizeof line, "1.0 0 0 0 %d %d %d\n\n", nx, ny, nz);
        text = line + value_lines(rng, plane * static_cast<std::size_t>(nz), "%.6f", 10, " ", &printed);
    }
    std::vector<double> values;
    for (int i = 0; i < nx; ++i) {
        for (int j = 0; j < ny; ++j) {
            for (int k = 0; k < nz; ++k) {
                const std::size_t n =
                    static_cast<std::size_t>(k) * plane + static_cast<std::size_t>(j * nx + i);
                values.push_back(std::strtod(printed[n].c_str(), nullptr));
            }
        }
    }
    walk = bits_of(values);
    return text;
}

TEST(TextGridFormats, ReadValuesInWalkOrderAndFailAlikeWhateverTheBlocks) {
    std::mt19937_64 rng(11);
    int damaged_files = 0;
    for (const std::string_view format : {"XPLOR/CNS", "UHBD", "Situs"}) {
        for (int round = 0; round < 20; ++round) {
            const int nx = 1 + static_cast<int>(rng() % 9), ny = 1 + static_cast<int>(rng() % 9),
                      nz = 1 + static_cast<int>(rng() % (round == 0 ? 40 : 5));
            std::string walk;
            const std::string text = grid_file(format, nx, ny, nz, rng, walk);
            EXPECT_EQ(read_file(format, text, kWhole), walk) << format << " " << round;
            EXPECT_EQ(read_file(format, text, 5), walk) << format << " " << round;
            // Damaged: a reader of many small blocks, which reads nearly every line on its own, says the
            // same. (UHBD's reader keeps its own block over what it is given, so there the check is that
            // the file reads or fails without harm.)
            const std::string bad = damaged(text, rng);
            const std::string expected = read_file(format, bad, 5);
            if (format != "UHBD") {
                EXPECT_EQ(read_file(format, bad, kWhole), expected) << format << " " << bad;
            }
            damaged_files += expected.starts_with("error: ") ? 1 : 0;
        }
    }
    EXPECT_GE(damaged_files, 20);
}

}  // namespace
