// Models, chosen atoms, elements and the nearest atom of a loaded structure.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "math_tool2.h"
#include "pdb8x.h"

namespace {

std::string_view line_text(const PDBLINE& line) {
    return std::string_view(line.data(), strnlen(line.data(), line.size()));
}

bool is_coordinate(std::string_view t) {
    return t.starts_with("ATOM") || t.starts_with("HETATM");
}

// The number a MODEL line gives after its sixth character, as the reader reads it.
std::optional<int> model_number(std::string_view t) {
    if (t.find("MODEL") == std::string_view::npos) return std::nullopt;
    if (t.size() <= 6) return std::nullopt;
    const std::string rest(t.substr(6));
    char* end = nullptr;
    const long n = std::strtol(rest.c_str(), &end, 10);
    if (end == rest.c_str()) return std::nullopt;
    return static_cast<int>(n);
}

}  // namespace

std::optional<int> first_model_in_head(std::span<const PDBLINE> lines, int max) {
    const int from = find_beginning1(lines.first(static_cast<std::size_t>(max)));
    for (int i = from; i < max; ++i) {
        const std::string_view t = line_text(lines[static_cast<std::size_t>(i)]);
        if (const auto n = model_number(t)) return *n;
        if (is_coordinate(t)) return 0;
    }
    return std::nullopt;
}

int first_model_number(std::span<const PDBLINE> lines, int max) {
    return first_model_in_head(lines, max).value_or(0);
}

std::vector<int> model_numbers(std::span<const PDBLINE> lines, int max) {
    std::vector<int> out;
    const int from = find_beginning1(lines.first(static_cast<std::size_t>(max)));
    for (int i = from; i < max; ++i) {
        if (const auto n = model_number(line_text(lines[static_cast<std::size_t>(i)]))) out.push_back(*n);
    }
    return out;
}

namespace pdb8x_detail {

void rebuild(PDBSTORE& store, PDBMOL& mol, const std::vector<int>& kept) {
    PDBSTORE out;
    std::size_t atoms = 0;
    for (int r : kept)
        atoms += static_cast<std::size_t>(store.r[static_cast<std::size_t>(r)].rnbofa);
    out.r.resize(std::max<std::size_t>(kept.size(), 1));
    out.a.resize(atoms);
    std::size_t at = 0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const PDBRESI& from = store.r[static_cast<std::size_t>(kept[i])];
        PDBRESI& to = out.r[i];
        to = from;
        const auto n = static_cast<std::size_t>(from.rnbofa);
        std::copy_n(from.a.begin(), n, out.a.begin() + static_cast<std::ptrdiff_t>(at));
        to.a = std::span<PDBATOM>(out.a.data() + at, n);
        at += n;
    }
    if (kept.empty()) out.r[0] = PDBRESI{};
    store = std::move(out);
    mol.r = std::span<PDBRESI>(store.r.data(), store.r.size());
    mol.nbofr = static_cast<int>(kept.size());
}

}  // namespace pdb8x_detail

int copy_atoms(const PDBSTORE& store, int residues, std::span<const std::size_t> atoms, PDBSTORE& out,
               PDBMOL& out_mol) {
    out = PDBSTORE{};
    out.a.resize(atoms.size());
    // The residue of each atom, walked in step with the ascending atom indices.
    std::vector<std::size_t> first_atom(static_cast<std::size_t>(residues));
    std::size_t at = 0;
    for (int r = 0; r < residues; ++r) {
        first_atom[static_cast<std::size_t>(r)] = at;
        at += static_cast<std::size_t>(store.r[static_cast<std::size_t>(r)].rnbofa);
    }
    std::vector<std::pair<int, std::size_t>> runs;  // (source residue, atoms in the run)
    int r = 0;
    for (std::size_t n = 0; n < atoms.size(); ++n) {
        const std::size_t a = atoms[n];
        while (r + 1 < residues && first_atom[static_cast<std::size_t>(r) + 1] <= a)
            ++r;
        out.a[n] = store.a[a];
        if (!runs.empty() && runs.back().first == r && n > 0 && atoms[n - 1] + 1 == a) {
            ++runs.back().second;
        } else {
            runs.emplace_back(r, 1);
        }
    }
    out.r.resize(std::max<std::size_t>(runs.size(), 1));
    std::size_t next = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        PDBRESI& to = out.r[i];
        to = store.r[static_cast<std::size_t>(runs[i].first)];
        to.rnbofa = static_cast<int>(runs[i].second);
        to.a = std::span<PDBATOM>(out.a.data() + next, runs[i].second);
        next += runs[i].second;
    }
    if (runs.empty()) out.r[0] = PDBRESI{};
    out_mol = PDBMOL{};
    out_mol.r = std::span<PDBRESI>(out.r.data(), out.r.size());
    out_mol.nbofr = static_cast<int>(runs.size());
    return static_cast<int>(runs.size());
}

std::string atom_element(const PDBATOM& atom) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    std::string element;
    const std::size_t extra = strnlen(atom.extra, sizeof atom.extra);
    for (std::size_t i = 0; i < extra && i < 2; ++i) {
        if (letter(atom.extra[i])) element += up(atom.extra[i]);
    }
    if (!element.empty()) return element;
    const std::string_view name(atom.aname, strnlen(atom.aname, 4));
    if (name.empty()) return element;
    const char c0 = name[0];
    const char c1 = name.size() > 1 ? name[1] : ' ';
    if (c0 == ' ' || (c0 >= '0' && c0 <= '9')) {
        if (letter(c1)) element += up(c1);
        return element;
    }
    if (!letter(c0)) return element;
    std::size_t length = name.size();
    while (length > 0 && name[length - 1] == ' ')
        --length;
    if (up(c0) == 'H' && length == 4) return "H";
    element += up(c0);
    if (letter(c1)) element += up(c1);
    return element;
}

std::optional<std::pair<std::size_t, double>> nearest_atom(std::span<const PDBATOM> store_atoms,
                                                           std::span<const std::size_t> atoms, COORD target) {
    std::optional<std::pair<std::size_t, double>> best;
    for (const std::size_t i : atoms) {
        const PDBATOM& a = store_atoms[i];
        const double d = distance(COORD{a.x, a.y, a.z}, target);
        // Strictly closer only: ties keep the atom met first.
        if (!best || d < best->second) best = std::make_pair(i, d);
    }
    return best;
}
