// What quarlix-info says about a level: a summary of plain facts, written out as the JSON schema
// and as the text forms, each as it goes, so that a level of tens of thousands of rooms costs
// little more than the level.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "info/level_checks.h"
#include "level/trunit2.h"

namespace quarlix::info {

using json = nlohmann::ordered_json;

/// What the file itself showed besides the level: its name and size, and whether its content
/// came out of a "ZLIB" container.
struct file_facts {
    std::string name;
    std::uint64_t size = 0;
    bool container = false;
};

/// The facts of one room that the report shows.
struct room_facts {
    std::int32_t x = 0, z = 0, y_bottom = 0, y_top = 0;
    std::uint16_t sectors_z = 0, sectors_x = 0;
    std::uint32_t vertices = 0, rectangles = 0, triangles = 0;
    std::optional<std::uint32_t> layers; // TRC only
    std::vector<std::uint16_t> portals;  // the rooms they lead to
    std::uint32_t lights = 0, static_instances = 0;
    bool water = false;
    std::int32_t alternate_room = -1;
};

/// A compressed chunk of a TR4 or TRC file.
struct chunk_facts {
    const char* name = "";
    std::uint32_t unpacked = 0, packed = 0;
};

/// A counted section after the rooms, or the sound map, which has no count in the model.
struct section_facts {
    std::string_view key;    // "cameras", "sound_map"
    std::int64_t count = 0;  // the model's count as read (or the sound map's entries)
    bool counted = true;     // false for the sound map
    std::uint64_t bytes = 0; // what the elements take in the file
};

struct moveable_facts {
    std::uint32_t object_id = 0;
    std::uint16_t meshes = 0;
    std::uint64_t animations = 0, keyframes = 0; // its own, and the keyframes they declare
};

struct static_mesh_facts {
    std::uint32_t id = 0;
    std::uint16_t mesh = 0;
};

/// How many items place one object id.
struct item_count {
    std::int16_t object_id = 0;
    std::uint64_t count = 0;
};

/// The summary of a loaded level, which outlives the level: plain facts, which each form writes
/// out in the schema's order.
struct level_summary {
    file_facts file;
    std::int32_t version = 0;
    std::uint32_t first_word = 0;
    std::uint16_t room_textiles = 0, object_textiles = 0, bump_textiles = 0;
    std::uint32_t pages = 0;
    std::vector<chunk_facts> chunks;
    bool marked = false;
    std::uint16_t counted_rooms = 0;
    std::vector<room_facts> rooms;
    std::vector<section_facts> sections;
    std::optional<std::uint64_t> samples, declared_samples; // listed for TR4 and TRC only
    std::uint32_t sample_bytes = 0;
    std::vector<moveable_facts> moveables;
    std::vector<static_mesh_facts> static_meshes;
    std::vector<item_count> items;
};

level_summary describe_level(const Ttrlevel& level, const file_facts& file);
/// "room 2 sector 3 (level-data offset 1234): ..." for one problem.
std::string problem_line(const problem& p);

/// Writes JSON as nlohmann's dump with an indent of 2 would, one value at a time, so that a
/// document need never be held whole. Names that are not UTF-8 come out with replacement
/// characters rather than failing.
class json_writer {
  public:
    explicit json_writer(std::ostream& out) : out_(out) {}
    void begin_object() { begin('{'); }
    void begin_array() { begin('['); }
    /// Closes the innermost object or array.
    void end();
    /// The key of the next value, in an object.
    void key(std::string_view name);
    void value(const json& v);
    /// Scalars, without making a json value of them first.
    void text(std::string_view s);
    void number(std::uint64_t n);
    void integer(std::int64_t n);
    void boolean(bool b);
    void null();

  private:
    struct open_container {
        char close;
        bool empty;
    };
    void begin(char open);
    void next_element();
    /// Before a value: a new element's line unless the value follows its key.
    void next_value();
    std::ostream& out_;
    std::vector<open_container> open_;
    bool after_key_ = false;
};

/// The summary's keys from "file" to "samples", in an object that `out` has begun.
void write_summary(json_writer& out, const level_summary& summary);
/// One problem as an element of the schema's "problems" array.
void write_problem(json_writer& out, const problem& p);
/// The "problems" key and array, its elements written by the returned list's checks as they
/// are found (up to `per_kind` of a kind); then finish_problems adds "problems_unlisted" when
/// a kind passed the bound.
problem_list stream_problems(json_writer& out,
                             std::size_t per_kind = problem_list::listed_per_kind);
void finish_problems(json_writer& out, const problem_list& problems);

/// The readable report of one summary, with its problems after a --check.
void print_report(const level_summary& summary, const problem_list* problems, std::ostream& out);
/// Two summaries side by side, every differing line marked with '*' in the first column, and
/// each side's problems after a --check.
void print_difference(const level_summary& left, const problem_list* left_problems,
                      const level_summary& right, const problem_list* right_problems,
                      std::ostream& out);

} // namespace quarlix::info
