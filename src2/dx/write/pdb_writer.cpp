// The walk of the grid: x slowest, z fastest, one residue per (i, j) column, the value window and the
// thinning step, and one record for each point kept.
#include "dx/write/pdb_writer.h"
#include "common/text_out.h"

#include <cstdio>

#include "common/fatal.h"
#include "common/interrupt.h"
#include "dx/write/atom_format.h"
#include "dx/write/write_pipe.h"

void print_writing_started() {
    std::fprintf(text_out(), "\nWriting to dx file ...\n");
}

void print_writing_done() {
    std::fprintf(text_out(), "Writing to dx file : Done\n\n");
}

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol,
              std::string_view type) {
    return write_pdb(file, grd, min, max, resol, type, writepipe::second_thread_pays());
}

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol, std::string_view type,
              bool threaded) {
    print_writing_started();
    const ValueOrder order = type.substr(0, 3) == "ZYX" ? ValueOrder::x_fastest : ValueOrder::z_fastest;
    write_pdb_records(file, *grd, min, max, resol, order, threaded, nullptr);
    print_writing_done();
    return 1;
}

long write_pdb_records(std::FILE* file, const Tuhbdgrd& grid, double min, double max, int resol,
                       ValueOrder order, bool threaded, const ValueProgress* progress) {
    // The walk reads nx*ny*nz values; a grid whose array is shorter is refused rather than read past.
    const auto points = grid_points(grid);
    if (!points || grid.data.size() < *points) run_failed("The grid holds fewer values than its dimensions");
    std::fwrite(kRemarks.data(), 1, kRemarks.size(), file);
    long w = 0;  // serial of the last written record
    if (*points == 0) return w;
    atomfmt::AtomWriter writer(file, grid, threaded);
    const long nx = grid.nx, ny = grid.ny, nz = grid.nz;
    const bool x_fastest = order == ValueOrder::x_fastest;
    std::size_t ready = progress == nullptr ? *points : 0;  // values known to be final
    long v = 0;      // element of the current point in walk order (z fastest)
    int icol = 0;    // in-window points since the last written record
    long resid = 0;  // one residue per (i, j) column of points
    for (long i = 0; i < nx; ++i) {
        for (long j = 0; j < ny; ++j) {
            check_interrupt();  // a host may stop the walk between two columns
            ++resid;
            // Values still being read arrive in walk order: wait for the whole column.
            if (ready < static_cast<std::size_t>(v + nz)) {
                ready = progress->wait_for(static_cast<std::size_t>(v + nz));
                if (ready == 0) return w;  // the run was abandoned
            }
            for (long k = 0; k < nz; ++k, ++v) {
                const double value = grid.data[x_fastest ? i + nx * (j + ny * k) : v];
                if (min <= value && value <= max) {
                    ++icol;
                    if (icol == resol) {
                        ++w;
                        writer.write(w, resid, i, j, k, value);
                        icol = 0;
                    }
                }
            }
        }
    }
    return w;
}
