#include <cstdio>
#include <thread>

#include "dx/write/atom_format.h"
#include "dx/uhbdio.h"
#include "dx/value_progress.h"
#include "common/fatal.h"

namespace {

// The four remark lines that open every written file.
constexpr const char* kRemarks =
    "REMARK  Generated from Cavora (https://cavora.bio/)\n"
    "REMARK               Transformed by voxmol \n"
    "REMARK  Please cite the Cavora web service (https://cavora.bio/)\n"
    "REMARK  This file can be read using VMD\n";

}  // namespace

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol,
              std::string_view type) {
    return write_pdb(file, grd, min, max, resol, type, std::thread::hardware_concurrency() > 1);
}

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol, std::string_view type,
              bool threaded) {
    std::printf("\nWriting to dx file ...\n");
    write_pdb_records(file, *grd, min, max, resol, type.substr(0, 3) == "ZYX", threaded, nullptr);
    std::printf("Writing to dx file : Done\n\n");
    return 1;
}

long write_pdb_records(std::FILE* file, const Tuhbdgrd& grid, double min, double max, int resol,
                       bool x_fastest, bool threaded, const ValueProgress* progress) {
    // The walk reads nx*ny*nz values; a grid whose array is shorter is refused rather than read past.
    const auto points = grid_points(grid);
    if (!points || grid.data.size() < *points)
        run_failed("The grid holds fewer values than its dimensions");
    std::fputs(kRemarks, file);
    long w = 0;  // serial of the last written record
    if (*points == 0) return w;
    atomfmt::AtomWriter writer(file, grid, threaded);
    const long nx = grid.nx, ny = grid.ny, nz = grid.nz;
    std::size_t ready = progress == nullptr ? *points : 0;  // values known to be final
    long v = 0;      // element of the current point in walk order (z fastest)
    int icol = 0;    // in-window points since the last written record
    long resid = 0;  // one residue per (i, j) column of points
    for (long i = 0; i < nx; ++i) {
        for (long j = 0; j < ny; ++j) {
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
