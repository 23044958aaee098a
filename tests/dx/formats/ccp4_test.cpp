// The CCP4/MRC reader in the process: which files are taken for CCP4/MRC, and the move of values from
// file order into walk order for every axis order, on maps large enough that the values come in
// several slabs (and a slab ends inside a line along Z); the same maps read in single precision.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dx/formats/format.h"
#include "dx/io/lines.h"

namespace {

void put(std::string& out, int word, std::uint32_t w, bool big) {
    if (big) w = __builtin_bswap32(w);
    std::memcpy(out.data() + 4 * (word - 1), &w, 4);
}

// A header with dimensions NC, NR, NS, the axis order and mode given, a cell of one Ångström per point.
std::string header(std::array<int, 3> n, std::array<int, 3> axes, int mode, bool big, bool stamp = true) {
    std::string h(1024, '\0');
    std::array<int, 3> dims{};
    for (int f = 0; f < 3; ++f)
        dims[axes[f] - 1] = n[f];
    for (int d = 0; d < 3; ++d) {
        put(h, 1 + d, static_cast<std::uint32_t>(n[d]), big);
        put(h, 8 + d, static_cast<std::uint32_t>(dims[d]), big);
        put(h, 11 + d, std::bit_cast<std::uint32_t>(static_cast<float>(dims[d])), big);
        put(h, 14 + d, std::bit_cast<std::uint32_t>(90.0f), big);
        put(h, 17 + d, static_cast<std::uint32_t>(axes[d]), big);
    }
    put(h, 4, static_cast<std::uint32_t>(mode), big);
    if (stamp) {
        h.replace(208, 4, "MAP ");
        h.replace(212, 2, big ? "\x11\x11" : "DA");
    }
    return h;
}

TEST(Ccp4Recognise, TakesMapsAndLeavesText) {
    const std::string text_with_map =
        "! a native grid whose comment holds MAP at byte 208\n" + std::string(156, 'x') + "MAP \n" +
        "0 0 0 1 1 1 0 0 2 1 1 0 0 0 1 1 1\n1.0\n2.0\n" + std::string(1000, '\n');
    ASSERT_EQ(text_with_map.substr(208, 4), "MAP ");
    struct Case {
        const char* what;
        std::string prefix;
        std::string_view format;
    };
    const std::vector<Case> cases = {
        {"little-endian map", header({4, 5, 6}, {1, 2, 3}, 2, false), "CCP4/MRC"},
        {"big-endian map", header({4, 5, 6}, {3, 1, 2}, 1, true), "CCP4/MRC"},
        {"map cut inside its header", header({4, 5, 6}, {1, 2, 3}, 2, false).substr(0, 300), "CCP4/MRC"},
        {"old header without a stamp", header({4, 5, 6}, {2, 1, 3}, 0, true, false), "CCP4/MRC"},
        {"mode 4 still a map (refused by the reader)", header({4, 5, 6}, {1, 2, 3}, 4, false), "CCP4/MRC"},
        {"old header with an unknown mode", header({4, 5, 6}, {1, 2, 3}, 4, false, false), "voxmol text"},
        {"text holding MAP at byte 208", text_with_map, "voxmol text"},
        {"text shorter than a header", "0 0 0 1 1 1 0 0 1 1 1 0 0 0 1 1 1\n5\n", "voxmol text"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gridfmt::recognise(c.prefix, "grid.map").name, c.format) << c.what;
}

// The value of file point f (columns fastest) in each mode: distinct, exact as a double.
std::string value_bytes(int mode, std::size_t f, bool big) {
    std::string b;
    if (mode == 2) {
        std::uint32_t w = std::bit_cast<std::uint32_t>(static_cast<float>(f) - 1e6f);
        if (big) w = __builtin_bswap32(w);
        b.assign(reinterpret_cast<const char*>(&w), 4);
    } else if (mode == 1) {
        std::uint16_t w = static_cast<std::uint16_t>(f * 7919u);
        if (big) w = __builtin_bswap16(w);
        b.assign(reinterpret_cast<const char*>(&w), 2);
    } else {
        b.assign(1, static_cast<char>(f * 31u));
    }
    return b;
}

double expected_value(int mode, std::size_t f) {
    if (mode == 2) return static_cast<double>(static_cast<float>(f) - 1e6f);
    if (mode == 1) return static_cast<std::int16_t>(static_cast<std::uint16_t>(f * 7919u));
    return static_cast<std::int8_t>(static_cast<unsigned char>(f * 31u));
}

TEST(Ccp4Reader, EveryAxisOrderLandsInWalkOrder) {
    struct Case {
        std::array<int, 3> n;
        std::array<int, 3> axes;
        int mode;
        bool big;
    };
    const std::vector<Case> cases = {
        {{300, 300, 20}, {1, 2, 3}, 2, false},  // sections along Z: 11 sections a slab, then 9
        {{300, 300, 20}, {2, 1, 3}, 2, true},   // the same, X and Y exchanged
        {{2000, 600, 2}, {1, 3, 2}, 2, false},  // rows along Z: 524 rows a slab, a slab ends inside a section
        {{2000, 600, 2}, {2, 3, 1}, 1, true},   //   in int16, one slab a section
        {{1200000, 2, 1}, {3, 1, 2}, 2, false},  // columns along Z, longer than a slab
        {{1000, 3, 5}, {3, 2, 1}, 1, false},     // columns along Z, many rows a read
        {{7, 5, 3}, {2, 3, 1}, 0, false},        // tiny, every axis moved
        {{5000, 700, 3}, {1, 2, 3}, 0, false},   // int8: one section a slab
        {{70, 60, 50}, {1, 2, 3}, 1, true},      // int16 listed x fastest, converted in chunks
        {{70, 60, 50}, {3, 2, 1}, 2, true},      // floats listed z fastest, swapped
        {{70, 60, 50}, {1, 2, 3}, 2, false},     // floats as the machine holds them: one bulk read
    };
    for (const Case& c : cases) {
        std::string bytes = header(c.n, c.axes, c.mode, c.big);
        const std::size_t count = std::size_t(c.n[0]) * c.n[1] * c.n[2];
        for (std::size_t f = 0; f < count; ++f)
            bytes += value_bytes(c.mode, f, c.big);
        // Read twice: into doubles in walk order, and into floats in the order the reader chooses.
        std::vector<double> values(count);
        std::vector<float> singles(count);
        ValueOrder single_order{};
        gridfmt::Geometry g;
        for (bool single : {false, true}) {
            std::FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
            ASSERT_NE(file, nullptr);
            io::BlockReader in(file);
            const auto reader = gridfmt::format_named("CCP4/MRC")->open(in, 0);
            g = reader->read_header();
            ASSERT_TRUE(reader->holds_single());
            if (single)
                single_order = reader->read_single(singles);
            else
                reader->read_values(values, nullptr);
            std::fclose(file);
        }

        std::array<int, 3> dims{};
        for (int f = 0; f < 3; ++f)
            dims[c.axes[f] - 1] = c.n[f];
        const std::string what = std::to_string(c.n[0]) + "x" + std::to_string(c.n[1]) + "x" +
                                 std::to_string(c.n[2]) + " axes " + std::to_string(c.axes[0]) +
                                 std::to_string(c.axes[1]) + std::to_string(c.axes[2]);
        ASSERT_EQ((std::array<int, 3>{g.nx, g.ny, g.nz}), dims) << what;
        std::size_t wrong = 0;
        for (int s = 0; s < c.n[2]; ++s) {
            for (int r = 0; r < c.n[1]; ++r) {
                for (int col = 0; col < c.n[0]; ++col) {
                    std::array<std::size_t, 3> p{};
                    p[c.axes[0] - 1] = col;
                    p[c.axes[1] - 1] = r;
                    p[c.axes[2] - 1] = s;
                    const std::size_t f = col + std::size_t(c.n[0]) * (r + std::size_t(c.n[1]) * s);
                    const std::size_t walk = (p[0] * g.ny + p[1]) * g.nz + p[2];
                    if (values[walk] != expected_value(c.mode, f) && wrong++ < 3) {
                        ADD_FAILURE() << what << ": file point " << f << " read as " << values[walk];
                    }
                    const std::size_t stored = single_order == ValueOrder::x_fastest
                                                   ? p[0] + g.nx * (p[1] + std::size_t(g.ny) * p[2])
                                                   : walk;
                    if (singles[stored] != expected_value(c.mode, f) && wrong++ < 3) {
                        ADD_FAILURE()
                            << what << ": file point " << f << " read as the float " << singles[stored];
                    }
                }
            }
        }
        EXPECT_EQ(wrong, 0u) << what;
        // Listed x fastest or z fastest, the floats are stored as they lie; any other order in walk order.
        const bool x_first = c.axes == std::array<int, 3>{1, 2, 3};
        EXPECT_EQ(single_order, x_first ? ValueOrder::x_fastest : ValueOrder::z_fastest) << what;
    }
}

}  // namespace
