// Point sets as pseudo-atom records, in the converter's PDB layout or as an mmCIF atom_site table.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>

#include "common/interrupt.h"
#include "dx/write/atom_format.h"
#include "dx/write/cif_writer.h"
#include "dx/write/export.h"

namespace gridexport {

namespace {

// Text of at most `width` characters, padded with blanks on the left (`right`) or on the right.
void put_padded(std::string& out, std::string_view text, std::size_t width, bool right) {
    text = text.substr(0, width);
    if (right) out.append(width - text.size(), ' ');
    out.append(text);
    if (!right) out.append(width - text.size(), ' ');
}

constexpr std::size_t kChunk = std::size_t{1} << 20;

}  // namespace

long write_points_pdb(std::FILE* file, std::span<const double> xyz, std::span<const double> values,
                      const PointFields& fields) {
    const std::size_t n = xyz.size() / 3;
    // What every record repeats, from column 12 to 22: blank, name, altloc, residue name, blank, chain.
    std::string middle = " ";
    put_padded(middle, fields.name, 4, false);
    middle += ' ';
    put_padded(middle, fields.resname, 3, true);
    middle += ' ';
    middle += fields.chain;
    std::string tail(10, ' ');  // columns 67-76
    put_padded(tail, fields.element, 2, true);
    tail += '\n';

    std::string out;
    char number[atomfmt::kMaxFixed + atomfmt::kMaxLong];
    auto put = [&](char* end) { out.append(number, end); };
    for (std::size_t p = 0; p < n; ++p) {
        const long serial = static_cast<long>(p) + 1;
        out += "ATOM  ";
        put(atomfmt::put_hy36(number, serial, 5));
        out += middle;
        put(atomfmt::put_hy36(number, serial, 4));
        out += "    ";
        for (int d = 0; d < 3; ++d)
            put(atomfmt::put_coordinate(number, xyz[3 * p + d]));
        out += "  1.00";
        put(atomfmt::put_value(number, values.empty() ? 0.0 : values[p]));
        out += tail;
        if (out.size() >= kChunk) {
            check_interrupt();
            std::fwrite(out.data(), 1, out.size(), file);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), file);
    return static_cast<long>(n);
}

namespace {

// A CIF value: the text itself when it is a plain word, '.' when empty, quoted otherwise.
std::string cif_value(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty()) return ".";
    bool plain = text.front() != '_' && text.front() != '#' && text.front() != '$' && text.front() != '\'' &&
                 text.front() != '"' && text.front() != '[' && text.front() != ';';
    for (char c : text)
        plain = plain && c > ' ' && c < 127;
    if (plain) return std::string(text);
    return std::string("'") + std::string(text) + "'";
}

}  // namespace

long write_points_cif(std::FILE* file, std::span<const double> xyz, std::span<const double> values,
                      const PointFields& fields) {
    const std::size_t n = xyz.size() / 3;
    // The converter's mmCIF, row by row: the same head (no bond between the points), coordinates to three
    // decimals, each value in the shortest text that reads back the same.
    std::string out = ciffmt::file_head("voxmol", cif_value(fields.resname));
    if (n > 0) out += ciffmt::kAtomSiteLoop;
    const std::string middle = std::string(" ") + cif_value(fields.element.empty() ? "X" : fields.element) +
                               " " + cif_value(fields.name) + " . " + cif_value(fields.resname) + " " +
                               cif_value(std::string(1, fields.chain)) + " 1 ";
    const std::string chain = cif_value(std::string(1, fields.chain));
    char line[3 * atomfmt::kMaxFixed + 512];
    for (std::size_t p = 0; p < n; ++p) {
        const long serial = static_cast<long>(p) + 1;
        char* e = line;
        e = std::to_chars(e, e + 24, serial).ptr;  // "ATOM " is put before
        e = std::copy(middle.begin(), middle.end(), e);
        e = std::to_chars(e, e + 24, serial).ptr;
        e = std::copy_n(" ? ", 3, e);
        for (int d = 0; d < 3; ++d) {
            e = ciffmt::put_coordinate(e, xyz[3 * p + d]);
            *e++ = ' ';
        }
        e = std::copy_n("1.00 ", 5, e);
        e = ciffmt::put_value(e, values.empty() ? 0.0 : values[p]);
        *e++ = ' ';
        e = std::to_chars(e, e + 24, serial).ptr;
        *e++ = ' ';
        e = std::copy(chain.begin(), chain.end(), e);
        e = std::copy_n(" 1\n", 3, e);
        out += "ATOM ";
        out.append(line, static_cast<std::size_t>(e - line));
        if (out.size() >= kChunk) {
            check_interrupt();
            std::fwrite(out.data(), 1, out.size(), file);
            out.clear();
        }
    }
    if (n > 0) out += "#\n";
    std::fwrite(out.data(), 1, out.size(), file);
    return static_cast<long>(n);
}

}  // namespace gridexport
