// The C library's number conversions as voxmol reads text with them: scanf's "%lf", "%f" and "%d" (as
// the GNU C library performs them) on a text [p, e) that needs no NUL terminator, so that a reader can
// convert a token or a fixed-width column in place. The grid readers, the converter's command line and
// the PDB toolkit all convert through here.
#ifndef VOXMOL_STRING_TOOL2_CSCAN_H
#define VOXMOL_STRING_TOOL2_CSCAN_H

#include <cfloat>
#include <charconv>
#include <climits>
#include <cstdint>
#include <string_view>

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

// "%ld" (strtol's rules): skips white space, takes an optional sign and at least one decimal digit, and
// saturates at the long range. Returns the position after the number, or nullptr when there is none.
inline const char* scan_long(const char* p, const char* e, long& value) {
    p = skip_space(p, e);
    if (p == e) return nullptr;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const char* digits = p;
    std::uint64_t magnitude = 0;
    bool saturated = false;
    for (; p < e && is_digit(*p); ++p) {
        if (magnitude > (std::uint64_t{1} << 63) / 10) saturated = true;
        if (!saturated) magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (p == digits) return nullptr;
    if (negative) {
        value =
            (saturated || magnitude > std::uint64_t{1} << 63) ? LONG_MIN : static_cast<long>(0 - magnitude);
    } else {
        value = (saturated || magnitude > static_cast<std::uint64_t>(LONG_MAX))
                    ? LONG_MAX
                    : static_cast<long>(magnitude);
    }
    return p;
}

// The rare forms (hexadecimal, infinity, not-a-number, out of range): the gathered number text converted
// by strtof or strtod, whose result is then the one stored. False when they take no character of it.
bool convert_slow(std::string_view text, float& value);
bool convert_slow(std::string_view text, double& value);

namespace detail {

// Powers of ten that the type holds exactly.
template <typename T>
struct Exact;
template <>
struct Exact<float> {
    static constexpr float pow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    static constexpr std::uint64_t max_mantissa = std::uint64_t{1} << 24;
};
template <>
struct Exact<double> {
    static constexpr double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    static constexpr std::uint64_t max_mantissa = std::uint64_t{1} << 53;
};

// The common case, a plain decimal such as "11.104", "-0.5" or "1.234567e-01": an integer mantissa and a
// power of ten that the type both holds exactly, so one multiplication or division rounds correctly, as
// strtod and strtof do. [p, e) starts after the sign. Returns the end of the number, or nullptr for any
// other kind of text (hexadecimal, a dangling exponent, too many digits, a scale out of the exact range),
// which the full scan then reads.
template <typename T>
[[gnu::always_inline]] inline const char* scan_plain_decimal(const char* p, const char* e, bool negative,
                                                             T& value) {
    static_assert(FLT_EVAL_METHOD == 0, "arithmetic must round to its type");
    constexpr long kMaxScale = static_cast<long>(sizeof Exact<T>::pow10 / sizeof(T)) - 1;
    // Digits beyond what the mantissa may hold wrap it; such a text is then handed on anyway.
    const char* const digits = p;
    std::uint64_t mantissa = 0;
    for (unsigned d; p < e && (d = static_cast<unsigned char>(*p) - unsigned{'0'}) <= 9; ++p)
        mantissa = mantissa * 10 + d;
    long fraction = -1;  // digits after the point, -1 without a point
    if (p < e && *p == '.') {
        const char* const frac_start = ++p;
        for (unsigned d; p < e && (d = static_cast<unsigned char>(*p) - unsigned{'0'}) <= 9; ++p)
            mantissa = mantissa * 10 + d;
        fraction = p - frac_start;
    }
    const long taken = (p - digits) - (fraction >= 0 ? 1 : 0);  // digits, without the point
    if (taken == 0 || taken > 19) return nullptr;
    long scale = fraction < 0 ? 0 : -fraction;
    if (p < e) {
        const char c = static_cast<char>(*p | 0x20);
        if (*p == '.' || (c == 'x' && p - digits == 1 && *digits == '0')) return nullptr;
        if (c == 'e') {
            const char* q = p + 1;
            bool exp_negative = false;
            if (q < e && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
            if (q == e || !is_digit(*q)) return nullptr;  // a dangling exponent: the full scan's case
            long exponent = 0;
            for (; q < e && is_digit(*q); ++q) {
                if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
            }
            scale += exp_negative ? -exponent : exponent;
            p = q;
        }
    }
    if (mantissa > Exact<T>::max_mantissa) return nullptr;
    if (mantissa == 0) {
        value = negative ? -T(0) : T(0);
        return p;
    }
    if (scale < -kMaxScale || scale > kMaxScale) return nullptr;
    // The mantissa is below 2^53 here: converted as a signed number, which takes one instruction.
    const T m = static_cast<T>(static_cast<std::int64_t>(mantissa));
    const T v = scale < 0 ? m / Exact<T>::pow10[-scale] : m * Exact<T>::pow10[scale];
    value = negative ? -v : v;
    return p;
}

// Every form but the plain decimal (hexadecimal, infinity, not-a-number, dangling exponents, long
// mantissas, extreme scales): `start` is the number's first character (its sign, if any), `p` the first
// after the sign.
template <typename T>
const char* scan_general(const char* start, const char* p, const char* e, bool negative, T& value);
extern template const char* scan_general(const char*, const char*, const char*, bool, float&);
extern template const char* scan_general(const char*, const char*, const char*, bool, double&);

}  // namespace detail

// "%f" / "%lf" on [p, e): skips white space, gathers the characters the C library's scanner takes (a
// sign; "nan", "inf" or "infinity" in any case; digits with one decimal point and an exponent, or "0x"
// and hexadecimal digits with a "p" exponent) and converts what it gathered the way strtof or strtod
// does, so a dangling exponent ("1e", "1e+") is taken but not converted and "0x." reads as 0. Returns the
// position after the gathered text, or nullptr when nothing converts (blank, empty, ".", "-", "0x",
// "infin", ...).
template <typename T>
[[gnu::always_inline]] inline const char* scan_real(const char* p, const char* e, T& value) {
    p = skip_space(p, e);
    if (p == e) return nullptr;
    const char* start = p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        if (++p == e) return nullptr;
    }
    if (const char* end = detail::scan_plain_decimal(p, e, negative, value)) return end;
    return detail::scan_general(start, p, e, negative, value);
}

inline const char* scan_float(const char* p, const char* e, float& value) {
    return scan_real(p, e, value);
}
inline const char* scan_double(const char* p, const char* e, double& value) {
    return scan_real(p, e, value);
}

}  // namespace cscan

#endif  // VOXMOL_STRING_TOOL2_CSCAN_H
