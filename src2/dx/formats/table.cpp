// Which grid format a file holds, decided from its first bytes (and, for cube files, its name).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dx/formats/format.h"
#include "dx/io/words.h"

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

// The next blank-separated word of `line`, or a quoted name whole, quotes included; `line` moves past it.
std::string_view next_word(std::string_view& line) {
    line = trim_front(line);
    std::size_t end = 0;
    if (!line.empty() && line[0] == '"') {
        end = line.find('"', 1);
        end = end == std::string_view::npos ? line.size() : end + 1;
    } else {
        end = std::min(line.find_first_of(" \t\r\f\v"), line.size());
    }
    const std::string_view word = line.substr(0, end);
    line.remove_prefix(end);
    return word;
}

// "object <name> [class] <class>", the class one of the format's: a title line of voxmol's own format
// that merely starts with the word "object" does not pass.
bool is_object_line(std::string_view line) {
    if (next_word(line) != "object" || next_word(line).empty()) return false;
    std::string_view cls = next_word(line);
    if (cls == "class") cls = next_word(line);
    static constexpr std::string_view kClasses[] = {
        "group",           "series",        "multigrid",     "compositefield", "field",
        "array",           "constantarray", "gridpositions", "regulararray",   "productarray",
        "gridconnections", "patharray",     "mesharray",     "xform",          "string",
        "light",           "camera",        "clipped",       "screen"};
    return std::find(std::begin(kClasses), std::end(kClasses), cls) != std::end(kClasses);
}

bool is_opendx(std::string_view prefix) {
    while (!prefix.empty()) {
        const std::string_view line = trim_front(next_line(prefix));
        if (line.empty() || line[0] == '#') continue;
        return is_object_line(line);
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

// A whole number and three real numbers, as cube lines 3 to 6 start. Line 3 must hold nothing else but,
// optionally, a whole number (the values per point): that keeps out files of voxmol's own format, whose
// lines hold one number, or 17 on the header line. What follows on lines 4 to 6 is left to the cube
// reader, which names what is wrong with it.
bool count_and_vector(std::string_view line, bool whole_line) {
    const std::vector<std::string_view> w = textwords::words(line);
    long long n = 0;
    double v = 0.0;
    if (w.size() < 4 || (whole_line && w.size() > 5)) return false;
    if (!textwords::whole(w[0], n) || (whole_line && w.size() == 5 && !textwords::whole(w[4], n)))
        return false;
    return textwords::real(w[1], v) && textwords::real(w[2], v) && textwords::real(w[3], v);
}

bool is_cube(std::string_view prefix, std::string_view name) {
    // A compressed cube keeps its ending before ".gz": "density.cube.gz".
    if (ends_with(name, ".gz")) name.remove_suffix(3);
    if (!ends_with(name, ".cube") && !ends_with(name, ".cub")) return false;
    next_line(prefix);  // two comment lines
    next_line(prefix);
    for (int line = 3; line <= 6; ++line) {
        if (prefix.empty() || !count_and_vector(next_line(prefix), line == 3)) return false;
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
