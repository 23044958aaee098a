// The direct load (load_pdb_file, load_pdb_text) with its cuts and block size chosen by the caller: the
// tests cut small inputs at every line and read files in small blocks.
#ifndef VOXMOL_PDB8_DIRECT_LOAD_H
#define VOXMOL_PDB8_DIRECT_LOAD_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pdb8.h"
#include "pdb8/inplace_lines.h"

namespace pdbdirect {

constexpr std::size_t kBlock = std::size_t{256} << 10;  // bytes of a file read at a time, per part

struct Plan {
    // The filling is split into parts: one from the start, then one from the first line that starts at or
    // after each cut (ascending offsets); the machine's cores take the parts in turn.
    std::vector<std::uint64_t> cuts;
    std::size_t block = kBlock;  // bytes of a file read at a time, per part (pdblines::kMinBlock at least)
    bool threads = true;         // false: every part filled on the calling thread, one after the other
};

// Four parts for each core (of at most 8), 2 MiB of input a part at least; one part on one core.
std::vector<std::uint64_t> default_cuts(std::uint64_t bytes);

// load_pdb_file's work on an open file or a text. Returns the residue count, or -1 with errno set (the
// store and `mol` emptied) when a read fails.
int load(const pdblines::Source& source, const Plan& plan, int model, char typ, PDBSTORE& store, PDBMOL& mol,
         int LEVEL);

}  // namespace pdbdirect

#endif  // VOXMOL_PDB8_DIRECT_LOAD_H
