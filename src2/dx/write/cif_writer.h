// The pseudo-atom records as PDBx/mmCIF: one _atom_site loop, numbers as plain integers at any size, the
// coordinates to three decimals and each value at full precision.
#ifndef VOXMOL_DX_WRITE_CIF_WRITER_H
#define VOXMOL_DX_WRITE_CIF_WRITER_H

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "dx/write/atom_format.h"
#include "dx/write/write_pipe.h"

namespace ciffmt {

// Writes "%.3f" of `value` (no padding) at `out` and returns the end; may write atomfmt::kMaxFixed bytes.
char* put_coordinate(char* out, double value);
// Writes the shortest decimal text that reads back as exactly `value` (std::to_chars) and returns the end;
// at most 32 bytes.
char* put_value(char* out, double value);

// The common case of put_value, inline in every row: a value of moderate size whose shortest text has at
// most nine significant digits (every value read from a text with that many, as grid files write them:
// APBS "%12.6E", cube files "%13.5E", AutoDock "%.3f"). Seven digits are tried here, nine (which holds
// eight) by put_value_rest: each as the integer n nearest value * 10^d, written with d decimals when
// n / 10^d gives back the value itself. That quotient of two exact doubles is rounded once, correctly, as
// a reader's conversion of the text rounds it; and when some text of that many digits reads back as the
// value, the product lies within a hair of its integer, so the rounding of the product finds it. Trailing
// zeros of the fraction are dropped.
namespace value_text {

// The decade of a magnitude of binary exponent 2^-10 to 2^23: floor(log10) is `least`, or one more from
// `next` (10^(least + 1)) on.
struct Decade {
    double next;
    int least;
};
inline constexpr Decade kDecades[] = {
    {1e-3, -4}, {1e-2, -3}, {1e-2, -3}, {1e-2, -3}, {1e-1, -2}, {1e-1, -2}, {1e-1, -2}, {1e0, -1}, {1e0, -1},
    {1e0, -1},  {1e1, 0},   {1e1, 0},   {1e1, 0},   {1e1, 0},   {1e2, 1},   {1e2, 1},   {1e2, 1},  {1e3, 2},
    {1e3, 2},   {1e3, 2},   {1e4, 3},   {1e4, 3},   {1e4, 3},   {1e4, 3},   {1e5, 4},   {1e5, 4},  {1e5, 4},
    {1e6, 5},   {1e6, 5},   {1e6, 5},   {1e7, 6},   {1e7, 6},   {1e7, 6},   {1e7, 6}};
inline constexpr unsigned kLowestExponent = 1023 - 10;  // the biased binary exponent of kDecades[0]

// The three decimal digits of every number below 1000, one to a byte as numbers 0-9, the first at the
// lowest address (a table small enough to stay in the first-level cache beside the rows being written).
struct DigitTriples {
    std::uint32_t of[1000];
};
constexpr DigitTriples make_digit_triples() {
    DigitTriples t{};
    for (std::uint32_t i = 0; i < 1000; ++i)
        t.of[i] = (i / 100) | (i / 10 % 10) << 8 | (i % 10) << 16;
    return t;
}
inline constexpr DigitTriples kDigitTriples = make_digit_triples();

// How a value of decade e (-3 to 6) is written with seven significant digits: at or above 1, the digits
// with the point after e + 1 of them; below 1, "0.", -e - 1 zeros and the digits. Both are made by the
// same three stores, their words and places taken from this table rather than chosen by branches (whether
// a value lies below 1 follows no pattern a branch predictor learns).
struct SevenDigitLayout {
    double scale;        // 10^(6 - e): the seven digits are the value times this
    std::uint64_t keep;  // the digits kept in the first word stored
    std::uint64_t lead;  // and what is added to them: "0.00" below 1
    int point;           // where the point goes
    int shift;           // the digits after the point: the seven shifted right by this many bits,
    int at;              // stored here
    int full;            // the length with every digit shown
    int decimals;        // 6 - e
};
inline constexpr std::uint64_t kZeroPoint = 0x3030'2e30;  // "0.00"
inline constexpr std::uint64_t kAll = ~std::uint64_t{0};
inline constexpr SevenDigitLayout kSevenDigitLayouts[] = {
    {1e9, 0, kZeroPoint, 1, 0, 4, 11, 9}, {1e8, 0, kZeroPoint, 1, 0, 3, 10, 8},
    {1e7, 0, kZeroPoint, 1, 0, 2, 9, 7},  {1e6, kAll, 0, 1, 8, 2, 8, 6},
    {1e5, kAll, 0, 2, 16, 3, 8, 5},       {1e4, kAll, 0, 3, 24, 4, 8, 4},
    {1e3, kAll, 0, 4, 32, 5, 8, 3},       {1e2, kAll, 0, 5, 40, 6, 8, 2},
    {1e1, kAll, 0, 6, 48, 7, 8, 1},       {1e0, kAll, 0, 7, 56, 8, 8, 0}};

// The text of a value of at most seven significant digits, made in registers: its sign, the two words
// and the point that put() stores, and its length.
struct SevenDigitText {
    std::uint64_t first, rest;
    int sign, point, at, length;
};

// Makes `t` for a value of magnitude in [0.001, 10^7) whose shortest text has at most seven significant
// digits and returns true; false for the others.
[[gnu::always_inline]] inline bool seven_digit_text(double value, SevenDigitText& t) {
    static_assert(std::endian::native == std::endian::little, "the first digit is the lowest byte");
    const double magnitude = std::fabs(value);
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const unsigned binary = static_cast<unsigned>(bits >> 52 & 0x7ff) - kLowestExponent;
    if (binary >= std::size(kDecades)) return false;
    const Decade& d = kDecades[binary];
    const int e = d.least + (magnitude >= d.next ? 1 : 0);
    if (static_cast<unsigned>(e + 3) > 9) return false;  // below 0.001 or from 10^7 on, at the table's ends
    const SevenDigitLayout& l = kSevenDigitLayouts[e + 3];
    const auto n = static_cast<std::int64_t>(magnitude * l.scale + 0.5);
    if (static_cast<double>(n) / l.scale != magnitude) return false;
    const auto seven = static_cast<std::uint32_t>(n);  // 10^6 to 10^7 - 1
    const std::uint32_t thousands = seven / 1000, millions = thousands / 1000;
    const std::uint64_t digits =  // "0" and the seven digits, as numbers
        std::uint64_t{millions} << 8 | std::uint64_t{kDigitTriples.of[thousands - millions * 1000]} << 16 |
        std::uint64_t{kDigitTriples.of[seven - thousands * 1000]} << 40;
    const int zeros = __builtin_clzll(digits) / 8;  // at the end; never all: the first digit is not 0
    const std::uint64_t text = (digits + 0x3030303030303030) >> 8;  // the digits, first at the lowest byte
    t.sign = static_cast<int>(bits >> 63);
    t.first = (text & l.keep) | l.lead;
    t.rest = text >> l.shift;
    t.point = l.point;
    t.at = l.at;
    t.length = t.sign + (zeros < l.decimals ? l.full - zeros : l.point);
    return true;
}

// Writes a text that seven_digit_text made and returns its end; writes at most 17 bytes.
inline char* put(char* out, const SevenDigitText& t) {
    *out = '-';
    char* digits = out + t.sign;
    std::memcpy(digits, &t.first, 8);
    digits[t.point] = '.';
    std::memcpy(digits + t.at, &t.rest, 8);
    return out + t.length;
}

// put_value for what seven_digit_text leaves: eight or nine digits, or any value through std::to_chars.
char* put_value_rest(char* out, double value);

// The texts of the values of several rows, made together: with AVX-512, eight values at a time in vector
// registers, each text ready to be copied whole into its row; without it, by seven_digit_text one by one.
inline constexpr std::size_t kBatch = 64;
struct TextBatch {
    // A row copies 16 bytes, of which length[] are the text (at most 12); the room past the last is for
    // put(), which may write 17.
    alignas(64) char text[kBatch + 1][16];
    std::uint8_t length[kBatch];  // with the sign; 0: not made here (put_value_rest makes it)
};
using Values = std::array<double, kBatch>;
// Makes the texts of values[0, count) into `batch`, exactly those seven_digit_text makes; the values past
// count may be any numbers.
static_assert(kBatch % 8 == 0);  // whole groups of eight
void make_texts(const Values& values, std::size_t count, TextBatch& batch);

}  // namespace value_text

// The head of a file: the data block, the remarks every output carries as comments, and the component
// of the points. PyMOL bonds atoms by distance unless the file lists its components' bonds: one
// _chem_comp_bond row naming `component` with no atoms says it has none, and every point stays a lone
// atom.
std::string file_head(std::string_view block, std::string_view component);

// The _atom_site loop's column names, written before the first row: a file with no point has no loop,
// since a loop without a row is not CIF.
extern const std::string_view kAtomSiteLoop;

// The data block's name for an output or data file name: its base name without the extension, with every
// character a CIF block name cannot hold as "_"; "voxmol" when nothing is left.
std::string block_name(std::string_view file_name);

// Writes the file's head (the data block, the remarks as comments, the component of the points with no
// bond between its atoms, so that PyMOL draws none) on construction, then one _atom_site row per write(),
// the loop's column names before the first:
//   group_PDB ATOM   id serial   type_symbol element (X unless given)   label_atom_id CA   label_alt_id .
//   label_comp_id UNK   label_asym_id A   label_entity_id 1   label_seq_id residue   pdbx_PDB_ins_code ?
//   Cartn_x/y/z "%.3f"   occupancy 1.00   B_iso_or_equiv value (shortest exact)   auth_seq_id residue
//   auth_asym_id A   pdbx_PDB_model_num 1
class CifWriter {
  public:
    // `element`: the type_symbol of every row (empty: X); `block`: the data block's name.
    CifWriter(std::FILE* file, const Tuhbdgrd& grid, bool threaded, std::string_view element,
              std::string_view block);
    ~CifWriter();  // ends the loop and hands the rest to the file
    CifWriter(const CifWriter&) = delete;
    CifWriter& operator=(const CifWriter&) = delete;

    // Takes the row of one point; rows are written kBatch at a time, their values' texts made together.
    void write(long serial, long residue, long i, long j, long k, double value);

  private:
    static constexpr std::size_t kText = 32;  // room for one cached coordinate text and what follows it
    // Fixed text, two integers, three coordinates and a value, each with the room its formatter may use.
    static constexpr std::size_t kLongestLine = 256 + 3 * 24 + 3 * atomfmt::kMaxFixed + 32;
    // The "%.3f" texts of the positions along one axis of an axis-aligned grid, made once, each followed
    // by `after` (z by the occupancy, which comes next in every row).
    struct Texts {
        std::vector<char> bytes;       // kText per position
        std::vector<unsigned char> n;  // length of each; 0: formatted on the fly
        bool short_texts = true;       // each length at most 16
    };
    static Texts axis_texts(double min, double h, long n, std::string_view after);
    char* put_axis(char* out, const Texts& t, double min, double h, long i) const;
    void put(std::string_view text);
    void flush();
    void emit();  // writes the rows waiting
    // Writes rows [from, to) of the batch at `out` and returns the end.
    char* put_rows(char* out, const value_text::TextBatch& texts, std::size_t from, std::size_t to) const;
    void start_batch(long serial, long residue, long i, long j);  // after writing the rows waiting
    void set_serial(long serial);
    void set_residue(long residue);
    void set_column(long residue, long i, long j);

    writepipe::WritePipe pipe_;
    Axes axes_;
    Tuhbdgrd place_;
    bool oblique_;
    Texts x_, y_, z_;
    // The texts that change from row to row without being formatted anew: the serial, counted up in its
    // digits; the residue, the same for a whole column of points; and the fixed text around them.
    static constexpr std::size_t kNumber = 24;
    // A batch's serials are "ATOM " and their digits before the last three (empty below 1000), made anew
    // when they change, then the last three (000-999) from a table: the batch ends before they pass 999.
    // Below 100 the first part is the whole number, the batch that one row.
    char serial_high_[32] = {};
    std::size_t serial_high_size_ = 0;
    long serial_high_value_ = -1;
    int batch_low_ = 0;  // the last three digits of the batch's first serial
    std::size_t serial_low_size_ = 0;
    char residue_[kNumber] = {};
    std::size_t residue_size_ = 0;
    long residue_value_ = -1;
    char middle_[32] = {};  // " <element> CA . UNK A 1 "
    std::size_t middle_size_ = 0;
    // The text of the rows of one (i, j) column between the serial and z (the middle, the residue, and
    // x and y unless the axes are oblique), and after the value (the residue again and the rest).
    static constexpr std::size_t kShortHead = 64;
    std::array<long, 3> column_{-1, -1, -1};  // i, j, residue
    std::array<char, 128 + 2 * (atomfmt::kMaxFixed + 1)> head_{};
    std::size_t head_size_ = 0;
    char tail_[32] = {};  // room for a space, the longest residue and " A 1\n"
    std::size_t tail_size_ = 0;
    // What a batch's rows share up to z: the serial's first part, room for its last three digits, and the
    // column's head; a row copies it in one move and puts its digits in.
    std::array<char, 32 + 2 + 128 + 2 * (atomfmt::kMaxFixed + 1)> row_head_{};
    std::size_t row_head_size_ = 0;
    char* buffer_;
    std::size_t used_ = 0;
    bool rows_ = false;  // the loop is open
    // The rows taken and not yet written: all of one column and of consecutive serials with one head,
    // so that only their z, the serial's last digits and the value differ. A row finds its place from its
    // serial, with no count carried from row to row through memory.
    long batch_serial_ = 0;        // the serial of the first
    long last_serial_ = 0;         // of the last
    std::size_t batch_limit_ = 0;  // how many the batch can hold; 0 before the first row
    std::size_t waiting_ = 0;
    value_text::Values values_{};
    std::array<long, value_text::kBatch> ks_{};
};

inline char* CifWriter::put_axis(char* out, const Texts& t, double min, double h, long i) const {
    const auto at = static_cast<std::size_t>(i);
    if (at < t.n.size() && t.n[at] != 0) {
        std::memcpy(out, t.bytes.data() + at * kText, kText);
        return out + t.n[at];
    }
    return put_coordinate(out, min + static_cast<double>(i) * h);
}

[[gnu::always_inline]] inline void CifWriter::write(long serial, long residue, long i, long j, long k,
                                                    double value) {
    // Unsigned: any serials a caller passes wrap rather than overflow, and only consecutive ones share a
    // batch.
    auto n = static_cast<std::size_t>(static_cast<unsigned long>(serial) -
                                      static_cast<unsigned long>(batch_serial_));
    if (n >= batch_limit_ ||
        static_cast<unsigned long>(serial) != static_cast<unsigned long>(last_serial_) + 1 ||
        i != column_[0] || j != column_[1] || residue != column_[2]) {
        start_batch(serial, residue, i, j);
        n = 0;
    }
    values_[n] = value;
    ks_[n] = k;
    last_serial_ = serial;
    waiting_ = n + 1;
    if (n + 1 == batch_limit_) emit();
}

}  // namespace ciffmt

#endif  // VOXMOL_DX_WRITE_CIF_WRITER_H
