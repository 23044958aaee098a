// The CCP4/MRC reader on arbitrary bytes, both as a stream (no size known, as a gzip stream is read) and
// as a file whose size is known (checked before the values are allocated). What it reads must be a grid
// the writer can place: dimensions of at least 1, a finite origin and finite steps.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dx/formats/format.h"
#include "fuzz_common.h"

namespace {

void read_map(std::FILE* in) {
    std::vector<double> values;
    fuzz::run([&] {
        io::BlockReader reader(in, 4096);  // small blocks: reads cross them often
        const auto map = gridfmt::format_named("CCP4/MRC")->open(reader, 0);
        const gridfmt::Geometry g = map->read_header();
        if (g.nx < 1 || g.ny < 1 || g.nz < 1) std::abort();
        for (int d = 0; d < 3; ++d) {
            if (!std::isfinite(g.origin[d])) std::abort();
            for (double v : g.axes[d])
                if (!std::isfinite(v)) std::abort();
        }
        const std::size_t points = std::size_t(g.nx) * std::size_t(g.ny) * std::size_t(g.nz);
        // Large grids are legitimate but too slow to fill millions of times; small ones reach every path.
        if (points > (1u << 16)) return;
        values.assign(points, 0.0);
        map->read_values(values, nullptr);
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    std::string bytes = fuzz::text(data, size);
    (void)gridfmt::recognise(bytes.substr(0, gridfmt::kPrefixSize), "map.mrc");
    if (std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "r")) {
        read_map(stream);
        std::fclose(stream);
    }
    // A memory file has a descriptor and a size, as a plain file on disk has.
    const int fd = memfd_create("ccp4_fuzz", 0);
    if (fd < 0) std::abort();
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
    std::FILE* file = fdopen(fd, "r");
    if (file == nullptr) std::abort();
    read_map(file);
    std::fclose(file);
    return 0;
}
