// What the text grid formats that list their values x fastest share (XPLOR/CNS, UHBD's text form,
// Situs): numbers that may touch, as Fortran's E fields write negative ones ("-0.12345E+01-0.23456E+01"),
// values handed out line by line with the line each came from, the move of such values into walk order,
// and the guard that keeps voxmol's own text format out of their detectors.
#ifndef VOXMOL_DX_FORMATS_TEXT_GRID_H
#define VOXMOL_DX_FORMATS_TEXT_GRID_H

#include <algorithm>
#include <cstdint>
#include <cstring>
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

    ValueLines(io::BlockReader& in, long lines_read) : in_(&in), line_(lines_read) {}

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
    // Up to `count` numbers of the current line, stored as doubles of this machine at dst, dst + 8, ...;
    // returns how many. Stops at the line's end or at anything that is not a number, which the caller
    // then judges through next_on_line().
    std::size_t take(char* dst, std::size_t count) {
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
    // The number at `p` (not white space) of the current line, as scan_field reads it: its end, or
    // nullptr.
    [[gnu::always_inline]] const char* scan_number(const char* p, double& value) const {
        const char* q = cconv::scan_number(p, e_, value);
        if (q == nullptr || (q < e_ && !cscan::is_space(*q) && *q != '-')) return nullptr;
        return q;
    }

    io::BlockReader* in_;
    long line_;
    const char* p_ = nullptr;  // the unread part of the current line, valid until the next line is read
    const char* e_ = nullptr;
    std::string_view line_view_;
};

// A value parsed from text, held as this machine's double while it is moved into walk order.
inline double native_double(const char* p) {
    return io::load<double, false>(p);
}

// Fills `values` (nx*ny*nz of them) from a format that lists them x fastest and z slowest, a plane at a
// time: `section` (nx*ny for a format that heads each plane, nx*ny*nz for one that does not) values at a
// time come from `lines`, each run of them after `start(s)` has read the head of run s (from 0);
// `next_slow(n)` gives value n (from 0) when the current line holds no more (it moves on, or fails).
template <typename Start, typename NextSlow>
void read_x_fastest(std::span<double> values, int nx, int ny, int nz, ValueLines& lines,
                    std::uint64_t section, Start&& start, NextSlow&& next_slow) {
    std::uint64_t n = 0, in_section = section, s = 0;
    move_to_walk_order<sizeof(double), native_double>(
        values,
        x_fastest(static_cast<std::size_t>(nx), static_cast<std::size_t>(ny), static_cast<std::size_t>(nz)),
        [&](char* dst, std::size_t count) {
            while (count > 0) {
                if (in_section == section) {
                    start(s++);
                    in_section = 0;
                }
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(count, section - in_section));
                std::size_t got = lines.take(dst, want);
                if (got == 0) {
                    const double v = next_slow(n);
                    std::memcpy(dst, &v, sizeof v);
                    got = 1;
                }
                dst += got * sizeof(double);
                count -= got;
                in_section += got;
                n += got;
            }
        });
}

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_TEXT_GRID_H
