// The direct load (load_pdb_file, load_pdb_text) against the line-set path (pdb_lines_from_text,
// make_pdb_store, load_pdb), which is the reference: the same store byte for byte, the same PDBMOL, the
// same result and the same output, on every real PDB file and on edge texts cut into parts at every byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pdb8.h"
#include "pdb8/columns.h"
#include "pdb8/direct_load.h"
#include "pdb8/scan.h"
#include "pdb_test_util.h"

namespace {

namespace fs = std::filesystem;
using pdbtest::rec;

struct Load {
    int model;
    char typ;
    int level;
};
// All models or some, each record kind, a kind that selects nothing; level 4 echoes every residue.
constexpr Load kLoads[] = {{99, 'w', 0},      {1, 'w', 2},  {0, 'a', 0},
                           {INT_MAX, 'h', 0}, {99, 'x', 0}, {2, 'w', 4}};

// A load and everything it printed.
struct Result {
    pdbtest::Loaded l;
    std::string printed;
};

struct Fatal {
    std::string where, message;
};

// What the load printed is captured at the levels that print (loads at level 0 print nothing either way).
// A fatal error is reported as the case's failure, and the other cases go on.
template <class Work>
Result run(int level, Work work) {
    set_fatal_report([](std::string_view where, std::string_view message) {
        throw Fatal{std::string(where), std::string(message)};
    });
    Result r;
    if (level > 0) testing::internal::CaptureStdout();
    try {
        r.l.result = work(r.l);
    } catch (const Fatal& fatal) {
        r.l.result = -2;
        ADD_FAILURE() << "fatal error at " << fatal.where << ": " << fatal.message;
    }
    if (level > 0) r.printed = testing::internal::GetCapturedStdout();
    set_fatal_report(nullptr);
    return r;
}

Result reference(const std::string& text, const Load& how) {
    return run(how.level, [&](pdbtest::Loaded& l) {
        const PDBLINES set = pdbtest::lines_of(text);
        l.mol = make_pdb_store(set.line, set.max, how.model, how.typ, l.store);
        return load_pdb(set.line, std::span<PDBMOL>(&l.mol, 1), 0, 0, set.max, how.model, how.typ, how.level);
    });
}

Result direct(const pdblines::Source& source, const pdbdirect::Plan& plan, const Load& how) {
    return run(how.level, [&](pdbtest::Loaded& l) {
        return pdbdirect::load(source, plan, how.model, how.typ, l.store, l.mol, how.level);
    });
}

// Residues and atoms byte for byte; a residue's atoms compared as their place in the store.
void expect_same(const Result& want, const Result& got, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(got.l.result, want.l.result);
    ASSERT_EQ(got.l.mol.nbofr, want.l.mol.nbofr);
    ASSERT_EQ(got.l.mol.chain, want.l.mol.chain);
    ASSERT_EQ(got.l.mol.r.data(), got.l.store.r.data());
    ASSERT_EQ(got.l.mol.r.size(), want.l.mol.r.size());
    ASSERT_EQ(got.l.store.a.size(), want.l.store.a.size());
    for (std::size_t i = 0; i < want.l.store.a.size(); ++i)
        ASSERT_EQ(std::memcmp(&got.l.store.a[i], &want.l.store.a[i], sizeof(PDBATOM)), 0) << "atom " << i;
    for (std::size_t i = 0; i < want.l.store.r.size(); ++i) {
        PDBRESI a = want.l.store.r[i], b = got.l.store.r[i];
        const auto place = [](const PDBRESI& res, const PDBSTORE& s) {
            return std::pair(res.a.empty() ? 0 : res.a.data() - s.a.data(), res.a.size());
        };
        ASSERT_EQ(place(b, got.l.store), place(a, want.l.store)) << "residue " << i;
        a.a = b.a = {};
        ASSERT_EQ(std::memcmp(&a, &b, sizeof(PDBRESI)), 0) << "residue " << i;
    }
    EXPECT_EQ(got.printed, want.printed);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fs::path> all_pdb_files() {
    std::vector<fs::path> files = pdbtest::real_pdb_files();
    if (fs::is_directory("/work/shared/data/pdb"))
        for (const auto& entry : fs::directory_iterator("/work/shared/data/pdb"))
            if (entry.path().extension() == ".pdb") files.push_back(entry.path());
    return files;
}

// Cut offsets that split a text of `size` bytes into `parts` parts of about equal size, shifted by `skew`.
std::vector<std::uint64_t> even_cuts(std::size_t size, unsigned parts, std::size_t skew) {
    std::vector<std::uint64_t> cuts;
    for (unsigned j = 1; j < parts; ++j)
        cuts.push_back(size * j / parts + skew);
    return cuts;
}

struct OpenFile {
    explicit OpenFile(const fs::path& path) : fd(::open(path.c_str(), O_RDONLY)) {}
    ~OpenFile() { ::close(fd); }
    int fd;
};

TEST(DirectLoad, EveryRealFileLoadsAsTheLineSetLoadsIt) {
    for (const fs::path& path : all_pdb_files()) {
        const std::string text = read_file(path);
        const OpenFile file(path);
        for (const Load& how : kLoads) {
            const std::string what =
                path.filename().string() + " model " + std::to_string(how.model) + " " + how.typ;
            const Result want = reference(text, how);
            expect_same(want,
                        run(how.level,
                            [&](pdbtest::Loaded& l) {
                                return load_pdb_file(path.c_str(), how.model, how.typ, l.store, l.mol,
                                                     how.level);
                            }),
                        what + ", load_pdb_file");
            expect_same(want,
                        run(how.level,
                            [&](pdbtest::Loaded& l) {
                                return load_pdb_text(text, how.model, how.typ, l.store, l.mol, how.level);
                            }),
                        what + ", load_pdb_text");
            // In parts, the file read in blocks of a few lines.
            for (unsigned parts = 2; parts <= 5; ++parts) {
                const pdbdirect::Plan plan{even_cuts(text.size(), parts, parts * 13), 300};
                expect_same(want, direct(pdblines::Source{file.fd, {}}, plan, how),
                            what + " in " + std::to_string(parts));
            }
        }
    }
}

// Texts that once broke a reader, or might: each is loaded in two parts cut at every byte, and in three.
struct EdgeText {
    const char* name;
    std::string text;
};

std::vector<EdgeText> edge_texts() {
    const std::string a1 = rec("ATOM", 1, " N", "ALA", 'A', 1), a2 = rec("ATOM", 2, " CA", "ALA", 'A', 1);
    const std::string b1 = rec("ATOM", 3, " N", "GLY", 'A', 2, ' ', -1.5, 2.25, 300.125);
    const std::string h1 = rec("HETATM", 4, " O", "HOH", 'W', 7, 'B', 9.0, 8.0, 7.0);
    const auto crlf = [](std::string line) {  // every record ends in "\n"
        line.pop_back();
        return line + "\r\n";
    };
    const auto padded = [](std::string line, std::size_t length) {
        line.pop_back();
        line.resize(length, 'x');
        return line + "\n";
    };
    return {
        {"CRLF from a Windows tool", crlf(a1) + crlf(a2) + crlf(b1) + crlf("END\n")},
        {"a CR kept on a last line without a line end", a1 + a2 + b1.substr(0, b1.size() - 1) + "\r"},
        {"a CR inside a line", a1 + "ATOM      2  CA  ALA A   1    \r  1.000   2.000   3.000\n" + b1},
        {"lines of 127, 128 and 129 characters", padded(a1, 127) + crlf(padded(a2, 127)) +
                                                     crlf(padded(a2, 128)) + padded(b1, 129) +
                                                     padded(h1, 1000) + a1},
        {"a NUL in the residue key and in the coordinates",
         a1 + std::string("ATOM      2  CA  ALA A  ") + '\0' + "1    9.000\n" +
             "ATOM      3  C   ALA A   1   " + '\0' + "1.000\n" + b1},
        {"no record: nothing", ""},
        {"no record: a header and blank lines", "HEADER    TEST\nREMARK   1 ATOM IS NOT A RECORD HERE\n\n\n"},
        {"a header line with a key in its columns, then a short first record",
         "HEADER    TEST\nREMARK   2 xxxxxxxxxxB  42Z TEXT\nATOM      1  N\n" + a1},
        {"MODEL records, numbered, blank-led and without a number",
         "REMARK  MODEL 9 IN A REMARK\n" + a1 + "MODEL        1\n" + a2 + "ENDMDL\n MODEL    2\n" + b1 + h1 +
             "ENDMDL\nMODEL\n" + a1 + "MODEL        3\n" + a2 + b1 + "ENDMDL\n"},
        {"short lines and fields that do not convert carry over",
         a1 + "ATOM  *****  CB  ALA A   1       1.5\n" + "ATOM  A0000  CG  ALA A\n" + "TER      77\n" +
             "ATOM      8  O   ALA A   1       nan  1.0e+01         1.00\n" + "ATOM      9  OXT\n" +
             "ATOM\n" + "ATOM     10  N   GLY A   2  \n" +
             "ATOM     11  CA  GLY  \t  2    -0.5 +12.000  .500  -.5\n" + b1},
        {"a residue continued by a record with a shorter name",
         a1 + a2 + "ATOM      5  CB  AL\n" + a2 + b1 + h1},
        {"blank and text lines between records",
         "\n" + a1 + "\n   \nREMARK x\n" + a2 + "TER\n\n" + b1 + h1 + "END"},
    };
}

TEST(DirectLoad, EdgeTextsInPartsCutAtEveryByte) {
    for (const EdgeText& edge : edge_texts()) {
        const std::string& text = edge.text;
        for (const Load& how : kLoads) {
            const std::string what =
                std::string(edge.name) + ", model " + std::to_string(how.model) + " " + how.typ;
            const Result want = reference(text, how);
            const pdblines::Source source{-1, text};
            expect_same(want, direct(source, {}, how), what);
            // The parts filled one after the other here (by threads of their own in the other tests): two
            // parts cut at every byte, three cut at every two line starts.
            std::vector<std::uint64_t> starts{0};
            for (std::size_t cut = 0; cut <= text.size() + 1; ++cut) {
                expect_same(want, direct(source, pdbdirect::Plan{{cut}, pdbdirect::kBlock, false}, how),
                            what + ", cut at " + std::to_string(cut));
                if (cut > 0 && cut <= text.size() && text[cut - 1] == '\n') starts.push_back(cut);
            }
            for (const std::uint64_t a : starts)
                for (const std::uint64_t b : starts)
                    if (a < b)
                        expect_same(want,
                                    direct(source, pdbdirect::Plan{{a, b}, pdbdirect::kBlock, false}, how),
                                    what + ", cuts at " + std::to_string(a) + " and " + std::to_string(b));
        }
    }
}

TEST(DirectLoad, FilesReadInSmallBlocksAndStreams) {
    const fs::path dir = fs::path(testing::TempDir()) / ("voxmol_direct_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const EdgeText& edge : edge_texts()) {
        const fs::path path = dir / "edge.pdb";
        std::ofstream(path, std::ios::binary) << edge.text;
        const OpenFile file(path);
        for (const Load& how : kLoads) {
            const Result want = reference(edge.text, how);
            for (const std::size_t block : {std::size_t{256}, std::size_t{300}, std::size_t{4096}})
                expect_same(want,
                            direct(pdblines::Source{file.fd, {}},
                                   pdbdirect::Plan{{edge.text.size() / 2}, block}, how),
                            std::string(edge.name) + ", blocks of " + std::to_string(block));
        }
        // A stream that cannot be read twice: a named pipe, written by another thread.
        const fs::path fifo = dir / "edge.fifo";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << edge.text; });
        const Load how{99, 'w', 0};
        const Result got = run(how.level, [&](pdbtest::Loaded& l) {
            return load_pdb_file(fifo.c_str(), 99, 'w', l.store, l.mol, 0);
        });
        writer.join();
        expect_same(reference(edge.text, how), got, std::string(edge.name) + ", from a pipe");
        fs::remove(fifo);
    }
    // A file that cannot be opened or read: -1, errno, and an empty store.
    for (const auto& [path, error] : {std::pair(dir / "missing.pdb", ENOENT), std::pair(dir, EISDIR)}) {
        PDBSTORE store;
        PDBMOL mol{};
        load_pdb_text(edge_texts()[0].text, 99, 'w', store, mol, 0);
        errno = 0;
        EXPECT_EQ(load_pdb_file(path.c_str(), 99, 'w', store, mol, 0), -1) << path;
        EXPECT_EQ(errno, error) << path;
        EXPECT_TRUE(store.r.empty() && store.a.empty() && mol.r.empty() && mol.nbofr == 0) << path;
    }
    fs::remove_all(dir);
}

TEST(DirectLoad, AStoreLoadedAgainHoldsOnlyTheNewStructure) {
    const std::vector<EdgeText> edges = edge_texts();
    const std::string big = edges[3].text + edges[8].text + edges[9].text;
    const std::string small = edges[0].text;
    for (const auto& texts :
         {std::pair(big, small), std::pair(small, big), std::pair(small, std::string())}) {
        const Load how{99, 'w', 0};
        const Result got = run(how.level, [&](pdbtest::Loaded& l) {
            load_pdb_text(texts.first, 99, 'w', l.store, l.mol, 0);
            return load_pdb_text(texts.second, 99, 'w', l.store, l.mol, 0);
        });
        expect_same(reference(texts.second, how), got,
                    "after a load of " + std::to_string(texts.first.size()) + " bytes");
    }
}

// The fixed-column fast path against the general scanner, over every text of a few characters: where the
// fast path takes a text, the scanner converts it to the same value.
TEST(DirectLoad, FixedColumnsConvertAsTheScannerDoes) {
    const std::string alphabet = " -.059e+\tA";
    std::size_t taken = 0;
    std::string text(6, ' ');
    std::size_t combos = 1;
    for (int k = 0; k < 6; ++k)
        combos *= alphabet.size();
    for (std::size_t i = 0; i < combos; ++i) {
        for (std::size_t k = 0, v = i; k < 6; ++k, v /= alphabet.size())
            text[k] = alphabet[v % alphabet.size()];
        float fast, general;
        if (pdbscan::columns::fixed_point<6, 2>(text, fast)) {
            ++taken;
            ASSERT_TRUE(pdbscan::scan_float(text.data(), text.data() + 6, general)) << text;
            ASSERT_EQ(std::memcmp(&fast, &general, sizeof fast), 0) << text;
        }
        int whole, scanned;
        for (const std::string_view field :
             {std::string_view(text), std::string_view(text).substr(1), std::string_view(text).substr(2)}) {
            const bool took = field.size() == 6   ? pdbscan::columns::whole<6>(field, whole)
                              : field.size() == 5 ? pdbscan::columns::whole<5>(field, whole)
                                                  : pdbscan::columns::whole<4>(field, whole);
            if (!took) continue;
            ++taken;
            ASSERT_NE(pdbscan::scan_int(field.data(), field.data() + field.size(), scanned), nullptr)
                << field;
            ASSERT_EQ(whole, scanned) << field;
        }
    }
    // Every "%8.3f" and "%6.2f" text of a value that fills its width, signs and rounding ties included.
    char buf[16];
    for (int v = -999999; v <= 9999999; v += 7) {
        std::snprintf(buf, sizeof buf, "%8.3f", v / 1000.0);
        float fast, general;
        ASSERT_TRUE((pdbscan::columns::fixed_point<8, 3>(buf, fast))) << buf;
        ASSERT_TRUE(pdbscan::scan_float(buf, buf + 8, general));
        ASSERT_EQ(std::memcmp(&fast, &general, sizeof fast), 0) << buf;
    }
    EXPECT_GT(taken, 1000u);
}

#ifdef __SSE2__
// Columns 31-66 converted all at once, against the scanner on each column: lines made of every kind of
// field text, taken by the fast path or not, in each of the five places.
TEST(DirectLoad, CoordinateFieldsConvertAsTheScannerDoes) {
    const std::vector<std::string> wide = {"  11.104", "-999.999", "9999.999",  "  -0.000", "   0.500",
                                           " -12.345", "1.5e+01 ", "   nan  ",  "  1.2345", "   .500 ",
                                           " - 1.000", "  +1.000", "\t  1.000", "  1.0 0 ", "        ",
                                           "12345678", "--1.000 ", " 1-2.000"};
    const std::vector<std::string> narrow = {"  1.00", "-99.99", "999.99", " 0.000", "   nan",
                                             "  0.5 ", " -0.00", "1.0e+1", "  .50 ", "      ",
                                             "+1.00 ", " 10.00", " 1- .0"};
    std::size_t taken = 0;
    for (std::size_t i = 0; i < 20000; ++i) {
        std::size_t pick = i * 2654435761u;  // a spread of combinations
        const auto next = [&](const std::vector<std::string>& from) {
            const std::string& text = from[pick % from.size()];
            pick /= from.size();
            return text;
        };
        const std::string line = std::string("ATOM      1  CA  ALA A   1    ") + next(wide) + next(wide) +
                                 next(wide) + next(narrow) + next(narrow) + "           C  ";
        float fast[5];
        const unsigned bits = pdbscan::columns::coordinate_fields(line.data(), fast);
        const std::size_t from[] = {30, 38, 46, 54, 60}, width[] = {8, 8, 8, 6, 6};
        for (unsigned f = 0; f < 5; ++f) {
            if ((bits >> f & 1u) == 0) continue;
            ++taken;
            float general;
            const char* p = line.data() + from[f];
            ASSERT_TRUE(pdbscan::scan_float(p, p + width[f], general)) << line << " field " << f;
            ASSERT_EQ(std::memcmp(&fast[f], &general, sizeof general), 0) << line << " field " << f;
        }
    }
    EXPECT_GT(taken, 10000u);
}
#endif

}  // namespace
