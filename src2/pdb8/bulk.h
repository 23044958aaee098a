// Bulk memory helpers the line-set and store code uses beyond pdb_bulk_allocate.
#ifndef VOXMOL_PDB8_BULK_H
#define VOXMOL_PDB8_BULK_H

#include <cstddef>

namespace pdbbulk {

// Faults in the pages of [start, start + bytes) for writing, in one call, before they are written: the
// same pages a write would fault in one by one, without a trap per page; their contents do not change.
// Only a hint: small ranges, and systems without the call, are left to fault as they are written.
void prefault(void* start, std::size_t bytes) noexcept;

}  // namespace pdbbulk

#endif  // VOXMOL_PDB8_BULK_H
