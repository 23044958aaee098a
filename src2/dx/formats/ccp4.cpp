// The CCP4/MRC density map: a 1024-byte header of 256 four-byte words (in the byte order of the machine
// that wrote it), an extended header of NSYMBT bytes, then NC*NR*NS values, columns fastest, then rows,
// then sections. MAPC, MAPR and MAPS say which of the cell's axes X, Y, Z the columns, rows and sections
// run along; the values are moved into voxmol's walk order (X slowest, Z fastest) as they are read.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "dx/formats/format.h"
#include "dx/formats/walk_order.h"
#include "dx/io/bytes.h"
#include "string_tool2/cscan.h"

namespace gridfmt {

namespace {

constexpr std::size_t kHeaderBytes = 1024;
// The extended header is skipped through a buffer of at most this size.
constexpr std::size_t kSkipBytes = std::size_t{1} << 20;

// The modes voxmol reads, and the names of the others for the message that refuses them.
struct ModeInfo {
    int mode;
    int bytes;  // per value; 0 for a mode voxmol does not read
    const char* name;
};
constexpr ModeInfo kModes[] = {
    {0, 1, "int8"},          {1, 2, "int16"},           {2, 4, "float32"},
    {3, 0, "complex int16"}, {4, 0, "complex float32"}, {6, 2, "uint16"},
    {12, 2, "float16"},      {101, 0, "4-bit"},
};

const ModeInfo* mode_info(std::int32_t mode) {
    for (const ModeInfo& m : kModes) {
        if (m.mode == mode) return &m;
    }
    return nullptr;
}

// The header's words as the file holds them, read in one byte order. Word numbers count from 1, as
// the format's documentation numbers them.
struct HeaderWords {
    std::array<char, kHeaderBytes> bytes{};
    bool swap = false;

    std::uint32_t raw(int word) const { return io::load<std::uint32_t>(bytes.data() + 4 * (word - 1), swap); }
    std::int32_t i32(int word) const { return static_cast<std::int32_t>(raw(word)); }
    float f32(int word) const { return std::bit_cast<float>(raw(word)); }
};

// A single-precision header number as the number its writer meant: the shortest decimal that reads back
// as the same float (45.8 for the float nearest 45.8, not 45.799999237), as the cell and origin are
// printed by every tool that shows them.
double as_written(float v) {
    std::array<char, 64> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), v).ptr;
    double value = v;
    cscan::scan_double(text.data(), end, value);
    return value;
}

// Words that make sense only in the right byte order: three positive dimensions, a small mode and MAPC,
// MAPR, MAPS each 1, 2 or 3 (a swapped 1 reads as 16777216).
bool plausible(const HeaderWords& h) {
    for (int w : {1, 2, 3})
        if (h.i32(w) < 1) return false;
    if (h.i32(4) < 0 || h.i32(4) > 255) return false;
    for (int w : {17, 18, 19})
        if (h.i32(w) < 1 || h.i32(w) > 3) return false;
    return true;
}

// MAPC, MAPR and MAPS a permutation of 1, 2, 3.
bool axis_order_is_permutation(const HeaderWords& h) {
    const std::int32_t c = h.i32(17), r = h.i32(18), s = h.i32(19);
    return c >= 1 && c <= 3 && r >= 1 && r <= 3 && s >= 1 && s <= 3 && c != r && r != s && c != s;
}

bool has_map_stamp(const HeaderWords& h) {
    return std::memcmp(h.bytes.data() + 208, "MAP ", 4) == 0;
}

// The byte order the machine stamp MACHST names: 0x44 0x41 (or 0x44 0x44) little-endian, 0x11 0x11
// big-endian; empty for anything else.
std::optional<bool> stamped_big_endian(const HeaderWords& h) {
    const auto b0 = static_cast<unsigned char>(h.bytes[212]), b1 = static_cast<unsigned char>(h.bytes[213]);
    if (b0 == 0x44 && (b1 == 0x41 || b1 == 0x44)) return false;
    if (b0 == 0x11 && b1 == 0x11) return true;
    return std::nullopt;
}

std::string stamp_text(const HeaderWords& h) {
    std::string text;
    for (int b = 212; b < 216; ++b)
        text += formatted("%s0x%02x", text.empty() ? "" : " ", static_cast<unsigned char>(h.bytes[b]));
    return text;
}

// Sets h.swap to the file's byte order: the machine stamp's when it names one and the header reads in
// it, else the order in which the header's words are plausible. When neither order is plausible, the
// one with a small mode word is kept, so that the checks that follow name what is wrong.
void decide_byte_order(HeaderWords& h, std::vector<std::string>& warnings) {
    const bool host_big = std::endian::native == std::endian::big;
    auto read_as = [&](bool big) { h.swap = big != host_big; };
    auto plausible_as = [&](bool big) {
        read_as(big);
        return plausible(h);
    };
    auto small_mode_as = [&](bool big) {
        read_as(big);
        return h.i32(4) >= 0 && h.i32(4) <= 255;
    };
    const bool little_ok = plausible_as(false), big_ok = plausible_as(true);
    const char* const name[] = {"little-endian", "big-endian"};
    const std::optional<bool> stamp = has_map_stamp(h) ? stamped_big_endian(h) : std::nullopt;
    bool big;
    if (stamp) {
        big = *stamp;
        if (!(big ? big_ok : little_ok) && (big ? little_ok : big_ok)) {
            big = !big;
            warnings.push_back(
                formatted("The CCP4/MRC machine stamp (MACHST) says %s, but the header reads "
                          "only as %s; read as %s",
                          name[!big], name[big], name[big]));
        }
    } else {
        big = little_ok ? false : big_ok ? true : !small_mode_as(false) && small_mode_as(true);
        if (has_map_stamp(h)) {
            warnings.push_back(
                formatted("The CCP4/MRC machine stamp (MACHST) is %s, which names no byte "
                          "order; the header reads as %s",
                          stamp_text(h).c_str(), name[big]));
        }
    }
    read_as(big);
}

// What the header says, in the file's axes (columns, rows, sections) where the format keeps them so.
struct Header {
    std::array<int, 3> n{};  // NC, NR, NS
    const ModeInfo* mode = nullptr;
    std::array<std::int32_t, 3> start{};     // NCSTART, NRSTART, NSSTART
    std::array<std::int32_t, 3> sampling{};  // MX, MY, MZ: along X, Y, Z
    std::array<double, 3> cell{};            // a, b, c in Ångström
    std::array<double, 3> angles{};          // alpha, beta, gamma in degrees
    std::array<int, 3> axis{};               // MAPC, MAPR, MAPS less 1: the X, Y or Z axis of each file axis
    std::int32_t nsymbt = 0;                 // bytes of the extended header
    std::array<double, 3> origin{};          // ORIGIN, in Ångström
    std::int32_t lskflg = 0;                 // a skew matrix is set
    bool big_endian = false;
};

constexpr char kAxisName[] = {'X', 'Y', 'Z'};

void check_dimensions(const HeaderWords& h) {
    const std::int32_t nc = h.i32(1), nr = h.i32(2), ns = h.i32(3);
    if (nc < 1 || nr < 1 || ns < 1) {
        fail(
            formatted("The CCP4/MRC header gives the grid dimensions NC, NR, NS = %d %d %d; each must "
                      "be at least 1",
                      nc, nr, ns));
    }
}

const ModeInfo* checked_mode(const HeaderWords& h) {
    const std::int32_t mode = h.i32(4);
    const ModeInfo* m = mode_info(mode);
    if (m == nullptr || m->bytes == 0) {
        fail(
            formatted("The CCP4/MRC file has mode %d (%s), which voxmol does not read; it reads modes 0 "
                      "(int8), 1 (int16), 2 (float32), 6 (uint16) and 12 (float16)",
                      mode, m != nullptr ? m->name : "not a CCP4/MRC mode"));
    }
    return m;
}

std::array<int, 3> checked_axis_order(const HeaderWords& h) {
    const std::int32_t c = h.i32(17), r = h.i32(18), s = h.i32(19);
    if (!axis_order_is_permutation(h)) {
        fail(
            formatted("The CCP4/MRC header's axis order MAPC, MAPR, MAPS = %d %d %d is not a "
                      "permutation of 1 2 3",
                      c, r, s));
    }
    return {c - 1, r - 1, s - 1};
}

void check_cell(const Header& hd) {
    for (int d = 0; d < 3; ++d) {
        if (!std::isfinite(hd.cell[d]) || hd.cell[d] <= 0.0) {
            fail(
                formatted("The CCP4/MRC header gives the cell length %g along %c; it must be positive to "
                          "place the grid",
                          hd.cell[d], kAxisName[d]));
        }
    }
    const auto& [al, be, ga] = hd.angles;
    for (double angle : hd.angles) {
        if (!std::isfinite(angle) || angle <= 0.0 || angle >= 180.0) {
            fail(
                formatted("The CCP4/MRC header gives the cell angles %g %g %g; each must lie between 0 "
                          "and 180 degrees",
                          al, be, ga));
        }
    }
}

void check_origin(const Header& hd) {
    for (double v : hd.origin) {
        if (!std::isfinite(v)) {
            fail(formatted("The CCP4/MRC header gives the origin (ORIGIN) %g %g %g; it must be finite",
                           hd.origin[0], hd.origin[1], hd.origin[2]));
        }
    }
}

// The sampling along each axis; 0, which some writers leave, is taken as the grid's own dimension
// along that axis (the map then spans one cell), with a warning. A negative one is refused.
void settle_sampling(Header& hd, std::vector<std::string>& warnings) {
    for (int d = 0; d < 3; ++d) {
        if (hd.sampling[d] < 0) {
            fail(formatted("The CCP4/MRC header gives the sampling M%c = %d; it must not be negative",
                           kAxisName[d], hd.sampling[d]));
        }
    }
    for (int d = 0; d < 3; ++d) {
        if (hd.sampling[d] != 0) continue;
        const int file_axis =
            static_cast<int>(std::find(hd.axis.begin(), hd.axis.end(), d) - hd.axis.begin());
        hd.sampling[d] = hd.n[file_axis];
        warnings.push_back(
            formatted("The CCP4/MRC header gives the sampling M%c = 0; taken as the grid's "
                      "%d points along %c",
                      kAxisName[d], hd.sampling[d], kAxisName[d]));
    }
}

Header parse_header(HeaderWords& h, std::vector<std::string>& warnings) {
    decide_byte_order(h, warnings);
    check_dimensions(h);
    Header hd;
    hd.big_endian = h.swap != (std::endian::native == std::endian::big);
    hd.n = {h.i32(1), h.i32(2), h.i32(3)};
    hd.mode = checked_mode(h);
    hd.axis = checked_axis_order(h);
    for (int d = 0; d < 3; ++d) {
        hd.start[d] = h.i32(5 + d);
        hd.sampling[d] = h.i32(8 + d);
        hd.cell[d] = as_written(h.f32(11 + d));
        hd.angles[d] = as_written(h.f32(14 + d));
        hd.origin[d] = as_written(h.f32(50 + d));
    }
    hd.nsymbt = h.i32(24);
    hd.lskflg = h.i32(25);
    check_cell(hd);
    check_origin(hd);
    if (hd.nsymbt < 0) {
        fail(formatted("The CCP4/MRC header gives an extended header of %d bytes (NSYMBT)", hd.nsymbt));
    }
    settle_sampling(hd, warnings);
    if (hd.lskflg != 0) {
        warnings.push_back(
            "The CCP4/MRC header sets a skew matrix (LSKFLG); voxmol ignores it and places the grid in the "
            "cell");
    }
    return hd;
}

// The orthogonalisation matrix of the cell: a along x, b in the xy plane (the PDB convention). Its
// columns are the cell's edge vectors. A right angle gives exact zeros.
std::array<std::array<double, 3>, 3> cell_edges(const Header& hd) {
    auto cos_deg = [](double deg) { return deg == 90.0 ? 0.0 : std::cos(deg * std::numbers::pi / 180.0); };
    auto sin_deg = [](double deg) { return deg == 90.0 ? 1.0 : std::sin(deg * std::numbers::pi / 180.0); };
    const auto& [a, b, c] = hd.cell;
    const auto& [alpha, beta, gamma] = hd.angles;
    const double cos_alpha = cos_deg(alpha), cos_beta = cos_deg(beta), cos_gamma = cos_deg(gamma);
    const double sin_beta = sin_deg(beta), sin_gamma = sin_deg(gamma);
    const double cos_alpha_star = (cos_beta * cos_gamma - cos_alpha) / (sin_beta * sin_gamma);
    const double sin2_alpha_star = 1.0 - cos_alpha_star * cos_alpha_star;
    if (!(sin2_alpha_star > 0.0)) {
        fail(formatted("The CCP4/MRC header gives the cell angles %g %g %g, which make no cell", alpha, beta,
                       gamma));
    }
    const double sin_alpha_star = std::sqrt(sin2_alpha_star);
    return {{{a, 0.0, 0.0},
             {b * cos_gamma, b * sin_gamma, 0.0},
             {c * cos_beta, -c * cos_alpha_star * sin_beta, c * sin_alpha_star * sin_beta}}};
}

// The grid's place: steps along X, Y, Z are the cell's edges over the sampling; the origin is ORIGIN
// when it is not all zero, else the start indices (mapped to X, Y, Z) as steps through the cell.
Geometry geometry_of(const Header& hd, std::vector<std::string> warnings) {
    Geometry g;
    std::array<int, 3> dims{};
    std::array<std::int32_t, 3> start{};
    for (int f = 0; f < 3; ++f) {
        dims[hd.axis[f]] = hd.n[f];
        start[hd.axis[f]] = hd.start[f];
    }
    g.nx = dims[0];
    g.ny = dims[1];
    g.nz = dims[2];
    const auto edges = cell_edges(hd);
    for (int d = 0; d < 3; ++d) {
        for (int x = 0; x < 3; ++x)
            g.axes[d][x] = edges[d][x] / hd.sampling[d];
    }
    const bool origin_set = hd.origin[0] != 0.0 || hd.origin[1] != 0.0 || hd.origin[2] != 0.0;
    const bool start_set = start[0] != 0 || start[1] != 0 || start[2] != 0;
    if (origin_set) {
        g.origin = hd.origin;
        if (start_set) {
            warnings.push_back(
                formatted("The CCP4/MRC header sets both the origin (ORIGIN) and the start "
                          "indices (%d %d %d along X, Y, Z); the grid starts at ORIGIN",
                          start[0], start[1], start[2]));
        }
    } else {
        for (int x = 0; x < 3; ++x)
            g.origin[x] = start[0] * g.axes[0][x] + start[1] * g.axes[1][x] + start[2] * g.axes[2][x];
    }
    g.description = formatted("CCP4/MRC, mode %d (%s)%s", hd.mode->mode, hd.mode->name,
                              hd.big_endian ? ", big-endian" : "");
    g.warnings = std::move(warnings);
    return g;
}

// An IEEE half-precision number, exactly, as a double.
template <bool Swap>
double load_half(const char* p) {
    const std::uint16_t h = io::load<std::uint16_t, Swap>(p);
    const std::uint64_t sign = static_cast<std::uint64_t>(h >> 15) << 63;
    const unsigned exponent = (h >> 10) & 0x1f;
    const std::uint64_t mantissa = h & 0x3ff;
    if (exponent == 0) {  // zero or subnormal: mantissa * 2^-24
        const double v = static_cast<double>(mantissa) * 0x1p-24;
        return sign ? -v : v;
    }
    const std::uint64_t e = exponent == 0x1f ? 0x7ff : exponent - 15 + 1023;  // infinity or NaN stay so
    return std::bit_cast<double>(sign | e << 52 | mantissa << 42);
}

class Ccp4Reader final : public Reader {
  public:
    explicit Ccp4Reader(io::BlockReader& in) : in_(in) {}

    Geometry read_header() override {
        HeaderWords h;
        const std::size_t got = in_.read(h.bytes.data(), kHeaderBytes);
        if (got < kHeaderBytes) {
            fail(formatted("The CCP4/MRC file ends inside its 1024-byte header, after %zu bytes", got));
        }
        std::vector<std::string> warnings;
        header_ = parse_header(h, warnings);
        swap_ = h.swap;
        const Geometry g = geometry_of(header_, std::move(warnings));
        check_size();
        skip_extended_header();
        return g;
    }

    long read_values(std::span<double> values, ValueProgress* progress) override;
    // Every mode voxmol reads holds only values a float holds exactly.
    bool holds_single() const override { return true; }
    ValueOrder read_single(std::span<float> values) override;
    bool selects() const override { return true; }
    void read_selection(PointSelection& selection) override;

  private:
    std::uint64_t value_count() const {
        return std::uint64_t{static_cast<std::uint32_t>(header_.n[0])} *
               static_cast<std::uint32_t>(header_.n[1]) *
               static_cast<std::uint32_t>(header_.n[2]);  // check_size refuses more than 2^60 first
    }
    void check_size() const;
    void skip_extended_header();
    void read_exactly(char* dst, std::size_t values, std::uint64_t done);
    template <std::size_t kBytes, double (*load)(const char*), typename To>
    void move_values(To& to);
    template <std::size_t kBytes, double (*load)(const char*)>
    void read_as_listed(std::span<float> values);
    template <typename Read>
    void with_loader(Read&& read);
    void check_no_more_bytes();

    io::BlockReader& in_;
    Header header_;
    bool swap_ = false;
};

// The data must be all there, and no more, when the file's size can be known (a plain file); a gzip
// stream or a pipe is checked as it is read. This keeps a corrupt header from allocating a grid the
// file cannot fill.
void Ccp4Reader::check_size() const {
    const std::uint64_t bpv = static_cast<std::uint64_t>(header_.mode->bytes);
    const auto [nc, nr, ns] = header_.n;
    // Each dimension is below 2^31; their product times 4 bytes would overflow 64 bits past 2^62 values.
    const unsigned __int128 points =
        static_cast<unsigned __int128>(nc) * static_cast<unsigned>(nr) * static_cast<unsigned>(ns);
    if (points > (std::uint64_t{1} << 60)) {
        fail(
            formatted("The CCP4/MRC header gives the grid dimensions NC, NR, NS = %d %d %d, more values "
                      "than any file holds",
                      nc, nr, ns));
    }
    const std::optional<std::uint64_t> left = in_.bytes_left();
    if (!left) return;
    const auto extended = static_cast<std::uint64_t>(header_.nsymbt);
    if (*left < extended) {
        fail(formatted("The CCP4/MRC file ends inside its extended header of %llu bytes (NSYMBT), after %llu",
                       static_cast<unsigned long long>(extended), static_cast<unsigned long long>(*left)));
    }
    const std::uint64_t data = *left - extended;
    const std::uint64_t count = value_count();
    if (data < count * bpv) {
        fail(formatted("The CCP4/MRC file ends after %llu of %llu values",
                       static_cast<unsigned long long>(data / bpv), static_cast<unsigned long long>(count)));
    }
    if (data > count * bpv) {
        fail(formatted(
            "The CCP4/MRC file holds %llu bytes after its %llu values; its header (dimensions, "
            "mode or NSYMBT) disagrees with the data",
            static_cast<unsigned long long>(data - count * bpv), static_cast<unsigned long long>(count)));
    }
}

void Ccp4Reader::skip_extended_header() {
    std::vector<char> scratch(std::min<std::size_t>(static_cast<std::size_t>(header_.nsymbt), kSkipBytes));
    std::size_t left = static_cast<std::size_t>(header_.nsymbt);
    while (left > 0) {
        const std::size_t want = std::min(left, scratch.size());
        const std::size_t got = in_.read(scratch.data(), want);
        left -= got;
        if (got < want) {
            fail(
                formatted("The CCP4/MRC file ends inside its extended header of %d bytes (NSYMBT), after %zu",
                          header_.nsymbt, static_cast<std::size_t>(header_.nsymbt) - left));
        }
    }
}

// Reads `values` whole values into dst; `done` values were read before, for the message.
void Ccp4Reader::read_exactly(char* dst, std::size_t values, std::uint64_t done) {
    const std::size_t bpv = static_cast<std::size_t>(header_.mode->bytes);
    const std::size_t got = in_.read(dst, values * bpv);
    if (got < values * bpv) {
        fail(formatted("The CCP4/MRC file ends after %llu of %llu values",
                       static_cast<unsigned long long>(done + got / bpv),
                       static_cast<unsigned long long>(value_count())));
    }
}

// The values are moved into walk order as they are read: the file's columns, rows and sections run along
// the cell's axes MAPC, MAPR and MAPS name.
template <std::size_t kBytes, double (*load)(const char*), typename To>
void Ccp4Reader::move_values(To& to) {
    FileAxes axes;
    for (int f = 0; f < 3; ++f) {
        axes.n[f] = static_cast<std::size_t>(header_.n[f]);
        axes.walk_axis[f] = header_.axis[f];
    }
    std::uint64_t done = 0;
    move_to_walk_order<kBytes, load>(to, axes, [&](char* dst, std::size_t count) {
        read_exactly(dst, count, done);
        done += count;
    });
}

// The values as the file lists them. Floats in the machine's byte order are read straight into place, in
// one read; the other modes through a small buffer that stays in the cache, converted as they are moved.
template <std::size_t kBytes, double (*load)(const char*)>
void Ccp4Reader::read_as_listed(std::span<float> values) {
    if constexpr (io::kFloatLoader<load> == 1) {
        read_exactly(reinterpret_cast<char*>(values.data()), values.size(), 0);
    } else {
        constexpr std::size_t kChunk = std::size_t{64} << 10;  // values
        const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk * kBytes);
        for (std::size_t done = 0; done < values.size(); done += kChunk) {
            const std::size_t n = std::min(kChunk, values.size() - done);
            read_exactly(buffer.get(), n, done);
            float* dst = values.data() + done;
            for (std::size_t i = 0; i < n; ++i)
                dst[i] = static_cast<float>(load(buffer.get() + i * kBytes));
        }
    }
}

// Calls read.template operator()<kBytes, load>() with the value size and loader of the file's mode and
// byte order: one instantiation each, so that the inner loops are plain loads.
template <typename Read>
void Ccp4Reader::with_loader(Read&& read) {
    const bool swap = swap_;
    switch (header_.mode->mode) {
        case 0:
            read.template operator()<1, io::load_as_double<std::int8_t, false>>();
            break;
        case 1:
            swap ? read.template operator()<2, io::load_as_double<std::int16_t, true>>()
                 : read.template operator()<2, io::load_as_double<std::int16_t, false>>();
            break;
        case 2:
            swap ? read.template operator()<4, io::load_as_double<float, true>>()
                 : read.template operator()<4, io::load_as_double<float, false>>();
            break;
        case 6:
            swap ? read.template operator()<2, io::load_as_double<std::uint16_t, true>>()
                 : read.template operator()<2, io::load_as_double<std::uint16_t, false>>();
            break;
        default:
            swap ? read.template operator()<2, load_half<true>>()
                 : read.template operator()<2, load_half<false>>();
            break;
    }
}

void Ccp4Reader::check_no_more_bytes() {
    char extra;
    if (in_.read(&extra, 1) != 0) {
        fail(
            formatted("The CCP4/MRC file holds more bytes after its %llu values; its header (dimensions, "
                      "mode or NSYMBT) disagrees with the data",
                      static_cast<unsigned long long>(value_count())));
    }
}

long Ccp4Reader::read_values(std::span<double> values, ValueProgress*) {
    if (values.size() != value_count()) fail("The grid's values do not match the CCP4/MRC header");
    with_loader(
        [&]<std::size_t kBytes, double (*load)(const char*)>() { move_values<kBytes, load>(values); });
    check_no_more_bytes();
    return static_cast<long>(values.size());
}

void Ccp4Reader::read_selection(PointSelection& selection) {
    with_loader(
        [&]<std::size_t kBytes, double (*load)(const char*)>() { move_values<kBytes, load>(selection); });
    if (selection.complete) check_no_more_bytes();
}

// A map whose columns run along X, rows along Y and sections along Z (the usual order) lists its values x
// fastest, and one in the order Z, Y, X lists them in walk order: either is read as it lies. Any other
// axis order is moved into walk order.
ValueOrder Ccp4Reader::read_single(std::span<float> values) {
    if (values.size() != value_count()) fail("The grid's values do not match the CCP4/MRC header");
    const std::array<int, 3> x_first{0, 1, 2}, z_first{2, 1, 0};
    const bool as_listed = header_.axis == x_first || header_.axis == z_first;
    with_loader([&]<std::size_t kBytes, double (*load)(const char*)>() {
        if (as_listed)
            read_as_listed<kBytes, load>(values);
        else
            move_values<kBytes, load>(values);
    });
    check_no_more_bytes();
    return header_.axis == x_first ? ValueOrder::x_fastest : ValueOrder::z_fastest;
}

// An MRC file carries "MAP " at byte 208, with a mode word that is a small number in one byte order (text
// that happens to hold "MAP " there has four characters in that word, a huge number either way); a file
// that ends before its 1024-byte header does is still taken, so that the reader can say it is truncated.
// An old CCP4 header without the stamp is taken when, in one byte order, its dimensions are positive,
// its mode is one voxmol reads and its axis order a permutation: text never passes, its bytes read as
// huge numbers.
bool detect_ccp4(std::string_view prefix, std::string_view) {
    HeaderWords h;
    std::memcpy(h.bytes.data(), prefix.data(), std::min(prefix.size(), kHeaderBytes));
    for (bool swap : {false, true}) {
        h.swap = swap;
        if (prefix.size() >= 216 && has_map_stamp(h) && h.i32(4) >= 0 && h.i32(4) < 256) return true;
    }
    if (prefix.size() < kHeaderBytes) return false;
    for (bool swap : {false, true}) {
        h.swap = swap;
        const ModeInfo* m = mode_info(h.i32(4));
        if (h.i32(1) > 0 && h.i32(2) > 0 && h.i32(3) > 0 && m != nullptr && m->bytes != 0 &&
            axis_order_is_permutation(h))
            return true;
    }
    return false;
}

std::unique_ptr<Reader> open_ccp4(io::BlockReader& in, int) {
    return std::make_unique<Ccp4Reader>(in);
}

}  // namespace

extern const Format ccp4_format = {
    "CCP4/MRC",
    "density maps from crystallography and electron microscopy: .map, .ccp4, .mrc",
    detect_ccp4,
    open_ccp4,
};

}  // namespace gridfmt
