// Which grid format a file holds, decided from its first bytes (and, for cube files, its name).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "dx/grid_formats.h"

namespace gridfmt {

namespace {

std::string_view next_line(std::string_view& text) {
    const std::size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    return line;
}

std::string_view trim_front(std::string_view s) {
    const std::size_t start = s.find_first_not_of(" \t\r\f\v");
    return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

bool starts_with_word(std::string_view line, std::string_view word) {
    line = trim_front(line);
    if (line.substr(0, word.size()) != word) return false;
    return line.size() == word.size() || std::strchr(" \t\r\f\v", line[word.size()]) != nullptr;
}

bool is_opendx(std::string_view prefix) {
    while (!prefix.empty()) {
        const std::string_view line = trim_front(next_line(prefix));
        if (line.empty() || line[0] == '#') continue;
        return starts_with_word(line, "object");
    }
    return false;
}

bool is_autodock(std::string_view prefix) {
    return starts_with_word(next_line(prefix), "GRID_PARAMETER_FILE");
}

// The 32-bit word at `at` in either byte order.
std::int32_t word(std::string_view bytes, std::size_t at, bool swap) {
    std::uint32_t w;
    std::memcpy(&w, bytes.data() + at, 4);
    if (swap) w = __builtin_bswap32(w);
    return static_cast<std::int32_t>(w);
}

// An old CCP4 header without the "MAP " stamp: positive dimensions, a mode voxmol reads, and MAPC, MAPR,
// MAPS a permutation of 1, 2, 3, in one of the two byte orders. Text never passes: its bytes read as
// huge numbers.
bool plausible_ccp4(std::string_view prefix) {
    if (prefix.size() < 1024) return false;
    for (bool swap : {false, true}) {
        const std::int32_t nx = word(prefix, 0, swap), ny = word(prefix, 4, swap), nz = word(prefix, 8, swap);
        const std::int32_t mode = word(prefix, 12, swap);
        const std::int32_t c = word(prefix, 64, swap), r = word(prefix, 68, swap), s = word(prefix, 72, swap);
        const bool permutation =
            c >= 1 && c <= 3 && r >= 1 && r <= 3 && s >= 1 && s <= 3 && c != r && r != s && c != s;
        const bool known_mode = mode == 0 || mode == 1 || mode == 2 || mode == 6 || mode == 12;
        if (nx > 0 && ny > 0 && nz > 0 && known_mode && permutation) return true;
    }
    return false;
}

// The "MAP " stamp of an MRC file, with a mode word that is a small number in one byte order (text that
// happens to hold "MAP " there has four characters in that word, a huge number either way). A file
// that ends before its 1024-byte header does is still taken, so that the reader can say it is truncated.
bool is_ccp4(std::string_view prefix) {
    if (prefix.size() >= 216 && prefix.substr(208, 4) == "MAP ") {
        for (bool swap : {false, true}) {
            const std::int32_t mode = word(prefix, 12, swap);
            if (mode >= 0 && mode < 256) return true;
        }
    }
    return plausible_ccp4(prefix);
}

bool ends_with(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

// A whole number and then at least three real numbers, blank-separated, as cube lines 3 to 6 hold.
bool count_and_vector(std::string_view line) {
    const std::string text(line);
    const char* p = text.c_str();
    char* end = nullptr;
    std::strtol(p, &end, 10);
    if (end == p) return false;
    for (int i = 0; i < 3; ++i) {
        p = end;
        std::strtod(p, &end);
        if (end == p) return false;
    }
    return true;
}

bool is_cube(std::string_view prefix, std::string_view name) {
    if (!ends_with(name, ".cube") && !ends_with(name, ".cub")) return false;
    next_line(prefix);  // two comment lines
    next_line(prefix);
    for (int line = 3; line <= 6; ++line) {
        if (prefix.empty() || !count_and_vector(next_line(prefix))) return false;
    }
    return true;
}

}  // namespace

Format recognise(std::string_view prefix, std::string_view name) {
    if (is_ccp4(prefix)) return Format::ccp4;
    if (is_opendx(prefix)) return Format::opendx;
    if (is_autodock(prefix)) return Format::autodock;
    if (is_cube(prefix, name)) return Format::cube;
    return Format::native;
}

}  // namespace gridfmt
