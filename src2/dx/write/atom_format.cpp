#include "dx/write/atom_format.h"

#include <algorithm>
#include <bit>
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

// The numbers a hybrid-36 field of `width` columns holds: decimal below `decimal_end`, then two blocks
// of `block` numbers each, counted in base 36 from `first` ("A000..." / "a000...").
struct Hy36Field {
    unsigned long decimal_end, block, first;
};
constexpr Hy36Field hy36_field(int width) {
    unsigned long decimal_end = 1, leading = 1;
    for (int d = 0; d < width; ++d)
        decimal_end *= 10;
    for (int d = 1; d < width; ++d)
        leading *= 36;
    return {decimal_end, 26 * leading, 10 * leading};
}
constexpr Hy36Field kHy36[] = {hy36_field(0), hy36_field(1), hy36_field(2), hy36_field(3),
                               hy36_field(4), hy36_field(5), hy36_field(6)};  // by width

// Every pair of digits, two characters each: decimal 00 to 99, and base 36 (0 to 36^2 - 1) in the
// upper-case and the lower-case alphabet, so that a field takes one table copy per two digits.
struct DigitPairs {
    char decimal[200];
    char upper[2 * 36 * 36];
    char lower[2 * 36 * 36];
};
constexpr DigitPairs make_digit_pairs() {
    constexpr char kUpper[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    constexpr char kLower[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    DigitPairs t{};
    for (int n = 0; n < 100; ++n) {
        t.decimal[2 * n] = static_cast<char>('0' + n / 10);
        t.decimal[2 * n + 1] = static_cast<char>('0' + n % 10);
    }
    for (int n = 0; n < 36 * 36; ++n) {
        t.upper[2 * n] = kUpper[n / 36];
        t.upper[2 * n + 1] = kUpper[n % 36];
        t.lower[2 * n] = kLower[n / 36];
        t.lower[2 * n + 1] = kLower[n % 36];
    }
    return t;
}
constexpr DigitPairs kDigitPairs = make_digit_pairs();

// The `width` last digits of `n` in the base (10 or 36) of `pairs`, right-aligned at `end`; with
// `blank_leading_zeros` the zeros before the first digit are blanks, as "%*lu" writes them.
char* put_digits(char* end, unsigned long n, int width, unsigned base, const char* pairs,
                 bool blank_leading_zeros) {
    const unsigned long square = static_cast<unsigned long>(base) * base;
    char* p = end;
    while (p - 2 >= end - width) {
        p -= 2;
        std::memcpy(p, pairs + 2 * (n % square), 2);
        n /= square;
    }
    if (p > end - width) {
        *--p = pairs[2 * (n % base) + 1];
        n /= base;
    }
    if (blank_leading_zeros) {
        for (char* q = end - width; q < end - 1 && *q == '0'; ++q)
            *q = ' ';
    }
    return end;
}

}  // namespace

char* put_hy36(char* out, long value, int width) {
    if (width < 1 || width > 6) return put_long(out, value, width);  // no hybrid-36 field this wide
    const Hy36Field f = kHy36[width];
    if (value < 0) {
        // "-999" and "-9999" still fit their field; a serial or residue number is never negative.
        if (value > -static_cast<long>(f.decimal_end / 10)) return put_long(out, value, width);
    } else {
        const auto n = static_cast<unsigned long>(value);
        if (n < f.decimal_end) return put_digits(out + width, n, width, 10, kDigitPairs.decimal, true);
        const unsigned long k = n - f.decimal_end;
        if (k < f.block) return put_digits(out + width, k + f.first, width, 36, kDigitPairs.upper, false);
        if (k - f.block < f.block)
            return put_digits(out + width, k - f.block + f.first, width, 36, kDigitPairs.lower, false);
    }
    std::memset(out, '*', static_cast<std::size_t>(width));
    return out + width;
}

Hy36Counter::Hy36Counter(int width) : width_(width) {
    static_assert(std::endian::native == std::endian::little, "the field's word holds its text low first");
    const Hy36Field f = kHy36[width >= 1 && width <= 6 ? width : 0];
    shift_ = static_cast<unsigned>(8 * (width >= 2 && width <= 8 ? width - 2 : 0));
    decimal_end_ = f.decimal_end;
    block_ = f.block;
    first_ = f.first;
    make(last_);
}

// The whole field of `value`, and where its last two digits stand: stepping them is right from 100 on in
// the decimal range (below, leading blanks come and go) and anywhere in either base-36 range.
void Hy36Counter::make(long value) {
    char text[kMaxLong + 8];
    put_hy36(text, value, width_);
    word_ = 0;
    std::memcpy(&word_, text, static_cast<std::size_t>(std::min(width_, 8)));
    square_ = 0;
    if (width_ < 3 || width_ > 6 || value < 100) return;
    const auto n = static_cast<unsigned long>(value);
    unsigned long digits;
    if (n < decimal_end_) {
        pairs_ = kDigitPairs.decimal;
        digits = n;
        square_ = 100;
    } else if (n - decimal_end_ < 2 * block_) {
        const unsigned long k = n - decimal_end_;
        pairs_ = k < block_ ? kDigitPairs.upper : kDigitPairs.lower;
        digits = (k < block_ ? k : k - block_) + first_;
        square_ = 36 * 36;
    } else {
        return;  // stars
    }
    low_ = digits % square_;
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
