// The reader's walk over a line set, shared by load_pdb and get_pdb_load_size so that the sizes and the
// load follow one set of column, model and key rules.
#ifndef VOXMOL_PDB8_RECORDS_H
#define VOXMOL_PDB8_RECORDS_H

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "pdb8.h"
#include "pdb8/scan.h"

namespace pdbscan {

// One ATOM/HETATM line cut into the read columns (from 1):
//   1-6 record name   7-11 serial (%d)   12 separator   13-16 atom name   17 alternate location
//   18-20 residue name   21 separator   22 chain   23-26 residue number (%d)   27 insertion code
//   28-30 ignored   31-38 x (%f)   39-46 y (%f)   47-54 z (%f)   55-60 occupancy (%f)
//   61-66 temperature factor (%f)   67-76 segment area   77-78 element   79-80 charge
// A field the line ends inside receives what remains; later fields are empty. Text views point into
// the line buffer.
struct AtomLine {
    std::string_view record, aname, rname, segid, extra;  // extra: element and charge together
    float occup, bfac;
};

// What carries over from line to line within one scan: the three single characters when the line ends
// before their column, and the serial, residue number and coordinates when their text does not convert.
struct CarriedFields {
    char aalt = ' ', rchain = ' ', rletter = ' ';
    int anb = 0, rnb = 0;
    float x = 0.0f, y = 0.0f, z = 0.0f;
    int model = 0;  // the MODEL number in force
};

// Column [from, from+width) of a line (0-based): what the line holds of it, possibly nothing.
inline std::string_view column(std::string_view line, std::size_t from, std::size_t width) {
    if (from >= line.size()) return {};
    return line.substr(from, width);
}

inline void convert_int(std::string_view text, int& value) {
    int v;
    if (scan_int(text.data(), text.data() + text.size(), v) != nullptr) value = v;
}

inline float convert_float_or_zero(std::string_view text) {
    float v;
    return scan_float(text.data(), text.data() + text.size(), v) ? v : 0.0f;
}

inline void convert_float(std::string_view text, float& value) {
    float v;
    if (scan_float(text.data(), text.data() + text.size(), v)) value = v;
}

// Reads one line with the ATOM layout, updating the carried fields. Without kAtoms only what decides
// acceptance and residues is read: the record name and the key.
template <bool kAtoms>
inline void read_atom_line(std::string_view line, AtomLine& out, CarriedFields& carried) {
    out.record = column(line, 0, 6);
    if (line.size() > 21) carried.rchain = line[21];
    convert_int(column(line, 22, 4), carried.rnb);
    if (line.size() > 26) carried.rletter = line[26];
    if constexpr (!kAtoms) return;
    convert_int(column(line, 6, 5), carried.anb);
    out.aname = column(line, 12, 4);
    if (line.size() > 16) carried.aalt = line[16];
    out.rname = column(line, 17, 3);
    convert_float(column(line, 30, 8), carried.x);
    convert_float(column(line, 38, 8), carried.y);
    convert_float(column(line, 46, 8), carried.z);
    out.occup = convert_float_or_zero(column(line, 54, 6));
    out.bfac = convert_float_or_zero(column(line, 60, 6));
    out.segid = column(line, 66, 10);
    out.extra = column(line, 76, 4);
}

// Reads a MODEL line as "%6c%d": after its first six characters, white space and a number that becomes
// the model in force; without a number the model stays.
inline void read_model_line(std::string_view line, CarriedFields& carried) {
    const std::size_t after = std::min<std::size_t>(6, line.size());
    convert_int(line.substr(after), carried.model);
}

// The record-kind test on the six characters read as record name.
inline bool accepted_kind(std::string_view record, char typ) {
    const bool atom = record == "ATOM  ";
    const bool hetatm = record == "HETATM";
    return (typ == 'a' && atom) || (typ == 'h' && hetatm) || (typ == 'w' && (atom || hetatm));
}

// Walks lines from the first coordinate line up to `max` (at most the line set) and hands every accepted
// record to `on_record(line, carried, new_residue)`; `new_residue` is true for the first accepted record
// and whenever the key (chain, residue number, insertion code) differs from the previous accepted one.
// Returns the number of accepted records. Without kAtoms the atom fields are not read.
template <bool kAtoms, class OnRecord>
int walk_records(std::span<const PDBLINE> lines, int max, int model, char typ, OnRecord&& on_record) {
    const std::size_t n = max <= 0 ? 0 : std::min(lines.size(), static_cast<std::size_t>(max));
    const std::span<const PDBLINE> scanned = lines.first(n);
    CarriedFields carried;
    AtomLine atom{};
    bool first = true;
    char prev_chain = '#', prev_letter = '#';
    int prev_rnb = -99;
    int accepted = 0;
    for (std::size_t i = static_cast<std::size_t>(find_beginning1(scanned)); i < n; ++i) {
        const std::string_view line = line_text(scanned[i]);
        // Only a line whose first word begins with "MODEL" is a MODEL record; text "MODEL" elsewhere in
        // an ATOM line (a residue MODE of chain L, a remark past column 80) leaves it an ATOM line.
        if (first_word_starts(line, "MODEL")) {
            read_model_line(line, carried);
            continue;
        }
        read_atom_line<kAtoms>(line, atom, carried);
        if (!accepted_kind(atom.record, typ)) continue;
        if (carried.model > model) continue;
        // The first accepted record always opens a residue, whatever its key.
        const bool new_residue = first || carried.rchain != prev_chain || carried.rnb != prev_rnb ||
                                 carried.rletter != prev_letter;
        first = false;
        on_record(atom, carried, new_residue);
        prev_chain = carried.rchain;
        prev_rnb = carried.rnb;
        prev_letter = carried.rletter;
        ++accepted;
    }
    return accepted;
}

}  // namespace pdbscan

#endif  // VOXMOL_PDB8_RECORDS_H
