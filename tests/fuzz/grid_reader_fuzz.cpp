// The grid reader on arbitrary bytes, then the writer into memory, in both orderings.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    std::string bytes = fuzz::text(data, size);
    std::FILE* in = fmemopen(bytes.data(), bytes.size(), "r");
    if (in == nullptr) return 0;  // fmemopen refuses an empty buffer
    std::vector<double> values;
    fuzz::run([&] {
        Tuhbdgrd g{};
        load_header(in, &g, 3);
        const auto points = grid_points(g);
        // Large grids are legitimate but too slow to walk millions of times; small ones reach every path.
        if (!points || *points > (1u << 12)) return;
        values.assign(*points, 0.0);
        g.data = values;
        load_data(in, &g, 3);
        char* out = nullptr;
        std::size_t out_size = 0;
        std::FILE* pdb = open_memstream(&out, &out_size);
        write_pdb(pdb, &g, -1.0, 1.0, 1 + static_cast<int>(size % 3), "XYZ");
        write_pdb(pdb, &g, -1e300, 1e300, 1, "ZYX");
        std::fclose(pdb);
        std::free(out);
    });
    std::fclose(in);
    return 0;
}
