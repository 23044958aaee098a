#!/usr/bin/env bash
# voxmol against gemmi, GridDataFormats and its own I/O floor, each pair timed side by side in one run
# (interleaved rounds, medians, ratios, peak memory); see bench/pairs.py for what is measured. Brings the
# bench preset's converter and module up to date first, and prints a Markdown table.
#
# usage: bench/run_pairs.sh      environment: ONLY=structure,map,opendx,convert  ROUNDS=7
#                                 WORK=/dev/shm/voxmol-pairs  BUILD=<a build folder to time as it is,
#                                 default build/bench>  ATOMS=1000000  MAP_N=256  MAP46_N=226  DX_N=193
#                                 CONVERT_N=200
# Needs python3-gemmi, python3-griddataformats and python3-mrcfile. The inputs (about 0.5 GB) stay in
# WORK for the next run; remove the folder when done.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/bench}
if [ -z "${BUILD:-}" ]; then
    [ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset bench >/dev/null)
    (cd "$root" && cmake --build --preset bench --target voxmol voxmol_python >/dev/null)
fi
# Debian's interpreter, the one the module is built for (not whatever python3 comes first on PATH).
BUILD=$build exec /usr/bin/python3 "$root/bench/pairs.py"
