#include "dx/write/pml_script.h"

#include <cmath>
#include <cstdio>

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// The command that loads `file` as object `name`.
std::string load_command(const std::string& file, const std::string& name) {
    bool plain = true;
    for (unsigned char c : file)
        plain = plain && c >= 0x20 && c != '"' && c != '\\' && c != 0x7f;
    if (plain) return "load \"" + file + "\", " + name + "\n";
    // PyMOL's quoting has no escapes: such a name goes through a Python string, every byte escaped.
    std::string literal;
    for (unsigned char c : file) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        literal += hex;
    }
    return "python\ncmd.load(b\"" + literal + "\".decode(\"utf-8\", \"surrogateescape\"), \"" + name +
           "\")\npython end\n";
}

}  // namespace

double colour_scale(double window_bound, long written, double squares) {
    if (written <= 0) return 1.0;
    const double rms = std::sqrt(squares / static_cast<double>(written));
    const double scale = std::fmin(std::fabs(window_bound), 2.0 * rms);
    return std::isfinite(scale) && scale > 0.0 ? scale : 1.0;
}

std::string pml_script(const PmlScene& scene) {
    const double scale = scene.scale > 0.0 ? scene.scale : 1.0;
    std::string s = "# PyMOL script written by voxmol: the points of\n#   " + scene.points +
                    "\n# each a small sphere coloured by its value (red -" + number(scale) +
                    ", white 0, blue " + number(scale) +
                    "),\n# with the structure as a cartoon. Run: pymol <this file>\n"
                    "# The points are pseudo-atoms: load them without bonds by distance.\n"
                    "set connect_mode, 1\n" +
                    load_command(scene.points, "points") +
                    "set connect_mode, 0\n"
                    "hide everything, points\n"
                    "alter points, vdw=" +
                    number(scene.sphere_radius) +
                    "\n"
                    "rebuild points\n"
                    "show spheres, points\n"
                    "set sphere_scale, 1.0, points\n"
                    "spectrum b, red_white_blue, points, minimum=" +
                    number(-scale) + ", maximum=" + number(scale) + "\n";
    int n = 0;
    for (const std::string& file : scene.structures) {
        const std::string name = n++ == 0 ? "structure" : "structure" + std::to_string(n);
        s += load_command(file, name);
        s += "hide everything, " + name + "\n";
        s += "show cartoon, " + name + "\n";
        s += "show sticks, " + name + " and not polymer and not solvent\n";
    }
    s += scene.structures.empty() ? "orient points\n" : "orient structure\n";
    return s;
}
