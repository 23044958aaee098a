// Differential: the ATOM-line number formatting against snprintf, on arbitrary doubles and longs.
// Hybrid-36 numbers are checked against a decoder in the unit tests.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dx/write/atom_format.h"
#include "fuzz_common.h"

namespace {

void check_fixed(double v, int width, int decimals) {
    char got[atomfmt::kMaxFixed + 32];
    const char* end = atomfmt::put_fixed(got, v, width, decimals);
    char expected[atomfmt::kMaxFixed];
    const int n = std::snprintf(expected, sizeof expected, "%*.*f", width, decimals, v);
    if (end - got != n || std::memcmp(got, expected, static_cast<std::size_t>(n)) != 0) std::abort();
}

void check_long(long v, int width) {
    char got[2 * atomfmt::kMaxLong];
    const char* end = atomfmt::put_long(got, v, width);
    char expected[64];
    const int n = std::snprintf(expected, sizeof expected, "%*ld", width, v);
    if (end - got != n || std::memcmp(got, expected, static_cast<std::size_t>(n)) != 0) std::abort();
}

// The column-keeping ladder: the first of the fixed formats, then the exponent form, that fits.
void check_columns(double v, int width, int decimals, int exp_decimals) {
    char got[atomfmt::kMaxFixed + 32];
    const char* end = atomfmt::put_in_columns(got, v, width, decimals, exp_decimals);
    char expected[atomfmt::kMaxFixed];
    int n = width + 1;
    for (int d = decimals; d >= 0 && n > width; --d)
        n = std::snprintf(expected, sizeof expected, "%*.*f", width, d, v);
    if (n > width) n = std::snprintf(expected, sizeof expected, "%*.*e", width, exp_decimals, v);
    if (n > width) n = std::snprintf(expected, sizeof expected, "%.*s", width, "********");
    if (end - got != n || std::memcmp(got, expected, static_cast<std::size_t>(n)) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        double d;
        long l;
        std::memcpy(&d, data + at, 8);
        std::memcpy(&l, data + at, 8);
        check_fixed(d, 6, 2);
        check_fixed(d, 8, 3);
        // The bits as a scaled value, so ties and near-ties at the last decimal are reached often.
        check_fixed(static_cast<double>(l % 100000000) / 2000.0, 6, 2);
        check_fixed(static_cast<double>(l % 100000000) / 20000.0, 8, 3);
        check_long(l, 5);
        check_long(l % 100000, 4);
        check_columns(d, 6, 2, 0);
        check_columns(d, 8, 3, 1);
        check_columns(static_cast<double>(l % 100000000000) / 1000.0, 8, 3, 1);
    }
    return 0;
}
