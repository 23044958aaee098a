// The command line: options, usage, help and the echo of the settings.
#include "dx/cli.h"
#include "common/text_out.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/fatal.h"
#include "dx/formats/format.h"
#include "dx/io/cconv.h"
#include "dx/uhbdio.h"
#include "string_tool2.h"

void print_title() {
    put_line("\n                  Program VOXMOL version 0.1");
    put_line("      Read a 1D fload data and write out a PDB file format");
}

void print_usage() {
    print_title();
    put_line("usage => voxmol <datafile> ");
    put_line("         [-o %s] (type of data ordering {XYZ} or ZYX)");
    put_line("         [-d %d %d %d] ( Grid dimensions in X,Y,Z)");
    put_line("         [-z %f %f %f] ( Lower left corner of the Grid {-dim/2*sp})");
    put_line("         [-t %f %f] ( Threshold Min Max {-1 1})");
    put_line("         [-s %f] ( Grid spacing in A {1.0})");
    put_line("         [-r %d] ( Resolution {1=max, higher_nb=lower_res})");
    put_line("         [-l %d] verbose LEVEL {2}\n");
}

void error_usage() {
    print_usage();
    run_failed("Incorrect input argument");
}

void print_help() {
    print_usage();
    std::fputs(
        "Options (each may stand anywhere after the data file; the last occurrence wins):\n"
        "  -t min max   value window: points with min <= value <= max are written (default -1 1)\n"
        "  -r n         thinning: write every n-th point of the window (default 1, all)\n"
        "  -o order     XYZ or ZYX, the order of the values in a voxmol text file (default XYZ)\n"
        "  -l n         verbosity: 1 quiet, 2 progress (default), 3 debug\n"
        "  -d nx ny nz  echoed only; the grid's dimensions come from the file\n"
        "  -z x y z     accepted, no effect\n"
        "  -s sp        accepted, no effect\n"
        "\n"
        "Grid formats, recognised by content in this order, each of them also gzip-compressed:\n",
        text_out());
    for (const gridfmt::Format* f : gridfmt::formats()) {
        const std::string name(f->name), summary(f->summary);
        std::fprintf(text_out(), "  %-15s %s\n", name.c_str(), summary.c_str());
    }
    std::fputs(
        "The output, a PDB file of pseudo-atoms with the values in the B column, is written beside the\n"
        "data file, its extension replaced by pdb.\n"
        "\n"
        "  voxmol --help      this text\n"
        "  voxmol --version   the version\n",
        text_out());
}

void print_version() {
    std::fprintf(text_out(), "voxmol %s\n", VOXMOL_VERSION);
}

Settings parse_command_line(int argc, const char* const* argv) {
    Settings s;
    s.dataname = argv[1];
    for (int i = 2; i < argc; ++i) {
        const char* entry = argv[i];
        auto value = [&](int k) {
            if (i + k >= argc) error_usage();
            return argv[i + k];
        };
        // An entry such as "--level" counts as -l, and "-dz" triggers both -d and -z. Value entries are
        // scanned too.
        auto has = [entry](const char* pattern) { return std::strstr(entry, pattern) != nullptr; };
        if (has("-l")) s.LEVEL = cconv::to_int(value(1));
        if (has("-d")) {
            value(3);
            s.dimX = cconv::to_int_truncated(value(1));
            s.dimY = cconv::to_int_truncated(value(2));
            s.dimZ = cconv::to_int_truncated(value(3));
        }
        if (has("-z")) {
            value(3);
            s.corX = cconv::to_double(value(1));
            s.corY = cconv::to_double(value(2));
            s.corZ = cconv::to_double(value(3));
        }
        if (has("-s")) s.sp = cconv::to_double(value(1));
        if (has("-r")) s.resol = cconv::to_int(value(1));
        if (has("-o")) {
            s.DATAORD = value(1);
            s.order_given = true;
            for (char& c : s.DATAORD)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (has("-t")) {
            value(2);
            s.thres_min = cconv::to_double(value(1));
            s.thres_max = cconv::to_double(value(2));
        }
    }
    return s;
}

std::optional<ValueOrder> order_named(std::string_view DATAORD) {
    const std::string_view order = DATAORD.substr(0, 3);
    if (order == "XYZ") return ValueOrder::z_fastest;
    if (order == "ZYX") return ValueOrder::x_fastest;
    return std::nullopt;
}

namespace {

const char* resolution_line(int resol) {
    switch (resol) {
        case 1:
            return "Resolution set to: Max";
        case 2:
            return "Resolution set to: High";
        case 3:
            return "Resolution set to: Med-High";
        case 4:
            return "Resolution set to: Med";
        case 5:
            return "Resolution set to: Low-Med";
        default:
            return "Resolution set to: Low";
    }
}

}  // namespace

void echo_settings(const Settings& s, bool resol_corrected) {
    print_title();
    std::fprintf(text_out(), "data = %s\n", s.dataname.c_str());
    std::fprintf(text_out(), "Grid size: X=%d  Y=%d  Z=%d\n", s.dimX, s.dimY, s.dimZ);
    std::fprintf(text_out(), "Input data are in the order: %s\n", s.DATAORD.c_str());
    if (resol_corrected) put_line("Resolution cannot be negative, set to 1");
    put_line(resolution_line(s.resol));
    if (s.LEVEL > 2) put_line("Debug option turned on");
    put_line("\n");
}

std::string output_name(const std::string& dataname) {
    // The extension is that of the base name: a dot in a folder's name ("run.d/grid") must not send the
    // output out of the input's folder, over another file. A base name with no dot but a leading one
    // (".hidden", "grid") has none, and gets ".pdb" appended.
    std::string base;
    remove_path(dataname, base);
    if (base.find('.', 1) == std::string::npos) return dataname + ".pdb";
    std::string extension;
    std::string outname;
    get_extname(base, '.', extension);
    get_outputname(dataname, extension, "pdb", outname);
    return outname;
}
