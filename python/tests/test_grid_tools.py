"""Grids out and around: write_grid read back by GridDataFormats, mrcfile and gemmi; interpolation against
scipy; indices and positions; crop; write_points read back by gemmi; pickling (also into other processes);
the settable origin and axes."""
import copy
import io
import multiprocessing
import pickle

import numpy as np
import pytest

import voxmol
from gridcases import NAMES, WITH_REFERENCE


def read(case):
    return voxmol.read_grid(case.path, order=case.order)


def along_axes(grid):
    axes = grid.axes
    return np.count_nonzero(axes - np.diag(np.diag(axes))) == 0 and (np.diag(axes) > 0).all()


@pytest.mark.parametrize("name", NAMES)
def test_write_grid_opendx_reads_back_the_same_everywhere(grid_files, name, tmp_path):
    grid = read(grid_files(name))
    path = tmp_path / "out.dx"
    voxmol.write_grid(grid, path)
    back = voxmol.read_grid(path)
    assert back.format == "OpenDX, text" and back.shape == grid.shape
    assert np.array_equal(back.values, grid.values)  # the shortest exact text of each double
    assert np.array_equal(back.origin, grid.origin) and np.array_equal(back.axes, grid.axes)
    if along_axes(grid):
        from gridcases import by_griddata

        ref = by_griddata(path)
        assert np.array_equal(ref.values, grid.values)
        np.testing.assert_allclose(ref.origin, grid.origin, rtol=1e-12)
        np.testing.assert_allclose(ref.axes, grid.axes, rtol=1e-12)


@pytest.mark.parametrize("name", NAMES)
def test_write_grid_mrc_reads_back_in_mrcfile_and_gemmi(grid_files, name, tmp_path):
    grid = read(grid_files(name))
    path = tmp_path / "out.mrc"
    axes = grid.axes
    placeable = (np.abs(axes[np.triu_indices(3, 1)]) < 1e-9 * np.abs(axes).max()).all() and (np.diag(axes) > 0).all()
    if not placeable:
        with pytest.raises(ValueError, match="cannot be written as MRC"):
            voxmol.write_grid(grid, path)
        assert not path.exists()
        return
    voxmol.write_grid(grid, path)
    as_float32 = grid.values.astype(np.float32)
    back = voxmol.read_grid(path)
    assert back.format == "CCP4/MRC, mode 2 (float32)"
    assert np.array_equal(back.values, as_float32)
    np.testing.assert_allclose(back.origin, grid.origin, rtol=1e-6, atol=1e-5)
    np.testing.assert_allclose(back.axes, grid.axes, rtol=1e-6, atol=1e-6)
    import mrcfile

    with mrcfile.open(str(path)) as m:  # permissive=False: the header must be valid
        assert np.array_equal(np.asarray(m.data).transpose(2, 1, 0), as_float32)
        assert m.header.mode == 2 and m.is_volume()
        np.testing.assert_allclose([m.header.origin.x, m.header.origin.y, m.header.origin.z], grid.origin, rtol=1e-6)
        if along_axes(grid):
            np.testing.assert_allclose([m.voxel_size.x, m.voxel_size.y, m.voxel_size.z], np.diag(grid.axes), rtol=1e-6)
        assert m.validate(print_file=io.StringIO())
    import gemmi

    ccp4 = gemmi.read_ccp4_map(str(path))
    assert np.array_equal(np.array(ccp4.grid, copy=False), as_float32)
    orth = np.array(ccp4.grid.unit_cell.orthogonalization_matrix.tolist())
    np.testing.assert_allclose((orth / np.array(grid.shape)).T, grid.axes, rtol=1e-5, atol=1e-5)


def test_write_grid_refuses_what_it_cannot_write(tmp_path):
    grid = voxmol.Grid(np.zeros((2, 3, 4)), (0, 0, 0), np.eye(3))
    with pytest.raises(ValueError, match="ends in none of .dx"):
        voxmol.write_grid(grid, tmp_path / "g.txt")
    with pytest.raises(ValueError, match="format must be"):
        voxmol.write_grid(grid, tmp_path / "g.dx", format="png")
    with pytest.raises(ValueError, match="step runs against its axis"):
        voxmol.write_grid(voxmol.Grid(np.zeros((2, 2, 2)), (0, 0, 0), -np.eye(3)), tmp_path / "g.mrc")
    with pytest.raises(ValueError, match="without points"):
        voxmol.write_grid(voxmol.Grid(np.zeros((0, 2, 2)), (0, 0, 0), np.eye(3)), tmp_path / "g.dx")
    with pytest.raises(TypeError, match="binary"):
        voxmol.write_grid(grid, io.StringIO(), format="mrc")
    assert list(tmp_path.iterdir()) == []
    out = io.BytesIO()
    voxmol.write_grid(grid, out, format="mrc")
    assert len(out.getvalue()) == 1024 + 4 * 24
    voxmol.write_grid(grid, tmp_path / "g.map", format="dx")
    assert voxmol.read_grid(tmp_path / "g.map").format == "OpenDX, text"


@pytest.mark.parametrize("name", WITH_REFERENCE)
def test_interpolate_agrees_with_scipy(grid_files, name):
    from scipy.interpolate import RegularGridInterpolator

    grid = read(grid_files(name))
    if np.linalg.det(grid.axes) == 0:  # a dimension of 1 in voxmol's text format has a step of 0
        with pytest.raises(ValueError, match="linearly dependent"):
            grid.interpolate(grid.origin)
        return
    rng = np.random.default_rng(7)
    n = np.array(grid.shape)
    inside = rng.uniform(0, n - 1, size=(200, 3))
    index = np.vstack([inside, [[0, 0, 0], n - 1, [-0.5, 1, 1], n - 1 + [0, 0, 0.25]]])
    points = grid.position(*index.T)
    values = grid.interpolate(points)
    reference = RegularGridInterpolator([np.arange(d) for d in n], grid.values, bounds_error=False,
                                        fill_value=np.nan)(index)
    np.testing.assert_allclose(values, reference, rtol=1e-9, atol=1e-9 * np.abs(grid.values).max())
    assert np.isnan(values[-2:]).all() and not np.isnan(values[:-2]).any()
    assert grid.interpolate(points[0]) == pytest.approx(values[0])
    np.testing.assert_allclose(grid.index_of(points), index, atol=1e-9)
    assert np.array_equal(grid.position(*np.indices(grid.shape)).reshape(-1, 3), grid.positions())


@pytest.mark.parametrize("name", ["native", "opendx", "ccp4-gemmi-triclinic", "cube-ase-triclinic"])
def test_crop_keeps_the_points_inside_the_box(grid_files, name):
    grid = read(grid_files(name))
    positions = grid.positions()
    lo, hi = np.percentile(positions, 20, axis=0), np.percentile(positions, 70, axis=0)
    part = grid.crop(lo, hi)
    inside = ((positions >= lo - 1e-9) & (positions <= hi + 1e-9)).all(axis=1).reshape(grid.shape)
    i, j, k = np.nonzero(inside)
    block = (slice(i.min(), i.max() + 1), slice(j.min(), j.max() + 1), slice(k.min(), k.max() + 1))
    # Every point inside the box is in the block; for axes along x, y and z the block is exactly them.
    assert part.shape == grid.values[block].shape or not along_axes(grid)
    kept = {tuple(p) for p in np.round(part.positions(), 6)}
    assert {tuple(p) for p in np.round(positions[inside.ravel()], 6)} <= kept
    if along_axes(grid):
        assert np.array_equal(part.values, grid.values[block])
        assert len(kept) == inside.sum()
    with pytest.raises(ValueError, match="holds no point"):
        grid.crop(positions.max(axis=0) + 1, positions.max(axis=0) + 2)
    with pytest.raises(ValueError, match="lo must not exceed hi"):
        grid.crop(hi, lo)


def gemmi_points(path):
    import gemmi

    st = gemmi.read_structure(str(path))
    return [(a, r, ch) for ch in st[0] for r in ch for a in r]


@pytest.mark.parametrize("cif", [False, True])
def test_write_points_reads_back_in_gemmi(cif, tmp_path):
    rng = np.random.default_rng(1)
    points = rng.uniform(-50, 150, size=(1200, 3))
    values = rng.uniform(-99, 99, size=1200)
    path = tmp_path / ("p.cif" if cif else "p.pdb")
    assert voxmol.write_points(points, path, values, name="O", resname="HOH", chain="W", element="O", cif=cif) == 1200
    atoms = gemmi_points(path)
    assert len(atoms) == 1200
    np.testing.assert_allclose([a.pos.tolist() for a, r, ch in atoms], points, atol=0.0005 * 1.0001)
    np.testing.assert_allclose([a.b_iso for a, r, ch in atoms], values, atol=0.005 * 1.0001 if not cif else 1e-4)
    assert {(a.name, a.element.name, r.name, ch.name) for a, r, ch in atoms} == {("O", "O", "HOH", "W")}
    assert [r.seqid.num for a, r, ch in atoms] == list(range(1, 1201))
    s = voxmol.read_structure(path) if not cif else None
    if s is not None:
        assert s.element.tolist() == ["O"] * 1200 and (s.chain == "W").all()


def test_write_points_writes_the_converters_records(tmp_path):
    grid = voxmol.Grid(np.linspace(-2, 2, 5 * 4 * 3).reshape(5, 4, 3), (1.5, -2, 0.25), np.diag([0.5, 1, 2]))
    out = io.StringIO()
    voxmol.write_pdb(grid, out, (-np.inf, np.inf))
    records = [line for line in out.getvalue().splitlines() if line.startswith("ATOM")]
    mine = io.StringIO()
    voxmol.write_points(grid.positions(), mine, grid.values.ravel())
    written = mine.getvalue().splitlines()
    # Same columns; only the residue numbers (one per point here, one per column there) differ.
    assert [line[:22] + line[26:] for line in written] == [line[:22] + line[26:] for line in records]
    mask = grid.values > 1
    assert voxmol.write_points(grid.positions()[mask.ravel()], tmp_path / "m.pdb", grid.values[mask]) == mask.sum()


@pytest.mark.parametrize("kwargs,error,match", [
    (dict(points=np.zeros((3, 2))), ValueError, r"points must be an array of shape \(N, 3\)"),
    (dict(points="abc"), TypeError, "points must be an array"),
    (dict(points=[[0, 0, np.nan]]), ValueError, "points must be finite"),
    (dict(values=[1, 2]), ValueError, r"values must be one number per point \(1\)"),
    (dict(name="TOOLONG"), ValueError, "name must be 1 to 4"),
    (dict(resname=""), ValueError, "resname must be 1 to 3"),
    (dict(chain="AB"), ValueError, "chain must be 1 printable"),
    (dict(element="1"), ValueError, "element must be 1 or 2 letters"),
    (dict(name=5), TypeError, "name must be a str"),
    (dict(cif="yes"), TypeError, "cif must be True or False"),
])
def test_write_points_checks_its_arguments(kwargs, error, match, tmp_path):
    given = dict(points=[[1.0, 2.0, 3.0]], path=tmp_path / "p.pdb") | kwargs
    with pytest.raises(error, match=match):
        voxmol.write_points(**given)
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("name", NAMES)
def test_a_grid_pickles_and_copies_to_the_same_grid(grid_files, name):
    grid = read(grid_files(name))
    for other in (pickle.loads(pickle.dumps(grid)), copy.copy(grid), copy.deepcopy(grid)):
        assert repr(other) == repr(grid) and other.order == grid.order and other.compression == grid.compression
        assert np.array_equal(other.values, grid.values, equal_nan=True)
        assert np.array_equal(other.origin, grid.origin) and np.array_equal(other.axes, grid.axes)
        a, b = io.StringIO(), io.StringIO()
        voxmol.write_pdb(grid, a, (-1.0, 1.0))
        voxmol.write_pdb(other, b, (-1.0, 1.0))
        assert a.getvalue() == b.getvalue()
        assert not np.shares_memory(other.values, grid.values)


def potential_at(args):
    grid, points = args
    return grid.interpolate(points)


def test_grids_and_structures_travel_to_other_processes():
    from support import PDB_FILES, ROOT

    grid = voxmol.read_grid(ROOT / "examples/ubiquitin-potential.dx.gz")

    s = voxmol.read_structure(next(p for p in PDB_FILES if "1ubi" in p.name))
    chunks = np.array_split(s.coords.astype(np.float64), 4)
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        parts = pool.map(potential_at, [(grid, c) for c in chunks])
        back = pool.map(copy.copy, [s])[0]
    np.testing.assert_array_equal(np.concatenate(parts), grid.interpolate(s.coords))
    assert np.array_equal(back.coords, s.coords) and back.select("A10-A20").tolist() == s.select("A10-A20").tolist()


def test_origin_and_axes_are_set_whole_and_checked():
    grid = voxmol.Grid(np.arange(24.0).reshape(2, 3, 4), (0, 0, 0), np.eye(3))
    with pytest.raises(ValueError, match="read-only"):
        grid.origin[0] = 5.0
    with pytest.raises(ValueError, match="read-only"):
        grid.axes[0, 0] = 5.0
    grid.origin = (10.0, 20.0, 30.0)
    grid.axes = np.diag([0.5, 1.0, 2.0])
    assert grid.origin.tolist() == [10.0, 20.0, 30.0] and grid.position(1, 2, 3).tolist() == [10.5, 22.0, 36.0]
    out = io.StringIO()
    voxmol.write_pdb(grid, out, (23.0, 23.0))
    assert "  10.500  22.000  36.000" in out.getvalue()
    for value, error, match in [((1, 2), ValueError, "origin must be 3"), ((0, np.inf, 0), ValueError, "finite"),
                                ("abc", TypeError, "origin must be")]:
        with pytest.raises(error, match=match):
            grid.origin = value
    with pytest.raises(ValueError, match="3x3"):
        grid.axes = np.eye(2)
    assert grid.origin.tolist() == [10.0, 20.0, 30.0]
    flat = voxmol.Grid(np.zeros((2, 2, 2)), (0, 0, 0), np.diag([1.0, 1.0, 0.0]))
    with pytest.raises(ValueError, match="linearly dependent"):
        flat.interpolate((0, 0, 0))
