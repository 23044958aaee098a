// The body the text-format reader targets share: recognition, then one reader on arbitrary bytes. The
// stream is read in small blocks now and then, so that lines cross the reader's block boundaries.
#ifndef VOXMOL_TESTS_FUZZ_TEXT_READER_FUZZ_H
#define VOXMOL_TESTS_FUZZ_TEXT_READER_FUZZ_H

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "dx/formats/format.h"
#include "fuzz_common.h"

namespace fuzz {

// `make` is the reader's factory; `name` the file name recognition is shown.
inline int read_grid_text(const std::uint8_t* data, std::size_t size, std::string_view name,
                          std::unique_ptr<gridfmt::Reader> (*make)(io::BlockReader&, int)) {
    setup();
    std::string bytes = text(data, size);
    (void)gridfmt::recognise(std::string_view(bytes).substr(0, gridfmt::kPrefixSize), name);
    std::FILE* in = fmemopen(bytes.data(), bytes.size(), "r");
    if (in == nullptr) return 0;  // fmemopen refuses an empty buffer
    io::BlockReader block_reader(in, size % 3 == 0 ? 16 : 1 << 16);
    std::vector<double> values;
    run([&] {
        const auto reader = make(block_reader, 0);
        const gridfmt::Geometry g = reader->read_header();
        if (g.nx < 1 || g.ny < 1 || g.nz < 1) std::abort();  // the header refuses such a grid
        // Large grids are legitimate but too slow to read millions of times; small ones reach every path.
        constexpr std::size_t kMax = 1 << 12;
        if (static_cast<std::size_t>(g.nx) > kMax || static_cast<std::size_t>(g.ny) > kMax ||
            static_cast<std::size_t>(g.nz) > kMax)
            return;
        const std::size_t points = static_cast<std::size_t>(g.nx) * g.ny * g.nz;  // below 2^36
        if (points > kMax) return;
        values.assign(points, 0.0);
        reader->read_values(values, nullptr);
    });
    std::fclose(in);
    return 0;
}

}  // namespace fuzz

#endif  // VOXMOL_TESTS_FUZZ_TEXT_READER_FUZZ_H
