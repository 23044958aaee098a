// Number formatting for the pseudo-atom writer: the bytes printf would write for "%<w>.<d>f" and
// "%<w>ld", produced without printf on the common path.
#ifndef VOXMOL_DX_ATOM_FORMAT_H
#define VOXMOL_DX_ATOM_FORMAT_H

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dx/uhbdio.h"

namespace atomfmt {

// Room that put_fixed may need: the widest "%.1f" of a finite double, its sign and some slack.
constexpr std::size_t kMaxFixed = 400;
// Room that put_long may write into: the widest long with its sign, and slack.
constexpr std::size_t kMaxLong = 24;

// Writes `value` at `out` exactly as printf("%*.*f", width, decimals, value) would (decimals 1 to 3) and
// returns the end of what was written. Values whose rounding a double product cannot settle (a tie at the
// last decimal, or near one), large magnitudes, infinities and not-a-number go through snprintf.
char* put_fixed(char* out, double value, int width, int decimals);

// Writes `value` right-justified in `width` columns, as printf("%*ld") would; returns the end. Bytes up to
// kMaxLong past `out` may be overwritten.
char* put_long(char* out, long value, int width);

// The coordinate texts ("%8.3f") of the grid positions min + i*h along one axis. A walk writes each many
// times, so each is formatted once; an axis of very many points (a degenerate grid) is formatted on the
// fly instead, so the cache never outgrows a few megabytes.
class AxisTexts {
  public:
    AxisTexts(double min, double h, long n) : min_(min), h_(h) {
        if (n > kMaxCached) return;
        texts_.resize(static_cast<std::size_t>(n));
        char text[kMaxFixed];
        for (long i = 0; i < n; ++i) {
            const auto size = static_cast<std::size_t>(format(i, text) - text);
            if (size > sizeof(Text::bytes)) {  // a coordinate too wide for a slot: no cache for this axis
                texts_.clear();
                return;
            }
            Text& t = texts_[static_cast<std::size_t>(i)];
            std::memcpy(t.bytes, text, size);
            t.size = static_cast<unsigned char>(size);
        }
    }

    // Writes the text of position i at `out` and returns its end. May write up to 16 bytes past the end
    // of the text itself (a cached slot is copied whole), or kMaxFixed when formatting on the fly.
    char* put(char* out, long i) const {
        if (static_cast<std::size_t>(i) < texts_.size()) {
            const Text& t = texts_[static_cast<std::size_t>(i)];
            std::memcpy(out, t.bytes, sizeof t.bytes);
            return out + t.size;
        }
        return format(i, out);
    }

  private:
    static constexpr long kMaxCached = 1 << 16;
    struct Text {
        char bytes[16];
        unsigned char size;
    };
    char* format(long i, char* out) const { return put_fixed(out, min_ + static_cast<double>(i) * h_, 8, 3); }

    double min_, h_;
    std::vector<Text> texts_;
};

inline char* put(char* out, std::string_view text) {
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
          buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

    ~AtomWriter() { flush(); }
    AtomWriter(const AtomWriter&) = delete;
    AtomWriter& operator=(const AtomWriter&) = delete;

    void write(long serial, long residue, long i, long j, long k, double value) {
        if (used_ + kLongestLine > kBufferSize) flush();
        char* out = buffer_.get() + used_;
        out = put(out, "ATOM  ");
        out = atomfmt::put_long(out, serial, 5);
        out = put(out, " CA   UNK A");
        out = atomfmt::put_long(out, residue, 4);
        out = put(out, "    ");
        out = x_.put(out, i);
        out = y_.put(out, j);
        out = z_.put(out, k);
        out = put(out, "  1.00");
        out = atomfmt::put_fixed(out, value, 6, 2);
        out = put(out, "            \n");
        used_ = static_cast<std::size_t>(out - buffer_.get());
    }

    void flush() {
        if (used_ > 0) std::fwrite(buffer_.get(), 1, used_, file_);
        used_ = 0;
    }

  private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    // Fixed text, two integers and four numbers, each as wide as it can ever be.
    static constexpr std::size_t kLongestLine = 80 + 2 * atomfmt::kMaxLong + 4 * atomfmt::kMaxFixed;
    std::FILE* file_;
    AxisTexts x_, y_, z_;
    std::unique_ptr<char[]> buffer_;  // not cleared: only what write() puts there is written out
    std::size_t used_ = 0;
};

}  // namespace atomfmt

#endif  // VOXMOL_DX_ATOM_FORMAT_H
