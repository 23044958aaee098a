"""Helpers of the module's tests: where the command line and the test data are, the independent readers
(skipped when missing, unless VOXMOL_REQUIRE_INDEPENDENT=1), and formats whose reader has not landed."""
import importlib
import os
import re
import subprocess
from pathlib import Path

import pytest

import voxmol

ROOT = Path(__file__).resolve().parents[2]
BINARY = os.environ.get("VOXMOL_BINARY", str(ROOT / "build/default/voxmol"))
GRID_DUMP = os.environ.get("VOXMOL_GRID_DUMP", str(ROOT / "build/default/tests/grid_dump"))
TEST_DATA = Path(os.environ.get("VOXMOL_TEST_DATA", ROOT / "tests/data"))
PDB_FILES = sorted((TEST_DATA / "pdb").glob("*.pdb"))


def need(module):
    """Imports an independent reader, or skips the test (fails it under VOXMOL_REQUIRE_INDEPENDENT=1)."""
    try:
        return importlib.import_module(module)
    except ImportError:
        message = f"{module} is not installed (Debian: python3-{module.split('.')[0].lower()})"
        if os.environ.get("VOXMOL_REQUIRE_INDEPENDENT") == "1":
            pytest.fail(message)
        pytest.skip(message)


def run_cli(*args, cwd):
    """Runs the voxmol command line; returns (exit status, standard output as text)."""
    run = subprocess.run([BINARY, *map(str, args)], cwd=cwd, capture_output=True)
    return run.returncode, run.stdout.decode("latin-1")


def readable(call, native=True):
    """Runs `call`; a grid format whose reader has not landed yet turns the test into an expected failure.
    Until then a file of another format that recognise() does not know yet (a gzip-compressed cube, known
    by its name) is read as voxmol's own text, which it is not: `native` False says so."""
    try:
        return call()
    except voxmol.Error as e:
        if "not read yet" in str(e):
            pytest.xfail(str(e))
        if not native and "no header line of 17 fields" in str(e):
            pytest.xfail("not recognised yet: " + str(e))
        raise


def same_seconds(text):
    """The run's text with its whole-second read time made constant: a run may straddle a second."""
    return re.sub(r"Time to read the data file : +\d+ sec", "Time to read the data file : N sec", text)
