// Pre-scan counters: residue and atom counts that size the model before a load.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/text_out.h"
#include "pdb8.h"
#include "pdb8/scan.h"

namespace {

using pdbscan::PrescanKey;

bool same_key(const PrescanKey& a, const PrescanKey& b) {
    return a.chain == b.chain && a.nb == b.nb && a.letter == b.letter;
}

// Record-kind test on the line's own first columns, no blanks skipped.
bool selected(std::string_view line, char typ) {
    const bool atom = line.size() >= 4 && std::memcmp(line.data(), "ATOM", 4) == 0;
    const bool hetatm = line.size() >= 6 && std::memcmp(line.data(), "HETATM", 6) == 0;
    switch (typ) {
        case 'a':
            return atom;
        case 'h':
            return hetatm;
        case 'w':
            return atom || hetatm;
        default:
            return false;
    }
}

// Lines to scan: `max` of them, never more than the line set holds.
std::size_t scan_count(std::span<const PDBLINE> lines, int max) {
    return max <= 0 ? 0 : std::min(lines.size(), static_cast<std::size_t>(max));
}

// The key before the first selected line.
constexpr PrescanKey kNoKey{'@', -9999, '@'};

}  // namespace

int get_pdb_chain_res_atm_nb(std::span<const PDBLINE> str_in, int max, std::span<int> nbr, std::span<int> nba,
                             char typ, int /*LEVEL*/) {
    // Guarded: run c is written to nbr[c] and nba[c]; a run the arrays cannot hold stops the work.
    const std::size_t room = std::min(nbr.size(), nba.size());
    const auto need_run = [&](std::size_t c) {
        if (c >= room)
            err("SUB:GET_PDB_CHAIN_RES_ATM_NB", "The chain arrays have room for " + std::to_string(room) +
                                                    " chain runs; the line set has more");
    };
    need_run(0);
    std::size_t c = 0;
    nbr[0] = 0;
    nba[0] = 0;
    int m = 0;
    bool first = true;
    PrescanKey prev = kNoKey;
    PrescanKey key;  // chain blank, number 0, letter blank until a line supplies them
    const std::size_t n = scan_count(str_in, max);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view line = pdbscan::line_text(str_in[i]);
        if (!selected(line, typ)) continue;
        pdbscan::read_key_words(line, key);
        // The first selected line always opens a residue, even when its key happens to equal kNoKey.
        if (!first && same_key(key, prev)) {
            ++nba[c];
        } else {
            if (first) {
                ++nba[c];
            } else {
                m = std::max(m, nba[c]);
                nba[c] = 1;
            }
            ++nbr[c];
            if (key.chain == prev.chain || first) {
                first = false;
            } else {
                nba[c] = m;
                need_run(++c);
                nba[c] = 1;
                nbr[c] = 1;
                m = 0;
            }
        }
        prev = key;
    }
    ++nba[c];
    ++nbr[c];
    m = std::max(m, nba[c]);
    nba[c] = m;
    ++c;
    for (std::size_t i = 0; i < c; ++i)
        std::fprintf(text_out(), "For chain: %d  max_res= %d   max_atm=%d\n", static_cast<int>(i), nbr[i],
                     nba[i]);
    return static_cast<int>(c);
}

int get_pdb_res_atm_nb(std::span<const PDBLINE> str_in, int max, int* nba, char typ, int /*LEVEL*/) {
    if (nba == nullptr) err("SUB:GET_PDB_RES_ATM_NB", "No place was given for the atom count");
    *nba = 0;
    int n = 0;
    int m = 0;
    bool first = true;
    PrescanKey prev = kNoKey;
    PrescanKey key;
    const std::size_t count = scan_count(str_in, max);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view line = pdbscan::line_text(str_in[i]);
        if (!selected(line, typ)) continue;
        pdbscan::read_key_columns(line, key);
        // As above, the first selected line always opens a residue.
        if (!first && same_key(key, prev)) {
            ++*nba;
        } else {
            if (first) {
                ++*nba;
            } else {
                m = std::max(m, *nba);
                *nba = 1;
            }
            ++n;
            first = false;  // a change of chain changes nothing else in the whole-set count
        }
        prev = key;
    }
    ++*nba;
    ++n;
    m = std::max(m, *nba);
    *nba = m;
    return n;
}

int find_beginning1(std::span<const PDBLINE> ptr) {
    // Bounded by the line set: with no qualifying line the result is the line count, so a reader
    // starting there scans nothing.
    for (std::size_t i = 0; i < ptr.size(); ++i) {
        if (pdbscan::opens_coordinates(pdbscan::line_text(ptr[i]))) return static_cast<int>(i);
    }
    return static_cast<int>(ptr.size());
}
