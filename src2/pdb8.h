// The PDB toolkit: a chain/residue/atom model of a coordinate file, the pre-scan that sizes it, the
// fixed-column reader that fills it from lines held in memory, record display, classification, the
// residue-selection language and shape summaries, and err, the toolkit's fatal error report. Declares
// the shared COORD and MATRIX records and the fatal-error hooks too (from common/).
//
// Ownership: the caller owns every array. Records refer to the caller's residues and atoms through
// std::span, so a record passed by value still reaches (and may change) the caller's data, and a function
// can check the capacity it was given. The toolkit never allocates the caller's arrays.
// Coordinates are in Ångström, angles in degrees.
#ifndef VOXMOL_PDB8_H
#define VOXMOL_PDB8_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/coord.h"
#include "common/fatal.h"

// Residue identifier of the selection language: chain letter (blank when none), number, insertion letter
// (blank when none). `name` is carried but never filled or read by the toolkit.
struct PDBRES {
    char chain;
    int nb;
    char letter;
    char name[4];
};

// One atom. Text fields hold PDB columns verbatim, blanks included; fields the reader sets empty or to
// 0.0 are slots for callers.
struct PDBATOM {
    int anb;                          // serial number, columns 7-11
    char label_atype[3];              // empty after a load
    char label_aname[7];              // empty after a load
    char aalt;                        // alternate location, column 17; the display writes "." as a blank
    float x, y, z;                    // columns 31-54
    float occup;                      // columns 55-60; 0.0 when blank
    float bfac;                       // columns 61-66; 0.0 when blank
    float rad, bon, crg, eps, sigma;  // 0.0 after a load
    char x_esd[9], y_esd[9], z_esd[9], occup_esd[9], bfac_esd[9];  // empty after a load
    char aname[6];  // atom name, the four columns 13-16 (" CA ")
    char extra[5];  // element (77-78) followed by charge (79-80); empty on a short line
};

// One residue and its atoms. The first `rnbofa` elements of `a` are valid; `a` views the caller's array.
struct PDBRESI {
    char atom[7];          // record name, columns 1-6: "ATOM  " or "HETATM"
    char label_rname[4];   // empty after a load
    char label_rchain[4];  // empty after a load
    char label_rnb[7];     // empty after a load
    int rnb;               // residue number, columns 23-26 (residue key)
    char rname[4];         // residue name, columns 18-20 verbatim
    char rchain;           // chain identifier, column 22 (residue key)
    int rentity;           // equal to `model` after a load
    int model;             // MODEL number in force when read; 0 before any MODEL record
    char rletter;          // insertion code, column 27 (residue key); the display writes "?" as a blank
    int rnbofa;            // number of atoms held in `a`
    char segid[13];        // columns 67-76 verbatim
    std::span<PDBATOM> a;  // the residue's atoms, owned by the caller
};

// A set of residues, of any number of chains, in file order. The first `nbofr` elements of `r` are valid.
struct PDBMOL {
    char chain;  // not filled by the reader, read by nothing
    int nbofr;
    std::span<PDBRESI> r;  // the residues, owned by the caller
};

// One line of a line set: a NUL-terminated text of at most 127 characters in a 128-byte buffer.
using PDBLINE = std::array<char, 128>;

// Copies at most N-1 characters of `src` into the fixed text field `dst` and ends it with a NUL.
template <std::size_t N>
inline void copy_field(char (&dst)[N], std::string_view src) {
    const std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = src[i];
    dst[n] = '\0';
}

// Fatal error report: prints "\n>ERROR IN %s\n>ERRROR : %s\n\n" on standard output and ends the process
// with exit status 1; a host takes it over with set_fatal_handler and set_fatal_report (common/fatal.h).
[[noreturn]] void err(std::string_view where, std::string_view message);

// ---- Pre-scan counters ------------------------------------------------------------------------------
//
// A line set is the span `str_in` of 128-byte line buffers; `max` lines of it are scanned (never more than
// the span holds). A line is selected by `typ`: 'a' when its columns 1-4 are "ATOM", 'h' when columns 1-6
// are "HETATM", 'w' for both; any other `typ` selects nothing. The counters read each selected line by
// blank-separated words, not by columns, look at no MODEL record (all models are counted) and report upper
// bounds: the residue count is one more than the residues found, and the last residue of the scan counts
// one atom more than it has. Files whose words do not follow the usual spacing (a HETATM serial of 10000 or
// more, hybrid-36 numbers) can be under-counted; get_pdb_load_size gives exact sizes for load_pdb.

// Counts residues per chain run (selected lines whose chain does not change between residues; a chain
// that comes back starts a new run). `nbr[i]` receives the residue count of run i plus one, `nba[i]` the
// largest atom count of a residue of run i (see above for the last run). Returns the number of runs and
// prints "For chain: %d  max_res= %d   max_atm=%d\n" for each, at every LEVEL. Stops through err when
// `nbr` or `nba` has no room for a run; max+1 elements (at least one) always suffice.
int get_pdb_chain_res_atm_nb(std::span<const PDBLINE> str_in, int max, std::span<int> nbr, std::span<int> nba,
                             char typ, int LEVEL);

// Counts residues over the whole line set: returns their number plus one and stores in `*nba` the largest
// atom count of a residue (the last residue counted one atom higher). Prints nothing; LEVEL is not used.
int get_pdb_res_atm_nb(std::span<const PDBLINE> str_in, int max, int* nba, char typ, int LEVEL);

// Index of the first line whose first blank-delimited word begins with "ATOM", "HETATM" or "MODEL";
// the number of lines in `ptr` when no line does.
int find_beginning1(std::span<const PDBLINE> ptr);

// ---- Reader ------------------------------------------------------------------------------------------

// Loads the ATOM/HETATM records selected by `typ` of the models numbered up to `model` (records before any
// MODEL record are model 0) into array[mol], residue slots from r[start] on, reading fixed columns.
// Consecutive records with the same key (chain, residue number, insertion code) form one residue. A line
// end kept in a line buffer is read as a character of the column where the line stops. Returns `start` plus
// the number of residues filled (start + 1 when no record is accepted) and stores it in array[mol].nbofr.
// LEVEL > 1 prints the residue and atom totals; LEVEL > 3 echoes each finished residue (all but the last)
// through the record display, without changing the loaded data. The caller owns and sizes every array
// (get_pdb_load_size gives exact sizes); a missing `mol`, residue slot or atom slot stops the run through err
// before anything is written past an array.
int load_pdb(std::span<const PDBLINE> str_in, std::span<PDBMOL> array, int mol, int start, int max, int model,
             char typ, int LEVEL);

// ---- Line sets ---------------------------------------------------------------------------------------
//
// The caller's side of the toolkit, which itself reads no files: a PDB file is split into lines at "\n".
// The line end is not kept: "\n" is dropped, and so is a "\r" right before it, so a CRLF file from a
// Windows tool gives the same line set as its LF twin (a "\r" anywhere else is kept as a character). A
// last line without a line end is a line too. A line longer than 127 characters keeps its first 127 and
// is counted in `cut`; PDB records end at column 80, so only text past the record is lost. Other bytes
// are kept as they are (a NUL byte ends the line's text for the toolkit).

// Memory for the large arrays of line sets and stores. pdb_bulk_allocate hands out zero-filled memory,
// aligned for any record, and throws std::bad_alloc when there is none; a block of 8 MiB or more is mapped
// from the system on its own, so the system zero-fills it as it is first touched and nothing is zeroed
// twice. pdb_bulk_free takes the block and its size back.
void* pdb_bulk_allocate(std::size_t bytes);
void pdb_bulk_free(void* block, std::size_t bytes) noexcept;

// The allocator of those arrays. An element it makes without a value (resize, emplace_back()) is left as
// the memory holds it, instead of being written with zeros again: in a block fresh from pdb_bulk_allocate
// that is all zero bytes, but in room a container reuses after clear() or a shrink, whatever was there.
// Elements made from a value (push_back(x), assign(n, x)) are copied as usual.
template <class T>
struct PDBBULK {
    static_assert(alignof(T) <= alignof(std::max_align_t), "pdb_bulk_allocate aligns for max_align_t");
    using value_type = T;

    constexpr PDBBULK() noexcept = default;
    template <class U>
    constexpr PDBBULK(const PDBBULK<U>& /*other*/) noexcept {}

    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(pdb_bulk_allocate(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { pdb_bulk_free(p, n * sizeof(T)); }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const PDBBULK<U>&) const noexcept {
        return true;
    }
};

struct PDBLINES {
    std::vector<PDBLINE, PDBBULK<PDBLINE>> line;  // line i of the file, NUL-terminated
    int max = 0;                                  // number of lines: the `max` of the pre-scan and the reader
    int cut = 0;                                  // lines longer than 127 characters, kept as their first 127
};

// Each makes `out` hold the lines of the text, stream or file and returns their number. The stream is
// read to its end; the file is opened for reading in text mode and closed again. Returns -1 (with `out`
// empty) when the file cannot be opened or the stream not read. Stops through err beyond INT_MAX lines.
int pdb_lines_from_text(std::string_view text, PDBLINES& out);
int pdb_lines_from_stream(std::FILE* stream, PDBLINES& out);
int pdb_lines_from_file(const char* fname, PDBLINES& out);

// Exact sizes of what load_pdb(str_in, array, mol, 0, max, model, typ, LEVEL) fills, found by the reader's
// own column and key rules: `nbofr` residues (its result; at least 1), `nbofa` atoms in all and at most
// `maxatm` in one residue. With a later `start` the same residues go to slots start to start+nbofr-1.
struct PDBSIZE {
    int nbofr;
    int nbofa;
    int maxatm;
};

// When `rnbofa` is not empty, rnbofa[i] also receives the atom count of residue i; it must then have room
// for every residue (max+1 elements always suffice), else the run stops through err. Prints nothing.
PDBSIZE get_pdb_load_size(std::span<const PDBLINE> str_in, int max, int model, char typ,
                          std::span<int> rnbofa);

// Storage for one structure: residue slots and one atom array shared out among them.
struct PDBSTORE {
    std::vector<PDBRESI, PDBBULK<PDBRESI>> r;
    std::vector<PDBATOM, PDBBULK<PDBATOM>> a;
};

// Sizes `store` exactly for load_pdb(str_in, ..., start 0, max, model, typ, ...) (slot i views as many
// atoms as the i-th residue will hold) and returns a PDBMOL viewing its residues, ready for load_pdb.
PDBMOL make_pdb_store(std::span<const PDBLINE> str_in, int max, int model, char typ, PDBSTORE& store);

// ---- Loading without a line set ------------------------------------------------------------------------
//
// The same store, PDBMOL and output at every LEVEL as pdb_lines_from_file (or _from_text), make_pdb_store
// and load_pdb(lines.line, {&mol, 1}, 0, 0, lines.max, model, typ, LEVEL) give, without the line set: the
// lines are scanned where they lie (a file read in blocks), once to size the store exactly and once to
// fill it, both passes split into parts of 2 MiB of input at least that the cores (up to 8) take in
// turn. Memory beyond the store: a 256 KiB block per part for a file; a stream that cannot be
// read twice (a pipe) is read into memory first. Each returns the number of residues (load_pdb's result) and
// sets `mol` to view the store's residues, with that count. load_pdb_file returns -1, with errno set and the
// store and `mol` emptied, when the file cannot be opened or read. The run stops through err, as for a line
// set, beyond INT_MAX lines, and when a file changes between the two passes.
int load_pdb_file(const char* fname, int model, char typ, PDBSTORE& store, PDBMOL& mol, int LEVEL);
int load_pdb_text(std::string_view text, int model, char typ, PDBSTORE& store, PDBMOL& mol, int LEVEL);

// ---- Record display ----------------------------------------------------------------------------------
//
// Each atom is written as one line "%-6s%5d %-4s%c%3s %c%4d%c   %8.3f%8.3f%8.3f%6.2f%6.2f%-12s\n" from
// the record name, serial, atom name, alternate location, residue name, chain, residue number, insertion
// code, x, y, z, occupancy, temperature factor and segment area; the element and charge are not written.
// Before each line an alternate location "." becomes a blank in the caller's atom, and an insertion code
// "?" a blank in the residue the function holds (the caller's for display_pdbres, a copy for the others).
// An index outside the caller's arrays stops the run through err.

// Writes atoms 0 to rnbofa-1 of mol.r[res] when `ATM` is 'a' and its record name begins with "ATOM", or
// `ATM` is 'h' and it is "HETATM", or `ATM` is 'w'; otherwise nothing.
void display_pdbres(std::FILE* periph, PDBMOL mol, int res, char ATM);
// Writes atoms 0 to rnbofa-1 of `res`, with no record-kind filter.
void display_pdb1res(std::FILE* periph, PDBRESI res);
// Writes atom `k` of `res` (checked against the atom array, not against rnbofa).
void display_pdb1atm(std::FILE* periph, PDBRESI res, int k);

// ---- Atom and residue classification -----------------------------------------------------------------
// Atom, residue and element names are recognised in upper case only, file-name markers in lower case only.

// Aligns an atom name to the four columns of the PDB atom-name field: blanks and "\n" are removed, then
// one pair of enclosing "'". A name of 1 or 2 characters starts in the second column, one of 3 in the
// second too unless it begins with a digit 1-4, one of 4 fills the field. An empty name gives four
// blanks, a longer one its first four characters. Returns 4. Prints its entry line and the aligned name
// at LEVEL > 3.
int format_atm(std::string_view strin, std::string& strout, int LEVEL);

// 1 when `res.rname` is a nucleotide: exactly G, A, T, C, U or I; or beginning with +G, +A, +T, +C, +U or
// +I; or beginning with GUA, ADE, THY, CYT, URA or INO. Else 0. Prints its entry line at LEVEL > 2.
int is_nuc(PDBRESI res, int LEVEL);

// 1 when the atom name, after its leading blanks, begins with H or D, or with 1, 2 or 3 followed by H or
// D (hydrogen or deuterium). Else 0. Prints its entry line at LEVEL > 2.
int is_hydrogen(std::string_view aname, int LEVEL);

// 1 when the first three characters of `rname` name one of the twenty standard amino acids, else 0.
// LEVEL is not used.
int is_known_AA(std::string_view rname, int LEVEL);

// 1 when ".pdb" or ".ent" occurs anywhere in `fname`, else 2 when ".cif" does, else 0. LEVEL is not used.
int is_pdb_cif(std::string_view fname, int LEVEL);

// Writes the element code of an aligned atom name to `achem` and returns its atomic number (H 1, C 6,
// N 7, O 8, P 15, S 16, CL 17, SE 34, BR 35; 0 for any other code). The code is the second character and
// a blank for names of 3 or more characters and for blank-led names of 2; both characters of other names
// of 2; the character and a blank for a name of 1; empty for the empty name. Prints its entry line at
// LEVEL > 2.
int get_achem(std::string_view aname, std::string& achem, int LEVEL);

// ---- Residue patterns and selection ------------------------------------------------------------------
//
// A residue identifier is an optional chain letter, a residue number and an optional insertion letter
// (A125, 125, 125B, a125b); letters are upper-cased first, and only the 26 letters A to Z can name a chain
// or an insertion code. An expression is "*" (the whole structure), one chain letter, one identifier, or
// two identifiers separated by any of "-", ":", "," and " ". Texts of any length are handled; a text ends
// at its first NUL, as a C string would. Every message of these functions appears at LEVEL > 2, apart from
// the fatal reports and the "not found" line before one.

// Cuts `buf` into tokens at the separators "-:, " (a run of separators is one, none at the edges makes an
// empty token) and returns their number. Token k goes to array[k]; a single token is copied to array[1]
// too, so it reads as the range from itself to itself. `array` grows when it has fewer entries than are
// written; entries not written keep what they held (with no token nothing is written). In `buf` the
// separator that ends each token is overwritten with a NUL, so its text ends after the first token.
// Prints "Single residue in this pattern expression" for one token and "Range of residue in this pattern
// expression" for two.
int split_range(std::string& buf, std::vector<std::string>& array, int LEVEL);

// Cuts `buf` into items at "," and " " (same run and edge rules), then each item into at most two
// residues at "-" and ":"; returns the number of items. array[j] receives the pair (first, last) of item
// j, (r, r) for a single residue r; an item made only of "-" and ":" is counted but its pair is not
// written. `array` grows as for split_range and `buf` ends each item with a NUL. An item of more than two
// residues has no pair to hold it and stops the run through err at "SUB:SPLIT_RANGE1".
int split_range1(std::string& buf, std::vector<std::array<std::string, 2>>& array, int LEVEL);

// Parses one identifier: the first character is the chain if it is a letter, then the last character of
// what remains is the insertion letter if it is a letter; the rest is read as a leading integer (blanks
// skipped, an optional sign, digits; 0 without digits; clamped to the int range). A missing chain or
// insertion letter is a blank. `name` is left empty.
PDBRES get_res_pattern(std::string_view string, int LEVEL);

// The selectors examine residues 0 to max-1 of ar.r in storage order and append the selected indices, in
// ascending order, to the caller's list `ret` from position `idx` on; they return the new fill count. A
// residue matches a PDBRES when chain, number and insertion letter are all equal as stored (a blank
// matches only a blank). Residue numbers are never compared for order. A `max` beyond ar.r, an `idx`
// outside `ret` or a list too short for what is selected stops the run through err before anything is
// read or written outside them; a list with room for idx + max entries always suffices.

// Selects the stretch from the first residue matching `fres` to the first residue matching `lres` at or
// after it, or to max-1 when none does; nothing when no residue matches `fres`.
int get_res_range1(PDBRES fres, PDBRES lres, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);
// Selects exactly the residues among 0 to max-1 that get_res_range1 leaves out.
int get_notres_range1(PDBRES fres, PDBRES lres, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);
// Selects the residues whose rchain is `chainid`.
int get_chain_range1(char chainid, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);
// Selects the residues whose rchain is not `chainid`.
int get_notchain_range1(char chainid, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);

// The index of the last residue among 0 to max-1 of brook.r that matches the identifier `strin`. When
// none does, prints "Residue: %s is not found\n" and stops the run through err at "SUB:GET_PDB_INDEX".
int get_pdb_index(PDBMOL brook, int max, std::string_view strin, int LEVEL);

// Applies one expression to residues 0 to max-1 of brook.r and fills `select` from position 0 with the
// selected indices, ascending; with NOT non-zero, with exactly the others. Returns their number (entries
// after it keep no meaning). An expression that is neither "*" nor a single letter and splits into no
// identifier or into more than two stops the run through err at "SUB:READ_RES_PATTERN". At LEVEL > 2 it
// also dumps every atom of the selection.
int read_res_pattern(std::string_view string, PDBMOL brook, int max, std::span<int> select, int NOT,
                     int LEVEL);

// ---- Shape summary -----------------------------------------------------------------------------------

// Summarises the atoms of chain CHAIN (a blank: every chain) among the first brook.nbofr residues: at
// LEVEL > 1 prints their bounding box, centroid, radius of gyration about it and the distance from it to
// the nearest atom of the first `max` residues (any chain); returns the radius of gyration in Ångström.
// With no atom gathered it prints "WARNING: No atom found for computing rad_gyr" at LEVEL > 0 and
// returns 0.0. At LEVEL > 2 the routines it calls print their own lines as well. Counts beyond the
// caller's arrays are refused through err.
double get_pdb_rad_gyr(PDBMOL brook, int max, char CHAIN, int LEVEL);

// The distance from `target` to the nearest atom of the first `max` residues of brook.r, all chains, or
// 9999.9 when no atom lies closer than that; ties keep the atom met first. At LEVEL > 2 prints an entry
// line and the nearest atom (the first atom of the first residue when none lies closer than 9999.9, no
// atom at all when there was none to examine). Counts beyond the caller's arrays are refused through err.
double get_pdb_closest_atom(PDBMOL brook, int max, COORD target, int LEVEL);

#endif  // VOXMOL_PDB8_H
