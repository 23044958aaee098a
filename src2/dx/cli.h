// The command line: the run's settings and their scan from the arguments, the usage, help and version
// texts, the echo of the settings, and the name of the output file.
#ifndef VOXMOL_DX_CLI_H
#define VOXMOL_DX_CLI_H

#include <optional>
#include <string>
#include <string_view>

#include "dx/grid.h"
#include "dx/write/record_filter.h"

// A structure file and a distance from its atoms, in Ångström: --near=FILE:R, --outside=FILE:D.
struct StructureDistance {
    std::string file;
    double distance = 0.0;
};

// The run settings, with their defaults. Every field can be filled by a caller without a command line
// (the Python module); run_conversion checks what a command line cannot get wrong by its syntax alone
// (a negative distance, a box turned inside out, an element of three letters, an output folder that does
// not exist, --residues without --near).
struct Settings {
    std::string dataname;
    int LEVEL = 2;
    int dimX = 128, dimY = 128, dimZ = 128;     // only echoed; the header gives the real dimensions
    double corX = 0.0, corY = 0.0, corZ = 0.0;  // accepted, unused
    double sp = 1.0;                            // accepted, unused
    std::string DATAORD = "XYZ";                // as -o gave it, upper-cased; echoed
    bool order_given = false;                   // -o was given (only voxmol's own grid format takes it)
    double thres_min = -1.0, thres_max = 1.0;
    int resol = 1;

    // The extension options (--name=value, --name). None given: the run is the plain one, byte for byte.
    std::optional<StructureDistance> near;     // keep points within `distance` of an atom (inclusive)
    std::optional<std::string> residues;       // --near measures from these residues; "!EXPR": the others
    std::optional<StructureDistance> outside;  // drop points within `distance` of an atom (inclusive)
    bool sigma = false;                        // the window is in standard deviations from the mean
    std::optional<PositionBox> box;            // keep points inside the box
    std::string out;                           // the output: empty beside the data file, "-" standard output
    bool cif = false;                          // write PDBx/mmCIF (so does an `out` ending in .cif or .mmcif)
    std::string element;                       // one or two letters: the element of every record
    bool pml = false;                          // also write <output>.pml, a PyMOL script showing the points

    // Any extension option was given.
    bool extended() const {
        return near || residues || outside || sigma || box || !out.empty() || cif || !element.empty() || pml;
    }
};

// The settings of a command line (argv[0] is the program's name, argv[1] the data file). Options are
// found by substring search in every later argument, each reading its values from the arguments that
// follow; the last occurrence wins. An option whose values run past the end is a usage error (fatal).
//
// Extension arguments are the exceptions: "--NAME=VALUE" for near, residues, outside, box, out and
// element, "--NAME" alone for sigma, cif and pml. They are never scanned for the one-letter options (an
// argument that follows an option as its value is still taken as that value). "--NAME" of a valued option
// without "=", or a switch given "=...", is fatal; a value that does not read (a distance or a box
// coordinate that is not a finite number, a box of other than six numbers, a FILE:R without ":") is fatal.
// An argument that starts with "--", holds "=" and names no extension option prints
// "WARNING: unknown option --NAME ignored" and is scanned as before.
Settings parse_command_line(int argc, const char* const* argv);

// True when the command line asks for the output on standard output ("--out=-" as an argument after the
// data file): the caller then sends everything it prints to standard error from the start.
bool output_to_standard_output(int argc, const char* const* argv);

// Fatal (the error block, naming the problem) for settings no run can carry out: a negative or not finite
// distance, --residues without --near, a box with a minimum above its maximum, an element that is not one
// or two letters, an output folder that does not exist, --pml with the output on standard output.
void check_settings(const Settings& s);

// The extension options echoed after the settings (LEVEL > 1), one line each; nothing for a plain run.
void echo_extension_settings(const Settings& s);

// The run writes PDBx/mmCIF: --cif, or an --out that ends in ".cif" or ".mmcif" (any case).
bool writes_mmcif(const Settings& s);

// The value order -o names ("XYZ" or "ZYX", by its first three characters), or nothing for any other.
std::optional<ValueOrder> order_named(std::string_view DATAORD);

// The banner and the echo of the settings (LEVEL > 1), with the line that says a thinning step below 1
// was corrected.
void echo_settings(const Settings& s, bool resol_corrected);

// `voxmol --help`: the usage text, then the options and the grid formats. `voxmol --version`: one line,
// "voxmol <version>".
void print_help();
void print_version();

// The output's name, beside the data file: when the base name (the text after the last "/") holds a dot
// that is not its first character, the text after its last dot is replaced by "pdb" (runs/grid.dat gives
// runs/grid.pdb, grid. gives grid.pdb); otherwise ".pdb" is appended (run.d/grid gives run.d/grid.pdb,
// .hidden gives .hidden.pdb).
std::string output_name(const std::string& dataname);

// The output of a run: `out` when given ("-" for standard output), else beside the data file as
// output_name names it, with the extension "cif" instead of "pdb" for mmCIF.
std::string output_name(const Settings& s);

#endif  // VOXMOL_DX_CLI_H
