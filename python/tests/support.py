"""Helpers of the module's tests: where the command line and the test data are, and the independent readers
(skipped when missing, unless VOXMOL_REQUIRE_INDEPENDENT=1)."""
import importlib
import os
import re
import subprocess
from pathlib import Path

import pytest

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


def same_seconds(text):
    """The run's text with its whole-second read time made constant: a run may straddle a second."""
    return re.sub(r"Time to read the data file : +\d+ sec", "Time to read the data file : N sec", text)
