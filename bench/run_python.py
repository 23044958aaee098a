"""Times the Python module against what it wraps, each pair measured side by side in one run:

  read   voxmol.read_grid of an N^3 grid in voxmol's text format (READ_N, default 256) against the command
         line's read, `voxmol g.txt -t 2 3 -l 1` (an empty window: the read, then a walk that writes no
         record). The Python side is the process `python3 -c "import voxmol; voxmol.read_grid(...)"` less
         Python's start-up with the import, `python3 -c "import voxmol"`, measured in the same run.
  write  voxmol.write_pdb of a WRITE_N^3 grid (default 200: 8,000,000 points, all in the window), timed
         inside Python around the call, against the command line's writing time: its run with the full
         window less its run with an empty one. Both files must be the same, byte for byte. The grid is a
         CCP4/MRC map (made with mrcfile): for voxmol's own text format the command line writes while it
         reads, so its writing time cannot be told apart from its reading. The map and both outputs lie
         in WRITE_WORK (default /dev/shm/voxmol-bench-python, memory): on this machine's disk the time of
         writing 632 MB is mostly the disk's, and varies from run to run by more than the comparison.
         The empty window's run also walks the values, which the writing time then leaves out.
  load   voxmol.read_structure of a PDB file of ATOMS atoms (default 1,000,000; bench/make_big_pdb.sh, its
         lines cut after column 78) against gemmi.read_structure of the same file, alternating in one
         process.

ONLY=read,write,load picks the pairs. Each figure is the median of RUNS runs (default 5), the two sides of a
pair taking turns; written pages are flushed to disk before each timed run, so no run pays for another's
output. Run through bench/run_python.sh, which builds the bench preset.
"""
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("BUILD", os.path.join(ROOT, "build/bench"))
WORK = os.environ.get("WORK", "/tmp/voxmol-bench-python")
IN_MEMORY = "/dev/shm/voxmol-bench-python" if os.path.isdir("/dev/shm") else WORK
WRITE_WORK = os.environ.get("WRITE_WORK", IN_MEMORY)
RUNS = int(os.environ.get("RUNS", "5"))
READ_N = int(os.environ.get("READ_N", "256"))
WRITE_N = int(os.environ.get("WRITE_N", "200"))
ATOMS = int(os.environ.get("ATOMS", "1000000"))
VOXMOL = os.path.join(BUILD, "voxmol")
PYTHON = sys.executable
ENV = dict(os.environ, PYTHONPATH=os.path.join(BUILD, "python"))
sys.path.insert(0, ENV["PYTHONPATH"])


def wall(args, cwd=WORK):
    """Seconds one process takes, its output dropped; pages written before are flushed first."""
    os.sync()
    t = time.perf_counter()
    subprocess.run(args, cwd=cwd, env=ENV, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - t


def interleaved(*measures):
    """The median of each measure over RUNS rounds, the measures taking turns within each round, so that
    a slower spell of a shared machine weighs on all of them alike."""
    times = [[] for _ in measures]
    for _ in range(RUNS):
        for t, measure in zip(times, measures):
            t.append(measure())
    return [statistics.median(t) for t in times]


def grid(n):
    path = os.path.join(WORK, f"grid{n}.txt")
    if not os.path.exists(path):
        make = os.path.join(WORK, "make_grid")
        subprocess.run(["cc", "-O2", "-o", make, os.path.join(ROOT, "bench/make_grid.c"), "-lm"], check=True)
        with open(path + ".part", "w") as f:
            subprocess.run([make, str(n)], stdout=f, check=True)
        os.rename(path + ".part", path)
    return path


def bench_read():
    path = grid(READ_N)
    code = f"import voxmol; voxmol.read_grid({path!r})"
    startup, cli, module = interleaved(lambda: wall([PYTHON, "-c", "import voxmol"]),
                                       lambda: wall([VOXMOL, path, "-t", "2", "3", "-l", "1"]),
                                       lambda: wall([PYTHON, "-c", code]))
    module -= startup
    return [
        (f"read {READ_N}^3: voxmol {os.path.basename(path)} -t 2 3 -l 1", cli, None),
        ("read: python3 -c 'import voxmol' (start-up, subtracted below)", startup, None),
        ("read: read_grid, less the start-up", module, module / cli),
    ]


def mrc_grid(n):
    """The field of make_grid.c as a single-precision CCP4/MRC map."""
    path = os.path.join(WRITE_WORK, f"grid{n}.mrc")
    if not os.path.exists(path):
        import mrcfile
        import numpy as np

        h = 0.5
        x = -0.5 * h * (n - 1) + h * np.arange(n)
        field = (np.sin(0.31 * x)[:, None, None] * np.cos(0.23 * x)[None, :, None]
                 * np.sin(0.17 * x + 0.5)[None, None, :])
        with mrcfile.new(path + ".part", overwrite=True) as m:
            m.set_data(np.ascontiguousarray(field.astype(np.float32).transpose(2, 1, 0)))
            m.voxel_size = h
        os.rename(path + ".part", path)
    return path


WRITE_CODE = """
import os, sys, time, voxmol
g = voxmol.read_grid(sys.argv[1])
os.sync()
t = time.perf_counter()
n = voxmol.write_pdb(g, sys.argv[2])
print(time.perf_counter() - t, n)
"""


def bench_write():
    path = mrc_grid(WRITE_N)
    out = os.path.join(WRITE_WORK, f"grid{WRITE_N}.pdb")  # beside the map
    mine = os.path.join(WRITE_WORK, "module.pdb")
    records = []

    def full():
        if os.path.exists(out):
            os.remove(out)
        return wall([VOXMOL, path, "-t", "-1", "1", "-l", "1"], WRITE_WORK)

    def module():
        if os.path.exists(mine):
            os.remove(mine)
        run = subprocess.run([PYTHON, "-c", WRITE_CODE, path, mine], env=ENV, check=True, capture_output=True,
                             text=True)
        seconds, n = run.stdout.split()
        records.append(int(n))
        return float(seconds)

    def empty():
        return wall([VOXMOL, path, "-t", "2", "3", "-l", "1"], WRITE_WORK)

    empty, full, module = interleaved(empty, full, module)
    cli = full - empty
    with open(out, "rb") as a, open(mine, "rb") as b:
        same = a.read() == b.read()
    os.remove(out)
    os.remove(mine)
    if not same:
        sys.exit("write_pdb and the command line wrote different files")
    return [
        (f"write {WRITE_N}^3 map ({records[0]:,} records): voxmol -t -1 1 less -t 2 3", cli, None),
        ("write: write_pdb (same bytes)", module, module / cli),
    ]


def bench_load():
    import gemmi

    import voxmol

    path = os.path.join(WORK, f"big{ATOMS}.pdb")
    if not os.path.exists(path):
        made = path + ".part"
        subprocess.run(["bash", os.path.join(ROOT, "bench/make_big_pdb.sh"), made, str(ATOMS)], check=True,
                       stdout=subprocess.DEVNULL)
        # gemmi refuses the charge columns (79-80) of two of the replicated files, which hold other text:
        # both readers get the file with its lines cut after column 78.
        with open(made) as f, open(path, "w") as out:
            out.writelines(line[:78].rstrip("\n") + "\n" for line in f)
        os.remove(made)
    ours, theirs = [], []
    for _ in range(RUNS):
        t = time.perf_counter()
        s = voxmol.read_structure(path)
        ours.append(time.perf_counter() - t)
        del s
        t = time.perf_counter()
        st = gemmi.read_structure(path)
        theirs.append(time.perf_counter() - t)
        del st
    module, reference = statistics.median(ours), statistics.median(theirs)
    return [
        (f"load {ATOMS:,} atoms: gemmi.read_structure {gemmi.__version__}", reference, None),
        ("load: read_structure", module, reference / module),
    ]


def main():
    os.makedirs(WORK, exist_ok=True)
    os.makedirs(WRITE_WORK, exist_ok=True)
    print(f"medians of {RUNS} runs")
    print(f"{'measurement':<78} {'seconds':>8} {'ratio':>7}", flush=True)
    chosen = os.environ.get("ONLY", "read,write,load").split(",")
    for bench in (globals()["bench_" + name] for name in chosen):
        for what, seconds, ratio in bench():
            print(f"{what:<78} {seconds:8.3f} {'' if ratio is None else f'{ratio:6.2f}x':>7}", flush=True)
    print("ratios: read and write are module / command line (1.10x or less is the goal); "
          "load is gemmi / module (5x or more)")


if __name__ == "__main__":
    main()
