"""Helpers for the checks against independent readers: finding the module, running voxmol."""
import os
import subprocess
import sys

SKIP = 77  # ctest's code for a skipped test


def need(module):
    """Imports `module`, or skips the test (fails it under VOXMOL_REQUIRE_INDEPENDENT=1) when missing."""
    try:
        return __import__(module)
    except ImportError:
        print(f"{module} is not installed (Debian: python3-{module.lower()})")
        sys.exit(1 if os.environ.get("VOXMOL_REQUIRE_INDEPENDENT") == "1" else SKIP)


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
