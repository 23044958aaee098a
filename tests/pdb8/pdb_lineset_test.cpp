// Line sets and stores at the sizes where their memory comes from the system on its own: large files,
// line sets and stores reused for a second file, and the bulk memory they are made of.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "pdb8.h"
#include "pdb8/bulk.h"
#include "pdb_test_util.h"

namespace {

using pdbtest::rec;

constexpr std::size_t kMiB = std::size_t{1} << 20;

// `residues` residues of `atoms` atoms each, numbered on from `first`, chains A to Z round and round.
std::string structure(int residues, int atoms, int first = 1) {
    std::string text;
    for (int r = 0; r < residues; ++r)
        for (int a = 0; a < atoms; ++a)
            text += rec("ATOM", (r * atoms + a) % 99999 + 1, " CA", "ALA", static_cast<char>('A' + r % 26),
                        (first + r) % 9999, ' ', r * 0.5, a * 0.25, -r * 0.125);
    return text;
}

std::string repeat(const std::string& piece, int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += piece;
    return text;
}

// A file of its own for each call: the tests of this program run side by side, each in its own process.
std::string write_temp(const std::string& text) {
    std::string path = testing::TempDir() + "voxmol_lineset_test_XXXXXX";
    const int fd = ::mkstemp(path.data());
    EXPECT_GE(fd, 0);
    std::FILE* f = ::fdopen(fd, "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
}

// Each buffer holds its text followed by NULs to the end, and the texts are `expected`'s.
void expect_clean_lines(const PDBLINES& set, const PDBLINES& expected) {
    ASSERT_EQ(set.max, expected.max);
    ASSERT_EQ(set.line.size(), expected.line.size());
    EXPECT_EQ(set.cut, expected.cut);
    for (std::size_t i = 0; i < set.line.size(); ++i) {
        ASSERT_STREQ(set.line[i].data(), expected.line[i].data()) << "line " << i;
        for (std::size_t k = std::strlen(set.line[i].data()); k < set.line[i].size(); ++k)
            ASSERT_EQ(set.line[i][k], '\0') << "line " << i << " byte " << k;
    }
}

TEST(BulkMemory, BlocksComeZeroFilledAndAligned) {
    // Below and above the size from which blocks are mapped on their own.
    for (const std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{4097}, 8 * kMiB - 1, 8 * kMiB,
                                    8 * kMiB + 3, 21 * kMiB + 5}) {
        SCOPED_TRACE(bytes);
        auto* p = static_cast<unsigned char*>(pdb_bulk_allocate(bytes));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
        std::size_t nonzero = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            nonzero += p[i] != 0;
        EXPECT_EQ(nonzero, 0u);
        std::memset(p, 0xab, bytes);  // all of it is writable
        pdb_bulk_free(p, bytes);
    }
}

// Faulting pages in ahead changes nothing they hold, whether the range starts and ends inside a page,
// is too small to be faulted in ahead, or lies in a block from calloc or from its own mapping.
TEST(BulkMemory, FaultingInAheadKeepsContents) {
    const struct {
        std::size_t block, from, bytes;
    } cases[] = {
        {12 * kMiB, 0, 12 * kMiB},
        {12 * kMiB, 100, 5 * kMiB + 7},
        {12 * kMiB, 3 * kMiB, 1000},
        {2 * kMiB, 1, 2 * kMiB - 2},
        {2 * kMiB, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.block << " " << c.from << " " << c.bytes);
        auto* p = static_cast<unsigned char*>(pdb_bulk_allocate(c.block));
        for (std::size_t i = 0; i < c.block; i += 1000)
            p[i] = static_cast<unsigned char>(i / 1000 % 251 + 1);
        pdbbulk::prefault(p + c.from, c.bytes);
        std::size_t changed = 0;
        for (std::size_t i = 0; i < c.block; ++i)
            changed += p[i] != (i % 1000 == 0 ? static_cast<unsigned char>(i / 1000 % 251 + 1) : 0);
        EXPECT_EQ(changed, 0u);
        pdb_bulk_free(p, c.block);
    }
}

TEST(BulkMemory, ImpossibleSizesThrow) {
    EXPECT_THROW(pdb_bulk_allocate(SIZE_MAX / 2), std::bad_alloc);
    EXPECT_THROW(pdb_bulk_allocate(SIZE_MAX), std::bad_alloc);
    EXPECT_THROW(PDBBULK<PDBLINE>().allocate(SIZE_MAX / 64), std::bad_alloc);
}

// A file read in one allocation (PDB records), one whose short lines outgrow the room first guessed
// from its size, and lines cut or ended by CRLF, each well past the mapped block size: the file gives
// the line set its text gives, with clean buffers.
TEST(LineSetsLarge, FileMatchesTextWithCleanBuffers) {
    const std::string long_line(200, 'L');
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"100,000 ATOM records", structure(20000, 5)},
        {"TER lines outgrow the first room", repeat("TER\n", 300000)},
        {"CRLF and long lines", repeat(long_line + "\r\n" + rec("HETATM", 7, " O", "HOH", 'W', 8), 40000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PDBLINES from_text, from_file;
        const int n = pdb_lines_from_text(c.text, from_text);
        ASSERT_GT(static_cast<std::size_t>(n) * sizeof(PDBLINE), 8 * kMiB);
        const std::string path = write_temp(c.text);
        EXPECT_EQ(pdb_lines_from_file(path.c_str(), from_file), n);
        std::remove(path.c_str());
        expect_clean_lines(from_file, from_text);
        expect_clean_lines(from_text, from_text);
    }
}

// A line set or a store given a second file holds only that file: nothing of the first shows through in
// the line buffers or the atoms, whether the second is smaller (the memory is kept) or larger (it is not).
TEST(LineSetsLarge, ReusedSetAndStoreHoldOnlyTheSecondFile) {
    const std::string big = std::string(126, 'X') + "\n" + structure(30000, 4);
    const std::string small = "END\n" + structure(3, 2, 500);
    PDBLINES set;
    pdb_lines_from_text(small, set);
    pdb_lines_from_text(big, set);
    expect_clean_lines(set, pdbtest::lines_of(big));
    PDBSTORE store;
    make_pdb_store(set.line, set.max, INT_MAX, 'w', store);
    PDBMOL mol = make_pdb_store(set.line, set.max, INT_MAX, 'w', store);
    load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, INT_MAX, 'w', 0);

    const PDBLINES fresh = pdbtest::lines_of(small);
    const std::string path = write_temp(small);
    const int read = pdb_lines_from_file(path.c_str(), set);
    std::remove(path.c_str());
    ASSERT_EQ(read, fresh.max);
    expect_clean_lines(set, fresh);
    pdb_lines_from_text(big, set);
    ASSERT_EQ(pdb_lines_from_text(small, set), fresh.max);
    expect_clean_lines(set, fresh);

    mol = make_pdb_store(set.line, set.max, INT_MAX, 'w', store);
    EXPECT_EQ(store.r.size(), 3u);
    EXPECT_EQ(store.a.size(), 6u);
    for (const PDBATOM& a : store.a)
        EXPECT_TRUE(a.anb == 0 && a.x == 0.0f && a.aname[0] == '\0') << "an atom of the first structure";
    EXPECT_EQ(load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, INT_MAX, 'w', 0), 3);
    EXPECT_EQ(mol.r[2].rnb, 502);
    EXPECT_EQ(mol.r[2].rnbofa, 2);
}

// A large structure loaded into the toolkit's store reads exactly as one loaded into arrays the caller
// made and zero-filled itself: every atom and residue field, printed or not.
TEST(LineSetsLarge, StoreLoadsAsCallerArraysDo) {
    const PDBLINES set = pdbtest::lines_of(structure(25000, 4) + "MODEL 2\n" + structure(5000, 3));
    const pdbtest::Loaded l = pdbtest::load(set, INT_MAX, 'w', 0);
    ASSERT_GT(l.store.a.size() * sizeof(PDBATOM), 8 * kMiB);

    std::vector<int> counts(static_cast<std::size_t>(set.max) + 1);
    const PDBSIZE size = get_pdb_load_size(set.line, set.max, INT_MAX, 'w', counts);
    std::vector<PDBATOM> atoms(static_cast<std::size_t>(size.nbofa));
    std::vector<PDBRESI> residues(static_cast<std::size_t>(size.nbofr));
    for (std::size_t i = 0, offset = 0; i < residues.size(); offset += static_cast<std::size_t>(counts[i++]))
        residues[i].a = std::span<PDBATOM>(atoms).subspan(offset, static_cast<std::size_t>(counts[i]));
    PDBMOL mol{' ', 0, residues};
    ASSERT_EQ(load_pdb(set.line, std::span<PDBMOL>(&mol, 1), 0, 0, set.max, INT_MAX, 'w', 0), l.result);
    ASSERT_EQ(l.store.a.size(), atoms.size());
    ASSERT_EQ(l.store.r.size(), residues.size());

    const auto same_text = [](const char* a, const char* b, std::size_t n) {
        return std::memcmp(a, b, n) == 0;
    };
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        const PDBATOM &x = l.store.a[i], &y = atoms[i];
        const bool same =
            x.anb == y.anb && x.aalt == y.aalt && x.x == y.x && x.y == y.y && x.z == y.z &&
            x.occup == y.occup && x.bfac == y.bfac && x.rad == y.rad && x.bon == y.bon && x.crg == y.crg &&
            x.eps == y.eps && x.sigma == y.sigma &&
            same_text(x.label_atype, y.label_atype, sizeof x.label_atype) &&
            same_text(x.label_aname, y.label_aname, sizeof x.label_aname) &&
            same_text(x.x_esd, y.x_esd, sizeof x.x_esd) && same_text(x.y_esd, y.y_esd, sizeof x.y_esd) &&
            same_text(x.z_esd, y.z_esd, sizeof x.z_esd) &&
            same_text(x.occup_esd, y.occup_esd, sizeof x.occup_esd) &&
            same_text(x.bfac_esd, y.bfac_esd, sizeof x.bfac_esd) &&
            same_text(x.aname, y.aname, sizeof x.aname) && same_text(x.extra, y.extra, sizeof x.extra);
        ASSERT_TRUE(same) << "atom " << i;
    }
    for (std::size_t i = 0; i < residues.size(); ++i) {
        const PDBRESI &x = l.store.r[i], &y = residues[i];
        const bool same = x.rnb == y.rnb && x.rchain == y.rchain && x.rentity == y.rentity &&
                          x.model == y.model && x.rletter == y.rletter && x.rnbofa == y.rnbofa &&
                          x.a.size() == y.a.size() && same_text(x.atom, y.atom, sizeof x.atom) &&
                          same_text(x.label_rname, y.label_rname, sizeof x.label_rname) &&
                          same_text(x.label_rchain, y.label_rchain, sizeof x.label_rchain) &&
                          same_text(x.label_rnb, y.label_rnb, sizeof x.label_rnb) &&
                          same_text(x.rname, y.rname, sizeof x.rname) &&
                          same_text(x.segid, y.segid, sizeof x.segid);
        ASSERT_TRUE(same) << "residue " << i;
    }
}

}  // namespace
