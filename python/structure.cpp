// voxmol.Structure and read_structure: the PDB toolkit's direct file load (the reader's model without a
// line set), selection language, shape summary and record display, with the additions of pdb8x.h.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bindings.h"
#include "dx/io/input.h"
#include "host.h"
#include "math_tool2.h"
#include "pdb8.h"
#include "pdb8x.h"

namespace voxpy {

namespace {

// One structure as load_pdb filled it: residue slots and the atom array they share, in file order.
struct Structure {
    PDBSTORE store;
    PDBMOL mol{};
    int residues = 0;  // residues holding the atoms; 0 for a structure of no atom

    std::size_t atoms() const { return residues == 0 ? 0 : store.a.size(); }
    PDBRESI& residue(int i) { return store.r[static_cast<std::size_t>(i)]; }
    const PDBRESI& residue(int i) const { return store.r[static_cast<std::size_t>(i)]; }
    // Index of a residue's first atom in the shared array.
    std::size_t first_atom(const PDBRESI& r) const {
        return r.a.empty() ? 0 : static_cast<std::size_t>(r.a.data() - store.a.data());
    }
};

// A field of fixed size up to its terminator, never past the field, without the blanks around it.
std::string_view field_text(const char* field, std::size_t size) {
    std::string_view t(field, strnlen(field, size));
    while (!t.empty() && t.front() == ' ')
        t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\n' || t.back() == '\r'))
        t.remove_suffix(1);
    return t;
}
template <std::size_t N>
py::str text_of(const char (&field)[N]) {
    return latin1(field_text(field, N));
}
template <std::size_t N>
py::str verbatim(const char (&field)[N]) {
    return latin1(field, strnlen(field, N));
}

py::str char_of(char c) {
    return latin1(&c, 1);
}

struct Atom {
    py::object owner;  // the Structure, kept alive
    PDBATOM* atom;
    std::size_t index;
};

struct Residue {
    py::object owner;
    Structure* structure;
    int index;
    PDBRESI& res() const { return structure->residue(index); }
};

// The residues, or a slice of them, as a sequence, without making an object for each up front.
struct Residues {
    py::object owner;
    Structure* structure;
    std::vector<int> picked;  // indices into the structure's residues
};

char record_kind(const py::handle& given) {
    const std::string records = as_str(given, "records");
    if (records == "a" || records == "h" || records == "w") return records[0];
    throw py::value_error("records must be \"a\" (ATOM), \"h\" (HETATM) or \"w\" (both), not \"" + records +
                          "\"");
}

// ---- Reading ------------------------------------------------------------------------------------------

// The whole (decompressed) text of a file, through the grids' input layer: gzip-compressed PDB files
// read as the plain ones.
std::string file_text(const std::string& name) {
    io::Input input;
    if (!io::open_input(name.c_str(), 0, input)) raise_os_error(errno, name);
    std::string text;
    std::size_t got = 0;
    for (;;) {
        check_interrupt();
        if (text.size() - got < (1u << 20))
            text.resize(std::max<std::size_t>(2 * text.size(), got + (1u << 20)));
        const std::size_t n = input.source->read(text.data() + got, text.size() - got);
        if (n == 0) break;
        got += n;
    }
    text.resize(got);
    return text;
}

// What a text that is no PDB file looks like, for the message.
std::string not_pdb_hint(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;
        if (line.starts_with("data_"))
            return " (it is an mmCIF file, which read_structure does not read: gemmi converts it to PDB)";
        break;
    }
    return "";
}

// The number of the file's first MODEL record (0 when a coordinate record comes first, or none), from
// its first lines when they settle it, else from the whole text.
int first_model(const std::string& name) {
    io::Input input;
    if (!io::open_input(name.c_str(), std::size_t{1} << 16, input)) raise_os_error(errno, name);
    std::string_view head = input.prefix;
    if (head.size() == (std::size_t{1} << 16)) head = head.substr(0, head.rfind('\n') + 1);  // whole lines
    PDBLINES lines;
    pdb_lines_from_text(head, lines);
    if (const auto n = first_model_in_head(lines.line, lines.max)) return *n;
    if (input.prefix.size() < (std::size_t{1} << 16)) return 0;  // the whole file was looked at
    input = io::Input{};
    pdb_lines_from_text(file_text(name), lines);
    return first_model_number(lines.line, lines.max);
}

// The model-loading step: a PDB file, models up to `model`, records of kind `typ`, into the structure,
// as the toolkit's line set, exact sizing and reader would load it. A plain file goes straight from the
// file to the store (the toolkit's direct load, on both cores); a compressed one is decompressed through
// the grids' input layer first.
void load_model(const std::string& name, int model, char typ, int level, Structure& s) {
    io::Input input;
    if (!io::open_input(name.c_str(), 0, input)) raise_os_error(errno, name);
    const bool compressed = !input.compression.empty();
    input = io::Input{};
    const int residues = compressed ? load_pdb_text(file_text(name), model, typ, s.store, s.mol, level)
                                    : load_pdb_file(name.c_str(), model, typ, s.store, s.mol, level);
    if (residues < 0) raise_os_error(errno, name);
    s.residues = residues;
}

// read_structure's model argument: the first model, model N, or all of them.
struct ModelChoice {
    enum Kind { first, number, all } kind = first;
    int n = 0;
};

ModelChoice model_choice(const py::handle& v) {
    if (v.is_none()) return {};
    if (py::isinstance<py::str>(v)) {
        if (v.cast<std::string>() == "all") return {ModelChoice::all, 0};
        throw py::value_error("model must be a MODEL number, \"all\" or None (the first model), not " +
                              py::repr(v).cast<std::string>());
    }
    const int n = as_int32(v, "model");
    if (n < 0) throw py::value_error("model must not be negative");
    return {ModelChoice::number, n};
}

std::string listed_models(const std::vector<int>& models) {
    if (models.empty()) return "it has no MODEL record (its atoms are one model, 1)";
    std::string text = "its models are ";
    const std::size_t shown = std::min<std::size_t>(models.size(), 10);
    for (std::size_t i = 0; i < shown; ++i)
        text += (i ? ", " : "") + std::to_string(models[i]);
    if (shown < models.size()) text += ", ... (" + std::to_string(models.size()) + " in all)";
    return text;
}

std::unique_ptr<Structure> read_structure(const py::handle& path, const py::handle& model_arg,
                                          const py::handle& records_arg, const py::handle& level_arg) {
    const std::string name = file_name(path);
    const ModelChoice choice = model_choice(model_arg);
    const char typ = record_kind(records_arg);
    const int level = as_int32(level_arg, "level");
    check_readable(name);
    auto s = std::make_unique<Structure>();
    std::string refusal;
    released(level > 0, [&] {
        // The reader loads every model up to the one wanted, which is then kept.
        int wanted = INT_MAX;  // "all": every model, where the library's 99 stops at MODEL 99
        if (choice.kind == ModelChoice::first) wanted = first_model(name);
        if (choice.kind == ModelChoice::number) wanted = choice.n;
        load_model(name, wanted, typ, level, *s);
        if (s->atoms() == 0) {
            const std::string text = file_text(name);
            PDBLINES lines;
            pdb_lines_from_text(text, lines);
            const char* kinds = typ == 'a' ? "ATOM" : typ == 'h' ? "HETATM" : "ATOM or HETATM";
            refusal = "no " + std::string(kinds) + " record" +
                      (choice.kind == ModelChoice::number ? " of model " + std::to_string(choice.n) : "") +
                      " in " + name + not_pdb_hint(text);
            if (choice.kind == ModelChoice::number)
                refusal += "; " + listed_models(model_numbers(lines.line, lines.max));
            return;
        }
        if (choice.kind == ModelChoice::all) return;
        const int kept = wanted;
        // A file without MODEL records is model 1 (its records carry 0).
        bool any_model = false;
        for (int r = 0; r < s->residues && !any_model; ++r)
            any_model = s->residue(r).model != 0;
        if (!any_model && kept <= 1) return;
        s->residues =
            keep_residues(s->store, s->mol, s->residues, [&](int r) { return s->residue(r).model == kept; });
        if (s->residues == 0) {
            const std::string text = file_text(name);
            PDBLINES lines;
            pdb_lines_from_text(text, lines);
            refusal = "no model " + std::to_string(kept) + " in " + name + "; " +
                      listed_models(model_numbers(lines.line, lines.max));
        }
    });
    if (!refusal.empty()) throw py::value_error(py::str(latin1(refusal)).cast<std::string>());
    return s;
}

// ---- Per-atom arrays ----------------------------------------------------------------------------------

// A per-atom field as a writable array viewing the atoms themselves (one atom's record apart), so that
// a change reaches what the structure writes and summarises.
template <class T>
py::array atom_field_view(const py::object& self, std::size_t offset, std::vector<py::ssize_t> shape,
                          std::vector<py::ssize_t> strides) {
    Structure& s = self.cast<Structure&>();
    if (s.atoms() == 0) return py::array_t<T>(shape);
    char* base = reinterpret_cast<char*>(s.store.a.data()) + offset;
    return py::array(py::dtype::of<T>(), std::move(shape), std::move(strides), reinterpret_cast<T*>(base),
                     self);
}

template <class T>
py::array scalar_field(const py::object& self, std::size_t offset) {
    const Structure& s = self.cast<Structure&>();
    return atom_field_view<T>(self, offset, {static_cast<py::ssize_t>(s.atoms())},
                              {static_cast<py::ssize_t>(sizeof(PDBATOM))});
}

py::array coords_view(const py::object& self) {
    static_assert(offsetof(PDBATOM, y) == offsetof(PDBATOM, x) + sizeof(float) &&
                      offsetof(PDBATOM, z) == offsetof(PDBATOM, y) + sizeof(float),
                  "the coordinates of an atom lie side by side");
    const Structure& s = self.cast<Structure&>();
    return atom_field_view<float>(self, offsetof(PDBATOM, x), {static_cast<py::ssize_t>(s.atoms()), 3},
                                  {static_cast<py::ssize_t>(sizeof(PDBATOM)), sizeof(float)});
}

// Calls each(atom, residue) for every atom, in file order.
template <class Each>
void for_atoms(const Structure& s, Each each) {
    for (int r = 0; r < s.residues; ++r) {
        const PDBRESI& res = s.residue(r);
        for (int j = 0; j < res.rnbofa; ++j)
            each(res.a[static_cast<std::size_t>(j)], res, r);
    }
}

// A text of every atom as an array of str (a copy), "U<width>".
template <class Get>
py::array text_array(const Structure& s, int width, Get get) {
    py::array out(py::dtype("U" + std::to_string(width)),
                  std::vector<py::ssize_t>{static_cast<py::ssize_t>(s.atoms())});
    auto* p = static_cast<std::uint32_t*>(out.mutable_data());
    for_atoms(s, [&](const PDBATOM& a, const PDBRESI& r, int) {
        const std::string_view text = get(a, r);
        for (int c = 0; c < width; ++c)
            *p++ = c < static_cast<int>(text.size()) ? static_cast<unsigned char>(text[c]) : 0;
    });
    return out;
}

template <class T, class Get>
py::array number_array(const Structure& s, Get get) {
    py::array_t<T> out(static_cast<py::ssize_t>(s.atoms()));
    T* p = out.mutable_data();
    for_atoms(s, [&](const PDBATOM& a, const PDBRESI& r, int index) { *p++ = get(a, r, index); });
    return out;
}

// ---- Atom choices -------------------------------------------------------------------------------------

// The atoms a mask (booleans, one per atom) or an array of atom indices names, ascending and once each;
// None: every atom.
std::vector<std::size_t> chosen_atoms(const Structure& s, const py::handle& given, const char* what) {
    const std::size_t n = s.atoms();
    std::vector<std::size_t> out;
    if (given.is_none()) {
        out.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = i;
        return out;
    }
    if (py::isinstance<py::str>(given))
        throw py::type_error(std::string(what) +
                             " must be a boolean mask or an array of atom indices, not str");
    py::array a;
    try {
        a = py::module_::import("numpy").attr("asarray")(given);
    } catch (const py::error_already_set&) {
        throw py::type_error(std::string(what) + " must be a boolean mask or an array of atom indices");
    }
    if (a.ndim() != 1) throw py::value_error(std::string(what) + " must be one-dimensional");
    const char kind = a.dtype().kind();
    if (kind == 'b') {
        if (static_cast<std::size_t>(a.shape(0)) != n)
            throw py::value_error(std::string(what) + " is a mask of " + std::to_string(a.shape(0)) +
                                  " values for a structure of " + std::to_string(n) + " atoms");
        const auto m = py::array_t<bool, py::array::c_style | py::array::forcecast>::ensure(a);
        for (std::size_t i = 0; i < n; ++i)
            if (m.data()[i]) out.push_back(i);
        return out;
    }
    if (kind != 'i' && kind != 'u' && !(a.size() == 0))
        throw py::type_error(std::string(what) + " must be a boolean mask or an array of atom indices, not " +
                             py::str(a.dtype()).cast<std::string>());
    const auto idx = py::array_t<long long, py::array::c_style | py::array::forcecast>::ensure(a);
    for (py::ssize_t i = 0; i < idx.size(); ++i) {
        long long v = idx.data()[i];
        if (v < 0) v += static_cast<long long>(n);
        if (v < 0 || static_cast<std::size_t>(v) >= n)
            throw py::index_error(std::string(what) + " holds atom index " + std::to_string(idx.data()[i]) +
                                  ", out of range for " + std::to_string(n) + " atoms");
        out.push_back(static_cast<std::size_t>(v));
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::unique_ptr<Structure> atoms_of_structure(const Structure& s, const py::handle& mask) {
    const std::vector<std::size_t> atoms = chosen_atoms(s, mask, "mask");
    auto out = std::make_unique<Structure>();
    out->residues = copy_atoms(s.store, s.residues, atoms, out->store, out->mol);
    return out;
}

// ---- Selection and summaries --------------------------------------------------------------------------

py::array select(Structure& s, const py::handle& expression_arg, const py::handle& invert_arg,
                 const py::handle& level_arg) {
    const std::string expression = as_str(expression_arg, "expression");
    const bool invert = as_bool(invert_arg, "invert");
    const int level = as_int32(level_arg, "level");
    const CheckedSelection chosen =
        released(level > 0, [&] { return select_checked(expression, s.mol, s.residues, invert); });
    if (!chosen.error.empty()) throw py::value_error(chosen.error);
    py::array_t<py::ssize_t> out(static_cast<py::ssize_t>(chosen.residues.size()));
    std::copy(chosen.residues.begin(), chosen.residues.end(), out.mutable_data());
    return out;
}

std::string chains_present(const Structure& s) {
    std::string chains;
    for (int r = 0; r < s.residues; ++r) {
        const char c = s.residue(r).rchain;
        if (chains.find(c) == std::string::npos) chains += c;
    }
    std::string text;
    for (char c : chains)
        text += (text.empty() ? "'" : ", '") + std::string(1, c) + "'";
    return text.empty() ? "none" : text;
}

void need_atoms(const Structure& s, const char* what) {
    if (s.atoms() == 0) throw py::value_error(std::string(what) + " of a structure without atoms");
}

double radius_of_gyration(Structure& s, const py::handle& chain_arg, const py::handle& level_arg) {
    const int level = as_int32(level_arg, "level");
    char letter = ' ';
    if (!chain_arg.is_none()) {
        const std::string chain = as_str(chain_arg, "chain");
        if (chain.size() != 1) throw py::value_error("chain must be one character, not \"" + chain + "\"");
        letter = chain[0];
        if (letter == ' ')
            throw py::value_error(
                "the blank chain cannot be chosen alone (the toolkit's blank chain means every "
                "chain): use chain=None, or s.atoms(s.chain == ' ').radius_of_gyration()");
        bool found = false;
        for (int r = 0; r < s.residues && !found; ++r)
            found = s.residue(r).rchain == letter && s.residue(r).rnbofa > 0;
        if (!found)
            throw py::value_error("chain '" + chain + "' has no atom; the chains are " + chains_present(s));
    }
    need_atoms(s, "radius_of_gyration");
    return released(level > 0, [&] { return get_pdb_rad_gyr(s.mol, s.residues, letter, level); });
}

py::object closest_atom(Structure& s, const py::handle& point_arg, const py::handle& atoms_arg) {
    const auto point = as_vector3(point_arg, "point");
    const std::vector<std::size_t> atoms = chosen_atoms(s, atoms_arg, "atoms");
    const auto best = nearest_atom(s.store.a, atoms, COORD{point[0], point[1], point[2]});
    if (!best) return py::none();
    return py::make_tuple(best->first, best->second);
}

// Every atom's coordinates as the parallel arrays the statistics take.
struct Columns {
    std::vector<float> x, y, z;
    std::vector<ANAME_SLOT> names;
};

Columns columns_of(const Structure& s, bool names) {
    Columns c;
    c.x.reserve(s.atoms());
    c.y.reserve(s.atoms());
    c.z.reserve(s.atoms());
    for_atoms(s, [&](const PDBATOM& a, const PDBRESI&, int) {
        c.x.push_back(a.x);
        c.y.push_back(a.y);
        c.z.push_back(a.z);
        if (names) {
            ANAME_SLOT slot{};
            std::memcpy(slot.data(), a.aname, strnlen(a.aname, 4));
            c.names.push_back(slot);
        }
    });
    return c;
}

int atom_count_for_stats(const Structure& s) {
    if (s.atoms() > static_cast<std::size_t>(INT_MAX))
        throw py::value_error("too many atoms for the statistics");
    return static_cast<int>(s.atoms());
}

py::tuple bounds(const Structure& s, const py::handle& level_arg) {
    const int level = as_int32(level_arg, "level");
    need_atoms(s, "bounds");
    const Columns c = columns_of(s, false);
    float minX, maxX, minY, maxY, minZ, maxZ;
    released(level > 0, [&] {
        get_pdb_xyz_min_max(atom_count_for_stats(s), c.x, c.y, c.z, &minX, &maxX, &minY, &maxY, &minZ, &maxZ,
                            level);
    });
    return py::make_tuple(py::make_tuple(minX, minY, minZ), py::make_tuple(maxX, maxY, maxZ));
}

py::tuple centroid(const Structure& s, const py::handle& mass_arg, const py::handle& level_arg) {
    const bool mass = as_bool(mass_arg, "mass");
    const int level = as_int32(level_arg, "level");
    need_atoms(s, "centroid");
    const Columns c = columns_of(s, mass);
    const COORD com = released(level > 0, [&] {
        return get_com(atom_count_for_stats(s), c.x, c.y, c.z, c.names, mass ? 1 : 0, level);
    });
    return py::make_tuple(com.x, com.y, com.z);
}

// The residue indices write_pdb takes, checked before anything is opened.
std::vector<int> residue_indices(const Structure& s, const py::handle& given) {
    std::vector<int> out;
    if (given.is_none()) {
        for (int i = 0; i < s.residues; ++i)
            out.push_back(i);
        return out;
    }
    if (py::isinstance<Residues>(given)) return given.cast<const Residues&>().picked;
    if (py::isinstance<py::str>(given) || !py::isinstance<py::iterable>(given))
        throw py::type_error("residues must be a sequence of residue indices, not " +
                             py::str(py::type::handle_of(given).attr("__name__")).cast<std::string>());
    std::size_t position = 0;
    for (const py::handle item : given) {
        const std::string what = "residues[" + std::to_string(position++) + "]";
        long long i = as_int(item, what.c_str());
        if (i < 0) i += s.residues;
        if (i < 0 || i >= s.residues)
            throw py::value_error(what + " = " + py::repr(item).cast<std::string>() +
                                  " is out of range for " + std::to_string(s.residues) + " residues");
        out.push_back(static_cast<int>(i));
    }
    return out;
}

void write_structure(Structure& s, const py::handle& target, const py::handle& residues) {
    const std::vector<int> indices = residue_indices(s, residues);
    Output out(target);
    released(false, [&] {
        for (const int i : indices) {
            check_interrupt();
            display_pdbres(out.get(), s.mol, i, 'w');
        }
        out.close();
    });
}

// ---- Residues -----------------------------------------------------------------------------------------

Residues all_residues(const py::object& self) {
    Structure& s = self.cast<Structure&>();
    Residues list{self, &s, {}};
    list.picked.resize(static_cast<std::size_t>(s.residues));
    for (int i = 0; i < s.residues; ++i)
        list.picked[static_cast<std::size_t>(i)] = i;
    return list;
}

Residue residue_at(const Residues& list, py::ssize_t i) {
    const auto n = static_cast<py::ssize_t>(list.picked.size());
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw py::index_error("residue index out of range");
    return Residue{list.owner, list.structure, list.picked[static_cast<std::size_t>(i)]};
}

Residues residue_slice(const Residues& list, const py::slice& slice) {
    py::ssize_t start = 0, stop = 0, step = 0, length = 0;
    if (!slice.compute(static_cast<py::ssize_t>(list.picked.size()), &start, &stop, &step, &length))
        throw py::error_already_set();
    Residues out{list.owner, list.structure, {}};
    for (py::ssize_t n = 0; n < length; ++n, start += step)
        out.picked.push_back(list.picked[static_cast<std::size_t>(start)]);
    return out;
}

std::string residue_key(const PDBRESI& res) {
    std::string key;
    if (res.rchain != ' ') key += res.rchain;
    key += std::to_string(res.rnb);
    if (res.rletter != ' ') key += res.rletter;
    return key;
}

std::string residue_repr(const Residue& r) {
    const PDBRESI& res = r.res();
    return "<voxmol.Residue " + residue_key(res) + " " +
           std::string(field_text(res.rname, sizeof res.rname)) + ", " + std::to_string(res.rnbofa) +
           " atoms>";
}

std::string residues_repr(const Residues& list) {
    std::string text = "<voxmol.Residues: " + std::to_string(list.picked.size()) + " residues";
    const std::size_t shown = std::min<std::size_t>(list.picked.size(), 6);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i == 3 && list.picked.size() > 6) {
            text += " ...";
            i = list.picked.size() - 3;
            for (; i < list.picked.size(); ++i) {
                const PDBRESI& res = list.structure->residue(list.picked[i]);
                text += " " + residue_key(res) + ":" + std::string(field_text(res.rname, sizeof res.rname));
            }
            break;
        }
        const PDBRESI& res = list.structure->residue(list.picked[i]);
        text += (i == 0 ? ", " : " ") + residue_key(res) + ":" +
                std::string(field_text(res.rname, sizeof res.rname));
    }
    return text + ">";
}

py::list atoms_of(const Residue& r) {
    py::list out;
    PDBRESI& res = r.res();
    const std::size_t first = r.structure->first_atom(res);
    for (int j = 0; j < res.rnbofa; ++j)
        out.append(Atom{r.owner, &res.a[static_cast<std::size_t>(j)], first + static_cast<std::size_t>(j)});
    return out;
}

Atom atom_at(const py::object& self, py::ssize_t i) {
    Structure& s = self.cast<Structure&>();
    const auto n = static_cast<py::ssize_t>(s.atoms());
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw py::index_error("atom index out of range");
    return Atom{self, &s.store.a[static_cast<std::size_t>(i)], static_cast<std::size_t>(i)};
}

// ---- Pickling: the residue and atom records as the toolkit holds them -------------------------------

constexpr int kStructureState = 1;

// The records' layout, so that a state is never read into records of another build's layout.
std::string layout() {
    return "PDBRESI " + std::to_string(sizeof(PDBRESI)) + " PDBATOM " + std::to_string(sizeof(PDBATOM));
}

py::tuple structure_state(const Structure& s) {
    static_assert(std::is_trivially_copyable_v<PDBRESI> && std::is_trivially_copyable_v<PDBATOM>);
    std::string residues(static_cast<std::size_t>(s.residues) * sizeof(PDBRESI), '\0');
    for (int r = 0; r < s.residues; ++r) {
        PDBRESI copy = s.residue(r);
        copy.a = {};  // rebuilt from the atom counts
        std::memcpy(residues.data() + static_cast<std::size_t>(r) * sizeof(PDBRESI), &copy, sizeof copy);
    }
    const py::bytes atoms(reinterpret_cast<const char*>(s.store.a.data()), s.atoms() * sizeof(PDBATOM));
    return py::make_tuple(kStructureState, layout(), s.residues, py::bytes(residues), atoms);
}

std::unique_ptr<Structure> structure_from_state(const py::tuple& t) {
    if (t.size() != 5 || t[0].cast<int>() != kStructureState || t[1].cast<std::string>() != layout())
        throw py::value_error("not the state of a voxmol.Structure of this build");
    auto s = std::make_unique<Structure>();
    s->residues = t[2].cast<int>();
    const std::string residues = t[3].cast<std::string>();
    const std::string atoms = t[4].cast<std::string>();
    if (s->residues < 0 || residues.size() != static_cast<std::size_t>(s->residues) * sizeof(PDBRESI) ||
        atoms.size() % sizeof(PDBATOM) != 0)
        throw py::value_error("not the state of a voxmol.Structure");
    s->store.r.resize(std::max(s->residues, 1));
    s->store.a.resize(atoms.size() / sizeof(PDBATOM));
    if (!atoms.empty()) std::memcpy(s->store.a.data(), atoms.data(), atoms.size());
    std::size_t at = 0;
    for (int r = 0; r < s->residues; ++r) {
        PDBRESI& res = s->residue(r);
        std::memcpy(&res, residues.data() + static_cast<std::size_t>(r) * sizeof(PDBRESI), sizeof res);
        const auto n = static_cast<std::size_t>(res.rnbofa);
        if (res.rnbofa < 0 || at + n > s->store.a.size())
            throw py::value_error("not the state of a voxmol.Structure");
        res.a = std::span<PDBATOM>(s->store.a.data() + at, n);
        at += n;
    }
    if (at != s->store.a.size()) throw py::value_error("not the state of a voxmol.Structure");
    s->mol.r = std::span<PDBRESI>(s->store.r.data(), s->store.r.size());
    s->mol.nbofr = s->residues;
    return s;
}

}  // namespace

void bind_structure(py::module_& m) {
    py::class_<Atom>(m, "Atom", "One atom of a Structure, as the reader stored it.")
        .def_property_readonly(
            "serial", [](const Atom& a) { return a.atom->anb; }, "Serial number, columns 7-11.")
        .def_property_readonly(
            "name", [](const Atom& a) { return text_of(a.atom->aname); },
            "Atom name, columns 13-16 without blanks (\"CA\"); name_field has the four columns.")
        .def_property_readonly(
            "name_field", [](const Atom& a) { return verbatim(a.atom->aname); },
            "Columns 13-16 verbatim (\" CA \").")
        .def_property_readonly(
            "altloc", [](const Atom& a) { return char_of(a.atom->aalt); }, "Alternate location, column 17.")
        .def_property_readonly(
            "pos", [](const Atom& a) { return py::make_tuple(a.atom->x, a.atom->y, a.atom->z); },
            "(x, y, z), columns 31-54.")
        .def_property_readonly(
            "occupancy", [](const Atom& a) { return a.atom->occup; }, "Columns 55-60.")
        .def_property_readonly(
            "bfactor", [](const Atom& a) { return a.atom->bfac; }, "Columns 61-66.")
        .def_property_readonly(
            "element", [](const Atom& a) { return latin1(atom_element(*a.atom)); },
            "Element, upper case: columns 77-78, else from the name.")
        .def_property_readonly(
            "extra", [](const Atom& a) { return verbatim(a.atom->extra); },
            "Element and charge, columns 77-80 verbatim.")
        .def_property_readonly(
            "index", [](const Atom& a) { return a.index; },
            "Index of the atom in the structure's per-atom arrays.")
        .def("__repr__", [](const Atom& a) {
            return "<voxmol.Atom " + std::to_string(a.atom->anb) + " " +
                   std::string(field_text(a.atom->aname, sizeof a.atom->aname)) + ">";
        });

    py::class_<Residue>(m, "Residue", "One residue of a Structure: consecutive records with one key.")
        .def_property_readonly(
            "chain", [](const Residue& r) { return char_of(r.res().rchain); }, "Column 22.")
        .def_property_readonly(
            "number", [](const Residue& r) { return r.res().rnb; }, "Columns 23-26.")
        .def_property_readonly(
            "icode", [](const Residue& r) { return char_of(r.res().rletter); }, "Insertion code, column 27.")
        .def_property_readonly(
            "name", [](const Residue& r) { return text_of(r.res().rname); },
            "Residue name, columns 18-20 without blanks.")
        .def_property_readonly(
            "record", [](const Residue& r) { return text_of(r.res().atom); },
            "Record name of its last atom: \"ATOM\" or \"HETATM\".")
        .def_property_readonly(
            "model", [](const Residue& r) { return r.res().model; },
            "MODEL number in force when read; 0 before any MODEL record.")
        .def_property_readonly(
            "segid", [](const Residue& r) { return text_of(r.res().segid); }, "Columns 67-76 without blanks.")
        .def_property_readonly("atoms", &atoms_of, "The residue's atoms, in file order.")
        .def_property_readonly(
            "atom_slice",
            [](const Residue& r) {
                const PDBRESI& res = r.res();
                const auto first = static_cast<py::ssize_t>(r.structure->first_atom(res));
                return py::slice(first, first + res.rnbofa, 1);
            },
            "The slice of the structure's per-atom arrays that holds this residue's atoms.")
        .def_property_readonly(
            "index", [](const Residue& r) { return r.index; }, "Index in Structure.residues.")
        .def("__len__", [](const Residue& r) { return r.res().rnbofa; })
        .def("__repr__", &residue_repr);

    py::class_<Residues>(m, "Residues", "Residues of a Structure, in file order: a sequence, sliceable.")
        .def("__len__", [](const Residues& l) { return l.picked.size(); })
        .def("__getitem__", &residue_at)
        .def("__getitem__", &residue_slice)
        .def("__iter__",
             [](const Residues& l) {
                 py::list out;
                 for (std::size_t i = 0; i < l.picked.size(); ++i)
                     out.append(Residue{l.owner, l.structure, l.picked[i]});
                 return py::iter(out);
             })
        .def_property_readonly(
            "indices",
            [](const Residues& l) {
                py::array_t<py::ssize_t> out(static_cast<py::ssize_t>(l.picked.size()));
                std::copy(l.picked.begin(), l.picked.end(), out.mutable_data());
                return out;
            },
            "The residues' indices in Structure.residues.")
        .def("__repr__", &residues_repr);

    auto per_atom = [](auto get) {
        return [get](const py::object& self) { return get(self.cast<Structure&>()); };
    };
    py::class_<Structure>(
        m, "Structure",
        "ATOM/HETATM records of a PDB file as the toolkit loads them: residues in file order, "
        "each with its atoms. len() is the number of atoms; s[i] is atom i.")
        .def_property_readonly("residues", &all_residues, "The residues, a sequence in file order.")
        .def_property_readonly(
            "coords", &coords_view,
            "Coordinates of every atom, shape (N, 3) float32, in file order: a writable view of "
            "the atoms that keeps the structure alive.")
        .def_property_readonly(
            "serial", [](py::object self) { return scalar_field<int>(self, offsetof(PDBATOM, anb)); },
            "Serial numbers, int32, a writable view.")
        .def_property_readonly(
            "occupancy", [](py::object self) { return scalar_field<float>(self, offsetof(PDBATOM, occup)); },
            "Occupancies, float32, a writable view.")
        .def_property_readonly(
            "bfactor", [](py::object self) { return scalar_field<float>(self, offsetof(PDBATOM, bfac)); },
            "Temperature factors, float32, a writable view.")
        .def_property_readonly("name", per_atom([](const Structure& s) {
                                   return text_array(s, 4, [](const PDBATOM& a, const PDBRESI&) {
                                       return field_text(a.aname, sizeof a.aname);
                                   });
                               }),
                               "Atom names without blanks (\"CA\"), columns 13-16, a copy of dtype U4.")
        .def_property_readonly("altloc", per_atom([](const Structure& s) {
                                   return text_array(s, 1, [](const PDBATOM& a, const PDBRESI&) {
                                       return std::string_view(&a.aalt, 1);
                                   });
                               }),
                               "Alternate locations, column 17, a copy of dtype U1.")
        .def_property_readonly("chain", per_atom([](const Structure& s) {
                                   return text_array(s, 1, [](const PDBATOM&, const PDBRESI& r) {
                                       return std::string_view(&r.rchain, 1);
                                   });
                               }),
                               "Chain of each atom, column 22, dtype U1 (a blank chain is \" \").")
        .def_property_readonly("resname", per_atom([](const Structure& s) {
                                   return text_array(s, 3, [](const PDBATOM&, const PDBRESI& r) {
                                       return field_text(r.rname, sizeof r.rname);
                                   });
                               }),
                               "Residue name of each atom without blanks, dtype U3.")
        .def_property_readonly("resnum", per_atom([](const Structure& s) {
                                   return number_array<std::int32_t>(
                                       s, [](const PDBATOM&, const PDBRESI& r, int) { return r.rnb; });
                               }),
                               "Residue number of each atom, int32.")
        .def_property_readonly("icode", per_atom([](const Structure& s) {
                                   return text_array(s, 1, [](const PDBATOM&, const PDBRESI& r) {
                                       return std::string_view(&r.rletter, 1);
                                   });
                               }),
                               "Insertion code of each atom, column 27, dtype U1 (\" \" for none).")
        .def_property_readonly(
            "element", per_atom([](const Structure& s) {
                std::vector<std::string> elements;
                for_atoms(
                    s, [&](const PDBATOM& a, const PDBRESI&, int) { elements.push_back(atom_element(a)); });
                std::size_t i = 0;
                return text_array(
                    s, 2, [&](const PDBATOM&, const PDBRESI&) { return std::string_view(elements[i++]); });
            }),
            "Element of each atom, upper case (\"C\", \"FE\"): columns 77-78, else from the "
            "name; dtype U2.")
        .def_property_readonly(
            "record", per_atom([](const Structure& s) {
                return text_array(
                    s, 6, [](const PDBATOM&, const PDBRESI& r) { return field_text(r.atom, sizeof r.atom); });
            }),
            "Record name of each atom's residue (of its last record): \"ATOM\" or \"HETATM\", "
            "dtype U6.")
        .def_property_readonly("model", per_atom([](const Structure& s) {
                                   return number_array<std::int32_t>(
                                       s, [](const PDBATOM&, const PDBRESI& r, int) { return r.model; });
                               }),
                               "MODEL number of each atom (0 before any MODEL record), int32.")
        .def_property_readonly(
            "residue_index", per_atom([](const Structure& s) {
                return number_array<py::ssize_t>(s, [](const PDBATOM&, const PDBRESI&, int r) { return r; });
            }),
            "Index in residues of each atom's residue: np.isin(s.residue_index, s.select(...)) "
            "is the atom mask of a residue selection.")
        .def("__len__", &Structure::atoms)
        .def("__getitem__", &atom_at)
        .def("atoms", &atoms_of_structure, py::arg("mask") = py::none(),
             "atoms($self, /, mask=None)\n--\n\n"
             "A new Structure of the atoms a boolean mask (one value per atom, such as s.name == 'CA') or an "
             "array of atom indices chooses, in file order, grouped into their residues; a copy.")
        .def("select", &select, py::arg("expression"), py::arg("invert") = false, py::arg("level") = 0,
             "select($self, /, expression, invert=False, level=0)\n--\n\n"
             "Indices (a NumPy integer array, ascending) of the residues an expression of the selection "
             "language "
             "selects: \"*\" (every residue), a chain letter (\"A\"), a residue (\"A125\", \"125B\") or a "
             "range "
             "(\"A10-A20\", \"A10:A20\": from the first residue matching A10 to the first matching A20 after "
             "it, in "
             "file order). invert gives the others. Raises ValueError, naming the expression and what is "
             "wrong, "
             "where the language would read something other than the text says: no residue number (\"CA\", "
             "\"resname LYS\"), a comma or blanks between residues, a range whose ends match nothing.")
        .def("radius_of_gyration", &radius_of_gyration, py::arg("chain") = py::none(), py::arg("level") = 0,
             "radius_of_gyration($self, /, chain=None, level=0)\n--\n\n"
             "Radius of gyration (Angstrom) of the atoms of one chain, or of every atom when chain is None. "
             "Raises ValueError for a chain without atoms.")
        .def("closest_atom", &closest_atom, py::arg("point"), py::arg("atoms") = py::none(),
             "closest_atom($self, /, point, atoms=None)\n--\n\n"
             "(index, distance) of the atom nearest to the point (ties keep the first), among every atom or "
             "those "
             "of a mask or index array; None when there is none.")
        .def("bounds", &bounds, py::arg("level") = 0,
             "bounds($self, /, level=0)\n--\n\n"
             "((min x, y, z), (max x, y, z)) of the atoms, in single precision; the minima start at 9999 and "
             "the "
             "maxima at -9999, which also act as limits.")
        .def("centroid", &centroid, py::arg("mass") = false, py::arg("level") = 0,
             "centroid($self, /, mass=False, level=0)\n--\n\n"
             "(x, y, z) of the mean atom position; with mass, weighted by the element of each atom name (N "
             "14, "
             "O 16, C 12, S 32, H 1, P 31, else 1).")
        .def("write_pdb", &write_structure, py::arg("path"), py::arg("residues") = py::none(),
             "write_pdb($self, /, path, residues=None)\n--\n\n"
             "Writes the atoms of every residue, or of the residues whose indices are given (checked before "
             "anything is opened), as the record display does, to a path (replaced only when complete) or a "
             "file "
             "object opened for writing.")
        .def(py::pickle(&structure_state, &structure_from_state))
        .def("__repr__", [](const Structure& s) {
            return "<voxmol.Structure: " + std::to_string(s.residues) + " residues, " +
                   std::to_string(s.atoms()) + " atoms>";
        });

    m.def("read_structure", &read_structure, py::arg("path"), py::arg("model") = py::none(),
          py::arg("records") = "w", py::arg("level") = 0,
          "read_structure(path, model=None, records='w', level=0)\n--\n\n"
          "Reads the ATOM (records=\"a\"), HETATM (\"h\") or both (\"w\") records of a PDB file "
          "(gzip-compressed "
          "or not) by fixed columns: the first model (model=None), model N (model=N; a file without MODEL "
          "records is model 1), or every model pooled (model=\"all\"). Raises ValueError when the file holds "
          "no "
          "such record (an mmCIF file, a grid, an image) or no such model, OSError when it cannot be opened. "
          "What the reader prints goes to sys.stdout only when level > 0.");
}

}  // namespace voxpy
