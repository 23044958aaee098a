// What the text grid formats that list their values x fastest share (XPLOR/CNS, UHBD's text form,
// Situs): numbers that may touch, as Fortran's E fields write negative ones ("-0.12345E+01-0.23456E+01"),
// values handed out line by line with the line each came from, the move of such values into walk order,
// and the guard that keeps voxmol's own text format out of their detectors.
#ifndef VOXMOL_DX_FORMATS_TEXT_GRID_H
#define VOXMOL_DX_FORMATS_TEXT_GRID_H

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "dx/formats/format.h"
#include "dx/formats/walk_order.h"
#include "dx/io/bytes.h"
#include "dx/io/cconv.h"
#include "dx/io/lines.h"
#include "dx/io/words.h"
#include "string_tool2/cscan.h"

namespace gridfmt {

// The next number of [p, e), white space before it skipped: the end of the number, or nullptr when what
// follows is no number. A number ends at white space, at the line's end, or right before the minus sign
// of the next one (a Fortran E field has no room left for a blank before a negative value).
inline const char* scan_field(const char* p, const char* e, double& value) {
    p = cscan::skip_space(p, e);
    if (p == e) return nullptr;
    const char* q = cscan::scan_double(p, e, value);
    if (q == nullptr || (q < e && !cscan::is_space(*q) && *q != '-')) return nullptr;
    return q;
}

// The value of a fixed field of kWidth characters (12 or more) at `p`, as Fortran's E12.5 and printf's
// "%12.5E" or " %12.5e" fill one: blanks, a blank or a minus sign, then "d.dddddE+dd" (the letter in
// either case) up to the field's end, and white space or a minus sign right after it (p[kWidth] must be
// readable). Such a field reads, to the bit, as scan_field reads it from its first character that is not
// a blank: the mantissa and scale are those cconv::scan_e_form finds, and the value is made as it makes
// it. False for any other text (and for scales beyond the exact powers of ten), which the general scan
// then reads. The form is checked as a whole, with one branch, and none depends on the signs.
template <std::size_t kWidth>
[[gnu::always_inline]] inline bool scan_e_field(const char* p, double& value) {
    static_assert(kWidth >= 12 && std::endian::native == std::endian::little);
    bool ok = true;
    for (std::size_t b = 0; b + 12 < kWidth; ++b)
        ok &= p[b] == ' ';
    const char sign = p[kWidth - 12], after = p[kWidth];
    const char* const f = p + kWidth - 11;  // "d.dddddE+dd"
    std::uint64_t w;                        // "d.dddddE"
    std::uint32_t x;                        // "E+dd"
    std::memcpy(&w, f, 8);
    std::memcpy(&x, f + 7, 4);
    // "0d0ddddd": the point read as a 0 digit, the letter shifted out, eight digits again.
    const std::uint64_t digits = ((w ^ (std::uint64_t{'.' ^ '0'} << 8)) << 8) | '0';
    const unsigned e1 = ((x >> 16) & 0xff) - unsigned{'0'}, e2 = (x >> 24) - unsigned{'0'};
    const unsigned exp_sign = (x >> 8) & 0xff;
    ok &= ((w >> 8) & 0xff) == '.';
    ok &= cconv::detail::eight_digits(digits);
    ok &= ((x & 0xff) | 0x20) == 'e';
    ok &= exp_sign == '+' || exp_sign == '-';
    ok &= e1 <= 9 && e2 <= 9;
    ok &= sign == ' ' || sign == '-';
    ok &= cscan::is_space(after) || after == '-';
    if (!ok) return false;
    // The first digit stands 10^6 high in the eight, with the point's 0 after it: less nine times its
    // place in the mantissa.
    const std::uint64_t mantissa = cconv::detail::eight_digit_number(digits) - (w & 0x0f) * 9 * 100000;
    const long exponent = static_cast<long>(e1 * 10 + e2);
    const long scale = (exp_sign == '-' ? -exponent : exponent) - 5;
    using Pow10 = cscan::detail::Exact<double>;
    constexpr long kMaxScale = static_cast<long>(sizeof Pow10::pow10 / sizeof(double)) - 1;
    double v = 0.0;
    if (mantissa != 0) {
        if (scale < -kMaxScale || scale > kMaxScale) return false;
        const double m = static_cast<double>(static_cast<std::int64_t>(mantissa));
        v = scale < 0 ? m / Pow10::pow10[-scale] : m * Pow10::pow10[scale];
    }
    value = cconv::with_sign(v, sign == '-');
    return true;
}

// The numbers of a line, as scan_field reads them; false when anything else is on it or it holds more
// than `out.size()`. `count` is how many it held.
inline bool line_numbers(std::string_view line, std::span<double> out, std::size_t& count) {
    const char* p = line.data();
    const char* const e = p + line.size();
    count = 0;
    for (;;) {
        p = cscan::skip_space(p, e);
        if (p == e) return true;
        double v = 0.0;
        const char* q = scan_field(p, e, v);
        if (q == nullptr || count == out.size()) return false;
        out[count++] = v;
        p = q;
    }
}

// Whether a line holds nothing but white space.
inline bool blank(std::string_view line) {
    return cscan::skip_space(line.data(), line.data() + line.size()) == line.data() + line.size();
}

// The lines of `text`, one at a time, without their line ends.
class PrefixLines {
  public:
    explicit PrefixLines(std::string_view text) : rest_(text) {}
    bool next(std::string_view& line) {
        if (rest_.empty()) return false;
        const std::size_t nl = rest_.find('\n');
        line = rest_.substr(0, nl);
        rest_ = nl == std::string_view::npos ? std::string_view() : rest_.substr(nl + 1);
        return true;
    }
    std::string_view rest() const { return rest_; }

  private:
    std::string_view rest_;
};

// Whether a line of `rest` holds 17 words or more. voxmol's own format passes over lines it cannot use
// (with a warning) until its header line of 17 numbers: a file whose first lines look like another
// format's header but that holds such a line further on is left to it. No format that lists a few values
// to a line has one.
inline bool holds_native_header_line(std::string_view rest) {
    PrefixLines lines(rest);
    std::string_view line;
    while (lines.next(line)) {
        if (textwords::words(line).size() >= 17) return true;
    }
    return false;
}

// Numbers over the lines of a stream, for the values of a text format: numbers separated by white space
// (or touching, as scan_field allows), any number to a line.
class ValueLines {
  public:
    enum class Got { number, end_of_line, other };

    // `field_width`, when not 0, is the width of the fixed fields the format's writers fill (scan_e_field):
    // such fields are read at their places, without looking for where each number starts.
    ValueLines(io::BlockReader& in, long lines_read, std::size_t field_width = 0)
        : in_(&in), line_(lines_read), field_width_(field_width) {}

    // The next number on the current line; `end_of_line` when only white space is left on it, `other`
    // at anything else, which word() then shows.
    Got next_on_line(double& value) {
        p_ = cscan::skip_space(p_, e_);
        if (p_ == e_) return Got::end_of_line;
        const char* q = scan_number(p_, value);
        if (q == nullptr) return Got::other;
        p_ = q;
        return Got::number;
    }
    // Moves to the next line of the stream; false at its end.
    bool next_line() {
        std::string_view line;
        if (!in_->next(line)) return false;
        ++line_;
        p_ = line.data();
        e_ = p_ + line.size();
        line_view_ = line;
        return true;
    }
    // Up to `count` numbers from the current line and the lines after it, stored as doubles of this
    // machine at dst, dst + 8, ...; returns how many. Stops at the end of the stream or at anything that
    // is not a number, which the caller then judges through next_on_line(). The lines wholly inside the
    // reader's block are read straight from it (take_whole_lines); the state left behind, line number,
    // current line and what is left of it, is the one reading them one at a time would leave.
    std::size_t take(char* dst, std::size_t count) {
        std::size_t got = 0;
        if (count == 0) return 0;
        for (;;) {
            got += take_on_line(dst + got * sizeof(double), count - got);
            if (got == count || p_ != e_) return got;
            got += take_whole_lines(dst + got * sizeof(double), count - got);
            if (got == count) return got;
            if (p_ == e_ && !next_line()) return got;
        }
    }
    // Passes over what is left of the current line.
    void skip_line_rest() { p_ = e_; }
    // The next number, on this line or the lines after it; `end_of_line` at the end of the stream.
    Got next(double& value) {
        for (;;) {
            const Got got = next_on_line(value);
            if (got != Got::end_of_line) return got;
            if (!next_line()) return Got::end_of_line;
        }
    }
    // The current line, whole, and what is left of it.
    std::string_view line() const { return line_view_; }
    std::string_view rest() const { return std::string_view(p_, static_cast<std::size_t>(e_ - p_)); }
    long line_number() const { return line_; }
    std::string word() const {
        std::string_view r = rest();
        return textwords::quoted(textwords::next_word(r));
    }

  private:
    // Up to `count` numbers of the current line; stops at the line's end (p_ == e_ then) or at anything
    // that is not a number (p_ on it).
    std::size_t take_on_line(char* dst, std::size_t count) {
        std::size_t got = 0;
        const char* p = p_;
        while (got < count) {
            p = cscan::skip_space(p, e_);
            if (p == e_) break;
            double v;
            const char* q = scan_number(p, v);
            if (q == nullptr) break;
            std::memcpy(dst + got * sizeof(double), &v, sizeof v);
            ++got;
            p = q;
        }
        p_ = p;
        return got;
    }

    // Up to `count` numbers of the whole lines (those with their "\n") that follow in the reader's block,
    // the current line being done: no line is handed out on its own, and no line end looked for ahead.
    // Takes the fixed fields of the format's width (scan_e_field) and the numbers the inline scans read
    // (scan_point6_form, scan_e_form, scan_plain_decimal): none of them reads past a line end, so the
    // block's end serves as the line's. Stops at the first other text, leaving its line current with p_
    // on it for take_on_line and the general scan. When it passes every whole line, p_ == e_ and the next
    // line is the stream's.
    std::size_t take_whole_lines(char* dst, std::size_t count) {
        switch (field_width_) {
            case 12:
                return take_whole_lines<12>(dst, count);
            case 13:
                return take_whole_lines<13>(dst, count);
            default:
                return take_whole_lines<0>(dst, count);
        }
    }
    template <std::size_t kWidth>
    std::size_t take_whole_lines(char* dst, std::size_t count) {
        const std::string_view block = in_->buffered();
        const char* const b = block.data();
        const void* last_end = block.empty() ? nullptr : ::memrchr(b, '\n', block.size());
        if (last_end == nullptr) return 0;
        const char* const r = static_cast<const char*>(last_end) + 1;
        const char* p = b;
        const char* line_start = b;  // of the line p is on
        const char* done_start = b;  // of the last line passed whole
        long passed = 0;             // line ends passed
        std::size_t got = 0;
        constexpr std::size_t width = kWidth;
        bool at_field = width != 0;  // where a fixed field may start: a line's start, a number's end
        while (got < count) {
            // The fixed fields that follow, while they have the writers' form. A field holds no line
            // end, and the character after it must be in the block: fewer than `width` left, none.
            if constexpr (width != 0) {
                if (at_field) {
                    while (got < count) {
                        const std::size_t left = static_cast<std::size_t>(r - p);
                        double v;
                        if (left <= width || !scan_e_field<width>(p, v)) break;
                        std::memcpy(dst + got * sizeof(double), &v, sizeof v);
                        ++got;
                        p += width;
                    }
                    if (got == count) break;
                    at_field = false;
                }
            }
            while (p < r && cscan::is_space(*p)) {
                if (*p++ == '\n') {
                    ++passed;
                    done_start = line_start;
                    line_start = p;
                    if (width != 0) {
                        at_field = true;
                        break;
                    }
                }
            }
            if (at_field) continue;
            if (p == r) break;
            const bool negative = *p == '-';
            const char* const digits = p + (negative || *p == '+' ? 1 : 0);
            double v;
            const char* q = cconv::scan_point6_form(digits, r, negative, v);
            if (q == nullptr) q = cconv::scan_e_form(digits, r, negative, v);
            if (q == nullptr) q = cscan::detail::scan_plain_decimal(digits, r, negative, v);
            // Neither scan takes a line end: q stands before r.
            if (q == nullptr || (!cscan::is_space(*q) && *q != '-')) break;
            std::memcpy(dst + got * sizeof(double), &v, sizeof v);
            ++got;
            p = q;
            at_field = width != 0;
        }
        if (p == r) {
            line_ += passed;
            line_view_ = std::string_view(done_start, static_cast<std::size_t>(r - done_start));
            p_ = e_ = r;
        } else {
            const char* const end =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(r - p))) + 1;
            line_ += passed + 1;
            line_view_ = std::string_view(line_start, static_cast<std::size_t>(end - line_start));
            p_ = p;
            e_ = end;
        }
        in_->consume(static_cast<std::size_t>(e_ - b));
        return got;
    }

    // The number at `p` (not white space) of the current line, as scan_field reads it: its end, or
    // nullptr.
    [[gnu::always_inline]] const char* scan_number(const char* p, double& value) const {
        const char* q = cconv::scan_number(p, e_, value);
        if (q == nullptr || (q < e_ && !cscan::is_space(*q) && *q != '-')) return nullptr;
        return q;
    }

    io::BlockReader* in_;
    long line_;
    std::size_t field_width_;
    const char* p_ = nullptr;  // the unread part of the current line, valid until the next line is read
    const char* e_ = nullptr;
    std::string_view line_view_;
};

// Moving values listed x fastest into walk order goes through a slab of whole planes along z: this many
// bytes at most, kept in the cache while its planes are parsed and moved, and a multiple of eight planes
// when it holds that many, so that each point's run along z fills whole cache lines of the grid.
constexpr std::size_t kPlaneSlabBytes = std::size_t{3} << 20;
// Each plane stands this many values beyond its own length after the start of the one before: planes a
// power of two apart would make the values of one point across them compete for the same cache sets.
constexpr std::size_t kPlanePad = 8;

// A value parsed into the slab, as walk_order_detail::store_run loads it.
inline double slab_value(const char* p) {
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Fills `values` (nx*ny*nz of them) from a format that lists them x fastest and z slowest, a plane at a
// time: `section` (nx*ny for a format that heads each plane, nx*ny*nz for one that does not) values at a
// time come from `lines`, each run of them after `start(s)` has read the head of run s (from 0);
// `next_slow(n)` gives value n (from 0) when the current line holds no more (it moves on, or fails).
// The values are parsed into a slab of planes and moved from there point by point in walk order, the
// grid written front to back in runs along z that start on a cache line where the shape allows.
template <typename Start, typename NextSlow>
void read_x_fastest(std::span<double> values, int nx, int ny, int nz, ValueLines& lines,
                    std::uint64_t section, Start&& start, NextSlow&& next_slow) {
    std::uint64_t n = 0, in_section = section, s = 0;
    auto read = [&](double* dst, std::size_t count) {
        while (count > 0) {
            if (in_section == section) {
                start(s++);
                in_section = 0;
            }
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(count, section - in_section));
            std::size_t got = lines.take(reinterpret_cast<char*>(dst), want);
            if (got == 0) {
                dst[0] = next_slow(n);
                got = 1;
            }
            dst += got;
            count -= got;
            in_section += got;
            n += got;
        }
    };
    const std::size_t x = static_cast<std::size_t>(nx), y = static_cast<std::size_t>(ny),
                      z = static_cast<std::size_t>(nz);
    const std::size_t plane = x * y, pitch = plane + kPlanePad;
    std::size_t run = std::clamp<std::size_t>(kPlaneSlabBytes / (pitch * sizeof(double)), 1, z);
    if (run >= 8) run -= run % 8;
    // Not cleared: every value is parsed into before it is moved.
    const auto slab = std::make_unique_for_overwrite<double[]>((run - 1) * pitch + plane);
    double* const out = values.data();
    // When every line along z starts at the same place of a cache line (z a multiple of eight), a first
    // run short of it brings the later runs onto whole lines, which store_run then writes past the cache.
    const std::size_t lead =
        z % 8 == 0 && run >= 8 ? (8 - reinterpret_cast<std::uintptr_t>(out) / sizeof(double) % 8) % 8 : 0;
    for (std::size_t z0 = 0; z0 < z;) {
        const std::size_t w = std::min(z0 == 0 && lead != 0 ? lead : run, z - z0);
        for (std::size_t t = 0; t < w; ++t)
            read(slab.get() + t * pitch, plane);
        for (std::size_t i = 0; i < x; ++i) {
            for (std::size_t j = 0; j < y; ++j) {
                walk_order_detail::store_run<slab_value>(
                    out + (i * y + j) * z + z0, reinterpret_cast<const char*>(slab.get() + j * x + i), w,
                    pitch * sizeof(double), true);
            }
        }
        z0 += w;
    }
    walk_order_detail::finish_stores();
}

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_TEXT_GRID_H
