// The command line: options, usage, help and the echo of the settings.
#include "dx/cli.h"
#include "common/text_out.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "common/fatal.h"
#include "dx/formats/format.h"
#include "dx/io/cconv.h"
#include "dx/io/input.h"
#include "dx/uhbdio.h"
#include "string_tool2.h"

namespace {

// A number as the messages show it: "%g".
std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

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
        "Points to keep, the output and its form (each one argument, never scanned for the options above):\n"
        "  --near=FILE:R      only points within R A of an atom of FILE (ATOM and HETATM, first model)\n"
        "  --residues=EXPR    --near measures from these residues only (A10-A20, B, A125; !EXPR: the "
        "others)\n"
        "  --outside=FILE:D   drop points within D A of an atom of FILE; with --near, a shell\n"
        "  --sigma            the window of -t is in standard deviations from the grid's mean\n"
        "  --box=x0,y0,z0,x1,y1,z1   only points inside the box (A)\n"
        "  --out=PATH         write the output to PATH; --out=- writes it to standard output\n"
        "                     (and every message to standard error)\n"
        "  --cif              write PDBx/mmCIF (also for an --out ending in .cif or .mmcif)\n"
        "  --element=SYM      the element symbol (one or two letters) of every record, columns 77-78\n"
        "  --pml              also write <output>.pml, a PyMOL script that shows the points\n"
        "With any of them, the thinning of -r counts the points kept, and -l 2 adds a count of the points\n"
        "written and their volume.\n"
        "\n"
        "Grid formats, recognised by content in this order:\n",
        text_out());
    for (const gridfmt::Format* f : gridfmt::formats()) {
        const std::string name(f->name), summary(f->summary);
        std::fprintf(text_out(), "  %-15s %s\n", name.c_str(), summary.c_str());
    }
    std::string compressed;
    for (const io::Compression& c : io::compressions())
        compressed += std::string(compressed.empty() ? "" : ", ") + std::string(c.name);
    std::fprintf(text_out(), "Each of them also compressed (%s), recognised by its first bytes.\n",
                 compressed.c_str());
    std::fputs(
        "The output, a PDB file of pseudo-atoms with the values in the B column, is written beside the\n"
        "data file, its extension replaced by pdb (cif for mmCIF), unless --out names it.\n"
        "\n"
        "  voxmol --help      this text\n"
        "  voxmol --version   the version\n",
        text_out());
}

void print_version() {
    std::fprintf(text_out(), "voxmol %s\n", VOXMOL_VERSION);
}

namespace {

[[noreturn]] void bad_argument(std::string_view argument, std::string_view problem) {
    run_failed(std::string(argument) + ": " + std::string(problem));
}

// A number that is the whole text (blanks around it allowed), finite; fatal otherwise.
double finite_number(std::string_view text, std::string_view argument) {
    const std::string copy(text);
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    while (end != nullptr && (*end == ' ' || *end == '\t'))
        ++end;
    if (end == begin || *end != '\0') bad_argument(argument, "\"" + copy + "\" is not a number");
    if (!std::isfinite(value)) bad_argument(argument, "\"" + copy + "\" is not a finite number");
    return value;
}

// FILE:D, the distance after the last ":" (a file name may hold ":" itself).
StructureDistance structure_distance(std::string_view value, std::string_view argument) {
    const std::size_t colon = value.rfind(':');
    if (colon == std::string_view::npos) bad_argument(argument, "no distance after the file (FILE:R)");
    if (colon == 0) bad_argument(argument, "no structure file before the distance (FILE:R)");
    StructureDistance d;
    d.file = std::string(value.substr(0, colon));
    d.distance = finite_number(value.substr(colon + 1), argument);
    return d;
}

PositionBox position_box(std::string_view value, std::string_view argument) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t comma = value.find(',', at);
        parts.push_back(
            value.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
        if (comma == std::string_view::npos) break;
        at = comma + 1;
    }
    if (parts.size() != 6)
        bad_argument(argument,
                     "six numbers are needed, x0,y0,z0,x1,y1,z1, not " + std::to_string(parts.size()));
    PositionBox box;
    for (int d = 0; d < 3; ++d) {
        box.lo[d] = finite_number(parts[static_cast<std::size_t>(d)], argument);
        box.hi[d] = finite_number(parts[static_cast<std::size_t>(d) + 3], argument);
    }
    return box;
}

constexpr std::string_view kValued[] = {"near", "residues", "outside", "box", "out", "element"};
constexpr std::string_view kSwitches[] = {"sigma", "cif", "pml"};

bool listed(std::string_view name, std::span<const std::string_view> names) {
    for (std::string_view n : names)
        if (n == name) return true;
    return false;
}

// Sets what an extension argument says and returns true; false for an argument that is scanned as
// before (after the warning for an unknown "--name=...").
bool read_extension(std::string_view argument, Settings& s) {
    if (!argument.starts_with("--")) return false;
    const std::string_view body = argument.substr(2);
    const std::size_t equals = body.find('=');
    const std::string_view name = body.substr(0, equals);
    const bool has_value = equals != std::string_view::npos;
    const std::string_view value = has_value ? body.substr(equals + 1) : std::string_view();
    if (listed(name, kSwitches)) {
        if (has_value) bad_argument(argument, "--" + std::string(name) + " takes no value");
        if (name == "sigma") s.sigma = true;
        if (name == "cif") s.cif = true;
        if (name == "pml") s.pml = true;
        return true;
    }
    if (listed(name, kValued)) {
        if (!has_value) bad_argument(argument, "a value is needed: --" + std::string(name) + "=...");
        if (name == "near") s.near = structure_distance(value, argument);
        if (name == "outside") s.outside = structure_distance(value, argument);
        if (name == "residues") s.residues = std::string(value);
        if (name == "box") s.box = position_box(value, argument);
        if (name == "element") s.element = std::string(value);
        if (name == "out") {
            if (value.empty()) bad_argument(argument, "no output file named");
            s.out = std::string(value);
        }
        return true;
    }
    if (has_value)
        std::fprintf(text_out(), "WARNING: unknown option --%s ignored\n", std::string(name).c_str());
    return false;
}

}  // namespace

Settings parse_command_line(int argc, const char* const* argv) {
    Settings s;
    s.dataname = argv[1];
    for (int i = 2; i < argc; ++i) {
        const char* entry = argv[i];
        if (read_extension(entry, s)) continue;
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

bool output_to_standard_output(int argc, const char* const* argv) {
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--out=-") == 0) return true;
    return false;
}

namespace {

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

void check_distance(const std::optional<StructureDistance>& d, const char* option) {
    if (!d) return;
    const std::string argument = std::string("--") + option;
    if (d->file.empty()) bad_argument(argument, "no structure file named");
    if (!std::isfinite(d->distance)) bad_argument(argument, "the distance is not a finite number");
    if (d->distance < 0.0)
        bad_argument(argument, "the distance " + number_text(d->distance) + " is negative");
}

bool letters(std::string_view text) {
    for (char c : text)
        if (!std::isalpha(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

void check_settings(const Settings& s) {
    check_distance(s.near, "near");
    check_distance(s.outside, "outside");
    if (s.residues && !s.near)
        run_failed("--residues=" + *s.residues + " needs --near: it names the atoms --near measures from");
    if (s.box) {
        static constexpr const char* kAxis[] = {"x", "y", "z"};
        for (int d = 0; d < 3; ++d) {
            if (!std::isfinite(s.box->lo[d]) || !std::isfinite(s.box->hi[d]))
                run_failed("--box: the box's bounds must be finite numbers");
            if (s.box->lo[d] > s.box->hi[d])
                run_failed(std::string("--box: ") + kAxis[d] + "0 " + number_text(s.box->lo[d]) +
                           " lies above " + kAxis[d] + "1 " + number_text(s.box->hi[d]));
        }
    }
    if (!s.element.empty() && (s.element.size() > 2 || !letters(s.element)))
        run_failed("--element=" + s.element + ": an element symbol is one or two letters");
    if (s.out == "-" && s.pml)
        run_failed("--pml writes its script beside the output file: --out=- names none");
    if (!s.out.empty() && s.out != "-") {
        const std::string folder = folder_of(s.out);
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            run_failed("--out=" + s.out + ": the folder " + folder + " does not exist");
    }
}

bool writes_mmcif(const Settings& s) {
    if (s.cif) return true;
    std::string lower;
    for (char c : s.out)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.ends_with(".cif") || lower.ends_with(".mmcif");
}

void echo_extension_settings(const Settings& s) {
    if (s.near && s.residues)
        std::fprintf(text_out(), "Points within %s A of the residues %s of %s\n",
                     number_text(s.near->distance).c_str(), s.residues->c_str(), s.near->file.c_str());
    else if (s.near)
        std::fprintf(text_out(), "Points within %s A of the atoms of %s\n",
                     number_text(s.near->distance).c_str(), s.near->file.c_str());
    if (s.outside)
        std::fprintf(text_out(), "Points beyond %s A of the atoms of %s\n",
                     number_text(s.outside->distance).c_str(), s.outside->file.c_str());
    if (s.box)
        std::fprintf(text_out(), "Points in the box x %s to %s, y %s to %s, z %s to %s\n",
                     number_text(s.box->lo[0]).c_str(), number_text(s.box->hi[0]).c_str(),
                     number_text(s.box->lo[1]).c_str(), number_text(s.box->hi[1]).c_str(),
                     number_text(s.box->lo[2]).c_str(), number_text(s.box->hi[2]).c_str());
    if (s.sigma) put_line("Threshold in standard deviations from the mean of the grid");
    if (writes_mmcif(s)) put_line("Output format: PDBx/mmCIF");
    if (!s.element.empty()) std::fprintf(text_out(), "Element of the points: %s\n", s.element.c_str());
    if (s.pml) put_line("A PyMOL script is written beside the output");
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

std::string output_name(const Settings& s) {
    if (!s.out.empty()) return s.out;
    std::string name = output_name(s.dataname);
    if (writes_mmcif(s)) name.replace(name.size() - 3, 3, "cif");
    return name;
}
