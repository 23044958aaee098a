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

// The script. It loads the points with PyMOL's distance bonding off (connect_mode 1: only bonds the file
// lists), shows them as spheres of `sphere_radius` coloured with the red_white_blue spectrum of their B
// (the value) from -scale to scale, and loads each structure as a cartoon (with sticks for what is not a
// polymer). File names are quoted; one PyMOL's quoting cannot hold is loaded through a Python string.
std::string pml_script(const PmlScene& scene);

#endif  // VOXMOL_DX_WRITE_PML_SCRIPT_H
