// A PDB file or text loaded into a store without a line set: its lines are scanned where they lie, once to
// size the store exactly and once to fill it, the filling split among the machine's cores for a large
// input. The walk over each line is the reader's own (pdb8/records.h), so the structure is the one
// pdb_lines_from_file, make_pdb_store and load_pdb give.
//
// Splitting the fill: the sizing pass notes, at the first line of each part, where the walk stands (the
// model in force, the residue key, the residue and atom the part starts at). What it does not follow is
// the atom fields a line carries over to the next when its own text does not convert (serial, alternate
// location, coordinates); a part after the first marks which of its first atoms took such a field from
// the lines before it, and once every part is done those atoms get the value the part before ended with.
// The residue a part starts inside belongs to the part before it; what the part adds to it is kept aside
// and written after both are done, so no two threads write one record.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/text_out.h"
#include "pdb8.h"
#include "pdb8/bulk.h"
#include "pdb8/direct_load.h"
#include "pdb8/display.h"
#include "pdb8/inplace_lines.h"
#include "pdb8/records.h"

namespace {

using pdblines::LineCursor;
using pdblines::Source;
using pdbscan::AtomLine;
using pdbscan::CarriedFields;

constexpr const char* kWhere = "SUB:LOAD_PDB";
constexpr std::uint64_t kMinPart = std::uint64_t{2} << 20;  // the least input worth a part of its own
constexpr unsigned kPartsPerThread = 4;
constexpr unsigned kMaxThreads = 8;

// Where the walk stands at the first line of a part (or after the last line of the input).
struct WalkPoint {
    std::uint64_t offset = 0;      // the line's start in the input
    bool begun = false;            // the first coordinate line lies before it
    pdbscan::WalkState walk;       // the carried key and model, and the previous record's key
    int current = 0;               // load_pdb's residue being filled
    int k = 0;                     // its atoms so far
    std::size_t atom = 0;          // the next atom's index in the store
    std::size_t residue_atom = 0;  // the index of residue `current`'s first atom
};

// The reader's residue and atom counting, as load_pdb advances them for each accepted record.
void count_record(WalkPoint& at, bool new_residue) {
    if (new_residue) {
        if (at.atom > 0) ++at.current;  // the first record opens residue 0 itself
        at.k = 0;
        at.residue_atom = at.atom;
    }
    ++at.k;
    ++at.atom;
}

unsigned thread_count() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
}

// Runs work(j) for parts 0 to n-1 and returns once all are done: with `threads`, on this thread and on
// one more per core, each taking the next part not yet taken, so that a thread the machine's other work
// holds up leaves its share to the others; without, on this thread in order. The work must not throw.
template <class Work>
void run_parts(std::size_t n, bool threads, Work&& work) {
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        for (std::size_t j; (j = next.fetch_add(1)) < n;)
            work(j);
    };
    std::vector<std::jthread> helpers;
    const std::size_t wanted = threads ? std::min<std::size_t>(thread_count(), n) - 1 : 0;
    helpers.reserve(wanted);
    for (std::size_t t = 0; t < wanted; ++t) {
        try {
            helpers.emplace_back(worker);
        } catch (const std::system_error&) {
            break;  // fewer threads: the others take the parts
        }
    }
    worker();
}  // the helpers are joined here

// The sizing of one part. A part after the first is sized before the parts ahead of it are, from a
// guess of where the walk stands at its first line: the first coordinate line met, every record kind
// accepted until a MODEL line says which model is in force, and no record before. Its counts are then
// relative to its start, and what the guess decided is noted, so that once the part before is sized the
// guess can be checked, and the counts carried on or, where the guess was wrong, the part sized again.
struct PartSizing {
    WalkPoint end;  // after the part's last line
    std::int64_t lines = 0;
    int read_error = 0;
    // From a guess only:
    unsigned set = 0;               // the CarriedField key and model bits the part's lines set
    bool needs_key = false;         // a record was accepted before the part's lines had set the whole key
    bool needs_model = false;       // a record was accepted before a MODEL line of the part set the model
    pdbscan::PrescanKey first_key;  // the key of the part's first record
};

constexpr int kGuessedModel = INT_MIN;  // the model in force at a guessed start: any record is accepted

PartSizing size_part(const Source& source, std::uint64_t begin, std::uint64_t end, const WalkPoint* start,
                     int model, char typ, std::span<char> block) {
    PartSizing out;
    WalkPoint& at = out.end;
    if (start != nullptr) {
        at = *start;
    } else {
        at.begun = true;
        at.walk.carried.model = kGuessedModel;
    }
    AtomLine atom{};
    bool accepted = false;
    const auto on_record = [&](const AtomLine&, const CarriedFields&, bool new_residue) {
        count_record(at, new_residue);
        accepted = true;
    };
    LineCursor cursor(source, begin, end, pdblines::kToEnd, block);
    std::string_view line;
    while (cursor.next(line)) {
        if (++out.lines > INT_MAX) break;  // too many for a line set: the caller stops the run
        if (!at.begun) {
            if (!pdbscan::opens_coordinates(line)) continue;
            at.begun = true;
        }
        accepted = false;
        const unsigned set = pdbscan::walk_line<false>(line, model, typ, at.walk, atom, on_record);
        if (start != nullptr) continue;
        out.set |= set;
        if (!accepted) continue;
        if (at.atom == 1) out.first_key = {at.walk.prev_chain, at.walk.prev_rnb, at.walk.prev_letter};
        out.needs_key |= (out.set & pdbscan::kAllKeyFields) != pdbscan::kAllKeyFields;
        out.needs_model |= (out.set & pdbscan::kSetModel) == 0;
    }
    out.read_error = cursor.errno_of();
    at.offset = cursor.position();
    return out;
}

// Where the walk stands after a part sized from a guess, given where it truly stood at the part's start;
// false when the guess decided differently from the truth.
bool carry_on(const WalkPoint& truth, const PartSizing& part, int model, WalkPoint& after) {
    if (!truth.begun || part.needs_key || (part.needs_model && truth.walk.carried.model > model))
        return false;
    const WalkPoint& rel = part.end;
    after = truth;
    after.offset = rel.offset;
    CarriedFields& c = after.walk.carried;
    if (part.set & pdbscan::kSetChain) c.rchain = rel.walk.carried.rchain;
    if (part.set & pdbscan::kSetRnb) c.rnb = rel.walk.carried.rnb;
    if (part.set & pdbscan::kSetLetter) c.rletter = rel.walk.carried.rletter;
    if (part.set & pdbscan::kSetModel) c.model = rel.walk.carried.model;
    if (rel.atom == 0) return true;  // no record: the residue counts stay
    const pdbscan::PrescanKey& k = part.first_key;
    const bool opens = truth.walk.first || k.chain != truth.walk.prev_chain || k.nb != truth.walk.prev_rnb ||
                       k.letter != truth.walk.prev_letter;
    const int shift = truth.current + (opens && truth.atom > 0 ? 1 : 0);  // the part's first residue
    after.current = rel.current + shift;
    if (rel.current == 0 && !opens) {  // every record of the part went on with the residue before it
        after.k = truth.k + rel.k;
        after.residue_atom = truth.residue_atom;
    } else {
        after.k = rel.k;
        after.residue_atom = truth.atom + rel.residue_atom;
    }
    after.atom = truth.atom + rel.atom;
    after.walk.first = false;
    after.walk.prev_chain = rel.walk.prev_chain;
    after.walk.prev_rnb = rel.walk.prev_rnb;
    after.walk.prev_letter = rel.walk.prev_letter;
    return true;
}

// The first line that starts at or after `cut`: after the first line end at or after cut - 1.
std::uint64_t line_start_from(const Source& source, std::uint64_t cut, std::span<char> block) {
    if (cut == 0) return 0;
    LineCursor cursor(source, cut - 1, pdblines::kToEnd, pdblines::kToEnd, block);
    std::string_view line;
    cursor.next(line);
    return cursor.position();
}

struct Sizing {
    std::vector<WalkPoint> starts;  // the first line of each part
    WalkPoint end;                  // after the last line
    int read_error = 0;             // errno of a failed read
};

// The sizing pass: walks every line as get_pdb_load_size does and notes where the walk stands at the
// first line of each part (the first line that starts at or after each cut). The parts after the first
// are sized side by side with it, each from a guess checked once the part before is sized.
Sizing size_input(const Source& source, std::span<const std::uint64_t> cuts, int model, char typ,
                  bool threads, std::span<char> blocks) {
    const std::size_t parts = cuts.size() + 1;
    const std::size_t block = blocks.size() / parts;
    const auto block_of = [&](std::size_t j) { return blocks.subspan(j * block, block); };
    std::vector<std::uint64_t> begin(parts + 1, 0);
    for (std::size_t j = 1; j < parts; ++j)
        begin[j] = std::max(begin[j - 1], line_start_from(source, cuts[j - 1], block_of(0)));
    begin[parts] = pdblines::kToEnd;

    std::vector<PartSizing> sized(parts);
    run_parts(parts, threads, [&](std::size_t j) {
        const WalkPoint origin;
        sized[j] =
            size_part(source, begin[j], begin[j + 1], j == 0 ? &origin : nullptr, model, typ, block_of(j));
    });

    Sizing out;
    out.starts.push_back(WalkPoint{});
    WalkPoint at;
    std::int64_t lines = 0;
    for (std::size_t j = 0; j < parts; ++j) {
        if (j > 0) out.starts.push_back(at);
        WalkPoint after;
        if (j > 0 && sized[j].read_error == 0 && !carry_on(at, sized[j], model, after)) {
            sized[j] = size_part(source, begin[j], begin[j + 1], &at, model, typ, block_of(j));
            after = sized[j].end;
        } else if (j == 0) {
            after = sized[j].end;
        }
        if (sized[j].read_error != 0) {
            out.read_error = sized[j].read_error;
            return out;
        }
        lines += sized[j].lines;
        if (lines > INT_MAX) err("SUB:PDB_LINES", "The PDB text has more lines than a line set can count");
        at = after;
    }
    out.end = at;
    return out;
}

// What the fill of one part leaves for the merge.
struct PartResult {
    WalkPoint end;          // where the walk stands after the part's last line
    CarriedFields carried;  // the carried fields then
    unsigned unknown = 0;   // CarriedField atom bits that no line of the part set (parts after the first)
    std::array<std::size_t, 5> unknown_atoms{};  // by field: the part's first atoms that took it from before
    // The residue the part starts inside (when it does): the fields its records would have written there,
    // how far each text field was written, and its atom count once the part closes it.
    PDBRESI carry{};
    bool carry_written = false;
    std::size_t carry_atom_ext = 0, carry_rname_ext = 0, carry_segid_ext = 0;
    bool carry_closed = false;
    int carry_count = 0;
    bool overflow = false;  // more records than the sizing found: the input changed in between
    bool ended_early = false;
    int read_error = 0;
};

template <std::size_t N>
void note_extent(std::size_t& ext, const char (&field)[N]) {
    ext = std::max(ext, ::strnlen(field, N - 1) + 1);
}

void close_residue(PDBRESI& res, std::span<PDBATOM> atoms, std::size_t first, int count) {
    res.rnbofa = count;
    res.a = atoms.subspan(first, static_cast<std::size_t>(count));
}

// The fill pass over the lines of one part, [start.offset, end), the input taken to stop at `limit`.
void fill_part(const Source& source, const WalkPoint& start, std::uint64_t end, std::uint64_t limit,
               int model, char typ, bool first_part, std::span<PDBRESI> r, std::span<PDBATOM> atoms,
               std::size_t atom_end, bool prefault, std::span<char> block, PartResult& out) {
    if (prefault && atom_end > start.atom)
        pdbbulk::prefault(atoms.data() + start.atom, (atom_end - start.atom) * sizeof(PDBATOM));
    WalkPoint at = start;
    const int carry_index = at.walk.first ? -1 : at.current;
    unsigned unknown = first_part ? 0u : unsigned{pdbscan::kAllAtomFields};
    bool accepted = false;
    const auto on_record = [&](const AtomLine& line, const CarriedFields& carried, bool new_residue) {
        if (new_residue && at.atom > 0) {
            if (at.current == carry_index) {
                out.carry_closed = true;
                out.carry_count = at.k;
            } else {
                close_residue(r[static_cast<std::size_t>(at.current)], atoms, at.residue_atom, at.k);
            }
        }
        const WalkPoint before = at;
        count_record(at, new_residue);
        if (static_cast<std::size_t>(at.current) >= r.size() || before.atom >= atom_end) {
            out.overflow = true;
            at = before;
            return;
        }
        if (at.current == carry_index) {
            pdbscan::store_record<true>(out.carry, atoms[before.atom], line, carried);
            out.carry_written = true;
            note_extent(out.carry_atom_ext, out.carry.atom);
            note_extent(out.carry_rname_ext, out.carry.rname);
            note_extent(out.carry_segid_ext, out.carry.segid);
        } else {
            pdbscan::store_record<true>(r[static_cast<std::size_t>(at.current)], atoms[before.atom], line,
                                        carried);
        }
        accepted = true;
    };
    LineCursor cursor(source, start.offset, end, limit, block);
    AtomLine atom{};
    std::string_view line;
    while (!out.overflow && cursor.next(line)) {
        if (!at.begun) {
            if (!pdbscan::opens_coordinates(line)) continue;
            at.begun = true;
        }
        accepted = false;
        unknown &= ~pdbscan::walk_line<true>(line, model, typ, at.walk, atom, on_record);
        if (accepted && unknown != 0) {
            for (std::size_t f = 0; f < out.unknown_atoms.size(); ++f)
                out.unknown_atoms[f] += (unknown >> f) & 1u;
        }
    }
    out.end = at;
    out.end.offset = cursor.position();
    out.carried = at.walk.carried;
    out.unknown = unknown;
    out.ended_early = cursor.ended_early();
    out.read_error = cursor.errno_of();
}

bool same_point(const WalkPoint& a, const WalkPoint& b) {
    return a.current == b.current && a.k == b.k && a.atom == b.atom && a.residue_atom == b.residue_atom &&
           a.walk.first == b.walk.first;
}

// Copies the fields a part's records wrote into the residue it started inside, as the records would have
// written them there: each text field up to the furthest any of them reached.
void merge_carry(PDBRESI& res, const PartResult& part) {
    const PDBRESI& c = part.carry;
    std::memcpy(res.atom, c.atom, part.carry_atom_ext);
    std::memcpy(res.rname, c.rname, part.carry_rname_ext);
    std::memcpy(res.segid, c.segid, part.carry_segid_ext);
    res.label_rname[0] = '\0';
    res.label_rchain[0] = '\0';
    res.label_rnb[0] = '\0';
    res.rchain = c.rchain;
    res.rnb = c.rnb;
    res.rletter = c.rletter;
    res.model = c.model;
    res.rentity = c.rentity;
}

// The atoms at the head of a part that took carried fields from the lines before it get the values those
// lines left; returns what the part leaves to the next one.
CarriedFields resolve_carried(std::span<PDBATOM> atoms, std::size_t first, const PartResult& part,
                              const CarriedFields& before) {
    CarriedFields after = part.carried;
    const auto patch = [&](std::size_t f, auto field, auto value) {
        for (std::size_t i = 0; i < part.unknown_atoms[f]; ++i)
            atoms[first + i].*field = value;
    };
    patch(0, &PDBATOM::aalt, before.aalt);
    patch(1, &PDBATOM::anb, before.anb);
    patch(2, &PDBATOM::x, before.x);
    patch(3, &PDBATOM::y, before.y);
    patch(4, &PDBATOM::z, before.z);
    if (part.unknown & pdbscan::kSetAalt) after.aalt = before.aalt;
    if (part.unknown & pdbscan::kSetAnb) after.anb = before.anb;
    if (part.unknown & pdbscan::kSetX) after.x = before.x;
    if (part.unknown & pdbscan::kSetY) after.y = before.y;
    if (part.unknown & pdbscan::kSetZ) after.z = before.z;
    return after;
}

[[noreturn]] void changed() {
    err(kWhere, "The PDB file changed while it was read");
}

// The store sized for `residues` and `atoms` as make_pdb_store sizes it; true when the atoms are fresh
// memory, not yet faulted in.
bool size_store(PDBSTORE& store, std::size_t residues, std::size_t atoms) {
    if (store.r.capacity() < residues) {
        store.r = {};
        store.r.reserve(residues);
        pdbbulk::prefault(store.r.data(), residues * sizeof(PDBRESI));
    }
    store.r.assign(residues, PDBRESI{});
    if (store.a.capacity() < atoms) {
        store.a = {};
        store.a.resize(atoms);  // zero bytes, written once by the fill
        return true;
    }
    store.a.assign(atoms, PDBATOM{});
    return false;
}

}  // namespace

namespace pdbdirect {

std::vector<std::uint64_t> default_cuts(std::uint64_t bytes) {
    const unsigned threads = thread_count();
    const std::uint64_t parts = threads == 1
                                    ? 1
                                    : std::min<std::uint64_t>(threads * kPartsPerThread,
                                                              std::max<std::uint64_t>(1, bytes / kMinPart));
    std::vector<std::uint64_t> cuts;
    for (std::uint64_t j = 1; j < parts; ++j)
        cuts.push_back(bytes / parts * j);
    return cuts;
}

int load(const Source& source, const Plan& plan, int model, char typ, PDBSTORE& store, PDBMOL& mol,
         int LEVEL) {
    const std::size_t parts = plan.cuts.size() + 1;
    const std::size_t block = source.fd >= 0 ? std::max(plan.block, pdblines::kMinBlock) : 0;
    std::vector<char> blocks(block * parts);
    const auto block_of = [&](std::size_t j) { return std::span<char>(blocks).subspan(j * block, block); };

    const Sizing sizing = size_input(source, plan.cuts, model, typ, plan.threads, blocks);
    if (sizing.read_error != 0) {
        store = PDBSTORE{};
        mol = PDBMOL{' ', 0, {}};
        errno = sizing.read_error;
        return -1;
    }
    const std::uint64_t bytes = sizing.end.offset;
    const int residues = sizing.end.current + 1;
    const bool fresh = size_store(store, static_cast<std::size_t>(residues), sizing.end.atom);
    const std::span<PDBRESI> r(store.r);
    const std::span<PDBATOM> atoms(store.a);

    std::vector<PartResult> results(parts);
    run_parts(parts, plan.threads, [&](std::size_t j) {
        const std::uint64_t end = j + 1 < parts ? sizing.starts[j + 1].offset : bytes;
        const std::size_t atom_end = j + 1 < parts ? sizing.starts[j + 1].atom : sizing.end.atom;
        fill_part(source, sizing.starts[j], end, bytes, model, typ, j == 0, r, atoms, atom_end, fresh,
                  block_of(j), results[j]);
    });

    CarriedFields carried;
    for (std::size_t j = 0; j < parts; ++j) {
        const PartResult& part = results[j];
        if (part.read_error != 0) {
            store = PDBSTORE{};
            mol = PDBMOL{' ', 0, {}};
            errno = part.read_error;
            return -1;
        }
        const WalkPoint& next = j + 1 < parts ? sizing.starts[j + 1] : sizing.end;
        if (part.overflow || part.ended_early || !same_point(part.end, next)) changed();
        const WalkPoint& start = sizing.starts[j];
        if (j > 0)
            carried = resolve_carried(atoms, start.atom, part, carried);
        else
            carried = part.carried;
        if (start.walk.first) continue;
        PDBRESI& res = r[static_cast<std::size_t>(start.current)];
        if (part.carry_written) merge_carry(res, part);
        if (part.carry_closed) close_residue(res, atoms, start.residue_atom, part.carry_count);
    }
    const WalkPoint& end = sizing.end;
    close_residue(r[static_cast<std::size_t>(end.current)], atoms, end.residue_atom, end.k);

    mol = PDBMOL{' ', residues, r};
    if (LEVEL > 3) {
        for (int i = 0; i + 1 < residues; ++i)
            pdbshow::echo_residue(r[static_cast<std::size_t>(i)], typ);
    }
    if (LEVEL > 1) {
        std::fprintf(text_out(), "Total number of residues : %d\n", residues);
        std::fprintf(text_out(), "Total number of atoms    : %d\n", static_cast<int>(end.atom));
    }
    return residues;
}

}  // namespace pdbdirect

namespace {

// A file descriptor closed however the load ends (a fatal error that a host turns into an exception).
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// All of a stream that cannot be read twice (a pipe, a terminal): false with errno set when a read fails.
bool read_all(int fd, std::string& text) {
    std::array<char, 1 << 16> chunk;
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace

int load_pdb_text(std::string_view text, int model, char typ, PDBSTORE& store, PDBMOL& mol, int LEVEL) {
    const pdbdirect::Plan plan{pdbdirect::default_cuts(text.size())};
    return pdbdirect::load(Source{-1, text}, plan, model, typ, store, mol, LEVEL);
}

int load_pdb_file(const char* fname, int model, char typ, PDBSTORE& store, PDBMOL& mol, int LEVEL) {
    const FileDescriptor file{::open(fname, O_RDONLY | O_CLOEXEC)};
    struct stat info;
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
        const int error = errno;
        store = PDBSTORE{};
        mol = PDBMOL{' ', 0, {}};
        errno = error;
        return -1;
    }
    if (S_ISREG(info.st_mode)) {
        const pdbdirect::Plan plan{pdbdirect::default_cuts(static_cast<std::uint64_t>(info.st_size))};
        return pdbdirect::load(Source{file.fd, {}}, plan, model, typ, store, mol, LEVEL);
    }
    std::string text;
    if (!read_all(file.fd, text)) {
        const int error = errno;
        store = PDBSTORE{};
        mol = PDBMOL{' ', 0, {}};
        errno = error;
        return -1;
    }
    return load_pdb_text(text, model, typ, store, mol, LEVEL);
}
