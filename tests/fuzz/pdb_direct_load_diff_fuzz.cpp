// Differential: the direct load against the line-set path on arbitrary text, whole and cut into parts at
// places the input chooses (its first two bytes), for each record kind and a few model numbers. The
// stores, results and output must agree byte for byte; a fatal error in one must be one in the other.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "pdb8.h"
#include "pdb8/direct_load.h"

namespace {

struct Load {
    PDBSTORE store;
    PDBMOL mol{};
    int result = -3;
    bool fatal = false;
};

template <class Work>
Load loaded(Work work) {
    Load l;
    l.fatal = true;
    fuzz::run([&] {
        l.result = work(l);
        l.fatal = false;
    });
    return l;
}

void expect_same(const Load& a, const Load& b) {
    if (a.fatal != b.fatal) std::abort();
    if (a.fatal) return;
    if (a.result != b.result || a.mol.nbofr != b.mol.nbofr || a.store.a.size() != b.store.a.size() ||
        a.store.r.size() != b.store.r.size())
        std::abort();
    for (std::size_t i = 0; i < a.store.a.size(); ++i)
        if (std::memcmp(&a.store.a[i], &b.store.a[i], sizeof(PDBATOM)) != 0) std::abort();
    for (std::size_t i = 0; i < a.store.r.size(); ++i) {
        PDBRESI x = a.store.r[i], y = b.store.r[i];
        const auto first = [](const PDBRESI& r, const PDBSTORE& s) {
            return r.a.empty() ? 0 : r.a.data() - s.a.data();
        };
        if (x.a.size() != y.a.size() || first(x, a.store) != first(y, b.store)) std::abort();
        x.a = y.a = {};
        if (std::memcmp(&x, &y, sizeof x) != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    if (size < 2) return 0;
    const std::string text = fuzz::text(data + 2, size - 2);
    const std::uint64_t a = text.size() * data[0] / 255, b = a + (text.size() - a) * data[1] / 255;
    PDBLINES lines;
    pdb_lines_from_text(text, lines);
    for (const char typ : {'a', 'h', 'w'}) {
        for (const int model : {0, 1, 99}) {
            const Load want = loaded([&](Load& l) {
                l.mol = make_pdb_store(lines.line, lines.max, model, typ, l.store);
                return load_pdb(lines.line, std::span<PDBMOL>(&l.mol, 1), 0, 0, lines.max, model, typ, 0);
            });
            expect_same(want,
                        loaded([&](Load& l) { return load_pdb_text(text, model, typ, l.store, l.mol, 0); }));
            const pdblines::Source source{-1, text};
            for (const pdbdirect::Plan& plan : {pdbdirect::Plan{{a}, pdbdirect::kBlock, false},
                                                pdbdirect::Plan{{a, b}, pdbdirect::kBlock, false}})
                expect_same(want, loaded([&](Load& l) {
                                return pdbdirect::load(source, plan, model, typ, l.store, l.mol, 0);
                            }));
        }
    }
    return 0;
}
