// Record display: atoms of the model written back as ATOM/HETATM lines.
#include "pdb8/display.h"
#include "common/text_out.h"

#include <cstring>
#include <string>

namespace pdbshow {

namespace {

// A record's text field as a NUL-terminated copy. A field is meant to end with a NUL; one that fills its
// whole array is read up to its last character, which stands in for the missing NUL, never past it.
template <std::size_t N>
struct FieldText {
    explicit FieldText(const char (&field)[N]) {
        const std::size_t n = ::strnlen(field, N - 1);
        std::memcpy(text, field, n);
        text[n] = '\0';
    }
    char text[N];
};

}  // namespace

bool residue_passes(const PDBRESI& res, char ATM) {
    switch (ATM) {
        case 'a':
            return std::strncmp(res.atom, "ATOM", 4) == 0;
        case 'h':
            return std::strncmp(res.atom, "HETATM", 6) == 0;
        case 'w':
            return true;
        default:
            return false;
    }
}

// Columns of the written line (from 1):
//   1-6   record name (%-6s)        7-11  serial (%5d)          12 blank
//   13-16 atom name (%-4s)          17    alternate location    18-20 residue name (%3s)
//   21    blank                     22    chain                 23-26 residue number (%4d)
//   27    insertion code            28-30 blanks                31-54 x, y, z (%8.3f each)
//   55-60 occupancy (%6.2f)         61-66 temperature factor (%6.2f)
//   67-78 segment area (%-12s)
// A number too wide for its columns is written whole and pushes the rest of the line to the right.
void write_atom_line(std::FILE* periph, const PDBRESI& res, const PDBATOM& atom) {
    const FieldText record(res.atom);
    const FieldText aname(atom.aname);
    const FieldText rname(res.rname);
    const FieldText segid(res.segid);
    const char aalt = atom.aalt == '.' ? ' ' : atom.aalt;
    const char rletter = res.rletter == '?' ? ' ' : res.rletter;
    std::fprintf(periph, "%-6s%5d %-4s%c%3s %c%4d%c   %8.3f%8.3f%8.3f%6.2f%6.2f%-12s\n", record.text,
                 atom.anb, aname.text, aalt, rname.text, res.rchain, res.rnb, rletter,
                 static_cast<double>(atom.x), static_cast<double>(atom.y), static_cast<double>(atom.z),
                 static_cast<double>(atom.occup), static_cast<double>(atom.bfac), segid.text);
}

void echo_residue(const PDBRESI& res, char typ) {
    if (!residue_passes(res, typ)) return;
    for (int j = 0; j < res.rnbofa; ++j)
        write_atom_line(text_out(), res, res.a[static_cast<std::size_t>(j)]);
}

}  // namespace pdbshow

namespace {

// Guarded: the atoms written are read through the residue's array, so a count beyond it is refused.
void check_atom_count(const PDBRESI& res, const char* where) {
    if (res.rnbofa > 0 && static_cast<std::size_t>(res.rnbofa) > res.a.size())
        err(where, "The residue counts " + std::to_string(res.rnbofa) + " atoms but its atom array holds " +
                       std::to_string(res.a.size()));
}

// The in-place substitutions made before each line.
void blank_alt(PDBATOM& atom) {
    if (atom.aalt == '.') atom.aalt = ' ';
}
void blank_letter(PDBRESI& res) {
    if (res.rletter == '?') res.rletter = ' ';
}

// Writes atoms 0 to rnbofa-1 of `res`, which is the caller's residue or the function's own copy.
void write_residue(std::FILE* periph, PDBRESI& res) {
    for (int k = 0; k < res.rnbofa; ++k) {
        PDBATOM& atom = res.a[static_cast<std::size_t>(k)];
        blank_alt(atom);
        blank_letter(res);
        pdbshow::write_atom_line(periph, res, atom);
    }
}

}  // namespace

void display_pdbres(std::FILE* periph, PDBMOL mol, int res, char ATM) {
    if (res < 0 || static_cast<std::size_t>(res) >= mol.r.size())
        err("SUB:DISPLAY_PDBRES", "Residue " + std::to_string(res) + " is outside the residue array of " +
                                      std::to_string(mol.r.size()));
    PDBRESI& residue = mol.r[static_cast<std::size_t>(res)];
    if (!pdbshow::residue_passes(residue, ATM)) return;
    check_atom_count(residue, "SUB:DISPLAY_PDBRES");
    write_residue(periph, residue);  // the caller's residue: its "?" becomes a blank
}

void display_pdb1res(std::FILE* periph, PDBRESI res) {
    check_atom_count(res, "SUB:DISPLAY_PDB1RES");
    write_residue(periph, res);  // the copy: the caller's residue keeps its "?"
}

void display_pdb1atm(std::FILE* periph, PDBRESI res, int k) {
    if (k < 0 || static_cast<std::size_t>(k) >= res.a.size())
        err("SUB:DISPLAY_PDB1ATM",
            "Atom " + std::to_string(k) + " is outside the atom array of " + std::to_string(res.a.size()));
    PDBATOM& atom = res.a[static_cast<std::size_t>(k)];
    blank_alt(atom);
    blank_letter(res);
    pdbshow::write_atom_line(periph, res, atom);
}
