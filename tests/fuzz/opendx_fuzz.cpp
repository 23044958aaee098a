// The OpenDX reader on arbitrary bytes, as the run drives it: recognise, read the header, then the values.
// The stream is read in small blocks so lines and binary data cross block ends.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dx/formats/format.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    std::string bytes = fuzz::text(data, size);
    (void)gridfmt::recognise(bytes, "fuzz.dx");
    std::FILE* in = fmemopen(bytes.data(), bytes.size(), "r");
    if (in == nullptr) return 0;  // fmemopen refuses an empty buffer
    std::vector<double> values;
    fuzz::run([&] {
        io::BlockReader reader(in, 1 + size % 97);
        const auto dx = gridfmt::format_named("OpenDX")->open(reader, 0);
        const gridfmt::Geometry g = dx->read_header();
        if (g.nx < 1 || g.ny < 1 || g.nz < 1) std::abort();  // the header promises at least 1 each
        const std::size_t points = static_cast<std::size_t>(g.nx) * g.ny * g.nz;
        // Large grids are legitimate but too slow to fill millions of times; small ones reach every path.
        if (points > (1u << 12)) return;
        values.assign(points, 0.0);
        dx->read_values(values, nullptr);
    });
    std::fclose(in);
    return 0;
}
