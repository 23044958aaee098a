"""Electrostatics and other grids read by voxmol, checked point by point against independent readers and
producers:
- UHBD: APBS run here on a small molecule, writing the same solve as DX and as UHBD ("write pot dx",
  "write pot uhbd"): the UHBD grid must give APBS's own DX grid, every position and value (to the digits
  the text form keeps); the same values in binary UHBD files made here, in both byte orders with 4- and
  8-byte record markers;
- DelPhi: phi maps made here in every record layout and with each trailer (single and double precision,
  with and without the grid size), read by PyMOL (values, and the extent of the points);
- gOpenMol plt: files in both byte orders, read by GridDataFormats (values; its cell edges are the
  header's min and max, which voxmol takes as the first and last points);
- Situs: files read by a parser written here from the format's documentation;
- OpenDX: the sample watermolecule.dx of OpenDX's own samples (data array before its grid), read by a
  parser written here.
Some are also read bzip2- and xz-compressed, as concatenated streams.

usage: potential_grid_readers.py <voxmol binary> <work folder>
"""
import bz2
import lzma
import os
import shutil
import struct
import subprocess
import sys

from common import dump_grid, need, positions

np = need("numpy")
need("pymol")
gridData = need("gridData")
from pymol import cmd  # noqa: E402

SAMPLE = "/usr/share/dx/samples/data/watermolecule.dx"
for tool, missing, package in (("apbs", shutil.which("apbs") is None, "apbs"),
                               ("watermolecule.dx", not os.path.exists(SAMPLE), "dxsamples")):
    if missing:
        print(f"{tool} is not installed (Debian: {package})")
        sys.exit(1 if os.environ.get("VOXMOL_REQUIRE_INDEPENDENT") == "1" else 77)

binary, work = sys.argv[1], sys.argv[2]
os.makedirs(work, exist_ok=True)
rng = np.random.default_rng(5)
failures = []


def work_path(name):
    return os.path.join(work, name)


def grid_of(origin, steps, shape):
    """Positions [i, j, k] of an axis-aligned grid."""
    axes = [np.array(origin[d]) + steps[d] * np.arange(shape[d]) for d in range(3)]
    return np.stack(np.meshgrid(*axes, indexing="ij"), -1)


def check(where, path, want_values, want_positions, rel, fmt, compression=""):
    info, values = dump_grid(path, work_path(os.path.basename(path)))
    where = f"{where} ({os.path.basename(path)})"
    if not info["format"].startswith(fmt) or info["compression"] != compression:
        failures.append(f"{where}: read as {info['format']}, {info['compression']!r}")
    if values.shape != want_values.shape:
        failures.append(f"{where}: shape {values.shape}, expected {want_values.shape}")
        return
    worst = (np.abs(values - want_values) / (np.abs(want_values) + 1e-6)).max()
    if worst > rel:
        failures.append(f"{where}: values differ by up to {worst:.3g} relative")
    off = np.abs(positions(info) - want_positions).max()
    if off > 1e-5:
        failures.append(f"{where}: positions differ by up to {off} Å")
    print(f"{where}: {values.size} points, values within {worst:.2g} relative, positions within {off:.2g} Å")


def compressed(path, kind):
    """A copy compressed as two concatenated streams, as archives split and joined."""
    data = open(path, "rb").read()
    mod = bz2 if kind == "bzip2" else lzma
    out = path + (".bz2" if kind == "bzip2" else ".xz")
    with open(out, "wb") as f:
        f.write(mod.compress(data[: len(data) // 2]) + mod.compress(data[len(data) // 2:]))
    return out


def record(payload, marker):
    m = struct.pack(marker, len(payload))
    return m + payload + m


# UHBD against APBS's own DX of the same solve.
apbs = shutil.which("apbs")
folder = work_path("apbs")
os.makedirs(folder, exist_ok=True)
with open(os.path.join(folder, "m.pqr"), "w") as f:
    f.write("ATOM      1  N   ALA     1       0.000   0.000   0.000  0.5000 1.8240\n"
            "ATOM      2  O   ALA     1       2.100   0.700  -0.400 -0.5000 1.6612\n"
            "ATOM      3  C   ALA     1      -1.000   1.300   0.900  0.2500 1.9080\nEND\n")
with open(os.path.join(folder, "in.in"), "w") as f:
    f.write("read\n mol pqr m.pqr\nend\nelec name solv\n mg-manual\n dime 17 21 25\n grid 0.5 0.5 0.5\n"
            " gcent 0.3 -0.2 0.1\n mol 1\n lpbe\n bcfl sdh\n pdie 2.0\n sdie 78.54\n chgm spl2\n"
            " srfm smol\n srad 1.4\n swin 0.3\n sdens 10.0\n temp 298.15\n write pot dx pot\n"
            " write pot uhbd pot\nend\nquit\n")
run = subprocess.run([apbs, "in.in"], cwd=folder, capture_output=True, text=True)
dx, grd = os.path.join(folder, "pot-PE0.dx"), os.path.join(folder, "pot-PE0.grd")
if run.returncode != 0 or not os.path.exists(grd):
    failures.append(f"apbs failed: {run.stdout[-500:]}")
else:
    info, dx_values = dump_grid(dx, work_path("apbs.dx"))
    dx_positions = positions(info)
    check("UHBD text, APBS, against APBS's DX", grd, dx_values, dx_positions, 1e-5, "UHBD, text")
    check("UHBD text, bzip2", compressed(grd, "bzip2"), dx_values, dx_positions, 1e-5, "UHBD, text", "bzip2")
    nx, ny, nz = dx_values.shape
    h = info["axes"][0][0]
    o = np.array(info["origin"]) - h  # UHBD's origin lies a step before the first point
    for order, marker in (("<", "<i"), (">", ">i"), ("<", "<q"), (">", ">q")):
        head = b"POT".ljust(72) + struct.pack(order + "2f5i3i4f6f2i", 1.0, 0.0, 0, 0, nz, 1, nz, nx, ny, nz,
                                               h, *o, 0, 0, 0, 0, 0, 0, 0, 0)
        body = record(head, marker)
        for k in range(nz):
            body += record(struct.pack(order + "3i", k + 1, nx, ny), marker)
            body += record(dx_values[:, :, k].T.astype(order + "f4").tobytes(), marker)
        path = work_path(f"binary{marker[0]}{marker[1]}.grd")
        open(path, "wb").write(body)
        check("UHBD binary", path, dx_values.astype(np.float32), grid_of(o + h, (h, h, h), dx_values.shape),
              1e-7, "UHBD, binary")

# DelPhi: every layout and trailer, read by PyMOL.
for side, order, marker, trailer in ((9, "<", "<i", "f"), (10, ">", ">i", "f"), (7, "<", "<q", "d"),
                                     (8, ">", ">q", "d"), (9, "<", "<i", "fi"), (6, ">", ">i", "di")):
    phi = rng.normal(size=(side, side, side)).astype(np.float32)  # [i, j, k]
    scale, mid = 1.7, (1.25, -3.5, 0.75)
    tail = struct.pack(order + "4" + trailer[0], scale, *mid) + (struct.pack(order + "i", side) if "i" in trailer else b"")
    body = (record(b"now starting phimap ", marker) + record(b"potential " + b" " * 60, marker)
            + record(phi.transpose(2, 1, 0).astype(order + "f4").tobytes(), marker)
            + record(b" end of phimap  ", marker) + record(tail, marker))
    path = work_path(f"map{side}{marker[0]}{marker[1]}{trailer}.phi")
    open(path, "wb").write(body)
    first = np.array(mid) - (side - 1) / 2 / scale
    want_positions = grid_of(first, (1 / scale,) * 3, phi.shape)
    check("DelPhi, by definition", path, phi.astype(np.float64), want_positions, 0, "DelPhi phi")
    if marker[1] == "q":
        continue  # PyMOL reads 4-byte record markers only
    cmd.reinitialize()
    cmd.load(path, "m", format="phi")
    field = np.array(cmd.get_volume_field("m"), dtype=np.float64)
    extent = np.array(cmd.get_extent("m"))
    check("DelPhi, PyMOL's values", path, field, want_positions, 1e-7, "DelPhi phi")
    last = want_positions[-1, -1, -1]
    # PyMOL misplaces grids with a double-precision trailer, and puts the midpoint of an even grid on a
    # point rather than between the two middle ones (DelPhi itself writes odd grids only).
    if trailer[0] == "f" and side % 2 == 1 and np.abs(extent - [want_positions[0, 0, 0], last]).max() > 1e-4:
        failures.append(f"DelPhi {path}: PyMOL's extent {extent.tolist()}, voxmol's points {first} to {last}")
    if side == 9 and trailer == "f":
        check("DelPhi, xz", compressed(path, "xz"), phi.astype(np.float64), want_positions, 0, "DelPhi phi", "xz")

# gOpenMol plt: GridDataFormats reads the header's min and max as cell edges; voxmol as the end points.
for order, shape in (("<", (6, 5, 4)), (">", (3, 7, 2)), ("<", (1, 4, 5))):
    data = rng.normal(size=shape).astype(np.float32)  # [i, j, k]
    lo = np.array([-2.0, 1.5, 3.25])
    hi = lo + 0.6 * (np.array(shape) - 1)
    head = struct.pack(order + "5i6f", 3, 200, shape[2], shape[1], shape[0], lo[2], hi[2], lo[1], hi[1], lo[0], hi[0])
    path = work_path(f"grid{shape[0]}{'le' if order == '<' else 'be'}.plt")
    open(path, "wb").write(head + data.transpose(2, 1, 0).astype(order + "f4").tobytes())
    g = gridData.Grid(path)
    edges = g.edges  # the first and last edge of each axis: the header's min and max
    first = np.array([e[0] for e in edges])
    last = np.array([e[-1] for e in edges])
    steps = [(last[d] - first[d]) / (shape[d] - 1) if shape[d] > 1 else 1.0 for d in range(3)]
    check("plt, GridDataFormats' values and edges", path, g.grid.astype(np.float64), grid_of(first, steps, shape),
          0, "gOpenMol plt")

# Situs, by its documentation: "spacing x0 y0 z0 nx ny nz", then the values, x fastest.
def read_situs(path):
    words = open(path).read().split()
    spacing, x0, y0, z0 = map(float, words[:4])
    n = tuple(int(w) for w in words[4:7])
    values = np.array([float(w) for w in words[7:]]).reshape(n[2], n[1], n[0]).transpose(2, 1, 0)
    return values, grid_of((x0, y0, z0), (spacing,) * 3, n)


for shape, per_line in (((5, 4, 3), 10), ((2, 9, 7), 7), ((1, 1, 6), 1)):
    path = work_path(f"map{shape[0]}{shape[1]}{shape[2]}.situs")
    flat = rng.normal(size=int(np.prod(shape)))
    with open(path, "w") as f:
        f.write("%.6f %.6f %.6f %.6f %d %d %d\n\n" % (0.75, -10.5, 2.25, 7.0, *shape))
        for n in range(0, len(flat), per_line):
            f.write(" ".join("%12.6f" % v for v in flat[n:n + per_line]) + "\n")
    values, where = read_situs(path)
    check("Situs, by its documentation", path, values, where, 0, "Situs")
    if shape[0] == 5:
        check("Situs, bzip2", compressed(path, "bzip2"), values, where, 0, "Situs", "bzip2")

# OpenDX's own sample: the data array first, the grid after it.
lines = open(SAMPLE).read().split("\n")
start = next(n for n, line in enumerate(lines) if "data follows" in line) + 1
numbers = []
for line in lines[start:]:
    try:
        numbers += [float(w) for w in line.split()]
    except ValueError:
        break
grid = next(line.split() for line in lines if "gridpositions" in line)
counts = tuple(int(w) for w in grid[grid.index("counts") + 1:])
origin = [float(w) for w in next(line for line in lines if line.strip().startswith("origin")).split()[1:]]
deltas = [[float(w) for w in line.split()[1:]] for line in lines if line.strip().startswith("delta")]
where = grid_of(origin, [deltas[d][d] for d in range(3)], counts)
check("OpenDX sample, data before grid", SAMPLE, np.array(numbers).reshape(counts), where, 0, "OpenDX, text")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
