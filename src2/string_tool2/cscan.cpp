#include "string_tool2/cscan.h"

#include <charconv>
#include <cstdlib>
#include <string>

namespace cscan {

namespace {

template <typename T, typename Convert>
bool convert_with(std::string_view text, T& value, Convert convert) {
    const std::string copy(text);  // strtod needs a NUL-terminated text
    char* end = nullptr;
    const T v = convert(copy.c_str(), &end);
    if (end == copy.c_str()) return false;
    value = v;
    return true;
}

}  // namespace

bool convert_slow(std::string_view text, float& value) {
    return convert_with(text, value, [](const char* s, char** end) { return std::strtof(s, end); });
}

bool convert_slow(std::string_view text, double& value) {
    return convert_with(text, value, [](const char* s, char** end) { return std::strtod(s, end); });
}

namespace detail {

namespace {

bool lower_is(const char* p, char c) {
    return (*p | 0x20) == c;
}

}  // namespace

template <typename T>
const char* scan_general(const char* start, const char* p, const char* e, bool negative, T& value) {
    if (lower_is(p, 'n')) {  // "nan"; nothing after it is taken
        if (e - p < 3 || !lower_is(p + 1, 'a') || !lower_is(p + 2, 'n')) return nullptr;
        const std::string_view text(start, static_cast<std::size_t>(p + 3 - start));
        return convert_slow(text, value) ? p + 3 : nullptr;
    }
    if (lower_is(p, 'i')) {  // "inf", or "infinity" once an "i" follows the "inf"
        if (e - p < 3 || !lower_is(p + 1, 'n') || !lower_is(p + 2, 'f')) return nullptr;
        const char* end = p + 3;
        if (e - p > 3 && lower_is(p + 3, 'i')) {
            if (e - p < 8 || !lower_is(p + 4, 'n') || !lower_is(p + 5, 'i') || !lower_is(p + 6, 't') ||
                !lower_is(p + 7, 'y'))
                return nullptr;
            end = p + 8;
        }
        const std::string_view text(start, static_cast<std::size_t>(p + 3 - start));
        return convert_slow(text, value) ? end : nullptr;
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
    if (gathered == 0) return nullptr;
    if (hex) {
        if (gathered == 2) return nullptr;  // "0x" alone
        return convert_slow(std::string_view(start, static_cast<std::size_t>(p - start)), value) ? p
                                                                                                 : nullptr;
    }
    // Decimal: the mantissa needs a digit; an exponent without digits is left out of the conversion, as
    // strtod leaves it, though the scanner has taken it.
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
    if (!has_digit) return nullptr;
    T v;
    const auto [ptr, ec] = std::from_chars(mantissa, end, v, std::chars_format::general);
    if (ec != std::errc() || ptr != end) {
        // Overflow to infinity or underflow to zero: strtod's own result is the one stored.
        const std::string_view text(start, static_cast<std::size_t>(end - start));
        return convert_slow(text, value) ? p : nullptr;
    }
    value = negative ? -v : v;
    return p;
}

template const char* scan_general(const char*, const char*, const char*, bool, float&);
template const char* scan_general(const char*, const char*, const char*, bool, double&);

}  // namespace detail

}  // namespace cscan
