// A vector that can take for its elements memory something else holds (a mapping of a kept
// file), without copying the elements there or clearing them: a process that loads millions of
// them uses them where they lie, at the cost of mapping them, where a copy would cost a fault and
// a clearing per page besides the copy.
//
// Contract:
//   - AdoptableVector<T>(AdoptingAllocator<T>(held, n)) followed by reserve(n) and resize(n) has
//     the n elements at `held`, as they are; growing past them moves the elements to memory of
//     the vector's own, as any vector does; `held` is never freed here, and must outlive the
//     vector (or its growth);
//   - only an allocator given memory to adopt leaves the elements resize adds as they are found;
//     any other (a default one, a copied vector's) is the plain allocator.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace jet {

template <typename T>
class AdoptingAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;

  AdoptingAllocator() = default;
  AdoptingAllocator(T* held, size_t count) : held_(held), count_(count), offered_(held != nullptr) {}
  template <typename U>
  AdoptingAllocator(const AdoptingAllocator<U>&) {}  // NOLINT: a rebound allocator holds nothing

  T* allocate(size_t n) {
    if (offered_ && n == count_) {
      offered_ = false;
      return held_;
    }
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) {
    if (p != held_ || p == nullptr) ::operator delete(p);
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  void construct(U* p) {
    if (held_ != nullptr) {
      ::new (static_cast<void*>(p)) U;  // what lies there is the element
    } else {
      ::new (static_cast<void*>(p)) U();
    }
  }
  AdoptingAllocator select_on_container_copy_construction() const { return AdoptingAllocator(); }

  // The memory given to adopt (null: none) and its count of elements, whether or not the vector
  // still has its elements there.
  T* held() const { return held_; }
  size_t held_count() const { return count_; }

  friend bool operator==(const AdoptingAllocator& a, const AdoptingAllocator& b) { return a.held_ == b.held_; }

 private:
  T* held_ = nullptr;
  size_t count_ = 0;
  bool offered_ = false;
};

template <typename T>
using AdoptableVector = std::vector<T, AdoptingAllocator<T>>;

}  // namespace jet
