// Reads a grid file as the converter does and writes what it read, for the checks against independent
// readers: <prefix>.json with the shape, origin, step vectors and format, and <prefix>.f64 with the
// values as raw doubles in walk order (point (i, j, k) at (i*ny + j)*nz + k).
//
// usage: grid_dump <grid file> <output prefix>
#include <cstdio>
#include <string>

#include "dx/formats/read.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: grid_dump <grid file> <output prefix>\n");
        return 2;
    }
    const GridFile in = read_grid_file(argv[1], std::nullopt, 0);
    const std::string prefix = argv[2];
    const Tuhbdgrd& g = in.grid;
    const auto a = grid_axes(g);
    std::FILE* json = std::fopen((prefix + ".json").c_str(), "w");
    std::FILE* values = std::fopen((prefix + ".f64").c_str(), "wb");
    if (json == nullptr || values == nullptr) return 1;
    std::fprintf(json,
                 "{\"format\": \"%s\", \"compression\": \"%s\", \"shape\": [%d, %d, %d],\n"
                 " \"origin\": [%.17g, %.17g, %.17g],\n"
                 " \"axes\": [[%.17g, %.17g, %.17g], [%.17g, %.17g, %.17g], [%.17g, %.17g, %.17g]]}\n",
                 in.format.c_str(), in.compression.c_str(), g.nx, g.ny, g.nz, g.xmin, g.ymin, g.zmin, a[0][0],
                 a[0][1], a[0][2], a[1][0], a[1][1], a[1][2], a[2][0], a[2][1], a[2][2]);
    const bool ok = std::fwrite(g.data.data(), sizeof(double), g.data.size(), values) == g.data.size();
    return std::fclose(json) == 0 && std::fclose(values) == 0 && ok ? 0 : 1;
}
