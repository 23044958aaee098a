// Differential: the converter's value-line parser against sscanf("%lf") on arbitrary bytes.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dx/cconv.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line = fuzz::text(data, size);
    double expected = 0.0;
    const int expected_r = std::sscanf(line.c_str(), "%lf", &expected);
    double got = 0.0;
    const int got_r = cconv::scan_value_line(line, got);
    if (got_r != expected_r) std::abort();
    if (got_r == 1 && !(std::isnan(got) && std::isnan(expected)) &&
        std::memcmp(&got, &expected, sizeof got) != 0) {
        std::abort();
    }
    return 0;
}
