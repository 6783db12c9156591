// The two directions of a walk over level data: a checked reader and an appending writer.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "level/room_table.h"
#include "level/table_place.h"
#include "storage/errors.h"

namespace quarlix {

/// A field's name in messages, kept in two parts: the place it belongs to ("room 5 ") and its
/// own name. The walks pass one with every field they read or write, and only a message joins
/// the parts, so a field costs no string of its own.
class field_name {
  public:
    constexpr field_name() noexcept = default;
    constexpr field_name(const char* name) noexcept : name_(name) {}
    constexpr field_name(std::string_view name) noexcept : name_(name) {}
    field_name(const std::string& name) noexcept : name_(name) {}
    constexpr field_name(std::string_view place, std::string_view name) noexcept
        : place_(place), name_(name) {}

    std::string str() const { return std::string(place_).append(name_); }

  private:
    std::string_view place_, name_;
};

/// The place that the names of a room's fields start with: `at + "pos_x"` names a field there
/// without joining the two.
struct field_place {
    std::string text; // "room 5 "
    field_name operator+(std::string_view name) const noexcept { return {text, name}; }
};

/// Raises ERangeError unless a size or count fits the 32-bit field it is written to.
inline void check_u32(std::uint64_t v, const field_name& field) {
    if (v > UINT32_MAX) {
        throw ERangeError(field.str() + ": " + std::to_string(v) +
                          " does not fit its 32-bit field");
    }
}

/// Raises ERangeError unless a count that a save writes fits its field (at most field_max)
/// and names no more records than are held: the file would say one thing and hold another.
inline void check_saved_count(std::int64_t count, std::uint64_t held, std::uint64_t field_max,
                              const field_name& field) {
    if (count < 0 || static_cast<std::uint64_t>(count) > field_max) {
        throw ERangeError(field.str() + ": count " + std::to_string(count) + " does not fit its " +
                          (field_max > UINT16_MAX ? "32" : "16") + "-bit field");
    }
    if (static_cast<std::uint64_t>(count) > held) {
        throw ERangeError(field.str() + ": count " + std::to_string(count) + " exceeds the " +
                          std::to_string(held) + " records held");
    }
}

/// Reads level data from a view that it never runs past. Counts are checked against the
/// bytes left (and capacities) before anything is sized or copied.
class level_loader {
  public:
    static constexpr bool loading = true;

    /// `space` names the offsets in messages: "file offset" or "level-data offset"; `version`
    /// is the level version whose layout the walks read.
    level_loader(std::span<const std::uint8_t> data, std::size_t pos, std::string_view space,
                 std::int32_t version)
        : version(version), data_(data), pos_(pos > data.size() ? data.size() : pos),
          space_(space) {}

    const std::int32_t version;

    /// From now on, every table's place goes to `places` (null: nowhere).
    void report_places(const ttable_sink* places) noexcept { places_ = places; }
    /// The room (and layer) whose tables follow; -1: none.
    void in_room(std::int32_t room) noexcept { room_ = room; }
    void in_layer(std::int32_t layer) noexcept { layer_ = layer; }
    /// Notes that the records of a table start here.
    void note(ttable_key table) const {
        if (places_ != nullptr && *places_) {
            (*places_)(ttable_place{table, room_, layer_, space_, pos_});
        }
    }

    std::size_t position() const noexcept { return pos_; }
    std::size_t size() const noexcept { return data_.size(); }
    std::size_t left() const noexcept { return data_.size() - pos_; }
    /// Moves to an offset, clamped to the end.
    void seek(std::size_t to) noexcept { pos_ = to > data_.size() ? data_.size() : to; }

    void bytes(void* dst, std::size_t n, const field_name& field) {
        need(n, field);
        if (n != 0) {
            std::memcpy(dst, data_.data() + pos_, n);
        }
        pos_ += n;
    }
    template <class T> void value(T& v, const field_name& field) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes(&v, sizeof v, field);
    }
    /// The next n bytes in place, after checking that they are there.
    std::span<const std::uint8_t> take(std::uint64_t n, const field_name& field) {
        need(n, field);
        const auto part = data_.subspan(pos_, static_cast<std::size_t>(n));
        pos_ += part.size();
        return part;
    }
    /// Everything from the current position to the end.
    std::span<const std::uint8_t> rest() {
        const auto part = data_.subspan(pos_);
        pos_ = data_.size();
        return part;
    }
    /// Reads n bytes and drops them.
    void skip(std::size_t n, const field_name& field) {
        need(n, field);
        pos_ += n;
    }
    /// Fails unless n more bytes are there; n is 64 bits so count x size cannot wrap.
    void need(std::uint64_t n, const field_name& field) const {
        if (n > left()) {
            fail(pos_, field,
                 std::to_string(n) + " bytes needed, " + std::to_string(left()) + " left");
        }
    }
    /// Fails when a count exceeds the capacity of the table it goes into.
    void capacity(std::uint64_t count, std::uint64_t cap, std::size_t at,
                  const field_name& field) const {
        if (count > cap) {
            fail(at, field,
                 std::to_string(count) + " records exceed the capacity of " + std::to_string(cap));
        }
    }
    /// A 16-bit count then that many records into a room table, sized to the count once the
    /// count is checked against the table's capacity and the bytes left.
    template <class C, class T, std::size_t N>
    void table(C& count, troom_table<T, N>& rows, const field_name& field, ttable_key key) {
        const std::size_t at = pos_;
        value(count, field);
        capacity(count, N, at, field);
        rows_into(rows, count, field, key);
    }
    /// count records into a room table sized to them, after checking that they are all there.
    template <class T, std::size_t N>
    void rows_into(troom_table<T, N>& rows, std::uint64_t count, const field_name& field,
                   ttable_key key) {
        note(key);
        need(count * sizeof(T), field);
        rows.assign(reinterpret_cast<const T*>(data_.data() + pos_),
                    static_cast<std::size_t>(count));
        pos_ += static_cast<std::size_t>(count) * sizeof(T);
    }
    /// count records straight into rows, after checking that they are all there.
    template <class T>
    void rows_into(T* rows, std::uint64_t count, const field_name& field, ttable_key key) {
        static_assert(std::is_trivially_copyable_v<T>);
        note(key);
        need(count * sizeof(T), field);
        bytes(rows, static_cast<std::size_t>(count) * sizeof(T), field);
    }

    [[noreturn]] void fail(std::size_t at, const field_name& field, const std::string& why) const {
        throw ELevelFormatError(field.str() + " at " + std::string(space_) + " " +
                                std::to_string(at) + ": " + why);
    }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_;
    std::string_view space_;
    const ttable_sink* places_ = nullptr;
    std::int32_t room_ = -1;
    std::int32_t layer_ = -1;
};

/// Appends level data to a buffer; patches go back to noted offsets. Made without a buffer it
/// only counts the bytes: the same walk then gives every size before anything is written.
class level_saver {
  public:
    static constexpr bool loading = false;

    /// Writes the layout of `version` (TR4 or TRC) to `out`.
    level_saver(std::vector<std::uint8_t>& out, std::int32_t version)
        : version(version), out_(&out) {}
    /// Counts without writing.
    explicit level_saver(std::int32_t version) : version(version) {}

    const std::int32_t version;

    std::size_t position() const noexcept { return size_; }
    void note(ttable_key) const noexcept {}
    void in_room(std::int32_t) noexcept {}

    void bytes(const void* src, std::size_t n, const field_name& = {}) {
        if (out_ != nullptr) {
            const auto* p = static_cast<const std::uint8_t*>(src);
            out_->insert(out_->end(), p, p + n);
        }
        size_ += n;
    }
    template <class T> void value(const T& v, const field_name& = {}) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes(&v, sizeof v);
    }
    void fill(std::uint8_t byte, std::size_t n) {
        if (out_ != nullptr) {
            out_->insert(out_->end(), n, byte);
        }
        size_ += n;
    }
    template <class C, class T, std::size_t N>
    void table(const C& count, const troom_table<T, N>& rows, const field_name&, ttable_key) {
        value(count);
        rows_from(rows, count);
    }
    /// count rows of a room table; rows that the table does not hold are written as zeros.
    template <class T, std::size_t N>
    void rows_from(const troom_table<T, N>& rows, std::size_t count) {
        const std::size_t held = std::min(count, rows.size());
        rows_from(rows.data(), held);
        fill(0, (count - held) * sizeof(T));
    }
    template <class T> void rows_from(const T* rows, std::size_t count) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes(rows, count * sizeof(T));
    }
    /// Overwrites the 32-bit field written earlier at `at` with a size or offset; one that
    /// does not fit 32 bits raises ERangeError instead of being cut.
    void patch_u32(std::size_t at, std::uint64_t v, const field_name& field) {
        check_u32(v, field);
        if (out_ != nullptr) {
            const auto word = static_cast<std::uint32_t>(v);
            std::memcpy(out_->data() + at, &word, 4);
        }
    }

  private:
    std::vector<std::uint8_t>* out_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace quarlix
