// The PDB line-set helper, both pre-scan counters, the reader (with its residue echo), the record
// display and the shape summary on arbitrary text. Arrays are sized both exactly and from the word
// counters, which may under-count: the reader must then refuse, never write past them.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "math_tool2.h"
#include "pdb8.h"

namespace {

std::FILE* sink() {
    static std::FILE* f = std::fopen("/dev/null", "w");
    return f;
}

void load_and_show(const PDBLINES& lines, char typ, int model) {
    PDBSTORE store;
    PDBMOL mol = make_pdb_store(lines.line, lines.max, model, typ, store);
    std::vector<PDBMOL> set = {mol};
    const int n = load_pdb(lines.line, set, 0, 0, lines.max, model, typ, 4);
    for (int i = 0; i < n; ++i) {
        display_pdbres(sink(), set[0], i, 'w');
        display_pdb1res(sink(), set[0].r[i]);
        if (set[0].r[i].rnbofa > 0) display_pdb1atm(sink(), set[0].r[i], 0);
        is_nuc(set[0].r[i], 3);
    }
    get_pdb_rad_gyr(set[0], n, ' ', 3);
    get_pdb_rad_gyr(set[0], n, 'A', 3);
}

// Arrays sized from the word counters, as a caller of the old interface would.
void load_sized_by_counters(const PDBLINES& lines, char typ) {
    int nba = 0;
    const int nbr = get_pdb_res_atm_nb(lines.line, lines.max, &nba, typ, 0);
    std::vector<PDBATOM> atoms(static_cast<std::size_t>(nbr) * static_cast<std::size_t>(nba > 0 ? nba : 1));
    std::vector<PDBRESI> residues(static_cast<std::size_t>(nbr));
    for (std::size_t i = 0; i < residues.size(); ++i) {
        residues[i].a = std::span<PDBATOM>(atoms).subspan(i * static_cast<std::size_t>(nba > 0 ? nba : 1),
                                                          static_cast<std::size_t>(nba > 0 ? nba : 1));
    }
    std::vector<PDBMOL> set(1);
    set[0].r = residues;
    load_pdb(lines.line, set, 0, 0, lines.max, 9999, typ, 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    const std::string text = fuzz::text(data, size);
    PDBLINES lines;
    pdb_lines_from_text(text, lines);
    for (const char typ : {'a', 'h', 'w', 'x'}) {
        fuzz::run([&] {
            std::vector<int> nbr(static_cast<std::size_t>(lines.max) + 1), nba(nbr.size());
            get_pdb_chain_res_atm_nb(lines.line, lines.max, nbr, nba, typ, 0);
        });
        fuzz::run([&] { find_beginning1(lines.line); });
        fuzz::run([&] { load_and_show(lines, typ, typ == 'w' ? 1 : 0); });
        fuzz::run([&] { load_sized_by_counters(lines, typ); });
    }
    return 0;
}
