// The reader's walk over lines, shared by load_pdb, get_pdb_load_size and the direct load (direct_load.cpp)
// so that the sizes and the loads follow one set of column, model and key rules.
#ifndef VOXMOL_PDB8_RECORDS_H
#define VOXMOL_PDB8_RECORDS_H

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "pdb8.h"
#include "pdb8/columns.h"
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

// Each stores the converted number and says whether there was one; without one `value` stays. N, W and F
// name the column's usual layout, which is converted on a fast path (pdb8/columns.h) to the same value.
template <std::size_t N>
[[gnu::always_inline]] inline bool convert_int(std::string_view text, int& value) {
    if (columns::whole<N>(text, value)) return true;
    int v;
    if (scan_int(text.data(), text.data() + text.size(), v) == nullptr) return false;
    value = v;
    return true;
}

template <std::size_t W, std::size_t F>
[[gnu::always_inline]] inline bool convert_float(std::string_view text, float& value) {
    if (columns::fixed_point<W, F>(text, value)) return true;
    float v;
    if (!scan_float(text.data(), text.data() + text.size(), v)) return false;
    value = v;
    return true;
}

template <std::size_t W, std::size_t F>
inline float convert_float_or_zero(std::string_view text) {
    float v = 0.0f;
    return convert_float<W, F>(text, v) ? v : 0.0f;
}

// The carried fields a line sets (walk_line's result): a reader that starts in the middle of a file,
// without the lines before, knows from them which of its values came from those lines.
enum CarriedField : unsigned {
    kSetAalt = 1u << 0,
    kSetAnb = 1u << 1,
    kSetX = 1u << 2,
    kSetY = 1u << 3,
    kSetZ = 1u << 4,
    kAllAtomFields = (1u << 5) - 1,  // the fields above, which only the atoms take
    kSetChain = 1u << 5,
    kSetRnb = 1u << 6,
    kSetLetter = 1u << 7,
    kAllKeyFields = kSetChain | kSetRnb | kSetLetter,
    kSetModel = 1u << 8,  // a MODEL line with a number
};

// Reads one line with the ATOM layout, updating the carried fields. Without kAtoms only what decides
// acceptance and residues is read: the record name and the key. Returns the CarriedField bits of the
// fields the line set.
template <bool kAtoms>
inline unsigned read_atom_line(std::string_view line, AtomLine& out, CarriedFields& carried) {
    unsigned set = 0;
    out.record = column(line, 0, 6);
    if (line.size() > 21) {
        carried.rchain = line[21];
        set |= kSetChain;
    }
    if (convert_int<4>(column(line, 22, 4), carried.rnb)) set |= kSetRnb;
    if (line.size() > 26) {
        carried.rletter = line[26];
        set |= kSetLetter;
    }
    if constexpr (!kAtoms) {
        return set;
    } else {
        if (convert_int<5>(column(line, 6, 5), carried.anb)) set |= kSetAnb;
        out.aname = column(line, 12, 4);
        if (line.size() > 16) {
            carried.aalt = line[16];
            set |= kSetAalt;
        }
        out.rname = column(line, 17, 3);
        float fast[5] = {};  // read only where `taken` says the fast path filled it
        unsigned taken = 0;
#ifdef __SSE2__
        if (line.size() >= 66) taken = columns::coordinate_fields(line.data(), fast);
#endif
        const auto coordinate = [&](unsigned i, std::size_t from, float& value, unsigned bit)
            __attribute__((always_inline)) {
            if (taken >> i & 1u) {
                value = fast[i];
                set |= bit;
            } else if (convert_float<8, 3>(column(line, from, 8), value)) {
                set |= bit;
            }
        };
        coordinate(0, 30, carried.x, kSetX);
        coordinate(1, 38, carried.y, kSetY);
        coordinate(2, 46, carried.z, kSetZ);
        out.occup = taken >> 3 & 1u ? fast[3] : convert_float_or_zero<6, 2>(column(line, 54, 6));
        out.bfac = taken >> 4 & 1u ? fast[4] : convert_float_or_zero<6, 2>(column(line, 60, 6));
        out.segid = column(line, 66, 10);
        out.extra = column(line, 76, 4);
        return set;
    }
}

// Reads a MODEL line as "%6c%d": after its first six characters, white space and a number that becomes
// the model in force; without a number the model stays.
inline unsigned read_model_line(std::string_view line, CarriedFields& carried) {
    const std::size_t after = std::min<std::size_t>(6, line.size());
    int v;
    if (scan_int(line.data() + after, line.data() + line.size(), v) == nullptr) return 0;
    carried.model = v;
    return kSetModel;
}

// The record-kind test on the six characters read as record name.
inline bool accepted_kind(std::string_view record, char typ) {
    const bool atom = record == "ATOM  ";
    const bool hetatm = record == "HETATM";
    return (typ == 'a' && atom) || (typ == 'h' && hetatm) || (typ == 'w' && (atom || hetatm));
}

// Where a walk stands between two lines: what carries over, and the key of the last accepted record.
struct WalkState {
    CarriedFields carried;
    bool first = true;  // no record accepted yet
    char prev_chain = '#', prev_letter = '#';
    int prev_rnb = -99;
};

// One line of a walk, from the first coordinate line on (see walk_records): a MODEL line changes the model
// in force; any other line is read with the ATOM layout and, when accepted, handed to
// `on_record(line, carried, new_residue)`. Returns the CarriedField bits the line set.
template <bool kAtoms, class OnRecord>
inline unsigned walk_line(std::string_view line, int model, char typ, WalkState& s, AtomLine& atom,
                          OnRecord&& on_record) {
    // Only a line whose first word begins with "MODEL" is a MODEL record; text "MODEL" elsewhere in an
    // ATOM line (a residue MODE of chain L, a remark past column 80) leaves it an ATOM line.
    if (first_word_starts(line, "MODEL")) return read_model_line(line, s.carried);
    const unsigned set = read_atom_line<kAtoms>(line, atom, s.carried);
    if (!accepted_kind(atom.record, typ)) return set;
    if (s.carried.model > model) return set;
    // The first accepted record always opens a residue, whatever its key.
    const bool new_residue = s.first || s.carried.rchain != s.prev_chain || s.carried.rnb != s.prev_rnb ||
                             s.carried.rletter != s.prev_letter;
    s.first = false;
    on_record(atom, s.carried, new_residue);
    s.prev_chain = s.carried.rchain;
    s.prev_rnb = s.carried.rnb;
    s.prev_letter = s.carried.rletter;
    return set;
}

// Walks lines from the first coordinate line up to `max` (at most the line set) and hands every accepted
// record to `on_record(line, carried, new_residue)`; `new_residue` is true for the first accepted record
// and whenever the key (chain, residue number, insertion code) differs from the previous accepted one.
// Returns the number of accepted records. Without kAtoms the atom fields are not read.
template <bool kAtoms, class OnRecord>
int walk_records(std::span<const PDBLINE> lines, int max, int model, char typ, OnRecord&& on_record) {
    const std::size_t n = max <= 0 ? 0 : std::min(lines.size(), static_cast<std::size_t>(max));
    const std::span<const PDBLINE> scanned = lines.first(n);
    WalkState state;
    AtomLine atom{};
    int accepted = 0;
    const auto count = [&](const AtomLine& line, const CarriedFields& carried, bool new_residue) {
        on_record(line, carried, new_residue);
        ++accepted;
    };
    for (std::size_t i = static_cast<std::size_t>(find_beginning1(scanned)); i < n; ++i)
        walk_line<kAtoms>(line_text(scanned[i]), model, typ, state, atom, count);
    return accepted;
}

// copy_field, with a column of its full width K copied in one move.
template <std::size_t K, std::size_t N>
inline void copy_column(char (&dst)[N], std::string_view src) {
    static_assert(K < N, "the field holds the column and its NUL");
    if (src.size() != K) return copy_field(dst, src);
    std::memcpy(dst, src.data(), K);
    dst[K] = '\0';
}

// Stores one accepted record in `atom`, an atom of `res`, and rewrites the residue's fields from it. With
// kZeroed the atom is known to hold zero bytes already (a store just sized), and is not cleared again.
template <bool kZeroed = false>
inline void store_record(PDBRESI& res, PDBATOM& atom, const AtomLine& line, const CarriedFields& c) {
    if constexpr (!kZeroed) atom = PDBATOM{};  // every text slot empty, every value slot 0.0
    atom.anb = c.anb;
    atom.aalt = c.aalt;
    atom.x = c.x;
    atom.y = c.y;
    atom.z = c.z;
    atom.occup = line.occup;
    atom.bfac = line.bfac;
    copy_column<4>(atom.aname, line.aname);
    copy_column<4>(atom.extra, line.extra);

    copy_column<6>(res.atom, line.record);
    copy_column<3>(res.rname, line.rname);
    copy_column<10>(res.segid, line.segid);
    res.label_rname[0] = '\0';
    res.label_rchain[0] = '\0';
    res.label_rnb[0] = '\0';
    res.rchain = c.rchain;
    res.rnb = c.rnb;
    res.rletter = c.rletter;
    res.model = c.model;
    res.rentity = c.model;
}

}  // namespace pdbscan

#endif  // VOXMOL_PDB8_RECORDS_H
