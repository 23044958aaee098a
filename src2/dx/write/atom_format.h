// Number formatting for the pseudo-atom writer: the bytes printf would write for "%<w>.<d>f" and
// "%<w>ld", produced without printf on the common path.
#ifndef VOXMOL_DX_WRITE_ATOM_FORMAT_H
#define VOXMOL_DX_WRITE_ATOM_FORMAT_H

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "dx/write/write_pipe.h"

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

// Writes `value` in exactly `width` columns (4 or 5) in the hybrid-36 encoding of PDB serial and residue
// numbers: decimal "%*ld" while it fits (up to 9999 or 99999), then `width` base-36 digits with upper-case
// letters first ("A000", "A0000"), then lower case ("a000", "a0000"), and `width` stars beyond that (or for
// a number below what the decimal field holds). Returns out + width; may overwrite kMaxLong bytes.
char* put_hy36(char* out, long value, int width);

// Writes `value` in exactly `width` columns with the first of "%*.<decimals>f", "%*.<decimals-1>f", ...,
// "%*.0f", "%*.<exp_decimals>e" whose text fits, or `width` stars when none does. A value that fits
// "%*.<decimals>f" is written exactly as put_fixed writes it. Returns out + width; may overwrite
// kMaxFixed bytes.
char* put_in_columns(char* out, double value, int width, int decimals, int exp_decimals);

// The coordinate field (8 columns: "%8.3f" down to "%8.1e") and the value field (6 columns: "%6.2f" down
// to "%6.0e") of a pseudo-atom record.
inline char* put_coordinate(char* out, double value) {
    return put_in_columns(out, value, 8, 3, 1);
}
// Every pair of decimal digits, "00" to "99".
inline constexpr char kDecimalPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Values below 99.99 in magnitude, most of a grid's, are written from the table of digit pairs with the
// rounding put_fixed decides; the others as put_in_columns writes them.
inline char* put_value(char* out, double value) {
    // put_fixed's rounding for "%6.2f", whose text for a magnitude below 99.995 always fits six columns:
    // a sign or blank, one or two digits, the point and two decimals, right-justified.
    const double scaled = std::fabs(value) * 100.0;
    if (scaled < 9999.0) {
        const auto whole = static_cast<unsigned>(scaled);
        const double fraction = scaled - static_cast<double>(whole);
        if (std::fabs(fraction - 0.5) >= 1e-6) {
            const unsigned n = whole + (fraction > 0.5 ? 1 : 0);
            const unsigned units = n / 100;
            const char sign = std::signbit(value) ? '-' : ' ';
            if (units >= 10) {
                out[0] = sign;
                std::memcpy(out + 1, kDecimalPairs + 2 * units, 2);
            } else {
                out[0] = ' ';
                out[1] = sign;
                out[2] = static_cast<char>('0' + units);
            }
            out[3] = '.';
            std::memcpy(out + 4, kDecimalPairs + 2 * (n % 100), 2);
            return out + 6;
        }
    }
    return put_in_columns(out, value, 6, 2, 0);
}

// The text of a number field (a serial or residue number, hybrid-36 as put_hy36 writes it) whose number
// mostly grows by one from record to record, or stays: the last two digits then step through a table of
// digit pairs and the rest is kept. The whole field is made again by put_hy36 when the number is not the
// previous one or the one after it, or when its last two digits wrap around (999 to 1000, A0ZZ to A100,
// the first number of a range), so every text is exactly put_hy36's.
class Hy36Counter {
  public:
    explicit Hy36Counter(int width);

    // The `width` characters of `value`'s field.
    const char* text(long value) {
        if (value != last_) {
            const bool next = static_cast<unsigned long>(value) == static_cast<unsigned long>(last_) + 1;
            if (next && low_ + 1 < square_) {
                ++low_;
                // The field is kept in one word and replaced whole: a store of two bytes into it, read
                // back at once as five, would stall the copy that follows.
                std::uint16_t pair;
                std::memcpy(&pair, pairs_ + 2 * low_, 2);
                word_ = (word_ & ~(std::uint64_t{0xffff} << shift_)) | std::uint64_t{pair} << shift_;
            } else {
                make(value);
            }
            last_ = value;
        }
        return reinterpret_cast<const char*>(&word_);
    }

  private:
    void make(long value);

    int width_;
    unsigned shift_;                             // bits below the last two characters of the field
    unsigned long decimal_end_, block_, first_;  // as put_hy36 counts the field's ranges
    long last_ = 0;
    std::uint64_t word_ = 0;              // the field's characters, first at the lowest address
    const char* pairs_ = nullptr;         // the digit pairs of the range the last number lies in
    unsigned long low_ = 0, square_ = 0;  // its last two digits, and the base squared (0: no stepping)
};

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
            format(i, text);
            std::memcpy(texts_[static_cast<std::size_t>(i)].bytes, text, kWidth);
        }
    }

    // Writes the 8 columns of position i at `out` and returns their end. May write up to kMaxFixed bytes
    // past `out` when formatting on the fly.
    char* put(char* out, long i) const {
        if (static_cast<std::size_t>(i) < texts_.size()) {
            std::memcpy(out, texts_[static_cast<std::size_t>(i)].bytes, kWidth);
            return out + kWidth;
        }
        return format(i, out);
    }

  private:
    static constexpr long kMaxCached = 1 << 16;
    static constexpr std::size_t kWidth = 8;
    struct Text {
        char bytes[kWidth];
    };
    char* format(long i, char* out) const { return put_coordinate(out, min_ + static_cast<double>(i) * h_); }

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
//   1-6   "ATOM  "              7-11  serial (%5d, then hybrid-36)
//   12    blank                 13-16 "CA  "               17    alternate location, blank
//   18-20 "UNK"                 21    blank                22    chain "A"
//   23-26 residue (%4d, then hybrid-36)                    27    insertion code, blank
//   28-30 blanks                31-54 x, y, z (%8.3f, then fewer decimals, then %8.1e)
//   55-60 occupancy "  1.00"    61-66 grid value (%6.2f, then fewer decimals, then %6.0e)
//   67-78 twelve blanks, or ten blanks and an element symbol right-justified in 77-78, then the line end
// Every field keeps its columns, so each line is 78 characters and its line end whatever the numbers;
// a fixed-column reader then reads every record right.
class AtomWriter {
  public:
    // `threaded`: the buffers are written out by a second thread while the next ones are filled.
    // `element` (at most two characters; empty: none) goes right-justified into columns 77-78.
    AtomWriter(std::FILE* file, const Tuhbdgrd& grid, bool threaded, std::string_view element = {})
        : pipe_(file, threaded),
          axes_(grid_axes(grid)),
          place_(placement(grid)),
          oblique_(is_oblique(axes_)),
          x_(grid.xmin, axes_[0][0], oblique_ ? 0 : grid.nx),
          y_(grid.ymin, axes_[1][1], oblique_ ? 0 : grid.ny),
          z_(grid.zmin, axes_[2][2], oblique_ ? 0 : grid.nz),
          buffer_(pipe_.buffer()) {
        std::memcpy(tail_, "            \n", sizeof tail_);
        const std::size_t n = element.size() < 2 ? element.size() : 2;
        if (n > 0) std::memcpy(tail_ + 12 - n, element.data(), n);
    }

    ~AtomWriter() { flush(); }  // the pipe then writes out the rest
    AtomWriter(const AtomWriter&) = delete;
    AtomWriter& operator=(const AtomWriter&) = delete;

    void write(long serial, long residue, long i, long j, long k, double value) {
        if (used_ + kLongestLine > pipe_.buffer_size()) flush();
        char* out = buffer_ + used_;
        if (oblique_) {
            out = put(out, "ATOM  ");
            std::memcpy(out, serial_.text(serial), 5);
            out = put(out + 5, " CA   UNK A");
            std::memcpy(out, residue_.text(residue), 4);
            out = put(out + 4, "    ");
            out = put_oblique(out, i, j, k);
        } else {
            // Columns 1-46 are the same for every point of an (i, j) column but the serial: made once
            // for the column, copied whole, the serial put over its placeholder.
            if (residue != column_residue_ || i != column_i_ || j != column_j_) start_column(residue, i, j);
            std::memcpy(out, column_, kColumnBytes);
            std::memcpy(out + 6, serial_.text(serial), 5);
            out = z_.put(out + kColumnBytes, k);
        }
        out = put(out, "  1.00");
        out = atomfmt::put_value(out, value);
        std::memcpy(out, tail_, sizeof tail_);
        out += sizeof tail_;
        used_ = static_cast<std::size_t>(out - buffer_);
    }

    // Hands what was written so far to the file.
    void flush() {
        pipe_.submit(used_);
        buffer_ = pipe_.buffer();
        used_ = 0;
    }

  private:
    // Columns 1-46 of the records of column (i, j): "ATOM  ", a blank serial, " CA   UNK A", the
    // residue, four blanks, x and y.
    void start_column(long residue, long i, long j) {
        char* p = put(column_, "ATOM       ");
        p = put(p, " CA   UNK A");
        std::memcpy(p, residue_.text(residue), 4);
        p = put(p + 4, "    ");
        p = x_.put(p, i);
        y_.put(p, j);
        column_residue_ = residue;
        column_i_ = i;
        column_j_ = j;
    }

    static Tuhbdgrd placement(const Tuhbdgrd& grid) {
        Tuhbdgrd p = grid;
        p.data = {};
        return p;
    }

    // Axes with a step off the diagonal: a coordinate then depends on more than one of i, j, k.
    static bool is_oblique(const std::array<std::array<double, 3>, 3>& a) {
        return a[0][1] != 0.0 || a[0][2] != 0.0 || a[1][0] != 0.0 || a[1][2] != 0.0 || a[2][0] != 0.0 ||
               a[2][1] != 0.0;
    }

    // The position origin + i*a + j*b + k*c, each coordinate formatted on the spot.
    char* put_oblique(char* out, long i, long j, long k) const {
        for (double c : grid_position(place_, axes_, i, j, k))
            out = put_coordinate(out, c);
        return out;
    }

    // Fixed text, two integers and four numbers, each with the room its formatter may overwrite.
    static constexpr std::size_t kLongestLine = 80 + 2 * atomfmt::kMaxLong + 4 * atomfmt::kMaxFixed;
    writepipe::WritePipe pipe_;
    std::array<std::array<double, 3>, 3> axes_;
    Tuhbdgrd place_;  // the grid's origin and spacings, without its values
    bool oblique_;
    AxisTexts x_, y_, z_;  // axis-aligned grids: the texts of each axis's positions, made once
    Hy36Counter serial_{5}, residue_{4};
    static constexpr std::size_t kColumnBytes = 46;
    char column_[kColumnBytes + 2 * kMaxFixed];  // the coordinate formatters may write past their field
    long column_residue_ = -1, column_i_ = -1, column_j_ = -1;
    char* buffer_;  // the pipe's current buffer
    std::size_t used_ = 0;
    char tail_[13];  // columns 67-78 and the line end
};

}  // namespace atomfmt

#endif  // VOXMOL_DX_WRITE_ATOM_FORMAT_H
