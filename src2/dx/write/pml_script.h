// A PyMOL script that shows the written points: each a small sphere coloured by its value, with no bond
// between them, beside the cartoon of the structure they were selected around.
#ifndef VOXMOL_DX_WRITE_PML_SCRIPT_H
#define VOXMOL_DX_WRITE_PML_SCRIPT_H

#include <string>
#include <vector>

struct PmlScene {
    std::string points;                   // the written output, as the script loads it
    std::vector<std::string> structures;  // structures to show as cartoons, as the script loads them
    double scale = 1.0;                   // values run from red at -scale through white at 0 to blue at scale
    double sphere_radius = 0.2;           // Ångström
};

// The colour scale of a run's points: the window's largest bound in the grid's units (`window_bound`),
// narrowed to twice the root mean square of the values written, so that a window left wide open
// (-t -1000 1000) or a few large values near charged atoms do not wash every other point out to white.
// 1 when nothing was written.
double colour_scale(double window_bound, long written, double squares);

// The script. It loads the points with PyMOL's distance bonding off (connect_mode 1: only bonds the file
// lists), shows them as spheres of `sphere_radius` coloured with the red_white_blue spectrum of their B
// (the value) from -scale to scale, and loads each structure as a cartoon (with sticks for what is not a
// polymer). File names are quoted; one PyMOL's quoting cannot hold is loaded through a Python string.
std::string pml_script(const PmlScene& scene);

#endif  // VOXMOL_DX_WRITE_PML_SCRIPT_H
