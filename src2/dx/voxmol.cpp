// The run: the command line read, the settings echoed, the grid read, the output named, the records
// written beside the data file.
#include "dx/voxmol.h"
#include "common/text_out.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "common/fatal.h"
#include "dx/formats/read.h"
#include "dx/uhbdio.h"
#include "dx/write/output_file.h"
#include "dx/write/pdb_writer.h"
#include "dx/write/streamed_output.h"
#include "dx/write/write_pipe.h"

Tuhbdgrd grd{};

namespace {

// True when both names lead to one existing file, so that writing one would destroy the other.
bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

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
    return run_conversion(parse_command_line(argc, argv));
}

namespace {

// The values read, the output named and checked, the records written: the run after the echo of its
// settings. Returns the exit status. `stage` says what the run is doing, for a message should memory
// run out.
int convert(Settings& s, const char*& stage) {
    const int LEVEL = s.LEVEL;
    const std::optional<ValueOrder> order = order_named(s.DATAORD);
    if (!order) run_failed("Unknown data ordering: use XYZ or ZYX");

    if (LEVEL > 1)
        std::fprintf(text_out(), "I am reading the data file header:  %s  ...........\n", s.dataname.c_str());
    gridfmt::GridReading reading(s.dataname, s.order_given ? order : std::nullopt, LEVEL);
    reading.allocate();
    GridFile& input = reading.file();
    grd = input.grid;
    s.dimX = grd.nx;
    s.dimY = grd.ny;
    s.dimZ = grd.nz;

    const std::string outname = output_name(s.dataname);
    const bool overwrites_input = same_file(s.dataname, outname);

    // Values that arrive in walk order can have their records written while the rest of the file is
    // read, on the other core. Every other case writes once the values are read.
    ValueProgress progress;
    std::unique_ptr<StreamedOutput> streamed;
    if (input.native && input.order == ValueOrder::z_fastest && !overwrites_input &&
        writepipe::second_thread_pays())
        streamed = StreamedOutput::start(outname, grd, s.thres_min, s.thres_max, s.resol, progress);
    reading.read_values(streamed ? &progress : nullptr);

    for (int e = 0; e < s.dimZ && static_cast<std::size_t>(e) < grd.data.size(); ++e) {
        std::fprintf(text_out(), "[%d]= %f\n", e, grd.data[e]);
    }
    if (LEVEL > 1) std::fprintf(text_out(), "Name of output file is: %s\n", outname.c_str());
    if (overwrites_input) run_failed("The output file would overwrite the input data file");

    if (streamed) {
        stage = "to write the output file";
        print_writing_started();
        std::fflush(text_out());
        if (!streamed->finish()) run_failed("I cannot write the output data file");
        print_writing_done();
        return 0;
    }
    stage = "to write the output file";
    outfile::OutputFile out;
    if (!out.open(outname)) run_failed("I cannot open the output data file");
    print_writing_started();
    write_pdb_records(out.stream(), grd, s.thres_min, s.thres_max, s.resol, input.order,
                      writepipe::second_thread_pays(), nullptr);
    if (!out.commit()) run_failed("I cannot write the output data file");
    print_writing_done();
    return 0;
}

}  // namespace

int run_conversion(Settings s) {
    grd = Tuhbdgrd{};
    // A step below 1 would never be reached by the thinning counter and write no record at all.
    const bool resol_corrected = s.resol <= 0;
    if (resol_corrected) s.resol = 1;
    if (s.LEVEL > 1) echo_settings(s, resol_corrected);
    // Memory that runs out anywhere (a line of gigabytes, the writer's buffers) ends the run with its
    // error block, never with an abort; the grid's own allocation has its message already.
    const char* stage = "to read the data file";
    try {
        const int status = convert(s, stage);
        grd = Tuhbdgrd{};
        return status;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    grd = Tuhbdgrd{};
    run_failed(std::string("There is not enough memory ") + stage);
}
