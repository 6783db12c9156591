// The checks of quarlix-info: references inside a loaded level that lead nowhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "level/trunit2.h"

namespace quarlix::info {

/// One problem, once: where (table name and index, e.g. "room 2 sector 3", "item 4"), what,
/// and the byte offset of the record where the loader noted its table.
struct problem {
    std::string where;
    std::string message;
    std::string space; // "file offset" or "level-data offset"; empty: unknown
    std::optional<std::size_t> offset;
};

/// The problems as they are listed: of each kind (the place and message with every number
/// taken out) the first `per_kind` in the order found, and a count of the rest. A level that
/// names one missing table from millions of records is thus listed in bounded memory and text.
class problem_list {
  public:
    /// How many problems of one kind are listed at most.
    static constexpr std::size_t listed_per_kind = 1000;

    /// `on_listed`, when given, receives each listed problem as it is found, and the list
    /// keeps none of them (for output written as it is made).
    explicit problem_list(std::size_t per_kind = listed_per_kind,
                          std::function<void(const problem&)> on_listed = {});

  private:
    struct kind_count {
        std::size_t order;
        std::uint64_t count;
    };

  public:
    /// A kind that the list counts, for adding more problems of it with add_again.
    class kind_ref {
      public:
        kind_ref() = default;
        explicit operator bool() const { return kind_ != nullptr; }

      private:
        friend problem_list;
        explicit kind_ref(kind_count* kind) : kind_(kind) {}
        kind_count* kind_ = nullptr;
    };
    /// Adds a problem at `where` with `message`, its kind found from their text; `make()` gives
    /// the problem, and is called only when it is listed. Returns its kind.
    template <class Make>
    kind_ref add(std::string_view where, std::string_view message, Make&& make) {
        kind_count& kind = kind_of(where, message);
        if (counted(kind)) {
            list(make());
        }
        return kind_ref(&kind);
    }
    /// Adds a problem of a kind that add() returned, its kind not looked for again.
    template <class Make> void add_again(kind_ref kind, Make&& make) {
        if (counted(*kind.kind_)) {
            list(make());
        }
    }

    /// Every problem found, listed or not.
    std::uint64_t total() const { return total_; }
    /// The problems listed, in the order found (none when they went to `on_listed`).
    const std::vector<problem>& listed() const { return listed_; }
    std::vector<problem> take_listed() { return std::move(listed_); }

    struct unlisted_kind {
        std::string kind; // e.g. "room N sector N: box N is beyond the N boxes"
        std::uint64_t count = 0;
    };
    /// The kinds with problems beyond the bound, in the order first found, with how many of
    /// them were not listed.
    std::vector<unlisted_kind> unlisted() const;

  private:
    /// The kind of a problem at `where` with `message`, noted when it is new.
    kind_count& kind_of(std::string_view where, std::string_view message);
    /// Counts a problem of `kind`; true when it is listed.
    bool counted(kind_count& kind) {
        ++total_;
        return ++kind.count <= per_kind_;
    }
    void list(problem p);

    std::size_t per_kind_;
    std::function<void(const problem&)> on_listed_;
    std::uint64_t total_ = 0;
    std::vector<problem> listed_;
    std::unordered_map<std::string, kind_count> kinds_;
    std::string kind_; // the kind of the problem being added
};

/// The kind of a problem: its place and message with every run of digits written as "N".
std::string problem_kind(const problem& p);

/// Every problem of the level, in table order, into `found`. A marked TR4 (a conversion's
/// output) is checked against its own sound map like any TR4; the map hidden in its floor data
/// is floor data to the checks.
/// `places` are where the load found the tables (its sink's reports); without them the
/// problems carry no offsets.
void check_level(const Ttrlevel& level, std::span<const ttable_place> places, problem_list& found);
/// Every problem of the level, all listed.
std::vector<problem> check_level(const Ttrlevel& level, std::span<const ttable_place> places = {});

} // namespace quarlix::info
