#!/usr/bin/env bash
# Times the whole voxmol process on generated N^3 grids, side by side in one run with
#   - baseline: bench/baseline.c, the conversion done with fgets/sscanf per value line and fprintf per
#     ATOM line;
#   - floor:    reading the input to /dev/null plus writing a file of the output's size with dd bs=1M.
# Prints the median wall time of each, the ratios, and voxmol's peak memory.
#
# usage: bench/run_convert.sh [N ...]          (default: 64 128 200 256)
# environment: RUNS=5  WINDOW=all|half|tenth (points in the window)  FORMAT=e|g ("%.6e" or "%g" values)
#              WORK=/tmp/voxmol-bench  VOXMOL=<binary> (default: build/bench/voxmol, built if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-/tmp/voxmol-bench}
runs=${RUNS:-5}
window=${WINDOW:-all}
format=${FORMAT:-e}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(64 128 200 256)
case $window in
    all) tmin=-1 tmax=1 ;;
    half) tmin=0 tmax=1 ;;
    tenth) tmin=0.56 tmax=1 ;;
    *) echo "WINDOW must be all, half or tenth" >&2; exit 2 ;;
esac

voxmol=${VOXMOL:-$root/build/bench/voxmol}
if [ ! -x "$voxmol" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target voxmol >/dev/null
fi
mkdir -p "$work"
cc -O2 -o "$work/make_grid" "$root/bench/make_grid.c" -lm
cc -O2 -o "$work/baseline" "$root/bench/baseline.c" -lm

source "$root/bench/timing.sh"

printf '%-5s %10s %10s %9s %10s %9s %9s %10s %11s %12s %10s\n' N points atoms voxmol_s baseline_s floor_s \
    speedup vs_floor peak_MiB bytes/point voxmol_cpu
for n in "${sizes[@]}"; do
    dir="$work/n$n-$format"
    mkdir -p "$dir"
    [ -s "$dir/grid.txt" ] || "$work/make_grid" "$n" "$format" >"$dir/grid.txt"
    cd "$dir"
    rm -f grid.pdb base.pdb floor.out
    "$voxmol" grid.txt -l 1 -t "$tmin" "$tmax" >/dev/null
    "$work/baseline" grid.txt base.pdb "$tmin" "$tmax" 1
    cmp -s grid.pdb base.pdb || { echo "N=$n: voxmol and the baseline wrote different files" >&2; exit 1; }
    out_bytes=$(stat -c %s grid.pdb)
    atoms=$(($(grep -c '^ATOM' grid.pdb || true)))
    mib=$(((out_bytes + 1048575) / 1048576))
    : >"$work/t_vox"; : >"$work/t_base"; : >"$work/t_floor"; : >"$work/m_vox"; : >"$work/c_vox"
    for ((r = 0; r < runs; r++)); do
        rm -f grid.pdb base.pdb floor.out
        read -r t m c < <(measure bash -c "cat grid.txt >/dev/null && dd if=/dev/zero of=floor.out bs=1M count=$mib status=none")
        echo "$t" >>"$work/t_floor"
        rm -f floor.out
        read -r t m c < <(measure "$voxmol" grid.txt -l 1 -t "$tmin" "$tmax")
        echo "$t" >>"$work/t_vox"; echo "$m" >>"$work/m_vox"; echo "$c" >>"$work/c_vox"
        rm -f grid.pdb
        read -r t m c < <(measure "$work/baseline" grid.txt base.pdb "$tmin" "$tmax" 1)
        echo "$t" >>"$work/t_base"
        rm -f base.pdb
    done
    tv=$(median <"$work/t_vox"); tb=$(median <"$work/t_base"); tf=$(median <"$work/t_floor")
    cv=$(median <"$work/c_vox")
    peak=$(sort -n "$work/m_vox" | tail -n 1)
    awk -v n="$n" -v atoms="$atoms" -v tv="$tv" -v tb="$tb" -v tf="$tf" -v peak="$peak" -v cv="$cv" 'BEGIN {
        points = n * n * n
        printf "%-5d %10d %10d %9.3f %10.3f %9.3f %8.1fx %9.2fx %11.1f %12.1f %10.2f\n", n, points, atoms, tv, tb,
            tf, tb / tv, tv / tf, peak / 1024, peak * 1024 / points, cv }'
    cd - >/dev/null
done
rm -f "$work"/grid.pdb
