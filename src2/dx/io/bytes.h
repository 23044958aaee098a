// Numbers stored as bytes, in either byte order: what the binary formats (CCP4/MRC, binary OpenDX, and
// the Fortran-record formats) are read with. A value is loaded from any address; nothing is aligned.
#ifndef VOXMOL_DX_IO_BYTES_H
#define VOXMOL_DX_IO_BYTES_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace io {

// The unsigned word of T's size.
template <typename T>
using Word =
    std::conditional_t<sizeof(T) == 1, std::uint8_t,
                       std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                          std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;

template <typename W>
constexpr W byte_swapped(W w) {
    if constexpr (sizeof(W) == 1) {
        return w;
    } else if constexpr (sizeof(W) == 2) {
        return __builtin_bswap16(w);
    } else if constexpr (sizeof(W) == 4) {
        return __builtin_bswap32(w);
    } else {
        return __builtin_bswap64(w);
    }
}

// A T (an integer or an IEEE float of 1, 2, 4 or 8 bytes) stored at `p`; `Swap` when the bytes are in the
// other order than this machine's.
template <typename T, bool Swap>
inline T load(const char* p) {
    Word<T> w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (Swap) w = byte_swapped(w);
    return std::bit_cast<T>(w);
}

// The same, with the byte order known only at run time.
template <typename T>
inline T load(const char* p, bool swap) {
    return swap ? load<T, true>(p) : load<T, false>(p);
}

// The same as a double: the loader the binary formats hand to the move of their values into walk order.
template <typename T, bool Swap>
double load_as_double(const char* p) {
    return static_cast<double>(load<T, Swap>(p));
}

// Of a loader: 1 when it is load_as_double of a float in this machine's byte order, 2 in the other, 0
// otherwise (a template argument, matched as such: comparing two functions' addresses is not always a
// constant expression).
template <double (*load)(const char*)>
inline constexpr int kFloatLoader = 0;
template <>
inline constexpr int kFloatLoader<&load_as_double<float, false>> = 1;
template <>
inline constexpr int kFloatLoader<&load_as_double<float, true>> = 2;

// Whether bytes written big-endian (or little-endian) must be swapped on this machine.
constexpr bool swap_big_endian = std::endian::native == std::endian::little;
constexpr bool swap_little_endian = std::endian::native == std::endian::big;

}  // namespace io

#endif  // VOXMOL_DX_IO_BYTES_H
