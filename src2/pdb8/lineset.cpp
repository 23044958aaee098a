// Line sets: a PDB file or stream split into the 128-byte line buffers the pre-scan and the reader take,
// and storage sized for one load.
#include <sys/stat.h>
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "pdb8.h"
#include "pdb8/bulk.h"

namespace {

constexpr std::size_t kKeep = sizeof(PDBLINE) - 1;    // characters a line buffer holds
constexpr std::size_t kBlock = std::size_t{1} << 20;  // bytes of a stream read at a time
constexpr std::size_t kAhead = 8192;                  // lines faulted in at a time (1 MiB)

// Splits text, fed in pieces of any size, into lines written straight into the line set. A line may span
// pieces; its characters past kKeep are counted, not stored.
class LineSplitter {
  public:
    // Every line buffer ends up as its text, a NUL and NULs to the end (a clean tail). A line set with
    // room for the `expected` lines keeps its memory, which then holds old text: each tail is cleared as
    // its line ends. Otherwise the old lines go first (they and the new are never held together) and the
    // set starts from fresh memory, whose buffers are all NUL bytes already and are written only with
    // their text. More lines than expected just grow the set.
    LineSplitter(PDBLINES& out, std::size_t expected) : out_(out) {
        out_.max = 0;
        out_.cut = 0;
        if (out_.line.capacity() > 0 && expected <= out_.line.capacity()) {
            out_.line.clear();
            clear_tails_ = true;
        } else {
            out_ = PDBLINES{};
            out_.line.reserve(expected);
        }
    }

    void feed(const char* p, std::size_t n) {
        const char* const e = p + n;
        while (p < e) {
            const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(e - p));
            const char* stop = nl != nullptr ? static_cast<const char*>(nl) : e;
            append(p, static_cast<std::size_t>(stop - p));
            if (nl == nullptr) break;
            end_line(true);
            p = stop + 1;
        }
    }

    // The last line, when the text does not end with a line end.
    void finish() {
        if (length_ > 0) end_line(false);
    }

  private:
    void append(const char* p, std::size_t n) {
        if (!open_) {
            if (out_.line.size() >= static_cast<std::size_t>(INT_MAX))
                err("SUB:PDB_LINES", "The PDB text has more lines than a line set can count");
            if (out_.line.size() == faulted_ || out_.line.data() != faulted_base_) fault_in_more();
            out_.line.emplace_back();  // not written: see the constructor
            open_ = true;
        }
        if (n == 0) return;
        if (length_ < kKeep) std::memcpy(out_.line.back().data() + length_, p, std::min(n, kKeep - length_));
        length_ += n;
        last_ = p[n - 1];
    }

    void end_line(bool at_newline) {
        if (!open_) append(nullptr, 0);  // an empty line
        std::size_t length = length_;
        if (at_newline && length > 0 && last_ == '\r') --length;  // CRLF: the "\r" belongs to the line end
        const std::size_t kept = std::min(length, kKeep);
        PDBLINE& line = out_.line.back();
        line[kept] = '\0';
        if (clear_tails_) std::memset(line.data() + kept + 1, 0, kKeep - kept);
        if (length > kKeep) ++out_.cut;
        open_ = false;
        length_ = 0;
        last_ = '\0';
    }

    // The room for the next kAhead lines is faulted in at once, before they are written: only room the
    // lines will fill (at most kAhead lines more), since the room reserved can be well beyond them. After
    // the set has grown, its lines so far were written into the new room already.
    void fault_in_more() {
        if (out_.line.data() != faulted_base_) {
            faulted_base_ = out_.line.data();
            faulted_ = out_.line.size();
        }
        const std::size_t end = std::min(out_.line.capacity(), faulted_ + kAhead);
        pdbbulk::prefault(out_.line.data() + faulted_, (end - faulted_) * sizeof(PDBLINE));
        faulted_ = end;
    }

    PDBLINES& out_;
    const PDBLINE* faulted_base_ = nullptr;  // the room faulted_ counts in
    std::size_t faulted_ = 0;                // lines of room faulted in, from its start
    bool clear_tails_ = false;               // the buffers may hold old text
    bool open_ = false;                      // the last element of the line set is the line being read
    std::size_t length_ = 0;                 // characters of that line so far, kept or not
    char last_ = '\0';                       // its last character
};

void finish_count(PDBLINES& out) {
    out.max = static_cast<int>(out.line.size());
}

// Lines of a text: its line ends, plus the last line when the text does not end with one.
std::size_t count_lines(std::string_view text) {
    std::size_t n = 0;
    for (const char *p = text.data(), *e = p + text.size(); p < e; ++n) {
        const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(e - p));
        if (nl == nullptr) return n + 1;
        p = static_cast<const char*>(nl) + 1;
    }
    return n;
}

}  // namespace

int pdb_lines_from_text(std::string_view text, PDBLINES& out) {
    LineSplitter splitter(out, count_lines(text));
    splitter.feed(text.data(), text.size());
    splitter.finish();
    finish_count(out);
    return out.max;
}

int pdb_lines_from_stream(std::FILE* stream, PDBLINES& out) {
    if (stream == nullptr) {
        out = PDBLINES{};
        return -1;
    }
    // Growing the line set line by line copies and faults in far more memory than it keeps. For a regular
    // file, room for one line per 64 bytes covers PDB records (67 to 81 bytes a line) in one allocation;
    // room beyond the lines read is never touched, and a file of shorter lines just grows as usual.
    // A file smaller than a block is read in one block of its size and one byte more (the short read ends
    // it), so a small file does not fault in a whole block. The block is read into, never zero-filled.
    std::size_t expected = 0;
    std::size_t block_size = kBlock;
    struct stat info;
    if (fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const auto size = static_cast<std::size_t>(info.st_size);
        expected = size / 64 + 1;
        block_size = std::min(kBlock, size + 1);
    }
    LineSplitter splitter(out, expected);
    const auto block = std::make_unique_for_overwrite<char[]>(block_size);
    for (;;) {
        const std::size_t n = std::fread(block.get(), 1, block_size, stream);
        splitter.feed(block.get(), n);
        if (n < block_size) break;
    }
    if (std::ferror(stream)) {
        out = PDBLINES{};
        return -1;
    }
    splitter.finish();
    finish_count(out);
    return out.max;
}

int pdb_lines_from_file(const char* fname, PDBLINES& out) {
    // Closed however the reading ends: a fatal error that a host turns into an exception (the Python
    // module does), or memory that runs out, must not leave the file open.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fname, "rt"), std::fclose);
    if (file == nullptr) {
        out = PDBLINES{};
        return -1;
    }
    return pdb_lines_from_stream(file.get(), out);
}

PDBMOL make_pdb_store(std::span<const PDBLINE> str_in, int max, int model, char typ, PDBSTORE& store) {
    // Residues never outnumber the scanned lines by more than the one slot an empty load closes.
    const std::size_t lines = max <= 0 ? 0 : std::min(str_in.size(), static_cast<std::size_t>(max));
    // Made without a value: get_pdb_load_size writes the count of each residue, and only those are read.
    std::vector<int, PDBBULK<int>> counts(lines + 1);
    const PDBSIZE size = get_pdb_load_size(str_in, max, model, typ, counts);
    const auto residues = static_cast<std::size_t>(size.nbofr);
    const auto atoms = static_cast<std::size_t>(size.nbofa);
    // A store with room for the new structure keeps its memory, already faulted in. Otherwise its old
    // arrays go first (the old and the new are never held together) and fresh memory, faulted in here at
    // once, takes the new.
    if (store.r.capacity() < residues) {
        store.r = {};
        store.r.reserve(residues);
        pdbbulk::prefault(store.r.data(), residues * sizeof(PDBRESI));
    }
    store.r.assign(residues, PDBRESI{});
    // Every atom reads as zero bytes until load_pdb writes it. Fresh memory is that already: the atoms are
    // made there without a value and not written twice. Kept memory is zero-filled.
    if (store.a.capacity() < atoms) {
        store.a = {};
        store.a.resize(atoms);
        pdbbulk::prefault(store.a.data(), atoms * sizeof(PDBATOM));
    } else {
        store.a.assign(atoms, PDBATOM{});
    }
    std::size_t offset = 0;
    for (std::size_t i = 0; i < store.r.size(); ++i) {
        const std::size_t n = static_cast<std::size_t>(counts[i]);
        store.r[i].a = std::span<PDBATOM>(store.a).subspan(offset, n);
        offset += n;
    }
    return PDBMOL{' ', 0, std::span<PDBRESI>(store.r)};
}
