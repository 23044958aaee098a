"""XPLOR/CNS and DSN6/BRIX maps read by voxmol, checked against independent readers: maps that cctbx
writes (iotbx.xplor, iotbx.dsn6: orthogonal and non-orthogonal cells, start indices of both signs,
extents that leave the edge bricks partly filled) and BRIX and little-endian DSN6 maps made here. For each:
every value against PyMOL's map loading, and every point's position against cctbx's orthogonalisation of
its fractional coordinates (the start index plus the point's index, over the sampling). XPLOR maps are
also read back with cctbx's own reader, and read bzip2- and xz-compressed.

usage: cell_map_readers.py <voxmol binary> <work folder>
"""
import bz2
import lzma
import os
import struct
import sys

from common import dump_grid, need, positions

np = need("numpy")
iotbx = need("iotbx")
need("pymol")
import iotbx.dsn6  # noqa: E402
import iotbx.xplor.map as xplor_map  # noqa: E402
from cctbx import uctbx  # noqa: E402
from pymol import cmd  # noqa: E402
from scitbx.array_family import flex  # noqa: E402

binary, work = sys.argv[1], sys.argv[2]
os.makedirs(work, exist_ok=True)
rng = np.random.default_rng(11)
failures = []


def work_path(name):
    return os.path.join(work, name)


def cell_data(n):
    """A whole cell's values on the sampling n, periodic as cctbx keeps them."""
    data = flex.double(flex.grid(n), 0)
    values = rng.normal(size=int(np.prod(n)))
    for i, v in enumerate(values):
        data[i] = float(v)
    return data


def expected_positions(cell, n, first, shape):
    """Cartesian position of every point [i, j, k]: cctbx's orthogonalisation of (first + index) / n."""
    uc = uctbx.unit_cell(cell)
    frac = np.stack(np.meshgrid(*[(first[d] + np.arange(shape[d])) / n[d] for d in range(3)], indexing="ij"), -1)
    flat = flex.vec3_double([tuple(map(float, p)) for p in frac.reshape(-1, 3)])
    return np.array(uc.orthogonalize(flat)).reshape(shape + (3,))


def pymol_values(path, fmt):
    """The map as PyMOL loads it, indexed [i, j, k]."""
    cmd.reinitialize()
    cmd.set("normalize_o_maps", 0)  # PyMOL scales O maps to their sigma unless told not to
    cmd.load(path, "m", format=fmt)
    return np.array(cmd.get_volume_field("m"), dtype=np.float64)


def check(name, path, want_values, want_positions, tol, fmt_name, compression=""):
    info, values = dump_grid(path, work_path(os.path.basename(path)))
    where = f"{name} ({os.path.basename(path)})"
    if not info["format"].startswith(fmt_name) or info["compression"] != compression:
        failures.append(f"{where}: read as {info['format']}, {info['compression']!r}")
    if values.shape != want_values.shape:
        failures.append(f"{where}: shape {values.shape}, PyMOL {want_values.shape}")
        return
    worst = np.abs(values - want_values).max()
    if worst > tol:
        failures.append(f"{where}: values differ by up to {worst}")
    off = np.abs(positions(info) - want_positions).max()
    if off > 1e-4:
        failures.append(f"{where}: positions differ by up to {off} Å")
    print(f"{where}: {values.size} points, values within {worst:.2g}, positions within {off:.2g} Å")


CELLS = [
    ("orthogonal", (40.0, 44.0, 48.0, 90.0, 90.0, 90.0), (20, 22, 24)),
    ("monoclinic", (30.5, 41.0, 52.2, 90.0, 103.5, 90.0), (16, 20, 25)),
    ("triclinic", (25.0, 31.0, 37.0, 78.0, 95.0, 104.0), (12, 15, 18)),
]
BOXES = [((1, 2, 3), (9, 10, 6)), ((-4, -3, 0), (5, 2, 8)), ((0, 0, 0), (11, 0, 4))]  # first, last (inclusive)

# XPLOR/CNS through cctbx's writer; checked against PyMOL and cctbx's reader.
for cname, cell, n in CELLS:
    data = cell_data(n)
    for first, last in BOXES:
        shape = tuple(last[d] - first[d] + 1 for d in range(3))
        path = work_path(f"{cname}_{first[0]}_{last[0]}.xplor")
        gridding = xplor_map.gridding(n=n, first=first, last=last)
        from cctbx import maptbx
        box = maptbx.copy(data, first, last)
        xplor_map.writer(file_name=path, title_lines=["voxmol test " + cname], unit_cell=uctbx.unit_cell(cell),
                         gridding=gridding, data=box, average=0.0, standard_deviation=1.0)
        back = xplor_map.reader(file_name=path)
        cctbx_values = np.array(back.data.as_numpy_array(), dtype=np.float64).reshape(shape)
        want = expected_positions(cell, n, first, shape)
        check("XPLOR, cctbx", path, cctbx_values, want, 1e-12, "XPLOR/CNS")
        if min(shape) > 1:  # PyMOL crashes on maps one point thick
            check("XPLOR, PyMOL", path, pymol_values(path, "xplor"), want, 1e-5, "XPLOR/CNS")
        if cname == "triclinic" and first[0] == 1:
            for ext, mod in ((".bz2", bz2), (".xz", lzma)):
                with open(path, "rb") as f, mod.open(path + ext, "wb") as g:
                    g.write(f.read())
                check("XPLOR compressed", path + ext, cctbx_values, want, 1e-12, "XPLOR/CNS",
                      "bzip2" if ext == ".bz2" else "xz")

# DSN6 through cctbx's writer (bricks in swapped pairs, big-endian header); PyMOL's values.
for cname, cell, n in CELLS:
    data = cell_data(n)
    for first, last in BOXES[:2]:
        shape = tuple(last[d] - first[d] + 1 for d in range(3))
        path = work_path(f"{cname}_{first[0]}.dsn6")
        iotbx.dsn6.write_dsn6_map(file_name=path, unit_cell=uctbx.unit_cell(cell), gridding_first=first,
                                  gridding_last=last, map_data=data)
        check("DSN6, cctbx", path, pymol_values(path, "dsn6"), expected_positions(cell, n, first, shape), 1e-5,
              "DSN6")


def o_bricks(byte_grid, swap_pairs):
    """The bricks of a map of bytes [i, j, k]: 8 x 8 x 8 each, x fastest; padding past the edges."""
    shape = byte_grid.shape
    out = b""
    for bz in range(0, shape[2], 8):
        for by in range(0, shape[1], 8):
            for bx in range(0, shape[0], 8):
                brick = np.zeros((8, 8, 8), dtype=np.uint8)  # [z, y, x]
                part = byte_grid[bx:bx + 8, by:by + 8, bz:bz + 8].transpose(2, 1, 0)
                brick[:part.shape[0], :part.shape[1], :part.shape[2]] = part
                b = brick.tobytes()
                out += bytes(x for i in range(0, 512, 2) for x in (b[i + 1], b[i])) if swap_pairs else b
    return out


# BRIX and a little-endian DSN6 made here, both read by PyMOL.
for cname, cell, n in CELLS:
    first, shape = (-3, 2, 5), (13, 9, 17)
    byte_grid = rng.integers(0, 256, size=shape, dtype=np.uint8)
    prod, plus = 2.5, 37
    header = (":-) origin%5d%5d%5d extent%5d%5d%5d grid%5d%5d%5d cell %10.3f%10.3f%10.3f%10.3f%10.3f%10.3f "
              "prod %12.5f plus%8d sigma %12.5f" % (*first, *shape, *n, *cell, prod, plus, 1.0))
    path = work_path(f"{cname}.brix")
    with open(path, "wb") as f:
        f.write(header.encode().ljust(512) + o_bricks(byte_grid, False))
    want = expected_positions(cell, n, first, shape)
    check("BRIX", path, pymol_values(path, "brix"), want, 1e-5, "BRIX")
    values = (byte_grid.astype(np.float64) - plus) / prod
    check("BRIX, by definition", path, values, want, 1e-12, "BRIX")
    scale = 80
    words = [*first, *shape, *n, *(round(scale * c) for c in cell), 250, plus, scale, 100]
    path = work_path(f"{cname}_little.dsn6")
    with open(path, "wb") as f:
        f.write(struct.pack("<19h", *words).ljust(512, b"\0") + o_bricks(byte_grid, True))
    want = expected_positions(tuple(round(scale * c) / scale for c in cell), n, first, shape)
    check("DSN6, little-endian, by definition", path, values, want, 1e-12, "DSN6")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
