// Parsing the values of the text grid formats, per value, against voxmol's own text format: one "%.6f"
// value per line through cconv::scan_plain_value_line (what the native reader runs), and the formats that
// list several values to a line through ValueLines::take from a block reader: XPLOR/CNS ("%12.5E", six
// to a line, fixed fields), UHBD text (" %12.5e") and Situs ("%.6f", ten to a line); the E fields also
// scanned as free numbers (no field width), as any other writer's are. The same 2^20 normal values each
// time; items/s is values per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dx/formats/text_grid.h"
#include "dx/io/cconv.h"
#include "dx/io/input.h"
#include "dx/io/lines.h"

namespace {

constexpr std::size_t kValues = std::size_t{1} << 20;

// The values' text, `per_line` of them to a line, each printed with `form`.
std::string text_of(const char* form, int per_line) {
    std::mt19937_64 rng(1);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::string text;
    char field[64];
    for (std::size_t n = 0; n < kValues; ++n) {
        std::snprintf(field, sizeof field, form, normal(rng));
        text += field;
        if ((n + 1) % static_cast<std::size_t>(per_line) == 0 || n + 1 == kValues) {
            text += '\n';
        } else if (per_line > 1 && form[0] == '%' && form[1] == '.') {
            text += ' ';
        }
    }
    return text;
}

class MemorySource final : public io::Source {
  public:
    explicit MemorySource(const std::string& text) : text_(text) {}
    std::size_t read(char* dst, std::size_t n) override {
        const std::size_t take = std::min(n, text_.size() - at_);
        std::memcpy(dst, text_.data() + at_, take);
        at_ += take;
        return take;
    }

  private:
    const std::string& text_;
    std::size_t at_ = 0;
};

void BM_NativeValueLines(benchmark::State& state) {
    const std::string text = text_of("%.6f", 1);
    std::vector<double> values(kValues);
    for (auto _ : state) {
        const char* p = text.data();
        const char* const e = p + text.size();
        std::size_t n = 0;
        double v;
        while (const char* next = cconv::scan_plain_value_line(p, e, v)) {
            values[n++] = v;
            p = next;
        }
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_NativeValueLines);

// ValueLines::take over the whole text, as the readers run it (`width` 0: no fixed fields).
void take_all(benchmark::State& state, const char* form, int per_line, std::size_t width) {
    const std::string text = text_of(form, per_line);
    std::vector<double> values(kValues);
    for (auto _ : state) {
        MemorySource source(text);
        io::BlockReader in(source);
        gridfmt::ValueLines lines(in, 0, width);
        const std::size_t got = lines.take(reinterpret_cast<char*>(values.data()), kValues);
        if (got != kValues) state.SkipWithError("not every value was taken");
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kValues));
}

void BM_XplorFields(benchmark::State& state) {
    take_all(state, "%12.5E", 6, 12);
}
BENCHMARK(BM_XplorFields);

void BM_XplorScanned(benchmark::State& state) {
    take_all(state, "%12.5E", 6, 0);
}
BENCHMARK(BM_XplorScanned);

void BM_UhbdFields(benchmark::State& state) {
    take_all(state, " %12.5e", 6, 13);
}
BENCHMARK(BM_UhbdFields);

void BM_UhbdScanned(benchmark::State& state) {
    take_all(state, " %12.5e", 6, 0);
}
BENCHMARK(BM_UhbdScanned);

void BM_Situs(benchmark::State& state) {
    take_all(state, "%.6f", 10, 0);
}
BENCHMARK(BM_Situs);

}  // namespace

BENCHMARK_MAIN();
