// Text scanning shared by the pre-scan and the reader: the number conversions of the C library's
// "%d" and "%f" (as the GNU C library performs them), white space as "%s" sees it, and line access.
// The conversions work on [p, e) without copying and without a NUL terminator, so the reader can convert
// a fixed-width column in place.
#ifndef VOXMOL_PDB8_SCAN_H
#define VOXMOL_PDB8_SCAN_H

#include <cfloat>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "pdb8.h"

namespace pdbscan {

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

// The text of a line buffer. A buffer is meant to hold a NUL-terminated line of at most 127 characters;
// one without a NUL in its first 127 bytes is read as those 127, never past the buffer.
inline std::string_view line_text(const PDBLINE& line) {
    return std::string_view(line.data(), ::strnlen(line.data(), line.size() - 1));
}

// "%d": skips white space, takes an optional sign and at least one decimal digit. The digits are
// converted as strtol does (saturating at the long range) and the long is cut to int, as the C library
// stores a "%d" result, so an out-of-range number wraps rather than failing. Returns the position after
// the number, or nullptr when there is no number (the conversion fails).
inline const char* scan_int(const char* p, const char* e, int& value) {
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
    long as_long;
    if (negative) {
        as_long =
            (saturated || magnitude > std::uint64_t{1} << 63) ? LONG_MIN : static_cast<long>(0 - magnitude);
    } else {
        as_long = (saturated || magnitude > static_cast<std::uint64_t>(LONG_MAX))
                      ? LONG_MAX
                      : static_cast<long>(magnitude);
    }
    value = static_cast<int>(as_long);  // modular, as the library's store of a long into an int
    return p;
}

// The rare forms of "%f" (hexadecimal, infinity, not-a-number, out of the float range): `text` is the
// gathered number text, converted by strtof. False when strtof takes no character of it.
bool convert_float_slow(std::string_view text, float& value);

// The common case of "%f", a plain decimal such as "11.104" or "-0.5": at most 2^24 as an integer and at
// most ten digits after the point, so that integer and the power of ten are exact floats and one float
// division rounds correctly, as strtof does. [p, e) starts after the sign. False when the text is of
// another kind (exponent, hexadecimal, a second point, too many digits), which the full scan then reads.
inline bool scan_plain_decimal(const char* p, const char* e, bool negative, float& value) {
    static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must round to float");
    static constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const char* digits = p;
    std::uint32_t mantissa = 0;
    int fraction = -1;  // digits after the point, -1 before it
    for (; p < e; ++p) {
        if (is_digit(*p)) {
            if (mantissa > (1u << 24)) return false;
            mantissa = mantissa * 10 + static_cast<std::uint32_t>(*p - '0');
            if (fraction >= 0) ++fraction;
        } else if (*p == '.' && fraction < 0) {
            fraction = 0;
        } else {
            break;
        }
    }
    const std::size_t taken = static_cast<std::size_t>(p - digits);
    if (taken == 0 || (fraction == 0 && taken == 1)) return false;  // no digit
    if (p < e) {
        const char c = static_cast<char>(*p | 0x20);
        if (c == 'e' || *p == '.' || (c == 'x' && taken == 1 && *digits == '0')) return false;
    }
    if (mantissa > (1u << 24) || fraction > 10) return false;
    const float v = static_cast<float>(mantissa) / kPow10[fraction < 0 ? 0 : fraction];
    value = negative ? -v : v;
    return true;
}

// "%f" on the text [p, e) with no width: skips white space, gathers the characters the C library's
// scanner takes (sign; "nan", "inf" or "infinity" in any case; digits with one decimal point and an
// exponent, or "0x" and hexadecimal digits with a "p" exponent) and converts what it gathered the way
// strtof does, so a dangling exponent ("1e", "1e+") is dropped and "0x." reads as 0. False when nothing
// converts (blank, empty, ".", "-", "0x", "infin", ...).
inline bool scan_float(const char* p, const char* e, float& value) {
    p = skip_space(p, e);
    if (p == e) return false;
    const char* start = p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        if (++p == e) return false;
    }
    if (scan_plain_decimal(p, e, negative, value)) return true;
    const char lower = static_cast<char>(*p | 0x20);
    if (lower == 'n') {  // "nan", nothing after it is taken
        if (e - p < 3 || (p[1] | 0x20) != 'a' || (p[2] | 0x20) != 'n') return false;
        return convert_float_slow(std::string_view(start, static_cast<std::size_t>(p + 3 - start)), value);
    }
    if (lower == 'i') {  // "inf", or "infinity" once an "i" follows the "inf"
        if (e - p < 3 || (p[1] | 0x20) != 'n' || (p[2] | 0x20) != 'f') return false;
        if (e - p > 3 && (p[3] | 0x20) == 'i') {
            if (e - p < 8 || (p[4] | 0x20) != 'n' || (p[5] | 0x20) != 'i' || (p[6] | 0x20) != 't' ||
                (p[7] | 0x20) != 'y')
                return false;
        }
        return convert_float_slow(std::string_view(start, static_cast<std::size_t>(p + 3 - start)), value);
    }
    const char* mantissa = p;
    bool hex = false, got_digit = false, got_dot = false, got_e = false;
    char last = 0;  // last gathered character
    const char exp_char = [&] {
        if (*p != '0') return 'e';
        last = *p++;
        if (p < e && (*p | 0x20) == 'x') {
            hex = true;
            last = *p++;
            return 'p';
        }
        got_digit = true;
        return 'e';
    }();
    const char* exp_at = nullptr;  // position of the exponent character
    for (; p < e; ++p) {
        const char c = *p;
        if (is_digit(c) || (hex && !got_e && ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'))) {
            got_digit = true;
        } else if (got_e && (last | 0x20) == exp_char && (c == '-' || c == '+')) {
        } else if (got_digit && !got_e && (c | 0x20) == exp_char) {
            got_e = got_dot = true;
            exp_at = p;
        } else if (!got_dot && c == '.') {
            got_dot = true;
        } else {
            break;
        }
        last = c;
    }
    const std::size_t gathered = static_cast<std::size_t>(p - mantissa);
    if (gathered == 0) return false;
    if (hex) {
        if (gathered == 2) return false;  // "0x" alone
        return convert_float_slow(std::string_view(start, static_cast<std::size_t>(p - start)), value);
    }
    // Decimal: the mantissa needs a digit; an exponent without digits is left out, as strtof leaves it.
    const char* end = p;
    if (exp_at != nullptr) {
        const char* q = exp_at + 1;
        if (q < end && (*q == '+' || *q == '-')) ++q;
        if (q == end) end = exp_at;
    }
    const char* mantissa_end = exp_at != nullptr ? exp_at : end;
    bool has_digit = false;
    for (const char* q = mantissa; q < mantissa_end; ++q)
        has_digit |= is_digit(*q);
    if (!has_digit) return false;
    float v;
    const auto [ptr, ec] = std::from_chars(mantissa, end, v, std::chars_format::general);
    if (ec != std::errc() || ptr != end) {
        // Overflow to infinity or underflow to zero: strtof's own result is the one stored.
        return convert_float_slow(std::string_view(start, static_cast<std::size_t>(end - start)), value);
    }
    value = negative ? -v : v;
    return true;
}

// First blank-delimited word of a line (leading white space skipped) begins with `prefix`.
inline bool first_word_starts(std::string_view line, std::string_view prefix) {
    const char* p = skip_space(line.data(), line.data() + line.size());
    const std::size_t left = static_cast<std::size_t>(line.data() + line.size() - p);
    return left >= prefix.size() && std::memcmp(p, prefix.data(), prefix.size()) == 0;
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
