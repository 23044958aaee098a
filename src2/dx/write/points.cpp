// Point sets as pseudo-atom records, in the converter's PDB layout or as an mmCIF atom_site table.
#include <cstdio>
#include <string>

#include "common/interrupt.h"
#include "dx/write/atom_format.h"
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
    return "'" + std::string(text) + "'";
}

}  // namespace

long write_points_cif(std::FILE* file, std::span<const double> xyz, std::span<const double> values,
                      const PointFields& fields) {
    const std::size_t n = xyz.size() / 3;
    std::string out =
        "data_voxmol\n#\nloop_\n"
        "_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n_atom_site.label_atom_id\n"
        "_atom_site.label_alt_id\n_atom_site.label_comp_id\n_atom_site.label_asym_id\n"
        "_atom_site.label_entity_id\n_atom_site.label_seq_id\n_atom_site.pdbx_PDB_ins_code\n"
        "_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n_atom_site.occupancy\n"
        "_atom_site.B_iso_or_equiv\n_atom_site.auth_seq_id\n_atom_site.auth_asym_id\n"
        "_atom_site.pdbx_PDB_model_num\n";
    const std::string element = cif_value(fields.element.empty() ? "?" : fields.element);
    const std::string name = cif_value(fields.name);
    const std::string resname = cif_value(fields.resname);
    const std::string chain = cif_value(std::string(1, fields.chain));
    char line[512];
    for (std::size_t p = 0; p < n; ++p) {
        const long serial = static_cast<long>(p) + 1;
        const int len = std::snprintf(
            line, sizeof line, "ATOM %ld %s %s . %s %s 1 %ld ? %.3f %.3f %.3f 1 %.6g %ld %s 1\n", serial,
            element.c_str(), name.c_str(), resname.c_str(), chain.c_str(), serial, xyz[3 * p], xyz[3 * p + 1],
            xyz[3 * p + 2], values.empty() ? 0.0 : values[p], serial, chain.c_str());
        if (len > 0) out.append(line, std::min(static_cast<std::size_t>(len), sizeof line - 1));
        if (out.size() >= kChunk) {
            check_interrupt();
            std::fwrite(out.data(), 1, out.size(), file);
            out.clear();
        }
    }
    out += "#\n";
    std::fwrite(out.data(), 1, out.size(), file);
    return static_cast<long>(n);
}

}  // namespace gridexport
