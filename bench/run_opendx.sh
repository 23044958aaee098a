#!/usr/bin/env bash
# Times voxmol reading one N^3 grid (default 200) in three files that hold the same values:
#   native  voxmol's own text format, one "%.6e" value a line (bench/make_grid.c);
#   dx      text OpenDX in APBS's layout: the same value texts, three to a line;
#   dxbin   binary OpenDX, lsb doubles (for comparison: no number text to scan).
# The whole process is timed with hyperfine (median of RUNS runs after a warm-up); the threshold window
# holds no value, so no record is written and the time is the read (plus one walk over the values).
# Prints the medians and the nanoseconds per value of each, and the ratio dx / native.
#
# usage: bench/run_opendx.sh [N]      environment: RUNS=7  WORK=/tmp/voxmol-bench-opendx
#                                     VOXMOL=<binary> (default: build/bench/voxmol, built if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-200}
runs=${RUNS:-7}
work=${WORK:-/tmp/voxmol-bench-opendx}
voxmol=${VOXMOL:-$root/build/bench/voxmol}
if [ ! -x "$voxmol" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target voxmol >/dev/null
fi
command -v hyperfine >/dev/null || { echo "hyperfine is needed (Debian: hyperfine)" >&2; exit 2; }
mkdir -p "$work"
cc -O2 -o "$work/make_grid" "$root/bench/make_grid.c" -lm

# The OpenDX files from the native one: its header's bounds give the origin and the spacing, its value
# lines the values, copied as text (three to a line) and converted once with strtod for the binary file.
cat >"$work/to_opendx.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char** argv) {
    FILE* in = fopen(argv[1], "r");
    FILE* text = fopen(argv[2], "w");
    FILE* bin = fopen(argv[3], "wb");
    static char line[256];
    double lo[3], hi[3];
    int nv, nc, n[3];
    if (!in || !text || !bin || !fgets(line, sizeof line, in) || !fgets(line, sizeof line, in)) return 1;
    if (sscanf(line, "%lf %lf %lf %lf %lf %lf %d %d %d %d %d", &lo[0], &lo[1], &lo[2], &hi[0], &hi[1], &hi[2],
               &nv, &nc, &n[0], &n[1], &n[2]) != 11) return 1;
    const long points = (long)n[0] * n[1] * n[2];
    for (int f = 0; f < 2; ++f) {
        FILE* out = f ? bin : text;
        fprintf(out, "# benchmark grid\nobject 1 class gridpositions counts %d %d %d\n", n[0], n[1], n[2]);
        fprintf(out, "origin %.17g %.17g %.17g\n", lo[0], lo[1], lo[2]);
        for (int d = 0; d < 3; ++d)
            fprintf(out, "delta %.17g %.17g %.17g\n", d == 0 ? (hi[0] - lo[0]) / (n[0] - 1) : 0.0,
                    d == 1 ? (hi[1] - lo[1]) / (n[1] - 1) : 0.0, d == 2 ? (hi[2] - lo[2]) / (n[2] - 1) : 0.0);
        fprintf(out, "object 2 class gridconnections counts %d %d %d\n", n[0], n[1], n[2]);
        fprintf(out, "object 3 class array type double rank 0 items %ld %sdata follows\n", points,
                f ? "lsb binary " : "");
    }
    for (long i = 0; i < points; ++i) {
        if (!fgets(line, sizeof line, in)) return 1;
        char* end = line;
        while (*end && *end != '\n') ++end;
        *end = '\0';
        fprintf(text, "%s%c", line, i % 3 == 2 ? '\n' : ' ');
        const double v = strtod(line, NULL);
        fwrite(&v, sizeof v, 1, bin);
    }
    const char* tail = "\nattribute \"dep\" string \"positions\"\nobject \"grid\" class field\n"
                       "component \"positions\" value 1\ncomponent \"connections\" value 2\n"
                       "component \"data\" value 3\n";
    fputs(tail, text);
    fputs(tail, bin);
    return fclose(text) || fclose(bin);
}
EOF
cc -O2 -o "$work/to_opendx" "$work/to_opendx.c"

dir="$work/n$n"
mkdir -p "$dir"
cd "$dir"
[ -s grid.txt ] || "$work/make_grid" "$n" e >grid.txt
[ -s grid.dx ] && [ -s gridbin.dx ] || "$work/to_opendx" grid.txt grid.dx gridbin.dx
# The three files must give the same grid: the same records for a window that holds every value.
for f in grid.txt grid.dx gridbin.dx; do
    "$voxmol" "$f" -l 1 -t -1 1 -r 997 >/dev/null
    mv "${f%.*}.pdb" "$f.pdb"
done
cmp -s grid.txt.pdb grid.dx.pdb && cmp -s grid.txt.pdb gridbin.dx.pdb ||
    { echo "the three files gave different records" >&2; exit 1; }
rm -f ./*.pdb

hyperfine --style none --warmup 1 --runs "$runs" --export-json times.json \
    -n native "$voxmol grid.txt -l 1 -t 2 3" \
    -n dx "$voxmol grid.dx -l 1 -t 2 3" \
    -n dxbin "$voxmol gridbin.dx -l 1 -t 2 3" >/dev/null
rm -f grid.pdb gridbin.pdb
python3 - "$n" times.json <<'EOF'
import json, sys
n = int(sys.argv[1])
points = n ** 3
results = {r["command"]: r for r in json.load(open(sys.argv[2]))["results"]}
print(f"N={n}: {points} values, median of {len(results['native']['times'])} runs")
for name in ("native", "dx", "dxbin"):
    t = results[name]["median"]
    print(f"  {name:7s} {t:8.3f} s  {t / points * 1e9:7.1f} ns/value")
print(f"  dx / native: {results['dx']['median'] / results['native']['median']:.2f}")
EOF
