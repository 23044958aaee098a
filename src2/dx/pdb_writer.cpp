#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dx/atom_format.h"
#include "dx/uhbdio.h"
#include "pdb8.h"

namespace {

// The four remark lines that open every written file.
constexpr const char* kRemarks =
    "REMARK  Generated from Cavora (https://cavora.bio/)\n"
    "REMARK               Transformed by voxmol \n"
    "REMARK  Please cite Cavora web service, Nucleic Acids Res. 39:W270 (2011)\n"
    "REMARK  This file can be read using VMD\n";

// The coordinate texts ("%8.3f") of the grid positions min + i*h along one axis. A walk writes each many
// times, so each is formatted once; an axis of very many points (a degenerate grid) is formatted on the
// fly instead, so the cache never outgrows a few megabytes.
class AxisTexts {
  public:
    AxisTexts(double min, double h, long n) : min_(min), h_(h) {
        if (n > kMaxCached) return;
        texts_.reserve(static_cast<std::size_t>(n));
        char text[atomfmt::kMaxFixed];
        for (long i = 0; i < n; ++i)
            texts_.emplace_back(text, static_cast<std::size_t>(format(i, text) - text));
    }

    // The text of position i, from the cache or formatted into `scratch` (kMaxFixed bytes).
    std::string_view at(long i, char* scratch) const {
        if (static_cast<std::size_t>(i) < texts_.size()) return texts_[static_cast<std::size_t>(i)];
        return {scratch, static_cast<std::size_t>(format(i, scratch) - scratch)};
    }

  private:
    static constexpr long kMaxCached = 1 << 16;
    char* format(long i, char* out) const {
        return atomfmt::put_fixed(out, min_ + static_cast<double>(i) * h_, 8, 3);
    }

    double min_, h_;
    std::vector<std::string> texts_;
};

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Writes the pseudo-atom records into `file` through a large buffer. Each line holds the bytes of
//   "%-6s%5d %-4s%c%3s %c%4d%c   %8.3f%8.3f%8.3f%6.2f%6.2f%-12s\n"
// filled with "ATOM", serial, "CA", ' ', "UNK", 'A', residue, ' ', x, y, z, 1.0, value, "  ". Columns:
//   1-6   "ATOM  "              7-11  serial (%5d)         12    blank
//   13-16 "CA  "                17    alternate location, blank
//   18-20 "UNK"                 21    blank                22    chain "A"
//   23-26 residue (%4d)         27    insertion code, blank
//   28-30 blanks                31-54 x, y, z (%8.3f)     55-60 occupancy "  1.00"
//   61-66 grid value (%6.2f)    67-78 twelve blanks        then the line end
// A number too wide for its columns is written whole and pushes the rest of the line to the right.
class AtomWriter {
  public:
    AtomWriter(std::FILE* file, const Tuhbdgrd& grid)
        : file_(file),
          x_(grid.xmin, grid.hx, grid.nx),
          y_(grid.ymin, grid.hy, grid.ny),
          z_(grid.zmin, grid.hz, grid.nz),
          buffer_(kBufferSize) {}

    ~AtomWriter() { flush(); }
    AtomWriter(const AtomWriter&) = delete;
    AtomWriter& operator=(const AtomWriter&) = delete;

    void write(long serial, long residue, long i, long j, long k, double value) {
        if (used_ + kLongestLine > buffer_.size()) flush();
        char* out = buffer_.data() + used_;
        out = put(out, "ATOM  ");
        out = atomfmt::put_long(out, serial, 5);
        out = put(out, " CA   UNK A");
        out = atomfmt::put_long(out, residue, 4);
        out = put(out, "    ");
        out = put(out, x_.at(i, scratch_));
        out = put(out, y_.at(j, scratch_));
        out = put(out, z_.at(k, scratch_));
        out = put(out, "  1.00");
        out = atomfmt::put_fixed(out, value, 6, 2);
        out = put(out, "            \n");
        used_ = static_cast<std::size_t>(out - buffer_.data());
    }

    void flush() {
        if (used_ > 0) std::fwrite(buffer_.data(), 1, used_, file_);
        used_ = 0;
    }

  private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    // Fixed text, two integers and four numbers, each as wide as it can ever be.
    static constexpr std::size_t kLongestLine = 80 + 2 * atomfmt::kMaxLong + 4 * atomfmt::kMaxFixed;
    std::FILE* file_;
    AxisTexts x_, y_, z_;
    char scratch_[atomfmt::kMaxFixed];
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

}  // namespace

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol,
              std::string_view type) {
    // The walk reads nx*ny*nz values; a grid whose array is shorter is refused rather than read past.
    const auto points = grid_points(*grd);
    if (!points || grd->data.size() < *points)
        err("MAIN:VOXDEN", "The grid holds fewer values than its dimensions");

    std::printf("\nWriting to dx file ...\n");
    std::fputs(kRemarks, file);
    if (*points > 0) {
        AtomWriter writer(file, *grd);
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
