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

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Bytes [0, n) of a field are a whole number: blanks, an optional "-" right before the digits, at least
// one digit, digits to byte n-1. `d`, `b`, `m`: one bit per byte of the field for digits, blanks and "-".
inline bool integer_bits(unsigned d, unsigned b, unsigned m, unsigned n) {
    const unsigned all = (1u << n) - 1;
    const unsigned digits = d & all;
    const unsigned first = digits & (0u - digits);  // the first digit's bit
    const unsigned before = all & ~digits;          // what stands before the digits
    return digits != 0 && digits + first == 1u << n && ((b | m) & before) == before &&
           ((m & before) == 0 || (m & before) == first >> 1);
}

#ifdef __SSE2__

namespace detail {

// The byte classes of 16 characters, one bit per byte, and the characters' digit values (0 for a byte
// that is not a digit) summed into four-digit groups: group k is the number written by bytes 4k to 4k+3.
struct Sixteen {
    unsigned digit, blank, minus, point;
    alignas(16) std::uint32_t group[4];
};

[[gnu::always_inline]] inline Sixteen classify(__m128i v) {
    Sixteen s;
    const __m128i value = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(value, _mm_set1_epi8(9)), value);
    s.digit = static_cast<unsigned>(_mm_movemask_epi8(digit));
    s.blank = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))));
    s.minus = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('-'))));
    s.point = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
    const __m128i t = _mm_and_si128(value, digit);
    // Pairs of bytes (the first the tens) into 16-bit lanes, pairs of those (the first the hundreds) into
    // 32-bit lanes.
    const __m128i pairs = _mm_add_epi16(
        _mm_mullo_epi16(_mm_and_si128(t, _mm_set1_epi16(0xFF)), _mm_set1_epi16(10)), _mm_srli_epi16(t, 8));
    _mm_store_si128(reinterpret_cast<__m128i*>(s.group), _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064)));
    return s;
}

// The field of W bytes from byte `at` (0, 4 or 8) of `s` is a fixed-point number with F decimals (F = 3
// and W = 8, or F = 2 and W = 6); its digits as one integer in `v`.
template <unsigned W, unsigned F>
inline bool fixed_field(const Sixteen& s, unsigned at, std::uint32_t& v, bool& negative) {
    constexpr unsigned P = W - F - 1;
    constexpr unsigned kDecimals = ((1u << W) - 1) & ~((1u << (P + 1)) - 1);
    const unsigned d = s.digit >> at, m = s.minus >> at;
    if ((d & kDecimals) != kDecimals || ((s.point >> (at + P)) & 1u) == 0 ||
        !integer_bits(d, s.blank >> at, m, P))
        return false;
    const unsigned g = at / 4;
    if constexpr (F == 3) {
        v = s.group[g] * 1000 + s.group[g + 1];  // "iiii" and ".fff"
    } else {
        v = s.group[g] * 10 + s.group[g + 1] / 100;  // "iii." and "ff.."
    }
    negative = (m & ((1u << P) - 1)) != 0;
    return true;
}

}  // namespace detail

// The coordinates and the two values after them, columns 31 to 66 of a line of 66 characters or more
// ("%8.3f" three times, "%6.2f" twice), on the fast path all at once. Bit i of the result is set when
// field i took the fast path and `out[i]` holds its value; the caller converts the others as usual.
[[gnu::always_inline]] inline unsigned coordinate_fields(const char* line, float out[5]) {
    using detail::fixed_field;
    const detail::Sixteen xy = detail::classify(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 30)));
    const detail::Sixteen zo = detail::classify(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 46)));
    // Columns 51-66 moved two bytes down: the temperature factor at bytes 8-13, as the occupancy in `zo`.
    const detail::Sixteen b =
        detail::classify(_mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 50)), 2));
    unsigned taken = 0;
    std::uint32_t v;
    bool negative;
    const auto keep = [&](unsigned i, float scale) {
        const float magnitude = static_cast<float>(v) / scale;
        out[i] = negative ? -magnitude : magnitude;
        taken |= 1u << i;
    };
    if (fixed_field<8, 3>(xy, 0, v, negative)) keep(0, 1e3f);
    if (fixed_field<8, 3>(xy, 8, v, negative)) keep(1, 1e3f);
    if (fixed_field<8, 3>(zo, 0, v, negative)) keep(2, 1e3f);
    if (fixed_field<6, 2>(zo, 8, v, negative)) keep(3, 1e2f);
    if (fixed_field<6, 2>(b, 8, v, negative)) keep(4, 1e2f);
    return taken;
}

#endif  // __SSE2__

}  // namespace pdbscan::columns

#endif  // VOXMOL_PDB8_COLUMNS_H
