// The converter's run driver: command line, settings echo, and one conversion from a grid data file to
// a PDB file of pseudo-atoms written beside it.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "dx/io/cconv.h"
#include "dx/formats/format.h"
#include "dx/write/streamed_output.h"
#include "dx/uhbdio.h"
#include "common/fatal.h"
#include "string_tool2.h"

Tuhbdgrd grd{};

std::optional<std::size_t> grid_points(const Tuhbdgrd& grid) {
    if (grid.nx < 0 || grid.ny < 0 || grid.nz < 0) return std::nullopt;
    std::size_t points = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(grid.nx), static_cast<std::size_t>(grid.ny),
                               &points) ||
        __builtin_mul_overflow(points, static_cast<std::size_t>(grid.nz), &points)) {
        return std::nullopt;
    }
    return points;
}

void print_title() {
    std::puts("\n                  Program VOXMOL version 0.1");
    std::puts("      Read a 1D fload data and write out a PDB file format");
}

void print_usage() {
    print_title();
    std::puts("usage => voxmol <datafile> ");
    std::puts("         [-o %s] (type of data ordering {XYZ} or ZYX)");
    std::puts("         [-d %d %d %d] ( Grid dimensions in X,Y,Z)");
    std::puts("         [-z %f %f %f] ( Lower left corner of the Grid {-dim/2*sp})");
    std::puts("         [-t %f %f] ( Threshold Min Max {-1 1})");
    std::puts("         [-s %f] ( Grid spacing in A {1.0})");
    std::puts("         [-r %d] ( Resolution {1=max, higher_nb=lower_res})");
    std::puts("         [-l %d] verbose LEVEL {2}\n");
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
        "Grid formats, recognised by content: voxmol text (a header line of 17 numbers, then one value\n"
        "per line), OpenDX, CCP4/MRC, Gaussian cube (.cube, .cub) and AutoDock maps, each of them also\n"
        "gzip-compressed. The output, a PDB file of pseudo-atoms with the values in the B column, is\n"
        "written beside the data file, its extension replaced by pdb.\n"
        "\n"
        "  voxmol --help      this text\n"
        "  voxmol --version   the version\n",
        stdout);
}

void print_version() {
    std::printf("voxmol %s\n", VOXMOL_VERSION);
}

void error_usage() {
    print_usage();
    run_failed("Incorrect input argument");
}

namespace {

// The run settings, with their defaults.
struct Settings {
    std::string dataname;
    int LEVEL = 2;
    int dimX = 128, dimY = 128, dimZ = 128;     // only echoed; the header gives the real dimensions
    double corX = 0.0, corY = 0.0, corZ = 0.0;  // accepted, unused
    double sp = 1.0;                            // accepted, unused
    std::string DATAORD = "XYZ";
    bool order_given = false;  // -o was given (only voxmol's own grid format takes it)
    double thres_min = -1.0, thres_max = 1.0;
    int resol = 1;
};

// Options are found by substring search, in this order, in every entry after the data file's name: an
// entry such as "--level" counts as -l, and "-dz" triggers both -d and -z, each reading its values from
// the entries that follow. Value entries are scanned too; the last occurrence of an option wins. An
// option whose values run past the end of the command line is a usage error.
Settings parse_command_line(int argc, const char* const* argv) {
    Settings s;
    s.dataname = argv[1];
    for (int i = 2; i < argc; ++i) {
        const char* entry = argv[i];
        auto value = [&](int k) {
            if (i + k >= argc) error_usage();
            return argv[i + k];
        };
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

void echo_settings(const Settings& s, bool resol_corrected) {
    print_title();
    std::printf("data = %s\n", s.dataname.c_str());
    std::printf("Grid size: X=%d  Y=%d  Z=%d\n", s.dimX, s.dimY, s.dimZ);
    std::printf("Input data are in the order: %s\n", s.DATAORD.c_str());
    if (resol_corrected) std::puts("Resolution cannot be negative, set to 1");
    std::puts(resolution_line(s.resol));
    if (s.LEVEL > 2) std::puts("Debug option turned on");
    std::puts("\n");
}

// True when both names lead to one existing file, so that writing one would destroy the other.
bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// An open stream that is closed however the run ends.
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int voxmol_main(int argc, const char* const* argv) {
    // Only as the one argument: otherwise the first argument is always the data file, whatever its name.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        print_help();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        print_version();
        return 0;
    }
    if (argc < 2 || argc > 16) error_usage();
    grd = Tuhbdgrd{};
    Settings s = parse_command_line(argc, argv);
    const int LEVEL = s.LEVEL;

    // A step below 1 would never be reached by the thinning counter and write no record at all.
    const bool resol_corrected = s.resol <= 0;
    if (resol_corrected) s.resol = 1;
    if (LEVEL > 1) echo_settings(s, resol_corrected);

    const std::string_view order = std::string_view(s.DATAORD).substr(0, 3);
    if (order != "XYZ" && order != "ZYX") run_failed("Unknown data ordering: use XYZ or ZYX");

    if (LEVEL > 1) std::printf("I am reading the data file header:  %s  ...........\n", s.dataname.c_str());
    gridfmt::GridReading reading(s.dataname, s.order_given, LEVEL);
    reading.allocate();
    GridFile& input = reading.file();
    grd = input.grid;
    s.dimX = grd.nx;
    s.dimY = grd.ny;
    s.dimZ = grd.nz;

    std::string extension;
    std::string outname;
    get_extname(s.dataname, '.', extension);
    get_outputname(s.dataname, extension, "pdb", outname);
    const bool overwrites_input = same_file(s.dataname, outname);

    // voxmol's own format lists "XYZ" values in walk order: their records can be written while the
    // rest of the file is read, on the other core. Every other case writes once the values are read.
    ValueProgress progress;
    std::unique_ptr<StreamedOutput> streamed;
    if (input.native && order == "XYZ" && !overwrites_input && std::thread::hardware_concurrency() > 1)
        streamed = StreamedOutput::start(outname, grd, s.thres_min, s.thres_max, s.resol, progress);
    reading.read_values(streamed ? &progress : nullptr);

    for (int e = 0; e < s.dimZ && static_cast<std::size_t>(e) < grd.data.size(); ++e) {
        std::printf("[%d]= %f\n", e, grd.data[e]);
    }
    if (LEVEL > 1) std::printf("Name of output file is: %s\n", outname.c_str());
    if (overwrites_input) run_failed("The output file would overwrite the input data file");

    if (streamed) {
        std::printf("\nWriting to dx file ...\n");
        std::fflush(stdout);
        if (!streamed->finish()) run_failed("I cannot write the output data file");
        std::printf("Writing to dx file : Done\n\n");
        return 0;
    }
    File file_out(std::fopen(outname.c_str(), "w"));
    if (!file_out) run_failed("I cannot open the output data file");
    // Only voxmol's own format lists its values in the order -o gives; the others are already in walk order.
    write_pdb(file_out.get(), &grd, s.thres_min, s.thres_max, s.resol, input.native ? s.DATAORD : "XYZ");
    const bool write_failed = std::ferror(file_out.get()) != 0;
    const bool close_failed = std::fclose(file_out.release()) != 0;
    grd.data = {};
    if (write_failed || close_failed) run_failed("I cannot write the output data file");
    return 0;
}
