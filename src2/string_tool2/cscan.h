// The C library's number conversions as the grid readers and the PDB toolkit read text with them
// ("%lf", "%f", "%d", strtod, strtol), on a text [p, e) that needs no NUL terminator, so a reader can
// convert a token or a fixed-width column in place.
#ifndef VOXMOL_STRING_TOOL2_CSCAN_H
#define VOXMOL_STRING_TOOL2_CSCAN_H

#include <cstdlib>
#include <string>

namespace cscan {

// White space of the C locale: blank, \t, \n, \v, \f, \r.
inline bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline const char* skip_space(const char* p, const char* e) {
    while (p < e && is_space(*p))
        ++p;
    return p;
}

// "%lf" on [p, e): skips white space and converts the longest prefix the C library's scanner takes
// (decimal with exponent, hexadecimal, inf, infinity, nan), to the bit what strtod gives for it.
// Returns the position after the number, or nullptr when no number starts there.
const char* scan_double(const char* p, const char* e, double& value);

}  // namespace cscan

#endif  // VOXMOL_STRING_TOOL2_CSCAN_H
