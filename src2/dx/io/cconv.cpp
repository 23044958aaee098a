#include "dx/io/cconv.h"

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "string_tool2/cscan.h"

namespace cconv {

namespace {

// The long that strtol reads, brought into the int range: out-of-range numbers saturate.
int saturated(long value) {
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// One conversion on the C string at `p`, as scanf would make it there: Scan::end when only white space
// is left (scanf's EOF), else the converter's verdict; on success `p` moves past the number.
template <typename Convert>
Scan scan_c_string(const char*& p, Convert convert) {
    const char* const e = p + std::strlen(p);
    if (cscan::skip_space(p, e) == e) return Scan::end;
    const char* end = convert(p, e);
    if (end == nullptr) return Scan::mismatch;
    p = end;
    return Scan::ok;
}

}  // namespace

Scan scan_double(const char*& p, double& value) {
    return scan_c_string(p, [&](const char* b, const char* e) { return cscan::scan_double(b, e, value); });
}

Scan scan_float(const char*& p, float& value) {
    return scan_c_string(p, [&](const char* b, const char* e) { return cscan::scan_float(b, e, value); });
}

Scan scan_int(const char*& p, int& value) {
    return scan_c_string(p, [&](const char* b, const char* e) {
        long v = 0;
        const char* end = cscan::scan_long(b, e, v);
        if (end != nullptr) value = saturated(v);
        return end;
    });
}

int scan_value_line(std::string_view line, double& value) {
    // The line ends at a NUL byte as a C string does: a NUL is neither white space nor part of a number,
    // so it stops both the skipping and the scan.
    const char* const e = line.data() + line.size();
    const char* const p = cscan::skip_space(line.data(), e);
    if (p == e || *p == '\0') return -1;
    // The plain decimals real tools write are settled inline; every other form takes the full scan.
    const bool negative = *p == '-';
    const char* const digits = p + (negative || *p == '+' ? 1 : 0);
    if (cscan::detail::scan_plain_decimal(digits, e, negative, value) != nullptr) return 1;
    return cscan::scan_double(p, e, value) != nullptr ? 1 : 0;
}

namespace {

// Whether the eight bytes of `w` are all decimal digits.
bool eight_digits(std::uint64_t w) {
    return ((w & 0xf0f0f0f0f0f0f0f0) | (((w + 0x0606060606060606) & 0xf0f0f0f0f0f0f0f0) >> 4)) ==
           0x3333333333333333;
}

// The number eight decimal digits make, the first at the lowest address, three multiplications for all.
std::uint64_t eight_digit_number(std::uint64_t w) {
    w = ((w & 0x0f0f0f0f0f0f0f0f) * 2561) >> 8;
    w = ((w & 0x00ff00ff00ff00ff) * 6553601) >> 16;
    return ((w & 0x0000ffff0000ffff) * 42949672960001) >> 32;
}

// printf's "%.6e" followed by the line end, "d.dddddde+dd\n", the way most tools write a grid: [d, e)
// starts after the sign. Its mantissa and scale are those scan_plain_decimal finds, taken eight
// characters at a time, and its value is made as that function makes it, so the result is the same to
// the bit. nullptr for any other text.
const char* scan_e6_line(const char* d, const char* e, bool negative, double& value) {
    if (e - d < 13) return nullptr;
    std::uint64_t w;
    std::memcpy(&w, d, 8);  // "d.dddddd"
    static_assert(std::endian::native == std::endian::little, "the first character is the lowest byte");
    if (((w >> 8) & 0xff) != '.') return nullptr;
    w ^= std::uint64_t{'.' ^ '0'} << 8;  // the point read as a 0 digit
    if (!eight_digits(w)) return nullptr;
    if ((d[8] | 0x20) != 'e' || (d[9] != '+' && d[9] != '-') || d[12] != '\n') return nullptr;
    const unsigned e1 = static_cast<unsigned char>(d[10]) - unsigned{'0'};
    const unsigned e2 = static_cast<unsigned char>(d[11]) - unsigned{'0'};
    if (e1 > 9 || e2 > 9) return nullptr;
    // d0 * 10^7 + 0 * 10^6 + the six decimals, less the first digit's extra nine millions.
    const std::uint64_t mantissa = eight_digit_number(w) - (w & 0x0f) * 9000000;
    const long exponent = static_cast<long>(e1 * 10 + e2);
    const long scale = (d[9] == '-' ? -exponent : exponent) - 6;
    using Pow10 = cscan::detail::Exact<double>;
    constexpr long kMaxScale = static_cast<long>(sizeof Pow10::pow10 / sizeof(double)) - 1;
    if (mantissa == 0) {
        value = negative ? -0.0 : 0.0;
        return d + 13;
    }
    if (scale < -kMaxScale || scale > kMaxScale) return nullptr;
    const double m = static_cast<double>(static_cast<std::int64_t>(mantissa));
    const double v = scale < 0 ? m / Pow10::pow10[-scale] : m * Pow10::pow10[scale];
    value = negative ? -v : v;
    return d + 13;
}

}  // namespace

const char* scan_plain_value_line(const char* p, const char* e, double& value) {
    if (p == e) return nullptr;
    const bool negative = *p == '-';
    const char* const digits = p + (negative || *p == '+' ? 1 : 0);
    if (const char* next = scan_e6_line(digits, e, negative, value)) return next;
    const char* end = cscan::detail::scan_plain_decimal(digits, e, negative, value);
    return end != nullptr && end < e && *end == '\n' ? end + 1 : nullptr;
}

int to_int(const char* text) {
    long v = 0;
    return cscan::scan_long(text, text + std::strlen(text), v) != nullptr ? saturated(v) : 0;
}

double to_double(const char* text) {
    return std::strtod(text, nullptr);
}

int to_int_truncated(const char* text) {
    const double d = to_double(text);
    if (std::isnan(d)) return 0;
    if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(d);
}

}  // namespace cconv
