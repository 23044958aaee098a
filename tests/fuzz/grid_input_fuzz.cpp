// Arbitrary bytes as a grid data file, read the way the converter reads one: gzip detection and
// decompression, format recognition, and whichever reader the bytes lead to.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dx/formats/format.h"
#include "dx/formats/read.h"
#include "fuzz_common.h"

namespace {

// A scratch folder for the input files, made once per process.
const std::string& folder() {
    static const std::string dir = [] {
        std::string templ = "/tmp/voxmol-fuzz-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) std::abort();
        return templ;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    // Every other input is named as a cube file, so the bytes can reach every reader.
    const std::string path = folder() + (size % 2 == 0 ? "/grid.cube" : "/grid.dat");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    fuzz::run([&] {
        // Every third input as if -o had been given.
        std::optional<ValueOrder> order;
        if (size % 3 == 0) order = ValueOrder::x_fastest;
        gridfmt::GridReading reading(path, order, 3);
        // Large grids are legitimate but too slow and too big to fill millions of times.
        if (reading.points() > (std::size_t{1} << 20)) return;
        reading.allocate();
        reading.read_values();
    });
    return 0;
}
