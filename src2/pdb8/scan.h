// Text scanning shared by the pre-scan and the reader: the number conversions of the C library's
// "%d" and "%f" (from the shared scanner in string_tool2/cscan.h), white space as "%s" sees it, and
// line access. The conversions work on [p, e) without copying and without a NUL terminator, so the
// reader can convert a fixed-width column in place.
#ifndef VOXMOL_PDB8_SCAN_H
#define VOXMOL_PDB8_SCAN_H

#include <cstring>
#include <string_view>

#include "pdb8.h"
#include "string_tool2/cscan.h"

namespace pdbscan {

using cscan::is_digit;
using cscan::is_space;
using cscan::skip_space;

// The text of a line buffer. A buffer is meant to hold a NUL-terminated line of at most 127 characters;
// one without a NUL in its first 127 bytes is read as those 127, never past the buffer.
inline std::string_view line_text(const PDBLINE& line) {
    return std::string_view(line.data(), ::strnlen(line.data(), line.size() - 1));
}

// "%d": the number as strtol reads it (saturating at the long range), cut to int as the C library stores
// a "%d" result, so an out-of-range number wraps rather than failing. Returns the position after the
// number, or nullptr when there is no number (the conversion fails).
inline const char* scan_int(const char* p, const char* e, int& value) {
    long as_long = 0;
    p = cscan::scan_long(p, e, as_long);
    if (p != nullptr) value = static_cast<int>(as_long);  // modular, as the library's store of a long
    return p;
}

// "%f": true when a number converts, with `value` set as strtof sets it.
inline bool scan_float(const char* p, const char* e, float& value) {
    return cscan::scan_float(p, e, value) != nullptr;
}

// First blank-delimited word of a line (leading white space skipped) begins with `prefix`.
inline bool first_word_starts(std::string_view line, std::string_view prefix) {
    const char* p = skip_space(line.data(), line.data() + line.size());
    const std::size_t left = static_cast<std::size_t>(line.data() + line.size() - p);
    return left >= prefix.size() && std::memcmp(p, prefix.data(), prefix.size()) == 0;
}

// The first coordinate line, where the reader starts: its first word begins with "ATOM", "HETATM" or
// "MODEL".
inline bool opens_coordinates(std::string_view line) {
    return first_word_starts(line, "ATOM") || first_word_starts(line, "HETATM") ||
           first_word_starts(line, "MODEL");
}

// Residue key as the pre-scan counters read it. Fields that do not convert keep their earlier value.
struct PrescanKey {
    char chain = ' ';
    int nb = 0;
    char letter = ' ';
};

// The line read as "%s%d%s%s%c%c%d%c%s": record word, serial, atom-name word, residue-name word, one
// separator character, the chain character, the residue number, the letter character.
void read_key_words(std::string_view line, PrescanKey& key);
// The line read as "%c%c%c%c%c%c%d%c%c%c%c%c%s%c%c%d%c%s": six record characters, serial, five single
// characters, residue-name word, separator, chain, residue number, letter.
void read_key_columns(std::string_view line, PrescanKey& key);

}  // namespace pdbscan

#endif  // VOXMOL_PDB8_SCAN_H
