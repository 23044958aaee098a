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

constexpr std::size_t kText = 16;  // room for one cached coordinate text
constexpr long kMaxCached = 1 << 16;
constexpr std::size_t kMaxValue = 32;
// Fixed text, two integers, three coordinates and a value, each with the room its formatter may use.
constexpr std::size_t kLongestLine = 256 + 3 * 24 + 3 * atomfmt::kMaxFixed + kMaxValue;

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

// The common case of put_value: a value of moderate size whose shortest text has at most nine significant
// digits (every value read from a text with that many, as grid files write them: APBS "%12.6E", cube files
// "%13.5E", AutoDock "%.3f"). Seven digits are tried, then nine (which holds eight). The digits n of
// value * 10^d, rounded, are written with d decimals when n / 10^d, a correctly rounded division of two
// exact numbers, gives back the value itself: what a reader's correctly rounded conversion of the text
// gives too. Trailing zeros of the fraction are dropped. Returns nullptr when no such text is found.
constexpr std::uint64_t kWhole[] = {1,           10,           100,          1000,      10000,
                                    100000,      1000000,      10000000,     100000000, 1000000000,
                                    10000000000, 100000000000, 1000000000000};
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

// The eight decimal digits of n < 10^8, one to a byte, the first at the lowest address, as numbers 0-9:
// the halves, their pairs and their digits split apart in parallel lanes of one word.
std::uint64_t eight_digit_bytes(std::uint64_t n) {
    const std::uint64_t halves = (n / 10000) | ((n % 10000) << 32);
    const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007f0000007f;  // lane / 100
    const std::uint64_t pairs = hundreds | ((halves - hundreds * 100) << 16);
    const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000f000f000f000f;  // lane / 10
    return tens | ((pairs - tens * 10) << 8);
}

// put_value_short's text for a value of seven significant digits, n / 10^decimals, from the digits of n
// made at once: `integer` digits before the point (a single 0 below 1, then `lead` zeros after the
// point), trailing zeros of the fraction dropped. The digits stay in a register and are stored eight
// at a time (a copy through memory, read back at another offset, would wait for the stores); writes at
// most 17 bytes.
char* put_seven_digits(char* out, bool negative, std::uint64_t n, int integer, int decimals, int lead) {
    static_assert(std::endian::native == std::endian::little, "the first digit is the lowest byte");
    const std::uint64_t digits = eight_digit_bytes(n);  // "0" and n's seven digits
    const int zeros = std::countl_zero(digits) / 8;     // at the end: n is at least 10^6, never all zeros
    const int shown = std::max(0, decimals - zeros);
    const std::uint64_t seven = (digits + 0x3030303030303030) >> 8;  // n's digits, first at the lowest byte
    if (negative) *out++ = '-';
    if (lead >= 0) {  // below 1: "0.", the leading zeros, the digits
        std::memcpy(out, "0.00", 4);
        std::memcpy(out + 2 + lead, &seven, 8);
        return out + 2 + shown;
    }
    std::memcpy(out, &seven, 8);
    if (shown == 0) return out + integer;
    out[integer] = '.';
    const std::uint64_t fraction = seven >> (8 * integer);  // integer is 1 to 7
    std::memcpy(out + integer + 1, &fraction, 8);
    return out + integer + 1 + shown;
}

// Whether some n / 10^decimals reads back as exactly `magnitude` (in [0.001, 10^7), decimals at most 11),
// and that n: the nearest integer to magnitude * 10^decimals, which a reader's correctly rounded
// conversion of its text turns into `magnitude` again when it lies within half a step of the double on
// either side (on the step itself when the double's last bit is even). With magnitude = m * 2^-s, that is
// |n * 2^s - m * 10^decimals| < 10^decimals / 2, all in integers: one product, no division. At a power of
// two the step below is half the step above; there the quotient itself is checked.
bool reads_back(double magnitude, int decimals, std::uint64_t& n) {
    const std::uint64_t p10 = kWhole[decimals];
    const auto bits = std::bit_cast<std::uint64_t>(magnitude);
    const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    if (m == std::uint64_t{1} << 52) {
        n = static_cast<std::uint64_t>(magnitude * kPowers[decimals] + 0.5);
        return static_cast<double>(n) / kPowers[decimals] == magnitude;
    }
    const int s = 1075 - static_cast<int>(bits >> 52);  // 29 to 62 in this range
    const unsigned __int128 x = static_cast<unsigned __int128>(m) * p10;
    const std::uint64_t step = std::uint64_t{1} << s;
    const std::uint64_t low = static_cast<std::uint64_t>(x) & (step - 1);
    n = static_cast<std::uint64_t>(x >> s);
    std::uint64_t distance = low;
    if (low >= step / 2) {
        ++n;
        distance = step - low;
    }
    return 2 * distance < p10 || (2 * distance == p10 && (m & 1) == 0);
}

[[gnu::always_inline]] inline char* put_value_short(char* out, double value) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-3 && magnitude < 1e7)) return nullptr;
    int whole_digits = 1;  // of the integer part
    while (whole_digits < 7 && magnitude >= kPowers[whole_digits])
        ++whole_digits;
    // Below 1, the zeros after the point come before the significant digits.
    const int lead = magnitude < 1e-2 ? 2 : (magnitude < 1e-1 ? 1 : 0);
    for (int digits = 7; digits <= 9; digits += 2) {
        const int decimals = magnitude < 1.0 ? digits + lead : digits - whole_digits;
        std::uint64_t n;
        if (!reads_back(magnitude, decimals, n)) continue;
        if (digits == 7)
            return put_seven_digits(out, std::signbit(value), n, whole_digits, decimals,
                                    magnitude < 1.0 ? lead : -1);
        // The value is n / 10^decimals exactly as a double reads it; its fraction is at least
        // 10^-decimals, far above the rounding of a double this size, so the integer part is the
        // double's own.
        const auto whole = static_cast<std::uint64_t>(magnitude);
        std::uint64_t fraction = n - whole * kWhole[decimals];
        int shown = fraction == 0 ? 0 : decimals;
        while (shown > 0 && fraction % 10 == 0) {
            fraction /= 10;
            --shown;
        }
        if (std::signbit(value)) *out++ = '-';
        const int integer = magnitude < 1.0 ? 1 : whole_digits;
        put_digits(out + integer, whole, integer);
        out += integer;
        if (shown == 0) return out;
        *out = '.';
        put_digits(out + 1 + shown, fraction, shown);
        return out + 1 + shown;
    }
    return nullptr;
}

}  // namespace

char* put_value(char* out, double value) {
    if (char* end = put_value_short(out, value)) return end;
    return std::to_chars(out, out + kMaxValue, value).ptr;
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
        x_ = axis_texts(grid.xmin, axes_[0][0], grid.nx);
        y_ = axis_texts(grid.ymin, axes_[1][1], grid.ny);
        z_ = axis_texts(grid.zmin, axes_[2][2], grid.nz);
    }
    const std::string middle =
        std::string(" ") + std::string(element.empty() ? "X" : element.substr(0, 2)) + " CA . UNK A 1 ";
    std::memcpy(middle_, middle.data(), middle.size());
    middle_size_ = middle.size();
    put(file_head(block, "UNK"));
}

CifWriter::~CifWriter() {
    if (rows_) put("#\n");
    flush();
}

CifWriter::Texts CifWriter::axis_texts(double min, double h, long n) {
    Texts t;
    if (n > kMaxCached) return t;
    t.bytes.resize(static_cast<std::size_t>(n) * kText);
    t.n.resize(static_cast<std::size_t>(n));
    char text[atomfmt::kMaxFixed];
    for (long i = 0; i < n; ++i) {
        const auto length =
            static_cast<std::size_t>(put_coordinate(text, min + static_cast<double>(i) * h) - text);
        if (length > kText) continue;  // left to be formatted on the fly
        std::memcpy(t.bytes.data() + static_cast<std::size_t>(i) * kText, text, length);
        t.n[static_cast<std::size_t>(i)] = static_cast<unsigned char>(length);
    }
    return t;
}

char* CifWriter::put_axis(char* out, const Texts& t, double min, double h, long i) const {
    const auto at = static_cast<std::size_t>(i);
    if (at < t.n.size() && t.n[at] != 0) {
        std::memcpy(out, t.bytes.data() + at * kText, kText);
        return out + t.n[at];
    }
    return put_coordinate(out, min + static_cast<double>(i) * h);
}

void CifWriter::set_serial(long serial) {
    serial_value_ = serial;
    if (serial < 10) {
        serial_high_size_ = static_cast<std::size_t>(put_integer(serial_high_, serial) - serial_high_);
        serial_low_ = -1;
        return;
    }
    serial_high_size_ =
        serial < 100 ? 0 : static_cast<std::size_t>(put_integer(serial_high_, serial / 100) - serial_high_);
    serial_low_ = static_cast<int>(serial % 100);
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

void CifWriter::write(long serial, long residue, long i, long j, long k, double value) {
    if (!rows_) {
        put(kLoopHead);
        rows_ = true;
    }
    if (used_ + kLongestLine > pipe_.buffer_size()) flush();
    if (serial == serial_value_ + 1 && serial_low_ >= 0 && serial_low_ < 99) {
        ++serial_low_;
        serial_value_ = serial;
    } else {
        set_serial(serial);
    }
    if (i != column_[0] || j != column_[1] || residue != column_[2]) set_column(residue, i, j);
    char* out = buffer_ + used_;
    out = atomfmt::put(out, "ATOM ");
    std::memcpy(out, serial_high_, kNumber);
    out += serial_high_size_;
    if (serial_low_ >= 0) {
        std::memcpy(out, kPairs + 2 * serial_low_, 2);
        out += 2;
    }
    // The common head is copied in one fixed-size move, of which the row keeps head_size_ bytes.
    if (head_size_ <= kShortHead)
        std::memcpy(out, head_.data(), kShortHead);
    else
        std::memcpy(out, head_.data(), head_size_);
    out += head_size_;
    if (oblique_) {
        const auto p = grid_position(place_, axes_, i, j, k);
        out = put_coordinate(out, p[0]);
        *out++ = ' ';
        out = put_coordinate(out, p[1]);
        *out++ = ' ';
        out = put_coordinate(out, p[2]);
    } else {
        out = put_axis(out, z_, place_.zmin, axes_[2][2], k);
    }
    out = atomfmt::put(out, " 1.00 ");
    // The common case in the row's own code, without a call.
    char* end = put_value_short(out, value);
    out = end != nullptr ? end : std::to_chars(out, out + kMaxValue, value).ptr;
    std::memcpy(out, tail_, sizeof tail_);
    out += tail_size_;
    used_ = static_cast<std::size_t>(out - buffer_);
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
