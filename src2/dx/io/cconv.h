// The C conversions that the grid file and the command line are read with (scanf's %lf, %f and %d,
// atoi, atof), on C strings, through the shared scanner (string_tool2/cscan.h): exact where the C
// library is exact and made safe where it is not: integers that do not fit an int saturate to the int
// range instead of wrapping or being undefined.
#ifndef VOXMOL_DX_IO_CCONV_H
#define VOXMOL_DX_IO_CCONV_H

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "string_tool2/cscan.h"

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

namespace detail {

// Whether the eight bytes of `w` are all decimal digits.
inline bool eight_digits(std::uint64_t w) {
    return ((w & 0xf0f0f0f0f0f0f0f0) | (((w + 0x0606060606060606) & 0xf0f0f0f0f0f0f0f0) >> 4)) ==
           0x3333333333333333;
}

// The number eight decimal digits make, the first at the lowest address, three multiplications for all.
inline std::uint64_t eight_digit_number(std::uint64_t w) {
    w = ((w & 0x0f0f0f0f0f0f0f0f) * 2561) >> 8;
    w = ((w & 0x00ff00ff00ff00ff) * 6553601) >> 16;
    return ((w & 0x0000ffff0000ffff) * 42949672960001) >> 32;
}

}  // namespace detail

// The exponent forms most tools write a grid's values in, printf's "%.6e" and Fortran's or printf's
// "%.5E" without their sign: "d.dddddde+dd" or "d.dddddE-dd", the letter in either case, and no digit
// right after the exponent. [d, e) starts after the sign. The mantissa and scale are those
// cscan::detail::scan_plain_decimal finds, the digits taken eight at a time, and the value is made as
// that function makes it, so the result is the same to the bit. Returns the end of the number, or
// nullptr for any other text, which the general scan then reads.
[[gnu::always_inline]] inline const char* scan_e_form(const char* d, const char* e, bool negative,
                                                      double& value) {
    static_assert(std::endian::native == std::endian::little, "the first character is the lowest byte");
    if (e - d < 11) return nullptr;
    std::uint64_t w;
    std::memcpy(&w, d, 8);  // "d.dddddd" or "d.dddddE"
    if (((w >> 8) & 0xff) != '.') return nullptr;
    w ^= std::uint64_t{'.' ^ '0'} << 8;  // the point read as a 0 digit
    long fraction = 6;
    if (((w >> 56) | 0x20) == 'e') {
        fraction = 5;
        w = (w << 8) | '0';  // "0d0ddddd": eight digits again
    } else if (e - d < 12) {
        return nullptr;
    }
    if (!detail::eight_digits(w)) return nullptr;
    const char* const x = d + 2 + fraction;  // the exponent's letter
    if ((x[0] | 0x20) != 'e' || (x[1] != '+' && x[1] != '-')) return nullptr;
    const unsigned e1 = static_cast<unsigned char>(x[2]) - unsigned{'0'};
    const unsigned e2 = static_cast<unsigned char>(x[3]) - unsigned{'0'};
    if (e1 > 9 || e2 > 9) return nullptr;
    const char* const end = x + 4;
    if (end < e && static_cast<unsigned>(static_cast<unsigned char>(*end) - unsigned{'0'}) <= 9)
        return nullptr;
    // The first digit stands 10^(fraction + 1) high in the eight, with the point's 0 after it: less
    // nine times its place in the mantissa.
    const std::uint64_t first = (fraction == 6 ? w : w >> 8) & 0x0f;
    const std::uint64_t mantissa =
        detail::eight_digit_number(w) - first * 9 * (fraction == 6 ? 1000000 : 100000);
    const long exponent = static_cast<long>(e1 * 10 + e2);
    const long scale = (x[1] == '-' ? -exponent : exponent) - fraction;
    using Pow10 = cscan::detail::Exact<double>;
    constexpr long kMaxScale = static_cast<long>(sizeof Pow10::pow10 / sizeof(double)) - 1;
    if (mantissa == 0) {
        value = negative ? -0.0 : 0.0;
        return end;
    }
    if (scale < -kMaxScale || scale > kMaxScale) return nullptr;
    const double m = static_cast<double>(static_cast<std::int64_t>(mantissa));
    const double v = scale < 0 ? m / Pow10::pow10[-scale] : m * Pow10::pow10[scale];
    value = negative ? -v : v;
    return end;
}

// `v` (not negative) with the sign `negative` gives, set without a branch: signs of values in a file
// follow no pattern a branch could learn.
[[gnu::always_inline]] inline double with_sign(double v, bool negative) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) | (std::uint64_t{negative} << 63));
}

// printf's "%.6f" of a value below 10, without its sign: "d.dddddd", ended by anything but a digit, a
// point or an exponent's letter (or by `e`). [d, e) starts after the sign. The mantissa (below 10^7) and
// the scale (-6) are those cscan::detail::scan_plain_decimal finds, and the value is made as it makes
// it, one division by 10^6, so the result is the same to the bit. Returns the end of the number, or
// nullptr for any other text.
[[gnu::always_inline]] inline const char* scan_point6_form(const char* d, const char* e, bool negative,
                                                           double& value) {
    static_assert(std::endian::native == std::endian::little, "the first character is the lowest byte");
    if (e - d < 8) return nullptr;
    std::uint64_t w;
    std::memcpy(&w, d, 8);
    if (((w >> 8) & 0xff) != '.') return nullptr;
    w ^= std::uint64_t{'.' ^ '0'} << 8;  // the point read as a 0 digit
    if (!detail::eight_digits(w)) return nullptr;
    const char* const end = d + 8;
    if (end < e) {
        const char c = *end;
        if (static_cast<unsigned>(static_cast<unsigned char>(c) - unsigned{'0'}) <= 9 || c == '.' ||
            (c | 0x20) == 'e')
            return nullptr;
    }
    // "d0dddddd" makes d * 10^7 + the six digits after the point: less nine times d * 10^6.
    const std::uint64_t mantissa = detail::eight_digit_number(w) - (w & 0x0f) * 9 * 1000000;
    value = with_sign(static_cast<double>(static_cast<std::int64_t>(mantissa)) / 1e6, negative);
    return end;
}

// A number at `p` (its first character, not white space) of [p, e), as cscan::scan_double reads it: the
// exponent forms above and plain decimals inline, without a call, any other form through the full scan.
// Returns the end of the number, or nullptr.
[[gnu::always_inline]] inline const char* scan_number(const char* p, const char* e, double& value) {
    const bool negative = *p == '-';
    const char* const digits = p + (negative || *p == '+' ? 1 : 0);
    if (const char* q = scan_e_form(digits, e, negative, value)) return q;
    if (const char* q = cscan::detail::scan_plain_decimal(digits, e, negative, value)) return q;
    return cscan::scan_double(p, e, value);
}

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
