// Shared by the fuzz targets: fatal errors become an exception the target catches (a fatal error is an
// expected outcome, not a finding), and standard output goes to /dev/null so printing costs little.
#ifndef VOXMOL_TESTS_FUZZ_FUZZ_COMMON_H
#define VOXMOL_TESTS_FUZZ_FUZZ_COMMON_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "pdb8.h"

namespace fuzz {

struct FatalError {};

// Once per process: err throws FatalError instead of exiting, and standard output is discarded.
inline void setup() {
    static const bool done = [] {
        set_fatal_handler([] { throw FatalError{}; });
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
        return true;
    }();
    (void)done;
}

// Runs `body`, treating a fatal error report as a normal end.
template <typename Body>
void run(Body body) {
    try {
        body();
    } catch (const FatalError&) {
    }
}

inline std::string text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz

#endif  // VOXMOL_TESTS_FUZZ_FUZZ_COMMON_H
