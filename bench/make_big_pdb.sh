#!/usr/bin/env bash
# Makes a large PDB file for the load benchmark by replicating the ATOM and HETATM records of the real
# test files until there are about N of them (default 1,000,000). Each copy of a file gets the next
# chain letter (A-Z, a-z, 0-9, round and round) and every record a new serial number (1 to 99999, then
# again from 1), so residues of different copies never run together. A TER closes each copy.
#
#   bench/make_big_pdb.sh [output [N [file ...]]]    default output: build/bench/big.pdb
# The files replicated are those named after N, by default every tests/data/pdb/*.pdb (another reader
# that refuses some of those files' records can be given a file made of the others).
# Needs only bash and awk.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/../build/bench/big.pdb}
want=${2:-1000000}
shift $(($# < 2 ? $# : 2))
sources=("$@")
[ ${#sources[@]} -gt 0 ] || sources=("$here"/../tests/data/pdb/*.pdb)
mkdir -p "$(dirname "$out")"

awk -v want="$want" '
    BEGIN { chains = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789" }
    FNR == 1 { nfiles++ }
    {
        sub(/\r$/, "")
        rec = substr($0, 1, 6)
        if (rec == "ATOM  " || rec == "HETATM") { line[nfiles, ++count[nfiles]] = $0 }
    }
    END {
        print "REMARK   1 REPLICATED TEST RECORDS FOR THE LOAD BENCHMARK"
        made = 0; serial = 0; copy = 0
        while (made < want) {
            for (f = 1; f <= nfiles && made < want; f++) {
                if (count[f] == 0) continue
                chain = substr(chains, copy % length(chains) + 1, 1)
                copy++
                for (i = 1; i <= count[f] && made < want; i++) {
                    l = line[f, i]
                    while (length(l) < 22) l = l " "
                    serial = serial % 99999 + 1
                    printf "%s%5d%s%s%s\n", substr(l, 1, 6), serial, substr(l, 12, 10), chain, substr(l, 23)
                    made++
                }
                printf "TER   %5d\n", serial
            }
        }
        print "END"
    }
' "${sources[@]}" > "$out"

echo "$out: $(grep -c -E '^(ATOM  |HETATM)' "$out") ATOM/HETATM lines, $(wc -l < "$out") lines"
