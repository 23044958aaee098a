// Bulk memory for line sets and stores: zero-filled blocks, the large ones mapped on their own, and
// faulting in pages ahead of the writes that need them.
#include "pdb8/bulk.h"

#include <sys/mman.h>
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "pdb8.h"

namespace {

constexpr std::size_t kMapped = std::size_t{8} << 20;      // blocks from this size on are mapped on their own
constexpr std::size_t kPrefaulted = std::size_t{1} << 20;  // ranges from this size on are faulted in at once

std::size_t page_size() {
    static const std::size_t size = [] {
        const long n = ::sysconf(_SC_PAGESIZE);
        return n > 0 ? static_cast<std::size_t>(n) : std::size_t{4096};
    }();
    return size;
}

// Whole pages: a mapping's length.
std::size_t mapped_length(std::size_t bytes) {
    const std::size_t page = page_size();
    return (bytes + page - 1) / page * page;
}

}  // namespace

// A large block is a fresh anonymous mapping, which the system fills with zeros page by page as it is
// first touched: nothing is zeroed ahead, and freeing it gives the memory straight back. Small pages on
// purpose: on a virtual machine that hands whole free 2 MiB blocks back to its host, asking for 2 MiB
// pages makes a load after a pause wait for the host to fill each one in again (several times slower
// than small pages, which come from memory the guest still holds).
void* pdb_bulk_allocate(std::size_t bytes) {
    if (bytes >= kMapped) {
        // Guarded: rounding up to whole pages must not wrap around for a size near SIZE_MAX.
        if (bytes > SIZE_MAX - page_size()) throw std::bad_alloc();
        void* block =
            ::mmap(nullptr, mapped_length(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) throw std::bad_alloc();
        return block;
    }
    void* block = std::calloc(bytes > 0 ? bytes : 1, 1);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void pdb_bulk_free(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes >= kMapped)
        ::munmap(block, mapped_length(bytes));
    else
        std::free(block);
}

namespace pdbbulk {

void prefault(void* start, std::size_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
    if (start == nullptr || bytes < kPrefaulted) return;
    // Whole pages: the first and last may hold other data of the same mapping, whose contents the call
    // leaves as they are.
    const auto page = static_cast<std::uintptr_t>(page_size());
    const auto first = reinterpret_cast<std::uintptr_t>(start) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(start) + bytes;
    ::madvise(reinterpret_cast<void*>(first), end - first,
              MADV_POPULATE_WRITE);  // refused: pages fault later
#else
    (void)start;
    (void)bytes;
#endif
}

}  // namespace pdbbulk
