"""OpenDX files of many writers, each read by voxmol (through grid_dump, then converted by the voxmol
binary) and by an independent reader: gridData (python3-griddataformats) for text files, NumPy on the
file's own bytes for binary files, which gridData does not read. Shape, origin, step vectors, every value
and every point's position must agree; the converted ATOM records must hold them to their written
precision.

usage: opendx_readers.py <voxmol binary> <work folder>
"""
import gzip
import os
import shutil
import sys

from common import converted_records, dump_grid, need, positions, record_problems

numpy = need("numpy")
gridData = need("gridData")
from gridData import OpenDX  # noqa: E402

binary, work = sys.argv[1], sys.argv[2]
here = os.path.dirname(os.path.abspath(__file__))
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
rng = numpy.random.default_rng(20240607)


class Reference:
    """What an independent reader found: shape, origin, the 3x3 step vectors (rows), values [i, j, k],
    and how closely voxmol's values must match (gridData keeps "float" data in single precision)."""

    def __init__(self, origin, delta, values, relative=0.0):
        self.origin = numpy.asarray(origin, dtype=float)
        self.delta = numpy.asarray(delta, dtype=float)
        self.values = numpy.asarray(values, dtype=float)
        self.relative = relative


def by_griddata(path):
    """gridData's OpenDX parser, which keeps the full step matrix; for a grid along the axes, also its
    Grid class (.grid, .origin, .delta), which must say the same."""
    dx = OpenDX.field(0)
    dx.read(path)
    pos, data = dx.components["positions"], dx.components["data"]
    values = numpy.asarray(data.array).reshape(tuple(pos.shape))
    single = values.dtype == numpy.float32
    ref = Reference(pos.origin, pos.delta, values, 2.0**-24 if single else 0.0)
    if numpy.count_nonzero(ref.delta - numpy.diag(numpy.diag(ref.delta))) == 0:
        g = gridData.Grid(path)
        assert numpy.array_equal(g.grid, values), path
        # Grid derives its origin and deltas from cell edges: equal up to that arithmetic's rounding.
        assert numpy.allclose(g.origin, ref.origin, rtol=1e-13, atol=1e-13), (path, g.origin, ref.origin)
        assert numpy.allclose(g.delta, numpy.diag(ref.delta), rtol=1e-13, atol=0), (path, g.delta)
    return ref


def smooth(shape, scale=1.0):
    """A smooth field with some large values of both signs mixed in."""
    i, j, k = numpy.meshgrid(*(numpy.arange(n) for n in shape), indexing="ij")
    v = scale * numpy.sin(0.7 * i + 0.2) * numpy.cos(0.45 * j) + 0.03 * k - 0.5
    v.flat[::7] *= -1e3
    return v


def write_text(path, shape, origin, delta, values, *, array_line=None, per_line=3, fmt="{:.6e}",
               before="", after='attribute "dep" string "positions"\n', line_end="\n"):
    """A text OpenDX file laid out as APBS and most writers lay it out, with the parts given replaced."""
    nx, ny, nz = shape
    lines = [before, f"object 1 class gridpositions counts {nx} {ny} {nz}\n",
             "origin " + " ".join(repr(float(x)) for x in origin) + "\n"]
    lines += ["delta " + " ".join(repr(float(x)) for x in row) + "\n" for row in delta]
    lines.append(f"object 2 class gridconnections counts {nx} {ny} {nz}\n")
    lines.append((array_line or "object 3 class array type double rank 0 items {n} data follows\n")
                 .format(n=nx * ny * nz))
    flat = [fmt.format(v) for v in numpy.asarray(values).ravel()]
    for start in range(0, len(flat), per_line):
        lines.append(" ".join(flat[start:start + per_line]) + "\n")
    lines.append(after)
    with open(path, "w", newline="") as f:
        f.write("".join(lines).replace("\n", line_end))


def write_binary(path, shape, origin, delta, values, dtype, modes, *, trailer=True):
    """A binary OpenDX file: the header as APBS writes it with the given data-format words, then the
    values' raw bytes in NumPy's dtype (with its byte order), then the statements that close the file."""
    nx, ny, nz = shape
    header = (f"# binary test grid\nobject 1 class gridpositions counts {nx} {ny} {nz}\n"
              f"origin {origin[0]!r} {origin[1]!r} {origin[2]!r}\n"
              + "".join(f"delta {r[0]!r} {r[1]!r} {r[2]!r}\n" for r in delta)
              + f"object 2 class gridconnections counts {nx} {ny} {nz}\n"
              f"object 3 class array type {'double' if dtype[-1] == '8' else 'float'} rank 0 "
              f"items {nx * ny * nz} {modes} data follows\n")
    raw = numpy.asarray(values, dtype=dtype).tobytes()
    tail = ('\nattribute "dep" string "positions"\nobject "binary grid" class field\n'
            'component "positions" value 1\ncomponent "connections" value 2\ncomponent "data" value 3\n')
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "wb") as f:
        f.write(header.encode() + raw + (tail.encode() if trailer else b""))
    return Reference(origin, delta, numpy.asarray(values, dtype=dtype).astype(float))


def raw_after_header(path, dtype, count):
    """The values of a binary OpenDX file read straight from its bytes after "data follows"."""
    data = gzip.open(path).read() if path.endswith(".gz") else open(path, "rb").read()
    start = data.index(b"data follows\n") + len(b"data follows\n")
    return numpy.frombuffer(data, dtype=dtype, count=count, offset=start)


cases = []  # (name, path, format voxmol must report, reference)


def add(name, path, fmt, ref):
    cases.append((name, path, fmt, ref))


# The map gridData's own tests read.
datafiles = os.path.join(os.path.dirname(gridData.__file__), "tests", "datafiles")
for f in ("test.dx", "test.dx.gz"):
    path = os.path.join(work, "griddata_" + f)
    shutil.copy(os.path.join(datafiles, f), path)
    add("gridData test map " + f, path, "OpenDX, text", by_griddata(path))

# Written by gridData itself: "float" (quoted type, 7 decimals) and "double", a size that is a multiple
# of 3 (a blank line before the attribute) and one that is not.
for shape in ((5, 4, 3), (3, 2, 7)):
    g = gridData.Grid(smooth(shape), origin=[-12.5, 3.25, 7.0], delta=[0.375, 0.5, 1.25])
    for dtype in ("float", "double"):
        path = os.path.join(work, f"griddata_{dtype}_{shape[0]}{shape[1]}{shape[2]}.dx")
        g.export(path, type=dtype)
        add(f"gridData export, type {dtype}, {shape}", path, "OpenDX, text", by_griddata(path))

# APBS's potential of ubiquitin, text and binary ("binary data follows", lsb doubles, no byte order).
apbs_text = os.path.join(here, "..", "data", "grids", "apbs_ubiquitin_potential.dx.gz")
apbs_bin = os.path.join(here, "..", "data", "grids", "apbs_ubiquitin_potential.dxbin.gz")
for src in (apbs_text, apbs_bin):
    shutil.copy(src, work)
path = os.path.join(work, os.path.basename(apbs_text))
apbs_ref = by_griddata(path)
add("APBS potential, text", path, "OpenDX, text", apbs_ref)
path = os.path.join(work, os.path.basename(apbs_bin))
raw = raw_after_header(path, "<f8", apbs_ref.values.size).reshape(apbs_ref.values.shape)
# The text file holds the same potential to 7 significant digits.
assert numpy.allclose(raw, apbs_ref.values, rtol=5e-7, atol=1e-12), "APBS text and binary disagree"
add("APBS potential, binary", path, "OpenDX, binary lsb double", Reference(apbs_ref.origin, apbs_ref.delta, raw))

# A sheared grid: step vectors off the axes, taken as given.
shape, origin = (4, 3, 5), (1.5, -2.0, 0.25)
sheared = ((0.8, 0.1, 0.0), (0.2, 0.9, 0.05), (-0.1, 0.3, 1.1))
path = os.path.join(work, "sheared.dx")
write_text(path, shape, origin, sheared, smooth(shape), per_line=4)
add("sheared step vectors", path, "OpenDX, text", by_griddata(path))

# A cavity detector's pocket grid: integer-like values three to a line, a named field, components.
shape = (6, 5, 4)
path = os.path.join(work, "pocket.dx")
write_text(path, shape, (10.0, 20.0, 30.0), numpy.eye(3) * 0.7, (smooth(shape) > 0).astype(float),
           fmt="{:.3f}", before="# Data from a cavity detector\n#\n# pocket 1\n#\n",
           after='attribute "dep" string "positions"\nobject "pocket 1 grid" class field\n'
                 'component "positions" value 1\ncomponent "connections" value 2\ncomponent "data" value 3\n')
add("cavity detector pocket grid", path, "OpenDX, text", by_griddata(path))

# VMD's layout: "%g" values, a field line and nothing else after them; CRLF line ends.
shape = (3, 4, 5)
path = os.path.join(work, "vmd_crlf.dx")
write_text(path, shape, (-3.0, 0.0, 2.5), numpy.eye(3) * 1.5, smooth(shape), fmt="{:g}",
           before="# Data from VMD\n# density\n", after='object "density" class field\n', line_end="\r\n")
add("VMD layout, CRLF", path, "OpenDX, text", by_griddata(path))

# Keywords in another order, quoted names, comments inside the header and among the values, one value
# to a line and eight to a line.
shape = (2, 5, 3)
values = smooth(shape)
for per_line in (1, 8):
    path = os.path.join(work, f"liberal_{per_line}.dx")
    write_text(path, shape, (0.0, 0.0, 0.0), numpy.eye(3), values, per_line=per_line, fmt="{!r}",
               before="# comment before\n\n",
               array_line='# the data\nobject 3 class array items {n} rank 0 type "double" data follows\n')
    add(f"liberal header, {per_line} per line", path, "OpenDX, text", Reference((0, 0, 0), numpy.eye(3), values))

# Binary data written by NumPy in both byte orders, float and double, with and without a byte order.
shape, origin = (4, 6, 5), (-7.25, 1.0, 3.5)
delta = ((0.5, 0.0, 0.0), (0.0, 0.75, 0.0), (0.0, 0.1, 1.0))
values = smooth(shape, 3.0)
for dtype, modes, fmt in (("<f4", "lsb binary", "lsb float"), (">f4", "msb binary", "msb float"),
                          ("<f8", "lsb ieee", "lsb double"), (">f8", "msb ieee", "msb double"),
                          ("<f8", "binary", "lsb double"), (">f4", "binary msb", "msb float")):
    for suffix in (".dx", ".dx.gz") if modes == "lsb binary" else (".dx",):
        path = os.path.join(work, f"binary_{dtype[1:]}_{modes.replace(' ', '_')}{suffix}")
        ref = write_binary(path, shape, origin, delta, values, dtype, modes)
        assert numpy.array_equal(raw_after_header(path, dtype, values.size).reshape(shape), ref.values)
        add(f"binary {dtype} '{modes}'{suffix}", path, "OpenDX, binary " + fmt, ref)
path = os.path.join(work, "binary_no_trailer.dx")
add("binary, nothing after the data", path, "OpenDX, binary lsb float",
    write_binary(path, shape, origin, delta, values, "<f4", "lsb binary", trailer=False))


def compare_dump(name, path, fmt, ref):
    info, got = dump_grid(path, os.path.join(work, "dump"))
    problems = []
    if list(info["shape"]) != list(ref.values.shape):
        return [f"shape {info['shape']} instead of {ref.values.shape}"]
    if not info["format"].startswith(fmt):
        problems.append(f"format {info['format']!r} instead of {fmt!r}")
    if (info["compression"] == "gzip") != path.endswith(".gz"):
        problems.append(f"gzip {info['gzip']}")
    if not numpy.array_equal(info["origin"], ref.origin):
        problems.append(f"origin {info['origin']} instead of {ref.origin}")
    if not numpy.array_equal(numpy.array(info["axes"]), ref.delta):
        problems.append(f"step vectors {info['axes']} instead of {ref.delta.tolist()}")
    bad = numpy.argwhere(~numpy.isclose(got, ref.values, rtol=ref.relative, atol=0.0))
    for index in bad[:5]:
        t = tuple(index)
        problems.append(f"value {t}: {got[t]!r} instead of {ref.values[t]!r}")
    i, j, k = numpy.meshgrid(*(numpy.arange(n) for n in ref.values.shape), indexing="ij")
    want = ref.origin + i[..., None] * ref.delta[0] + j[..., None] * ref.delta[1] + k[..., None] * ref.delta[2]
    if not numpy.allclose(positions(info), want, rtol=0.0, atol=1e-9):
        problems.append("positions differ")
    return problems


def compare_conversion(name, path, ref):
    lines = converted_records(binary, path, os.path.join(work, "run"))
    i, j, k = (a.reshape(-1) for a in numpy.meshgrid(*(numpy.arange(n) for n in ref.values.shape), indexing="ij"))
    where = ref.origin + i[:, None] * ref.delta[0] + j[:, None] * ref.delta[1] + k[:, None] * ref.delta[2]
    return record_problems(lines, where, ref.values.reshape(-1))


failures = []
for name, path, fmt, ref in cases:
    problems = compare_dump(name, path, fmt, ref) + compare_conversion(name, path, ref)
    print(f"{'ok ' if not problems else 'BAD'} {name}: {ref.values.shape}")
    failures += [f"{name}: {p}" for p in problems]
if failures:
    sys.exit("\n".join(failures))
print(f"{len(cases)} OpenDX files read alike by voxmol and the independent readers")
