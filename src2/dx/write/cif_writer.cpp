#include "dx/write/cif_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "dx/write/atom_format.h"
#include "dx/write/pdb_writer.h"

namespace ciffmt {

namespace {

constexpr long kMaxCached = 1 << 16;
constexpr std::size_t kMaxValue = 32;
constexpr std::string_view kOccupancy = " 1.00 ";

bool oblique(const Axes& a) {
    return a[0][1] != 0.0 || a[0][2] != 0.0 || a[1][0] != 0.0 || a[1][2] != 0.0 || a[2][0] != 0.0 ||
           a[2][1] != 0.0;
}

char* put_integer(char* out, long value) {
    return std::to_chars(out, out + atomfmt::kMaxLong, value).ptr;
}

}  // namespace

std::string file_head(std::string_view block, std::string_view component) {
    std::string text = std::string("data_") + std::string(block) + "\n#\n";
    for (std::size_t at = 0; at < kRemarks.size();) {
        const std::size_t end = kRemarks.find('\n', at);
        std::string_view line = kRemarks.substr(at, end - at);
        line.remove_prefix(std::string_view("REMARK  ").size());
        text += "# ";
        text += line;
        text += '\n';
        at = end + 1;
    }
    const std::string comp(component);
    text += std::string("#\n_entry.id ") + std::string(block) +
            "\n#\n"
            "_chem_comp.id " +
            comp +
            "\n"
            "_chem_comp.type non-polymer\n"
            "_chem_comp.name 'grid point'\n"
            "#\n"
            "_chem_comp_bond.comp_id " +
            comp +
            "\n"
            "_chem_comp_bond.atom_id_1 .\n"
            "_chem_comp_bond.atom_id_2 .\n"
            "_chem_comp_bond.value_order .\n"
            "#\n"
            "_entity.id 1\n"
            "_entity.type non-polymer\n"
            "#\n";
    return text;
}

namespace {

constexpr std::string_view kLoopHead =
    "loop_\n"
    "_atom_site.group_PDB\n"
    "_atom_site.id\n"
    "_atom_site.type_symbol\n"
    "_atom_site.label_atom_id\n"
    "_atom_site.label_alt_id\n"
    "_atom_site.label_comp_id\n"
    "_atom_site.label_asym_id\n"
    "_atom_site.label_entity_id\n"
    "_atom_site.label_seq_id\n"
    "_atom_site.pdbx_PDB_ins_code\n"
    "_atom_site.Cartn_x\n"
    "_atom_site.Cartn_y\n"
    "_atom_site.Cartn_z\n"
    "_atom_site.occupancy\n"
    "_atom_site.B_iso_or_equiv\n"
    "_atom_site.auth_seq_id\n"
    "_atom_site.auth_asym_id\n"
    "_atom_site.pdbx_PDB_model_num\n";

}  // namespace

const std::string_view kAtomSiteLoop = kLoopHead;

char* put_coordinate(char* out, double value) {
    return atomfmt::put_fixed(out, value, 0, 3);
}

namespace {

constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};

constexpr std::uint64_t kWhole[] = {1,           10,           100,          1000,      10000,
                                    100000,      1000000,      10000000,     100000000, 1000000000,
                                    10000000000, 100000000000, 1000000000000};

// The nearest integer n to magnitude * 10^decimals (decimals 0 to 12, the product below 2^53) when n /
// 10^decimals reads back as the magnitude; 0 when not (n is never 0 for a text of the magnitudes here).
// The quotient of the two exact doubles is rounded once, correctly, as a reader's conversion of the text
// rounds it.
std::uint64_t digits_reading_back(double magnitude, int decimals) {
    const auto n = static_cast<std::int64_t>(magnitude * kPowers[decimals] + 0.5);
    return static_cast<double>(n) / kPowers[decimals] == magnitude ? static_cast<std::uint64_t>(n) : 0;
}

// floor(log10(magnitude)) for a magnitude in [0.001, 10^7).
int decade(double magnitude) {
    const auto& d =
        value_text::kDecades[(std::bit_cast<std::uint64_t>(magnitude) >> 52) - value_text::kLowestExponent];
    return d.least + (magnitude >= d.next ? 1 : 0);
}

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the `count` last decimal digits of n (leading zeros included) so that they end at `end`.
void put_digits(char* end, std::uint64_t n, int count) {
    for (; count >= 2; count -= 2, n /= 100) {
        end -= 2;
        std::memcpy(end, kPairs + 2 * (n % 100), 2);
    }
    if (count == 1) *--end = static_cast<char>('0' + n % 10);
}

// The text of a value of decade e whose shortest text has eight or nine significant digits; nullptr when
// it has more.
char* put_nine_digits(char* out, double value, double magnitude, int e) {
    const int decimals = 8 - e;
    const std::uint64_t n = digits_reading_back(magnitude, decimals);
    if (n == 0) return nullptr;
    // The value is n / 10^decimals exactly as a double reads it; its fraction is at least 10^-decimals,
    // far above the rounding of a double this size, so the integer part is the double's own.
    const auto whole = static_cast<std::uint64_t>(magnitude);
    std::uint64_t fraction = n - whole * kWhole[decimals];
    int shown = fraction == 0 ? 0 : decimals;
    while (shown > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --shown;
    }
    if (std::signbit(value)) *out++ = '-';
    const int integer = e < 0 ? 1 : e + 1;
    put_digits(out + integer, whole, integer);
    out += integer;
    if (shown == 0) return out;
    *out = '.';
    put_digits(out + 1 + shown, fraction, shown);
    return out + 1 + shown;
}

}  // namespace

char* value_text::put_value_rest(char* out, double value) {
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-3 && magnitude < 1e7)
        if (char* end = put_nine_digits(out, value, magnitude, decade(magnitude))) return end;
    return std::to_chars(out, out + kMaxValue, value).ptr;
}

char* put_value(char* out, double value) {
    value_text::SevenDigitText text;
    return value_text::seven_digit_text(value, text) ? value_text::put(out, text)
                                                     : value_text::put_value_rest(out, value);
}

std::string block_name(std::string_view file_name) {
    const std::size_t slash = file_name.rfind('/');
    if (slash != std::string_view::npos) file_name.remove_prefix(slash + 1);
    const std::size_t dot = file_name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) file_name = file_name.substr(0, dot);
    std::string name;
    for (char c : file_name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '+';
        name += plain ? c : '_';
    }
    return name.empty() ? "voxmol" : name;
}

CifWriter::CifWriter(std::FILE* file, const Tuhbdgrd& grid, bool threaded, std::string_view element,
                     std::string_view block)
    : pipe_(file, threaded),
      axes_(grid_axes(grid)),
      place_(grid),
      oblique_(oblique(axes_)),
      buffer_(pipe_.buffer()) {
    place_.data = {};
    if (!oblique_) {
        x_ = axis_texts(grid.xmin, axes_[0][0], grid.nx, "");
        y_ = axis_texts(grid.ymin, axes_[1][1], grid.ny, "");
        z_ = axis_texts(grid.zmin, axes_[2][2], grid.nz, kOccupancy);
    }
    const std::string middle =
        std::string(" ") + std::string(element.empty() ? "X" : element.substr(0, 2)) + " CA . UNK A 1 ";
    std::memcpy(middle_, middle.data(), middle.size());
    middle_size_ = middle.size();
    put(file_head(block, "UNK"));
}

CifWriter::~CifWriter() {
    emit();
    if (rows_) put("#\n");
    flush();
}

[[gnu::always_inline]] inline char* CifWriter::put_rows(char* out, const value_text::TextBatch& texts,
                                                        std::size_t from, std::size_t to) const {
    // What the rows share, in locals: the stores into the buffer could otherwise alias them. Each part
    // is copied in a fixed-size move no longer than it needs (the stores are most of a row's time).
    const std::size_t high_size = serial_high_size_, low_size = serial_low_size_, head_size = row_head_size_,
                      tail_size = tail_size_;
    const bool short_z = z_.short_texts, short_tail = tail_size <= 16;
    for (std::size_t r = from; r < to; ++r) {
        if (head_size <= kShortHead)
            std::memcpy(out, row_head_.data(), kShortHead);
        else
            std::memcpy(out, row_head_.data(), head_size);
        if (low_size != 0) {
            // The last three digits and the blank after them (the column's head starts with one).
            const std::uint32_t last =
                value_text::kDigitTriples.of[static_cast<std::size_t>(batch_low_) + r] + 0x2030'3030;
            std::memcpy(out + high_size, &last, 4);
        }
        out += head_size;
        if (oblique_) {
            const auto p = grid_position(place_, axes_, column_[0], column_[1], ks_[r]);
            out = put_coordinate(out, p[0]);
            *out++ = ' ';
            out = put_coordinate(out, p[1]);
            *out++ = ' ';
            out = atomfmt::put(put_coordinate(out, p[2]), kOccupancy);
        } else if (const auto k = static_cast<std::size_t>(ks_[r]); k < z_.n.size() && z_.n[k] != 0) {
            if (short_z)
                std::memcpy(out, z_.bytes.data() + k * kText, 16);
            else
                std::memcpy(out, z_.bytes.data() + k * kText, kText);
            out += z_.n[k];
        } else {
            out = atomfmt::put(put_coordinate(out, place_.zmin + static_cast<double>(ks_[r]) * axes_[2][2]),
                               kOccupancy);
        }
        if (texts.length[r] != 0) {
            std::memcpy(out, texts.text[r], 16);
            out += texts.length[r];
        } else {
            out = value_text::put_value_rest(out, values_[r]);
        }
        if (short_tail)
            std::memcpy(out, tail_, 16);
        else
            std::memcpy(out, tail_, sizeof tail_);
        out += tail_size;
    }
    return out;
}

void CifWriter::emit() {
    const std::size_t n = waiting_;
    if (n == 0) return;
    waiting_ = 0;
    if (!rows_) {
        put(kAtomSiteLoop);
        rows_ = true;
    }
    value_text::TextBatch texts;
    value_text::make_texts(values_, n, texts);
    // A buffer holds a whole batch of the longest rows unless memory was short and it is the small
    // one: then the rows go in as many pieces as that needs.
    const std::size_t fit = std::max<std::size_t>(1, pipe_.buffer_size() / kLongestLine);
    for (std::size_t from = 0; from < n; from += fit) {
        const std::size_t to = std::min(n, from + fit);
        if (used_ + (to - from) * kLongestLine > pipe_.buffer_size()) flush();
        used_ = static_cast<std::size_t>(put_rows(buffer_ + used_, texts, from, to) - buffer_);
    }
}

CifWriter::Texts CifWriter::axis_texts(double min, double h, long n, std::string_view after) {
    Texts t;
    if (n > kMaxCached) return t;
    t.bytes.resize(static_cast<std::size_t>(n) * kText);
    t.n.resize(static_cast<std::size_t>(n));
    char text[atomfmt::kMaxFixed + kText];
    for (long i = 0; i < n; ++i) {
        const auto length = static_cast<std::size_t>(
            atomfmt::put(put_coordinate(text, min + static_cast<double>(i) * h), after) - text);
        if (length > kText) continue;  // left to be formatted on the fly
        std::memcpy(t.bytes.data() + static_cast<std::size_t>(i) * kText, text, length);
        t.n[static_cast<std::size_t>(i)] = static_cast<unsigned char>(length);
        t.short_texts = t.short_texts && length <= 16;
    }
    return t;
}

void CifWriter::start_batch(long serial, long residue, long i, long j) {
    emit();
    set_serial(serial);
    if (i != column_[0] || j != column_[1] || residue != column_[2]) set_column(residue, i, j);
    batch_serial_ = serial;
    // In fixed-size moves where they fit (a batch can be a few rows).
    char* h = row_head_.data();
    std::memcpy(h, serial_high_, sizeof serial_high_);
    h += serial_high_size_ + serial_low_size_;
    if (head_size_ <= kShortHead)
        std::memcpy(h, head_.data(), kShortHead);
    else
        std::memcpy(h, head_.data(), head_size_);
    row_head_size_ = static_cast<std::size_t>(h - row_head_.data()) + head_size_;
}

void CifWriter::set_serial(long serial) {
    char* const digits = atomfmt::put(serial_high_, "ATOM ");
    if (serial < 100) {
        serial_high_size_ = static_cast<std::size_t>(put_integer(digits, serial) - serial_high_);
        serial_high_value_ = -1;  // the text made is no serial's first part
        serial_low_size_ = 0;
        batch_low_ = 0;
        batch_limit_ = 1;
        return;
    }
    const long high = serial / 1000;
    if (high != serial_high_value_) {
        serial_high_size_ =
            static_cast<std::size_t>((high == 0 ? digits : put_integer(digits, high)) - serial_high_);
        serial_high_value_ = high;
    }
    batch_low_ = static_cast<int>(serial % 1000);
    serial_low_size_ = 3;
    batch_limit_ = std::min<std::size_t>(value_text::kBatch, static_cast<std::size_t>(1000 - batch_low_));
}

void CifWriter::set_residue(long residue) {
    if (residue == residue_value_) return;
    residue_size_ = static_cast<std::size_t>(put_integer(residue_, residue) - residue_);
    residue_value_ = residue;
}

void CifWriter::set_column(long residue, long i, long j) {
    column_ = {i, j, residue};
    set_residue(residue);
    char* h = head_.data();
    std::memcpy(h, middle_, sizeof middle_);
    h += middle_size_;
    std::memcpy(h, residue_, kNumber);
    h += residue_size_;
    h = atomfmt::put(h, " ? ");
    if (!oblique_) {
        h = put_axis(h, x_, place_.xmin, axes_[0][0], i);
        *h++ = ' ';
        h = put_axis(h, y_, place_.ymin, axes_[1][1], j);
        *h++ = ' ';
    }
    head_size_ = static_cast<std::size_t>(h - head_.data());
    char* t = tail_;
    *t++ = ' ';
    std::memcpy(t, residue_, kNumber);
    t += residue_size_;
    t = atomfmt::put(t, " A 1\n");
    tail_size_ = static_cast<std::size_t>(t - tail_);
}

void CifWriter::put(std::string_view text) {
    while (!text.empty()) {
        if (used_ == pipe_.buffer_size()) flush();
        const std::size_t n = std::min(text.size(), pipe_.buffer_size() - used_);
        std::memcpy(buffer_ + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
    }
}

void CifWriter::flush() {
    pipe_.submit(used_);
    buffer_ = pipe_.buffer();
    used_ = 0;
}

}  // namespace ciffmt
