// The grid writers: OpenDX text and MRC2014 float32 maps.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "common/interrupt.h"
#include "dx/write/export.h"

namespace gridexport {

namespace {

bool ends_with_nocase(std::string_view name, std::string_view ending) {
    if (name.size() < ending.size()) return false;
    const std::string_view tail = name.substr(name.size() - ending.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
        if (c != ending[i]) return false;
    }
    return true;
}

// The shortest text that reads back to the same double.
void put_number(std::string& out, double v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    out.append(text, r.ptr);
}

void flush(std::FILE* file, std::string& out) {
    std::fwrite(out.data(), 1, out.size(), file);
    out.clear();
}

}  // namespace

std::optional<GridFormat> format_for_name(std::string_view name) {
    if (ends_with_nocase(name, ".dx")) return GridFormat::opendx;
    for (std::string_view e : {".mrc", ".map", ".ccp4"}) {
        if (ends_with_nocase(name, e)) return GridFormat::mrc;
    }
    return std::nullopt;
}

void write_opendx(std::FILE* file, const Tuhbdgrd& grid, ValueOrder order) {
    const Axes axes = grid_axes(grid);
    std::string out;
    const std::string counts =
        std::to_string(grid.nx) + " " + std::to_string(grid.ny) + " " + std::to_string(grid.nz);
    out += "# OpenDX grid written by voxmol " VOXMOL_VERSION "\n";
    out += "object 1 class gridpositions counts " + counts + "\norigin";
    for (double v : {grid.xmin, grid.ymin, grid.zmin}) {
        out += ' ';
        put_number(out, v);
    }
    for (const auto& step : axes) {
        out += "\ndelta";
        for (double v : step) {
            out += ' ';
            put_number(out, v);
        }
    }
    const std::size_t points = static_cast<std::size_t>(grid.nx) * grid.ny * grid.nz;
    out += "\nobject 2 class gridconnections counts " + counts + "\n";
    out += "object 3 class array type double rank 0 items " + std::to_string(points) + " data follows\n";
    int in_line = 0;
    for (long i = 0; i < grid.nx; ++i) {
        check_interrupt();
        for (long j = 0; j < grid.ny; ++j) {
            for (long k = 0; k < grid.nz; ++k) {
                put_number(out, grid.data[value_index(grid, order, i, j, k)]);
                out += ++in_line == 3 ? '\n' : ' ';
                if (in_line == 3) in_line = 0;
            }
            if (out.size() > (1u << 20)) flush(file, out);
        }
    }
    if (in_line != 0) out.back() = '\n';
    out +=
        "attribute \"dep\" string \"positions\"\n"
        "object \"regular positions regular connections\" class field\n"
        "component \"positions\" value 1\n"
        "component \"connections\" value 2\n"
        "component \"data\" value 3\n";
    flush(file, out);
}

std::string mrc_refusal(const Tuhbdgrd& grid) {
    if (grid.nx < 1 || grid.ny < 1 || grid.nz < 1)
        return "an MRC map holds at least one point along each axis";
    const Axes a = grid_axes(grid);
    const double len[3] = {std::hypot(a[0][0], a[0][1], a[0][2]), std::hypot(a[1][0], a[1][1], a[1][2]),
                           std::hypot(a[2][0], a[2][1], a[2][2])};
    for (int d = 0; d < 3; ++d) {
        if (!(len[d] > 0.0) || !std::isfinite(len[d]))
            return "an MRC cell needs a step of non-zero length along each axis";
    }
    auto zero = [](double v, double scale) { return std::abs(v) <= 1e-9 * scale; };
    if (!zero(a[0][1], len[0]) || !zero(a[0][2], len[0]) || !zero(a[1][2], len[1]))
        return "the step vectors are rotated: an MRC cell has its first axis along x and its second in the "
               "xy plane (write OpenDX, which holds any axes)";
    if (!(a[0][0] > 0.0) || !(a[1][1] > 0.0) || !(a[2][2] > 0.0))
        return "a step runs against its axis (a negative x of a, y of b or z of c): an MRC cell has none "
               "(write OpenDX, which holds any axes)";
    return {};
}

namespace {

void put_word(unsigned char* header, int word, std::uint32_t v) {
    // MRC files written here are little-endian, as their machine stamp says.
    for (int b = 0; b < 4; ++b)
        header[4 * word + b] = static_cast<unsigned char>(v >> (8 * b));
}
void put_int(unsigned char* header, int word, std::int32_t v) {
    put_word(header, word, static_cast<std::uint32_t>(v));
}
void put_float(unsigned char* header, int word, float v) {
    put_word(header, word, std::bit_cast<std::uint32_t>(v));
}

double angle_between(const std::array<double, 3>& u, const std::array<double, 3>& v) {
    const double dot = u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
    const double c = dot / (std::hypot(u[0], u[1], u[2]) * std::hypot(v[0], v[1], v[2]));
    return std::acos(std::clamp(c, -1.0, 1.0)) * 180.0 / std::acos(-1.0);
}

}  // namespace

void write_mrc(std::FILE* file, const Tuhbdgrd& grid, ValueOrder order) {
    const Axes a = grid_axes(grid);
    const long nx = grid.nx, ny = grid.ny, nz = grid.nz;
    // Statistics of the values as stored (float32), NaN left out.
    double lo = std::numeric_limits<double>::infinity(), hi = -lo, sum = 0.0, squares = 0.0;
    std::size_t counted = 0;
    for (double v : grid.data) {
        const double f = static_cast<float>(v);
        if (std::isnan(f)) continue;
        lo = std::min(lo, f);
        hi = std::max(hi, f);
        sum += f;
        squares += f * f;
        ++counted;
    }
    const double mean = counted > 0 ? sum / static_cast<double>(counted) : 0.0;
    const double rms =
        counted > 0 ? std::sqrt(std::max(0.0, squares / static_cast<double>(counted) - mean * mean)) : 0.0;
    if (counted == 0) lo = hi = 0.0;

    unsigned char header[1024] = {};
    put_int(header, 0, static_cast<std::int32_t>(nx));  // columns, along the cell's x
    put_int(header, 1, static_cast<std::int32_t>(ny));  // rows, y
    put_int(header, 2, static_cast<std::int32_t>(nz));  // sections, z
    put_int(header, 3, 2);                              // mode 2: float32
    // words 4-6: start indices 0, the origin is in ORIGIN
    put_int(header, 7, static_cast<std::int32_t>(nx));  // sampling: one cell spans the grid
    put_int(header, 8, static_cast<std::int32_t>(ny));
    put_int(header, 9, static_cast<std::int32_t>(nz));
    put_float(header, 10, static_cast<float>(nx * std::hypot(a[0][0], a[0][1], a[0][2])));
    put_float(header, 11, static_cast<float>(ny * std::hypot(a[1][0], a[1][1], a[1][2])));
    put_float(header, 12, static_cast<float>(nz * std::hypot(a[2][0], a[2][1], a[2][2])));
    put_float(header, 13, static_cast<float>(angle_between(a[1], a[2])));  // alpha
    put_float(header, 14, static_cast<float>(angle_between(a[0], a[2])));  // beta
    put_float(header, 15, static_cast<float>(angle_between(a[0], a[1])));  // gamma
    put_int(header, 16, 1);  // MAPC, MAPR, MAPS: columns x, rows y, sections z
    put_int(header, 17, 2);
    put_int(header, 18, 3);
    put_float(header, 19, static_cast<float>(lo));
    put_float(header, 20, static_cast<float>(hi));
    put_float(header, 21, static_cast<float>(mean));
    put_int(header, 22, 1);      // ISPG 1: one volume
    put_int(header, 27, 20140);  // NVERSION: MRC2014
    put_float(header, 49, static_cast<float>(grid.xmin));
    put_float(header, 50, static_cast<float>(grid.ymin));
    put_float(header, 51, static_cast<float>(grid.zmin));
    std::memcpy(header + 208, "MAP ", 4);
    header[212] = 0x44;  // machine stamp: little-endian
    header[213] = 0x44;
    put_float(header, 54, static_cast<float>(rms));
    put_int(header, 55, 1);
    const char label[] = "voxmol " VOXMOL_VERSION;
    std::memcpy(header + 224, label, sizeof label - 1);
    std::fwrite(header, 1, sizeof header, file);

    // Columns fastest, then rows, then sections.
    std::vector<unsigned char> row(static_cast<std::size_t>(nx) * 4);
    for (long k = 0; k < nz; ++k) {
        check_interrupt();
        for (long j = 0; j < ny; ++j) {
            for (long i = 0; i < nx; ++i) {
                const auto bits = std::bit_cast<std::uint32_t>(
                    static_cast<float>(grid.data[value_index(grid, order, i, j, k)]));
                for (int b = 0; b < 4; ++b)
                    row[static_cast<std::size_t>(i) * 4 + b] = static_cast<unsigned char>(bits >> (8 * b));
            }
            std::fwrite(row.data(), 1, row.size(), file);
        }
    }
}

}  // namespace gridexport
