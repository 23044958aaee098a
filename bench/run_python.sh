#!/usr/bin/env bash
# Times the Python module against the command line (read_grid, write_pdb) and gemmi (read_structure);
# see bench/run_python.py for what is measured. Brings the bench preset's converter and module up to date
# first.
#
# usage: bench/run_python.sh      environment: RUNS=5  WORK=/tmp/voxmol-bench-python  BUILD=<a build folder
#                                  to time as it is, default build/bench>  READ_N=256  WRITE_N=200  ATOMS=1000000
#                                  ONLY=read,write,load  WRITE_WORK=/dev/shm/voxmol-bench-python
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/bench}
if [ -z "${BUILD:-}" ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake --preset bench >/dev/null
    cmake --build --preset bench --target voxmol voxmol_python >/dev/null
fi
# Debian's interpreter, the one the module is built for (not whatever python3 comes first on PATH).
BUILD=$build exec /usr/bin/python3 "$root/bench/run_python.py"
