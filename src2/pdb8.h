// The PDB toolkit: a chain/residue/atom model of a coordinate file, the pre-scan that sizes it, the
// fixed-column reader that fills it from lines held in memory, record display, classification, the
// residue-selection language and shape summaries. Also home of the shared COORD and MATRIX records and
// of err, the fatal error report.
//
// Ownership: the caller owns every array. Records refer to the caller's residues and atoms through
// std::span, so a record passed by value still reaches (and may change) the caller's data, and a function
// can check the capacity it was given. The toolkit never allocates the caller's arrays.
// Coordinates are in Ångström, angles in degrees.
#ifndef VOXMOL_PDB8_H
#define VOXMOL_PDB8_H

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A point or a vector.
struct COORD {
    double x;
    double y;
    double z;
};

// A 3x3 matrix held as three records; display_matrix shows them as the matrix's columns.
struct MATRIX {
    COORD A;
    COORD B;
    COORD C;
};

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
    int anb;                 // serial number, columns 7-11
    char label_atype[3];     // empty after a load
    char label_aname[7];     // empty after a load
    char aalt;               // alternate location, column 17; the display writes "." as a blank
    float x, y, z;           // columns 31-54
    float occup;             // columns 55-60; 0.0 when blank
    float bfac;              // columns 61-66; 0.0 when blank
    float rad, bon, crg, eps, sigma;  // 0.0 after a load
    char x_esd[9], y_esd[9], z_esd[9], occup_esd[9], bfac_esd[9];  // empty after a load
    char aname[6];           // atom name, the four columns 13-16 (" CA ")
    char extra[5];           // element (77-78) followed by charge (79-80); empty on a short line
};

// One residue and its atoms. The first `rnbofa` elements of `a` are valid; `a` views the caller's array.
struct PDBRESI {
    char atom[7];            // record name, columns 1-6: "ATOM  " or "HETATM"
    char label_rname[4];     // empty after a load
    char label_rchain[4];    // empty after a load
    char label_rnb[7];       // empty after a load
    int rnb;                 // residue number, columns 23-26 (residue key)
    char rname[4];           // residue name, columns 18-20 verbatim
    char rchain;             // chain identifier, column 22 (residue key)
    int rentity;             // equal to `model` after a load
    int model;               // MODEL number in force when read; 0 before any MODEL record
    char rletter;            // insertion code, column 27 (residue key); the display writes "?" as a blank
    int rnbofa;              // number of atoms held in `a`
    char segid[13];          // columns 67-76 verbatim
    std::span<PDBATOM> a;    // the residue's atoms, owned by the caller
};

// A set of residues, of any number of chains, in file order. The first `nbofr` elements of `r` are valid.
struct PDBMOL {
    char chain;              // not filled by the reader, read by nothing
    int nbofr;
    std::span<PDBRESI> r;    // the residues, owned by the caller
};

// One line of a line set: a NUL-terminated text of at most 127 characters in a 128-byte buffer.
using PDBLINE = std::array<char, 128>;

// Copies at most N-1 characters of `src` into the fixed text field `dst` and ends it with a NUL.
template <std::size_t N>
inline void copy_field(char (&dst)[N], std::string_view src) {
    const std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
    dst[n] = '\0';
}

// Fatal error report: prints "\n>ERROR IN %s\n>ERRROR : %s\n\n" on standard output and ends the process
// with exit status 1.
[[noreturn]] void err(std::string_view where, std::string_view message);

// ---- Pre-scan counters ------------------------------------------------------------------------------

int get_pdb_chain_res_atm_nb(std::span<const PDBLINE> str_in, int max, std::span<int> nbr, std::span<int> nba,
                             char typ, int LEVEL);
int get_pdb_res_atm_nb(std::span<const PDBLINE> str_in, int max, int* nba, char typ, int LEVEL);
int find_beginning1(std::span<const PDBLINE> ptr);

// ---- Reader ------------------------------------------------------------------------------------------

int load_pdb(std::span<const PDBLINE> str_in, std::span<PDBMOL> array, int mol, int start, int max, int model,
             char typ, int LEVEL);

// ---- Record display ----------------------------------------------------------------------------------

void display_pdbres(std::FILE* periph, PDBMOL mol, int res, char ATM);
void display_pdb1res(std::FILE* periph, PDBRESI res);
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

int split_range(std::string& buf, std::vector<std::string>& array, int LEVEL);
int split_range1(std::string& buf, std::vector<std::array<std::string, 2>>& array, int LEVEL);
PDBRES get_res_pattern(std::string_view string, int LEVEL);
int get_res_range1(PDBRES fres, PDBRES lres, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);
int get_notres_range1(PDBRES fres, PDBRES lres, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);
int get_chain_range1(char chainid, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);
int get_notchain_range1(char chainid, int max, PDBMOL ar, std::span<int> ret, int idx, int LEVEL);
int get_pdb_index(PDBMOL brook, int max, std::string_view strin, int LEVEL);
int read_res_pattern(std::string_view string, PDBMOL brook, int max, std::span<int> select, int NOT, int LEVEL);

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
// line and the nearest atom. Counts beyond the caller's arrays are refused through err.
double get_pdb_closest_atom(PDBMOL brook, int max, COORD target, int LEVEL);

#endif  // VOXMOL_PDB8_H
