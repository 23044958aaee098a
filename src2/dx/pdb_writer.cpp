#include <cstdio>

#include "dx/uhbdio.h"
#include "pdb8.h"

namespace {

// The four remark lines that open every written file.
constexpr const char* kRemarks =
    "REMARK  Generated from Cavora (https://cavora.bio/)\n"
    "REMARK               Transformed by voxmol \n"
    "REMARK  Please cite Cavora web service, Nucleic Acids Res. 39:W270 (2011)\n"
    "REMARK  This file can be read using VMD\n";

// One pseudo-atom. Columns (from 1):
//   1-6   "ATOM  "              7-11  serial (%5d)        13-16 "CA  "     17 altloc (blank)
//   18-20 "UNK"                 22    chain "A"            23-26 residue (%4d)
//   27    insertion (blank)     31-54 x, y, z (%8.3f)     55-60 occupancy 1.00
//   61-66 grid value (%6.2f)    67-78 twelve blanks
// A number too wide for its columns is written whole and pushes the rest of the line to the right.
void write_atom(std::FILE* file, long serial, long residue, double x, double y, double z, double value) {
    std::fprintf(file, "%-6s%5ld %-4s%c%3s %c%4ld%c   %8.3f%8.3f%8.3f%6.2f%6.2f%-12s\n", "ATOM", serial, "CA",
                 ' ', "UNK", 'A', residue, ' ', x, y, z, 1.0, value, "  ");
}

}  // namespace

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol,
              std::string_view type) {
    // The walk reads nx*ny*nz values; a grid whose array is shorter is refused rather than read past.
    const auto points = grid_points(*grd);
    if (!points || grd->data.size() < *points)
        err("MAIN:VOXDEN", "The grid holds fewer values than its dimensions");

    std::printf("\nWriting to dx file ...\n");
    std::fputs(kRemarks, file);

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
                const double X = grd->xmin + static_cast<double>(i) * grd->hx;
                const double Y = grd->ymin + static_cast<double>(j) * grd->hy;
                const double Z = grd->zmin + static_cast<double>(k) * grd->hz;
                const double value = grd->data[x_fastest ? i + nx * (j + ny * k) : v];
                if (min <= value && value <= max) {
                    ++icol;
                    if (icol == resol) {
                        ++w;
                        write_atom(file, w, resid, X, Y, Z, value);
                        icol = 0;
                    }
                }
            }
        }
    }
    std::printf("Writing to dx file : Done\n\n");
    return 1;
}
