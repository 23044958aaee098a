// voxmol.Structure and read_structure: the PDB toolkit's direct file load (the reader's model without a
// line set), selection language, shape summary and record display.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"
#include "host.h"
#include "math_tool2.h"
#include "pdb8.h"

namespace voxpy {

namespace {

// One structure as load_pdb filled it: residue slots and the atom array they share, in file order.
struct Structure {
    PDBSTORE store;
    PDBMOL mol{};
    int residues = 0;  // load_pdb's count: one empty residue when no record was accepted

    std::size_t atoms() const { return store.a.size(); }
    PDBRESI& residue(int i) { return store.r[static_cast<std::size_t>(i)]; }
    // Index of a residue's first atom in the shared array.
    std::size_t first_atom(const PDBRESI& r) const {
        return r.a.empty() ? 0 : static_cast<std::size_t>(r.a.data() - store.a.data());
    }
};

// A field of fixed size up to its terminator, never past the field.
template <std::size_t N>
py::str text_of(const char (&field)[N]) {
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

// The residues as a sequence, without making an object for each up front.
struct Residues {
    py::object owner;
    Structure* structure;
};

char record_kind(const std::string& records) {
    if (records == "a" || records == "h" || records == "w") return records[0];
    throw py::value_error("records must be \"a\" (ATOM), \"h\" (HETATM) or \"w\" (both), not \"" + records +
                          "\"");
}

std::unique_ptr<Structure> read_structure(const py::handle& path, int model, const std::string& records,
                                          int level) {
    const char typ = record_kind(records);
    const std::string name = file_name(path);
    auto s = std::make_unique<Structure>();
    quietly(level > 0, [&] {
        // The file straight to the store, as the line set, make_pdb_store and load_pdb would fill it.
        s->residues = load_pdb_file(name.c_str(), model, typ, s->store, s->mol, level);
        if (s->residues < 0) raise_os_error(errno, name);
    });
    return s;
}

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

// A text field of every atom as an array of str (a copy), "U<width>".
template <class Get>
py::array text_array(const Structure& s, int width, Get get) {
    py::array out(py::dtype("U" + std::to_string(width)),
                  std::vector<py::ssize_t>{static_cast<py::ssize_t>(s.atoms())});
    auto* p = static_cast<std::uint32_t*>(out.mutable_data());
    for (const PDBATOM& a : s.store.a) {
        const std::string_view text = get(a);
        for (int c = 0; c < width; ++c)
            *p++ = c < static_cast<int>(text.size()) ? static_cast<unsigned char>(text[c]) : 0;
    }
    return out;
}

std::vector<int> select(Structure& s, const std::string& expression, bool invert, int level) {
    std::vector<int> list(static_cast<std::size_t>(s.residues));
    const int count = quietly(level > 0, [&] {
        return read_res_pattern(expression, s.mol, s.residues, list, invert ? 1 : 0, level);
    });
    list.resize(static_cast<std::size_t>(count));
    return list;
}

char chain_letter(const std::optional<std::string>& chain) {
    if (!chain) return ' ';
    if (chain->size() != 1) throw py::value_error("chain must be one character, not \"" + *chain + "\"");
    return (*chain)[0];
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
    for (const PDBATOM& a : s.store.a) {
        c.x.push_back(a.x);
        c.y.push_back(a.y);
        c.z.push_back(a.z);
        if (names) {
            ANAME_SLOT slot{};
            std::memcpy(slot.data(), a.aname, strnlen(a.aname, 4));
            c.names.push_back(slot);
        }
    }
    return c;
}

int atom_count_for_stats(const Structure& s) {
    if (s.atoms() > static_cast<std::size_t>(INT_MAX))
        throw py::value_error("too many atoms for the statistics");
    return static_cast<int>(s.atoms());
}

py::tuple bounds(const Structure& s, int level) {
    const Columns c = columns_of(s, false);
    float minX, maxX, minY, maxY, minZ, maxZ;
    quietly(level > 0, [&] {
        get_pdb_xyz_min_max(atom_count_for_stats(s), c.x, c.y, c.z, &minX, &maxX, &minY, &maxY, &minZ, &maxZ,
                            level);
    });
    return py::make_tuple(py::make_tuple(minX, minY, minZ), py::make_tuple(maxX, maxY, maxZ));
}

py::tuple centroid(const Structure& s, bool mass, int level) {
    const Columns c = columns_of(s, mass);
    const COORD com = quietly(level > 0, [&] {
        return get_com(atom_count_for_stats(s), c.x, c.y, c.z, c.names, mass ? 1 : 0, level);
    });
    return py::make_tuple(com.x, com.y, com.z);
}

double radius_of_gyration(Structure& s, const std::optional<std::string>& chain, int level) {
    const char letter = chain_letter(chain);
    return quietly(level > 0, [&] { return get_pdb_rad_gyr(s.mol, s.residues, letter, level); });
}

double closest_atom(Structure& s, std::array<double, 3> point, int level) {
    const COORD target{point[0], point[1], point[2]};
    return quietly(level > 0, [&] { return get_pdb_closest_atom(s.mol, s.residues, target, level); });
}

void write_structure(Structure& s, const py::handle& target, const py::object& residues) {
    std::vector<int> indices;
    if (residues.is_none()) {
        for (int i = 0; i < s.residues; ++i)
            indices.push_back(i);
    } else {
        for (const py::handle& i : residues)
            indices.push_back(i.cast<int>());
    }
    Output out(target);
    for (const int i : indices)
        display_pdbres(out.get(), s.mol, i, 'w');
    out.close();
}

Residue residue_at(const Residues& list, py::ssize_t i) {
    const py::ssize_t n = list.structure->residues;
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw py::index_error("residue index out of range");
    return Residue{list.owner, list.structure, static_cast<int>(i)};
}

py::list atoms_of(const Residue& r) {
    py::list out;
    PDBRESI& res = r.res();
    const std::size_t first = r.structure->first_atom(res);
    for (int j = 0; j < res.rnbofa; ++j)
        out.append(Atom{r.owner, &res.a[static_cast<std::size_t>(j)], first + static_cast<std::size_t>(j)});
    return out;
}

std::string residue_repr(const Residue& r) {
    const PDBRESI& res = r.res();
    return "<voxmol.Residue " + std::string(1, res.rchain) + " " + std::to_string(res.rnb) +
           std::string(1, res.rletter) + " " + std::string(res.rname, strnlen(res.rname, sizeof res.rname)) +
           ", " + std::to_string(res.rnbofa) + " atoms>";
}

}  // namespace

void bind_structure(py::module_& m) {
    py::class_<Atom>(m, "Atom", "One atom of a Structure, as the reader stored it.")
        .def_property_readonly(
            "serial", [](const Atom& a) { return a.atom->anb; }, "Serial number, columns 7-11.")
        .def_property_readonly(
            "name", [](const Atom& a) { return text_of(a.atom->aname); },
            "Atom name, columns 13-16 verbatim (\" CA \").")
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
            "extra", [](const Atom& a) { return text_of(a.atom->extra); },
            "Element and charge, columns 77-80 verbatim.")
        .def_property_readonly(
            "index", [](const Atom& a) { return a.index; },
            "Index of the atom in the structure's per-atom arrays.")
        .def("__repr__", [](const Atom& a) {
            return "<voxmol.Atom " + std::to_string(a.atom->anb) + " '" +
                   std::string(a.atom->aname, strnlen(a.atom->aname, sizeof a.atom->aname)) + "'>";
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
            "Residue name, columns 18-20 verbatim.")
        .def_property_readonly(
            "record", [](const Residue& r) { return text_of(r.res().atom); },
            "Record name of its last atom, columns 1-6: \"ATOM  \" or \"HETATM\".")
        .def_property_readonly(
            "model", [](const Residue& r) { return r.res().model; },
            "MODEL number in force when read; 0 before any MODEL record.")
        .def_property_readonly(
            "segid", [](const Residue& r) { return text_of(r.res().segid); }, "Columns 67-76 verbatim.")
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

    py::class_<Residues>(m, "Residues", "The residues of a Structure, in file order.")
        .def("__len__", [](const Residues& l) { return l.structure->residues; })
        .def("__getitem__", &residue_at);

    py::class_<Structure>(
        m, "Structure",
        "ATOM/HETATM records of a PDB file as the toolkit loads them: residues in file order, "
        "each with its atoms. len() is the number of atoms.")
        .def_property_readonly(
            "residues",
            [](py::object self) {
                return Residues{self, &self.cast<Structure&>()};
            },
            "The residues, a sequence in file order. A file without an accepted record gives one empty "
            "residue, as load_pdb counts it.")
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
        .def_property_readonly(
            "name",
            [](const Structure& s) {
                return text_array(s, 4, [](const PDBATOM& a) {
                    return std::string_view(a.aname, strnlen(a.aname, sizeof a.aname));
                });
            },
            "Atom names, columns 13-16 verbatim (\" CA \"), a copy of dtype U4.")
        .def_property_readonly(
            "altloc",
            [](const Structure& s) {
                return text_array(s, 1, [](const PDBATOM& a) { return std::string_view(&a.aalt, 1); });
            },
            "Alternate locations, column 17, a copy of dtype U1.")
        .def("__len__", &Structure::atoms)
        .def("select", &select, py::arg("expression"), py::arg("invert") = false, py::arg("level") = 0,
             "Indices of the residues an expression of the selection language selects, ascending: \"*\", a "
             "chain "
             "letter (\"A\"), a residue (\"A125\", \"125B\") or a range (\"A10-A20\"); invert gives the "
             "others.")
        .def("radius_of_gyration", &radius_of_gyration, py::arg("chain") = py::none(), py::arg("level") = 0,
             "Radius of gyration (Angstrom) of the atoms of one chain, or of all chains when chain is None "
             "(the toolkit's blank chain means all, so a blank chain cannot be chosen alone); 0.0 without "
             "atoms.")
        .def("closest_atom", &closest_atom, py::arg("point"), py::arg("level") = 0,
             "Distance from the point to the nearest atom, or 9999.9 when none lies closer than that.")
        .def("bounds", &bounds, py::arg("level") = 0,
             "((min x, y, z), (max x, y, z)) of the atoms, in single precision; the minima start at 9999 and "
             "the maxima at -9999, which also act as limits.")
        .def("centroid", &centroid, py::arg("mass") = false, py::arg("level") = 0,
             "(x, y, z) of the mean atom position; with mass, weighted by the element of each atom name "
             "(N 14, O 16, C 12, S 32, H 1, P 31, else 1).")
        .def("write_pdb", &write_structure, py::arg("path"), py::arg("residues") = py::none(),
             "Writes the atoms of every residue, or of the residues whose indices are given, as the record "
             "display does, to a path or a file object opened for writing.")
        .def("__repr__", [](const Structure& s) {
            return "<voxmol.Structure: " + std::to_string(s.residues) + " residues, " +
                   std::to_string(s.atoms()) + " atoms>";
        });

    m.def(
        "read_structure", &read_structure, py::arg("path"), py::arg("model") = 99, py::arg("records") = "w",
        py::arg("level") = 0,
        "Reads the ATOM (records=\"a\"), HETATM (\"h\") or both (\"w\") records of the models numbered up to "
        "`model` of a PDB file, by fixed columns. What the reader prints goes to sys.stdout only when level "
        "> 0.");
}

}  // namespace voxpy
