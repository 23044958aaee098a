// The converter's two hot paths, per line: parsing a value line, and writing an ATOM line. Each is
// measured beside the C library call it replaces (sscanf "%lf", fprintf with the ATOM format).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dx/io/cconv.h"
#include "dx/uhbdio.h"
#include "dx/write/atom_format.h"

namespace {

// Value lines as a grid tool writes them.
std::vector<std::string> value_lines(const char* format) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<std::string> lines;
    char text[64];
    for (int i = 0; i < 4096; ++i) {
        std::snprintf(text, sizeof text, format, value(rng) * std::pow(10.0, i % 7 - 3));
        lines.emplace_back(text);
    }
    return lines;
}

void BM_ValueLine_Fast(benchmark::State& state, const char* format) {
    const auto lines = value_lines(format);
    std::size_t i = 0;
    for (auto _ : state) {
        double v;
        benchmark::DoNotOptimize(cconv::scan_value_line(lines[i++ & 4095], v));
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ValueLine_Sscanf(benchmark::State& state, const char* format) {
    const auto lines = value_lines(format);
    std::size_t i = 0;
    for (auto _ : state) {
        double v;
        benchmark::DoNotOptimize(std::sscanf(lines[i++ & 4095].c_str(), "%lf\n", &v));
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_ValueLine_Fast, exp, "%.6e\n");
BENCHMARK_CAPTURE(BM_ValueLine_Sscanf, exp, "%.6e\n");
BENCHMARK_CAPTURE(BM_ValueLine_Fast, general, "%g\n");
BENCHMARK_CAPTURE(BM_ValueLine_Sscanf, general, "%g\n");

// A 100 x 100 x 100 grid of values in [-1, 1] with 0.5 A spacing; every point is written.
struct Grid {
    Grid() : values(1000000) {
        std::mt19937_64 rng(2);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        for (double& v : values)
            v = value(rng);
        g.nx = g.ny = g.nz = 100;
        g.hx = g.hy = g.hz = 0.5;
        g.xmin = g.ymin = g.zmin = -24.75;
        g.data = values;
    }
    std::vector<double> values;
    Tuhbdgrd g{};
};

void BM_AtomLine_Writer(benchmark::State& state) {
    static const Grid grid;
    std::FILE* sink = std::fopen("/dev/null", "w");
    long serial = 0, v = 0;
    {
        atomfmt::AtomWriter writer(sink, grid.g, false);
        for (auto _ : state) {
            const long i = v / 10000, j = v / 100 % 100, k = v % 100;
            writer.write(++serial, i * 100 + j + 1, i, j, k, grid.values[v]);
            if (++v == 1000000) v = 0;
        }
    }
    std::fclose(sink);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AtomLine_Writer);

void BM_AtomLine_Fprintf(benchmark::State& state) {
    static const Grid grid;
    std::FILE* sink = std::fopen("/dev/null", "w");
    const Tuhbdgrd& g = grid.g;
    long serial = 0, v = 0;
    for (auto _ : state) {
        const long i = v / 10000, j = v / 100 % 100, k = v % 100;
        std::fprintf(sink, "%-6s%5ld %-4s%c%3s %c%4ld%c   %8.3f%8.3f%8.3f%6.2f%6.2f%-12s\n", "ATOM", ++serial,
                     "CA", ' ', "UNK", 'A', i * 100 + j + 1, ' ', g.xmin + i * g.hx, g.ymin + j * g.hy,
                     g.zmin + k * g.hz, 1.0, grid.values[v], "  ");
        if (++v == 1000000) v = 0;
    }
    std::fclose(sink);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AtomLine_Fprintf);

}  // namespace

BENCHMARK_MAIN();
