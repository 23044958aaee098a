// The grid formats voxmol reads, in the order recognition tries them. Each is defined in its own file of
// this folder; a new format is that file and one line here.
#include "dx/formats/format.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace gridfmt {

extern const Format ccp4_format, delphi_format, uhbd_format, plt_format, dsn6_format, opendx_format,
    autodock_format, xplor_format, situs_format, cube_format, native_format;

namespace {

constexpr const Format* kFormats[] = {
    &ccp4_format,      // "MAP " at byte 208, or a plausible old CCP4 header
    &delphi_format,    // a first Fortran record of 20 characters that says "phimap"
    &uhbd_format,      // a first Fortran record of 160 bytes, or the five header lines of the text form
    &plt_format,       // the rank 3 and three positive counts, in either byte order
    &dsn6_format,      // ":-) " (BRIX), or a DSN6 header whose 19th word is 100
    &opendx_format,    // the first statement is "object <name> [class] <class>"
    &autodock_format,  // the first line starts with GRID_PARAMETER_FILE
    &xplor_format,     // "!NTITLE" after the title count, or the header's shape through "ZYX"
    &situs_format,     // a first line of spacing, origin and three counts, then values only
    &cube_format,      // named .cube or .cub, and lines 3 to 6 are a cube's counts and vectors
    &native_format,    // everything else: voxmol's own text format
};

}  // namespace

std::span<const Format* const> formats() {
    return kFormats;
}

const Format& recognise(std::string_view prefix, std::string_view name) {
    for (const Format* f : kFormats) {
        if (f->detect(prefix, name)) return *f;
    }
    return native_format;
}

const Format* format_named(std::string_view name) {
    for (const Format* f : kFormats) {
        if (f->name == name) return f;
    }
    return nullptr;
}

std::string formatted(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::optional<std::uint64_t> product3(std::uint64_t nx, std::uint64_t ny, std::uint64_t nz) {
    std::uint64_t p = 0;
    if (__builtin_mul_overflow(nx, ny, &p) || __builtin_mul_overflow(p, nz, &p)) return std::nullopt;
    return p;
}

void check_reach(const Geometry& g, const std::string& format) {
    const double last[3] = {g.nx - 1.0, g.ny - 1.0, g.nz - 1.0};
    for (int x = 0; x < 3; ++x) {
        double corner = g.origin[x];
        bool finite = std::isfinite(corner);
        for (int d = 0; d < 3; ++d) {
            finite = finite && std::isfinite(g.axes[d][x]);
            corner += last[d] * g.axes[d][x];
        }
        if (!finite || !std::isfinite(corner))
            fail("The " + format + " header places its grid beyond the range of numbers");
    }
}

Tuhbdgrd record_of(const Geometry& g) {
    if (g.record) return *g.record;
    return grid_record(g.nx, g.ny, g.nz, g.origin, g.axes);
}

}  // namespace gridfmt
