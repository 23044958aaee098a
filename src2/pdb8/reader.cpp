// The reader: ATOM/HETATM records of a line set loaded into the model by fixed columns, and the exact
// sizes such a load needs.
#include <string>

#include "common/text_out.h"
#include "pdb8.h"
#include "pdb8/display.h"
#include "pdb8/records.h"

namespace {

constexpr const char* kWhere = "SUB:LOAD_PDB";

}  // namespace

int load_pdb(std::span<const PDBLINE> str_in, std::span<PDBMOL> array, int mol, int start, int max, int model,
             char typ, int LEVEL) {
    // Guarded: every array index below is checked against the caller's spans before it is written.
    if (mol < 0 || static_cast<std::size_t>(mol) >= array.size())
        err(kWhere, "Structure " + std::to_string(mol) + " is outside the array of " +
                        std::to_string(array.size()) + " structures");
    PDBMOL& target = array[static_cast<std::size_t>(mol)];
    const std::span<PDBRESI> r = target.r;
    if (start < 0 || static_cast<std::size_t>(start) >= r.size())
        err(kWhere, "Residue slot " + std::to_string(start) + " is outside the residue array of " +
                        std::to_string(r.size()));

    int current = start;  // residue being filled
    int k = 0;            // its next atom
    bool first = true;    // no record accepted yet
    const int accepted = pdbscan::walk_records<true>(
        str_in, max, model, typ,
        [&](const pdbscan::AtomLine& line, const pdbscan::CarriedFields& carried, bool new_residue) {
            if (new_residue) {
                PDBRESI& closed = r[static_cast<std::size_t>(current)];
                closed.rnbofa = k;  // the first record stores 0 here before its atom is added
                if (!first) {
                    if (LEVEL > 3) pdbshow::echo_residue(closed, typ);
                    if (static_cast<std::size_t>(current) + 1 >= r.size())
                        err(kWhere, "The residue array has room for " + std::to_string(r.size()) +
                                        " residues; the line set gives more");
                    ++current;
                }
                k = 0;
                first = false;
            }
            PDBRESI& res = r[static_cast<std::size_t>(current)];
            if (static_cast<std::size_t>(k) >= res.a.size())
                err(kWhere, "Residue slot " + std::to_string(current) + " has room for " +
                                std::to_string(res.a.size()) + " atoms; the line set gives it more");
            pdbscan::store_record(res, res.a[static_cast<std::size_t>(k)], line, carried);
            ++k;
        });
    r[static_cast<std::size_t>(current)].rnbofa = k;
    const int result = current + 1;
    target.nbofr = result;
    if (LEVEL > 1) {
        std::fprintf(text_out(), "Total number of residues : %d\n", result);
        std::fprintf(text_out(), "Total number of atoms    : %d\n", accepted);
    }
    return result;
}

PDBSIZE get_pdb_load_size(std::span<const PDBLINE> str_in, int max, int model, char typ,
                          std::span<int> rnbofa) {
    PDBSIZE size{1, 0, 0};
    int residue = -1;  // index of the residue being counted
    int atoms = 0;     // its atoms so far
    const auto close = [&] {
        if (residue < 0) return;
        if (atoms > size.maxatm) size.maxatm = atoms;
        if (rnbofa.empty()) return;
        if (static_cast<std::size_t>(residue) >= rnbofa.size())
            err("SUB:GET_PDB_LOAD_SIZE", "The count array has room for " + std::to_string(rnbofa.size()) +
                                             " residues; the line set gives more");
        rnbofa[static_cast<std::size_t>(residue)] = atoms;
    };
    size.nbofa = pdbscan::walk_records<false>(
        str_in, max, model, typ,
        [&](const pdbscan::AtomLine&, const pdbscan::CarriedFields&, bool new_residue) {
            if (new_residue) {
                close();
                ++residue;
                atoms = 0;
            }
            ++atoms;
        });
    if (residue < 0) {
        residue = 0;  // no record: load_pdb still closes one residue slot, with no atom
        atoms = 0;
    }
    close();
    size.nbofr = residue + 1;
    return size;
}
