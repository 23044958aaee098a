"""Fatal errors of the library raise voxmol.Error with the location and the text, print nothing, and leave
the process running with nothing held open."""
import gzip
import os

import numpy as np
import pytest

import voxmol
from support import PDB_FILES


def gz_cut(folder):
    path = folder / "cut.txt.gz"
    data = gzip.compress(b"0 0 0 1 1 1 8 1 2 2 2 0 0 0 1 1 1\n" + b"0.5\n" * 8000)
    path.write_bytes(data[: len(data) // 2])
    return path


def write(folder, name, text):
    path = folder / name
    path.write_text(text)
    return path


NEGATIVE = "0 0 0 1 1 1 8 1 2 -2 2 0 0 0 1 1 1\n"
ONE_POINT = "0 0 0 1 1 1 1 1 1 1 1 0 0 0 1 1 1\n0\n"

# (case, call on a folder, where, message)
FATAL = [
    ("missing grid file", lambda d: voxmol.read_grid(d / "missing.txt"), "MAIN:VOXDEN",
     "I cannot open the input data file"),
    ("no header line", lambda d: voxmol.read_grid(write(d, "h.txt", "1\n2\n")), "MAIN:VOXDEN",
     "The data file holds no header line of 17 fields"),
    ("negative dimension", lambda d: voxmol.read_grid(write(d, "n.txt", NEGATIVE)), "MAIN:VOXDEN",
     "The header of the data file gives a negative grid dimension"),
    ("truncated gzip", lambda d: voxmol.read_grid(gz_cut(d)), "MAIN:VOXDEN",
     "The gzip-compressed data file is corrupt or truncated (it ends inside the compressed data)"),
    ("convert a missing file", lambda d: voxmol.convert(d / "missing.txt"), "MAIN:VOXDEN",
     "I cannot open the input data file"),
    ("convert onto its input", lambda d: voxmol.convert(write(d, "g.pdb", ONE_POINT)), "MAIN:VOXDEN",
     "The output file would overwrite the input data file"),
    ("selection of three residues", lambda d: voxmol.read_structure(PDB_FILES[0]).select("A1-A5-A9"),
     "SUB:READ_RES_PATTERN", "Error in the split residue selection"),
]


@pytest.mark.parametrize("case,call,where,message", FATAL, ids=[c[0] for c in FATAL])
def test_a_fatal_error_raises_and_prints_nothing(case, call, where, message, tmp_path, capfd):
    with pytest.raises(voxmol.Error) as e:
        call(tmp_path)
    assert isinstance(e.value, RuntimeError)
    assert (e.value.where, e.value.message) == (where, message)
    assert str(e.value) == f"{where}: {message}"
    assert capfd.readouterr() == ("", "")


def test_verbose_output_before_an_error_still_reaches_sys_stdout(tmp_path, capsys):
    with pytest.raises(voxmol.Error):
        voxmol.convert(tmp_path / "missing.txt", verbose=True)
    printed = capsys.readouterr().out
    assert "Program VOXMOL version" in printed and "I am reading the data file header" in printed
    assert ">ERROR IN" not in printed  # the error is the exception, not a printed block


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def test_repeated_errors_leave_nothing_open_and_the_library_usable(tmp_path):
    before = open_descriptors()
    for _ in range(40):
        for _, call, _, _ in FATAL:
            with pytest.raises(voxmol.Error):
                call(tmp_path)
    assert open_descriptors() == before
    grid = voxmol.Grid(np.ones((2, 2, 2)) * 0.5, (0, 0, 0), np.eye(3))
    assert voxmol.write_pdb(grid, tmp_path / "after.pdb") == 8
