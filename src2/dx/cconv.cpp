#include "dx/cconv.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

int scan_value_line(const char* line, double& value) {
    const char* p = line;
    switch (scan_double(p, value)) {
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
