#!/usr/bin/env bash
# Times a PDB file to a loaded structure as a whole process, side by side in one run:
#   - toolkit: bench/pdb_load_file.cpp (pdb_lines_from_file, make_pdb_store, load_pdb; all models, ATOM
#     and HETATM records; with DIRECT=1 the direct load, load_pdb_file, instead);
#   - gemmi:   python3 -c "import gemmi; gemmi.read_structure(F)", Python's start-up included;
#   - start:   python3 -c "import gemmi" alone, Python's and the module's start-up, to read the gemmi
#     column with and without it.
# ratio is gemmi_s / toolkit_s; ratio_ns leaves Python's start-up out: (gemmi_s - start_s) / toolkit_s.
# Inputs: a generated file of N atoms (bench/make_big_pdb.sh, replicating the test files that gemmi reads)
# and the TOP largest real files of DATA (the shared data folder when there is one, else the same files
# under tests/data/pdb), or the files named on the command line.
# Every file is read once by each before the timed runs, so all come from the page cache.
# Prints, per file, the median wall time of each, the ratios, the median CPU time (user + system), the
# largest peak resident memory of all runs and the median minor page faults; then the toolkit's own step
# times (medians, from pdb_load_file -t). The machine is shared: the CPU times show how much of a wall
# time was waiting for it.
#
# usage: bench/run_load.sh [file ...]
# PAUSE=seconds waits before each timed run. Without it a run takes the memory the run before it gave
# back moments ago; a virtual machine that returns freed memory to its host after a second or two (free
# page reporting) makes a run after a pause pay for memory the host must fill in again, as a one-off run
# meets it, and 2 MiB pages, taken from whole free blocks, meet that more often than small pages do.
# environment: RUNS=7  PAUSE=0  N=1000000  TOP=3  DATA=<folder>  WORK=/tmp/voxmol-load-bench  DIRECT=0
#              PYTHON=/usr/bin/python3  LOADER=<binary> (default: build/bench/bench/pdb_load_file, brought
#              up to date with the bench preset first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
pause=${PAUSE:-0}
atoms=${N:-1000000}
top=${TOP:-3}
data=${DATA:-/work/shared/data/pdb}
[ -d "$data" ] || data=$root/tests/data/pdb
work=${WORK:-/tmp/voxmol-load-bench}
python=${PYTHON:-/usr/bin/python3}
mkdir -p "$work"

if [ -z "${LOADER:-}" ]; then
    [ -f "$root/build/bench/CMakeCache.txt" ] || (cd "$root" && cmake --preset bench >/dev/null)
    (cd "$root" && cmake --build --preset bench --target pdb_load_file >/dev/null)
fi
loader=${LOADER:-$root/build/bench/bench/pdb_load_file}
direct=()
[ "${DIRECT:-0}" = 1 ] && direct=(-d)
gemmi_reads() { "$python" -c 'import gemmi, sys; gemmi.read_structure(sys.argv[1])' "$1" >/dev/null 2>&1; }

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
    big=$work/big-$atoms.pdb
    if [ ! -s "$big" ]; then
        sources=()
        for f in "$root"/tests/data/pdb/*.pdb; do
            if gemmi_reads "$f"; then sources+=("$f"); else echo "not replicated (gemmi refuses it): ${f##*/}"; fi
        done
        "$root/bench/make_big_pdb.sh" "$big" "$atoms" "${sources[@]}" >/dev/null
    fi
    files=("$big")
    while IFS= read -r f; do files+=("$f"); done < <(find "$data" -maxdepth 1 -name '*.pdb' -printf '%s %p\n' | sort -rn | head -n "$top" | cut -d' ' -f2-)
fi

source "$root/bench/timing.sh"
# This script's own measure: a pause instead of a write-back first, and the page faults too.
measure() {
    local t0 t1
    sleep "$pause"
    t0=$(now)
    /usr/bin/time -f "%M %R %U %S" -o "$work/usage" "$@" >/dev/null 2>>"$work/steps"
    t1=$(now)
    awk -v a="$t0" -v b="$t1" '{ m = $1; f = $2; c = $3 + $4 } END { printf "%.4f %d %d %.2f\n", b - a, m, f, c }' \
        "$work/usage"
}
col() { awk -v c="$1" '{ print $c }' "$2"; }

printf '%-20s %8s %9s %8s %8s %6s %8s %7s %7s %7s %7s %9s %9s\n' file atoms toolkit_s gemmi_s start_s ratio \
    ratio_ns tk_cpu gm_cpu tk_MiB gm_MiB tk_faults gm_faults
: >"$work/steps_all"
for f in "${files[@]}"; do
    name=${f##*/}
    if ! gemmi_reads "$f"; then echo "$name: gemmi refuses the file, skipped"; continue; fi
    read -r _ _ count < <("$loader" "$f" "${direct[@]}")
    cat "$f" >/dev/null
    : >"$work/tk"; : >"$work/gm"; : >"$work/st"; : >"$work/steps"
    for ((r = 0; r < runs; r++)); do
        measure "$loader" "$f" -t "${direct[@]}" >>"$work/tk"
        measure "$python" -c 'import gemmi, sys; gemmi.read_structure(sys.argv[1])' "$f" >>"$work/gm"
        measure "$python" -c 'import gemmi' >>"$work/st"
    done
    tk=$(col 1 "$work/tk" | median); gm=$(col 1 "$work/gm" | median); st=$(col 1 "$work/st" | median)
    tk_m=$(col 2 "$work/tk" | sort -n | tail -n 1); gm_m=$(col 2 "$work/gm" | sort -n | tail -n 1)
    tk_f=$(col 3 "$work/tk" | median); gm_f=$(col 3 "$work/gm" | median)
    tk_c=$(col 4 "$work/tk" | median); gm_c=$(col 4 "$work/gm" | median)
    awk -v n="$name" -v a="$count" -v tk="$tk" -v gm="$gm" -v st="$st" -v tkm="$tk_m" -v gmm="$gm_m" \
        -v tkf="$tk_f" -v gmf="$gm_f" -v tkc="$tk_c" -v gmc="$gm_c" 'BEGIN {
        printf "%-20s %8d %9.3f %8.3f %8.3f %6.2f %8.2f %7.2f %7.2f %7.1f %7.1f %9d %9d\n", n, a, tk, gm, st,
            gm / tk, (gm - st) / tk, tkc, gmc, tkm / 1024, gmm / 1024, tkf, gmf
    }'
    # The toolkit's step times: medians over the runs of each step.
    for i in 2 5 8 11; do col "$i" "$work/steps" | median; done | paste -sd ' ' |
        awk -v n="$name" '{ printf "  %s steps (ms, medians): lines %.1f  store %.1f  load %.1f  total %.1f\n", n, $1, $2, $3, $4 }' \
            >>"$work/steps_all"
done
cat "$work/steps_all"
