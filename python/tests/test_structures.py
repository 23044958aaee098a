"""Structures: every real PDB file of the test data read by read_structure and by gemmi (coordinates,
names, residue keys, the record filters and models), the selection language against the C++ tests'
expectations, the shape summaries against NumPy, and the record display read back."""
import copy
import gc
import gzip
import io
import pickle

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


def element_columns(path):
    """Whether every ATOM/HETATM line of the file holds an element in columns 77-78."""
    with open(path, newline="") as f:
        lines = [line.rstrip("\r\n") for line in f if line.startswith(("ATOM", "HETATM"))]
    return all(line[76:78].strip() for line in lines)


@FILES
def test_atoms_are_what_gemmi_reads(path):
    s = voxmol.read_structure(path, model="all")
    atoms = gemmi_atoms(path)
    assert len(s) == len(atoms) == s.coords.shape[0]
    g = lambda f: [f(m, ch, r, a) for m, ch, r, a in atoms]  # noqa: E731
    assert np.array_equal(s.coords, np.array(g(lambda m, ch, r, a: a.pos.tolist()), dtype=np.float32))
    assert s.name.tolist() == g(lambda m, ch, r, a: a.name)
    # The per-atom residue arrays, for atom-level masks.
    assert s.chain.tolist() == g(lambda m, ch, r, a: ch.name or " ")
    assert s.resnum.tolist() == g(lambda m, ch, r, a: r.seqid.num)
    assert s.icode.tolist() == g(lambda m, ch, r, a: r.seqid.icode)
    assert s.model.tolist() == g(lambda m, ch, r, a: m)
    assert s.residue_index.tolist() == [r.index for r in per_atom_residues(s)]
    if element_columns(path):
        assert s.element.tolist() == g(lambda m, ch, r, a: a.element.name.upper())
    assert s.serial.tolist() == g(lambda m, ch, r, a: a.serial)
    assert s.altloc.tolist() == g(lambda m, ch, r, a: a.altloc if a.altloc != "\0" else " ")
    assert np.array_equal(s.occupancy, np.array(g(lambda m, ch, r, a: a.occ), dtype=np.float32))
    assert np.array_equal(s.bfactor, np.array(g(lambda m, ch, r, a: a.b_iso), dtype=np.float32))
    mine = per_atom_residues(s)
    assert [(r.chain, r.number, r.icode, r.model) for r in mine] == g(
        lambda m, ch, r, a: (ch.name or " ", r.seqid.num, r.seqid.icode, m)
    )
    # A residue carries the name and record kind of its last record (altlocs may name it differently).
    record = {"A": "ATOM", "H": "HETATM"}
    last = {res.index: (r.name, record[r.het_flag]) for res, (m, ch, r, a) in zip(mine, atoms)}
    for res in s.residues:
        if len(res):
            assert (res.name, res.record) == last[res.index]
    assert s.resname.tolist() == [r.name for r in per_atom_residues(s)]
    assert s.record.tolist() == [r.record for r in per_atom_residues(s)]


@FILES
@pytest.mark.parametrize(
    "records,model,keep",
    [("a", "all", lambda m, r: r.het_flag == "A"), ("h", "all", lambda m, r: r.het_flag == "H"),
     ("w", None, lambda m, r: m <= 1), ("w", 1, lambda m, r: m <= 1), ("a", 2, lambda m, r: m == 2)],
    ids=["ATOM only", "HETATM only", "first model", "model 1", "model 2"],
)
def test_record_kinds_and_models_keep_what_gemmi_reads(path, records, model, keep):
    atoms = gemmi_atoms(path)
    models = {m for m, *_ in atoms}
    if model == 2 and 2 not in models:
        with pytest.raises(ValueError, match="no model 2 in .*(no MODEL record|its models are)"):
            voxmol.read_structure(path, model=model, records=records)
        return
    want = [a.pos.tolist() for m, ch, r, a in atoms if keep(m, r) and (model != 2 or r.het_flag == "A")]
    if not want:
        with pytest.raises(ValueError, match="no (ATOM|HETATM) record"):
            voxmol.read_structure(path, model=model, records=records)
        return
    s = voxmol.read_structure(path, model=model, records=records)
    assert np.array_equal(s.coords, np.array(want, dtype=np.float32).reshape(-1, 3))


@FILES
def test_a_gzipped_file_reads_as_the_plain_one_and_pickles_to_equal_arrays(path, tmp_path):
    plain = voxmol.read_structure(path, model="all")
    packed = tmp_path / (path.name + ".gz")
    packed.write_bytes(gzip.compress(path.read_bytes()))
    for other in (voxmol.read_structure(packed, model="all"), pickle.loads(pickle.dumps(plain)),
                  copy.deepcopy(plain), copy.copy(plain)):
        assert repr(other) == repr(plain)
        for field in ("coords", "name", "chain", "resname", "resnum", "element", "model", "bfactor", "serial"):
            assert np.array_equal(getattr(other, field), getattr(plain, field)), field
    out_a, out_b = io.StringIO(), io.StringIO()
    plain.write_pdb(out_a)
    pickle.loads(pickle.dumps(plain)).write_pdb(out_b)
    assert out_a.getvalue() == out_b.getvalue()


def test_an_ensemble_reads_its_first_model_by_default():
    path = next(p for p in PDB_FILES if "2k39" in p.name)
    first, pooled = voxmol.read_structure(path), voxmol.read_structure(path, model="all")
    assert set(first.model.tolist()) == {1} and set(pooled.model.tolist()) == {1, 2, 3}
    assert len(pooled) == 3 * len(first)
    xyz = first.coords.astype(np.float64)
    rg = np.sqrt(((xyz - xyz.mean(axis=0)) ** 2).sum(axis=1).mean())
    assert first.radius_of_gyration() == pytest.approx(rg, rel=1e-9)
    assert np.array_equal(voxmol.read_structure(path, model=3).coords, pooled.coords[pooled.model == 3])


@FILES
def test_residues_share_out_the_atoms_in_file_order(path):
    s = voxmol.read_structure(path, model="all")
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
    part = s.residues[1:7:2]
    assert [r.index for r in part] == [1, 3, 5][: len(part)] and part.indices.tolist() == [r.index for r in part]
    assert repr(part).startswith(f"<voxmol.Residues: {len(part)} residues")
    assert [r.index for r in s.residues[::-1]] == list(range(len(s.residues)))[::-1]


@FILES
def test_atom_masks_choose_the_same_atoms_as_numpy(path):
    s = voxmol.read_structure(path, model="all")
    for mask in (s.name == "CA", np.isin(s.resname, ["HOH", "LYS", "GLY"]), s.element == "C",
                 s.chain == s.chain[0], np.isin(s.residue_index, s.select("*")[::2])):
        part = s.atoms(mask)
        assert len(part) == mask.sum()
        assert np.array_equal(part.coords, s.coords[mask]) and np.array_equal(part.name, s.name[mask])
        assert np.array_equal(part.resnum, s.resnum[mask]) and np.array_equal(part.chain, s.chain[mask])
        assert np.array_equal(s.atoms(np.flatnonzero(mask)).coords, part.coords)
        if len(part):
            assert part[0].pos == tuple(s.coords[mask][0].tolist())
            i, d = s.closest_atom((1.0, 2.0, 3.0), atoms=mask)
            assert mask[i] and d == pytest.approx(np.linalg.norm(s.coords[mask] - (1, 2, 3), axis=1).min())
        else:
            assert s.closest_atom((1.0, 2.0, 3.0), atoms=mask) is None


# ---- Selection ----------------------------------------------------------------------------------------

# The C++ tests' structure: indices 0 to 14; A10 and A20 come back after other residues, blank-chain 5
# and 20 sit in the middle; residue i has i % 2 + 1 atoms.
KEYS = [("A", 1, " "), ("A", 2, " "), ("A", 10, " "), ("A", 11, " "), ("A", 12, " "), ("A", 12, "B"),
        ("A", 20, " "), ("B", 5, " "), ("B", 10, " "), (" ", 5, " "), (" ", 20, " "), ("A", 10, " "),
        ("A", 20, " "), ("C", 7, " "), ("A", -3, " ")]
CHAIN_A = [0, 1, 2, 3, 4, 5, 6, 11, 12, 14]
span = lambda a, b: list(range(a, b + 1))  # noqa: E731
SELECTIONS = [
    ("*", span(0, 14)), (" * ", span(0, 14)), ("A", CHAIN_A), ("a", CHAIN_A), ("b", [7, 8]), (" B", [7, 8]),
    ("C", [13]), ("D", []), ("5", [9]), ("5 ", [9]), ("b5", [7]), ("A10", [2]), ("A12", [4]), ("a12b", [5]),
    ("A12C", []), ("A10-A20", span(2, 6)), ("A10:A20", span(2, 6)), ("a10 - a20", span(2, 6)),
    ("A10-A10", [2]), ("A20-A10", span(6, 11)), ("A11-A10", span(3, 11)), ("A10-20", span(2, 10)),
    ("A1-C7", span(0, 13)),
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
def test_select_gives_what_the_language_says(keyed, expression, expected):
    chosen = keyed.select(expression)
    assert isinstance(chosen, np.ndarray) and chosen.dtype.kind == "i"
    assert chosen.tolist() == expected
    assert keyed.select(expression, invert=True).tolist() == [i for i in range(15) if i not in expected]


# Expressions the language would read as something other than the text says: (expression, what the error
# says).
REFUSED = [
    ("", "is empty"), (" ", "is empty"), ("-", "where a residue identifier should"),
    ("A1-A5-A9", "more than the two ends"), ("a1 a5 a9", "more than the two ends"),
    ("*rest is ignored", "after '\\*'"), ("AB", "'AB' names no residue"), ("CA", "s.name == 'CA'"),
    ("resname LYS", "s.resname == 'LYS'"), ("A48,A50", "comma"), ("1,2,3,4", "comma"), ("A10 A20", "blanks"),
    ("b10 5", "blanks"), ("D-1", "'D' names no residue number"), ("A10-A99", "'A99' matches no residue at or"),
    ("A99-A10", "first residue 'A99' matches no residue"), ("C7-A1", "'A1' matches no residue at or after"),
    ("A10--A20", "'--'"), ("A1x2", "not a residue identifier"),
]


@pytest.mark.parametrize("expression,message", REFUSED, ids=[e for e, _ in REFUSED])
def test_an_expression_the_language_would_misread_raises(keyed, expression, message, capfd):
    for invert in (False, True):
        with pytest.raises(ValueError, match=message) as e:
            keyed.select(expression, invert=invert)
        assert f"selection '{expression}'" in str(e.value)
    assert capfd.readouterr().out == ""


def test_a_residue_of_the_blank_chain_in_a_structure_without_one_is_refused():
    s = voxmol.read_structure(next(p for p in PDB_FILES if "1ubi" in p.name))
    with pytest.raises(ValueError, match="no residue has a blank chain: name the chain, as in 'A20'"):
        s.select("A10-20")
    assert s.select("A10-A20").tolist() == list(range(9, 20))


# ---- Shape summary --------------------------------------------------------------------------------------

@FILES
def test_shape_summaries_match_numpy(path):
    s = voxmol.read_structure(path, model="all")
    xyz = s.coords.astype(np.float64)
    centre = xyz.mean(axis=0)
    np.testing.assert_allclose(s.centroid(), centre, rtol=1e-12)
    rg = np.sqrt(((xyz - centre) ** 2).sum(axis=1).mean())
    assert s.radius_of_gyration() == pytest.approx(rg, rel=1e-9)
    for chain in set(s.chain.tolist()) - {" "}:
        part = xyz[s.chain == chain]
        want = np.sqrt(((part - part.mean(axis=0)) ** 2).sum(axis=1).mean())
        assert s.radius_of_gyration(chain) == pytest.approx(want, rel=1e-9)
    absent = next(c for c in "ZYXW" if c not in s.chain)
    with pytest.raises(ValueError, match=f"chain '{absent}' has no atom"):
        s.radius_of_gyration(absent)
    low, high = s.bounds()
    assert low == tuple(np.minimum(s.coords.min(axis=0), 9999).tolist())
    assert high == tuple(np.maximum(s.coords.max(axis=0), -9999).tolist())
    for point in ([0.0, 0.0, 0.0], centre, xyz[len(xyz) // 2] + 0.25, [1e6, 0, 0]):
        distances = np.sqrt(((xyz - point) ** 2).sum(axis=1))
        index, distance = s.closest_atom(point)
        assert index == distances.argmin() and distance == pytest.approx(distances.min(), rel=1e-12)
    weight = {" N": 14, " O": 16, " C": 12, " S": 32, " H": 1, " P": 31}
    w = np.array([weight.get(a.name_field[:2], 1.0) for r in s.residues for a in r.atoms])
    np.testing.assert_allclose(s.centroid(mass=True), (xyz * w[:, None]).sum(axis=0) / w.sum(), rtol=1e-12)


def test_a_structure_of_no_atom_answers_none_or_raises():
    s = voxmol.read_structure(PDB_FILES[0]).atoms(np.zeros(0, dtype=np.intp))
    assert len(s) == 0 and len(s.residues) == 0 and s.coords.shape == (0, 3) and s.name.shape == (0,)
    assert s.closest_atom((1, 2, 3)) is None
    for call in (s.radius_of_gyration, s.centroid, s.bounds):
        with pytest.raises(ValueError, match="without atoms"):
            call()


# ---- Record display -----------------------------------------------------------------------------------

@FILES
def test_written_records_read_back_the_same(path, tmp_path):
    s = voxmol.read_structure(path, model="all")
    out = tmp_path / "all.pdb"
    s.write_pdb(out)
    back = voxmol.read_structure(out, model="all")
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
    if len(picked) == 0:
        picked = s.select(chain)[::3]
    out = tmp_path / "some.pdb"
    s.write_pdb(out, residues=picked)
    back = voxmol.read_structure(out, model="all")
    want = s.coords[np.isin(s.residue_index, picked)]
    assert np.array_equal(back.coords, want)
    s.write_pdb(out, residues=s.residues[::3])
    every_third = s.coords[np.isin(s.residue_index, np.arange(0, len(s.residues), 3))]
    assert np.array_equal(voxmol.read_structure(out, model="all").coords, every_third)


@pytest.mark.parametrize("residues,error,match", [
    ([0, 1, 500], ValueError, r"residues\[2\] = 500 is out of range for \d+ residues"),
    ([0, "1"], TypeError, r"residues\[1\] must be an integer, not str"),
    ([0.0], TypeError, r"residues\[0\] must be an integer, not float"),
    (7, TypeError, "residues must be a sequence"),
])
def test_bad_residues_raise_before_the_file_is_touched(residues, error, match, tmp_path):
    s = voxmol.read_structure(next(p for p in PDB_FILES if "1ubi" in p.name))
    keep = tmp_path / "keep.pdb"
    keep.write_text("earlier output\n")
    with pytest.raises(error, match=match):
        s.write_pdb(keep, residues=residues)
    assert keep.read_text() == "earlier output\n" and [p.name for p in tmp_path.iterdir()] == ["keep.pdb"]


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
        (lambda: voxmol.read_structure(PDB_FILES[0], records="x"), ValueError, "records must be"),  # type: ignore[arg-type]
        (lambda: voxmol.read_structure(PDB_FILES[0], records="atom"), ValueError, "records must be"),  # type: ignore[arg-type]
        (lambda: voxmol.read_structure("/nonexistent.pdb"), FileNotFoundError, "nonexistent"),
        (lambda: voxmol.read_structure("/"), IsADirectoryError, ""),
        (lambda: voxmol.read_structure(PDB_FILES[0]).radius_of_gyration("AB"), ValueError, "one character"),
        (lambda: voxmol.read_structure(PDB_FILES[0]).radius_of_gyration(" "), ValueError, "blank chain"),
        (lambda: voxmol.read_structure(PDB_FILES[0]).closest_atom((1, 2)), ValueError, "point must be 3"),
        (lambda: voxmol.read_structure(PDB_FILES[0]).closest_atom("abc"), TypeError, "point must be"),
        (lambda: voxmol.read_structure(PDB_FILES[0]).select(5), TypeError, "expression must be a str"),  # type: ignore[arg-type]
        (lambda: voxmol.read_structure(PDB_FILES[0]).select("A", invert=1), TypeError, "invert must be"),  # type: ignore[arg-type]
        (lambda: voxmol.read_structure(PDB_FILES[0], model="first"), ValueError, "model must be"),  # type: ignore[arg-type]
        (lambda: voxmol.read_structure(PDB_FILES[0], model=1.5), TypeError, "model must be an integer"),  # type: ignore[arg-type]
        (lambda: voxmol.read_structure(PDB_FILES[0], level="2"), TypeError, "level must be an integer"),  # type: ignore[arg-type]
        (lambda: voxmol.read_structure(PDB_FILES[0]).atoms([True, False]), ValueError, "mask of 2 values"),
        (lambda: voxmol.read_structure(PDB_FILES[0]).atoms([10**6]), IndexError, "atom index 1000000"),
        (lambda: voxmol.read_structure(PDB_FILES[0]).atoms(["a"]), TypeError, "mask must be"),
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
