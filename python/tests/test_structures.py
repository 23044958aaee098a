"""Structures: every real PDB file of the test data read by read_structure and by gemmi (coordinates,
names, residue keys, the record filters and models), the selection language against the C++ tests'
expectations, the shape summaries against NumPy, and the record display read back."""
import gc
import io

import numpy as np
import pytest

import voxmol
from support import PDB_FILES, need

FILES = pytest.mark.parametrize("path", PDB_FILES, ids=[p.stem for p in PDB_FILES])


def gemmi_atoms(path):
    """(model number, chain, residue, atom) of every atom, in file order, as gemmi reads the file. Lines
    are cut after column 78: gemmi 0.5.7 refuses the charge columns of two files, which hold other text."""
    gemmi = need("gemmi")
    with open(path, newline="") as f:
        text = "".join(line[:78] + "\n" if len(line.rstrip("\r\n")) > 78 else line for line in f)
    st = gemmi.read_pdb_string(text, split_chain_on_ter=True)
    has_models = any(line.startswith("MODEL") for line in text.splitlines())
    return [(int(m.name) if has_models else 0, ch, r, a) for m in st for ch in m for r in ch for a in r]


def per_atom_residues(s):
    return [r for r in s.residues for _ in range(len(r))]


@FILES
def test_atoms_are_what_gemmi_reads(path):
    s = voxmol.read_structure(path)
    atoms = gemmi_atoms(path)
    assert len(s) == len(atoms) == s.coords.shape[0]
    g = lambda f: [f(m, ch, r, a) for m, ch, r, a in atoms]  # noqa: E731
    assert np.array_equal(s.coords, np.array(g(lambda m, ch, r, a: a.pos.tolist()), dtype=np.float32))
    assert np.char.strip(s.name).tolist() == g(lambda m, ch, r, a: a.name)
    assert s.serial.tolist() == g(lambda m, ch, r, a: a.serial)
    assert s.altloc.tolist() == g(lambda m, ch, r, a: a.altloc if a.altloc != "\0" else " ")
    assert np.array_equal(s.occupancy, np.array(g(lambda m, ch, r, a: a.occ), dtype=np.float32))
    assert np.array_equal(s.bfactor, np.array(g(lambda m, ch, r, a: a.b_iso), dtype=np.float32))
    mine = per_atom_residues(s)
    assert [(r.chain, r.number, r.icode, r.model) for r in mine] == g(
        lambda m, ch, r, a: (ch.name or " ", r.seqid.num, r.seqid.icode, m)
    )
    # A residue carries the name and record kind of its last record (altlocs may name it differently).
    record = {"A": "ATOM  ", "H": "HETATM"}
    last = {res.index: (r.name, record[r.het_flag]) for res, (m, ch, r, a) in zip(mine, atoms)}
    for res in s.residues:
        if len(res):
            assert (res.name.strip(), res.record) == last[res.index]


@FILES
@pytest.mark.parametrize(
    "records,model,keep",
    [("a", 99, lambda m, r: r.het_flag == "A"), ("h", 99, lambda m, r: r.het_flag == "H"),
     ("w", 1, lambda m, r: m <= 1)],
    ids=["ATOM only", "HETATM only", "first model"],
)
def test_record_kinds_and_models_keep_what_gemmi_reads(path, records, model, keep):
    s = voxmol.read_structure(path, model=model, records=records)
    want = [a.pos.tolist() for m, ch, r, a in gemmi_atoms(path) if keep(m, r)]
    assert np.array_equal(s.coords, np.array(want, dtype=np.float32).reshape(-1, 3))


@FILES
def test_residues_share_out_the_atoms_in_file_order(path):
    s = voxmol.read_structure(path)
    start = 0
    for i, r in enumerate(s.residues):
        assert r.index == i and r.atom_slice == slice(start, start + len(r), 1)
        assert [a.index for a in r.atoms] == list(range(start, start + len(r)))
        positions = np.array([a.pos for a in r.atoms], dtype=np.float32).reshape(-1, 3)
        assert np.array_equal(positions, s.coords[r.atom_slice])
        start += len(r)
    assert start == len(s)
    assert s.residues[-1].index == len(s.residues) - 1
    with pytest.raises(IndexError):
        s.residues[len(s.residues)]


# ---- Selection ----------------------------------------------------------------------------------------

# The C++ tests' structure: indices 0 to 14; A10 and A20 come back after other residues, blank-chain 5
# and 20 sit in the middle; residue i has i % 2 + 1 atoms.
KEYS = [("A", 1, " "), ("A", 2, " "), ("A", 10, " "), ("A", 11, " "), ("A", 12, " "), ("A", 12, "B"),
        ("A", 20, " "), ("B", 5, " "), ("B", 10, " "), (" ", 5, " "), (" ", 20, " "), ("A", 10, " "),
        ("A", 20, " "), ("C", 7, " "), ("A", -3, " ")]
CHAIN_A = [0, 1, 2, 3, 4, 5, 6, 11, 12, 14]
span = lambda a, b: list(range(a, b + 1))  # noqa: E731
SELECTIONS = [
    ("*", span(0, 14)), ("*rest is ignored", span(0, 14)), ("A", CHAIN_A), ("a", CHAIN_A), ("b", [7, 8]),
    ("C", [13]), ("D", []), ("5", [9]), ("b5", [7]), ("A10", [2]), ("A12", [4]), ("a12b", [5]), ("A12C", []),
    ("AB", []), (" B", []), ("5 ", [9]), ("A10-A20", span(2, 6)), ("A10:A20", span(2, 6)),
    ("A10,A20", span(2, 6)), ("A10 A20", span(2, 6)), ("a10 -, a20", span(2, 6)), ("A10-A10", [2]),
    ("A20-A10", span(6, 11)), ("A11-A10", span(3, 11)), ("A10-20", span(2, 10)), ("A10-A99", span(2, 14)),
    ("A99-A10", []),
    ("A1-C7", span(0, 13)), ("C7-A1", [13, 14]), ("b10 5", [8, 9]),
]


@pytest.fixture(scope="module")
def keyed(tmp_path_factory):
    lines, serial = [], 1
    for i, (chain, number, icode) in enumerate(KEYS):
        for name in [" N", " CA"][: i % 2 + 1]:
            lines.append("%-6s%5d %-4s %3s %c%4d%c   %8.3f%8.3f%8.3f  1.00 10.00\n"
                         % ("ATOM", serial, name, "ALA", chain, number, icode, 1.0, 2.0, 3.0))
            serial += 1
    path = tmp_path_factory.mktemp("keyed") / "keyed.pdb"
    path.write_text("".join(lines))
    return voxmol.read_structure(path)


@pytest.mark.parametrize("expression,expected", SELECTIONS, ids=[e for e, _ in SELECTIONS])
def test_select_gives_what_the_cpp_tests_expect(keyed, expression, expected):
    assert keyed.select(expression) == expected
    assert keyed.select(expression, invert=True) == [i for i in range(15) if i not in expected]


@pytest.mark.parametrize("expression", ["", " ", "-", "-:, ,", "A1-A5-A9", "a1 a5 a9", "1,2,3,4"])
def test_an_expression_of_no_or_many_residues_raises(keyed, expression, capfd):
    with pytest.raises(voxmol.Error) as e:
        keyed.select(expression)
    assert e.value.where == "SUB:READ_RES_PATTERN"
    assert e.value.message == "Error in the split residue selection"
    assert capfd.readouterr().out == ""


# ---- Shape summary --------------------------------------------------------------------------------------

@FILES
def test_shape_summaries_match_numpy(path):
    s = voxmol.read_structure(path)
    xyz = s.coords.astype(np.float64)
    centre = xyz.mean(axis=0)
    np.testing.assert_allclose(s.centroid(), centre, rtol=1e-12)
    rg = np.sqrt(((xyz - centre) ** 2).sum(axis=1).mean())
    assert s.radius_of_gyration() == pytest.approx(rg, rel=1e-9)
    for chain in set(r.chain for r in s.residues) - {" "}:
        mask = np.array([r.chain == chain for r in per_atom_residues(s)])
        part = xyz[mask]
        want = np.sqrt(((part - part.mean(axis=0)) ** 2).sum(axis=1).mean())
        assert s.radius_of_gyration(chain) == pytest.approx(want, rel=1e-9)
    low, high = s.bounds()
    assert low == tuple(np.minimum(s.coords.min(axis=0), 9999).tolist())
    assert high == tuple(np.maximum(s.coords.max(axis=0), -9999).tolist())
    for point in ([0.0, 0.0, 0.0], centre, xyz[len(xyz) // 2] + 0.25):
        want = min(np.sqrt(((xyz - point) ** 2).sum(axis=1)).min(), 9999.9)
        assert s.closest_atom(point) == pytest.approx(want, rel=1e-12)
    weight = {" N": 14, " O": 16, " C": 12, " S": 32, " H": 1, " P": 31}
    w = np.array([weight.get(n[:2], 1.0) for n in s.name])
    np.testing.assert_allclose(s.centroid(mass=True), (xyz * w[:, None]).sum(axis=0) / w.sum(), rtol=1e-12)


def test_a_file_without_records_gives_one_empty_residue(tmp_path, capsys):
    path = tmp_path / "none.pdb"
    path.write_text("HEADER    NOTHING\nEND\n")
    s = voxmol.read_structure(path)
    assert len(s) == 0 and len(s.residues) == 1 and len(s.residues[0]) == 0
    assert s.coords.shape == (0, 3) and s.name.shape == (0,)
    assert s.radius_of_gyration() == 0.0 and s.closest_atom((1, 2, 3)) == pytest.approx(9999.9)
    assert capsys.readouterr().out == ""
    s.radius_of_gyration(level=1)
    assert capsys.readouterr().out == "WARNING: No atom found for computing rad_gyr\n"


# ---- Record display -----------------------------------------------------------------------------------

@FILES
def test_written_records_read_back_the_same(path, tmp_path):
    s = voxmol.read_structure(path)
    out = tmp_path / "all.pdb"
    s.write_pdb(out)
    back = voxmol.read_structure(out)
    assert np.array_equal(back.coords, s.coords)
    assert back.name.tolist() == s.name.tolist() and back.serial.tolist() == s.serial.tolist()
    keys = lambda st: [(r.chain, r.number, r.icode) for r in st.residues]  # noqa: E731
    assert keys(back) == keys(s)
    # gemmi finds every written atom; without the MODEL and TER records the display does not write, it
    # may group them in another order (an ensemble's models share their residue keys).
    read = np.array([a.pos.tolist() for *_, a in gemmi_atoms(out)], dtype=np.float32)
    assert np.array_equal(read[np.lexsort(read.T)], s.coords[np.lexsort(s.coords.T)])
    text = io.StringIO()
    s.write_pdb(text)
    assert text.getvalue().encode("latin-1") == out.read_bytes()


@FILES
def test_a_selection_writes_only_its_residues(path, tmp_path):
    s = voxmol.read_structure(path)
    chain = s.residues[0].chain if s.residues[0].chain != " " else "A"
    picked = s.select(chain, invert=True)[::3]
    out = tmp_path / "some.pdb"
    s.write_pdb(out, residues=picked)
    back = voxmol.read_structure(out)
    parts = [s.coords[s.residues[i].atom_slice] for i in picked]
    want = np.concatenate(parts or [np.zeros((0, 3), np.float32)])
    assert np.array_equal(back.coords, want)


def test_a_residue_index_outside_the_structure_raises(tmp_path):
    s = voxmol.read_structure(PDB_FILES[0])
    with pytest.raises(voxmol.Error, match="SUB:"):
        s.write_pdb(tmp_path / "x.pdb", residues=[0, len(s.residues)])


# ---- Views, arguments, output --------------------------------------------------------------------------

def test_numeric_arrays_are_views_that_reach_the_atoms_and_keep_them_alive():
    s = voxmol.read_structure(PDB_FILES[0])
    coords, bfactor = s.coords, s.bfactor
    assert np.shares_memory(coords, s.coords) and coords.dtype == np.float32
    coords[0] = (1.5, -2.25, 3.125)
    bfactor[0] = 42.0
    assert s.residues[0].atoms[0].pos == (1.5, -2.25, 3.125)
    out = io.StringIO()
    s.write_pdb(out, residues=[0])
    first = out.getvalue().splitlines()[0]
    assert (first[30:54], first[60:66]) == ("   1.500  -2.250   3.125", " 42.00")
    del s
    gc.collect()
    assert coords[0].tolist() == [1.5, -2.25, 3.125]


@pytest.mark.parametrize(
    "call,error,match",
    [
        (lambda: voxmol.read_structure(PDB_FILES[0], records="x"), ValueError, "records must be"),
        (lambda: voxmol.read_structure(PDB_FILES[0], records="atom"), ValueError, "records must be"),
        (lambda: voxmol.read_structure("/nonexistent.pdb"), FileNotFoundError, "nonexistent"),
        (lambda: voxmol.read_structure("/"), IsADirectoryError, ""),
        (lambda: voxmol.read_structure(PDB_FILES[0]).radius_of_gyration("AB"), ValueError, "one character"),
        (lambda: voxmol.read_structure(PDB_FILES[0]).closest_atom((1, 2)), TypeError, ""),
        (lambda: voxmol.Structure(), TypeError, ""),
    ],
)
def test_bad_arguments(call, error, match):
    with pytest.raises(error, match=match):
        call()


def test_the_readers_lines_only_when_asked(capfd):
    voxmol.read_structure(PDB_FILES[0])
    assert capfd.readouterr().out == ""
    s = voxmol.read_structure(PDB_FILES[0], level=2)
    totals = f"Total number of residues : {len(s.residues)}\nTotal number of atoms    : {len(s)}\n"
    assert capfd.readouterr().out == totals
    s.radius_of_gyration(level=2)
    assert "Gyration radius is:" in capfd.readouterr().out
