#include "core/common/HugePages.h"

#include <sys/mman.h>

#include <new>

namespace fernhollow {

void* allocateHugePages(std::size_t size) {
    constexpr std::size_t hugePage = std::size_t{2} << 20;
    void* memory = nullptr;
    if (size < hugePage) {
        memory = std::malloc(size == 0 ? 1 : size);
    } else {
        const std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
        memory = std::aligned_alloc(hugePage, rounded);
        if (memory != nullptr) {
            // Only advice: without it, or where huge pages are off, the memory is the same.
            ::madvise(memory, rounded, MADV_HUGEPAGE);
        }
    }
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

} // namespace fernhollow
