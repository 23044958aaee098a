"""Fixtures shared by the module's tests."""
import shutil
from pathlib import Path

import pytest


@pytest.fixture(scope="session")
def grid_files(tmp_path_factory):
    """The grid cases of gridcases.py, each made on first use: name -> gridcases.Case."""
    import gridcases

    folder = tmp_path_factory.mktemp("grids")
    made = {}

    def get(name):
        if name not in made:
            made[name] = gridcases.make(name, folder)
        return made[name]

    return get


@pytest.fixture
def copy_to(tmp_path):
    """Copies a file into the test's own folder, so that a run's output lands beside it there alone."""

    def copy(path, name=None):
        target = tmp_path / (name or Path(path).name)
        shutil.copy(path, target)
        return target

    return copy
