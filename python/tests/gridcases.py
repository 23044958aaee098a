"""Grid files of every format voxmol reads, each written by an independent writer where one exists (gridData
for OpenDX, gemmi and mrcfile for CCP4/MRC, ase for cube; voxmol's own text and AutoDock maps, which no
Debian package writes, from the format's rules here), with what an independent reader finds in it: values
[i, j, k], origin, step vectors and the relative tolerance of the values."""
import gzip
import shutil
from dataclasses import dataclass, field
from typing import Optional

import numpy as np

from support import ROOT, TEST_DATA, need

BOHR = 0.529177210903  # Angstrom per Bohr, as voxmol converts a cube


@dataclass
class Reference:
    values: np.ndarray
    origin: np.ndarray
    axes: np.ndarray
    rtol: float = 0.0  # of the values; the geometry is compared to 1e-9


@dataclass
class Case:
    path: str
    reference: Optional[Reference]  # None: no independent reader reads the file
    order: str = "XYZ"  # the -o of a voxmol text file
    args: list = field(default_factory=list)  # the same for the command line
    also: list = field(default_factory=list)  # what a second independent reader finds


def by_griddata(path, **options):
    """gridData's read of a grid along the axes."""
    gridData = need("gridData")
    g = gridData.Grid(str(path), **options)
    return Reference(np.asarray(g.grid, dtype=float), np.asarray(g.origin, dtype=float), np.diag(g.delta))


def smooth(shape, scale=1.6):
    """A smooth field crossing the window (-1, 1), so that every window and step writes something."""
    i, j, k = np.meshgrid(*(np.arange(n) for n in shape), indexing="ij")
    return scale * np.sin(0.5 * i + 0.3) * np.cos(0.4 * j) + 0.1 * k - 0.4


def gzipped(path):
    with open(path, "rb") as f, gzip.open(str(path) + ".gz", "wb") as g:
        shutil.copyfileobj(f, g)
    return str(path) + ".gz"


def native(folder, name, shape=(7, 6, 5), origin=(-3.5, 2.0, 0.25), step=(0.5, 0.75, 1.25), order="XYZ",
           gz=False):
    values = smooth(shape)
    lo = np.array(origin, dtype=float)
    hi = lo + (np.array(shape) - 1) * np.array(step)
    path = folder / f"{name}.txt"
    listed = values.ravel(order="F" if order == "ZYX" else "C")
    with open(path, "w") as f:
        f.write("! written by the module's tests\n")
        header = [*lo, *hi, values.size, 0, *shape, *lo, *(hi - lo)]
        f.write(" ".join(repr(float(v)) if isinstance(v, (float, np.floating)) else str(v) for v in header))
        f.write("\n")
        f.write("".join(f"{v!r}\n" for v in listed.tolist()))
    # A single point has no neighbour: spacing 0.
    spacing = np.array([abs((h - l) / (n - 1)) if n > 1 else 0.0 for l, h, n in zip(lo, hi, shape)])
    ref = Reference(values, lo, np.diag(spacing))
    args = ["-o", order] if order != "XYZ" else []
    return Case(gzipped(path) if gz else str(path), ref, order, args)


def opendx(folder, name, gz=False):
    gridData = need("gridData")
    values = smooth((6, 5, 4))
    path = folder / f"{name}.dx"
    gridData.Grid(values, origin=(1.5, -2.0, 0.125), delta=(0.5, 0.25, 1.0)).export(str(path))
    return Case(gzipped(path) if gz else str(path), by_griddata(path))


def ccp4_gemmi(folder, name, cell):
    gemmi = need("gemmi")
    shape = (8, 6, 10)
    grid = gemmi.FloatGrid(*shape)
    grid.set_unit_cell(gemmi.UnitCell(*cell))
    np.array(grid, copy=False)[:] = smooth(shape).astype(np.float32)
    m = gemmi.Ccp4Map()
    m.grid = grid
    m.update_ccp4_header(2)
    path = folder / f"{name}.ccp4"
    m.write_ccp4_map(str(path))
    back = gemmi.read_ccp4_map(str(path))
    values = np.array(back.grid, copy=False).astype(float)  # axis order 1 2 3: [x, y, z]
    orth = np.array(back.grid.unit_cell.orthogonalization_matrix.tolist())
    axes = (orth / np.array(shape)).T  # step d: column d of the matrix over the points along d
    orthogonal = all(angle == 90 for angle in cell[3:])
    also = [by_griddata(path)] if orthogonal else []
    return Case(str(path), Reference(values, np.zeros(3), axes), also=also)


def mrc_mrcfile(folder, name, gz=False):
    mrcfile = need("mrcfile")
    values = smooth((5, 7, 6)).astype(np.float32)
    path = folder / f"{name}.mrc"
    with mrcfile.new(str(path), overwrite=True) as m:
        m.set_data(np.ascontiguousarray(values.transpose(2, 1, 0)))  # [section, row, column]
        m.voxel_size = (0.75, 0.5, 1.25)
        m.header.origin = (10.5, -4.25, 3.0)
    with mrcfile.open(str(path)) as m:
        values = np.array(m.data, dtype=float).transpose(2, 1, 0)
        origin = np.array([m.header.origin.x, m.header.origin.y, m.header.origin.z], dtype=float)
        voxel = np.array([m.voxel_size.x, m.voxel_size.y, m.voxel_size.z], dtype=float)
    also = [by_griddata(path, file_format="MRC")]
    return Case(gzipped(path) if gz else str(path), Reference(values, origin, np.diag(voxel)), also=also)


def cube_ase(folder, name, cell, origin=None, gz=False):
    need("ase")
    import ase
    import ase.io
    import ase.units
    from ase.io.cube import read_cube

    shape = (4, 6, 5)
    rng = np.random.default_rng(3)
    molecule = ase.Atoms("H2O", positions=rng.uniform(0, 3, size=(3, 3)), cell=cell)
    path = folder / f"{name}.cube"
    ase.io.write(str(path), molecule, data=smooth(shape), origin=origin)
    with open(path) as f:
        back = read_cube(f)
    # ase converts with a Bohr of its own: its lengths rescaled to voxmol's.
    to_voxmol = BOHR / ase.units.Bohr
    axes = np.array(back["atoms"].cell) / np.array(shape)[:, None] * to_voxmol
    ref = Reference(np.asarray(back["data"], dtype=float), back["origin"] * to_voxmol, axes, rtol=1e-15)
    return Case(gzipped(path) if gz else str(path), ref)


def autodock(folder, name, elements=(6, 4, 8), spacing=0.375, center=(1.5, -2.25, 3.0)):
    values = smooth([n + 1 for n in elements])
    path = folder / f"{name}.map"
    with open(path, "w") as f:
        f.write("GRID_PARAMETER_FILE receptor.gpf\nGRID_DATA_FILE receptor.maps.fld\n")
        f.write("MACROMOLECULE receptor.pdbqt\n")
        f.write(f"SPACING {spacing}\nNELEMENTS {elements[0]} {elements[1]} {elements[2]}\n")
        f.write("CENTER " + " ".join(repr(float(c)) for c in center) + "\n")
        # x fastest, one value a line, as AutoGrid writes them
        f.write("".join(f"{v:.3f}\n" for v in values.transpose(2, 1, 0).ravel()))
    written = np.round(values, 3)
    origin = np.array(center) - np.array(elements) * spacing / 2
    return Case(str(path), Reference(written, origin, np.diag([spacing] * 3), rtol=1e-15))


def real(path, format):
    """A file another program wrote, kept in the repository; gridData reads the text OpenDX ones."""
    return Case(str(path), by_griddata(path) if format == "opendx" else None)


GRIDS = TEST_DATA / "grids"
TRICLINIC = [[6.0, 0.0, 0.0], [1.5, 5.0, 0.0], [-0.8, 1.1, 4.5]]
MAKERS = {
    "native": lambda d: native(d, "native"),
    "native-gzip": lambda d: native(d, "native-gz", gz=True),
    "native-zyx": lambda d: native(d, "native-zyx", shape=(5, 4, 6), order="ZYX"),
    "native-single-plane": lambda d: native(d, "native-plane", shape=(9, 11, 1)),
    "opendx": lambda d: opendx(d, "opendx"),
    "opendx-gzip": lambda d: opendx(d, "opendx-gz", gz=True),
    "ccp4-gemmi-orthogonal": lambda d: ccp4_gemmi(d, "ortho", (16.0, 9.0, 12.5, 90, 90, 90)),
    "ccp4-gemmi-triclinic": lambda d: ccp4_gemmi(d, "tric", (16.0, 9.0, 12.5, 66, 83, 117)),
    "mrc-mrcfile": lambda d: mrc_mrcfile(d, "mrcfile"),
    "mrc-mrcfile-gzip": lambda d: mrc_mrcfile(d, "mrcfile-gz", gz=True),
    "cube-ase": lambda d: cube_ase(d, "ase", [4.0, 6.0, 5.0]),
    "cube-ase-triclinic": lambda d: cube_ase(d, "ase-tric", TRICLINIC, origin=(1.25, -3.5, 0.75)),
    "cube-ase-gzip": lambda d: cube_ase(d, "ase-gz", TRICLINIC, gz=True),
    "autodock": lambda d: autodock(d, "autodock"),
    "real-apbs-potential-dx-gzip": lambda d: real(GRIDS / "apbs_ubiquitin_potential.dx.gz", "opendx"),
    "real-apbs-potential-dxbin-gzip": lambda d: real(GRIDS / "apbs_ubiquitin_potential.dxbin.gz", ""),
    "real-ccp4-permuted": lambda d: real(GRIDS / "ccp4_permuted.mrc", ""),
    "example-potential": lambda d: real(ROOT / "examples/ubiquitin-potential.dx.gz", "opendx"),
    "example-blobs": lambda d: real(ROOT / "examples/blobs.txt", ""),
}
NAMES = list(MAKERS)
WITHOUT_READER = ("real-apbs-potential-dxbin-gzip", "real-ccp4-permuted", "example-blobs")
WITH_REFERENCE = [n for n in NAMES if n not in WITHOUT_READER]


def make(name, folder):
    return MAKERS[name](folder)
