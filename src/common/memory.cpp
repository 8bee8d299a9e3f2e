// Blocks for big arrays: small ones from malloc, large ones mapped apart.
#include "common/memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace quorlen {

namespace {

// The size of a huge page.
constexpr std::size_t huge = std::size_t(2) << 20;
// The smallest block mapped apart, in huge pages.
constexpr std::size_t apart = std::size_t(256) << 10;

std::size_t rounded(std::size_t bytes) { return (bytes + huge - 1) / huge * huge; }

}  // namespace

void* take_memory(std::size_t bytes) noexcept {
    if (bytes < apart) return std::malloc(bytes ? bytes : 1);
    const std::size_t size = rounded(bytes);
    if (size < bytes || size + huge < size) return nullptr;
    // Mapped with a huge page's room to spare, then trimmed to start on a
    // huge page's boundary: only whole, aligned huge pages can be given.
    void* mapped = mmap(nullptr, size + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto at = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = (at + huge - 1) / huge * huge;
    const std::size_t head = start - at;  // less than huge
    if (head) munmap(mapped, head);
    munmap(reinterpret_cast<void*>(start + size), huge - head);
    void* p = reinterpret_cast<void*>(start);
#ifdef MADV_HUGEPAGE
    madvise(p, size, MADV_HUGEPAGE);  // a hint: without it, 4 KB pages
#endif
    return p;
}

void give_memory(void* p, std::size_t bytes) noexcept {
    if (!p) return;
    if (bytes < apart) {
        std::free(p);
        return;
    }
    munmap(p, rounded(bytes));
}

void* resize_memory(void* p, std::size_t old_bytes, std::size_t new_bytes, std::size_t kept) noexcept {
    if (!p) return take_memory(new_bytes);
#ifdef MREMAP_MAYMOVE
    if (old_bytes >= apart && new_bytes >= apart) {
        // The system moves the pages, not their bytes; the block keeps its
        // huge pages.
        void* moved = mremap(p, rounded(old_bytes), rounded(new_bytes), MREMAP_MAYMOVE);
        return moved == MAP_FAILED ? nullptr : moved;
    }
#endif
    void* q = take_memory(new_bytes);
    if (!q) return nullptr;
    if (kept) std::memcpy(q, p, kept);
    give_memory(p, old_bytes);
    return q;
}

}  // namespace quorlen
