#include <cstdio>
#include <thread>

#include "dx/atom_format.h"
#include "dx/uhbdio.h"
#include "pdb8.h"

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
    // The walk reads nx*ny*nz values; a grid whose array is shorter is refused rather than read past.
    const auto points = grid_points(*grd);
    if (!points || grd->data.size() < *points)
        err("MAIN:VOXDEN", "The grid holds fewer values than its dimensions");

    std::printf("\nWriting to dx file ...\n");
    std::fputs(kRemarks, file);
    if (*points > 0) {
        atomfmt::AtomWriter writer(file, *grd, threaded);
        // "ZYX" lists x fastest; every other accepted ordering ("XYZ") lists z fastest.
        const bool x_fastest = type.substr(0, 3) == "ZYX";
        const long nx = grd->nx, ny = grd->ny, nz = grd->nz;
        long v = 0;      // element of the current point in walk order (z fastest)
        int icol = 0;    // in-window points since the last written record
        long w = 0;      // serial of the last written record
        long resid = 0;  // one residue per (i, j) column of points
        for (long i = 0; i < nx; ++i) {
            for (long j = 0; j < ny; ++j) {
                ++resid;
                for (long k = 0; k < nz; ++k, ++v) {
                    const double value = grd->data[x_fastest ? i + nx * (j + ny * k) : v];
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
    }
    std::printf("Writing to dx file : Done\n\n");
    return 1;
}
