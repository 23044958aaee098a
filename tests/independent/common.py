"""Helpers for the checks against independent readers: finding the module, running voxmol."""
import os
import subprocess
import sys

SKIP = 77  # ctest's code for a skipped test
# The Debian package of each module whose package is not python3-<module in lower case>.
DEBIAN_PACKAGE = {"gridData": "python3-griddataformats", "iotbx": "python3-cctbx", "pymol": "pymol"}


def need(module):
    """Imports `module`, or skips the test (fails it under VOXMOL_REQUIRE_INDEPENDENT=1) when missing."""
    try:
        return __import__(module)
    except ImportError:
        package = DEBIAN_PACKAGE.get(module, f"python3-{module.lower()}")
        required = os.environ.get("VOXMOL_REQUIRE_INDEPENDENT") == "1"
        outcome = "failed (VOXMOL_REQUIRE_INDEPENDENT=1)" if required else "skipped"
        print(f"voxmol test {outcome}: the Python module {module} is not installed (Debian: {package})")
        sys.exit(1 if required else SKIP)


def voxmol(binary, *args, cwd=None):
    """Runs voxmol and returns its standard output; a non-zero exit status fails the test."""
    run = subprocess.run([binary, *args], cwd=cwd, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"voxmol {' '.join(args)} ended with {run.returncode}:\n{run.stdout}{run.stderr}")
    return run.stdout


def tolerance(field):
    """Half a unit of the last digit written in a PDB number field ("%8.3f" -> 0.0005, "1e+06" -> 5e5)."""
    text = field.strip()
    if "e" in text:
        mantissa, exponent = text.split("e")
        decimals = len(mantissa.split(".")[1]) if "." in mantissa else 0
        return 0.5 * 10 ** (int(exponent) - decimals)
    decimals = len(text.split(".")[1]) if "." in text else 0
    return 0.5 * 10 ** -decimals


def dump_grid(path, prefix):
    """The grid as voxmol reads it (through grid_dump): a dict with shape, origin, axes and format, and
    the values as a NumPy array of the grid's shape, indexed [i, j, k]."""
    import json

    import numpy

    run = subprocess.run([os.environ["VOXMOL_GRID_DUMP"], path, prefix], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"grid_dump {path} ended with {run.returncode}:\n{run.stdout}{run.stderr}")
    with open(prefix + ".json") as f:
        info = json.load(f)
    values = numpy.fromfile(prefix + ".f64", dtype=numpy.float64).reshape(info["shape"])
    return info, values


def positions(info):
    """Cartesian position of every point [i, j, k] as voxmol places it: origin + i*a + j*b + k*c."""
    import numpy

    nx, ny, nz = info["shape"]
    a, b, c = (numpy.array(v) for v in info["axes"])
    i, j, k = numpy.meshgrid(numpy.arange(nx), numpy.arange(ny), numpy.arange(nz), indexing="ij")
    return numpy.array(info["origin"]) + i[..., None] * a + j[..., None] * b + k[..., None] * c


def gzip_copy(path):
    """A gzip-compressed copy of `path`, beside it; returns its name."""
    import gzip
    import shutil

    with open(path, "rb") as f, gzip.open(path + ".gz", "wb") as g:
        shutil.copyfileobj(f, g)
    return path + ".gz"


def converted_records(binary, path, folder):
    """Converts every point of the grid file `path` (a copy of it in `folder`) and returns the ATOM lines."""
    import shutil

    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    local = os.path.join(folder, os.path.basename(path))
    shutil.copy(path, local)
    voxmol(binary, os.path.basename(local), "-t", "-1e30", "1e30", "-l", "1", cwd=folder)
    with open(os.path.splitext(local)[0] + ".pdb") as f:
        return [line for line in f if line.startswith("ATOM")]


def record_problems(lines, where, values, most=5):
    """What is wrong with ATOM `lines` that should put value `values[n]` at `where[n]` (N x 3), in walk
    order, each to the precision of its written columns (plus single precision's rounding)."""
    if len(lines) != len(values):
        return [f"{len(lines)} ATOM records for {len(values)} points"]
    problems = []
    for n, line in enumerate(lines):
        fields = [("x", line[30:38], where[n][0]), ("y", line[38:46], where[n][1]),
                  ("z", line[46:54], where[n][2]), ("value", line[60:66], values[n])]
        for what, text, want in fields:
            if abs(float(text) - want) > tolerance(text) * 1.0001 + abs(want) * 1e-6:
                problems.append(f"record {n + 1}: {what} {text.strip()} for {want!r} ({line.rstrip()})")
                if len(problems) >= most:
                    return problems
    return problems
