// Bulk memory for line sets and stores: zero-filled blocks, the large ones mapped on their own with 2 MiB
// pages asked for.
#include <sys/mman.h>
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "pdb8.h"

namespace {

constexpr std::size_t kHuge = std::size_t{1} << 21;  // a 2 MiB page
constexpr std::size_t kMapped = 4 * kHuge;           // blocks from this size on are mapped on their own

std::size_t page_size() {
    static const std::size_t size = [] {
        const long n = ::sysconf(_SC_PAGESIZE);
        return n > 0 ? static_cast<std::size_t>(n) : std::size_t{4096};
    }();
    return size;
}

// The length of the mapping that holds a block: whole pages, so that no 2 MiB page is faulted in for the
// few bytes past the block's end (the block's last, partial 2 MiB stretch keeps small pages).
std::size_t mapped_length(std::size_t bytes) {
    const std::size_t page = page_size();
    return (bytes + page - 1) / page * page;
}

// A fresh anonymous mapping, which the system fills with zeros page by page as it is first touched. It
// starts on a 2 MiB boundary, so that all of it but the tail can be given 2 MiB pages: a mapping of
// kHuge bytes more is made, and its unaligned head and the rest of its tail go back to the system.
void* map_block(std::size_t bytes) {
    // Guarded: the rounding below and the extra 2 MiB must not wrap around for a size near SIZE_MAX.
    if (bytes > SIZE_MAX - 2 * kHuge) throw std::bad_alloc();
    const std::size_t length = mapped_length(bytes);
    void* raw = ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const auto aligned = (start + kHuge - 1) & ~(std::uintptr_t{kHuge} - 1);
    const auto end = start + length + kHuge;
    if (aligned > start) ::munmap(raw, aligned - start);
    if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    void* block = reinterpret_cast<void*>(aligned);
    ::madvise(block, length, MADV_HUGEPAGE);  // only a hint: refused, the block keeps small pages
    return block;
}

}  // namespace

void* pdb_bulk_allocate(std::size_t bytes) {
    if (bytes >= kMapped) return map_block(bytes);
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
