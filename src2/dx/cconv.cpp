#include "dx/cconv.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace cconv {

namespace {

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads an optional sign and the digits after it, saturating to the int range. Returns false when no
// digit follows; `p` then stands where the digits were expected.
bool read_saturated_int(const char*& p, int& value) {
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return false;
    long long magnitude = 0;
    constexpr long long cap = static_cast<long long>(INT_MAX) + 1;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude < cap) magnitude = magnitude * 10 + (*p - '0');
    }
    if (magnitude > cap) magnitude = cap;
    long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX) signed_value = INT_MAX;
    value = static_cast<int>(signed_value);
    return true;
}

// Runs one scanf conversion with "%n" so the caller learns how far it read. The C library's own
// scanner decides what a number is (hex floats, inf, nan, partial exponents such as "1e").
template <typename T>
Scan scan_with(const char*& p, const char* format, T& value) {
    int consumed = 0;
    const int r = std::sscanf(p, format, &value, &consumed);
    if (r == EOF) return Scan::end;
    if (r != 1) return Scan::mismatch;
    p += consumed;
    return Scan::ok;
}

}  // namespace

Scan scan_double(const char*& p, double& value) {
    return scan_with(p, "%lf%n", value);
}

Scan scan_float(const char*& p, float& value) {
    return scan_with(p, "%f%n", value);
}

Scan scan_int(const char*& p, int& value) {
    const char* q = p;
    while (is_c_space(*q))
        ++q;
    if (*q == '\0') return Scan::end;
    if (!read_saturated_int(q, value)) return Scan::mismatch;
    p = q;
    return Scan::ok;
}

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Powers of ten that a double holds exactly.
constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The plain decimal forms that real tools write: [sign] digits [. digits] [(e|E) [sign] digits], with at
// most 19 significant digits and a value that one exact multiplication or division by a power of ten
// gives correctly rounded (mantissa below 2^53, scale within 10^±22). Returns false for every other text,
// which then goes to the C library: hex floats, inf, nan, partial exponents ("1e"), a lone sign or dot,
// long mantissas and extreme exponents.
bool plain_decimal(const char* p, const char* end, double& value) {
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Up to 19 digits fit the mantissa exactly; a longer text wraps it, and is then handed on anyway.
    std::uint64_t mantissa = 0;
    const char* const int_start = p;
    while (p < end && is_digit(*p))
        mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
    long digits = p - int_start;
    long exponent = 0;
    if (p < end && *p == '.') {
        const char* const frac_start = ++p;
        while (p < end && is_digit(*p))
            mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
        exponent = -(p - frac_start);
        digits += p - frac_start;
    }
    if (digits == 0 || digits > 19) return false;
    if (p < end && (*p == 'x' || *p == 'X')) return false;  // possibly hexadecimal
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exp_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
        if (q >= end || !is_digit(*q)) return false;
        long e = 0;
        for (; q < end && is_digit(*q); ++q) {
            if (e < 100000) e = e * 10 + (*q - '0');
        }
        exponent += exp_negative ? -e : e;
    }
    if (mantissa == 0) {
        value = negative ? -0.0 : 0.0;
        return true;
    }
    if (mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) return false;
    double v = static_cast<double>(mantissa);
    v = exponent < 0 ? v / kExactPow10[-exponent] : v * kExactPow10[exponent];
    value = negative ? -v : v;
    return true;
}

}  // namespace

int scan_value_line(std::string_view line, double& value) {
    // The line ends at a NUL byte as a C string does: a NUL stops both the white space and the number.
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end && is_c_space(*p))
        ++p;
    if (p == end || *p == '\0') return -1;
    if (plain_decimal(p, end, value)) return 1;

    const std::string text(p, end);
    const char* rest = text.c_str();
    switch (scan_double(rest, value)) {
        case Scan::ok:
            return 1;
        case Scan::mismatch:
            return 0;
        case Scan::end:
            break;
    }
    return -1;
}

int to_int(const char* text) {
    const char* p = text;
    while (is_c_space(*p))
        ++p;
    int value = 0;
    return read_saturated_int(p, value) ? value : 0;
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
