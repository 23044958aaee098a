// Uses the installed library: a structure from PDB text, its radius of gyration, and a vector distance.
#include <voxmol/math_tool2.h>
#include <voxmol/pdb8.h>

#include <cstdio>

int main() {
    PDBLINES lines;
    pdb_lines_from_text(
        "ATOM      1  CA  GLY A   1       0.000   0.000   0.000  1.00  0.00\n"
        "ATOM      2  CA  GLY A   2       3.000   4.000   0.000  1.00  0.00\n",
        lines);
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(lines.line, lines.max, 99, 'w', store);
    load_pdb(lines.line, std::span<PDBMOL>(&mol, 1), 0, 0, lines.max, 99, 'w', 0);
    const double gyr = get_pdb_rad_gyr(mol, mol.nbofr, ' ', 0);
    std::printf("residues %d, radius of gyration %.3f, distance %.3f\n", mol.nbofr, gyr,
                distance(COORD{0, 0, 0}, COORD{3, 4, 0}));
    return gyr > 2.49 && gyr < 2.51 ? 0 : 1;
}
