"""Gaussian cube files and AutoDock maps read by voxmol, checked against what wrote them.

Cubes written by ase (in Bohr) are read back with ase and compared with voxmol's read of the same file:
shape, origin, step vectors and every value. Cubes ase cannot write (Ångström counts, the orbital form,
several values per point, other line layouts) and AutoDock maps (no Debian package reads them) are
written here from NumPy arrays, following each format, and voxmol's read is compared with the array and
the geometry written. A few are converted with voxmol itself and the ATOM records checked against the
grid, and one grid as a cube, a map and in voxmol's own format must give the same records.

usage: cube_autodock_readers.py <voxmol binary> <work folder>
"""
import os
import shutil
import sys

from common import converted_records, dump_grid, gzip_copy, need, positions, record_problems

numpy = need("numpy")
ase = need("ase")
import ase.io  # noqa: E402
import ase.units  # noqa: E402
from ase.io.cube import read_cube  # noqa: E402

BOHR = 0.529177210903  # Ångström per Bohr, as voxmol converts
binary, work = sys.argv[1], sys.argv[2]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
rng = numpy.random.default_rng(20240607)
failures = []


def check(case, what, got, want, rtol=0.0):
    got, want = numpy.asarray(got, dtype=float), numpy.asarray(want, dtype=float)
    if got.shape != want.shape:
        failures.append(f"{case}: {what} has shape {got.shape}, expected {want.shape}")
    elif not numpy.allclose(got, want, rtol=rtol, atol=0.0, equal_nan=True):
        bad = numpy.argwhere(~numpy.isclose(got, want, rtol=rtol, atol=0.0, equal_nan=True))[:3]
        first = tuple(bad[0])
        failures.append(f"{case}: {what} differs at {bad.tolist()}: {got[first]} != {want[first]}")


def read_with_voxmol(case, path, want_format):
    info, values = dump_grid(path, os.path.join(work, case))
    if info["format"] != want_format:
        failures.append(f"{case}: format {info['format']!r}, expected {want_format!r}")
    if (info["compression"] == "gzip") != path.endswith(".gz"):
        failures.append(f"{case}: gzip {info['gzip']}")
    return info, values


# ---- cubes written and read back by ase ------------------------------------------------------------
def ase_cube(case, shape, cell, origin=None, atoms="H2O", gz=False):
    positions_ = rng.uniform(0, 3, size=(len(ase.Atoms(atoms)), 3))
    molecule = ase.Atoms(atoms, positions=positions_, cell=cell)
    data = rng.normal(scale=10.0, size=shape) * 10.0 ** rng.integers(-3, 4, size=shape)
    path = os.path.join(work, case + ".cube")
    ase.io.write(path, molecule, data=data, origin=origin)
    with open(path) as f:
        ase_read = read_cube(f)
    if gz:
        path = gzip_copy(path)
    info, values = read_with_voxmol(case, path, "Gaussian cube, Bohr")
    # ase converts with a Bohr of its own: its lengths are rescaled to voxmol's before comparing.
    to_voxmol = BOHR / ase.units.Bohr
    steps = numpy.array(ase_read["atoms"].cell) / numpy.array(shape)[:, None] * to_voxmol
    check(case, "shape", info["shape"], ase_read["data"].shape)
    check(case, "origin", info["origin"], ase_read["origin"] * to_voxmol, rtol=1e-13)
    check(case, "axes", info["axes"], steps, rtol=1e-13)
    check(case, "values", values, ase_read["data"])


triclinic = [[6.0, 0.0, 0.0], [1.5, 5.0, 0.0], [-0.8, 1.1, 4.5]]
ase_cube("ase-orthogonal", (4, 5, 6), [4.0, 5.0, 6.0])
ase_cube("ase-triclinic", (3, 7, 5), triclinic)
ase_cube("ase-origin", (6, 2, 3), triclinic, origin=(1.25, -3.5, 0.75), atoms="C6H6")
ase_cube("ase-no-atoms", (2, 3, 4), [2.0, 3.0, 4.0], atoms="")
ase_cube("ase-single-line-axis", (1, 1, 9), [1.0, 1.0, 9.0])
ase_cube("ase-gzip", (5, 4, 3), triclinic, origin=(0.5, 0.5, 0.5), gz=True)
ase_cube("ase-large", (40, 36, 30), [20.0, 18.0, 15.0], atoms="CH4")


# ---- cubes written here -------------------------------------------------------------------------------
def number(x):
    return repr(float(x))


def write_cube(path, data, origin, steps, units, atoms=0, orbitals=None, per_point=None, per_line=6,
               crlf=False):
    """A cube in the layout Gaussian writes: `data` [i, j, k] or [i, j, k, m] (m values a point), a new
    line at the end of each k row and after every `per_line` values. `origin` and `steps` are in
    `units` ("bohr": positive counts; "angstrom": negative counts)."""
    sign = 1 if units == "bohr" else -1
    count = -atoms if orbitals is not None else atoms
    lines = ["written by cube_autodock_readers.py", "second comment line"]
    extra = f" {per_point}" if per_point is not None else ""
    lines.append(f"{count:5d} " + " ".join(number(v) for v in origin) + extra)
    for n, step in zip(data.shape[:3], steps):
        lines.append(f"{sign * n:5d} " + " ".join(number(v) for v in step))
    for a in range(atoms):
        lines.append(f"{a + 1:5d} 0.0 {a * 1.5} -0.5 2.25")
    if orbitals is not None:  # ten numbers a line, as Gaussian writes the list
        items = [len(orbitals), *orbitals]
        lines += [" ".join(f"{v:4d}" for v in items[n:n + 10]) for n in range(0, len(items), 10)]
    nx, ny = data.shape[:2]
    for i in range(nx):
        for j in range(ny):
            row = data[i, j].ravel()
            for n in range(0, len(row), per_line):
                lines.append(" ".join(f"{v:13.5E}" for v in row[n:n + per_line]))
    end = "\r\n" if crlf else "\n"
    with open(path, "w", newline="") as f:
        f.write(end.join(lines) + end)


def rounded(data):
    """The values as a cube written with "%13.5E" gives them."""
    return numpy.vectorize(lambda v: float(f"{v:13.5E}"))(data)


def hand_cube(case, shape, steps, origin, units="bohr", gz=False, **kw):
    data = rng.normal(size=shape)
    path = os.path.join(work, case + ".cube")
    write_cube(path, data, origin, steps, units, **kw)
    if gz:
        path = gzip_copy(path)
    scale = BOHR if units == "bohr" else 1.0
    description = "Gaussian cube, " + ("Bohr" if units == "bohr" else "Ångström")
    info, values = read_with_voxmol(case, path, description)
    check(case, "shape", info["shape"], shape[:3])
    check(case, "origin", info["origin"], numpy.array(origin, dtype=float) * scale)
    check(case, "axes", info["axes"], numpy.array(steps, dtype=float) * scale)
    expected = rounded(data if len(shape) == 3 else data[..., 0])
    check(case, "values", values, expected)
    return path, info, expected


skewed = [[0.4, 0.0, 0.1], [0.05, 0.3, 0.0], [-0.1, 0.2, 0.25]]
hand_cube("angstrom", (5, 4, 7), skewed, (-2.5, 1.0, 3.75), units="angstrom")
hand_cube("angstrom-gzip", (3, 3, 3), skewed, (0.0, 0.0, 0.0), units="angstrom", gz=True, atoms=2)
hand_cube("bohr-six-a-line", (4, 3, 13), skewed, (1.0, 2.0, 3.0), atoms=3)
hand_cube("one-a-line", (3, 2, 4), skewed, (0.5, -0.5, 0.0), per_line=1)
hand_cube("whole-rows-a-line", (2, 5, 11), skewed, (0.0, 0.0, 0.0), per_line=11, units="angstrom")
hand_cube("crlf", (2, 2, 3), skewed, (0.25, 0.25, 0.25), crlf=True, atoms=1)
hand_cube("values-per-point-1", (3, 4, 2), skewed, (0.0, 1.0, 0.0), per_point=1)
hand_cube("values-per-point-3", (3, 4, 2, 3), skewed, (0.0, 1.0, 0.0), per_point=3)
hand_cube("orbitals-3", (4, 3, 5, 3), skewed, (1.0, 0.0, -1.0), atoms=2, orbitals=[12, 13, 14])
hand_cube("orbitals-12", (2, 3, 4, 12), skewed, (1.0, 0.0, -1.0), atoms=1, orbitals=list(range(5, 17)))
hand_cube("orbital-1", (2, 3, 4, 1), skewed, (1.0, 0.0, -1.0), atoms=1, orbitals=[7], units="angstrom")


# ---- AutoDock maps written here -------------------------------------------------------------------------
def write_map(path, values, spacing, center, value_format="{:.3f}"):
    """An AutoDock map as AutoGrid writes it: `values` [i, j, k] of NELEMENTS + 1 points an axis,
    listed x fastest, one a line."""
    elements = [n - 1 for n in values.shape]
    with open(path, "w") as f:
        f.write("GRID_PARAMETER_FILE receptor.gpf\nGRID_DATA_FILE receptor.maps.fld\n")
        f.write("MACROMOLECULE receptor.pdbqt\n")
        f.write(f"SPACING {spacing}\nNELEMENTS {elements[0]} {elements[1]} {elements[2]}\n")
        f.write("CENTER " + " ".join(number(c) for c in center) + "\n")
        f.write("".join(value_format.format(v) + "\n" for v in values.transpose(2, 1, 0).ravel()))


def autodock_map(case, elements, spacing, center, value_format="{:.3f}", gz=False):
    values = rng.normal(scale=2.0, size=[n + 1 for n in elements])
    path = os.path.join(work, case + ".map")
    write_map(path, values, spacing, center, value_format)
    if gz:
        path = gzip_copy(path)
    info, got = read_with_voxmol(case, path, "AutoDock map")
    written = numpy.vectorize(lambda v: float(value_format.format(v)))(values)
    origin = [c - n * spacing / 2 for c, n in zip(center, elements)]
    check(case, "shape", info["shape"], values.shape)
    check(case, "origin", info["origin"], origin)
    check(case, "axes", info["axes"], numpy.diag([spacing] * 3))
    check(case, "values", got, written)
    return path, info, written


autodock_map("map-even", (4, 6, 2), 0.375, (1.5, -2.25, 3.0))
autodock_map("map-odd", (3, 5, 1), 0.5, (0.0, 10.0, -4.0))
autodock_map("map-mixed-parity", (2, 7, 4), 0.25, (-1.125, 0.5, 2.0))
autodock_map("map-single-interval", (1, 1, 1), 1.0, (0.0, 0.0, 0.0))
autodock_map("map-full-precision", (6, 4, 8), 0.2, (12.345, -6.789, 0.001), value_format="{!r}")
autodock_map("map-gzip", (8, 6, 4), 0.375, (2.0, 2.0, 2.0), gz=True)
autodock_map("map-large", (60, 40, 50), 0.375, (25.125, -3.75, 11.0))
# Planes of more than half a million points are stored value by value, not gathered.
autodock_map("map-wide-planes", (1024, 1024, 1), 0.375, (0.0, 0.0, 0.0), value_format="{:.0f}")


# ---- converted by voxmol -----------------------------------------------------------------------------------
def records(path):
    return converted_records(binary, path, os.path.join(work, "run-" + os.path.basename(path)))


def check_records(case, path, info, values):
    """Every point written once, in walk order, at origin + i*a + j*b + k*c with its value."""
    flat = numpy.asarray(values).reshape(-1)
    failures.extend(f"{case}: {p}" for p in record_problems(records(path), positions(info).reshape(-1, 3), flat, 1))


for case, shape, kw in (("convert-cube", (4, 3, 5), {}),
                        ("convert-orbitals", (3, 3, 3, 2), {"orbitals": [4, 5]})):
    path, info, expected = hand_cube(case, shape, skewed, (1.0, -2.0, 0.5), atoms=1, **kw)
    check_records(case, path, info, expected)
for case, elements in (("convert-map-even", (4, 2, 6)), ("convert-map-odd", (3, 3, 5))):
    path, info, written = autodock_map(case, elements, 0.375, (1.0, 2.0, 3.0))
    check_records(case, path, info, written)

# One grid, 9 x 7 x 5 points from (0.75, -3.375, 2.625) in steps of 0.375 Å, as a cube in Ångström, as
# an AutoDock map and in voxmol's own format: the same records.
grid = numpy.round(rng.normal(scale=3.0, size=(9, 7, 5)), 3)
origin, spacing = (0.75, -3.375, 2.625), 0.375
center = [o + (n - 1) * spacing / 2 for o, n in zip(origin, grid.shape)]
write_cube(os.path.join(work, "same.cube"), grid, origin, numpy.diag([spacing] * 3), "angstrom", atoms=1)
write_map(os.path.join(work, "same.map"), grid, spacing, center)
last = [o + (n - 1) * spacing for o, n in zip(origin, grid.shape)]
with open(os.path.join(work, "same.txt"), "w") as f:
    f.write("! the same grid in voxmol's own format\n")
    dims = " ".join(map(str, grid.shape))
    f.write(" ".join(map(repr, [*origin, *last])) + f" 0 0 {dims} 0 0 0 0 0 0\n")
    f.write("".join(f"{v:.3f}\n" for v in grid.ravel()))
written = {name: records(os.path.join(work, name)) for name in ("same.txt", "same.cube", "same.map")}
for name in ("same.cube", "same.map"):
    mine, native = written[name], written["same.txt"]
    if len(mine) != len(native):
        failures.append(f"{name}: {len(mine)} records, {len(native)} in voxmol's own format")
    for n, (got, want) in enumerate(zip(mine, native)):
        if got != want:
            failures.append(f"{name}: record {n + 1} is {got!r}, in voxmol's own format {want!r}")
            break
native_info = {"shape": list(grid.shape), "origin": list(origin), "axes": numpy.diag([spacing] * 3).tolist()}
check_records("same.txt", os.path.join(work, "same.txt"), native_info, grid)

if failures:
    sys.exit("\n".join(failures[:30]) + f"\n{len(failures)} failures")
print(f"cube and AutoDock reads agree ({len(os.listdir(work))} files in {work})")
