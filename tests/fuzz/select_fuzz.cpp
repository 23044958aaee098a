// The residue-selection language against a small fixed structure: the input's first line is an
// expression, the rest an item list.
#include <array>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "pdb8.h"

namespace {

// Two chains, an insertion code, a repeated residue key and a blank chain.
const char* const kStructure =
    "ATOM      1  N   ALA A  10      11.104   6.134  -6.504  1.00  0.00           N\n"
    "ATOM      2  CA  ALA A  10      11.639   6.071  -5.147  1.00  0.00           C\n"
    "ATOM      3  CA  GLY A  11      12.000   7.000  -4.000  1.00  0.00           C\n"
    "ATOM      4  CA  GLY A  11A     12.500   7.500  -3.500  1.00  0.00           C\n"
    "ATOM      5  CA  SER B   5      13.000   8.000  -3.000  1.00  0.00           C\n"
    "ATOM      6  CA  SER B  20      14.000   9.000  -2.000  1.00  0.00           C\n"
    "ATOM      7  CA  ALA A  10      15.000  10.000  -1.000  1.00  0.00           C\n"
    "HETATM    8  O   HOH    99      16.000  11.000   0.000  1.00  0.00           O\n";

struct Structure {
    Structure() {
        pdb_lines_from_text(kStructure, lines);
        mol = make_pdb_store(lines.line, lines.max, 0, 'w', store);
        std::vector<PDBMOL> set = {mol};
        max = load_pdb(lines.line, set, 0, 0, lines.max, 0, 'w', 0);
        mol = set[0];
    }
    PDBLINES lines;
    PDBSTORE store;
    PDBMOL mol{};
    int max = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::setup();
    static Structure s;
    const std::string text = fuzz::text(data, size);
    const std::size_t nl = text.find('\n');
    const std::string expression = text.substr(0, nl);
    const std::string list = nl == std::string::npos ? std::string() : text.substr(nl + 1);
    std::vector<int> selection(static_cast<std::size_t>(s.max));

    fuzz::run([&] {
        std::string buf = expression;
        std::vector<std::string> tokens;
        split_range(buf, tokens, 3);
    });
    fuzz::run([&] {
        std::string buf = list;
        std::vector<std::array<std::string, 2>> pairs;
        split_range1(buf, pairs, 3);
    });
    fuzz::run([&] { get_res_pattern(expression, 3); });
    for (const int NOT : {0, 1}) {
        fuzz::run([&] { read_res_pattern(expression, s.mol, s.max, selection, NOT, 3); });
    }
    fuzz::run([&] { get_pdb_index(s.mol, s.max, expression, 3); });
    return 0;
}
