// Differential: the ATOM-line number formatting against snprintf, on arbitrary doubles and longs, and the
// mmCIF value against strtod, snprintf and std::to_chars. Hybrid-36 numbers are checked against a decoder
// in the unit tests.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dx/write/atom_format.h"
#include "dx/write/cif_writer.h"
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

// The mmCIF value: a text that reads back as the value itself; for a magnitude from 0.001 below 10^7 whose
// shortest such text has at most nine significant digits, "%.9g" of it (fixed notation, trailing zeros
// dropped); for any other value, std::to_chars's shortest text.
void check_cif_value(double v) {
    char got[64];
    const std::size_t n = static_cast<std::size_t>(ciffmt::put_value(got, v) - got);
    got[n] = '\0';
    const double back = std::strtod(got, nullptr);
    if (!(std::isnan(v) ? std::isnan(back) : back == v && std::signbit(back) == std::signbit(v)))
        std::abort();
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.9g", v);
    const double magnitude = std::fabs(v);
    if (!(magnitude >= 1e-3 && magnitude < 1e7 && std::strtod(expected, nullptr) == v)) {
        *std::to_chars(expected, expected + sizeof expected - 1, v).ptr = '\0';
    }
    if (std::strcmp(got, expected) != 0) std::abort();
}

// A batch of mmCIF value texts, made together, against the same texts made one by one.
void check_cif_batch(const ciffmt::value_text::Values& values, std::size_t count) {
    ciffmt::value_text::TextBatch batch;
    ciffmt::value_text::make_texts(values, count, batch);
    for (std::size_t r = 0; r < count; ++r) {
        ciffmt::value_text::SevenDigitText t;
        char text[32];
        const std::size_t n = ciffmt::value_text::seven_digit_text(values[r], t)
                                  ? static_cast<std::size_t>(ciffmt::value_text::put(text, t) - text)
                                  : 0;
        if (batch.length[r] != n || std::memcmp(batch.text[r], text, n) != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ciffmt::value_text::Values batch{};
    std::size_t count = 0;
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
        check_cif_value(d);
        // Short decimals of every size from 0.0001 up, as grid files write them, and their neighbours.
        const double short_value =
            static_cast<double>(l % 10000000) / std::pow(10.0, static_cast<int>(l >> 56 & 15));
        check_cif_value(short_value);
        check_cif_value(std::nextafter(short_value, 0.0));
        batch[count++] = (l & 1) != 0 ? d : short_value;
        if (count == batch.size()) {
            check_cif_batch(batch, count);
            count = 0;
        }
    }
    check_cif_batch(batch, count);
    return 0;
}
