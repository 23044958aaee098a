#!/usr/bin/env bash
# Times the whole voxmol process on a float32 CCP4/MRC map of N^3 points against reading the file with
# cat, medians of several runs, side by side in one run:
#   empty window  voxmol map.mrc -t 1e30 1e30 -l 1 (no point written) against cat map.mrc > /dev/null;
#   some points   voxmol map.mrc -t 2 1e30 -l 1 (about 2% of the points) against cat plus writing a file
#                 of the output's size with dd bs=1M;
# for the map in the usual axis order (MAPC, MAPR, MAPS = 1 2 3: sections along Z, so every value moves)
# and with columns along Z (3 2 1: each line of the file is a line of the grid). Prints the medians,
# the ratios, voxmol's peak memory and the CPU seconds (user + system) of each, which a busy machine
# disturbs less than the wall time.
#
# usage: bench/run_ccp4.sh [N, default 256]
# environment: RUNS=7  WORK=/tmp/voxmol-bench-ccp4  VOXMOL=<binary> (default: build/bench/voxmol, built
#              if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-/tmp/voxmol-bench-ccp4}
runs=${RUNS:-7}
n=${1:-256}

voxmol=${VOXMOL:-$root/build/bench/voxmol}
if [ ! -x "$voxmol" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target voxmol >/dev/null
fi
mkdir -p "$work"

# The maps: normal values, 1 Å cells, written with mrcfile.
for order in 123 321; do
    [ -s "$work/map$order-$n.mrc" ] && continue
    /usr/bin/python3 - "$work/map$order-$n.mrc" "$n" "$order" <<'EOF'
import sys
import mrcfile
import numpy
path, n, order = sys.argv[1], int(sys.argv[2]), [int(c) for c in sys.argv[3]]
data = numpy.random.default_rng(1).normal(0, 1, (n, n, n)).astype(numpy.float32)
with mrcfile.new(path, overwrite=True) as m:
    m.set_data(data)
    m.header.mapc, m.header.mapr, m.header.maps = order
    m.voxel_size = 1.0
EOF
done

source "$root/bench/timing.sh"

cd "$work"
printf '%-6s %-7s %8s %9s %9s %9s %9s %11s %10s %8s\n' order window atoms voxmol_s floor_s vs_floor peak_MiB \
    voxmol_cpu floor_cpu cpu_vs
for order in 123 321; do
    map=map$order-$n.mrc
    cat "$map" >/dev/null  # in the page cache for every run
    for window in empty some; do
        case $window in
            empty) tmin=1e30 ;;
            some) tmin=2 ;;
        esac
        out=${map%.mrc}.pdb
        rm -f "$out"
        "$voxmol" "$map" -t "$tmin" 1e30 -l 1 >/dev/null
        atoms=$(($(grep -c '^ATOM' "$out" || true)))
        mib=$((($(stat -c %s "$out") + 1048575) / 1048576))
        : >t_vox; : >t_floor; : >m_vox; : >c_vox; : >c_floor
        for ((r = 0; r < runs; r++)); do
            rm -f "$out" floor.out
            if [ "$window" = empty ]; then
                read -r t m c < <(measure cat "$map")
            else
                read -r t m c < <(measure bash -c "cat '$map' >/dev/null && dd if=/dev/zero of=floor.out bs=1M count=$mib status=none")
            fi
            echo "$t" >>t_floor; echo "$c" >>c_floor
            rm -f floor.out
            read -r t m c < <(measure "$voxmol" "$map" -t "$tmin" 1e30 -l 1)
            echo "$t" >>t_vox; echo "$m" >>m_vox; echo "$c" >>c_vox
        done
        tv=$(median <t_vox); tf=$(median <t_floor); cv=$(median <c_vox); cf=$(median <c_floor)
        peak=$(sort -n m_vox | tail -n 1)
        awk -v o="$order" -v w="$window" -v atoms="$atoms" -v tv="$tv" -v tf="$tf" -v peak="$peak" -v cv="$cv" \
            -v cf="$cf" 'BEGIN {
            printf "%-6s %-7s %8d %9.3f %9.3f %8.2fx %9.1f %11.3f %10.3f %7.1fx\n", o, w, atoms, tv, tf, tv / tf,
                peak / 1024, cv, cf, cv / (cf > 0.001 ? cf : 0.001) }'
        rm -f "$out"
    done
done
