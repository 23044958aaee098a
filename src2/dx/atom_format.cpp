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
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 1e-6) return put_fixed_slow(out, value, width, decimals);
    std::uint64_t n = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);

    char reversed[32];
    std::size_t len = 0;
    for (int d = 0; d < decimals; ++d, n /= 10)
        reversed[len++] = static_cast<char>('0' + n % 10);
    reversed[len++] = '.';
    do {
        reversed[len++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    if (std::signbit(value)) reversed[len++] = '-';  // printf keeps the sign of -0.0 and of -0.0004
    char text[32];
    for (std::size_t i = 0; i < len; ++i)
        text[i] = reversed[len - 1 - i];
    return pad_and_copy(out, text, len, width);
}

char* put_long(char* out, long value, int width) {
    char text[kMaxLong];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return pad_and_copy(out, text, static_cast<std::size_t>(result.ptr - text), width);
}

}  // namespace atomfmt
