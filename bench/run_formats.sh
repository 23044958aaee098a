#!/usr/bin/env bash
# Times the whole voxmol process on the same grid in each of the formats that came after CCP4/MRC, medians
# of several runs, side by side in one run, with the empty window (-t 1e30 1e30 -l 1: no point written):
#   binary formats (gOpenMol plt, DelPhi phi, binary UHBD, DSN6) on an N^3 grid, against cat of the
#                  same file (the floor: reading its bytes);
#   text formats (XPLOR/CNS, Situs, UHBD text) on an M^3 grid, against voxmol's own text format holding
#                  the same values (the speed per value it must at least reach);
# and the CCP4 map compressed with bzip2 and xz against bzcat and xzcat. Each pair runs in turn; prints
# the medians and the median of the per-pair ratios.
#
# usage: bench/run_formats.sh [N, default 256] [M, default 128]
# environment: RUNS=5  WORK=/tmp/voxmol-bench-formats  VOXMOL=<binary> (default: build/bench/voxmol)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-/tmp/voxmol-bench-formats}
runs=${RUNS:-5}
n=${1:-256}
m=${2:-128}

voxmol=${VOXMOL:-$root/build/bench/voxmol}
if [ ! -x "$voxmol" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target voxmol >/dev/null
fi
mkdir -p "$work"

/usr/bin/python3 - "$work" "$n" "$m" <<'PY'
import bz2, lzma, os, struct, sys
import numpy
work, n, m = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def path(name):
    return os.path.join(work, name)
def rec(b):
    k = struct.pack("<i", len(b))
    return k + b + k
rng = numpy.random.default_rng(1)
if not os.path.exists(path("grid.plt")):
    v = rng.normal(0, 1, (n, n, n)).astype(numpy.float32)  # [k, j, i]: x fastest in memory
    with open(path("grid.plt"), "wb") as f:
        f.write(struct.pack("<5i6f", 3, 200, n, n, n, 0, n - 1, 0, n - 1, 0, n - 1) + v.tobytes())
    with open(path("grid.phi"), "wb") as f:
        f.write(rec(b"now starting phimap ") + rec(b" " * 70) + rec(v.tobytes()) + rec(b" end of phimap  ")
                + rec(struct.pack("<4f", 1.0, 0, 0, 0)))
    with open(path("grid.grd"), "wb") as f:
        f.write(rec(b"bench".ljust(72) + struct.pack("<2f5i3i4f6f2i", 1, 0, 0, 0, n, 1, n, n, n, n, 1, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 0, 0, 0)))
        for k in range(n):
            f.write(rec(struct.pack("<3i", k + 1, n, n)) + rec(v[k].tobytes()))
    b = ((n + 7) // 8)
    words = [0, 0, 0, n, n, n, n, n, n, 80 * n, 80 * n, 80 * n, 7200, 7200, 7200, 100, 0, 80, 100]
    with open(path("grid.dsn6"), "wb") as f:
        f.write(struct.pack(">19h", *words).ljust(512, b"\0"))
        f.write(rng.integers(0, 256, size=b * b * b * 512, dtype=numpy.uint8).tobytes())
    head = bytearray(1024)
    struct.pack_into("<10i6f3i", head, 0, n, n, n, 2, 0, 0, 0, n, n, n, n, n, n, 90, 90, 90, 1, 2, 3)
    head[208:212] = b"MAP "
    head[212:214] = b"\x44\x41"
    raw = bytes(head) + v.tobytes()
    open(path("grid.mrc.bz2"), "wb").write(bz2.compress(raw, 6))
    open(path("grid.mrc.xz"), "wb").write(lzma.compress(raw, preset=3))
if not os.path.exists(path("grid.situs")):
    t = rng.normal(0, 1, (m, m, m))  # [k, j, i]
    flat = ["%.6f" % x for x in t.ravel()]
    with open(path("grid.situs"), "w") as f:
        f.write("1.0 0 0 0 %d %d %d\n\n" % (m, m, m))
        for s in range(0, len(flat), 10):
            f.write(" ".join(flat[s:s + 10]) + "\n")
    with open(path("grid.xplor"), "w") as f:
        f.write("\n       1 !NTITLE\n bench\n" + "%8d%8d%8d" % (m, 0, m - 1) * 3 + "\n")
        f.write("%12.5E%12.5E%12.5E%12.5E%12.5E%12.5E\nZYX\n" % (m, m, m, 90, 90, 90))
        for k in range(m):
            f.write("%8d\n" % k)
            sec = ["%12.5E" % x for x in t[k].ravel()]
            for s in range(0, len(sec), 6):
                f.write("".join(sec[s:s + 6]) + "\n")
        f.write("   -9999\n")
    with open(path("grid.uhbd"), "w") as f:
        f.write("%72s\n" % "bench")
        f.write("%12.5e%12.5e%7d%7d%7d%7d%7d\n" % (1, 0, -1, 0, m, 1, m))
        f.write("%7d%7d%7d%12.5e%12.5e%12.5e%12.5e\n" % (m, m, m, 1, -1, -1, -1))
        f.write("%12.5e%12.5e%12.5e%12.5e\n%12.5e%12.5e%7d%7d" % (0, 0, 0, 0, 0, 0, 0, 0))
        for k in range(m):
            f.write("\n%7d%7d%7d\n" % (k + 1, m, m))
            sec = [" %12.5e" % x for x in t[k].ravel()]
            f.write("\n".join("".join(sec[s:s + 6]) for s in range(0, len(sec), 6)))
    walk = t.transpose(2, 1, 0).ravel()  # voxmol's own order: z fastest
    with open(path("grid.txt"), "w") as f:
        f.write("0 0 0 %d %d %d 0 0 %d %d %d 0 0 0 0 0 0\n" % (m - 1, m - 1, m - 1, m, m, m))
        f.write("\n".join("%.6f" % x for x in walk) + "\n")
PY

source "$root/bench/timing.sh"
cd "$work"
# Runs the base and voxmol in turn, base voxmol base voxmol ..., so that a drift of the machine's speed
# falls on both; prints the median wall seconds of each and the median of the per-pair ratios.
pair_of() {
    local r tb tv
    : >t
    for ((r = 0; r < runs; r++)); do
        read -r tb _ _ < <(measure "${base[@]}")
        read -r tv _ _ < <(measure "$voxmol" "$f" -t 1e30 1e30 -l 1)
        echo "$tb $tv" >>t
    done
    awk '{ b[NR] = $1; v[NR] = $2; q[NR] = $2 / $1 }
        function med(x, n,   i, j, t) {
            for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (x[j] < x[i]) { t = x[i]; x[i] = x[j]; x[j] = t }
            return (n % 2) ? x[(n + 1) / 2] : (x[n / 2] + x[n / 2 + 1]) / 2
        }
        END { print med(v, NR), med(b, NR), med(q, NR) }' t
}
printf '%-14s %10s %10s %9s   %s\n' file voxmol_s base_s ratio base
for f in grid.plt grid.phi grid.grd grid.dsn6 grid.mrc.bz2 grid.mrc.xz grid.situs grid.xplor grid.uhbd; do
    cat "$f" >/dev/null
    case $f in
        *.bz2) base=(bzcat "$f") ;;
        *.xz) base=(xzcat "$f") ;;
        *.situs | *.xplor | *.uhbd) base=("$voxmol" grid.txt -t 1e30 1e30 -l 1) ;;
        *) base=(cat "$f") ;;
    esac
    read -r tv tb ratio < <(pair_of)
    awk -v f="$f" -v tv="$tv" -v tb="$tb" -v q="$ratio" -v b="${base[0]##*/} ${base[1]}" \
        'BEGIN { printf "%-14s %10.3f %10.3f %8.2fx   %s\n", f, tv, tb, q, b }'
    rm -f grid.pdb grid.mrc.pdb
done
