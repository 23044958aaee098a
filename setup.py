"""Builds the package voxmol: the extension voxmol._voxmol with CMake (the project's own build, tests off),
and the Python files of python/voxmol beside it. The version is the one CMakeLists.txt gives."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(voxmol VERSION ([0-9][0-9.]*)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DVOXMOL_BUILD_TESTS=OFF", "-DVOXMOL_BUILD_PYTHON=ON",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(min(os.cpu_count() or 1, 2)))
        subprocess.run(["cmake", "--build", str(build), "--target", "voxmol_python", "-j", jobs], check=True)
        built = next((build / "python" / "voxmol").glob("_voxmol*"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)


setup(
    version=version(),
    packages=["voxmol"],
    package_dir={"": "python"},
    package_data={"voxmol": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("voxmol._voxmol", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
