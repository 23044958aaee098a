/* The conversion done the straightforward way, as a yardstick for voxmol's speed: fgets into a
 * 512-byte buffer and sscanf for every line, fprintf for every ATOM line. It writes the same file as
 * voxmol for well-formed input (XYZ ordering) whose coordinates and values fit their columns; serial
 * and residue numbers past the decimal range are written in hybrid-36, as voxmol writes them.
 * usage: baseline <datafile> <output> <min> <max> <resol> */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A serial (width 5) or residue number (width 4) in hybrid-36: decimal, then upper-case base 36. */
static const char* hy36(long value, int width, char* out) {
    long decimal_end = width == 5 ? 100000 : 10000, leading = width == 5 ? 36L * 36 * 36 * 36 : 36L * 36 * 36;
    if (value < decimal_end) {
        sprintf(out, "%*ld", width, value);
        return out;
    }
    long n = value - decimal_end + 10 * leading;
    out[width] = '\0';
    for (int d = width - 1; d >= 0; --d, n /= 36)
        out[d] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[n % 36];
    return out;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: baseline <datafile> <output> <min> <max> <resol>\n");
        return 2;
    }
    const double tmin = atof(argv[3]), tmax = atof(argv[4]);
    const int resol = atoi(argv[5]);
    FILE* in = fopen(argv[1], "rt");
    if (!in) return 1;
    char line[512];
    double minX, minY, minZ, maxX, maxY, maxZ;
    int nv, nc, nx = 0, ny = 0, nz = 0;
    float ox, oy, oz, sx, sy, sz;
    while (fgets(line, sizeof line, in)) {
        if (line[0] == '!' || line[0] == '\n' || line[0] == '\0') continue;
        int n = sscanf(line, "%lf %lf %lf %lf %lf %lf %d %d %d %d %d %f %f %f %f %f %f\n", &minX, &minY, &minZ,
                       &maxX, &maxY, &maxZ, &nv, &nc, &nx, &ny, &nz, &ox, &oy, &oz, &sx, &sy, &sz);
        if (n == 17) break;
        printf("WARNING: There are %d fields in the header, instead of 17\n", n);
    }
    const double hx = fabs((maxX - minX) / (nx - 1)), hy = fabs((maxY - minY) / (ny - 1)),
                 hz = fabs((maxZ - minZ) / (nz - 1));
    const long count = (long)nx * ny * nz;
    double* data = calloc(count, sizeof(double));
    if (!data) return 1;
    long nb = 0;
    double value = 0.0;
    while (fgets(line, sizeof line, in)) {
        if (line[0] == '!' || line[0] == '\n' || line[0] == '\0') continue;
        sscanf(line, "%lf\n", &value);
        if (nb < count) data[nb] = value;
        ++nb;
    }
    fclose(in);
    FILE* out = fopen(argv[2], "wt");
    if (!out) return 1;
    fprintf(out, "REMARK  Generated from Cavora (https://cavora.bio/)\n");
    fprintf(out, "REMARK               Transformed by voxmol \n");
    fprintf(out, "REMARK  Please cite the Cavora web service (https://cavora.bio/)\n");
    fprintf(out, "REMARK  This file can be read using VMD\n");
    long v = 0, w = 0;
    int icol = 0, resid = 0;
    for (int i = 0; i < nx; ++i) {
        for (int j = 0; j < ny; ++j) {
            ++resid;
            for (int k = 0; k < nz; ++k, ++v) {
                const double X = minX + i * hx, Y = minY + j * hy, Z = minZ + k * hz;
                if (tmin <= data[v] && data[v] <= tmax && ++icol == resol) {
                    ++w;
                    char serial[32], residue[32];
                    fprintf(out, "%-6s%s %-4s%c%3s %c%s%c   %8.3f%8.3f%8.3f%6.2f%6.2f%-12s\n", "ATOM",
                            hy36(w, 5, serial), "CA", ' ', "UNK", 'A', hy36(resid, 4, residue), ' ', X, Y, Z, 1.0,
                            data[v], "  ");
                    icol = 0;
                }
            }
        }
    }
    return fclose(out) != 0;
}
