#include "dx/atom_format.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace atomfmt {

namespace {

char* pad_and_copy(char* out, const char* text, std::size_t length, int width) {
    for (int pad = width - static_cast<int>(length); pad > 0; --pad)
        *out++ = ' ';
    std::memcpy(out, text, length);
    return out + length;
}

char* put_fixed_slow(char* out, double value, int width, int decimals) {
    char text[kMaxFixed];
    const int n = std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
    std::memcpy(out, text, static_cast<std::size_t>(n));
    return out + n;
}

}  // namespace

char* put_fixed(char* out, double value, int width, int decimals) {
    constexpr double kScale[] = {1.0, 10.0, 100.0, 1000.0};
    if (decimals < 1 || decimals > 3) return put_fixed_slow(out, value, width, decimals);
    // Below 1e9 the product carries the fraction to within 1e-7 of its exact value, so only a fraction
    // within 1e-6 of one half leaves the rounding in doubt; those go to printf, which rounds the exact
    // binary value, ties to even.
    const double scaled = std::fabs(value) * kScale[decimals];
    if (!(scaled < 1e9)) return put_fixed_slow(out, value, width, decimals);
    const auto whole = static_cast<std::uint64_t>(scaled);
    const double fraction = scaled - static_cast<double>(whole);
    if (std::fabs(fraction - 0.5) < 1e-6) return put_fixed_slow(out, value, width, decimals);
    std::uint64_t n = whole + (fraction > 0.5 ? 1 : 0);

    // printf keeps the sign of -0.0 and of values that round to zero, such as -0.0004.
    const bool negative = std::signbit(value);
    int int_digits = 1;
    for (std::uint64_t rest = n / static_cast<std::uint64_t>(kScale[decimals]); rest >= 10; rest /= 10)
        ++int_digits;
    const int length = (negative ? 1 : 0) + int_digits + 1 + decimals;
    const int field = length > width ? length : width;
    char* p = out + field;
    for (int d = 0; d < decimals; ++d, n /= 10)
        *--p = static_cast<char>('0' + n % 10);
    *--p = '.';
    do {
        *--p = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    if (negative) *--p = '-';
    while (p > out)
        *--p = ' ';
    return out + field;
}

char* put_long(char* out, long value, int width) {
    if (value < 0 || width > 20) {
        char text[kMaxLong];
        const auto result = std::to_chars(text, text + sizeof text, value);
        return pad_and_copy(out, text, static_cast<std::size_t>(result.ptr - text), width);
    }
    // The digits are written right-aligned into a blank-filled scratch area, two at a time, and the field
    // is copied out with one fixed-size copy: kMaxLong bytes, of which the field is the first part.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char scratch[2 * kMaxLong + 24];
    std::memset(scratch, ' ', sizeof scratch);
    char* const end = scratch + kMaxLong;
    char* p = end;
    auto n = static_cast<unsigned long>(value);
    while (n >= 100) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * (n % 100), 2);
        n /= 100;
    }
    if (n >= 10) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * n, 2);
    } else {
        *--p = static_cast<char>('0' + n);
    }
    const long digits = end - p;
    const long field = digits > width ? digits : width;
    std::memcpy(out, end - field, kMaxLong);
    return out + field;
}

namespace {

// `digits` base-36 digits of `n` (below 36^digits), most significant first, from the alphabet `alphabet`.
char* put_base36(char* out, long n, int digits, const char* alphabet) {
    for (int d = digits - 1; d >= 0; --d, n /= 36)
        out[d] = alphabet[n % 36];
    return out + digits;
}

long power_of_36(int exponent) {
    long p = 1;
    for (int e = 0; e < exponent; ++e)
        p *= 36;
    return p;
}

}  // namespace

char* put_hy36(char* out, long value, int width) {
    // The decimal range: up to 9999 in 4 columns, 99999 in 5; from 10^width on, the base-36 blocks.
    long decimal_end = 1;
    for (int d = 0; d < width; ++d)
        decimal_end *= 10;
    const long decimal_start = -(decimal_end / 10 - 1);  // "-999" and "-9999" still fit
    if (value >= decimal_start && value < decimal_end) return put_long(out, value, width);

    // Each block holds the 26 * 36^(width-1) numbers whose first digit is a letter: counted from
    // "A000..." (10 * 36^(width-1) in base 36), first with upper-case letters, then with lower case.
    const long leading = power_of_36(width - 1);
    const long block = 26 * leading;
    if (value >= decimal_end) {
        const long n = value - decimal_end;
        if (n < block)
            return put_base36(out, n + 10 * leading, width, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        if (n - block < block)
            return put_base36(out, n - block + 10 * leading, width, "0123456789abcdefghijklmnopqrstuvwxyz");
    }
    std::memset(out, '*', static_cast<std::size_t>(width));
    return out + width;
}

char* put_in_columns(char* out, double value, int width, int decimals, int exp_decimals) {
    char* end = put_fixed(out, value, width, decimals);
    if (end - out <= width) return end;  // the common case: the first format fits
    for (int d = decimals - 1; d >= 0; --d) {
        end = put_fixed(out, value, width, d);
        if (end - out <= width) return end;
    }
    char text[kMaxFixed];
    const int n = std::snprintf(text, sizeof text, "%*.*e", width, exp_decimals, value);
    if (n <= width) {
        std::memcpy(out, text, static_cast<std::size_t>(n));
        return out + n;
    }
    std::memset(out, '*', static_cast<std::size_t>(width));
    return out + width;
}

}  // namespace atomfmt
