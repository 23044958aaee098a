// The command line: the run's settings and their scan from the arguments, the usage, help and version
// texts, the echo of the settings, and the name of the output file.
#ifndef VOXMOL_DX_CLI_H
#define VOXMOL_DX_CLI_H

#include <optional>
#include <string>
#include <string_view>

#include "dx/grid.h"

// The run settings, with their defaults.
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
};

// The settings of a command line (argv[0] is the program's name, argv[1] the data file). Options are
// found by substring search in every later argument, each reading its values from the arguments that
// follow; the last occurrence wins. An option whose values run past the end is a usage error (fatal).
Settings parse_command_line(int argc, const char* const* argv);

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

#endif  // VOXMOL_DX_CLI_H
