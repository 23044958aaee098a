// Residue selection: whole structure, chain, residue or range, and their complements, applied to the
// residues of a loaded structure in storage order.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_out.h"
#include "pdb8.h"
#include "pdb8/selection_text.h"

namespace {

using selection_text::c_text;
using selection_text::in_alphabet;
using selection_text::upper;

// Identity is compared exactly as stored: a blank chain or insertion letter matches only a blank.
bool matches(const PDBRESI& r, const PDBRES& id) {
    return r.rchain == id.chain && r.rnb == id.nb && r.rletter == id.letter;
}

PDBRES identity_of(const PDBRESI& r) {
    PDBRES id{};
    id.chain = r.rchain;
    id.nb = r.rnb;
    id.letter = r.rletter;
    return id;
}

// Residues 0 to max-1 are examined; a `max` beyond the caller's residue array would read past it and is
// refused. A negative `max` examines nothing.
int residues_examined(int max, const PDBMOL& ar, const char* where) {
    if (max > 0 && static_cast<std::size_t>(max) > ar.r.size()) {
        err(where, "residue count " + std::to_string(max) + " exceeds the " + std::to_string(ar.r.size()) +
                       " residues held");
    }
    return max > 0 ? max : 0;
}

int first_match(const PDBMOL& ar, int from, int n, const PDBRES& id) {
    for (int i = from; i < n; ++i)
        if (matches(ar.r[i], id)) return i;
    return -1;
}

// The caller's selection list, filled from position `idx` on. Every write is checked against the list, so
// a list shorter than the selection stops the run instead of being overrun.
class Selection {
  public:
    Selection(std::span<int> ret, int idx, const char* where) : ret_(ret), count_(idx), where_(where) {
        if (idx < 0 || static_cast<std::size_t>(idx) > ret.size()) {
            err(where, "fill position " + std::to_string(idx) + " lies outside the selection list of " +
                           std::to_string(ret.size()) + " entries");
        }
    }
    void append(int residue) {
        if (static_cast<std::size_t>(count_) >= ret_.size()) {
            err(where_, "the selection list has room for " + std::to_string(ret_.size()) + " residues only");
        }
        ret_[static_cast<std::size_t>(count_++)] = residue;
    }
    int count() const { return count_; }

  private:
    std::span<int> ret_;
    int count_;
    const char* where_;
};

void print_selected(int n, const PDBRESI& r) {
    std::fprintf(text_out(), "[%d] Selected res : %c%d%c\n", n, r.rchain, r.rnb, r.rletter);
}

void print_range_entry(const char* name, const PDBRES& f, const PDBRES& l, int idx) {
    std::fprintf(text_out(), "In %s: first_res=%c%d%c  last_res=%c%d%c   idx=%d\n", name, f.chain, f.nb,
                 f.letter, l.chain, l.nb, l.letter, idx);
}

// Both chain selectors print the same entry line; each prints a residue line only for a residue it
// appends, numbered by the fill count after appending rather than by the residue's index.
int chain_selection(char chainid, bool same_chain, int max, const PDBMOL& ar, std::span<int> ret, int idx,
                    int LEVEL, const char* where) {
    if (LEVEL > 2) std::fprintf(text_out(), "In get_chain_range1: chainId=%c   idx=%d\n", chainid, idx);
    const int n = residues_examined(max, ar, where);
    Selection sel(ret, idx, where);
    for (int i = 0; i < n; ++i) {
        if ((ar.r[i].rchain == chainid) != same_chain) continue;
        sel.append(i);
        if (LEVEL > 2) print_selected(sel.count(), ar.r[i]);
    }
    return sel.count();
}

int range_selection(PDBRES fres, PDBRES lres, int max, const PDBMOL& ar, std::span<int> ret, int NOT,
                    int LEVEL) {
    return NOT ? get_notres_range1(fres, lres, max, ar, ret, 0, LEVEL)
               : get_res_range1(fres, lres, max, ar, ret, 0, LEVEL);
}

template <std::size_t N>
int field_length(const char (&field)[N]) {
    return static_cast<int>(strnlen(field, N));
}

void dump_selection(const PDBMOL& brook, std::span<const int> select, int count) {
    std::fprintf(text_out(), "----------------------Selection------------------------\n");
    for (int i = 0; i < count; ++i) {
        const PDBRESI& res = brook.r[static_cast<std::size_t>(select[static_cast<std::size_t>(i)])];
        // An atom count beyond the residue's atom array would read past it.
        if (res.rnbofa > 0 && static_cast<std::size_t>(res.rnbofa) > res.a.size()) {
            err("SUB:READ_RES_PATTERN", "residue " + std::to_string(select[static_cast<std::size_t>(i)]) +
                                            " counts " + std::to_string(res.rnbofa) + " atoms but holds " +
                                            std::to_string(res.a.size()));
        }
        for (int j = 0; j < res.rnbofa; ++j) {
            const PDBATOM& atom = res.a[static_cast<std::size_t>(j)];
            std::fprintf(text_out(), "i=%d SELECT = %d  |%c|  atm=%.*s\n", i, res.rnb, res.rchain,
                         field_length(atom.aname), atom.aname);
        }
    }
    std::fprintf(text_out(), "----------------------------------------------------------------------\n");
}

}  // namespace

int get_res_range1(PDBRES fres, PDBRES lres, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL) {
    if (LEVEL > 2) print_range_entry("get_res_range1", fres, lres, idx);
    const int n = residues_examined(max, ar, "SUB:GET_RES_RANGE1");
    Selection sel(ret, idx, "SUB:GET_RES_RANGE1");
    const int p = first_match(ar, 0, n, fres);
    if (p < 0) return sel.count();
    // The range is a stretch of storage order: it ends at the first `lres` from `p` on (p itself when
    // lres equals fres), or runs to the end when no such residue follows.
    for (int i = p; i < n; ++i) {
        sel.append(i);
        if (LEVEL > 2) print_selected(i, ar.r[i]);
        if (matches(ar.r[i], lres)) break;
    }
    return sel.count();
}

int get_notres_range1(PDBRES fres, PDBRES lres, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL) {
    if (LEVEL > 2) print_range_entry("get_notres_range1", fres, lres, idx);
    const int n = residues_examined(max, ar, "SUB:GET_NOTRES_RANGE1");
    Selection sel(ret, idx, "SUB:GET_NOTRES_RANGE1");
    const int p = first_match(ar, 0, n, fres);
    // The residues before the range are appended without a line each; only those after it are printed.
    for (int i = 0; i < (p < 0 ? n : p); ++i)
        sel.append(i);
    if (p < 0) return sel.count();
    const int q = first_match(ar, p, n, lres);
    if (q < 0) return sel.count();
    for (int i = q + 1; i < n; ++i) {
        sel.append(i);
        if (LEVEL > 2) print_selected(i, ar.r[i]);
    }
    return sel.count();
}

int get_chain_range1(char chainid, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL) {
    return chain_selection(chainid, true, max, ar, ret, idx, LEVEL, "SUB:GET_CHAIN_RANGE1");
}

int get_notchain_range1(char chainid, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL) {
    return chain_selection(chainid, false, max, ar, ret, idx, LEVEL, "SUB:GET_NOTCHAIN_RANGE1");
}

int get_pdb_index(PDBMOL brook, int max, std::string_view strin, int LEVEL) {
    if (LEVEL > 2) std::fprintf(text_out(), "Entering into get_pdb_index\n");
    const PDBRES id = get_res_pattern(strin, LEVEL);
    const int n = residues_examined(max, brook, "SUB:GET_PDB_INDEX");
    // The last match wins, and index 0 is a match like any other.
    int found = -1;
    for (int i = 0; i < n; ++i)
        if (matches(brook.r[i], id)) found = i;
    if (found < 0) {
        std::fprintf(text_out(), "Residue: %s is not found\n", std::string(c_text(strin)).c_str());
        err("SUB:GET_PDB_INDEX", "Residue not found in this PDB file");
    }
    return found;
}

int read_res_pattern(std::string_view string, PDBMOL brook, int max, std::span<int> select, int NOT,
                     int LEVEL) {
    const std::string_view text = c_text(string);
    if (LEVEL > 2)
        std::fprintf(text_out(), "Entering into read_res_pattern and string=%s\n", std::string(text).c_str());
    // The work string grows with the expression, so no expression is cut.
    std::string work = upper(text);
    if (LEVEL > 2) std::fprintf(text_out(), "String=%s\n", work.c_str());
    const int n = residues_examined(max, brook, "SUB:READ_RES_PATTERN");

    int count = 0;
    if (!work.empty() && work[0] == '*') {
        // The whole structure is the range from the identity of the first residue to that of the last.
        // When that last identity also occurs earlier (several models, a water key that comes back), the
        // range stops there, as any range does; NOT then selects the rest. With no residue to examine
        // there is no first or last identity to read: blank ones stand in, and nothing is selected.
        PDBRES first{' ', 0, ' ', {}};
        PDBRES last = first;
        if (n > 0) {
            first = identity_of(brook.r[0]);
            last = identity_of(brook.r[static_cast<std::size_t>(n - 1)]);
        }
        count = range_selection(first, last, max, brook, select, NOT, LEVEL);
        if (LEVEL > 2) {
            std::fprintf(text_out(), "Selected residues: from  %c%d%c to  %c%d%c -> %d residues\n",
                         first.chain, first.nb, first.letter, last.chain, last.nb, last.letter, count);
        }
    } else {
        const char chain = !work.empty() && in_alphabet(work[0]) ? work[0] : ' ';
        if (LEVEL > 2)
            std::fprintf(text_out(), "string= |%c|  Length of string= %d\n", chain,
                         static_cast<int>(work.size()));
        if (work.size() == 1 && chain != ' ') {
            count = NOT ? get_notchain_range1(chain, max, brook, select, 0, LEVEL)
                        : get_chain_range1(chain, max, brook, select, 0, LEVEL);
            if (LEVEL > 2) std::fprintf(text_out(), "Selected residues   -> %d  \n", count);
        } else {
            std::vector<std::string> ids;
            const int found = split_range(work, ids, LEVEL);
            if (found == 1) {
                const PDBRES res = get_res_pattern(ids[0], LEVEL);
                count = range_selection(res, res, max, brook, select, NOT, LEVEL);
                if (LEVEL > 2) {
                    std::fprintf(text_out(), "Selected residue:   %c%d%c\n   -> %d  residues\n", res.chain,
                                 res.nb, res.letter, count);
                }
            } else if (found == 2) {
                const PDBRES first = get_res_pattern(ids[0], LEVEL);
                const PDBRES last = get_res_pattern(ids[1], LEVEL);
                count = range_selection(first, last, max, brook, select, NOT, LEVEL);
                if (LEVEL > 2) {
                    std::fprintf(text_out(), "Selected residues: from  %c%d%c to  %c%d%c -> %d residues\n",
                                 first.chain, first.nb, first.letter, last.chain, last.nb, last.letter,
                                 count);
                }
            } else {
                err("SUB:READ_RES_PATTERN", "Error in the split residue selection");
            }
        }
    }
    if (LEVEL > 2) dump_selection(brook, select, count);
    return count;
}
