// The OpenDX reader on in-memory files: recognising the format, the header forms writers use, the value
// text, what may follow the values, and the refusals the command-line tests do not reach.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dx/formats/format.h"
#include "test_util.h"

namespace {

struct Read {
    gridfmt::Geometry geometry;
    std::vector<double> values;
};

// Reads `text` as the run does: the header, then as many values as it gives points.
Read read_dx(std::string text) {
    std::FILE* f = fmemopen(text.data(), text.size(), "r");
    if (f == nullptr) throw std::runtime_error("fmemopen failed");
    io::BlockReader in(f, 64);  // small blocks: lines and binary data cross block ends
    auto reader = gridfmt::format_named("OpenDX")->open(in, 0);
    Read r;
    r.geometry = reader->read_header();
    r.values.assign(static_cast<std::size_t>(r.geometry.nx) * r.geometry.ny * r.geometry.nz, -99.0);
    reader->read_values(r.values, nullptr);
    std::fclose(f);
    return r;
}

const std::string kGrid =
    "object 1 class gridpositions counts 1 2 2\n"
    "origin 0 0 0\n"
    "delta 1 0 0\ndelta 0 1 0\ndelta 0 0 1\n";
const std::string kArray = "object 3 class array type double rank 0 items 4 data follows\n";

TEST(OpenDxRecognise, FirstObjectStatement) {
    const struct {
        const char* prefix;
        std::string_view format;
    } cases[] = {
        {"object 1 class gridpositions counts 2 2 2\n", "OpenDX"},
        {"# APBS\n#\n\nobject 1 class gridpositions counts 2 2 2\n", "OpenDX"},
        {"  object\t1 gridpositions counts 2 2 2\r\n", "OpenDX"},  // "class" is optional
        {"object \"regular positions\" class field\n", "OpenDX"},
        {"object 3 class array type float items 8 data follows\n", "OpenDX"},
        // voxmol's own format may start with a title line; one that merely starts with "object" stays its
        {"object of study: lysozyme\n0 0 0 1 1 1 8 1 2 2 2 0 0 0 1 1 1\n", "voxmol text"},
        {"object 1\nclass gridpositions counts 2 2 2\n", "voxmol text"},
        {"objects 1 class array\n", "voxmol text"},
        {"! object 1 class array\n", "voxmol text"},
        {"", "voxmol text"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gridfmt::recognise(c.prefix, "grid.dx").name, c.format) << c.prefix;
}

TEST(OpenDxHeader, WritersForms) {
    const struct {
        const char* name;
        std::string text;
        const char* description;
    } cases[] = {
        {"APBS", kGrid + "object 2 class gridconnections counts 1 2 2\n" + kArray + "1 2 3\n4\n",
         "OpenDX, text"},
        {"class and counts keywords left out",
         "object 1 gridpositions 1 2 2\norigin 0 0 0\ndelta 1 0 0\ndelta 0 1 0\ndelta 0 0 1\n"
         "object 3 array type float items 4 data follows\n1 2 3 4\n",
         "OpenDX, text"},
        {"one object spread over lines, commas, comments after tokens",
         "object 1 class gridpositions # the grid\n counts 1, 2, 2 origin 0 0 0 delta 1 0 0\n"
         "delta 0 1 0 delta 0 0 1\nobject 3 class array\n type \"double\" # quoted\n items 4\n data follows\n"
         "1 2 3 4\n",
         "OpenDX, text"},
        {"tabs and CRLF",
         "object\t1\tclass\tgridpositions\tcounts\t1\t2\t2\r\norigin 0 0 0\r\ndelta 1 0 0\r\n"
         "delta 0 1 0\r\ndelta 0 0 1\r\nobject 3 class array items 4 data follows\r\n1\t2\r\n3 4\r\n",
         "OpenDX, text"},
        {"integer text data",
         kGrid + "object 3 class array type \"unsigned int\" items 4 data follows\n1 2 3 4\n",
         "OpenDX, text"},
        {"signed short, unquoted",
         kGrid + "object 3 class array type signed short items 4 data follows\n1 2 3 4\n", "OpenDX, text"},
        {"data mode and text words",
         kGrid + "object 3 class array items 4 msb text data mode follows\n1 2 3 4\n", "OpenDX, text"},
        {"field before the data",
         kGrid + "object \"f\" class field component \"data\" value 3\n" + kArray + "1 2 3 4\n",
         "OpenDX, text"},
    };
    for (const auto& c : cases) {
        const Read r = read_dx(c.text);
        EXPECT_EQ(r.geometry.description, c.description) << c.name;
        EXPECT_EQ(r.geometry.nx * 100 + r.geometry.ny * 10 + r.geometry.nz, 122) << c.name;
        EXPECT_EQ(r.values, (std::vector<double>{1, 2, 3, 4})) << c.name;
        EXPECT_TRUE(r.geometry.warnings.empty()) << c.name;
    }
}

TEST(OpenDxHeader, DataModeStatementSetsTheDefault) {
    std::string text = kGrid + "data mode msb binary\nobject 3 class array type float items 4 data follows\n";
    for (float v : {1.0f, -2.5f, 3.0f, 0.125f}) {
        const auto bits = std::bit_cast<std::uint32_t>(v);
        for (int b = 3; b >= 0; --b)
            text.push_back(static_cast<char>(bits >> (8 * b)));
    }
    const Read r = read_dx(text);
    EXPECT_EQ(r.geometry.description, "OpenDX, binary msb float");
    EXPECT_EQ(r.values, (std::vector<double>{1.0, -2.5, 3.0, 0.125}));
}

TEST(OpenDxValues, TextForms) {
    const struct {
        const char* name;
        std::string data;
        std::vector<double> values;
    } cases[] = {
        {"comments among the values", "1 2 # two\n# a comment line\n\n3 4 # last\n", {1, 2, 3, 4}},
        {"exponents, signs, hexadecimal", "-1.5e+01 +.5 0x10 1E-2\n", {-15, 0.5, 16, 0.01}},
        {"last line without its end", "1 2 3 4", {1, 2, 3, 4}},
        {"blank lines and tabs", "\n\t1\t\t2\n\n   3 \v4\n", {1, 2, 3, 4}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_dx(kGrid + kArray + c.data).values, c.values) << c.name;

    const Read special = read_dx(kGrid + kArray + "inf -inf nan 1\n");
    EXPECT_TRUE(std::isinf(special.values[0]) && special.values[0] > 0);
    EXPECT_TRUE(std::isinf(special.values[1]) && special.values[1] < 0);
    EXPECT_TRUE(std::isnan(special.values[2]));
}

// After the values come statements, read leniently: none of these is an error.
TEST(OpenDxTrailer, WhatMayFollowTheValues) {
    const char* const trailers[] = {
        "",
        "attribute \"dep\" string \"positions\"\n",
        "attribute \"unknown\" number 5\nattribute \"other\" value string \"a\" \"b\"\n",
        "object 2 class gridconnections counts 1 2 2\nattribute \"element type\" string \"cubes\"\n",
        "object \"f\" class field\ncomponent \"positions\" value 1\ncomponent \"data\" 3\nwhatever 12 34\n",
        "object 5 class regulararray count 3 origin 0 delta 1\n",
        "object 6 class array items 2 binary data follows\n\x01\x02\x03\xff\xfe",
        "end\n\x01\x02 binary data section \xff",
        "attribute \"open quote\n",
    };
    for (const char* trailer : trailers)
        EXPECT_EQ(read_dx(kGrid + kArray + "1 2 3 4\n" + trailer).values, (std::vector<double>{1, 2, 3, 4}))
            << trailer;
}

TEST(OpenDxFatal, RefusalsOfTheHeader) {
    const struct {
        const char* name;
        std::string text;
        const char* message;
    } cases[] = {
        {"two grids", kGrid + kGrid + kArray, "holds two gridpositions objects"},
        {"counts not whole", "object 1 class gridpositions counts 1 2.5 2\n", "must be whole numbers"},
        {"counts past the int range", "object 1 class gridpositions counts 1 2 3e9\n",
         "must be whole numbers"},
        {"no counts", "object 1 class gridpositions origin 0 0 0\n", "give no counts"},
        {"unknown clause in the grid", "object 1 class gridpositions counts 1 2 2 spacing 1\n",
         "have \"spacing\" where counts, origin or delta was expected"},
        {"two origins", "object 1 class gridpositions counts 1 2 2 origin 0 0 0 origin 1 1 1\n",
         "two origins"},
        {"complex data", kGrid + "object 3 class array category complex items 4 data follows\n",
         "The OpenDX data are complex"},
        {"string data", kGrid + "object 3 class array type string items 4 data follows\n",
         "data type \"string\" is not read"},
        {"text and binary", kGrid + "object 3 class array items 4 text binary data follows\n",
         "two different data formats or byte orders"},
        {"msb and lsb", kGrid + "object 3 class array items 4 msb lsb binary data follows\n",
         "two different data formats or byte orders"},
        {"no item count", kGrid + "object 3 class array type float data follows\n", "gives no item count"},
        {"item count not whole", kGrid + "object 3 class array items four data follows\n",
         "item count \"four\" is not a whole number"},
        {"array without data", kGrid + "object 3 class array items 4\nobject 4 class field\n",
         "gives no \"data follows\""},
        {"unknown data place", kGrid + "object 3 class array items 4 data somewhere\n", "for its place"},
        {"header ends inside an object", kGrid + "object 3 class array type",
         "ends where a data type was expected"},
        {"word outside any object", "hello\n", "has \"hello\" where an object was expected \\(line 1\\)"},
        {"a grid too large for its items",
         "object 1 class gridpositions counts 2147483647 2147483647 2147483647\n"
         "origin 0 0 0 delta 1 0 0 delta 0 1 0 delta 0 0 1\n" +
             kArray,
         "points needs more"},
    };
    for (const auto& c : cases)
        EXPECT_FATAL(read_dx(c.text), c.message) << c.name;
}

TEST(OpenDxFatal, RefusalsAfterTheValues) {
    const struct {
        const char* name;
        std::string tail;
        const char* message;
    } cases[] = {
        {"text after the last value", "1 2 3 4 attribute \"dep\"\n", "has text after its last value"},
        {"a number after the data's lines", "1 2 3 4\n5\n", "holds more values than its 4 items"},
        {"connections after the data disagree", "1 2 3 4\nobject 2 class gridconnections counts 2 2 1\n",
         "counts 2 2 1 disagree with the grid positions' counts 1 2 2"},
        {"field takes other positions", "1 2 3 4\nobject \"f\" class field component \"positions\" value 7\n",
         "takes its positions from object \"7\""},
        {"NUL inside a value", std::string("1 2\0 3 4\n", 9), "value 2 of 4 is not a number"},
    };
    for (const auto& c : cases)
        EXPECT_FATAL(read_dx(kGrid + kArray + c.tail), c.message) << c.name;
}

}  // namespace
