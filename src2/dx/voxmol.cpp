// The run: the command line read, the settings echoed, the structures and the grid read, the output named,
// the records written beside the data file (or where --out says), and the PyMOL script.
#include "dx/voxmol.h"
#include "common/text_out.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "common/fatal.h"
#include "dx/formats/read.h"
#include "dx/uhbdio.h"
#include "dx/write/cif_writer.h"
#include "dx/write/output_file.h"
#include "dx/write/pdb_writer.h"
#include "dx/write/pml_script.h"
#include "dx/write/standard_output.h"
#include "dx/write/streamed_output.h"
#include "dx/write/write_pipe.h"
#include "pdb8x/structure_atoms.h"

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
    // The records alone go to standard output: every line the run prints, from the first warning to the
    // error block printed after the run has unwound, goes to standard error.
    if (output_to_standard_output(argc, argv)) stdoutput::divert_for_good();
    if (argc < 2 || argc > 16) error_usage();
    return run_conversion(parse_command_line(argc, argv));
}

namespace {

// The atoms a distance option measures from, sorted into cells for that distance.
std::unique_ptr<AtomCells> atoms_within(const StructureDistance& d,
                                        const std::optional<std::string>& residues, int LEVEL) {
    if (LEVEL > 1)
        std::fprintf(text_out(), "I am reading the structure file:  %s  ...........\n", d.file.c_str());
    const StructureAtoms atoms = structure_atoms(d.file, residues, LEVEL);
    if (LEVEL > 1) {
        if (atoms.model > 0) std::fprintf(text_out(), "Model read: %d\n", atoms.model);
        if (residues)
            std::fprintf(text_out(), "Atoms of the residues %s: %zu in %d residues\n", residues->c_str(),
                         atoms.positions.size(), atoms.residues);
    }
    return std::make_unique<AtomCells>(atoms.positions, d.distance);
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A name as a script run from anywhere can load it: the absolute path when the file is there.
std::string absolute(const std::string& name) {
    char resolved[PATH_MAX];
    return ::realpath(name.c_str(), resolved) != nullptr ? std::string(resolved) : name;
}

// Opens the output: the named file, or the standard output the run kept aside.
bool open_output(outfile::OutputFile& file, const std::string& outname, int stdout_fd) {
    return outname == "-" ? file.open_descriptor(stdout_fd) : file.open(outname);
}

// What the PyMOL script shows: the output and the structures by their absolute names, the colour scale
// of the window and the values written, spheres of 0.3 of the grid's shortest step.
PmlScene scene_of(const Settings& s, const std::string& outname, const RecordFilter& filter,
                  const RecordCounts& counts) {
    PmlScene scene;
    scene.points = absolute(outname);
    if (s.near) scene.structures.push_back(absolute(s.near->file));
    if (s.outside && (!s.near || !same_file(s.near->file, s.outside->file)))
        scene.structures.push_back(absolute(s.outside->file));
    double bound = std::fmax(std::fabs(filter.min), std::fabs(filter.max));
    if (filter.sigma)
        bound = std::fmax(std::fabs(filter.sigma->mean + filter.min * filter.sigma->sd),
                          std::fabs(filter.sigma->mean + filter.max * filter.sigma->sd));
    scene.scale = colour_scale(bound, counts.written, counts.squares);
    double step = 0.0;
    for (const auto& a : grid_axes(grd)) {
        const double length = std::hypot(a[0], a[1], a[2]);
        if (length > 0.0 && (step == 0.0 || length < step)) step = length;
    }
    if (step > 0.0) scene.sphere_radius = 0.3 * step;
    return scene;
}

// The values read, the output named and checked, the records written: the run after the echo of its
// settings. Returns the exit status. `stage` says what the run is doing, for a message should memory
// run out. `stdout_fd` is where the output "-" goes.
int convert(Settings& s, const char*& stage, int stdout_fd) {
    const int LEVEL = s.LEVEL;
    const std::optional<ValueOrder> order = order_named(s.DATAORD);
    if (!order) run_failed("Unknown data ordering: use XYZ or ZYX");

    // The structures first: a file that cannot be read ends the run before a large grid is read.
    std::unique_ptr<AtomCells> near, outside;
    if (s.near) near = atoms_within(*s.near, s.residues, LEVEL);
    if (s.outside) outside = atoms_within(*s.outside, std::nullopt, LEVEL);
    // An output named like a structure file (--out=protein.pdb) would destroy the user's structure.
    const std::string outname = output_name(s);
    for (const auto* d : {&s.near, &s.outside}) {
        if (!*d || outname == "-") continue;
        if (same_file((*d)->file, outname) || (s.pml && same_file((*d)->file, outname + ".pml")))
            run_failed("The output file would overwrite the structure file " + (*d)->file);
    }

    if (LEVEL > 1)
        std::fprintf(text_out(), "I am reading the data file header:  %s  ...........\n", s.dataname.c_str());
    // A window needs only its own points: a binary grid file is read into a selection of them, not into
    // memory for every value, while they are few (one point in 16 of a large grid); past that the file is
    // read again, whole. A window in standard deviations needs every value.
    PointSelection selection;
    selection.min = s.thres_min;
    selection.max = s.thres_max;
    gridfmt::GridReading reading(s.dataname, s.order_given ? order : std::nullopt, LEVEL,
                                 s.sigma ? nullptr : &selection);
    GridFile& input = reading.file();
    const bool selecting = !input.native && !s.sigma && reading.selects();
    if (!selecting) reading.allocate();
    grd = input.grid;
    s.dimX = grd.nx;
    s.dimY = grd.ny;
    s.dimZ = grd.nz;

    const bool plain = !s.extended();
    const bool overwrites_input = outname != "-" && same_file(s.dataname, outname);
    const std::string pml_name = outname + ".pml";
    const bool pml_overwrites_input = s.pml && same_file(s.dataname, pml_name);

    RecordFilter filter;
    filter.min = s.thres_min;
    filter.max = s.thres_max;
    filter.box = s.box;
    filter.near = near.get();
    filter.outside = outside.get();
    RecordStyle style;
    style.format = writes_mmcif(s) ? RecordFormat::mmcif : RecordFormat::pdb;
    style.element = upper(s.element);
    style.block = ciffmt::block_name(outname == "-" ? s.dataname : outname);
    RecordCounts counts;
    const bool threaded = writepipe::second_thread_pays();

    // Values that arrive in walk order can have their records written while the rest of the file is
    // read, on the other core. Every other case writes once the values are read, and so does a window in
    // standard deviations, which needs every value first.
    ValueProgress progress;
    std::unique_ptr<StreamedOutput> streamed;
    if (input.native && input.order == ValueOrder::z_fastest && !overwrites_input && !pml_overwrites_input &&
        !s.sigma && threaded) {
        if (plain) {
            streamed = StreamedOutput::start(outname, grd, s.thres_min, s.thres_max, s.resol, progress);
        } else {
            const Tuhbdgrd grid = grd;
            streamed = StreamedOutput::start(
                [&](outfile::OutputFile& f) { return open_output(f, outname, stdout_fd); }, progress,
                [&counts, grid, filter, style, resol = s.resol](std::FILE* file,
                                                                const ValueProgress& values) {
                    counts =
                        write_records(file, grid, ValueOrder::z_fastest, filter, resol, style, true, &values);
                });
        }
    }
    bool selected = false;
    if (selecting) {
        selected = reading.read_selection(selection);
        if (!selected) {
            reading.allocate();
            grd = input.grid;
        }
    }
    if (!selected) reading.read_values(streamed ? &progress : nullptr);

    const std::span<const double> first_line =
        selected ? std::span<const double>(selection.first_line) : grd.data;
    for (int e = 0; e < s.dimZ && static_cast<std::size_t>(e) < first_line.size(); ++e) {
        std::fprintf(text_out(), "[%d]= %f\n", e, first_line[e]);
    }
    if (LEVEL > 1) std::fprintf(text_out(), "Name of output file is: %s\n", outname.c_str());
    if (overwrites_input) run_failed("The output file would overwrite the input data file");
    if (pml_overwrites_input) run_failed("The PyMOL script would overwrite the input data file");

    if (s.sigma) {
        const GridStatistics stats = grid_statistics(grd.data);
        if (LEVEL > 1)
            std::fprintf(text_out(), "Mean of the grid= %g  Standard deviation= %g  (%zu values)\n",
                         stats.mean, stats.sd, stats.count);
        if (stats.sd > 0.0) {
            filter.sigma = stats;
        } else {
            // Every value the same (or none a number): no value lies any number of deviations from the
            // mean, and the window is left empty rather than divided by zero.
            put_line(
                "WARNING: the grid's values do not vary: no point lies in a window of standard deviations");
            filter.min = 1.0;
            filter.max = 0.0;
        }
    }

    outfile::OutputFile pml;
    if (s.pml && !pml.open(pml_name)) run_failed("I cannot open the PyMOL script " + pml_name);

    stage = "to write the output file";
    if (streamed) {
        print_writing_started();
        std::fflush(text_out());
        if (!streamed->finish()) run_failed("I cannot write the output data file");
        print_writing_done();
    } else {
        outfile::OutputFile out;
        if (!open_output(out, outname, stdout_fd)) run_failed("I cannot open the output data file");
        print_writing_started();
        if (plain && selected) {
            write_pdb_records(out.stream(), grd, selection, s.thres_min, s.thres_max, s.resol, threaded);
        } else if (plain) {
            write_pdb_records(out.stream(), grd, s.thres_min, s.thres_max, s.resol, input.order, threaded,
                              nullptr);
        } else if (selected) {
            counts = write_records(out.stream(), grd, selection, filter, s.resol, style, threaded);
        } else {
            counts = write_records(out.stream(), grd, input.order, filter, s.resol, style, threaded, nullptr);
        }
        if (!out.commit()) run_failed("I cannot write the output data file");
        print_writing_done();
    }
    if (plain) return 0;
    if (LEVEL > 1) print_points_written(counts, cell_volume(grd));

    if (s.pml) {
        const std::string script = pml_script(scene_of(s, outname, filter, counts));
        std::fwrite(script.data(), 1, script.size(), pml.stream());
        if (!pml.commit()) run_failed("I cannot write the PyMOL script " + pml_name);
        if (LEVEL > 1) std::fprintf(text_out(), "PyMOL script: %s\n", pml_name.c_str());
    }
    return 0;
}

}  // namespace

int run_conversion(Settings s) {
    grd = Tuhbdgrd{};
    // The output on standard output: what the run prints goes to standard error while it lasts.
    std::optional<stdoutput::Diversion> diversion;
    if (s.out == "-") diversion.emplace();
    const int stdout_fd = diversion ? diversion->output_descriptor() : -1;
    check_settings(s);
    // A step below 1 would never be reached by the thinning counter and write no record at all.
    const bool resol_corrected = s.resol <= 0;
    if (resol_corrected) s.resol = 1;
    if (s.LEVEL > 1) {
        echo_settings(s, resol_corrected);
        if (s.extended()) echo_extension_settings(s);
    }
    // Memory that runs out anywhere (a line of gigabytes, the writer's buffers) ends the run with its
    // error block, never with an abort; the grid's own allocation has its message already.
    const char* stage = "to read the data file";
    try {
        const int status = convert(s, stage, stdout_fd);
        grd = Tuhbdgrd{};
        return status;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    grd = Tuhbdgrd{};
    run_failed(std::string("There is not enough memory ") + stage);
}
