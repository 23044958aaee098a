// Number formatting for the pseudo-atom writer: the bytes printf would write for "%<w>.<d>f" and
// "%<w>ld", produced without printf on the common path.
#ifndef VOXMOL_DX_ATOM_FORMAT_H
#define VOXMOL_DX_ATOM_FORMAT_H

#include <cstddef>

namespace atomfmt {

// Room that put_fixed may need: the widest "%.1f" of a finite double, its sign and some slack.
constexpr std::size_t kMaxFixed = 400;
// Room that put_long may need for a width up to 16.
constexpr std::size_t kMaxLong = 24;

// Writes `value` at `out` exactly as printf("%*.*f", width, decimals, value) would (decimals 1 to 3) and
// returns the end of what was written. Values whose rounding a double product cannot settle (a tie at the
// last decimal, or near one), large magnitudes, infinities and not-a-number go through snprintf.
char* put_fixed(char* out, double value, int width, int decimals);

// Writes `value` right-justified in `width` columns, as printf("%*ld") would; returns the end.
char* put_long(char* out, long value, int width);

}  // namespace atomfmt

#endif  // VOXMOL_DX_ATOM_FORMAT_H
