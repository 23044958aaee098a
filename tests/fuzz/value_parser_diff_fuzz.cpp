// Differential: the shared number scanner against the C library's own sscanf on arbitrary bytes: the
// converter's value-line parser against "%lf", and each conversion ("%lf", "%f", "%d") with "%n", so that
// both the value and the count of characters taken must agree.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dx/io/cconv.h"
#include "fuzz_common.h"

namespace {

template <typename T>
bool same(T a, T b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// One conversion with "%n" against cconv's: the same verdict, value and position.
template <typename T, typename Scan>
void check_conversion(const std::string& text, const char* format, Scan scan) {
    T expected{};
    int taken = 0;
    const int r = std::sscanf(text.c_str(), format, &expected, &taken);
    T got{};
    const char* p = text.c_str();
    const cconv::Scan s = scan(p, got);
    if ((r == EOF) != (s == cconv::Scan::end)) std::abort();
    if ((r == 1) != (s == cconv::Scan::ok)) std::abort();
    if (r == 1 && (!same(got, expected) || p != text.c_str() + taken)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line = fuzz::text(data, size);
    double expected = 0.0;
    const int expected_r = std::sscanf(line.c_str(), "%lf", &expected);
    double got = 0.0;
    const int got_r = cconv::scan_value_line(line, got);
    if (got_r != expected_r) std::abort();
    if (got_r == 1 && !same(got, expected)) std::abort();
    // The fast path for whole value lines takes only lines the general one reads alike.
    const std::string whole = line + '\n';
    double fast = 0.0;
    const char* next = line.find('\n') == std::string::npos
                           ? cconv::scan_plain_value_line(whole.data(), whole.data() + whole.size(), fast)
                           : nullptr;
    if (next != nullptr) {
        double general = 0.0;
        if (next != whole.data() + whole.size() || cconv::scan_value_line(whole, general) != 1 ||
            !same(fast, general))
            std::abort();
    }

    // The inline exponent forms end where the plain decimal scan ends, with its value.
    double inline_form = 0.0, plain = 0.0;
    const char* const b = line.data();
    if (const char* end = cconv::scan_e_form(b, b + line.size(), false, inline_form)) {
        if (cscan::detail::scan_plain_decimal(b, b + line.size(), false, plain) != end ||
            !same(inline_form, plain))
            std::abort();
    }

    check_conversion<double>(line, "%lf%n",
                             [](const char*& p, double& v) { return cconv::scan_double(p, v); });
    check_conversion<float>(line, "%f%n", [](const char*& p, float& v) { return cconv::scan_float(p, v); });
    // "%d" saturates here where the C library wraps: compare within the int range only.
    long wide = 0;
    int taken = 0;
    if (std::sscanf(line.c_str(), "%ld%n", &wide, &taken) == 1 && wide > INT_MIN && wide < INT_MAX) {
        check_conversion<int>(line, "%d%n", [](const char*& p, int& v) { return cconv::scan_int(p, v); });
    }
    return 0;
}
