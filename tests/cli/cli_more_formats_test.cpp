// XPLOR/CNS, DelPhi, UHBD, gOpenMol plt, DSN6/BRIX and Situs files, and bzip2 and xz compression, given to
// the built voxmol: the format line, one grid in every format written the same, files of voxmol's own
// format that merely look like one of these, and every kind of bad file refused with its message.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli_run.h"

namespace {

using clitest::CliRun;
using clitest::ends_with;
using clitest::fatal;
using clitest::has_line;

// One grid: 3 x 3 x 3 points from -0.5 in steps of 0.5 along x, y, z; point (i, j, k) holds
// 1 + i + 3j + 9k, so the values 1 to 27 are listed x fastest.
double value(int i, int j, int k) {
    return 1 + i + 3 * j + 9 * k;
}

std::string x_fastest_lines(int per_line) {
    std::string out;
    for (int n = 0; n < 27; ++n)
        out += std::to_string(n + 1) + ".0" + ((n + 1) % per_line == 0 || n == 26 ? "\n" : " ");
    return out;
}

// Little-endian (or big-endian) bytes of numbers, and Fortran records of them.
template <typename T>
std::string bytes_of(T v, bool big = false) {
    std::string b(sizeof v, '\0');
    std::memcpy(b.data(), &v, sizeof v);
    if (big) b = std::string(b.rbegin(), b.rend());
    return b;
}
std::string record(const std::string& payload, bool big = false, bool wide = false) {
    const std::string m = wide ? bytes_of<std::int64_t>(static_cast<std::int64_t>(payload.size()), big)
                               : bytes_of<std::int32_t>(static_cast<std::int32_t>(payload.size()), big);
    return m + payload + m;
}
std::string floats_x_fastest(bool big, int first_k = 0, int planes = 3) {
    std::string out;
    for (int k = first_k; k < first_k + planes; ++k)
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i)
                out += bytes_of<float>(static_cast<float>(value(i, j, k)), big);
    return out;
}

const std::string kSitus = "0.5 -0.5 -0.5 -0.5 3 3 3\n\n" + x_fastest_lines(10);

std::string xplor_sections(int first_index) {
    std::string out;
    for (int k = 0; k < 3; ++k) {
        out += "       ";
        out += std::to_string(first_index + k);
        out += '\n';
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i) {
                out += ' ';
                out += std::to_string(value(i, j, k));
                if (i == 2 && j % 2 == 1) out += '\n';
            }
        out += "\n";
    }
    return out;
}
const std::string kXplorHeader =
    "\n       1 !NTITLE\n REMARKS the same grid\n"
    "      20      -1       1      20      -1       1      20      -1       1\n"
    " 1.00000E+01 1.00000E+01 1.00000E+01 9.00000E+01 9.00000E+01 9.00000E+01\nZYX\n";
const std::string kXplor = kXplorHeader + xplor_sections(0) + "   -9999\n  0.1400E+02  0.7800E+01\n";

std::string uhbd_text() {
    std::string out = std::string(65, ' ') + "the grid\n" +
                      " 1.00000e+00 0.00000e+00     -1      0      3      1      3\n"
                      "      3      3      3 5.00000e-01-1.00000e+00-1.00000e+00-1.00000e+00\n"
                      " 0.00000e+00 0.00000e+00 0.00000e+00 0.00000e+00\n"
                      " 0.00000e+00 0.00000e+00      0      0";
    for (int k = 0; k < 3; ++k) {
        out += "\n      " + std::to_string(k + 1) + "      3      3\n";
        for (int n = 0; n < 9; ++n)
            out += "  " + std::to_string(value(n % 3, n / 3, k)) + (n == 5 ? "\n" : "");
    }
    return out + "\n";
}

std::string uhbd_header(bool big, float h = 0.5f) {
    std::string b = std::string("the grid").append(64, ' ');
    b += bytes_of(1.0f, big) + bytes_of(0.0f, big);
    for (std::int32_t v : {0, 0, 3, 1, 3, 3, 3, 3})
        b += bytes_of(v, big);
    b += bytes_of(h, big);
    for (int n = 0; n < 3; ++n)
        b += bytes_of(-1.0f, big);
    for (int n = 0; n < 6; ++n)
        b += bytes_of(0.0f, big);
    return b + bytes_of<std::int32_t>(0, big) + bytes_of<std::int32_t>(0, big);
}
std::string uhbd_binary(bool big, bool wide) {
    std::string out = record(uhbd_header(big), big, wide);
    for (int k = 0; k < 3; ++k) {
        out += record(bytes_of<std::int32_t>(k + 1, big) + bytes_of<std::int32_t>(3, big) +
                          bytes_of<std::int32_t>(3, big),
                      big, wide);
        out += record(floats_x_fastest(big, k, 1), big, wide);
    }
    return out;
}

std::string plt(bool big) {
    std::string out;
    for (std::int32_t v : {3, 200, 3, 3, 3})
        out += bytes_of(v, big);
    for (int n = 0; n < 3; ++n)
        out += bytes_of(-0.5f, big) + bytes_of(0.5f, big);
    return out + floats_x_fastest(big);
}

std::string delphi(bool big, bool wide, const std::string& trailer) {
    return record("now starting phimap ", big, wide) + record(std::string(70, ' '), big, wide) +
           record(floats_x_fastest(big), big, wide) + record(" end of phimap  ", big, wide) +
           record(trailer, big, wide);
}
std::string delphi_trailer(bool big) {
    return bytes_of(2.0f, big) + bytes_of(0.0f, big) + bytes_of(0.0f, big) + bytes_of(0.0f, big);
}

// One brick of the values 1 to 27, padding elsewhere; DSN6 stores it in swapped pairs.
std::string brick(bool swapped_pairs) {
    std::string b(512, '\0');
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i)
                b[static_cast<std::size_t>((k * 8 + j) * 8 + i) ^ (swapped_pairs ? 1u : 0u)] =
                    static_cast<char>(value(i, j, k));
    return b;
}
std::string dsn6(std::int16_t prod = 100) {
    std::string h;
    for (std::int16_t w : {-1, -1, -1, 3, 3, 3, 20, 20, 20, 800, 800, 800, 7200, 7200, 7200})
        h += bytes_of(w, true);
    for (std::int16_t w : {prod, std::int16_t{0}, std::int16_t{80}, std::int16_t{100}})
        h += bytes_of(w, true);
    return h + std::string(512 - h.size(), '\0') + brick(true);
}
const std::string kBrixHeader =
    ":-) origin   -1   -1   -1 extent    3    3    3 grid   20   20   20 cell     10.000    10.000    10.000"
    "    90.000    90.000    90.000 prod      1.00000 plus       0 sigma      1.00000";
std::string brix(const std::string& header = kBrixHeader) {
    return header + std::string(512 - header.size(), ' ') + brick(false);
}

std::string bzip2(const std::string& text) {
    std::string out(text.size() + text.size() / 100 + 700, '\0');
    unsigned size = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(text.data()),
                                 static_cast<unsigned>(text.size()), 9, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2 failed");
    out.resize(size);
    return out;
}
std::string xz(const std::string& text) {
    std::string out(lzma_stream_buffer_bound(text.size()), '\0');
    std::size_t size = 0;
    if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                                reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                                reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size()) != LZMA_OK)
        throw std::runtime_error("xz failed");
    out.resize(size);
    return out;
}

TEST(CliMoreFormats, TheSameGridInEveryFormatWritesTheSameFile) {
    std::string walk_order;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                walk_order += std::to_string(value(i, j, k)) + "\n";
    const std::string native = "! same grid\n-0.5 -0.5 -0.5 0.5 0.5 0.5 0 0 3 3 3 0 0 0 0 0 0\n" + walk_order;
    auto written = [](const std::string& name, const std::string& content) {
        const CliRun r = clitest::run_voxmol({name, "-t", "1", "27", "-l", "1"}, {{name, content}});
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
        EXPECT_EQ(r.written.size(), 1u) << name;  // grid.pdb, or grid.situs.pdb from grid.situs.bz2
        return r.written.empty() ? std::string() : r.written.begin()->second;
    };
    const std::string from_native = written("grid.txt", native);
    ASSERT_NE(from_native.find("ATOM     27 CA   UNK A   9       0.500   0.500   0.500  1.00 27.00"),
              std::string::npos);
    const std::pair<std::string, std::string> files[] = {
        {"grid.situs", kSitus},
        {"grid.xplor", kXplor},
        {"grid.uhbd", uhbd_text()},
        {"grid.grd", uhbd_binary(false, false)},
        {"grid.phi", delphi(true, true, delphi_trailer(true))},
        {"grid.plt", plt(true)},
        {"grid.dsn6", dsn6()},
        {"grid.brix", brix()},
        {"grid.situs.bz2", bzip2(kSitus)},
        {"grid.xplor.xz", xz(kXplor)},
    };
    for (const auto& [name, content] : files)
        EXPECT_EQ(written(name, content), from_native) << name;
}

TEST(CliMoreFormats, FormatLineNamesFormAndCompression) {
    const std::pair<std::string, std::string> cases[] = {
        {kXplor, "Grid format: XPLOR/CNS, text"},
        {bzip2(kXplor), "Grid format: XPLOR/CNS, text, bzip2"},
        {xz(kSitus), "Grid format: Situs, text, xz"},
        {uhbd_text(), "Grid format: UHBD, text"},
        {uhbd_binary(true, true), "Grid format: UHBD, binary, big-endian, 8-byte record markers"},
        {delphi(false, false, delphi_trailer(false)),
         "Grid format: DelPhi phi, float32 values, single-precision trailer, little-endian"},
        {plt(false), "Grid format: gOpenMol plt, little-endian"},
        {dsn6(), "Grid format: DSN6"},
        {brix(), "Grid format: BRIX"},
    };
    for (const auto& [content, line] : cases) {
        const CliRun r = clitest::run_voxmol({"grid.dat", "-l", "2", "-o", "ZYX"}, {{"grid.dat", content}});
        EXPECT_EQ(r.status, 0) << line << "\n" << r.out;
        EXPECT_TRUE(has_line(r.out, line)) << r.out;
        EXPECT_NE(r.out.find("WARNING: The -o option applies to voxmol's own grid format only"),
                  std::string::npos)
            << r.out;
    }
}

// voxmol's own format passes over lines it cannot use until its header: a file whose first lines could
// be another format's header stays its own.
TEST(CliMoreFormats, NativeFilesThatLookLikeOtherFormatsStayNative) {
    const std::string rest = "0 0 0 0 0 3 4 3 1 1 4 0 0 0 0 0 3\n0.5\n2.0\n-1.0\n1.0\n";
    const std::string cases[] = {
        "\n       2 !NTITLE\n" + rest,       // an XPLOR title count
        "0.5 1.0 2.0 3.0 4 4 4\n\n" + rest,  // a Situs header
        "title\n 1.0 0.0 -1 0 3 1 3\n 1 1 4 0.5 0 0 0\n 0 0 0 0\n 0 0 0 0\n 1 1 1\n" + rest,  // UHBD's
    };
    for (const std::string& content : cases) {
        const CliRun r = clitest::run_voxmol({"grid.txt", "-l", "2"}, {{"grid.txt", content}});
        EXPECT_EQ(r.status, 0) << content << r.out;
        EXPECT_EQ(r.out.find("Grid format"), std::string::npos) << r.out;
        EXPECT_TRUE(has_line(r.out, "Dimensions: X= 1   Y= 1   Z= 4")) << r.out;
    }
}

// bzip2 and xz as gzip is read: any format inside, concatenated streams as one, what bunzip2 and unxz
// accept after the last stream; a file of voxmol's own format compressed reads as the plain one.
TEST(CliMoreFormats, Bzip2AndXzReadAsTheirContent) {
    std::string native =
        "! a larger grid, so that the streams span blocks\n0 0 0 1 1 1 0 0 40 40 40 0 0 0 0 0 0\n";
    for (int n = 0; n < 64000; ++n)
        native += std::to_string((n * 37) % 1001 - 500) + ".25\n";
    const std::string half = native.substr(0, native.size() / 2), rest = native.substr(native.size() / 2);
    const CliRun plain = clitest::run_voxmol({"grid", "-t", "0", "1e30", "-l", "1"}, {{"grid", native}});
    ASSERT_EQ(plain.status, 0) << plain.out;
    const std::pair<const char*, std::string> cases[] = {
        {"bzip2", bzip2(native)},
        {"bzip2, two streams", bzip2(half) + bzip2(rest)},
        {"bzip2, bytes after the last stream", bzip2(native) + std::string(100, '\0')},
        {"xz", xz(native)},
        {"xz, two streams", xz(half) + xz(rest)},
        {"xz, stream padding", xz(half) + std::string(8, '\0') + xz(rest)},
    };
    for (const auto& [name, bytes] : cases) {
        const CliRun r = clitest::run_voxmol({"grid", "-t", "0", "1e30", "-l", "1"}, {{"grid", bytes}});
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
        EXPECT_EQ(r.written, plain.written) << name;
    }
    std::string corrupt = xz(native);
    corrupt[corrupt.size() / 2] ^= 0x55;
    const CliRun r = clitest::run_voxmol({"grid", "-l", "1"}, {{"grid", corrupt}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("The xz-compressed data file is corrupt or truncated ("), std::string::npos)
        << r.out;
}

TEST(CliMoreFormats, BadFiles) {
    struct Case {
        const char* name;
        std::string content, message;
    };
    std::string bad_marker = uhbd_binary(false, false);
    bad_marker[4 + 160 + 4 + 20 + 4 + 36] = 9;  // the closing marker of plane 1's values
    std::string bad_plane = uhbd_binary(true, false);
    bad_plane[4 + 160 + 4 + 4 + 3] = 7;  // the first plane's number
    const std::string wrong_uhbd_h = record(uhbd_header(false, 0.0f)) + uhbd_binary(false, false).substr(168);
    const std::string xplor_cut = kXplor.substr(0, kXplor.find("       2\n"));
    const Case cases[] = {
        {"XPLOR ends in its sections", xplor_cut, "The XPLOR/CNS map ends after 2 of its 3 sections"},
        {"XPLOR value not a number", kXplorHeader + "       0\n 1 2 x\n",
         "Value 3 of 27 in the XPLOR/CNS map (line 8) is not a number: \"x\""},
        {"XPLOR section longer than the header", kXplorHeader + "       0\n" + x_fastest_lines(6),
         "The XPLOR/CNS map's section 1 holds more than its 9 values (line 9)"},
        {"XPLOR values after the last section", kXplor + " 28.0\n",
         "The XPLOR/CNS map holds more than the 27 values its header gives: line 18 holds \" 28.0\""},
        {"XPLOR other axis order", kXplorHeader.substr(0, kXplorHeader.size() - 4) + "XYZ\n",
         "The XPLOR/CNS map lists its values in the order \"XYZ\": voxmol reads the \"ZYX\" order (sections "
         "along c, x fastest) every writer uses"},
        {"XPLOR cell that makes no cell",
         [] {
             std::string t = kXplor;
             t.replace(t.find(" 9.00000E+01 9.00000E+01 9.00000E+01"), 36,
                       " 3.00000E+01 3.00000E+01 1.20000E+02");
             return t;
         }(),
         "The XPLOR/CNS header gives the cell angles 30 30 120, which make no cell"},
        {"XPLOR indices backwards",
         [] {
             std::string t = kXplor;
             t.replace(t.find("      -1       1      20"), 24, "       1      -1      20");
             return t;
         }(),
         "The XPLOR/CNS map's indices along a run from 1 to -1: the last must not lie below the first"},
        {"Situs ends early", kSitus.substr(0, kSitus.size() - 20),
         "The Situs map ends after 23 of 27 values"},
        {"Situs grid beyond the range of numbers", "1e308 0 0 0 3 3 3\n\n" + x_fastest_lines(10),
         "The Situs map's header places its grid beyond the range of numbers"},
        {"DelPhi scale so small that the step is infinite",
         delphi(false, false, bytes_of(1e-310) + std::string(24, '\0')),
         "The DelPhi map's header places its grid beyond the range of numbers"},
        {"Situs holds more", kSitus + "28.0\n",
         "The Situs map holds more than the 27 values its header gives: line 6 holds \"28.0\""},
        {"UHBD text ends in a plane", uhbd_text().substr(0, uhbd_text().size() - 30),
         "The UHBD grid ends after 25 of 27 values"},
        {"UHBD text plane headed wrong",
         [] {
             std::string t = uhbd_text();
             t.replace(t.find("      2      3      3"), 21, "      2      3      4");
             return t;
         }(),
         "Line 9 of the UHBD grid should head plane 2 with \"2 3 3\": \"      2      3      4\""},
        {"UHBD binary record markers disagree", bad_marker,
         "The UHBD file's record of the values of plane 1 of 3 opens with the length 36 and closes with 9: "
         "the "
         "file is damaged"},
        {"UHBD binary plane numbered wrong", bad_plane,
         "The UHBD grid's plane 1 of 3 is headed 7 3 3, not 1 3 3 (plane, im, jm)"},
        {"UHBD spacing zero", wrong_uhbd_h, "The UHBD grid's spacing h is 0; it must be positive"},
        {"UHBD binary ends early", uhbd_binary(false, false).substr(0, 280),
         "The UHBD file ends inside the record of the values of plane 2 of 3, after 24 of its 36 bytes"},
        {"DelPhi trailer of 24 bytes", delphi(false, false, std::string(24, '\0')),
         "The DelPhi map's last record holds 24 bytes: the scale and midpoint take 16 or 32 (20 or 36 with "
         "the "
         "grid size)"},
        {"DelPhi grid size disagrees",
         delphi(false, false, delphi_trailer(false) + bytes_of<std::int32_t>(5)),
         "The DelPhi map gives the grid size 5, but its potential holds 3^3 values"},
        {"DelPhi values no cube",
         record("now starting phimap ") + record(std::string(70, ' ')) + record(std::string(40, '\0')),
         "The DelPhi map's potential record holds 40 bytes: no cube of 4- or 8-byte values"},
        {"DelPhi scale zero", delphi(false, false, std::string(16, '\0')),
         "The DelPhi map's scale is 0 grid points per Å; it must be positive"},
        {"DelPhi more records", delphi(false, false, delphi_trailer(false)) + record("x"),
         "The DelPhi map holds more records after its scale and midpoint"},
        {"plt ends early", plt(false).substr(0, 44 + 40), "The plt file ends after 10 of 27 values"},
        {"plt holds more", plt(true) + "abcd",
         "The plt file holds 4 bytes after its 27 values: its header disagrees with the data"},
        {"DSN6 ends in its bricks", dsn6().substr(0, 700), "The DSN6 map ends after 0 of its 1 bricks"},
        {"DSN6 prod zero", dsn6(0),
         "The DSN6 header gives prod 0 and plus 0; prod must be a number other than 0"},
        {"DSN6 more bricks", dsn6() + brick(true),
         "The DSN6 map holds 512 bytes after its 1 bricks: its extents disagree with the data"},
        {"BRIX without extent",
         brix(":-) origin -1 -1 -1 grid 20 20 20 cell 10 10 10 90 90 90 prod 1 plus 0"),
         "The BRIX header gives no \"extent\""},
        {"bzip2 cut short", bzip2(kSitus).substr(0, 40),
         "The bzip2-compressed data file is corrupt or truncated (it ends inside the compressed data)"},
        {"xz cut short", xz(kSitus).substr(0, 40),
         "The xz-compressed data file is corrupt or truncated (unexpected end of input)"},
        {"OpenDX data never given a grid",
         "object 1 class array type float rank 0 items 2 data follows\n1 2\nobject 2 class field\n",
         "The OpenDX file gives no regular grid (\"class gridpositions\") for its data: voxmol reads regular "
         "grids"},
    };
    for (const auto& c : cases) {
        const CliRun r = clitest::run_voxmol({"grid.dat", "-l", "1"}, {{"grid.dat", c.content}});
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.out;
        EXPECT_TRUE(ends_with(r.out, fatal(c.message))) << c.name << "\n" << r.out;
        EXPECT_TRUE(r.written.empty()) << c.name;
    }
}

}  // namespace
