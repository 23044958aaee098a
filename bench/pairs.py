"""voxmol against the reference each user compares it with, every pair timed side by side in one run:

  structure  voxmol.read_structure against gemmi.read_structure, on a PDB file of ATOMS atoms (default
             1,000,000; bench/make_big_pdb.sh replicating the test files that gemmi reads).
  map        voxmol.read_grid against gemmi.read_ccp4_map(path) followed by setup(nan), on float32
             CCP4/MRC maps of MAP_N^3 points (default 256: 67 MB) and MAP46_N^3 (default 226: 46 MB),
             normal random values, written with mrcfile in the usual axis order (MAPC, MAPR, MAPS = 1 2 3).
  opendx     voxmol.read_grid against GridDataFormats' gridData.Grid(path), on a text OpenDX file of
             DX_N^3 values (default 193: 103 MB), "%.6e" three to a line (APBS's layout; the values of
             bench/make_grid.c).
  convert    the command line `voxmol grid.txt -l 1 -t -1 1` (every point written) against its I/O floor:
             `cat grid.txt > /dev/null` and writing a file of the output's size with dd bs=1M, on
             bench/make_grid.c's CONVERT_N^3 grid (default 200, "%.6e" values), as bench/run_convert.sh.

The first three pairs are timed in this process: one call of each side first (untimed: the page cache,
lazy imports), then ROUNDS rounds (default 7) of A then B, each result dropped before the next call. The
convert pair times whole processes the same way, with written pages flushed before each run. Each figure
is a median; the ratio is the reference's median over voxmol's (above 1: voxmol is faster), for convert
voxmol's over the floor's (1 would be the floor itself).

Peak memory: each side once more in a fresh process (`python3 -c "import M; <the call>"`), its peak
resident set from the kernel (ru_maxrss), beside the same process that only imports the module. The
machine's load average is printed before and after: the machine may be shared, and the pairs are
interleaved so that a busy spell weighs on both sides alike.

Environment: ONLY=structure,map,opendx,convert  ROUNDS=7  WORK=/dev/shm/voxmol-pairs (inputs are made
there once and kept)  BUILD=build/bench (its python/ module and voxmol binary)  ATOMS  MAP_N  MAP46_N
DX_N  CONVERT_N. Run through bench/run_pairs.sh, which builds the bench preset first.
"""
import gc
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(os.environ.get("BUILD", os.path.join(ROOT, "build/bench")))
WORK = os.environ.get("WORK", "/dev/shm/voxmol-pairs" if os.path.isdir("/dev/shm") else "/tmp/voxmol-pairs")
ROUNDS = int(os.environ.get("ROUNDS", "7"))
ATOMS = int(os.environ.get("ATOMS", "1000000"))
MAP_N = int(os.environ.get("MAP_N", "256"))
MAP46_N = int(os.environ.get("MAP46_N", "226"))
DX_N = int(os.environ.get("DX_N", "193"))
CONVERT_N = int(os.environ.get("CONVERT_N", "200"))
MODULE_DIR = os.path.join(BUILD, "python")
VOXMOL = os.path.join(BUILD, "voxmol")
PYTHON = sys.executable
ENV = dict(os.environ, PYTHONPATH=MODULE_DIR)
sys.path.insert(0, MODULE_DIR)

# ---- Inputs ----------------------------------------------------------------------------------------------


def made(path, make):
    """`path`, made by make(part) under a temporary name first when it is not there yet."""
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        part = path + ".part"
        make(part)
        os.rename(part, path)
    return path


def tool(name):
    """bench/<name>.c compiled into WORK."""
    binary = os.path.join(WORK, name)
    if not os.path.exists(binary):
        subprocess.run(["cc", "-O2", "-o", binary, os.path.join(ROOT, f"bench/{name}.c"), "-lm"], check=True)
    return binary


def big_pdb():
    def make(part):
        sources = []
        for f in sorted(os.listdir(os.path.join(ROOT, "tests/data/pdb"))):
            path = os.path.join(ROOT, "tests/data/pdb", f)
            check = "import gemmi, sys; gemmi.read_structure(sys.argv[1])"
            read = subprocess.run([PYTHON, "-c", check, path], capture_output=True)
            if f.endswith(".pdb") and read.returncode == 0:
                sources.append(path)
        subprocess.run(["bash", os.path.join(ROOT, "bench/make_big_pdb.sh"), part, str(ATOMS), *sources],
                       check=True, stdout=subprocess.DEVNULL)

    return made(os.path.join(WORK, f"big{ATOMS}.pdb"), make)


def ccp4_map(n):
    def make(part):
        import mrcfile
        import numpy

        data = numpy.random.default_rng(1).normal(0, 1, (n, n, n)).astype(numpy.float32)
        with mrcfile.new(part, overwrite=True) as m:
            m.set_data(data)
            m.voxel_size = 1.0

    return made(os.path.join(WORK, f"map{n}.mrc"), make)


def native_grid(n):
    def make(part):
        with open(part, "w") as f:
            subprocess.run([tool("make_grid"), str(n), "e"], stdout=f, check=True)

    return made(os.path.join(WORK, f"grid{n}", "grid.txt"), make)


def opendx_grid(n):
    def make(part):
        with open(native_grid(n)) as f:
            f.readline()
            low = [float(v) for v in f.readline().split()[:6]]
            values = [line.rstrip("\n") for line in f]
        h = [(low[3 + d] - low[d]) / (n - 1) for d in range(3)]
        with open(part, "w") as out:
            out.write(f"# benchmark grid\nobject 1 class gridpositions counts {n} {n} {n}\n")
            out.write("origin %.17g %.17g %.17g\n" % tuple(low[:3]))
            for d in range(3):
                out.write("delta %.17g %.17g %.17g\n" % tuple(h[d] if e == d else 0.0 for e in range(3)))
            out.write(f"object 2 class gridconnections counts {n} {n} {n}\n")
            out.write(f"object 3 class array type double rank 0 items {n ** 3} data follows\n")
            for i in range(0, len(values), 3):
                out.write(" ".join(values[i:i + 3]) + "\n")
            out.write('attribute "dep" string "positions"\nobject "grid" class field\n'
                      'component "positions" value 1\ncomponent "connections" value 2\n'
                      'component "data" value 3\n')

    return made(os.path.join(WORK, f"grid{n}.dx"), make)


# ---- Timing ----------------------------------------------------------------------------------------------


def timed(call):
    """Seconds one call takes; its result is dropped (and collected) before the next call."""
    t = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - t
    del result
    gc.collect()
    return seconds


def in_process(voxmol_call, reference_call):
    """Medians of voxmol_call and reference_call over ROUNDS rounds, the two taking turns."""
    timed(voxmol_call)
    timed(reference_call)
    ours, theirs = [], []
    for _ in range(ROUNDS):
        ours.append(timed(voxmol_call))
        theirs.append(timed(reference_call))
    return statistics.median(ours), statistics.median(theirs)


def process(args, cwd=WORK):
    """Wall seconds, CPU seconds (user + system) and peak resident MiB of one process; output dropped. The
    process is started through /usr/bin/time: a child forked from this (large) process straight away would
    count this process's pages in its own peak."""
    usage = os.path.join(WORK, "usage")
    t = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", usage, *args], cwd=cwd, env=ENV, check=True,
                   stdout=subprocess.DEVNULL)
    seconds = time.perf_counter() - t
    with open(usage) as f:
        kib, user, system = f.read().split()[-3:]
    return seconds, float(user) + float(system), int(kib) / 1024


def peak(module, call):
    """Peak MiB of a fresh process that imports `module` and makes `call`, and of one that only imports."""
    return (process([PYTHON, "-c", f"import {module}; {call}"])[2],
            process([PYTHON, "-c", f"import {module}"])[2])


# ---- Pairs -----------------------------------------------------------------------------------------------


def pair_structure():
    import gemmi

    import voxmol

    path = big_pdb()
    ours, theirs = in_process(lambda: voxmol.read_structure(path), lambda: gemmi.read_structure(path))
    return [(f"read_structure, {ATOMS:,} atoms, {os.path.getsize(path) / 1e6:.0f} MB PDB",
             ours, f"gemmi.read_structure {gemmi.__version__}", theirs,
             peak("voxmol", f"voxmol.read_structure({path!r})"),
             peak("gemmi", f"gemmi.read_structure({path!r})"))]


def pair_map():
    import gemmi

    import voxmol

    def gemmi_map(path):
        m = gemmi.read_ccp4_map(path)
        m.setup(float("nan"))
        return m

    rows = []
    for n in (MAP_N, MAP46_N):
        path = ccp4_map(n)
        ours, theirs = in_process(lambda: voxmol.read_grid(path), lambda: gemmi_map(path))
        rows.append((f"read_grid, {n}^3 CCP4 map, float32, {os.path.getsize(path) / 1e6:.0f} MB", ours,
                     "gemmi.read_ccp4_map + setup", theirs, peak("voxmol", f"voxmol.read_grid({path!r})"),
                     peak("gemmi", f"m = gemmi.read_ccp4_map({path!r}); m.setup(float('nan'))")))
    return rows


def pair_opendx():
    import gridData

    import voxmol

    path = opendx_grid(DX_N)
    ours, theirs = in_process(lambda: voxmol.read_grid(path), lambda: gridData.Grid(path))
    return [(f"read_grid, {DX_N}^3 OpenDX, text, {os.path.getsize(path) / 1e6:.0f} MB", ours,
             f"gridData.Grid {gridData.__version__}", theirs, peak("voxmol", f"voxmol.read_grid({path!r})"),
             peak("gridData", f"gridData.Grid({path!r})"))]


def pair_convert():
    grid = native_grid(CONVERT_N)
    folder = os.path.dirname(grid)
    out = os.path.join(folder, "grid.pdb")
    floor_out = os.path.join(folder, "floor.out")
    command = [VOXMOL, grid, "-l", "1", "-t", "-1", "1"]
    process(command, folder)
    records = sum(1 for line in open(out, "rb") if line.startswith(b"ATOM"))
    mib = (os.path.getsize(out) + (1 << 20) - 1) >> 20
    floor = ["bash", "-c",
             f"cat {grid} >/dev/null && dd if=/dev/zero of={floor_out} bs=1M count={mib} status=none"]

    def run(args, written):
        if os.path.exists(written):
            os.remove(written)
        os.sync()  # no run pays for another's output
        return process(args, folder)

    ours, theirs = [], []
    for _ in range(ROUNDS):
        ours.append(run(command, out))
        theirs.append(run(floor, floor_out))
    for f in (out, floor_out):
        if os.path.exists(f):
            os.remove(f)
    median = lambda runs, k: statistics.median(r[k] for r in runs)  # noqa: E731
    return [(f"converter, {CONVERT_N}^3 grid ({records:,} records written; CPU {median(ours, 1):.3f} s)",
             median(ours, 0), "I/O floor (cat + dd)", median(theirs, 0),
             (max(r[2] for r in ours), None), (max(r[2] for r in theirs), None))]


def load():
    return "%.2f %.2f %.2f" % os.getloadavg()


def main():
    os.makedirs(WORK, exist_ok=True)
    chosen = os.environ.get("ONLY", "structure,map,opendx,convert").split(",")
    print(f"{os.cpu_count()} CPUs, load average {load()} at the start; "
          f"medians of {ROUNDS} interleaved rounds;")
    print("peak: whole process, MiB (after the slash: the same process that only imports the module)\n")
    print("| work | voxmol s | reference | reference s | ratio | voxmol peak | reference peak |")
    print("|---|---:|---|---:|---:|---:|---:|")
    for name in chosen:
        for what, ours, reference, theirs, our_peak, their_peak in globals()["pair_" + name]():
            ratio = ours / theirs if name == "convert" else theirs / ours
            shown = lambda p: f"{p[0]:.0f}" + ("" if p[1] is None else f" / {p[1]:.0f}")  # noqa: E731
            print(f"| {what} | {ours:.3f} | {reference} | {theirs:.3f} | {ratio:.2f}x | {shown(our_peak)} | "
                  f"{shown(their_peak)} |", flush=True)
    print(f"\nload average {load()} at the end. ratio: reference / voxmol (above 1, voxmol is faster); "
          "converter: voxmol / its floor (1 is the floor)")


if __name__ == "__main__":
    main()
