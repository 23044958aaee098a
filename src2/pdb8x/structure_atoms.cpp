#include "pdb8x/structure_atoms.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "common/fatal.h"
#include "pdb8.h"

namespace {

// The number of the first MODEL record (a line whose first word begins with "MODEL", its number read
// after the sixth column, as the toolkit's reader reads it), or 0 when there is none.
int first_model(const PDBLINES& lines) {
    for (int n = 0; n < lines.max; ++n) {
        const char* text = lines.line[static_cast<std::size_t>(n)].data();
        while (*text == ' ' || *text == '\t')
            ++text;
        if (std::strncmp(text, "MODEL", 5) != 0) continue;
        const char* line = lines.line[static_cast<std::size_t>(n)].data();
        if (std::strlen(line) <= 6) return 0;
        char* end = nullptr;
        const long model = std::strtol(line + 6, &end, 10);
        return end == line + 6 || model < 0 || model > 1000000000 ? 0 : static_cast<int>(model);
    }
    return 0;
}

// The double the coordinate text of a record stands for, from the float the toolkit read it into.
double as_written(float coordinate) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, coordinate).ptr;
    double value = coordinate;
    std::from_chars(text, end, value);
    return value;
}

void add_atoms(const PDBRESI& residue, std::vector<std::array<double, 3>>& out) {
    for (int k = 0; k < residue.rnbofa; ++k) {
        const PDBATOM& a = residue.a[static_cast<std::size_t>(k)];
        out.push_back({as_written(a.x), as_written(a.y), as_written(a.z)});
    }
}

}  // namespace

StructureAtoms structure_atoms(const std::string& file, const std::optional<std::string>& residues,
                               int LEVEL) {
    PDBLINES lines;
    errno = 0;
    if (pdb_lines_from_file(file.c_str(), lines) < 0) {
        const int e = errno;
        run_failed("I cannot read the structure file " + file +
                   (e != 0 ? std::string(": ") + std::strerror(e) : ""));
    }
    StructureAtoms out;
    out.model = first_model(lines);
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(lines.line, lines.max, out.model, 'w', store);
    if (store.a.empty()) run_failed("The structure file " + file + " holds no ATOM or HETATM record");
    const int count =
        load_pdb(lines.line, std::span<PDBMOL>(&mol, 1), 0, 0, lines.max, out.model, 'w', LEVEL);

    out.positions.reserve(store.a.size());
    if (!residues) {
        for (int r = 0; r < count; ++r)
            add_atoms(mol.r[static_cast<std::size_t>(r)], out.positions);
        out.residues = count;
        return out;
    }
    std::string_view expression = *residues;
    const bool invert = expression.starts_with('!');
    if (invert) expression.remove_prefix(1);
    std::vector<int> selected(static_cast<std::size_t>(count) + 1);
    const int n = read_res_pattern(expression, mol, count, selected, invert ? 1 : 0, LEVEL);
    if (n <= 0) run_failed("The residue selection " + *residues + " selects no residue of " + file);
    for (int s = 0; s < n; ++s)
        add_atoms(mol.r[static_cast<std::size_t>(selected[static_cast<std::size_t>(s)])], out.positions);
    out.residues = n;
    return out;
}
