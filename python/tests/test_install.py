"""The package as a user meets it: the README's examples run and print what the README says, the type stubs
check the README and these tests with mypy, and pip installs the package into a fresh virtual environment
with its metadata and stubs."""
import importlib.util
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import voxmol
from support import ROOT, need


def readme_examples():
    """(code, what it prints) of each Python example of the README's Python section."""
    text = (ROOT / "README.md").read_text()
    section = text[text.index("\n## Python\n"):]
    section = section[: section.index("\n## ", 1)]
    return re.findall(r"```python\n(.*?)```\n\nprints\n\n```\n(.*?)```", section, re.S)


EXAMPLES = readme_examples()


def package_root():
    return str(Path(voxmol.__file__).resolve().parents[1])


def test_the_readme_has_its_examples():
    assert len(EXAMPLES) == 2


@pytest.mark.parametrize("code,printed", EXAMPLES, ids=["first", "second"])
def test_a_readme_example_prints_what_the_readme_says(code, printed, tmp_path):
    env = dict(os.environ, PYTHONPATH=package_root(), TMPDIR=str(tmp_path))
    before = sorted(p.name for p in ROOT.iterdir())
    run = subprocess.run([sys.executable, "-c", code], cwd=ROOT, env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout == printed
    assert sorted(p.name for p in ROOT.iterdir()) == before  # written into a temporary folder only


def run_mypy(python, files, env):
    return subprocess.run([python, "-m", "mypy", "--ignore-missing-imports", "--warn-unused-ignores",
                           "--no-incremental", *map(str, files)], env=env, capture_output=True, text=True)


def test_the_stubs_check_the_readme_and_the_tests_with_mypy(tmp_path):
    need("mypy")
    examples = []
    for n, (code, _) in enumerate(EXAMPLES):
        examples.append(tmp_path / f"example{n}.py")
        examples[-1].write_text(code)
    env = dict(os.environ, MYPYPATH=package_root())
    # The tests call some functions with wrong types on purpose, marked "type: ignore[arg-type]": with
    # --warn-unused-ignores the stubs must refuse each of them.
    run = run_mypy(sys.executable, [*examples, Path(__file__).parent], env)
    assert run.returncode == 0, run.stdout + run.stderr


def copy_sources(target):
    shutil.copytree(ROOT, target, ignore=shutil.ignore_patterns(".git", "build", "*.egg-info", "__pycache__"))


def test_pip_installs_into_a_fresh_virtual_environment(tmp_path):
    if "LD_PRELOAD" in os.environ:
        pytest.skip("a sanitizer build: pip's compilers would run with the sanitizer runtimes loaded")
    # Looked for, not imported: setuptools replaces distutils in the process that imports it.
    missing = [m for m in ("venv", "pip", "setuptools", "wheel") if importlib.util.find_spec(m) is None]
    if missing:
        message = f"{', '.join(missing)} not installed (Debian: python3-venv, python3-pip, python3-setuptools, python3-wheel)"
        if os.environ.get("VOXMOL_REQUIRE_INDEPENDENT") == "1":
            pytest.fail(message)
        pytest.skip(message)
    sources, env_dir = tmp_path / "voxmol", tmp_path / "env"
    copy_sources(sources)
    subprocess.run(["/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable, "-m", "venv",
                    "--system-site-packages", str(env_dir)], check=True)
    python = str(env_dir / "bin" / "python")
    clean = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}
    install = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", str(sources)],
                             env=clean, capture_output=True, text=True)
    assert install.returncode == 0, install.stdout[-3000:] + install.stderr[-3000:]
    check = (
        "import importlib.metadata, os, voxmol\n"
        "assert importlib.metadata.version('voxmol') == voxmol.__version__\n"
        "folder = os.path.dirname(voxmol.__file__)\n"
        "assert {'py.typed', '__init__.pyi'} <= set(os.listdir(folder)), os.listdir(folder)\n"
        "assert folder.startswith(os.path.realpath(os.environ['VIRTUAL_ENV'])) or folder.startswith(os.environ['VIRTUAL_ENV'])\n"
        "print(voxmol.read_grid('examples/ubiquitin-potential.dx.gz'))\n"
    )
    run = subprocess.run([python, "-c", check], cwd=ROOT, env=dict(clean, VIRTUAL_ENV=str(env_dir)),
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout == "<voxmol.Grid 33x33x33, OpenDX, text, gzip>\n"
    if EXAMPLES and shutil.which("mypy") is not None:
        example = tmp_path / "example.py"
        example.write_text(EXAMPLES[1][0])
        typed = run_mypy(python, [example], clean)
        assert typed.returncode == 0, typed.stdout + typed.stderr
