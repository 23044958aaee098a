// Small helpers shared by the PDB toolkit tests.
#ifndef VOXMOL_TESTS_PDB_TEST_UTIL_H
#define VOXMOL_TESTS_PDB_TEST_UTIL_H

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "pdb8.h"

namespace pdbtest {

// A record in the standard columns, without element and charge (it ends at column 66).
inline std::string rec(const char* record, int serial, const char* name, const char* rname, char chain,
                       int rnb, char icode = ' ', double x = 1.0, double y = 2.0, double z = 3.0) {
    char line[128];
    std::snprintf(line, sizeof line, "%-6s%5d %-4s %3s %c%4d%c   %8.3f%8.3f%8.3f  1.00 10.00\n", record,
                  serial, name, rname, chain, rnb, icode, x, y, z);
    return line;
}

// Runs `call` with standard output sent to standard error, where a death test looks for the fatal report.
template <typename Call>
void reporting_on_stderr(Call call) {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    call();
}

inline PDBLINES lines_of(std::string_view text) {
    PDBLINES set;
    pdb_lines_from_text(text, set);
    return set;
}

// Everything `write` prints on the stream it is given.
inline std::string written_by(const std::function<void(std::FILE*)>& write) {
    std::FILE* f = std::tmpfile();
    write(f);
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

// A structure loaded with storage sized exactly for it.
struct Loaded {
    PDBSTORE store;
    PDBMOL mol{};
    int result = 0;
};

inline Loaded load(const PDBLINES& set, int model = 0, char typ = 'w', int level = 0) {
    Loaded l;
    l.mol = make_pdb_store(set.line, set.max, model, typ, l.store);
    l.result = load_pdb(set.line, std::span<PDBMOL>(&l.mol, 1), 0, 0, set.max, model, typ, level);
    return l;
}

inline std::vector<std::filesystem::path> real_pdb_files() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(VOXMOL_TEST_DATA) + "/pdb"))
        if (entry.path().extension() == ".pdb") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace pdbtest

#endif  // VOXMOL_TESTS_PDB_TEST_UTIL_H
