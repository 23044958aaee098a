#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/text_out.h"
#include "math_tool2.h"
#include "pdb8.h"

namespace {

// Residue and atom counts travel beside the caller's spans; a count beyond its span would read past the
// caller's array, so it is refused rather than trusted.
void check_residue_count(int count, std::size_t size, const char* where) {
    if (count > 0 && static_cast<std::size_t>(count) > size) {
        err(where, "residue count " + std::to_string(count) + " exceeds the " + std::to_string(size) +
                       " residues held");
    }
}

void check_atom_count(const PDBRESI& res, int index, const char* where) {
    if (res.rnbofa > 0 && static_cast<std::size_t>(res.rnbofa) > res.a.size()) {
        err(where, "residue " + std::to_string(index) + " counts " + std::to_string(res.rnbofa) +
                       " atoms but holds " + std::to_string(res.a.size()));
    }
}

// Length of a fixed text field up to its terminator, never beyond the field.
template <std::size_t N>
int field_length(const char (&field)[N]) {
    return static_cast<int>(strnlen(field, N));
}

// The atoms gathered for one summary: parallel coordinate arrays and name slots, entry k for atom k.
struct Gathered {
    std::vector<float> x, y, z;
    std::vector<ANAME_SLOT> names;
};

Gathered gather_atoms(const PDBMOL& brook, char CHAIN) {
    Gathered g;
    check_residue_count(brook.nbofr, brook.r.size(), "SUB:GET_PDB_RAD_GYR");
    for (int i = 0; i < brook.nbofr; ++i) {
        const PDBRESI& res = brook.r[i];
        if (CHAIN != ' ' && CHAIN != res.rchain) continue;
        check_atom_count(res, i, "SUB:GET_PDB_RAD_GYR");
        for (int j = 0; j < res.rnbofa; ++j) {
            const PDBATOM& atom = res.a[j];
            g.x.push_back(atom.x);
            g.y.push_back(atom.y);
            g.z.push_back(atom.z);
            // A slot holds 4 characters and the terminator; a longer name (never stored by the reader) is
            // cut. The slots only matter under mass weighting, which the summary does not use.
            ANAME_SLOT slot{};
            const int len = field_length(atom.aname);
            std::memcpy(slot.data(), atom.aname, static_cast<std::size_t>(len < 4 ? len : 4));
            g.names.push_back(slot);
        }
    }
    return g;
}

}  // namespace

double get_pdb_rad_gyr(PDBMOL brook, int max, char CHAIN, int LEVEL) {
    if (LEVEL > 2) std::fprintf(text_out(), "Entering into get_pdb_rad_gyr\n");
    // The work arrays grow with the structure, so any number of atoms can be summarised.
    const Gathered g = gather_atoms(brook, CHAIN);
    const int count = static_cast<int>(g.x.size());
    if (count == 0) {
        if (LEVEL > 0) std::fprintf(text_out(), "WARNING: No atom found for computing rad_gyr\n");
        return 0.0;
    }

    float minX, maxX, minY, maxY, minZ, maxZ;
    get_pdb_xyz_min_max(count, g.x, g.y, g.z, &minX, &maxX, &minY, &maxY, &minZ, &maxZ, LEVEL);
    if (LEVEL > 1) {
        const float extX = maxX - minX;
        const float extY = maxY - minY;
        const float extZ = maxZ - minZ;
        std::fprintf(text_out(), "MinX= %8.3f  MaxX= %8.3f  ExtX= %8.3f\n", minX, maxX, extX);
        std::fprintf(text_out(), "MinY= %8.3f  MaxY= %8.3f  ExtY= %8.3f\n", minY, maxY, extY);
        std::fprintf(text_out(), "MinZ= %8.3f  MaxZ= %8.3f  ExtZ= %8.3f\n", minZ, maxZ, extZ);
    }

    const COORD CoM = get_com(count, g.x, g.y, g.z, g.names, 0, LEVEL);
    if (LEVEL > 1) std::fprintf(text_out(), "CoM is: %8.3f %8.3f %8.3f\n", CoM.x, CoM.y, CoM.z);

    const double GYR = radius_gyr(count, g.x, g.y, g.z, CoM.x, CoM.y, CoM.z, LEVEL);
    if (LEVEL > 1) std::fprintf(text_out(), "Gyration radius is: %7.3f\n", GYR);

    // The nearest atom is looked for among the first `max` residues of every chain, even when one chain
    // was summarised: it may belong to another chain. It is only reported.
    const double DIST = get_pdb_closest_atom(brook, max, CoM, LEVEL);
    if (LEVEL > 1) std::fprintf(text_out(), "Closest atom distance to CoM is: %7.3f\n", DIST);
    return GYR;
}

double get_pdb_closest_atom(PDBMOL brook, int max, COORD target, int LEVEL) {
    if (LEVEL > 2) std::fprintf(text_out(), "Entering get_pdb_closest_atom\n");
    check_residue_count(max, brook.r.size(), "SUB:GET_PDB_CLOSEST_ATOM");
    double min_dist = 9999.9;
    int select_res = 0;
    int select_atm = 0;
    bool examined = false;
    for (int i = 0; i < max; ++i) {
        const PDBRESI& res = brook.r[i];
        check_atom_count(res, i, "SUB:GET_PDB_CLOSEST_ATOM");
        for (int j = 0; j < res.rnbofa; ++j) {
            const PDBATOM& atom = res.a[j];
            const COORD point{atom.x, atom.y, atom.z};
            const double d = distance(point, target);
            examined = true;
            // Strictly closer only: ties keep the atom met first.
            if (min_dist > d) {
                min_dist = d;
                select_res = i;
                select_atm = j;
            }
        }
    }
    if (LEVEL > 2) {
        // When atoms were examined the line names the kept selection, which stays the first atom of the
        // first residue when none lies closer than 9999.9 (all far away, or a target that is not finite).
        // Only a structure without any atom leaves it naming none: empty names and residue number 0.
        const PDBRESI* res = examined ? &brook.r[select_res] : nullptr;
        // The kept residue may itself hold no atom (the examined ones came later); its atom is then unnamed.
        const PDBATOM* atom =
            examined && static_cast<std::size_t>(select_atm) < res->a.size() ? &res->a[select_atm] : nullptr;
        std::fprintf(text_out(), "Closest atom to : %6.2f %6.2f %6.2f is: %.*s %d %.*s  dist: %6.2f\n",
                     target.x, target.y, target.z, res ? field_length(res->rname) : 0, res ? res->rname : "",
                     res ? res->rnb : 0, atom ? field_length(atom->aname) : 0, atom ? atom->aname : "",
                     min_dist);
    }
    return min_dist;
}
