// One PDB file to a loaded structure, as a program using the toolkit does it: the file to a line set
// (pdb_lines_from_file), storage sized for it (make_pdb_store) and the load (load_pdb), all models and
// both ATOM and HETATM records; with -d, the direct load (load_pdb_file) instead, which gives the same
// structure. bench/run_load.sh times this whole process against another reader.
//
//   pdb_load_file FILE [-t] [-d]
// Prints "lines residues atoms" on standard output (lines: 0 with -d, which makes no line set); -t also
// prints each step's wall time in ms on standard error. Exits with status 1 when the file cannot be read.
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "pdb8.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    bool timed = false, direct = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "-t") == 0) {
            timed = true;
        } else if (std::strcmp(argv[i], "-d") == 0) {
            direct = true;
        } else {
            argc = 0;
        }
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: pdb_load_file FILE [-t] [-d]\n");
        return 2;
    }

    if (direct) {
        const auto t0 = Clock::now();
        PDBSTORE store;
        PDBMOL mol{};
        const int residues = load_pdb_file(argv[1], INT_MAX, 'w', store, mol, 0);
        const double t_load = ms_since(t0);
        if (residues < 0) {
            std::fprintf(stderr, "pdb_load_file: cannot read %s\n", argv[1]);
            return 1;
        }
        std::printf("0 %d %zu\n", residues, store.a.size());
        // The same four columns as the line-set path's, for bench/run_load.sh.
        if (timed)
            std::fprintf(
                stderr,
                "pdb_lines_from_file 0.0 ms  make_pdb_store 0.0 ms  load_pdb_file %.1f ms  total %.1f ms\n",
                t_load, t_load);
        return 0;
    }

    const auto t0 = Clock::now();
    PDBLINES lines;
    if (pdb_lines_from_file(argv[1], lines) < 0) {
        std::fprintf(stderr, "pdb_load_file: cannot read %s\n", argv[1]);
        return 1;
    }
    const double t_lines = ms_since(t0);

    const auto t1 = Clock::now();
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(lines.line, lines.max, INT_MAX, 'w', store);
    const double t_store = ms_since(t1);

    const auto t2 = Clock::now();
    const int residues = load_pdb(lines.line, std::span<PDBMOL>(&mol, 1), 0, 0, lines.max, INT_MAX, 'w', 0);
    const double t_load = ms_since(t2);

    std::printf("%d %d %zu\n", lines.max, residues, store.a.size());
    if (timed)
        std::fprintf(stderr,
                     "pdb_lines_from_file %.1f ms  make_pdb_store %.1f ms  load_pdb %.1f ms  total %.1f ms\n",
                     t_lines, t_store, t_load, t_lines + t_store + t_load);
    return 0;
}
