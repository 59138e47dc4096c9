#pragma once

#include <cstddef>
#include <cstdlib>

namespace fernhollow {

// Memory for `size` bytes, to be given back with std::free. Past 2 MB, whole 2 MB pages aligned
// to their size, which the kernel is asked to back with huge pages when first touched: a first
// touch of a 4 KB page costs a page fault, some 11 µs on a virtual machine, and a merge of a
// million records held them in 40,000 fresh pages. Throws std::bad_alloc when there is none.
void* allocateHugePages(std::size_t size);

// Huge pages for containers of millions of elements.
template <typename T> struct HugePageAllocator {
    using value_type = T;

    HugePageAllocator() = default;
    template <typename U> HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return static_cast<T*>(allocateHugePages(count * sizeof(T))); }
    void deallocate(T* memory, std::size_t) noexcept { std::free(memory); }

    friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) noexcept { return true; }
};

} // namespace fernhollow
