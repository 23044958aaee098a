// The body the binary-format reader targets share: recognition, then one reader on arbitrary bytes, both as
// a stream (no size known, as a compressed stream is read) and as a file whose size is known (checked
// before the values are allocated), and read into a selection of a window as well. What the reader reads must
// be a grid the writer can place: dimensions of at least 1, a finite origin and finite steps.
#ifndef VOXMOL_TESTS_FUZZ_BINARY_READER_FUZZ_H
#define VOXMOL_TESTS_FUZZ_BINARY_READER_FUZZ_H

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "dx/formats/format.h"
#include "fuzz_common.h"

namespace fuzz {

inline void read_binary_grid(std::FILE* in, std::size_t block, const gridfmt::Format& format) {
    std::vector<double> values;
    run([&] {
        io::BlockReader reader(in, block);
        const auto grid = format.open(reader, 0);
        const gridfmt::Geometry g = grid->read_header();
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
        grid->read_values(values, nullptr);
    });
}

// The bytes read whole and into a selection of the window [-1, 1] (stopping past 64 points): a complete
// selection holds exactly the grid's values in the window, in walk order, and its first line along z; a
// file refused one way is refused the other way too, unless the selection stopped first.
inline void compare_selection(std::string& bytes, const gridfmt::Format& format) {
    PointSelection selection;
    selection.min = -1.0;
    selection.max = 1.0;
    selection.least = 64;
    selection.share = SIZE_MAX;
    // From a file of known size, as the run reads a plain file; the selection is offered before the
    // header only for the second reading.
    auto read = [&](bool offer, auto&& body) {
        bool read_through = false;
        const int fd = memfd_create("selection_fuzz", 0);
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
            lseek(fd, 0, SEEK_SET) != 0)
            std::abort();
        std::FILE* f = fdopen(fd, "r");
        if (f == nullptr) std::abort();
        run([&] {
            io::BlockReader reader(f, 4096);
            const auto grid = format.open(reader, 0);
            if (offer) grid->offer_selection(selection);
            const gridfmt::Geometry g = grid->read_header();
            const std::size_t points = std::size_t(g.nx) * std::size_t(g.ny) * std::size_t(g.nz);
            if (points > (1u << 16) || !grid->selects()) return;
            body(*grid, points, std::size_t(g.nz));
            read_through = true;
        });
        std::fclose(f);
        return read_through;
    };
    std::vector<double> values;
    std::size_t nz = 0;
    const bool whole = read(false, [&](gridfmt::Reader& r, std::size_t points, std::size_t z) {
        values.assign(points, 0.0);
        r.read_values(values, nullptr);
        nz = z;
    });
    const bool selected =
        read(true, [&](gridfmt::Reader& r, std::size_t, std::size_t) { r.read_selection(selection); });
    if (selected && !selection.complete) return;
    if (whole != selected) std::abort();
    if (!whole) return;
    std::size_t at = 0;
    for (std::size_t w = 0; w < values.size(); ++w) {
        if (!selection.in_window(values[w])) continue;
        if (at == selection.points.size() || selection.points[at].walk != w ||
            std::memcmp(&selection.points[at].value, &values[w], sizeof(double)) != 0)
            std::abort();
        ++at;
    }
    if (at != selection.points.size() || selection.first_line.size() != nz ||
        std::memcmp(selection.first_line.data(), values.data(), nz * sizeof(double)) != 0)
        std::abort();
}

// `format_name` as the table names it; `file_name` what recognition is shown.
inline int read_binary_format(const std::uint8_t* data, std::size_t size, std::string_view format_name,
                              std::string_view file_name) {
    setup();
    std::string bytes = text(data, size);
    (void)gridfmt::recognise(std::string_view(bytes).substr(0, gridfmt::kPrefixSize), file_name);
    const gridfmt::Format& format = *gridfmt::format_named(format_name);
    if (std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "r")) {
        read_binary_grid(stream, 1 + size % 61, format);
        std::fclose(stream);
    }
    // A memory file has a descriptor and a size, as a plain file on disk has.
    const int fd = memfd_create("binary_fuzz", 0);
    if (fd < 0) std::abort();
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
    std::FILE* file = fdopen(fd, "r");
    if (file == nullptr) std::abort();
    read_binary_grid(file, 4096, format);
    std::fclose(file);
    compare_selection(bytes, format);
    return 0;
}

}  // namespace fuzz

#endif  // VOXMOL_TESTS_FUZZ_BINARY_READER_FUZZ_H
