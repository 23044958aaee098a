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

const char* scan_plain_value_line(const char* p, const char* e, double& value) {
    if (p == e) return nullptr;
    const bool negative = *p == '-';
    const char* const digits = p + (negative || *p == '+' ? 1 : 0);
    const char* end = scan_e_form(digits, e, negative, value);
    if (end == nullptr) end = cscan::detail::scan_plain_decimal(digits, e, negative, value);
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
