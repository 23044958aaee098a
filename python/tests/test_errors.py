"""Loud, never silent: fatal errors of the library raise voxmol.Error with the location and the text; files
that cannot be read raise OSError naming them; bad arguments raise TypeError or ValueError naming the
argument; library warnings reach warnings.warn; and the process goes on with nothing held open."""
import gzip
import os
import signal
import threading
import time
import warnings

import numpy as np
import pytest

import voxmol
from support import PDB_FILES, need


def gz_cut(folder):
    path = folder / "cut.txt.gz"
    data = gzip.compress(b"0 0 0 1 1 1 8 1 2 2 2 0 0 0 1 1 1\n" + b"0.5\n" * 8000)
    path.write_bytes(data[: len(data) // 2])
    return path


def write(folder, name, text):
    path = folder / name
    path.write_bytes(text if isinstance(text, bytes) else text.encode())
    return path


def map_cut(folder, name, change):
    """A 3x4x5 float32 MRC map whose bytes `change` alters, gzip-compressed when the name ends in .gz."""
    mrcfile = need("mrcfile")
    plain = folder / "whole.mrc"
    with mrcfile.new(str(plain), overwrite=True) as m:
        m.set_data(np.arange(60, dtype=np.float32).reshape(5, 4, 3))
        m.voxel_size = 1.0
    data = change(plain.read_bytes())
    return write(folder, name, gzip.compress(data) if name.endswith(".gz") else data)


NEGATIVE = "0 0 0 1 1 1 8 1 2 -2 2 0 0 0 1 1 1\n"
ONE_POINT = "0 0 0 1 1 1 1 1 1 1 1 0 0 0 1 1 1\n0\n"

# (case, call on a folder, where, message)
FATAL = [
    ("no header line", lambda d: voxmol.read_grid(write(d, "h.txt", "1\n2\n")), "MAIN:VOXDEN",
     "The data file holds no header line of 17 fields"),
    ("negative dimension", lambda d: voxmol.read_grid(write(d, "n.txt", NEGATIVE)), "MAIN:VOXDEN",
     "The header of the data file gives a negative grid dimension"),
    ("truncated gzip", lambda d: voxmol.read_grid(gz_cut(d)), "MAIN:VOXDEN",
     "The gzip-compressed data file is corrupt or truncated (it ends inside the compressed data)"),
    # Maps read in single precision keep every check of the command line's read.
    ("CCP4 map cut short", lambda d: voxmol.read_grid(map_cut(d, "cut.mrc", lambda b: b[:-6])), "MAIN:VOXDEN",
     "The CCP4/MRC file ends after 58 of 60 values"),
    ("gzip CCP4 map cut short", lambda d: voxmol.read_grid(map_cut(d, "cut.mrc.gz", lambda b: b[:-6])),
     "MAIN:VOXDEN", "The CCP4/MRC file ends after 58 of 60 values"),
    ("gzip CCP4 map with bytes after its values",
     lambda d: voxmol.read_grid(map_cut(d, "long.mrc.gz", lambda b: b + b"\0")), "MAIN:VOXDEN",
     "The CCP4/MRC file holds more bytes after its 60 values; its header (dimensions, mode or NSYMBT) "
     "disagrees with the data"),
    ("convert onto its input", lambda d: voxmol.convert(write(d, "g.pdb", ONE_POINT)), "MAIN:VOXDEN",
     "The output file would overwrite the input data file"),
]


@pytest.mark.parametrize("case,call,where,message", FATAL, ids=[c[0] for c in FATAL])
def test_a_fatal_error_raises_and_prints_nothing(case, call, where, message, tmp_path, capfd):
    with pytest.raises(voxmol.Error) as e:
        call(tmp_path)
    assert isinstance(e.value, RuntimeError)
    assert (e.value.where, e.value.message) == (where, message)
    assert str(e.value) == f"{where}: {message}"
    assert capfd.readouterr() == ("", "")


def mmcif(folder):
    gemmi = need("gemmi")
    st = gemmi.read_structure(str(next(p for p in PDB_FILES if "1ubi" in p.name)))
    path = folder / "1ubi.cif"
    st.make_mmcif_document().write_file(str(path))
    return path


PNG = b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + bytes(64)

# (case, call on a folder, exception, what its text says)
LOUD = [
    ("missing grid", lambda d: voxmol.read_grid(d / "missing.dx"), FileNotFoundError, "missing.dx"),
    ("grid that is a folder", lambda d: voxmol.read_grid(d), IsADirectoryError, str(os.sep)),
    ("convert a missing grid", lambda d: voxmol.convert(d / "gone.txt"), FileNotFoundError, "gone.txt"),
    ("missing structure", lambda d: voxmol.read_structure(d / "none.pdb"), FileNotFoundError, "none.pdb"),
    ("structure that is a folder", lambda d: voxmol.read_structure(d), IsADirectoryError, ""),
    ("write into a missing folder", lambda d: voxmol.write_grid(tiny(), d / "no" / "g.dx"), FileNotFoundError,
     "g.dx"),
    ("mmCIF structure", lambda d: voxmol.read_structure(mmcif(d)), ValueError, "mmCIF"),
    ("grid as a structure", lambda d: voxmol.read_structure("examples/blobs.txt"), ValueError,
     "no ATOM or HETATM record in examples/blobs.txt"),
    ("PNG as a structure", lambda d: voxmol.read_structure(write(d, "a.png", PNG)), ValueError, "no ATOM"),
    ("empty structure", lambda d: voxmol.read_structure(write(d, "e.pdb", "")), ValueError, "no ATOM"),
    ("only HETATM, ATOM asked", lambda d: voxmol.read_structure(
        write(d, "h.pdb", "HETATM    1  O   HOH A   1       1.000   2.000   3.000  1.00  0.00           O\n"),
        records="a"), ValueError, "no ATOM record"),
    ("model that is not there", lambda d: voxmol.read_structure(PDB_FILES[0], model=4), ValueError,
     "no model 4"),
    ("NUL in a grid path", lambda d: voxmol.read_grid("examples/blobs.txt\x00junk"), ValueError, "NUL byte"),
    ("NUL in a structure path", lambda d: voxmol.read_structure(b"a.pdb\x00b"), ValueError, "NUL byte"),
    ("NUL in an output path", lambda d: voxmol.write_pdb(tiny(), str(d / "a\x00.pdb")), ValueError, "NUL byte"),
    ("NUL in a converted path", lambda d: voxmol.convert("examples/blobs.txt\x00"), ValueError, "NUL byte"),
    ("path of another type", lambda d: voxmol.read_grid(42), TypeError, "path must be a str, bytes or os.PathLike"),  # type: ignore[arg-type]
    ("step as text", lambda d: voxmol.write_pdb(tiny(), d / "s.pdb", step="2"), TypeError, "step must be an integer"),  # type: ignore[arg-type]
    ("step as float", lambda d: voxmol.convert("x.txt", step=2.0), TypeError, "step must be an integer, not float"),  # type: ignore[arg-type]
    ("window as a number", lambda d: voxmol.convert("x.txt", window=5), TypeError, "window must be a pair"),  # type: ignore[arg-type]
    ("window of three", lambda d: voxmol.write_pdb(tiny(), d / "w.pdb", (1, 2, 3)), ValueError,  # type: ignore[arg-type]
     "window must be a pair"),
    ("NaN in a window", lambda d: voxmol.write_pdb(tiny(), d / "w.pdb", (np.nan, 1)), ValueError, "window is NaN"),
    ("verbose as text", lambda d: voxmol.convert("x.txt", verbose="yes"), TypeError, "verbose must be True or False"),  # type: ignore[arg-type]
    ("level as text", lambda d: voxmol.read_grid("x.txt", level="2"), TypeError, "level must be an integer"),  # type: ignore[arg-type]
    ("order as a number", lambda d: voxmol.read_grid("x.txt", order=1), TypeError, "order must be a str"),  # type: ignore[arg-type]
]


def tiny():
    return voxmol.Grid(np.zeros((2, 2, 2)), (0, 0, 0), np.eye(3))


@pytest.mark.parametrize("case,call,error,text", LOUD, ids=[c[0] for c in LOUD])
def test_bad_input_raises_the_named_exception(case, call, error, text, tmp_path, monkeypatch):
    monkeypatch.chdir(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
    with pytest.raises(error) as e:
        call(tmp_path)
    assert text in str(e.value)
    if issubclass(error, OSError):
        assert e.value.filename is not None and text in str(e.value.filename)


def test_verbose_output_before_an_error_still_reaches_sys_stdout(tmp_path, capsys):
    bad = write(tmp_path, "bad.txt", NEGATIVE)
    with pytest.raises(voxmol.Error):
        voxmol.convert(bad, verbose=True)
    printed = capsys.readouterr().out
    assert "Program VOXMOL version" in printed and "I am reading the data file header" in printed
    assert ">ERROR IN" not in printed  # the error is the exception, not a printed block


def mrc_with_origin_and_start(folder):
    mrcfile = need("mrcfile")
    path = folder / "both.mrc"
    with mrcfile.new(str(path), overwrite=True) as m:
        m.set_data(np.zeros((3, 4, 5), dtype=np.float32))
        m.voxel_size = 1.0
        m.header.origin = (1.0, 2.0, 3.0)
        m.header.nxstart, m.header.nystart, m.header.nzstart = 1, 1, 1
    return path


# (case, call on a folder, what the warning says)
WARNED = [
    ("MRC with ORIGIN and start indices", lambda d: voxmol.read_grid(mrc_with_origin_and_start(d)), "ORIGIN"),
    ("value line that is not a number", lambda d: voxmol.read_grid(
        write(d, "v.txt", "0 0 0 1 1 1 8 1 2 2 2 0 0 0 1 1 1\n" + "0.5\n" * 3 + "abc\n" + "0.25\n" * 4)),
     "The line #: 4  has less or more than 1 fields: abc"),
    ("-o for another format", lambda d: voxmol.convert(mrc_with_origin_and_start(d), order="ZYX"), "-o option"),
]


@pytest.mark.parametrize("case,call,text", WARNED, ids=[c[0] for c in WARNED])
def test_library_warnings_reach_warnings_at_every_level(case, call, text, tmp_path, capfd):
    with pytest.warns(voxmol.VoxmolWarning, match=text):
        call(tmp_path)
    assert capfd.readouterr().out == ""
    with warnings.catch_warnings():
        warnings.simplefilter("error", voxmol.VoxmolWarning)
        with pytest.raises(voxmol.VoxmolWarning):
            call(tmp_path)


def test_many_warnings_are_capped(tmp_path):
    data = write(tmp_path, "many.txt", "0 0 0 1 1 1 8 1 2 20 20 0 0 0 1 1 1\n" + "x\n" * 400)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        voxmol.read_grid(data)
    assert len(caught) == 21 and "380 more warnings" in str(caught[-1].message)


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def test_repeated_errors_leave_nothing_open_and_the_library_usable(tmp_path):
    before = open_descriptors()
    for _ in range(40):
        for _, call, _, _ in FATAL:
            with pytest.raises(voxmol.Error):
                call(tmp_path)
        with pytest.raises(FileNotFoundError):
            voxmol.read_grid(tmp_path / "missing.txt")
    assert open_descriptors() == before
    assert voxmol.write_pdb(voxmol.Grid(np.ones((2, 2, 2)) * 0.5, (0, 0, 0), np.eye(3)), tmp_path / "after.pdb") == 8
    assert [p.name for p in tmp_path.iterdir() if p.name.startswith(".")] == []


# ---- Threads and Ctrl-C ----------------------------------------------------------------------------------

@pytest.fixture(scope="module")
def big_grid(tmp_path_factory):
    """A voxmol text grid of 2 million points (about 9 MB): long enough to read that other threads and
    Ctrl-C have time to act."""
    folder = tmp_path_factory.mktemp("big")
    n = 128
    values = np.sin(np.arange(n * n * n, dtype=np.float64) * 1e-3)
    path = folder / "big.txt"
    with open(path, "w") as f:
        f.write(f"0 0 0 {n - 1} {n - 1} {n - 1} {n ** 3} 0 {n} {n} {n} 0 0 0 1 1 1\n")
        np.savetxt(f, values, fmt="%.3f")
    return path


@pytest.mark.parametrize("call", ["read_grid", "convert", "write_pdb", "positions"])
def test_a_long_call_lets_other_threads_run(call, big_grid, tmp_path):
    grid = voxmol.read_grid(big_grid) if call in ("write_pdb", "positions") else None
    work = {
        "read_grid": lambda: voxmol.read_grid(big_grid),
        "convert": lambda: voxmol.convert(big_grid, (0.99, 1.0)),
        "write_pdb": lambda: voxmol.write_pdb(grid, tmp_path / "out.pdb", (-2.0, 2.0)),
        "positions": lambda: [grid.positions() for _ in range(3)],
    }[call]
    counted, done = [0], threading.Event()

    def count():
        while not done.is_set():
            counted[0] += 1

    other = threading.Thread(target=count)
    other.start()
    try:
        time.sleep(0.01)
        start = counted[0]
        work()
        during = counted[0] - start
    finally:
        done.set()
        other.join()
    # Holding the GIL through the call would leave the counting thread a few hundred turns at most.
    assert during > 20000


def interrupt_after(seconds):
    timer = threading.Timer(seconds, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    return timer


@pytest.fixture(scope="module")
def long_grid(tmp_path_factory):
    """A voxmol text grid of 8 million points whose conversion takes far longer than the 50 ms the
    interrupt waits, however fast the machine."""
    n = 200
    path = tmp_path_factory.mktemp("long") / "big.txt"
    with open(path, "w") as f:
        f.write(f"0 0 0 {n - 1} {n - 1} {n - 1} {n ** 3} 0 {n} {n} {n} 0 0 0 1 1 1\n")
        f.write("0.500\n" * n ** 3)
    return path


def test_ctrl_c_stops_a_conversion_and_leaves_the_earlier_output(long_grid, tmp_path):
    data = tmp_path / long_grid.name
    os.symlink(long_grid, data)
    output = tmp_path / "big.pdb"
    output.write_text("earlier output\n")
    timer = interrupt_after(0.05)
    started = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            voxmol.convert(data, (-2.0, 2.0))
            time.sleep(5)  # not reached when the interrupt stopped the run
    finally:
        timer.cancel()
    assert time.monotonic() - started < 5
    assert output.read_text() == "earlier output\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["big.pdb", "big.txt"]


@pytest.mark.parametrize("call", ["read_grid", "write_pdb", "write_grid"])
def test_ctrl_c_stops_other_long_calls(call, big_grid, tmp_path):
    grid = voxmol.read_grid(big_grid) if call != "read_grid" else None
    work = {
        "read_grid": lambda: voxmol.read_grid(big_grid),
        "write_pdb": lambda: voxmol.write_pdb(grid, tmp_path / "out.pdb", (-2.0, 2.0)),
        "write_grid": lambda: voxmol.write_grid(grid, tmp_path / "out.dx"),
    }[call]
    timer = interrupt_after(0.05)
    try:
        with pytest.raises(KeyboardInterrupt):
            work()
            time.sleep(5)
    finally:
        timer.cancel()
    assert list(tmp_path.iterdir()) == []


def test_a_full_disk_raises_its_oserror_and_keeps_the_earlier_output(tmp_path):
    """write_pdb to a file system that fills up: OSError(ENOSPC) naming the file, the earlier output intact,
    nothing else left (needs root, to mount a small tmpfs)."""
    import errno
    import subprocess

    if os.geteuid() != 0:
        pytest.skip("mounting a small tmpfs needs root")
    disk = tmp_path / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", str(disk)]).returncode != 0:
        pytest.skip("this machine lets no tmpfs be mounted")
    try:
        out = disk / "out.pdb"
        out.write_text("earlier\n")
        grid = voxmol.Grid(np.zeros((40, 40, 40)), (0, 0, 0), np.eye(3))
        with pytest.raises(OSError) as raised:
            voxmol.write_pdb(grid, out)
        assert raised.value.errno == errno.ENOSPC and raised.value.filename == str(out)
        assert out.read_text() == "earlier\n" and os.listdir(disk) == ["out.pdb"]
    finally:
        subprocess.run(["umount", str(disk)])
