// The mmCIF value texts of a batch of rows. seven_digit_text makes one text with some fifty instructions,
// most of them arithmetic the same for every value; here that arithmetic runs on eight values at once in
// AVX-512 registers (on processors that have them), with no table lookup that would need a gather, and
// each text comes out as 16 bytes that a row copies whole.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dx/write/cif_writer.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VOXMOL_VALUE_TEXTS_AVX512 1
#endif

namespace ciffmt::value_text {

namespace {

// Every value made here, one by one.
void make_texts_one_by_one(const Values& values, std::size_t count, TextBatch& batch) {
    for (std::size_t r = 0; r < count; ++r) {  // in order: a text may run into the next one's room
        SevenDigitText t;
        batch.length[r] = seven_digit_text(values[r], t)
                              ? static_cast<std::uint8_t>(put(batch.text[r], t) - batch.text[r])
                              : 0;
    }
}

#ifdef VOXMOL_VALUE_TEXTS_AVX512

// Where each byte of a text comes from, by decade (e + 3) and sign: a value's sixteen source bytes are
// "0" and its seven digits, then ".", "0" and "-". At or above 1 the text is the digits with the point
// after e + 1 of them; below 1, "0.", -e - 1 zeros and the digits; a minus sign first when negative.
// 0x80 makes a zero byte (past the text).
struct Sources {
    alignas(16) std::uint8_t of[20][16];
};
constexpr std::uint8_t kPoint = 8, kZero = 9, kMinus = 10;
constexpr std::int64_t kMarks = 0x2d'30'2e;  // ".", "0" and "-", the source bytes 8 to 10
constexpr Sources make_sources() {
    Sources t{};
    for (int e = -3; e <= 6; ++e)
        for (int sign = 0; sign < 2; ++sign) {
            std::uint8_t* s = t.of[(e + 3) * 2 + sign];
            int at = 0;
            if (sign == 1) s[at++] = kMinus;
            if (e >= 0) {
                for (int d = 1; d <= e + 1; ++d)
                    s[at++] = static_cast<std::uint8_t>(d);
                s[at++] = kPoint;
                for (int d = e + 2; d <= 7; ++d)
                    s[at++] = static_cast<std::uint8_t>(d);
            } else {
                s[at++] = kZero;
                s[at++] = kPoint;
                for (int z = 0; z < -e - 1; ++z)
                    s[at++] = kZero;
                for (int d = 1; d <= 7; ++d)
                    s[at++] = static_cast<std::uint8_t>(d);
            }
            while (at < 16)
                s[at++] = 0x80;
        }
    return t;
}
constexpr Sources kSources = make_sources();

// 10^(6 - e) by e + 3, and 10^(least + 1) by least + 4 (least = -4 to 6), each table two registers.
alignas(64) constexpr double kScales[16] = {1e9, 1e8, 1e7, 1e6, 1e5, 1e4, 1e3, 1e2, 1e1, 1e0};
alignas(64) constexpr double kNextPowers[16] = {1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};

// GCC 12 takes the intrinsics' deliberately undefined registers for uninitialised variables.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define VOXMOL_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512cd,avx512vl")))

// The byte sources of four texts, one to a 128-bit lane.
VOXMOL_AVX512 inline __m512i sources(const std::int32_t* of) {
    const auto lane = [](std::int32_t c) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kSources.of[c]));
    };
    __m512i s = _mm512_castsi128_si512(lane(of[0]));
    s = _mm512_inserti32x4(s, lane(of[1]), 1);
    s = _mm512_inserti32x4(s, lane(of[2]), 2);
    return _mm512_inserti32x4(s, lane(of[3]), 3);
}

// Eight values at values[at..at + 7] (a value past those taken is any number left there: its text is
// made and never read). The same steps as seven_digit_text.
[[gnu::always_inline]] VOXMOL_AVX512 inline void make_eight(const double* values, std::size_t at,
                                                            TextBatch& batch) {
    const __m512d value = _mm512_loadu_pd(values + at);
    const __m512d magnitude = _mm512_abs_pd(value);
    const __mmask8 negative = _mm512_movepi64_mask(_mm512_castpd_si512(value));
    const __m512i one = _mm512_set1_epi64(1);
    // The decade: floor(E log10 2) for the binary exponent E, as ((E + 4096) * 1233 >> 12) - 1233 (exact
    // for every E of a magnitude kept here), then one comparison with the next power of ten. A lane out
    // of range gets some decade: the tables take the index's low four bits, and its text is not kept.
    const __m512i binary = _mm512_sub_epi64(_mm512_srli_epi64(_mm512_castpd_si512(magnitude), 52),
                                            _mm512_set1_epi64(1023 - 4096));
    const __m512i least = _mm512_sub_epi64(  // least + 4
        _mm512_srli_epi64(_mm512_mul_epu32(binary, _mm512_set1_epi64(1233)), 12),
        _mm512_set1_epi64(1233 - 4));
    const __m512d next =
        _mm512_permutex2var_pd(_mm512_load_pd(kNextPowers), least, _mm512_load_pd(kNextPowers + 8));
    const __m512i decade =
        _mm512_mask_add_epi64(_mm512_sub_epi64(least, one), _mm512_cmp_pd_mask(magnitude, next, _CMP_GE_OQ),
                              _mm512_sub_epi64(least, one), one);  // e + 3
    const __mmask8 in_range = _mm512_cmp_pd_mask(magnitude, _mm512_set1_pd(1e-3), _CMP_GE_OQ) &
                              _mm512_cmp_pd_mask(magnitude, _mm512_set1_pd(1e7), _CMP_LT_OQ);
    // The seven digits, kept when they read back as the value.
    const __m512d scale =
        _mm512_permutex2var_pd(_mm512_load_pd(kScales), decade, _mm512_load_pd(kScales + 8));
    // The product rounded to the nearest integer, not (product + 0.5) rounded down as seven_digit_text
    // does: the two differ only for a product near a half, whose digits do not read back either way.
    // (The product in its rounding-mode form, which a compiler does not fuse with anything.)
    const __m512d n = _mm512_roundscale_pd(
        _mm512_mul_round_pd(magnitude, scale, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC),
        _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __mmask8 made = in_range & _mm512_cmp_pd_mask(_mm512_div_pd(n, scale), magnitude, _CMP_EQ_OQ);
    // The digits, as numbers one to a byte, "0" first: n / 10^4 and n % 10^4 in 32-bit halves, each split
    // by 100 into 16-bit quarters, each of those by 10 into bytes.
    const __m512i seven = _mm512_cvtepu32_epi64(_mm512_cvttpd_epu32(n));
    const __m512i high = _mm512_srli_epi64(_mm512_mul_epu32(seven, _mm512_set1_epi64(3518437209)), 45);
    const __m512i low = _mm512_sub_epi64(seven, _mm512_mul_epu32(high, _mm512_set1_epi64(10000)));
    const __m512i halves = _mm512_or_si512(high, _mm512_slli_epi64(low, 32));
    const __m512i hundreds = _mm512_srli_epi16(_mm512_mulhi_epu16(halves, _mm512_set1_epi16(5243)), 3);
    const __m512i rests = _mm512_sub_epi16(halves, _mm512_mullo_epi16(hundreds, _mm512_set1_epi16(100)));
    const __m512i quarters = _mm512_or_si512(hundreds, _mm512_slli_epi32(rests, 16));
    const __m512i tens = _mm512_mulhi_epu16(quarters, _mm512_set1_epi16(6554));
    const __m512i units = _mm512_sub_epi16(quarters, _mm512_mullo_epi16(tens, _mm512_set1_epi16(10)));
    const __m512i digits = _mm512_or_si512(tens, _mm512_slli_epi16(units, 8));
    // The length: every digit to the last that is not 0, and the point before the decimals when any is
    // left; "0.", the zeros and all seven digits below 1.
    const __m512i zeros = _mm512_srli_epi64(_mm512_lzcnt_epi64(digits), 3);
    const __m512i full =
        _mm512_max_epi64(_mm512_sub_epi64(_mm512_set1_epi64(11), decade), _mm512_set1_epi64(8));
    const __mmask8 decimals_left =
        _mm512_cmp_epi64_mask(zeros, _mm512_sub_epi64(_mm512_set1_epi64(9), decade), _MM_CMPINT_LT);
    __m512i length = _mm512_mask_blend_epi64(decimals_left, _mm512_sub_epi64(decade, _mm512_set1_epi64(2)),
                                             _mm512_sub_epi64(full, zeros));
    length = _mm512_maskz_mov_epi64(made, _mm512_mask_add_epi64(length, negative, length, one));
    _mm512_mask_cvtepi64_storeu_epi8(batch.length + at, 0xff, length);
    // Each value's sixteen source bytes in a 128-bit lane, four values to a register, shuffled into
    // their texts by the sources of their decade and sign (the first sources for a lane not kept, whose
    // decade may lie outside the table).
    alignas(32) std::int32_t source[8];
    const __m512i twice = _mm512_add_epi64(decade, decade);
    _mm256_store_si256(reinterpret_cast<__m256i*>(source),
                       _mm512_cvtepi64_epi32(
                           _mm512_maskz_mov_epi64(made, _mm512_mask_add_epi64(twice, negative, twice, one))));
    // Read back through memory: taken out of the register one by one, they would compete with the
    // shuffles for the one port that does both.
    asm volatile("" : : "r"(source) : "memory");
    const __m512i characters = _mm512_add_epi8(digits, _mm512_set1_epi8('0'));
    const __m512i marks = _mm512_set1_epi64(kMarks);
    const __m512i first =
        _mm512_permutex2var_epi64(characters, _mm512_setr_epi64(0, 8, 1, 8, 2, 8, 3, 8), marks);
    const __m512i second =
        _mm512_permutex2var_epi64(characters, _mm512_setr_epi64(4, 8, 5, 8, 6, 8, 7, 8), marks);
    _mm512_storeu_si512(batch.text[at], _mm512_shuffle_epi8(first, sources(source)));
    _mm512_storeu_si512(batch.text[at + 4], _mm512_shuffle_epi8(second, sources(source + 4)));
}

// Every group of eight of the first `count` values.
VOXMOL_AVX512 void make_texts_avx512(const Values& values, std::size_t count, TextBatch& batch) {
    for (std::size_t at = 0; at < count; at += 8)
        make_eight(values.data(), at, batch);
}

#undef VOXMOL_AVX512
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool has_avx512() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512cd") &&
                            __builtin_cpu_supports("avx512vl");
    return has;
}

#endif

}  // namespace

void make_texts(const Values& values, std::size_t count, TextBatch& batch) {
#ifdef VOXMOL_VALUE_TEXTS_AVX512
    if (has_avx512()) {
        make_texts_avx512(values, count, batch);
        return;
    }
#endif
    make_texts_one_by_one(values, count, batch);
}

}  // namespace ciffmt::value_text
