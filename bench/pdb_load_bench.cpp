// Load speed of a large PDB file, step by step: making the line set, the pre-scan counters, the exact
// sizing and the reader, each on lines already in memory, and pre-scan plus load together; then the
// whole file to a structure, through the line set and with the direct load. The baseline
// is one sscanf per line with the reader's fixed-column format, measured in the same run.
//
// Input: the file bench/make_big_pdb.sh makes (about 1,000,000 ATOM lines), build/bench/big.pdb by
// default or the file named by VOXMOL_BIG_PDB. Counters: lines/s over all lines, atoms/s over the
// ATOM/HETATM lines (the unit of the load target); ns per line is 1e9 divided by lines/s.
#include <benchmark/benchmark.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "pdb8.h"

namespace {

std::string big_file_name() {
    const char* env = std::getenv("VOXMOL_BIG_PDB");
    return env != nullptr ? env : std::string(VOXMOL_TEST_DATA) + "/../../build/bench/big.pdb";
}

// The big file, read once for all benchmarks.
struct BigFile {
    BigFile() {
        std::ifstream in(big_file_name(), std::ios::binary);
        if (!in) return;
        std::ostringstream text_stream;
        text_stream << in.rdbuf();
        text = text_stream.str();
        pdb_lines_from_text(text, set);
        for (int i = 0; i < set.max; ++i) {
            const char* l = set.line[static_cast<std::size_t>(i)].data();
            if (std::strncmp(l, "ATOM  ", 6) == 0 || std::strncmp(l, "HETATM", 6) == 0) ++atom_lines;
        }
    }
    std::string text;
    PDBLINES set;
    long atom_lines = 0;
};

const BigFile& big() {
    static const BigFile file;
    return file;
}

bool have_input(benchmark::State& state) {
    if (big().set.max > 0) return true;
    state.SkipWithError(("no input: run bench/make_big_pdb.sh (looked for " + big_file_name() + ")").c_str());
    return false;
}

void count_lines(benchmark::State& state) {
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(big().set.max), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["atoms/s"] = benchmark::Counter(static_cast<double>(big().atom_lines),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

// The per-chain counter prints a line per chain run; while it runs standard output goes to /dev/null.
class QuietStdout {
  public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

  private:
    int saved_;
};

// Making the line set again into the same PDBLINES, which keeps its memory (the splitting itself, and
// clearing the old text past each line)...
void BM_LineSetFromText(benchmark::State& state) {
    if (!have_input(state)) return;
    PDBLINES set;
    pdb_lines_from_text(big().text, set);
    for (auto _ : state)
        benchmark::DoNotOptimize(pdb_lines_from_text(big().text, set));
    count_lines(state);
}

void BM_LineSetFromFile(benchmark::State& state) {
    if (!have_input(state)) return;
    PDBLINES set;
    const std::string name = big_file_name();
    pdb_lines_from_file(name.c_str(), set);
    for (auto _ : state)
        benchmark::DoNotOptimize(pdb_lines_from_file(name.c_str(), set));
    count_lines(state);
}

// ... and into a new PDBLINES each time, as a tool loading one file does (fresh memory faulted in).
void BM_LineSetFromFileFresh(benchmark::State& state) {
    if (!have_input(state)) return;
    const std::string name = big_file_name();
    for (auto _ : state) {
        PDBLINES set;
        benchmark::DoNotOptimize(pdb_lines_from_file(name.c_str(), set));
    }
    count_lines(state);
}

void BM_SscanfBaseline(benchmark::State& state) {
    if (!have_input(state)) return;
    const PDBLINES& set = big().set;
    for (auto _ : state) {
        char f[19][11];
        int fields = 0;
        for (int i = 0; i < set.max; ++i)
            fields += std::sscanf(set.line[static_cast<std::size_t>(i)].data(),
                                  "%6c%5c%c%4c%c%3c%c%c%4c%c%3c%8c%8c%8c%6c%6c%10c%2c%2c", f[0], f[1], f[2],
                                  f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13], f[14],
                                  f[15], f[16], f[17], f[18]);
        benchmark::DoNotOptimize(fields);
    }
    count_lines(state);
}

void BM_PrescanWholeSet(benchmark::State& state) {
    if (!have_input(state)) return;
    const PDBLINES& set = big().set;
    int nba = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(get_pdb_res_atm_nb(set.line, set.max, &nba, 'w', 0));
    count_lines(state);
}

void BM_PrescanPerChain(benchmark::State& state) {
    if (!have_input(state)) return;
    const PDBLINES& set = big().set;
    std::vector<int> nbr(static_cast<std::size_t>(set.max) + 1), nba(nbr.size());
    {
        QuietStdout quiet;
        for (auto _ : state)
            benchmark::DoNotOptimize(get_pdb_chain_res_atm_nb(set.line, set.max, nbr, nba, 'w', 0));
    }
    count_lines(state);
}

void BM_ExactSize(benchmark::State& state) {
    if (!have_input(state)) return;
    const PDBLINES& set = big().set;
    std::vector<int> counts(static_cast<std::size_t>(set.max) + 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(get_pdb_load_size(set.line, set.max, INT_MAX, 'w', counts));
    count_lines(state);
}

void BM_Load(benchmark::State& state) {
    if (!have_input(state)) return;
    const PDBLINES& set = big().set;
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(set.line, set.max, INT_MAX, 'w', store);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, INT_MAX, 'w', 0));
    count_lines(state);
}

// The target's measure: the whole-set pre-scan and the load, into arrays allocated beforehand.
void BM_PrescanPlusLoad(benchmark::State& state) {
    if (!have_input(state)) return;
    const PDBLINES& set = big().set;
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(set.line, set.max, INT_MAX, 'w', store);
    int nba = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_pdb_res_atm_nb(set.line, set.max, &nba, 'w', 0));
        benchmark::DoNotOptimize(
            load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, INT_MAX, 'w', 0));
    }
    count_lines(state);
}

// The same with the exact sizing in place of the counters.
void BM_ExactSizePlusLoad(benchmark::State& state) {
    if (!have_input(state)) return;
    const PDBLINES& set = big().set;
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(set.line, set.max, INT_MAX, 'w', store);
    std::vector<int> counts(static_cast<std::size_t>(set.max) + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_pdb_load_size(set.line, set.max, INT_MAX, 'w', counts));
        benchmark::DoNotOptimize(
            load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, INT_MAX, 'w', 0));
    }
    count_lines(state);
}

// A file to a loaded structure, fresh memory each time, as read_structure does it: through the line set
// (pdb_lines_from_file, make_pdb_store, load_pdb), and directly (load_pdb_file, both passes on every core).
void BM_FileThroughLineSet(benchmark::State& state) {
    if (!have_input(state)) return;
    const std::string name = big_file_name();
    for (auto _ : state) {
        PDBLINES set;
        pdb_lines_from_file(name.c_str(), set);
        PDBSTORE store;
        PDBMOL mol = make_pdb_store(set.line, set.max, INT_MAX, 'w', store);
        benchmark::DoNotOptimize(
            load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, INT_MAX, 'w', 0));
    }
    count_lines(state);
}

void BM_FileDirect(benchmark::State& state) {
    if (!have_input(state)) return;
    const std::string name = big_file_name();
    for (auto _ : state) {
        PDBSTORE store;
        PDBMOL mol{};
        benchmark::DoNotOptimize(load_pdb_file(name.c_str(), INT_MAX, 'w', store, mol, 0));
    }
    count_lines(state);
}

// The direct load into a store kept from the last, whose memory is faulted in already.
void BM_FileDirectReusedStore(benchmark::State& state) {
    if (!have_input(state)) return;
    const std::string name = big_file_name();
    PDBSTORE store;
    PDBMOL mol{};
    for (auto _ : state)
        benchmark::DoNotOptimize(load_pdb_file(name.c_str(), INT_MAX, 'w', store, mol, 0));
    count_lines(state);
}

}  // namespace

BENCHMARK(BM_LineSetFromText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineSetFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineSetFromFileFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SscanfBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescanWholeSet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescanPerChain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactSize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescanPlusLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactSizePlusLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileThroughLineSet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileDirectReusedStore)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
