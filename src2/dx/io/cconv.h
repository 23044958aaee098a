// The C conversions that the grid file and the command line are read with (scanf's %lf, %f and %d,
// atoi, atof), on C strings, through the shared scanner (string_tool2/cscan.h): exact where the C
// library is exact and made safe where it is not: integers that do not fit an int saturate to the int
// range instead of wrapping or being undefined.
#ifndef VOXMOL_DX_IO_CCONV_H
#define VOXMOL_DX_IO_CCONV_H

#include <string_view>

namespace cconv {

// Outcome of one scanf-style conversion: a value, a text that is not a number, or the end of the text
// reached while skipping white space (what makes scanf return EOF before its first conversion).
enum class Scan { ok, mismatch, end };

// Each skips leading white space as scanf does, converts one field and on success moves `p` past it.
Scan scan_double(const char*& p, double& value);  // "%lf"
Scan scan_float(const char*& p, float& value);    // "%f"
Scan scan_int(const char*& p, int& value);        // "%d", saturated to the int range

// sscanf(line, "%lf") for a value line: 1 with `value` set, 0 when the line does not start with a
// number, -1 when it holds nothing but white space. The line ends at its first NUL byte, as a C string
// does. The result is always the C library's to the bit.
int scan_value_line(std::string_view line, double& value);

// A value line as the common writers leave it, a plain decimal number right at the start of the line
// and its "\n" right after it ("-1.234567e-01\n", "0.25\n"), inside [p, e): its value, the one
// scan_value_line gives, and the position after the "\n"; nullptr for any other line, which is then
// left to scan_value_line.
const char* scan_plain_value_line(const char* p, const char* e, double& value);

// atoi: leading white space, an optional sign, decimal digits; 0 without digits; saturated.
int to_int(const char* text);
// atof (strtod rules: hex floats, inf, nan, exponents).
double to_double(const char* text);
// (int)atof(text), truncated toward zero and saturated; not-a-number gives 0.
int to_int_truncated(const char* text);

}  // namespace cconv

#endif  // VOXMOL_DX_IO_CCONV_H
