// CCP4/MRC maps given to the built voxmol: the lines the run prints about them, and every kind of bad
// map refused with its message, exit status 1 and no output file. The bad maps are made here from a
// small good header, changed one field at a time.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;
using clitest::ends_with;
using clitest::fatal;
using clitest::gzip;
using clitest::has_line;
namespace fs = std::filesystem;

// A map's header fields (in the file's axes where the format keeps them so) and its bytes.
struct Map {
    std::array<std::int32_t, 3> n{2, 3, 4};  // NC, NR, NS
    std::int32_t mode = 2;
    std::array<std::int32_t, 3> start{};
    std::array<std::int32_t, 3> sampling{2, 3, 4};  // MX, MY, MZ
    std::array<float, 3> cell{2.0f, 3.0f, 4.0f};
    std::array<float, 3> angles{90.0f, 90.0f, 90.0f};
    std::array<std::int32_t, 3> axes{1, 2, 3};  // MAPC, MAPR, MAPS
    std::int32_t nsymbt = 0;
    std::int32_t lskflg = 0;
    std::array<float, 3> origin{};
    std::string stamp = "MAP ";
    std::string machst{"DA\0\0", 4};
    bool big = false;
    std::string extended{};    // the extended header's bytes (NSYMBT is set to their count unless given)
    std::int64_t values = -1;  // how many values follow; -1: NC*NR*NS
    std::string trailing{};    // bytes after the values

    void put(std::string& out, std::size_t at, std::uint32_t w) const {
        if (big) w = __builtin_bswap32(w);
        std::memcpy(out.data() + at, &w, 4);
    }
    void put_int(std::string& out, int word, std::int32_t v) const {
        put(out, 4 * (word - 1), std::bit_cast<std::uint32_t>(v));
    }
    void put_float(std::string& out, int word, float v) const {
        put(out, 4 * (word - 1), std::bit_cast<std::uint32_t>(v));
    }

    std::size_t bytes_per_value() const { return mode == 0 ? 1 : mode == 2 ? 4 : 2; }

    std::string bytes() const {
        std::string out(1024, '\0');
        for (int d = 0; d < 3; ++d) {
            put_int(out, 1 + d, n[d]);
            put_int(out, 5 + d, start[d]);
            put_int(out, 8 + d, sampling[d]);
            put_float(out, 11 + d, cell[d]);
            put_float(out, 14 + d, angles[d]);
            put_int(out, 17 + d, axes[d]);
            put_float(out, 50 + d, origin[d]);
        }
        put_int(out, 4, mode);
        put_int(out, 24, nsymbt != 0 ? nsymbt : static_cast<std::int32_t>(extended.size()));
        put_int(out, 25, lskflg);
        out.replace(208, 4, stamp);
        out.replace(212, 4, machst);
        out += extended;
        const std::int64_t count = values >= 0 ? values : std::int64_t{n[0]} * n[1] * n[2];
        // Value v is v + 1 in the map's type: 1.0f, 2.0f, ... for mode 2.
        for (std::int64_t v = 0; v < count; ++v) {
            std::string value(bytes_per_value(), '\0');
            if (mode == 2) {
                std::uint32_t w = std::bit_cast<std::uint32_t>(static_cast<float>(v + 1));
                if (big) w = __builtin_bswap32(w);
                std::memcpy(value.data(), &w, 4);
            } else if (bytes_per_value() == 2) {
                std::uint16_t w = static_cast<std::uint16_t>(v + 1);
                if (big) w = __builtin_bswap16(w);
                std::memcpy(value.data(), &w, 2);
            } else {
                value[0] = static_cast<char>(v + 1);
            }
            out += value;
        }
        return out + trailing;
    }
};

// Runs voxmol on `bytes` as map.mrc, or gzip-compressed as map.mrc.gz.
CliRun run_map(const std::string& bytes, bool compressed = false) {
    const std::string name = compressed ? "map.mrc.gz" : "map.mrc";
    return clitest::run_voxmol({name, "-l", "2"}, {{name, compressed ? gzip(bytes) : bytes}});
}

// A map written by mrcfile with columns along Z, rows along X, sections along Y and start indices: the
// run's lines and the PDB file, byte for byte.
TEST(CliCcp4, PermutedMapFromMrcfile) {
    const fs::path grids = fs::path(VOXMOL_TEST_DATA) / "grids";
    const CliRun r =
        clitest::run_voxmol({"ccp4_permuted.mrc", "-t", "-100", "100", "-l", "2"},
                            {{"ccp4_permuted.mrc", clitest::read_file(grids / "ccp4_permuted.mrc")}});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string lines =
        "Grid format: CCP4/MRC, mode 2 (float32)\n"
        "Dimensions: X= 3   Y= 2   Z= 4\n"
        "Min= -1.000  2.500  4.000   Max=  0.000  3.000  5.500\n"
        "Spacing of the grid= 0.50 0.50 0.50\n"
        "Dimension of data: X= 3 Y= 2 Z= 4 \n"
        "Time to read the data file : N sec\n";
    EXPECT_NE(clitest::mask_seconds(r.out).find(lines), std::string::npos) << r.out;
    ASSERT_EQ(r.written.size(), 1u);
    EXPECT_EQ(r.written.at("ccp4_permuted.pdb"), clitest::read_file(grids / "ccp4_permuted.pdb"));
}

// The "Grid format" line and the warnings of maps that read.
TEST(CliCcp4, FormatLinesAndWarnings) {
    struct Case {
        const char* what;
        Map map;
        bool gzip;
        std::vector<std::string> lines;
    };
    const std::string no_stamp(4, '\0');
    const std::vector<Case> cases = {
        {"float32", Map{}, false, {"Grid format: CCP4/MRC, mode 2 (float32)"}},
        {"gzip", Map{}, true, {"Grid format: CCP4/MRC, mode 2 (float32), gzip"}},
        {"big-endian int16",
         Map{.mode = 1, .machst = {"\x11\x11\0\0", 4}, .big = true},
         false,
         {"Grid format: CCP4/MRC, mode 1 (int16), big-endian"}},
        {"int8", Map{.mode = 0}, false, {"Grid format: CCP4/MRC, mode 0 (int8)"}},
        {"uint16, gzip", Map{.mode = 6}, true, {"Grid format: CCP4/MRC, mode 6 (uint16), gzip"}},
        {"float16", Map{.mode = 12}, false, {"Grid format: CCP4/MRC, mode 12 (float16)"}},
        {"no machine stamp",
         Map{.machst = no_stamp, .big = true},
         false,
         {"Grid format: CCP4/MRC, mode 2 (float32), big-endian",
          "WARNING: The CCP4/MRC machine stamp (MACHST) is 0x00 0x00 0x00 0x00, which names no byte order; "
          "the header reads as big-endian"}},
        {"a stamp the header contradicts",
         Map{.big = true},
         false,
         {"WARNING: The CCP4/MRC machine stamp (MACHST) says little-endian, but the header reads only as "
          "big-endian; read as big-endian"}},
        {"old header without MAP",
         Map{.stamp = no_stamp, .machst = no_stamp},
         false,
         {"Grid format: CCP4/MRC, mode 2 (float32)"}},
        {"sampling 0",
         Map{.sampling = {0, 3, 4}, .axes = {2, 1, 3}},
         false,
         {"WARNING: The CCP4/MRC header gives the sampling MX = 0; taken as the grid's 3 points along X",
          "Spacing of the grid= 0.67 1.00 1.00"}},
        {"skew matrix",
         Map{.lskflg = 1},
         false,
         {"WARNING: The CCP4/MRC header sets a skew matrix (LSKFLG); voxmol ignores it and places the grid "
          "in the cell"}},
        {"ORIGIN and start",
         Map{.start = {1, 2, 3}, .origin = {1.5f, 2.5f, 3.5f}},
         false,
         {"WARNING: The CCP4/MRC header sets both the origin (ORIGIN) and the start indices (1 2 3 along X, "
          "Y, Z); the grid starts at ORIGIN",
          "Min=  1.500  2.500  3.500   Max=  2.500  4.500  6.500"}},
        {"extended header",
         Map{.extended = std::string(80, 'x')},
         false,
         {"Grid format: CCP4/MRC, mode 2 (float32)"}},
    };
    for (const Case& c : cases) {
        const CliRun r = run_map(c.map.bytes(), c.gzip);
        EXPECT_EQ(r.status, 0) << c.what << "\n" << r.out;
        EXPECT_EQ(r.written.count(c.gzip ? "map.mrc.pdb" : "map.pdb"), 1u) << c.what;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(has_line(r.out, line)) << c.what << ": no line\n" << line << "\nin\n" << r.out;
    }
}

// Every kind of bad map: its message, exit status 1 and no file written.
TEST(CliCcp4, BadMapsAreRefused) {
    struct Case {
        const char* what;
        std::string bytes;
        bool gzip;
        std::string message;
    };
    const std::string good = Map{}.bytes();
    const std::string cut = good.substr(0, 1024 + 10 * 4 + 2);  // ten values and half of the next
    const std::string modes =
        "which voxmol does not read; it reads modes 0 (int8), 1 (int16), 2 (float32), "
        "6 (uint16) and 12 (float16)";
    const std::string disagrees = "its header (dimensions, mode or NSYMBT) disagrees with the data";
    const float nan = std::bit_cast<float>(0x7fc00000u);
    const std::vector<Case> cases = {
        {"header cut short", good.substr(0, 600), false,
         "The CCP4/MRC file ends inside its 1024-byte header, after 600 bytes"},
        {"data cut short", cut, false, "The CCP4/MRC file ends after 10 of 24 values"},
        {"data cut short, gzip", cut, true, "The CCP4/MRC file ends after 10 of 24 values"},
        {"a header claiming more data than the file holds", Map{.n = {1000, 1000, 1000}, .values = 6}.bytes(),
         false, "The CCP4/MRC file ends after 6 of 1000000000 values"},
        {"a header claiming more data than the gzip stream holds",
         Map{.n = {100, 100, 100}, .values = 6}.bytes(), true,
         "The CCP4/MRC file ends after 6 of 1000000 values"},
        {"dimensions beyond any file", Map{.n = {2147483647, 2147483647, 2147483647}, .values = 0}.bytes(),
         true,
         "The CCP4/MRC header gives the grid dimensions NC, NR, NS = 2147483647 2147483647 2147483647, more "
         "values than any file holds"},
        {"extended header cut short", Map{.nsymbt = 4000, .values = 0}.bytes(), false,
         "The CCP4/MRC file ends inside its extended header of 4000 bytes (NSYMBT), after 0"},
        {"extended header cut short, gzip", Map{.nsymbt = 4000, .values = 0}.bytes(), true,
         "The CCP4/MRC file ends inside its extended header of 4000 bytes (NSYMBT), after 0"},
        {"bytes after the data", Map{.trailing = "12345678"}.bytes(), false,
         "The CCP4/MRC file holds 8 bytes after its 24 values; " + disagrees},
        {"bytes after the data, gzip", Map{.trailing = "12345678"}.bytes(), true,
         "The CCP4/MRC file holds more bytes after its 24 values; " + disagrees},
        {"complex mode", Map{.mode = 4}.bytes(), false,
         "The CCP4/MRC file has mode 4 (complex float32), " + modes},
        {"unknown mode", Map{.mode = 7}.bytes(), false,
         "The CCP4/MRC file has mode 7 (not a CCP4/MRC mode), " + modes},
        {"axis order not a permutation", Map{.axes = {1, 1, 3}}.bytes(), false,
         "The CCP4/MRC header's axis order MAPC, MAPR, MAPS = 1 1 3 is not a permutation of 1 2 3"},
        {"zero dimension", Map{.n = {2, 0, 4}}.bytes(), false,
         "The CCP4/MRC header gives the grid dimensions NC, NR, NS = 2 0 4; each must be at least 1"},
        {"negative dimension", Map{.n = {2, 3, -4}, .values = 0}.bytes(), false,
         "The CCP4/MRC header gives the grid dimensions NC, NR, NS = 2 3 -4; each must be at least 1"},
        {"negative sampling", Map{.sampling = {2, -3, 4}}.bytes(), false,
         "The CCP4/MRC header gives the sampling MY = -3; it must not be negative"},
        {"zero cell length", Map{.cell = {2.0f, 3.0f, 0.0f}}.bytes(), false,
         "The CCP4/MRC header gives the cell length 0 along Z; it must be positive to place the grid"},
        {"cell angle out of range", Map{.angles = {90.0f, 0.0f, 90.0f}}.bytes(), false,
         "The CCP4/MRC header gives the cell angles 90 0 90; each must lie between 0 and 180 degrees"},
        {"cell angles that make no cell", Map{.angles = {30.0f, 30.0f, 120.0f}}.bytes(), false,
         "The CCP4/MRC header gives the cell angles 30 30 120, which make no cell"},
        {"ORIGIN not finite", Map{.origin = {0.0f, nan, 0.0f}}.bytes(), false,
         "The CCP4/MRC header gives the origin (ORIGIN) 0 nan 0; it must be finite"},
        {"negative NSYMBT", Map{.nsymbt = -8}.bytes(), false,
         "The CCP4/MRC header gives an extended header of -8 bytes (NSYMBT)"},
    };
    for (const Case& c : cases) {
        const CliRun r = run_map(c.bytes, c.gzip);
        EXPECT_EQ(r.status, 1) << c.what << "\n" << r.out;
        EXPECT_TRUE(ends_with(r.out, fatal(c.message))) << c.what << ": expected\n"
                                                        << c.message << "\nin\n"
                                                        << r.out;
        EXPECT_TRUE(r.written.empty()) << c.what;
    }
}

}  // namespace
