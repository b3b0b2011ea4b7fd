// Storage for large arrays that are written in full right after they are
// made (the fit's copies of its inputs).
//
// A std::vector<double> fills new elements with zeros, and the first write
// to each fresh 4 KiB page costs a page fault: for an input of 80 MB that was
// most of the copy's time. Here elements are left uninitialised, and blocks
// of 2 MiB and more are 2 MiB-aligned and offered to the kernel for
// transparent huge pages, so that one fault maps 2 MiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace quillon {

template <class T>
struct BulkAllocator {
  using value_type = T;
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
#if defined(__linux__)
  // The data's bytes rounded up to whole pages of the system.
  static std::size_t mapped_length(std::size_t bytes) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
  }
#endif

  BulkAllocator() = default;
  template <class U>
  BulkAllocator(const BulkAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) return static_cast<T*>(::operator new(bytes));
#if defined(__linux__)
    // A mapping of exactly the pages needed that starts on a 2 MiB boundary:
    // map 2 MiB more and return the ends. The last partial huge page is then
    // mapped in small pages, so resident memory stays the size of the data.
    const std::size_t length = mapped_length(bytes);
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    char* const first = static_cast<char*>(mapped);
    char* const aligned =
        first + (kHugePage - reinterpret_cast<std::uintptr_t>(first) % kHugePage) % kHugePage;
    if (aligned != first) munmap(first, static_cast<std::size_t>(aligned - first));
    char* const end = first + length + kHugePage;
    if (aligned + length != end)
      munmap(aligned + length, static_cast<std::size_t>(end - (aligned + length)));
#if defined(MADV_HUGEPAGE)
    madvise(aligned, length, MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
    return reinterpret_cast<T*>(aligned);
#else
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
#endif
  }

  void deallocate(T* p, std::size_t n) noexcept {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) {
      ::operator delete(p);
    } else {
#if defined(__linux__)
      munmap(p, mapped_length(bytes));
#else
      std::free(p);
#endif
    }
  }

  // Value-initialisation (resize) leaves the element as it is.
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  template <class U>
  bool operator==(const BulkAllocator<U>&) const noexcept {
    return true;
  }
};

// Doubles left uninitialised by resize().
using BulkBuffer = std::vector<double, BulkAllocator<double>>;

}  // namespace quillon
