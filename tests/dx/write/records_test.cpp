// The walk with the record filter and the two forms of records: the plain filter gives write_pdb's bytes,
// each region and the thinning select what they say, and the mmCIF rows carry every value exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dx/write/cif_writer.h"
#include "dx/write/pdb_writer.h"
#include "dx/write/record_filter.h"
#include "test_util.h"

namespace {

struct Grid {
    Tuhbdgrd g{};
    std::vector<double> values;
};

// An nx x ny x nz grid of 0.5 A steps from (1, 2, 3), its values a smooth field of both signs.
Grid grid(int nx, int ny, int nz) {
    Grid out;
    out.g.nx = nx;
    out.g.ny = ny;
    out.g.nz = nz;
    out.g.hx = out.g.hy = out.g.hz = 0.5;
    out.g.xmin = 1.0;
    out.g.ymin = 2.0;
    out.g.zmin = 3.0;
    for (int i = 0; i < nx * ny * nz; ++i)
        out.values.push_back(std::sin(0.37 * i) * 2.5 + 0.01 * i);
    out.g.data = out.values;
    return out;
}

template <class Write>
std::string captured(Write write) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&buffer, &size);
    write(f);
    std::fclose(f);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

std::string records(const Grid& in, const RecordFilter& filter, int resol, const RecordStyle& style = {},
                    RecordCounts* counts = nullptr, bool threaded = false) {
    return captured([&](std::FILE* f) {
        const RecordCounts c =
            write_records(f, in.g, ValueOrder::z_fastest, filter, resol, style, threaded, nullptr);
        if (counts != nullptr) *counts = c;
    });
}

std::vector<std::string> atom_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        if (line.rfind("ATOM", 0) == 0) lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// Point n of the walk as (i, j, k).
std::array<long, 3> point(const Grid& in, long n) {
    return {n / (in.g.ny * in.g.nz), n / in.g.nz % in.g.ny, n % in.g.nz};
}

TEST(WriteRecords, AWindowAloneWritesWritePdbsBytes) {
    struct Case {
        int nx, ny, nz;
        double min, max;
        int resol;
        bool threaded;
    };
    const Case cases[] = {{4, 5, 6, -1, 1, 1, false}, {4, 5, 6, -1, 1, 3, true},
                          {7, 3, 2, 0, 10, 2, false}, {2, 2, 2, 5, 4, 1, false},
                          {1, 1, 1, -9, 9, 1, true},  {30, 30, 30, -0.5, 3, 7, true},
                          {3, 0, 3, -1, 1, 1, false}};
    for (const Case& c : cases) {
        const Grid in = grid(c.nx, c.ny, c.nz);
        RecordFilter filter;
        filter.min = c.min;
        filter.max = c.max;
        const std::string legacy = captured([&](std::FILE* f) {
            write_pdb_records(f, in.g, c.min, c.max, c.resol, ValueOrder::z_fastest, c.threaded, nullptr);
        });
        RecordCounts counts;
        EXPECT_EQ(records(in, filter, c.resol, {}, &counts, c.threaded), legacy)
            << c.nx << "x" << c.ny << "x" << c.nz;
        EXPECT_EQ(counts.kept, counts.in_window);
        EXPECT_EQ(static_cast<std::size_t>(counts.written), atom_lines(legacy).size());
    }
}

TEST(WriteRecords, TheElementFillsColumns77And78Only) {
    const Grid in = grid(3, 3, 3);
    RecordFilter filter;
    const auto plain = atom_lines(records(in, filter, 1));
    for (const std::string element : {"X", "FE", "C"}) {
        RecordStyle style;
        style.element = element;
        const auto lines = atom_lines(records(in, filter, 1, style));
        ASSERT_EQ(lines.size(), plain.size());
        for (std::size_t n = 0; n < lines.size(); ++n) {
            ASSERT_EQ(lines[n].size(), 78u);
            EXPECT_EQ(lines[n].substr(0, 76), plain[n].substr(0, 76));
            EXPECT_EQ(lines[n].substr(76), std::string(2 - element.size(), ' ') + element);
        }
    }
}

// A large grid measured against atoms has its regions found first, on two threads: the same records and
// counts as the walk that measures each point itself, in either storage order, with every other region.
TEST(WriteRecords, RegionsFoundOnTwoThreadsWriteTheSameRecords) {
    const Grid in = grid(48, 40, 50);
    std::vector<Position> atoms;
    for (int n = 0; n < 60; ++n)
        atoms.push_back({1.0 + 0.37 * n, 2.0 + std::fmod(1.3 * n, 20.0), 3.0 + std::fmod(2.9 * n, 25.0)});
    const AtomCells near(atoms, 4.0), outside(atoms, 1.5);
    std::vector<std::uint8_t> mask(in.values.size());
    for (std::size_t n = 0; n < mask.size(); ++n)
        mask[n] = n % 7 != 0;
    struct Case {
        ValueOrder order;
        double min, max;
        int resol;
        bool box, masked;
    };
    const Case cases[] = {{ValueOrder::z_fastest, -1e9, 1e9, 1, false, false},
                          {ValueOrder::z_fastest, -0.5, 2.0, 3, true, false},
                          {ValueOrder::x_fastest, -1e9, 1e9, 2, false, true},
                          {ValueOrder::x_fastest, 1.0, 0.0, 1, false, false}};
    for (const Case& c : cases) {
        RecordFilter filter;
        filter.min = c.min;
        filter.max = c.max;
        filter.near = &near;
        filter.outside = &outside;
        if (c.box) filter.box = PositionBox{{2.0, 3.0, 4.0}, {20.0, 18.0, 25.0}};
        if (c.masked) filter.mask = mask;
        RecordCounts counts[2];
        std::string text[2];
        for (int threaded = 0; threaded < 2; ++threaded) {
            text[threaded] = captured([&](std::FILE* f) {
                counts[threaded] =
                    write_records(f, in.g, c.order, filter, c.resol, {}, threaded == 1, nullptr);
            });
        }
        // Compared whole, but only the first difference shown: the texts are megabytes long.
        const auto differ = std::mismatch(text[0].begin(), text[0].end(), text[1].begin(), text[1].end());
        EXPECT_TRUE(differ.first == text[0].end() && differ.second == text[1].end())
            << c.min << " " << c.max << ": one thread wrote \""
            << std::string(differ.first, text[0].end()).substr(0, 160) << "\", two \""
            << std::string(differ.second, text[1].end()).substr(0, 160) << "\"";
        EXPECT_EQ(counts[1].in_window, counts[0].in_window);
        EXPECT_EQ(counts[1].kept, counts[0].kept);
        EXPECT_EQ(counts[1].written, counts[0].written);
    }
}

// Which points a filter keeps, checked point by point against the rule each region states.
TEST(WriteRecords, RegionsMaskAndThinningKeepWhatTheySay) {
    const Grid in = grid(6, 5, 7);
    const auto points = in.values.size();
    std::vector<std::uint8_t> mask(points);
    for (std::size_t n = 0; n < points; ++n)
        mask[n] = n % 3 != 0;
    const std::vector<Position> atoms = {{2.0, 3.0, 4.0}, {3.5, 3.5, 5.5}};
    const AtomCells near(atoms, 1.0), outside(atoms, 0.5);
    const Axes axes = grid_axes(in.g);

    struct Case {
        const char* name;
        bool box, mask, near, outside, sigma;
        int resol;
    };
    const Case cases[] = {
        {"box", true, false, false, false, false, 1},   {"mask", false, true, false, false, false, 1},
        {"near", false, false, true, false, false, 1},  {"outside", false, false, false, true, false, 1},
        {"shell", false, false, true, true, false, 2},  {"everything", true, true, true, true, true, 3},
        {"sigma", false, false, false, false, true, 1}, {"mask thinned", false, true, false, false, false, 4},
    };
    const GridStatistics stats = grid_statistics(in.values);
    for (const Case& c : cases) {
        RecordFilter filter;
        filter.min = c.sigma ? -0.5 : -1.0;
        filter.max = c.sigma ? 1.0 : 2.0;
        if (c.sigma) filter.sigma = stats;
        if (c.box) filter.box = PositionBox{{1.5, 2.0, 3.5}, {3.0, 3.5, 5.0}};  // bounds on grid points
        if (c.mask) filter.mask = mask;
        if (c.near) filter.near = &near;
        if (c.outside) filter.outside = &outside;

        std::vector<long> kept;
        long in_window = 0;
        for (std::size_t n = 0; n < points; ++n) {
            const double z = c.sigma ? (in.values[n] - stats.mean) / stats.sd : in.values[n];
            if (!(filter.min <= z && z <= filter.max)) continue;
            ++in_window;
            const auto [i, j, k] = point(in, static_cast<long>(n));
            const Position p = grid_position(in.g, axes, i, j, k);
            if (c.box &&
                !(p[0] >= 1.5 && p[0] <= 3.0 && p[1] >= 2.0 && p[1] <= 3.5 && p[2] >= 3.5 && p[2] <= 5.0))
                continue;
            if (c.mask && mask[n] == 0) continue;
            auto within = [&](double r) {
                for (const Position& a : atoms) {
                    const double dx = p[0] - a[0], dy = p[1] - a[1], dz = p[2] - a[2];
                    if (dx * dx + dy * dy + dz * dz <= r * r) return true;
                }
                return false;
            };
            if (c.near && !within(1.0)) continue;
            if (c.outside && within(0.5)) continue;
            kept.push_back(static_cast<long>(n));
        }
        RecordCounts counts;
        const auto lines = atom_lines(records(in, filter, c.resol, {}, &counts));
        EXPECT_EQ(counts.in_window, in_window) << c.name;
        EXPECT_EQ(counts.kept, static_cast<long>(kept.size())) << c.name;
        ASSERT_EQ(lines.size(), kept.size() / static_cast<std::size_t>(c.resol)) << c.name;
        ASSERT_FALSE(lines.empty()) << c.name;
        for (std::size_t r = 0; r < lines.size(); ++r) {
            // Every resol-th kept point, serials 1, 2, ..., the residue of its (i, j) column.
            const long n = kept[(r + 1) * static_cast<std::size_t>(c.resol) - 1];
            const auto [i, j, k] = point(in, n);
            char expected[80];
            std::snprintf(expected, sizeof expected, "ATOM  %5zu CA   UNK A%4ld", r + 1, i * in.g.ny + j + 1);
            EXPECT_EQ(lines[r].substr(0, 26), expected) << c.name;
            EXPECT_DOUBLE_EQ(std::atof(lines[r].substr(46, 8).c_str()), 3.0 + 0.5 * static_cast<double>(k));
        }
    }
}

TEST(WriteRecords, AMaskShorterThanTheGridIsRefused) {
    const Grid in = grid(2, 2, 2);
    const std::vector<std::uint8_t> mask(7, 1);
    RecordFilter filter;
    filter.mask = mask;
    EXPECT_FATAL(records(in, filter, 1), "The mask holds fewer entries than the grid has points");
}

TEST(WriteRecords, MmcifRowsCarryEveryNumberWhole) {
    // The worked example of the README: a 2 x 2 x 3 grid, window 0.5 to 2.
    Grid in = grid(2, 2, 3);
    in.values = {0.10, 0.85, 1.40, -0.30, 0.95, 0.60, 2.10, 0.75, -1.20, 0.55, 0.05, 1.90};
    in.g.xmin = in.g.ymin = in.g.zmin = 0.0;
    in.g.hx = in.g.hy = 1.0;
    in.g.data = in.values;
    RecordFilter filter;
    filter.min = 0.5;
    filter.max = 2.0;
    RecordStyle style;
    style.format = RecordFormat::mmcif;
    style.block = "pocket";
    const std::string text = records(in, filter, 1, style);
    const std::string rows =
        "ATOM 1 X CA . UNK A 1 1 ? 0.000 0.000 0.500 1.00 0.85 1 A 1\n"
        "ATOM 2 X CA . UNK A 1 1 ? 0.000 0.000 1.000 1.00 1.4 1 A 1\n"
        "ATOM 3 X CA . UNK A 1 2 ? 0.000 1.000 0.500 1.00 0.95 2 A 1\n"
        "ATOM 4 X CA . UNK A 1 2 ? 0.000 1.000 1.000 1.00 0.6 2 A 1\n"
        "ATOM 5 X CA . UNK A 1 3 ? 1.000 0.000 0.500 1.00 0.75 3 A 1\n"
        "ATOM 6 X CA . UNK A 1 4 ? 1.000 1.000 0.000 1.00 0.55 4 A 1\n"
        "ATOM 7 X CA . UNK A 1 4 ? 1.000 1.000 1.000 1.00 1.9 4 A 1\n"
        "#\n";
    EXPECT_EQ(text.substr(0, 14), "data_pocket\n#\n");
    EXPECT_NE(text.find("# Generated from Cavora (https://cavora.bio/)\n"), std::string::npos);
    EXPECT_NE(text.find("_chem_comp_bond.comp_id UNK\n"), std::string::npos);
    EXPECT_NE(text.find("_atom_site.pdbx_PDB_model_num\n" + rows), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(rows));

    // No point: no loop, which CIF does not allow without rows.
    filter.min = 100.0;
    const std::string empty = records(in, filter, 1, style);
    EXPECT_EQ(empty.find("loop_"), std::string::npos);
    EXPECT_EQ(empty.find("ATOM"), std::string::npos);

    // Serials and residues past the PDB columns stay plain integers; the element goes into type_symbol.
    const Grid big = grid(120, 100, 9);
    RecordFilter all;
    all.min = -1e9;
    all.max = 1e9;
    style.element = "XE";
    const std::string wide = records(big, all, 1, style, nullptr, true);
    EXPECT_NE(wide.find("\nATOM 108000 XE CA . UNK A 1 12000 ? 60.500 51.500 7.000 1.00 "),
              std::string::npos);
    // Every id, across each carry (9 to 10, 99 to 100, ..., 99999 to 100000), is its row's number.
    long row = 0;
    for (std::size_t at = wide.find("\nATOM "); at != std::string::npos; at = wide.find("\nATOM ", at + 1)) {
        const std::string id = wide.substr(at + 6, wide.find(' ', at + 6) - (at + 6));
        ASSERT_EQ(id, std::to_string(++row));
    }
    EXPECT_EQ(row, 108000);
}

TEST(CifValues, EveryValueReadsBackExactly) {
    const double tricky[] = {0.0,
                             -0.0,
                             1e-3,
                             9.99999e-4,
                             0.1,
                             1.0 / 3.0,
                             -2.470518,
                             9999999.0,
                             1e7,
                             1e-300,
                             -1e300,
                             5e-324,
                             1.7976931348623157e308,
                             123456.7,
                             0.00125,
                             2.5e-3,
                             -0.99999995,
                             1234567.8};
    std::vector<double> values(std::begin(tricky), std::end(tricky));
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    char text[64];
    for (int n = 0; n < 200000; ++n) {
        const double v = u(rng) * std::pow(10.0, static_cast<int>(rng() % 20) - 8);
        values.push_back(v);
        values.push_back(static_cast<float>(v));
        std::snprintf(text, sizeof text, "%.*e", static_cast<int>(rng() % 9), v);  // as grid files write them
        values.push_back(std::strtod(text, nullptr));
        // The doubles beside a short text's own: its digits must not be written for them.
        values.push_back(std::nextafter(values.back(), 0.0));
        values.push_back(std::nextafter(values[values.size() - 2], 1e300));
    }
    for (double v : values) {
        char* end = ciffmt::put_value(text, v);
        *end = '\0';
        const double back = std::strtod(text, nullptr);
        ASSERT_TRUE(back == v && std::signbit(back) == std::signbit(v)) << text << " for " << v;
    }
    // Values read from short texts are written as short texts.
    for (const char* shown : {"-2.470518", "0.85", "1234567", "0.001", "12.5", "-0.0123457"}) {
        *ciffmt::put_value(text, std::strtod(shown, nullptr)) = '\0';
        EXPECT_STREQ(text, shown);
    }
    // Values of at most nine significant digits from 0.001 up to 10^7 are written as "%.9g" writes them
    // (fixed notation there, trailing zeros dropped), whatever their digits: round numbers, zeros inside,
    // every place of the point, powers of two.
    char expected[64];
    std::vector<double> short_values;
    for (int n = 0; n < 300000; ++n) {
        std::snprintf(text, sizeof text, "%.*e", static_cast<int>(rng() % 9), u(rng) * 10.0);
        short_values.push_back(std::strtod(text, nullptr) * std::pow(10.0, static_cast<int>(rng() % 11) - 4));
    }
    for (int e = -9; e < 24; ++e)
        short_values.push_back(std::ldexp(1.0, e));
    for (double v : short_values) {
        std::snprintf(text, sizeof text, "%.8e", v);
        const double nine = std::strtod(text, nullptr);
        if (std::fabs(nine) < 1e-3 || std::fabs(nine) >= 1e7) continue;
        std::snprintf(expected, sizeof expected, "%.9g", nine);
        *ciffmt::put_value(text, nine) = '\0';
        ASSERT_STREQ(text, expected) << "for " << nine;
    }
}

// Rows are written in batches: whatever serials a caller passes (gaps, a step back, negatives, each
// carry) and however long a column runs, every row is the one a row-by-row writer would make.
TEST(WriteRecords, MmcifRowsInBatchesAreEachRowsOwn) {
    const Grid in = grid(2, 2, 260);
    const std::vector<std::vector<long>> serial_runs = {
        {},  // the walk's own, 1 to 1040
        {5, 7, 8,   9,   10,   11,   99,   100,  101,     199,     200,     -3, -2, 0, 1,
         2, 3, 998, 999, 1000, 1001, 1999, 2000, 1000098, 1000099, 1000100, 4,  4,  3}};
    for (const auto& run : serial_runs) {
        std::vector<std::string> expected;
        const std::string text = captured([&](std::FILE* f) {
            ciffmt::CifWriter writer(f, in.g, false, "", "b");
            for (long n = 0; n < static_cast<long>(run.empty() ? in.values.size() : run.size()); ++n) {
                const auto [i, j, k] = point(in, run.empty() ? n : n * 37 % 1040);
                const long serial = run.empty() ? n + 1 : run[static_cast<std::size_t>(n)];
                const double value = in.values[static_cast<std::size_t>((i * 2 + j) * 260 + k)];
                const long residue = i * 2 + j + 1;
                writer.write(serial, residue, i, j, k, value);
                char row[160];
                char shown[64];
                *ciffmt::put_value(shown, value) = '\0';
                std::snprintf(row, sizeof row, "ATOM %ld X CA . UNK A 1 %ld ? %.3f %.3f %.3f 1.00 %s %ld A 1",
                              serial, residue, 1.0 + 0.5 * static_cast<double>(i),
                              2.0 + 0.5 * static_cast<double>(j), 3.0 + 0.5 * static_cast<double>(k), shown,
                              residue);
                expected.push_back(row);
            }
        });
        EXPECT_EQ(atom_lines(text), expected);
    }
}

// The texts of a batch, made four or eight at a time where the processor can, are those made one by
// one, and are made for the same values: raw bits, short decimals of every decade and their neighbours,
// powers of two (the decade's edges) and what is not a number.
TEST(CifValues, ABatchMakesTheTextsOfOneByOne) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1e-3,
                                  9.999999e-4,
                                  1e7,
                                  9999999.0,
                                  9999999.5,
                                  999999.95,
                                  5e-324,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 rng(11);
    char text[64];
    for (int e = -12; e < 26; ++e)
        for (double v : {std::ldexp(1.0, e), std::nextafter(std::ldexp(1.0, e), 0.0), std::pow(10.0, e / 2)})
            values.push_back(v);
    for (int n = 0; n < 400000; ++n) {
        const std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
        std::snprintf(
            text, sizeof text, "%.*e", static_cast<int>(rng() % 9),
            static_cast<double>(rng() % 20000000) * std::pow(10.0, static_cast<int>(rng() % 16) - 13));
        const double decimal = (rng() & 1 ? -1 : 1) * std::strtod(text, nullptr);
        values.push_back(decimal);
        values.push_back(std::nextafter(decimal, rng() & 1 ? 1e300 : 0.0));
    }
    ciffmt::value_text::Values batch_values;
    ciffmt::value_text::TextBatch batch;
    for (std::size_t at = 0; at < values.size(); at += ciffmt::value_text::kBatch) {
        const std::size_t count = std::min(values.size() - at, at % 3 == 0 ? 5 : ciffmt::value_text::kBatch);
        std::copy_n(values.begin() + static_cast<long>(at), count, batch_values.begin());
        ciffmt::value_text::make_texts(batch_values, count, batch);
        for (std::size_t r = 0; r < count; ++r) {
            ciffmt::value_text::SevenDigitText t;
            const std::size_t length = ciffmt::value_text::seven_digit_text(batch_values[r], t)
                                           ? static_cast<std::size_t>(ciffmt::value_text::put(text, t) - text)
                                           : 0;
            ASSERT_EQ(batch.length[r], length) << batch_values[r];
            ASSERT_EQ(std::string(batch.text[r], length), std::string(text, length)) << batch_values[r];
        }
    }
}

TEST(CifValues, BlockNames) {
    const std::pair<const char*, const char*> cases[] = {{"runs/pot.dx.cif", "pot.dx"},
                                                         {"pot.cif", "pot"},
                                                         {"my grid.cif", "my_grid"},
                                                         {"-", "-"},
                                                         {".cif", ".cif"},
                                                         {"", "voxmol"},
                                                         {"a/b/c", "c"},
                                                         {"p#1;x.cif", "p_1_x"},
                                                         {"dir.d/file", "file"}};
    for (const auto& [name, block] : cases)
        EXPECT_EQ(ciffmt::block_name(name), block) << name;
}

TEST(GridStatistics, MeanAndPopulationDeviationOfTheNumbers) {
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<double> values;
        double mean, sd;
        std::size_t count;
    };
    const Case cases[] = {
        {{1, 2, 3, 4}, 2.5, std::sqrt(1.25), 4},
        {{1, nan, 3, inf, -inf}, 2.0, 1.0, 2},
        {{7, 7, 7}, 7.0, 0.0, 3},
        {{nan}, 0.0, 0.0, 0},
        {{1e9 + 1, 1e9 + 2, 1e9 + 3}, 1e9 + 2, std::sqrt(2.0 / 3.0), 3},
    };
    for (const Case& c : cases) {
        const GridStatistics s = grid_statistics(c.values);
        EXPECT_EQ(s.count, c.count);
        EXPECT_NEAR(s.mean, c.mean, 1e-12 * std::fabs(c.mean));
        EXPECT_NEAR(s.sd, c.sd, 1e-12);
    }
}

TEST(PointsWritten, CountsAndVolume) {
    Tuhbdgrd g{};
    g.axes = {{{0.5, 0, 0}, {0.1, 0.5, 0}, {0, 0, 0.5}}};  // sheared: the volume is still 0.125
    EXPECT_DOUBLE_EQ(cell_volume(g), 0.125);
    struct Case {
        long in_window, kept, written;
        double volume;
        const char* line;
    };
    const Case cases[] = {
        {141223, 5956, 5956, 0.125, "Points written: 5,956 of 141,223 in the window (744.5 \u00c5\u00b3)\n"},
        {4014433, 39058, 19529, 0.125,
         "Points written: 19,529 of 4,014,433 in the window (39,058 kept before thinning, 4,882.2 "
         "\u00c5\u00b3)\n"},
        {0, 0, 0, 1.0, "Points written: 0 of 0 in the window (0.0 \u00c5\u00b3)\n"},
    };
    for (const Case& c : cases) {
        RecordCounts counts;
        counts.in_window = c.in_window;
        counts.kept = c.kept;
        counts.written = c.written;
        testing::internal::CaptureStdout();
        print_points_written(counts, c.volume);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
}

}  // namespace
