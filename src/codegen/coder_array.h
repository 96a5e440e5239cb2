// The growable, column-major N-dimensional array of the calibration core.
//
// coder::array<T, N> owns one contiguous buffer of T in column-major order: element (i, j) of
// a matrix is at linear position i + j * size(0). Extents and element counts are int. The buffer
// grows geometrically from a floor of 16 elements, keeps its live elements in storage order when
// it grows, zero-fills every position that becomes live, and is never given back before the array
// is destroyed. A buffer is released only by an array whose ownership flag is set; an array built
// over storage that the caller provides never sets it.
#ifndef CODER_ARRAY_H
#define CODER_ARRAY_H

#include <algorithm>
#include <climits>
#include <cstddef>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <vector>

#include "rtwtypes.h"

namespace coder {

// Iterators over the elements in storage order: plain pointers into the buffer.
template <typename T>
using array_iterator = T*;
template <typename T>
using const_array_iterator = const T*;

namespace detail {

// Largest capacity below the int limit that is still reached by doubling (2^30); a request above
// it takes the int limit itself.
constexpr int kLargestDoubledCapacity = 1073741823;

// Capacity that ensureCapacity reserves for a request of newNumel elements when the buffer holds
// capacity elements and newNumel > capacity: start at capacity (at least 16) and double until the
// request fits; beyond 2^30 jump straight to INT_MAX. Pure arithmetic, no allocation.
inline int grownCapacity(int capacity, int newNumel) {
  int i = capacity < 16 ? 16 : capacity;
  while (i < newNumel) {
    if (i > kLargestDoubledCapacity) {
      i = INT_MAX;
    } else {
      i *= 2;
    }
  }
  return i;
}

// Converts one extent given by a caller (any integer type) to int. A negative extent or one above
// INT_MAX cannot be represented and is refused like an allocation that cannot be made, instead of
// wrapping around to an unrelated size.
template <typename D>
inline int checkedExtent(D extent) {
  static_assert(std::is_integral<D>::value, "array extents are integers");
  if constexpr (std::is_signed<D>::value) {
    if (extent < 0 || static_cast<long long>(extent) > INT_MAX) {
      throw std::bad_array_new_length();
    }
  } else {
    if (static_cast<unsigned long long>(extent) > static_cast<unsigned long long>(INT_MAX)) {
      throw std::bad_array_new_length();
    }
  }
  return static_cast<int>(extent);
}

// Element count of an extent vector of N entries. The product is formed in 64 bits and refused
// (as an allocation that cannot be made) when it is negative or exceeds INT_MAX.
template <int N>
struct numel {
  template <typename SZ>
  static SZ compute(const SZ* size) {
    long long n = 1;
    for (int d = 0; d < N; ++d) {
      if (size[d] < 0) {
        throw std::bad_array_new_length();
      }
      n *= size[d];
      if (n > INT_MAX) {
        throw std::bad_array_new_length();
      }
    }
    return static_cast<SZ>(n);
  }
};

// The storage of an array: buffer, live element count, allocated element count and the flag that
// says whether this object releases the buffer.
template <typename T, typename SZ>
class data_ptr {
 public:
  typedef T value_type;
  typedef SZ size_type;

  data_ptr() : data_(nullptr), size_(0), capacity_(0), owner_(false) {}

  // A view of n elements of caller-owned storage; never released by this object.
  data_ptr(T* data, SZ n) : data_(data), size_(n), capacity_(n), owner_(false) {}

  // A deep copy of the live elements of other, in a buffer of its own.
  data_ptr(const data_ptr& other) : data_(nullptr), size_(0), capacity_(0), owner_(false) {
    copy(other.data_, other.size_);
  }

  data_ptr& operator=(const data_ptr& other) {
    if (this != &other) {
      copy(other.data_, other.size_);
    }
    return *this;
  }

  ~data_ptr() { release(); }

  // Adopts n elements of caller-owned storage (not released by this object), releasing the
  // current buffer first if it is owned.
  void set(T* data, SZ n) {
    release();
    data_ = data;
    size_ = n;
    capacity_ = n;
    owner_ = false;
  }

  // Makes this object hold its own copy of the n elements at data. A fresh buffer is filled
  // before the old one is released, so data may point into the current buffer.
  void copy(const T* data, SZ n) {
    T* fresh = nullptr;
    if (n > 0) {
      fresh = new T[static_cast<std::size_t>(n)];
      std::copy(data, data + n, fresh);
    }
    release();
    data_ = fresh;
    size_ = n;
    capacity_ = n;
    owner_ = fresh != nullptr;
  }

  // Shares the buffer of other without owning it: other stays responsible for releasing it and
  // must outlive this view.
  void shallow_copy(const data_ptr& other) {
    if (this != &other) {
      release();
      data_ = other.data_;
      size_ = other.size_;
      capacity_ = other.capacity_;
      owner_ = false;
    }
  }

  // Releases the buffer if owned and returns to the empty state.
  void clear() {
    release();
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    owner_ = false;
  }

  bool is_null() const { return data_ == nullptr; }
  bool is_owner() const { return owner_; }
  // Hands the responsibility for releasing the buffer to (or away from) this object. Setting it
  // is only sound for a buffer that was allocated with new[] and has no other owner.
  void set_owner(bool owner) { owner_ = owner; }
  SZ capacity() const { return capacity_; }
  SZ size() const { return size_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](SZ i) { return data_[i]; }
  const T& operator[](SZ i) const { return data_[i]; }

  // Grows the buffer to exactly n elements when n exceeds the capacity, keeping the live
  // elements in storage order; the element count is unchanged.
  void reserve(SZ n) {
    if (n > capacity_) {
      T* fresh = new T[static_cast<std::size_t>(n)];
      // size_ <= capacity_ < n, so this copies every live element; the explicit bound lets the
      // compiler see that the copy stays inside the new buffer (no false array-bounds error).
      const SZ live = size_ < n ? size_ : n;
      if (live > 0) {
        std::copy(data_, data_ + live, fresh);
      }
      release();
      data_ = fresh;
      capacity_ = n;
      owner_ = true;
    }
  }

  // Sets the element count to n. Positions that become live are zero-initialised; shrinking
  // keeps the buffer and its contents.
  void resize(SZ n) {
    if (n > size_) {
      if (n > capacity_) {
        reserve(n);
      }
      construct_last_n(n - size_);
      size_ = n;
    } else {
      destroy_last_n(size_ - n);
      size_ = n;
    }
  }

 private:
  // Zero-initialises the count positions that follow the live elements.
  void construct_last_n(SZ count) {
    T* first = data_ + size_;
    for (SZ k = 0; k < count; ++k) {
      first[k] = T();
    }
  }

  // The element types are trivial: elements that leave the live range need no destruction.
  void destroy_last_n(SZ) {}

  void release() {
    if (owner_) {
      delete[] data_;
    }
    owner_ = false;
  }

  T* data_;
  SZ size_;
  SZ capacity_;
  bool owner_;
};

}  // namespace detail

// Members shared by every array: storage, extents, sizing and element access.
template <typename T, typename SZ, int N>
class array_base {
  static_assert(N >= 1, "an array has at least one dimension");
  static_assert(std::is_trivially_copyable<T>::value, "elements are plain values");

 public:
  typedef T value_type;
  typedef SZ SizeType;

  array_base() : data_(), size_() {}

  // A view over caller-owned storage with the given N extents; never released by the array.
  array_base(T* data, const SZ* sz) : data_(), size_() {
    for (int d = 0; d < N; ++d) {
      size_[d] = sz[d];
    }
    data_.set(data, detail::numel<N>::compute(size_));
  }

  // A deep copy: the new array owns a buffer of its own.
  array_base(const array_base& other) : data_(other.data_), size_() {
    for (int d = 0; d < N; ++d) {
      size_[d] = other.size_[d];
    }
  }

  // The listed values as a column: the first extent is their count, every other extent 1.
  array_base(std::initializer_list<T> list) : data_(), size_() {
    size_[0] = detail::checkedExtent(list.size());
    for (int d = 1; d < N; ++d) {
      size_[d] = 1;
    }
    data_.copy(list.begin(), size_[0]);
  }

  array_base& operator=(const array_base& other) {
    if (this != &other) {
      data_ = other.data_;
      for (int d = 0; d < N; ++d) {
        size_[d] = other.size_[d];
      }
    }
    return *this;
  }

  bool is_owner() const { return data_.is_owner(); }
  // See data_ptr::set_owner: only sound for a buffer from new[] that nothing else releases.
  void set_owner(bool owner) { data_.set_owner(owner); }
  SZ capacity() const { return data_.capacity(); }
  // Makes room for at least n elements without changing extents or contents.
  void reserve(SZ n) { data_.reserve(n); }

  // Sets the N extents (one integer argument per dimension), then grows the buffer as needed.
  // Live elements keep their storage positions; new positions are zero.
  template <typename... Dims>
  void set_size(Dims... dims) {
    static_assert(sizeof...(Dims) == static_cast<std::size_t>(N), "one extent per dimension");
    const SZ extents[] = {static_cast<SZ>(detail::checkedExtent(dims))...};
    applyExtents(extents);
  }

  // Sets the first count extents from dims and every remaining extent to 1.
  void set_size_ones(const SZ* dims, int count) {
    SZ extents[N];
    for (int d = 0; d < N; ++d) {
      extents[d] = d < count ? static_cast<SZ>(detail::checkedExtent(dims[d])) : 1;
    }
    applyExtents(extents);
  }

  // Sets the extent of dimension dim (0-based) alone; a dimension outside 0 .. N-1 is ignored.
  void set_size_dim(SZ extent, int dim) {
    if (dim >= 0 && dim < N) {
      SZ extents[N];
      for (int d = 0; d < N; ++d) {
        extents[d] = size_[d];
      }
      extents[dim] = static_cast<SZ>(detail::checkedExtent(extent));
      applyExtents(extents);
    }
  }

  // Releases an owned buffer and makes the array empty, every extent 0.
  void clear() {
    data_.clear();
    for (int d = 0; d < N; ++d) {
      size_[d] = 0;
    }
  }

  SZ size(int i) const { return size_[i]; }
  const SZ* size() const { return size_; }
  SZ numel() const { return detail::numel<N>::compute(size_); }

  T& operator[](SZ i) { return data_[i]; }
  const T& operator[](SZ i) const { return data_[i]; }
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }

  array_iterator<T> begin() { return data_.data(); }
  array_iterator<T> end() { return data_.data() + data_.size(); }
  const_array_iterator<T> begin() const { return data_.data(); }
  const_array_iterator<T> end() const { return data_.data() + data_.size(); }

 protected:
  // Adopts N extents after checking that their product is representable, so a refused size
  // (or an allocation that fails) leaves the array as it was.
  void applyExtents(const SZ* extents) {
    ensureCapacity(detail::numel<N>::compute(extents));
    for (int d = 0; d < N; ++d) {
      size_[d] = extents[d];
    }
  }

  // Grows the capacity for newNumel elements (16 at least, doubling, INT_MAX beyond 2^30) in
  // a single reallocation, then sets the element count.
  void ensureCapacity(SZ newNumel) {
    if (newNumel > data_.capacity()) {
      data_.reserve(detail::grownCapacity(data_.capacity(), newNumel));
    }
    data_.resize(newNumel);
  }

  detail::data_ptr<T, SZ> data_;
  SZ size_[N];
};

template <typename T, int N>
class array;

namespace detail {

// Constructors, assignments and std::vector conversions of array<T, N>, written once for the
// general array and for its vector specialisation, which both derive from this class and add
// nothing else. A std::vector becomes a column: the first extent is its length, every other
// extent 1. Only array<T, N> derives from it (the vector assignment returns that array).
template <typename T, int N>
class array_common : public array_base<T, int, N> {
 private:
  typedef array_base<T, int, N> Base;

 public:
  using Base::Base;
  array_common() : Base() {}

  // A copy of the vector's values as a column.
  explicit array_common(const std::vector<T>& values) : Base() { assign(values); }

  array<T, N>& operator=(const std::vector<T>& values) {
    assign(values);
    return static_cast<array<T, N>&>(*this);
  }

  // The elements in storage order.
  operator std::vector<T>() const {
    const T* first = this->data();
    return std::vector<T>(first, first + this->numel());
  }

 private:
  void assign(const std::vector<T>& values) {
    const int n = detail::checkedExtent(values.size());
    this->data_.copy(values.data(), n);
    this->size_[0] = n;
    for (int d = 1; d < N; ++d) {
      this->size_[d] = 1;
    }
  }
};

}  // namespace detail

// An N-dimensional array with int extents.
template <typename T, int N>
class array : public detail::array_common<T, N> {
 public:
  using detail::array_common<T, N>::array_common;
  using detail::array_common<T, N>::operator=;
};

// A vector: one extent.
template <typename T>
class array<T, 1> : public detail::array_common<T, 1> {
 public:
  using detail::array_common<T, 1>::array_common;
  using detail::array_common<T, 1>::operator=;
};

}  // namespace coder

#endif
