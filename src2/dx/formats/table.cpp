// The grid formats voxmol reads, in the order recognition tries them. Each is defined in its own file of
// this folder; a new format is that file and one line here.
#include "dx/formats/format.h"

namespace gridfmt {

extern const Format ccp4_format, opendx_format, autodock_format, cube_format, native_format;

namespace {

constexpr const Format* kFormats[] = {
    &ccp4_format,      // "MAP " at byte 208, or a plausible old CCP4 header
    &opendx_format,    // the first statement is "object <name> [class] <class>"
    &autodock_format,  // the first line starts with GRID_PARAMETER_FILE
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

Tuhbdgrd record_of(const Geometry& g) {
    if (g.record) return *g.record;
    return grid_record(g.nx, g.ny, g.nz, g.origin, g.axes);
}

}  // namespace gridfmt
