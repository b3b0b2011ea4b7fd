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
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quillon {

template <class T>
struct BulkAllocator {
  using value_type = T;
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;

  BulkAllocator() = default;
  template <class U>
  BulkAllocator(const BulkAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) return static_cast<T*>(::operator new(bytes));
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(p, rounded, MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
    return static_cast<T*>(p);
  }

  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kHugePage) {
      ::operator delete(p);
    } else {
      std::free(p);
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
