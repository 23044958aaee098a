// Reading the text grid formats word by word (the cube and AutoDock readers, and the OpenDX reader's
// messages): the blank-separated words of a line, a word as a real or a whole number (through the shared
// scanner, so by the C library's rules), the numbers that follow a header, any number of them on a line,
// and a word shown in a message.
#ifndef VOXMOL_DX_IO_WORDS_H
#define VOXMOL_DX_IO_WORDS_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dx/io/lines.h"
#include "string_tool2/cscan.h"

namespace textwords {

// The next blank-separated word of `rest`, which moves past it; empty when only white space is left.
inline std::string_view next_word(std::string_view& rest) {
    const char* p = rest.data();
    const char* const e = p + rest.size();
    p = cscan::skip_space(p, e);
    const char* w = p;
    while (w < e && !cscan::is_space(*w))
        ++w;
    rest = std::string_view(w, static_cast<std::size_t>(e - w));
    return std::string_view(p, static_cast<std::size_t>(w - p));
}

// The words of a line; its line end is white space like any other.
inline std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::string_view w = next_word(line); !w.empty(); w = next_word(line))
        out.push_back(w);
    return out;
}

// A whole word as a number ("%lf": exponents, hexadecimal, inf, nan); false when any of it is left over.
inline bool real(std::string_view word, double& value) {
    if (word.empty()) return false;
    const char* const e = word.data() + word.size();
    return cscan::scan_double(word.data(), e, value) == e;
}

// A whole word as a whole number: an optional sign and decimal digits only ("12", "-3", not "1.0" or
// "1e3"), whose value stays within 2^53 so that it is exact.
inline bool whole(std::string_view word, long long& value) {
    std::size_t digits = word.size();
    if (!word.empty() && (word[0] == '+' || word[0] == '-')) --digits;
    if (digits == 0) return false;
    for (char c : word.substr(word.size() - digits)) {
        if (!cscan::is_digit(c)) return false;
    }
    double v = 0.0;
    if (!real(word, v) || v > 9007199254740992.0 || v < -9007199254740992.0) return false;
    value = static_cast<long long>(v);
    return true;
}

// A word or line as a message may show it: its line end dropped, at most 40 characters, and every byte
// that is not printable ASCII shown as "?", so a binary file cannot garble the report.
inline std::string shown(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    std::string out;
    for (char c : text.substr(0, 40))
        out.push_back(c >= ' ' && c <= '~' ? c : '?');
    if (text.size() > 40) out += "...";
    return out;
}

// A word or line quoted in a message, as shown() shows it.
// Appended piece by piece: `"\"" + shown(text)` makes GCC 12 warn at -O3 (-Wrestrict on a literal
// prepended to a temporary string, a known false positive).
inline std::string quoted(std::string_view text) {
    std::string out = "\"";
    out += shown(text);
    out += '"';
    return out;
}

// The numbers of the rest of a stream, any number of them on a line, with the line each came from.
class Numbers {
  public:
    enum class Got { number, end, other };

    // `first` is a line already taken from `in` (empty for none), numbered `line`; lines after it
    // count on from there.
    Numbers(io::BlockReader& in, std::string first, long line)
        : in_(in), held_(std::move(first)), line_(line) {
        p_ = held_.data();
        e_ = p_ + held_.size();
    }

    // The next number; `end` at the end of the stream; `other` at a word that is not a number, which
    // word() then holds, on line().
    Got next(double& value) {
        for (;;) {
            p_ = cscan::skip_space(p_, e_);
            if (p_ < e_) {
                const char* q = cscan::scan_double(p_, e_, value);
                if (q != nullptr && (q == e_ || cscan::is_space(*q))) {
                    p_ = q;
                    return Got::number;
                }
                std::string_view rest(p_, static_cast<std::size_t>(e_ - p_));
                word_ = next_word(rest);
                return Got::other;
            }
            std::string_view line;
            if (!in_.next(line)) return Got::end;
            ++line_;
            p_ = line.data();
            e_ = p_ + line.size();
        }
    }

    std::string_view word() const { return word_; }
    long line() const { return line_; }

  private:
    io::BlockReader& in_;
    std::string held_;
    long line_;
    const char* p_;  // the unread part of the current line, which stays valid until the next in_.next()
    const char* e_;
    std::string_view word_;
};

}  // namespace textwords

#endif  // VOXMOL_DX_IO_WORDS_H
