"""Grids: read_grid against independent readers and against the converter's own read, write_pdb and
convert against the command line byte for byte, for a file of every format; arrays made into grids."""
import gc
import io
import json
import os
import subprocess

import numpy as np
import pytest

import voxmol
from gridcases import NAMES, WITH_REFERENCE
from support import GRID_DUMP, run_cli, same_seconds

WINDOWS = [((-1.0, 1.0), 1), ((0.2, 5.0), 3), ((-1e30, 1e30), 1), ((-0.3, -0.3), 1)]


def read(case):
    return voxmol.read_grid(case.path, order=case.order)


def records(text):
    return [line for line in text.splitlines() if line.startswith("ATOM")]


@pytest.mark.parametrize("name", WITH_REFERENCE)
def test_read_grid_matches_an_independent_reader(grid_files, name):
    case = grid_files(name)
    grid = read(case)
    for ref in [case.reference, *case.also]:
        assert grid.values.shape == grid.shape == ref.values.shape
        np.testing.assert_allclose(grid.values, ref.values, rtol=ref.rtol, atol=0)
        np.testing.assert_allclose(grid.origin, ref.origin, rtol=1e-9, atol=1e-12)
        np.testing.assert_allclose(grid.axes, ref.axes, rtol=1e-9, atol=1e-12)
    # A map's values stay in the file's single precision; text formats are read as doubles.
    assert grid.values.dtype == (np.float32 if grid.format.startswith("CCP4/MRC") else np.float64)
    assert grid.gzip == case.path.endswith(".gz")
    assert (grid.compression == "gzip") == grid.gzip and (", gzip>" in repr(grid)) == grid.gzip


@pytest.mark.parametrize("name", NAMES)
def test_read_grid_is_what_the_converter_reads(grid_files, name, tmp_path):
    case = grid_files(name)
    grid = read(case)
    if not os.path.exists(GRID_DUMP):
        pytest.skip("grid_dump is not built")
    subprocess.run([GRID_DUMP, case.path, str(tmp_path / "dump")], check=True, capture_output=True)
    info = json.loads((tmp_path / "dump.json").read_text())
    dumped = np.fromfile(tmp_path / "dump.f64", dtype=np.float64)
    # grid_dump lists a voxmol text file's values as the file lists them ("ZYX": x fastest), and every
    # other format's in walk order, whatever order the module stores them in.
    stored = grid.values.ravel(order="F" if case.order == "ZYX" else "C")
    assert np.array_equal(stored, dumped, equal_nan=True)
    assert grid.format == info["format"] and grid.gzip == (info["compression"] == "gzip")
    assert list(grid.shape) == info["shape"]
    assert grid.origin.tolist() == info["origin"] and grid.axes.tolist() == info["axes"]


@pytest.mark.parametrize("window,step", WINDOWS, ids=lambda w: str(w))
@pytest.mark.parametrize("name", NAMES)
def test_write_pdb_writes_what_the_command_line_writes(grid_files, name, window, step, copy_to, tmp_path,
                                                        capsys):
    case = grid_files(name)
    grid = read(case)
    data = copy_to(case.path)
    status, stdout = run_cli(data, "-t", repr(window[0]), repr(window[1]), "-r", step, "-l", "1", *case.args,
                        cwd=tmp_path)
    assert status == 0
    (written,) = tmp_path.glob("*.pdb")
    expected = written.read_bytes()
    count = voxmol.write_pdb(grid, tmp_path / "module.out", window, step, verbose=True)
    assert (tmp_path / "module.out").read_bytes() == expected
    assert count == len(records(expected.decode()))
    progress = capsys.readouterr().out
    assert progress and progress in stdout


@pytest.mark.parametrize("name", NAMES)
def test_convert_is_the_command_line_run(grid_files, name, copy_to, tmp_path, capsys):
    case = grid_files(name)
    read(case)
    data = copy_to(case.path)
    status, stdout = run_cli(data, "-t", "0", "1", "-r", "2", *case.args, cwd=tmp_path)
    assert status == 0
    (written,) = tmp_path.glob("*.pdb")
    expected = written.read_bytes()
    written.unlink()
    out = voxmol.convert(str(data), (0.0, 1.0), 2, order=case.order, verbose=True)
    assert out == str(written)
    assert written.read_bytes() == expected
    assert same_seconds(capsys.readouterr().out) == same_seconds(stdout)


@pytest.mark.parametrize("name", NAMES)
def test_positions_are_where_the_records_are(grid_files, name):
    grid = read(grid_files(name))
    out = io.StringIO()
    voxmol.write_pdb(grid, out, (-np.inf, np.inf))
    lines = records(out.getvalue())
    written = np.array([[float(line[c : c + 8]) for c in (30, 38, 46)] for line in lines])
    values = np.array([float(line[60:66]) for line in lines])
    assert len(lines) == grid.values.size
    np.testing.assert_allclose(written, grid.positions(), rtol=0, atol=0.0005 * 1.0001)
    np.testing.assert_allclose(values, grid.values.ravel(), rtol=0, atol=0.005 * 1.0001)


@pytest.mark.parametrize("name", NAMES)
def test_a_grid_made_of_a_read_grids_arrays_writes_the_same(grid_files, name):
    grid = read(grid_files(name))
    made = voxmol.Grid(grid.values, grid.origin, grid.axes)
    assert made.format == "array" and made.order == "XYZ"
    a, b = io.StringIO(), io.StringIO()
    assert voxmol.write_pdb(grid, a, (0.0, 2.0), 2) == voxmol.write_pdb(made, b, (0.0, 2.0), 2)
    assert a.getvalue() == b.getvalue()


ARRAYS = {
    "float64 C": lambda v: v,
    "float64 Fortran": lambda v: np.asfortranarray(v),
    "float32": lambda v: v.astype(np.float32),
    "float16": lambda v: v.astype(np.float16),
    "big-endian float64": lambda v: v.astype(">f8"),
    "int16": lambda v: (v * 100).astype(np.int16),
    "uint8": lambda v: (np.abs(v) * 10).astype(np.uint8),
    "every other point": lambda v: np.repeat(v, 2, axis=1)[:, ::2, :],
    "nested lists": lambda v: v.tolist(),
}


@pytest.mark.parametrize("kind", ARRAYS)
def test_grid_copies_any_real_array_into_walk_order(kind):
    source = np.linspace(-2, 2, 4 * 5 * 3).reshape(4, 5, 3) ** 3
    given = ARRAYS[kind](source)
    grid = voxmol.Grid(given, (1.0, 2.0, 3.0), np.diag([0.5, 1.0, 2.0]))
    assert grid.values.dtype == np.float64 and grid.values.flags.c_contiguous
    assert np.array_equal(grid.values, np.asarray(given, dtype=np.float64))
    plain = np.asarray(given, dtype=np.float64).copy()
    reference = voxmol.Grid(plain, (1.0, 2.0, 3.0), np.diag([0.5, 1.0, 2.0]))
    a, b = io.StringIO(), io.StringIO()
    voxmol.write_pdb(grid, a, (-1e9, 1e9))
    voxmol.write_pdb(reference, b, (-1e9, 1e9))
    assert a.getvalue() == b.getvalue()
    if isinstance(given, np.ndarray):
        assert not np.shares_memory(grid.values, given)


def test_values_are_a_writable_view_that_keeps_the_grid_alive():
    grid = voxmol.Grid(np.zeros((3, 4, 5)), (0, 0, 0), np.eye(3))
    values = grid.values
    assert np.shares_memory(values, grid.values)
    values[1, 2, 3] = 0.5
    out = io.StringIO()
    assert voxmol.write_pdb(grid, out, (0.25, 1.0)) == 1
    assert "   1.000   2.000   3.000  1.00  0.50" in out.getvalue()
    del grid
    gc.collect()
    values[0, 0, 0] = 7.0  # the array still owns its grid
    assert values.sum() == 7.5


def test_zero_points_write_only_the_remarks(tmp_path):
    grid = voxmol.Grid(np.zeros((0, 3, 2)), (0, 0, 0), np.eye(3))
    assert grid.values.shape == (0, 3, 2) and grid.positions().shape == (0, 3)
    assert voxmol.write_pdb(grid, tmp_path / "empty.pdb") == 0
    assert (tmp_path / "empty.pdb").read_text().count("REMARK") == 4


class Refusing(io.TextIOBase):
    def write(self, text):
        raise OSError(28, "No space left on device")


@pytest.mark.parametrize(
    "target",
    ["path", "str path", "text file", "binary file", "StringIO", "BytesIO"],
)
def test_write_pdb_writes_the_same_bytes_to_any_target(target, tmp_path):
    grid = voxmol.Grid(np.linspace(-1, 1, 6 * 6 * 6).reshape(6, 6, 6), (-1.5, 0, 2), np.eye(3) * 0.5)
    voxmol.write_pdb(grid, tmp_path / "reference.pdb")
    expected = (tmp_path / "reference.pdb").read_bytes()
    path = tmp_path / "out.pdb"
    if target == "path":
        voxmol.write_pdb(grid, path)
    elif target == "str path":
        voxmol.write_pdb(grid, str(path))
    elif target in ("text file", "binary file"):
        with open(path, "w" if target == "text file" else "wb") as f:
            f.write("HEADER\n" if target == "text file" else b"HEADER\n")
            voxmol.write_pdb(grid, f)
            f.write("END\n" if target == "text file" else b"END\n")
        expected = b"HEADER\n" + expected + b"END\n"
    else:
        f = io.StringIO() if target == "StringIO" else io.BytesIO()
        voxmol.write_pdb(grid, f)
        value = f.getvalue()
        path.write_bytes(value.encode() if isinstance(value, str) else value)
    assert path.read_bytes() == expected


def test_an_error_of_the_target_reaches_the_caller():
    grid = voxmol.Grid(np.zeros((2, 2, 2)), (0, 0, 0), np.eye(3))
    with pytest.raises(OSError, match="No space left"):
        voxmol.write_pdb(grid, Refusing())
    with pytest.raises(FileNotFoundError):
        voxmol.write_pdb(grid, "/nonexistent/folder/out.pdb")


def test_nothing_is_printed_unless_asked(tmp_path, capfd):
    # A value line that is not a number is reported at every verbosity of the command line.
    data = tmp_path / "noisy.txt"
    data.write_text("0 0 0 1 1 1 8 1 2 2 2 0 0 0 1 1 1\n" + "0.5\n" * 3 + "abc\n" + "0.25\n" * 4)
    with pytest.warns(voxmol.VoxmolWarning):
        grid = voxmol.read_grid(data)
        voxmol.write_pdb(grid, tmp_path / "quiet.pdb")
        voxmol.convert(data)
    assert capfd.readouterr() == ("", "")

    with pytest.warns(voxmol.VoxmolWarning):
        grid = voxmol.read_grid(data, level=2)
    printed = capfd.readouterr().out
    assert "The line #: 4  has less or more than 1 fields \n>>>abc\n" in printed
    assert "Dimension of data: X= 2 Y= 2 Z= 2 \n" in printed
    voxmol.write_pdb(grid, tmp_path / "loud.pdb", verbose=True)
    assert capfd.readouterr().out == "\nWriting to dx file ...\nWriting to dx file : Done\n\n"
    assert grid.values[0, 1, 1] == 0.5  # the line that is not a number repeats the previous value


ZEROS = np.zeros((2, 2, 2))


def tiny():
    return voxmol.Grid(ZEROS, (0, 0, 0), np.eye(3))


@pytest.mark.parametrize(
    "call,error,match",
    [
        (lambda: voxmol.Grid(np.zeros((2, 2)), (0, 0, 0), np.eye(3)), ValueError, "3-dimensional"),
        (lambda: voxmol.Grid(np.zeros((2, 2, 2), complex), (0, 0, 0), np.eye(3)), TypeError, "real numbers"),
        (lambda: voxmol.Grid(np.array([[["a"]]]), (0, 0, 0), np.eye(3)), TypeError, "real numbers"),
        (lambda: voxmol.Grid(np.zeros((2, 2, 2)), (0, 0), np.eye(3)), ValueError, "origin must be 3 numbers"),
        (lambda: voxmol.Grid(ZEROS, (0, np.nan, 0), np.eye(3)), ValueError, "origin must be finite"),
        (lambda: voxmol.Grid(np.zeros((2, 2, 2)), (0, 0, 0), np.eye(2)), ValueError, "3x3"),
        (lambda: voxmol.Grid(ZEROS, (0, 0, 0), np.full((3, 3), np.inf)), ValueError, "axes must be finite"),
        (lambda: voxmol.write_pdb(tiny(), io.StringIO(), step=0), ValueError, "step must be 1 or more"),
        (lambda: voxmol.write_pdb(tiny(), io.StringIO(), (1, 2, 3)), ValueError, "window must be a pair"),  # type: ignore[arg-type]
        (lambda: voxmol.read_grid("x.txt", order="YXZ"), ValueError, "order must be"),
        (lambda: voxmol.convert("x.txt", step=-1), ValueError, "step must be 1 or more"),
        (lambda: voxmol.convert("x.txt", order="-l"), ValueError, "order must be"),
        (lambda: voxmol.read_grid(42), TypeError, ""),  # type: ignore[arg-type]
    ],
)
def test_bad_arguments_raise_before_anything_runs(call, error, match):
    with pytest.raises(error, match=match):
        call()
