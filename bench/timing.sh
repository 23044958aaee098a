# Whole-process timing for the benchmark scripts, sourced by them (they set $work first).
now() { date +%s.%N; }
# Runs a command in the current folder after writing back the dirty pages of earlier runs, so that no
# run pays for another's output; prints its wall seconds, peak resident memory in kB and CPU seconds.
measure() {
    local t0 t1
    sync
    t0=$(now)
    /usr/bin/time -f "%M %U %S" -o "$work/rss" "$@" >/dev/null
    t1=$(now)
    awk -v a="$t0" -v b="$t1" '{ m = $1; c = $2 + $3 } END { printf "%.4f %d %.3f\n", b - a, m, c }' "$work/rss"
}
# The median of the numbers on standard input, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
