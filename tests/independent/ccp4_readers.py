"""CCP4/MRC maps read by voxmol, checked against independent readers (gemmi, mrcfile, gridData): the real
maps griddataformats ships (a crystallographic map with permuted axes and a start offset, an
electron-microscopy map with a non-orthogonal cell, plain and gzip-compressed) and maps written here with
mrcfile and gemmi (every mode voxmol reads, both byte orders, every axis order, ORIGIN, start indices, an
extended header, a missing machine stamp, an old header without the "MAP " stamp). For each: the shape,
every value and the position of every point. A few are also converted and their ATOM records read back.

usage: ccp4_readers.py <voxmol binary> <work folder>
"""
import bz2
import os
import shutil
import sys
import warnings

from common import converted_records, dump_grid, gzip_copy, need, positions, record_problems

np = need("numpy")
gemmi = need("gemmi")
mrcfile = need("mrcfile")
gridData = need("gridData")

binary, work = sys.argv[1], sys.argv[2]
os.makedirs(work, exist_ok=True)
SHIPPED = "/usr/lib/python3/dist-packages/gridData/tests/datafiles"
rng = np.random.default_rng(7)
warnings.simplefilter("ignore")  # mrcfile's notes on NaN data and on headers it finds odd


def work_path(name):
    return os.path.join(work, name)


def write_mrc(name, data, mapcrs=(1, 2, 3), start=(0, 0, 0), sampling=None, cell=None, angles=(90, 90, 90),
              origin=(0, 0, 0), extended=None):
    """An MRC file of `data` (indexed [section, row, column], as mrcfile keeps it) with the given header."""
    path = work_path(name)
    ns, nr, nc = data.shape
    dims = [0, 0, 0]
    for size, axis in zip((nc, nr, ns), mapcrs):
        dims[axis - 1] = size
    sampling = sampling or dims
    cell = cell or [0.5 * m + 1.25 * d for m, d in zip(sampling, range(3))]
    with mrcfile.new(path, overwrite=True) as m:
        m.set_data(data)
        if extended is not None:
            m.set_extended_header(np.frombuffer(extended, dtype="V1"))
        h = m.header
        h.mapc, h.mapr, h.maps = mapcrs
        h.nxstart, h.nystart, h.nzstart = start
        h.mx, h.my, h.mz = sampling
        h.cella = tuple(cell)
        h.cellb = tuple(angles)
        h.origin = tuple(origin)
    return path


def patched(path, name, at, new_bytes):
    """A copy of `path` with bytes `at`.. replaced."""
    raw = bytearray(open(path, "rb").read())
    raw[at:at + len(new_bytes)] = new_bytes
    out = work_path(name)
    open(out, "wb").write(raw)
    return out


def header_to_big_endian(path):
    """Rewrites the header of a little-endian int8 map (whose values have no byte order, so mrcfile writes
    them with a little-endian header) in big-endian order: every number word, "MAP " and EXTTYP kept."""
    raw = bytearray(open(path, "rb").read())
    assert raw[212] == 0x44
    for w in list(range(26)) + list(range(27, 52)) + [54, 55]:
        raw[4 * w:4 * w + 4] = raw[4 * w:4 * w + 4][::-1]
    raw[212:216] = b"\x11\x11\0\0"
    open(path, "wb").write(raw)


def values_for(dtype, shape):
    """Values spanning the type: its extremes, zero, and for floats the special values."""
    n = int(np.prod(shape))
    if np.dtype(dtype).kind in "iu":
        info = np.iinfo(dtype)
        v = rng.integers(info.min, info.max, n, endpoint=True).astype(dtype)
        v[:3] = [info.min, info.max, 0]
    else:
        v = rng.normal(0, 100, n).astype(dtype)
        tiny = np.finfo(dtype).smallest_subnormal
        special = [np.inf, -np.inf, np.nan, -0.0, tiny, -3 * tiny, np.finfo(dtype).max, np.finfo(dtype).tiny]
        v[: len(special)] = np.array(special, dtype=dtype)
    return v.reshape(shape)


class Expected:
    """What the file holds, from the independent readers: values [x, y, z] and point positions."""

    def __init__(self, path):
        with mrcfile.open(path, permissive=True) as m:
            h = m.header
            crs = np.array(m.data, dtype=np.float64).transpose(2, 1, 0)  # [column, row, section]
            self.axis = [int(h.mapc) - 1, int(h.mapr) - 1, int(h.maps) - 1]
            self.start = [0, 0, 0]
            for f, s in enumerate((h.nxstart, h.nystart, h.nzstart)):
                self.start[self.axis[f]] = int(s)
            # The shortest decimal of each single-precision number, as gemmi takes the cell.
            self.origin = np.array([float(str(np.float32(v))) for v in (h.origin.x, h.origin.y, h.origin.z)])
            self.mode = int(h.mode)
            self.voxel = np.array([m.voxel_size.x, m.voxel_size.y, m.voxel_size.z], dtype=np.float64)
        self.values = np.transpose(crs, np.argsort(self.axis))  # [x, y, z]
        self.gemmi = None
        with open(path, "rb") as f:
            big_endian = f.read(216)[212] == 0x11
        # gemmi 0.5.7 byte-swaps big-endian integer values as floats: mrcfile alone checks those values.
        if self.mode != 12:  # gemmi does not read half floats
            g = gemmi.read_ccp4_map(path)
            raw = np.array(g.grid, copy=False).astype(np.float64)  # [column, row, section]
            if not (self.mode in (0, 1, 6) and big_endian):
                self.gemmi = np.transpose(raw, np.argsort(self.axis))
            self.cell = g.grid.unit_cell
            self.sampling = [g.header_i32(8 + d) or self.values.shape[d] for d in range(3)]
            self.map = g
        else:
            with mrcfile.open(path, permissive=True) as m:
                c = m.header.cella
                a = m.header.cellb
                self.cell = gemmi.UnitCell(c.x, c.y, c.z, a.alpha, a.beta, a.gamma)
                self.sampling = [int(m.header.mx), int(m.header.my), int(m.header.mz)]

    def positions(self):
        """Every point's position: the cell's orthogonalisation of its fractional coordinates, from ORIGIN
        when that is set, else from the start indices."""
        nx, ny, nz = self.values.shape
        i, j, k = np.meshgrid(np.arange(nx), np.arange(ny), np.arange(nz), indexing="ij")
        origin_set = np.any(self.origin != 0)
        shift = [0, 0, 0] if origin_set else self.start
        frac = np.stack([(i + shift[0]) / self.sampling[0], (j + shift[1]) / self.sampling[1],
                         (k + shift[2]) / self.sampling[2]], axis=-1)
        orth = np.array(self.cell.orthogonalization_matrix.tolist())
        return frac @ orth.T + (self.origin if origin_set else 0)

    def gemmi_spot_positions(self):
        """gemmi's own position of a few points of the full-cell grid it sets up (ORIGIN unset only)."""
        if not hasattr(self, "map") or np.any(self.origin != 0) or self.sampling != [self.map.header_i32(8 + d)
                                                                                 for d in range(3)]:
            return []
        self.map.setup(float("nan"), gemmi.MapSetup.NoSymmetry)
        shape = self.values.shape
        picks = {(0, 0, 0), tuple(s - 1 for s in shape)}
        picks |= {tuple(int(rng.integers(0, s)) for s in shape) for _ in range(20)}
        out = []
        for p in sorted(picks):
            q = self.map.grid.get_position(*(int(p[d] + self.start[d]) for d in range(3)))
            out.append((p, np.array([q.x, q.y, q.z])))
        return out


failures = []
counts = {"maps": 0, "gemmi values": 0, "gemmi positions": 0, "gridData": 0, "converted": 0}


def check(cond, case, what):
    if not cond:
        failures.append(f"{case}: {what}")
    return cond


def same_values(got, want):
    return got.shape == want.shape and np.array_equal(got, want, equal_nan=True) and np.array_equal(
        np.signbit(got), np.signbit(want))


def compare(case, path, reference=None, description=None, gzip_flag=False, use_griddata=True):
    info, got = dump_grid(path, work_path(case))
    exp = Expected(reference or path)
    check((info["compression"] == "gzip") == gzip_flag, case, f"compression {info['compression']!r}")
    want_desc = description or f"CCP4/MRC, mode {exp.mode}"
    check(info["format"].startswith(want_desc), case, f"format {info['format']!r}, expected {want_desc!r}...")
    if not check(tuple(info["shape"]) == exp.values.shape, case, f"shape {info['shape']} != {exp.values.shape}"):
        return
    counts["maps"] += 1
    check(same_values(got, exp.values), case, "values differ from mrcfile's")
    if exp.gemmi is not None:
        counts["gemmi values"] += 1
        check(same_values(got, exp.gemmi), case, "values differ from gemmi's")
    where = positions(info)
    want = exp.positions()
    err = np.max(np.abs(where - want))
    check(err < 1e-9 * max(1.0, np.max(np.abs(want))), case, f"positions differ from gemmi's cell by {err}")
    spots = exp.gemmi_spot_positions()
    counts["gemmi positions"] += bool(spots)
    for p, q in spots:
        check(np.allclose(where[p], q, rtol=0, atol=1e-9), case, f"point {p} at {where[p]}, gemmi {q}")
    # On an orthogonal cell the steps are mrcfile's voxel size.
    if np.allclose(np.array(info["axes"]), np.diag(np.diag(np.array(info["axes"])))):
        steps = np.diag(np.array(info["axes"]))
        lengths = np.array([exp.cell.a, exp.cell.b, exp.cell.c])
        check(np.allclose(steps, lengths / np.array(exp.sampling), rtol=1e-12), case, f"steps {steps}")
        check(np.allclose(steps, exp.voxel, rtol=1e-6), case, f"steps {steps}, mrcfile's voxel {exp.voxel}")
    if use_griddata and exp.mode in (0, 1, 2, 6) and not (np.any(exp.origin != 0) and any(exp.start)):
        try:
            g = gridData.Grid(reference or path, file_format="MRC")
        except ValueError:  # a non-orthogonal cell, or a header mrcfile refuses in strict mode
            return
        counts["gridData"] += 1
        check(same_values(got, np.asarray(g.grid, dtype=np.float64)), case, "values differ from gridData's")
        check(np.allclose(info["origin"], g.origin, rtol=0, atol=1e-4), case,
              f"origin {info['origin']}, gridData {g.origin}")
        delta = np.asarray(g.delta)
        delta = np.diag(delta) if delta.ndim == 2 else delta
        check(np.allclose(np.diag(np.array(info["axes"])), delta, rtol=1e-6), case, f"gridData's delta {delta}")


def converted(case, path):
    """Converts every point and checks each ATOM record's position and value to the written precision."""
    lines = converted_records(binary, path, work_path(case + "-run"))
    exp = Expected(path)
    # Records in walk order, for the points in the window (NaN and infinities are not).
    in_window = np.abs(exp.values.reshape(-1)) <= 1e30
    counts["converted"] += 1
    problems = record_problems(lines, exp.positions().reshape(-1, 3)[in_window], exp.values.reshape(-1)[in_window])
    for p in problems:
        check(False, case, p)


# The real maps.
emd = work_path("emd3001.map")
with bz2.open(os.path.join(SHIPPED, "EMD-3001.map.bz2")) as f, open(emd, "wb") as g:
    shutil.copyfileobj(f, g)
compare("1jzv", os.path.join(SHIPPED, "1jzv.ccp4"))
compare("test.ccp4", os.path.join(SHIPPED, "test.ccp4"))
compare("EMD-3001", emd)
compare("EMD-3001.gz", gzip_copy(emd), reference=emd, gzip_flag=True)

# Every mode in both byte orders, each with its own axis order and start indices.
orders = [(1, 2, 3), (2, 1, 3), (3, 1, 2), (1, 3, 2), (2, 3, 1), (3, 2, 1)]
modes = {"i1": "int8", "i2": "int16", "f4": "float32", "u2": "uint16", "f2": "float16"}
n = 0
made = {}
for code, name in modes.items():
    for order in "<>":
        dtype = np.dtype(order + code)
        data = values_for(dtype, (5, 6, 7))
        mapcrs = orders[n % len(orders)]
        start = (n - 4, 3 * n, -2 * n)
        case = f"mode-{name}-{'little' if order == '<' else 'big'}"
        path = write_mrc(case + ".mrc", data, mapcrs=mapcrs, start=start)
        if code == "i1" and order == ">":
            header_to_big_endian(path)
        made[case] = path
        suffix = ", big-endian" if order == ">" else ""
        mode = {"i1": 0, "i2": 1, "f4": 2, "u2": 6, "f2": 12}[code]
        compare(case, path, description=f"CCP4/MRC, mode {mode} ({name}){suffix}")
        n += 1
compare("gzip big-endian int16", gzip_copy(made["mode-int16-big"]), reference=made["mode-int16-big"],
        gzip_flag=True)

# Maps of a few million values, read in several slabs.
big_map = rng.normal(0, 1, (130, 140, 150)).astype(np.float32)
compare("large float32 in file order", write_mrc("large.mrc", big_map, start=(-20, 5, 9)), use_griddata=False)
compare("large int16, big-endian, rows along Z",
        write_mrc("large-int16.mrc", (big_map * 1000).astype(">i2"), mapcrs=(2, 3, 1)), use_griddata=False)

# The header's other fields.
cube = values_for(np.float32, (4, 5, 6))
compare("ORIGIN set", write_mrc("origin.mrc", cube, origin=(12.5, -3.25, 100.0), mapcrs=(2, 3, 1)))
compare("ORIGIN and start", write_mrc("origin-start.mrc", cube, origin=(1.5, 2.5, 3.5), start=(4, 5, 6)))
compare("start only", write_mrc("start.mrc", cube, start=(-7, 11, 2), mapcrs=(3, 2, 1)))
compare("sampling unlike the dimensions", write_mrc("sampling.mrc", cube, sampling=(40, 12, 30), start=(38, -5, 1)))
compare("extended header", write_mrc("extended.mrc", cube, extended=bytes(range(256)) * 3, mapcrs=(2, 1, 3)))
nonorth = write_mrc("nonorth.mrc", cube, cell=(20.0, 25.0, 30.0), angles=(70.0, 105.0, 115.0), start=(3, -2, 9),
                    mapcrs=(3, 1, 2), sampling=(16, 20, 24))
compare("non-orthogonal, permuted, start", nonorth)
compare("non-orthogonal with ORIGIN", write_mrc("nonorth-origin.mrc", cube, cell=(20.0, 25.0, 30.0),
                                                angles=(80.0, 95.0, 125.0), origin=(-4.0, 5.0, 6.0)))

# gemmi's own writer: a full cell of a monoclinic and a triclinic map.
for case, cell in (("gemmi monoclinic", (30.0, 22.0, 41.0, 90.0, 101.5, 90.0)),
                   ("gemmi triclinic", (30.0, 22.0, 41.0, 66.0, 83.0, 117.0))):
    grid = gemmi.FloatGrid(12, 10, 14)
    grid.set_unit_cell(gemmi.UnitCell(*cell))
    np.array(grid, copy=False)[:] = rng.normal(0, 1, (12, 10, 14)).astype(np.float32)
    m = gemmi.Ccp4Map()
    m.grid = grid
    m.update_ccp4_header(2)
    path = work_path(case.replace(" ", "-") + ".ccp4")
    m.write_ccp4_map(path)
    compare(case, path)

# A machine stamp that names no byte order, and an old header without "MAP " and a stamp: the byte order
# comes from the header's words.
for name in ("mode-float32-big", "mode-int16-little", "mode-uint16-big"):
    compare(f"{name}, no stamp", patched(made[name], name + "-nostamp.mrc", 212, b"\0\0\0\0"),
            reference=made[name])
    compare(f"{name}, old header", patched(made[name], name + "-old.map", 208, b"\0" * 8), reference=made[name])

# Converted: every ATOM record against the positions and values.
converted("convert test.ccp4", os.path.join(SHIPPED, "test.ccp4"))
converted("convert non-orthogonal", nonorth)
converted("convert float16", made["mode-float16-big"])
converted("convert EMD-3001", emd)

if failures:
    sys.exit("\n".join(failures[:40]) + f"\n{len(failures)} failures")
print("every map read as the independent readers read it: " + ", ".join(f"{k} {v}" for k, v in counts.items()))
