// The numbers PDB writers put in fixed columns ("%5d", "%4d", "%8.3f", "%6.2f"), converted without the
// general scanner: a column of exactly its width whose text is blanks, an optional "-" right before the
// digits and at least one digit (for a fixed-point number: then a point and exactly its decimals). Any
// other text (a short column, a "+", a tab, an exponent, hybrid-36 letters, text after the number) is left
// to the general conversion. On the texts taken here both give the same value, the C library's: the digits
// make an integer below 2^24, which a float holds exactly, and one division by a power of ten rounds it as
// strtof does.
#ifndef VOXMOL_PDB8_COLUMNS_H
#define VOXMOL_PDB8_COLUMNS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pdbscan::columns {

// [c, c+N): blanks, an optional "-" right before the digits, and at least one digit, to the end. Without
// branches on the characters: the numbers of blanks and digits vary from line to line, and branches on
// them would be mispredicted. (Testing eight bytes at once in a 64-bit word measured slower.)
template <std::size_t N>
[[gnu::always_inline]] inline bool right_aligned(const char* c, std::uint32_t& value, bool& negative) {
    bool ok = true, digits = false, minus = false;
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const auto ch = static_cast<unsigned char>(c[i]);
        const unsigned d = ch - unsigned{'0'};
        const bool digit = d < 10;
        const bool lead = !digits & !minus;  // nothing but blanks so far
        ok &= digit | (lead & ((ch == ' ') | (ch == '-')));
        minus |= ch == '-';
        digits |= digit;
        v = v * 10 + (digit ? d : 0);
    }
    value = v;
    negative = minus;
    return ok & (static_cast<unsigned char>(c[N - 1]) - unsigned{'0'} < 10);  // digits to the end
}

// A whole number of exactly N columns; false for any other text.
template <std::size_t N>
[[gnu::always_inline]] inline bool whole(std::string_view text, int& value) {
    static_assert(N >= 1 && N <= 9, "the value fits an int");
    std::uint32_t v;
    bool negative;
    if (text.size() != N || !right_aligned<N>(text.data(), v, negative)) return false;
    value = negative ? -static_cast<int>(v) : static_cast<int>(v);
    return true;
}

// A fixed-point number of exactly W columns with F decimals; false for any other text.
template <std::size_t W, std::size_t F>
[[gnu::always_inline]] inline bool fixed_point(std::string_view text, float& value) {
    static_assert(F >= 1 && W >= F + 2 && W <= 8, "fewer than 2^24 in the digits");
    constexpr float kScale[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f};
    if (text.size() != W) return false;
    const char* c = text.data();
    std::uint32_t v;
    bool negative;
    bool ok = right_aligned<W - F - 1>(c, v, negative) & (c[W - F - 1] == '.');
    for (std::size_t i = W - F; i < W; ++i) {
        const unsigned d = static_cast<unsigned char>(c[i]) - unsigned{'0'};
        ok &= d < 10;
        v = v * 10 + d;
    }
    if (!ok) return false;
    const float magnitude = static_cast<float>(v) / kScale[F];
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace pdbscan::columns

#endif  // VOXMOL_PDB8_COLUMNS_H
