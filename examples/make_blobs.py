#!/usr/bin/env python3
"""Writes examples/blobs.txt: a 24x24x24 grid of three Gaussian blobs (two positive, one negative)
on a 1 Angstrom lattice, in voxmol's grid data format."""
import math
import pathlib

N = 24
LOW = -11.5
BLOBS = [  # centre, width (sigma), height
    ((-4.0, -3.0, 2.0), 2.5, 2.0),
    ((5.0, 4.0, -3.0), 2.0, 1.6),
    ((1.0, -6.0, -5.0), 1.5, -1.8),
]


def value(x, y, z):
    total = 0.0
    for (cx, cy, cz), sigma, height in BLOBS:
        d2 = (x - cx) ** 2 + (y - cy) ** 2 + (z - cz) ** 2
        total += height * math.exp(-d2 / (2.0 * sigma * sigma))
    return total


def main():
    high = LOW + (N - 1)
    lines = [
        "! voxmol example grid: three Gaussian blobs on a 24x24x24 lattice, spacing 1 A",
        "! header: minX minY minZ maxX maxY maxZ numVerts numCells dimX dimY dimZ originX originY originZ spanX spanY spanZ",
        "! then one value per line, z fastest, then y, then x",
        f"{LOW} {LOW} {LOW} {high} {high} {high} {N**3} {(N-1)**3} {N} {N} {N} {LOW} {LOW} {LOW} {N-1}.0 {N-1}.0 {N-1}.0",
    ]
    for i in range(N):
        for j in range(N):
            for k in range(N):
                lines.append("%.6e" % value(LOW + i, LOW + j, LOW + k))
    out = pathlib.Path(__file__).with_name("blobs.txt")
    out.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
