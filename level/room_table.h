// troom_table: a room or layer table of at most N rows whose storage holds exactly the rows it
// has, so that a room costs what its file holds, not what its tables could hold.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "storage/errors.h"

namespace quarlix {

/// Rows of a stored record type, at most N of them. Copies are deep; new rows are zero. Rows
/// past size() do not exist. Pointer and two 16-bit words: 16 bytes whatever N is.
template <class T, std::size_t N> class troom_table {
    static_assert(std::is_trivially_copyable_v<T> && std::is_standard_layout_v<T>);
    static_assert(N <= 0xFFFF, "the sizes are 16-bit");

  public:
    troom_table() noexcept = default;
    troom_table(const troom_table& other) { assign(other.data(), other.size()); }
    troom_table(troom_table&& other) noexcept
        : rows_(other.rows_), size_(other.size_), reserved_(other.reserved_) {
        other.rows_ = nullptr;
        other.size_ = other.reserved_ = 0;
    }
    troom_table& operator=(const troom_table& other) {
        if (this != &other) {
            assign(other.data(), other.size());
        }
        return *this;
    }
    troom_table& operator=(troom_table&& other) noexcept {
        if (this != &other) {
            std::free(rows_);
            rows_ = other.rows_;
            size_ = other.size_;
            reserved_ = other.reserved_;
            other.rows_ = nullptr;
            other.size_ = other.reserved_ = 0;
        }
        return *this;
    }
    ~troom_table() { std::free(rows_); }

    static constexpr std::size_t max_size() noexcept { return N; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    T& operator[](std::size_t i) noexcept {
        assert(i < size_);
        return rows_[i];
    }
    const T& operator[](std::size_t i) const noexcept {
        assert(i < size_);
        return rows_[i];
    }
    T* data() noexcept { return rows_; }
    const T* data() const noexcept { return rows_; }
    T* begin() noexcept { return rows_; }
    T* end() noexcept { return rows_ + size_; }
    const T* begin() const noexcept { return rows_; }
    const T* end() const noexcept { return rows_ + size_; }

    /// n rows: the first min(size, n) kept, new ones zero. More than N raise ERangeError.
    void resize(std::size_t n) {
        check(n);
        if (n > reserved_) {
            grow_to(n);
        }
        if (n > size_) {
            std::memset(static_cast<void*>(rows_ + size_), 0, (n - size_) * sizeof(T));
        }
        size_ = static_cast<std::uint16_t>(n);
    }
    /// Appends a row, the storage growing geometrically (up to N) so that appends stay linear.
    void push_back(const T& row) {
        check(std::size_t{size_} + 1);
        if (size_ == reserved_) {
            grow_to(std::min<std::size_t>(N, std::max<std::size_t>(8, 2 * std::size_t{size_})));
        }
        rows_[size_++] = row;
    }
    /// The table becomes a copy of n rows, in one bulk copy; its storage is exactly n rows.
    void assign(const T* rows, std::size_t n) {
        check(n);
        if (n != reserved_) {
            release();
            grow_to(n);
        }
        if (n != 0) {
            std::memcpy(static_cast<void*>(rows_), rows, n * sizeof(T));
        }
        size_ = static_cast<std::uint16_t>(n);
    }
    void clear() noexcept { release(); }

  private:
    static void check(std::size_t n) {
        if (n > N) {
            throw ERangeError(std::to_string(n) + " rows exceed the table capacity of " +
                              std::to_string(N));
        }
    }
    void grow_to(std::size_t n) {
        if (n == 0) {
            return;
        }
        void* grown = std::realloc(rows_, n * sizeof(T));
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        rows_ = static_cast<T*>(grown);
        reserved_ = static_cast<std::uint16_t>(n);
    }
    void release() noexcept {
        std::free(rows_);
        rows_ = nullptr;
        size_ = reserved_ = 0;
    }

    T* rows_ = nullptr;
    std::uint16_t size_ = 0;
    std::uint16_t reserved_ = 0;
};

} // namespace quarlix
