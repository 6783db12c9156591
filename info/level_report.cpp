// The summary of a level, its JSON and its two text forms: the report of one level and the
// side-by-side difference of two. All three are written from the one summary, so they never
// disagree; a room's keys are listed once, for all three.
#include "info/level_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <concepts>
#include <cstdio>
#include <map>
#include <span>
#include <utility>

#include "level/conversion.h"
#include "level/object_data.h"
#include "level/samples.h"
#include "level/sections.h"

namespace quarlix::info {

namespace {

std::string hex_word(std::uint32_t word) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", word);
    return text;
}

/// Only the first words shared by two versions go on to the name test.
bool shares_first_word(std::int32_t version) { return version != 5; }
/// Whether the name test found its mark, for a version of a shared first word.
bool name_test_passed(std::int32_t version) {
    return version == 2 || version == 4 || version == level_trc;
}

std::string format_name(std::int32_t version) {
    return version == level_tr4 ? "TR4" : version == level_trc ? "TRC" : "older";
}

/// The name test that decided between the two versions of a first word: what it looks for.
const char* name_test_of(std::int32_t version) {
    switch (version) {
    case 1:
    case 2:
        return ".TUB/.tub";
    case 3:
    case 4:
        return ".TRG/.trg";
    case level_tr4:
    case level_trc:
        return ".TRC/.trc";
    default:
        return nullptr;
    }
}

/// The objects: each moveable with its meshes, animations (its own, as the moveables' first
/// animations divide them) and the keyframes they declare; each static mesh; the items of
/// each object id.
void describe_objects(const Ttrlevel& l, level_summary& summary) {
    const std::size_t animations =
        l.version >= level_tr4 ? l.animations.size() : l.animations_old.size();
    std::vector<std::uint64_t> keyframes_before(animations + 1, 0);
    for (std::size_t a = 0; a < animations; ++a) {
        keyframes_before[a + 1] = keyframes_before[a] + declared_keyframes(l, a).value_or(0);
    }
    const std::vector<animation_span> spans = moveable_animations(l);
    summary.moveables.reserve(l.moveables.size());
    for (std::size_t i = 0; i < l.moveables.size(); ++i) {
        summary.moveables.push_back(
            {l.moveables[i].object_id, l.moveables[i].num_meshes, spans[i].end - spans[i].first,
             keyframes_before[spans[i].end] - keyframes_before[spans[i].first]});
    }
    summary.static_meshes.reserve(l.static_meshes.size());
    for (const auto& mesh : l.static_meshes) {
        summary.static_meshes.push_back({mesh.id, mesh.mesh});
    }
    std::map<std::int16_t, std::uint64_t> per_object;
    if (l.version <= 2) {
        for (const titem_old& item : l.items_old)
            ++per_object[std::int16_t{item.object_id}];
    } else {
        for (const titem& item : l.items)
            ++per_object[std::int16_t{item.object_id}];
    }
    for (const auto& [object, count] : per_object) {
        summary.items.push_back({object, count});
    }
}

template <std::integral N> void append_number(std::string& text, N n) {
    char digits[24];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

/// A count and its noun: "1 page", "3 pages".
struct counted {
    std::uint64_t n;
    std::string_view one, many;
};

void append_piece(std::string& text, std::string_view piece) { text += piece; }
void append_piece(std::string& text, std::integral auto n) { append_number(text, n); }
void append_piece(std::string& text, const counted& c) {
    append_number(text, c.n);
    text += ' ';
    text += c.n == 1 ? c.one : c.many;
}

/// Appends the pieces (texts, numbers and counts) one after another.
template <class... Pieces> void append_pieces(std::string& text, const Pieces&... pieces) {
    (append_piece(text, pieces), ...);
}

/// The pieces one after another.
template <class... Pieces> std::string joined(const Pieces&... pieces) {
    std::string text;
    text.reserve(64);
    append_pieces(text, pieces...);
    return text;
}

std::string plural(std::uint64_t n, std::string_view one, std::string_view many) {
    return joined(counted{n, one, many});
}

counted bytes(std::uint64_t n) { return {n, "byte", "bytes"}; }

/// One value of a room's object in the schema.
struct room_value {
    enum kind_t { number, absent, rooms, truth } kind = number;
    std::int64_t n = 0; // a number, or a truth as 0 or 1
    std::span<const std::uint16_t> list = {};
};

/// A room's object in the schema: its keys and values, in order.
using room_entries = std::array<std::pair<std::string_view, room_value>, 16>;

room_entries room_fields(const room_facts& r, std::size_t index) {
    const auto n = [](std::int64_t v) { return room_value{room_value::number, v}; };
    return {{{"index", n(static_cast<std::int64_t>(index))},
             {"x", n(r.x)},
             {"z", n(r.z)},
             {"y_bottom", n(r.y_bottom)},
             {"y_top", n(r.y_top)},
             {"sectors_z", n(r.sectors_z)},
             {"sectors_x", n(r.sectors_x)},
             {"vertices", n(r.vertices)},
             {"rectangles", n(r.rectangles)},
             {"triangles", n(r.triangles)},
             {"layers", r.layers ? n(*r.layers) : room_value{room_value::absent}},
             {"portals", room_value{room_value::rooms, 0, r.portals}},
             {"lights", n(r.lights)},
             {"static_instances", n(r.static_instances)},
             {"water", room_value{room_value::truth, r.water ? 1 : 0}},
             {"alternate_room", n(r.alternate_room)}}};
}

/// A room's value as its JSON text without spaces, "-" when it has none.
void append_value(std::string& text, const room_value& v) {
    switch (v.kind) {
    case room_value::number:
        append_number(text, v.n);
        break;
    case room_value::absent:
        text += '-';
        break;
    case room_value::rooms:
        text += '[';
        for (std::size_t i = 0; i < v.list.size(); ++i) {
            if (i != 0) {
                text += ',';
            }
            append_number(text, v.list[i]);
        }
        text += ']';
        break;
    case room_value::truth:
        text += v.n != 0 ? "true" : "false";
        break;
    }
}

void write_room(json_writer& out, const room_facts& room, std::size_t index) {
    out.begin_object();
    for (const auto& [key, v] : room_fields(room, index)) {
        out.key(key);
        switch (v.kind) {
        case room_value::number:
            out.integer(v.n);
            break;
        case room_value::absent:
            out.null();
            break;
        case room_value::rooms:
            out.begin_array();
            for (const std::uint16_t p : v.list) {
                out.number(p);
            }
            out.end();
            break;
        case room_value::truth:
            out.boolean(v.n != 0);
            break;
        }
    }
    out.end();
}

/// A room's line of the report, after its label.
void room_text(const room_facts& r, std::string& text) {
    text.clear();
    append_pieces(text, "x ", r.x, ", z ", r.z, ", y ", r.y_top, " to ", r.y_bottom, "; sectors ",
                  r.sectors_z, " x ", r.sectors_x, "; ", counted{r.vertices, "vertex", "vertices"},
                  ", ", counted{r.rectangles, "rectangle", "rectangles"}, ", ",
                  counted{r.triangles, "triangle", "triangles"});
    if (r.layers) {
        append_pieces(text, ", ", counted{*r.layers, "layer", "layers"});
    }
    text += "; portals to";
    if (r.portals.empty()) {
        text += " none";
    }
    for (const std::uint16_t p : r.portals) {
        append_pieces(text, " ", p);
    }
    append_pieces(text, "; ", counted{r.lights, "light", "lights"}, ", ",
                  counted{r.static_instances, "static instance", "static instances"});
    if (r.water) {
        text += "; water";
    }
    if (r.alternate_room != -1) {
        append_pieces(text, "; alternate room ", r.alternate_room);
    }
}

/// One line of a report: a label and a value.
struct row {
    std::string label, value;
};

/// The rows before the rooms: the file, its version and chunks, the room count.
std::vector<row> head_rows(const level_summary& s) {
    std::vector<row> rows;
    rows.reserve(9 + s.chunks.size());
    const auto add = [&](std::string label, std::string value) {
        rows.push_back({std::move(label), std::move(value)});
    };
    add("file", s.file.name);
    add("file size", joined(bytes(s.file.size)));
    add("version", joined(s.version, " (", format_name(s.version), ")"));
    std::string recognised = joined("first word ", hex_word(s.first_word));
    if (shares_first_word(s.version)) {
        recognised += joined(", name test ", name_test_of(s.version),
                             name_test_passed(s.version) ? ": yes" : ": no");
    }
    add("recognised by", std::move(recognised));
    add("container", s.file.container ? "yes, a \"ZLIB\" container unwrapped" : "no");
    add("textiles", joined("room ", s.room_textiles, ", object ", s.object_textiles, ", bump ",
                           s.bump_textiles, "; ", counted{s.pages, "page", "pages"}));
    for (const chunk_facts& c : s.chunks) {
        add(joined("chunk ", c.name), joined(bytes(c.unpacked), ", ", c.packed, " packed"));
    }
    add("marked", s.marked ? "yes, the conversion marker and a hidden sound map" : "no");
    add("rooms", joined(s.counted_rooms));
    return rows;
}

/// The rows after the rooms: the sections, the samples and the objects.
std::vector<row> tail_rows(const level_summary& s) {
    std::vector<row> rows;
    rows.reserve(s.sections.size() + 1 + s.moveables.size() + s.static_meshes.size() +
                 s.items.size());
    for (const section_facts& section : s.sections) {
        rows.push_back(
            {joined("section ", section.key),
             joined(static_cast<std::uint64_t>(section.count), " (", bytes(section.bytes), ")")});
    }
    std::string samples = s.samples ? joined(*s.samples) : "-";
    if (s.samples != s.declared_samples) {
        samples += joined(" of the ", *s.declared_samples, " declared");
    }
    rows.push_back({"samples", joined(samples, " (", bytes(s.sample_bytes), " of sample data)")});
    for (std::size_t i = 0; i < s.moveables.size(); ++i) {
        const moveable_facts& m = s.moveables[i];
        rows.push_back({joined("moveable ", i),
                        joined("object ", m.object_id, "; ", counted{m.meshes, "mesh", "meshes"},
                               ", ", counted{m.animations, "animation", "animations"}, ", ",
                               counted{m.keyframes, "keyframe", "keyframes"})});
    }
    for (std::size_t i = 0; i < s.static_meshes.size(); ++i) {
        rows.push_back({joined("static mesh ", i),
                        joined("id ", s.static_meshes[i].id, "; mesh ", s.static_meshes[i].mesh)});
    }
    for (const item_count& i : s.items) {
        rows.push_back({joined("items of object ", i.object_id), joined(i.count)});
    }
    return rows;
}

void room_label(std::size_t index, std::string& label) {
    label.clear();
    append_pieces(label, "room ", index);
}

/// A room that the other level lacks, in short.
std::string room_in_short(const room_facts& room) {
    return joined("x ", room.x, ", z ", room.z, "; ", counted{room.vertices, "vertex", "vertices"});
}

/// Writes `text` and spaces after it up to `width` characters.
void put_padded(std::ostream& out, std::string_view text, std::size_t width) {
    static constexpr std::string_view spaces = "                                ";
    out << text;
    for (std::size_t left = width > text.size() ? width - text.size() : 0; left != 0;) {
        const std::size_t n = std::min(left, spaces.size());
        out << spaces.substr(0, n);
        left -= n;
    }
}

void print_problems(const problem_list& problems, std::ostream& out) {
    out << (problems.total() == 0 ? std::string("no problems found")
                                  : plural(problems.total(), "problem", "problems") + " found:")
        << '\n';
    for (const problem& p : problems.listed()) {
        out << "  " << problem_line(p) << '\n';
    }
    for (const problem_list::unlisted_kind& kind : problems.unlisted()) {
        out << "  ... " << kind.count << " more: " << kind.kind << '\n';
    }
}

/// Two sides' rows, one row a label: labels in the left's order, and a label only the right
/// has after the label before it. For the short lists before and after the rooms.
struct side_by_side_row {
    std::string_view label, left, right;
};

std::vector<side_by_side_row> merged(const std::vector<row>& a, const std::vector<row>& b) {
    // Labels are unique on each side, and mostly in the same order on both: the label after
    // the last one placed is looked at first.
    struct entry {
        const std::string* label;
        const std::string *left, *right;
    };
    std::vector<entry> entries;
    entries.reserve(a.size() + b.size());
    for (const row& r : a) {
        entries.push_back({&r.label, &r.value, nullptr});
    }
    std::size_t after = 0;
    for (const row& r : b) {
        auto at = entries.begin() + static_cast<std::ptrdiff_t>(after);
        if (at == entries.end() || *at->label != r.label) {
            at = std::find_if(entries.begin(), entries.end(),
                              [&](const entry& e) { return *e.label == r.label; });
        }
        if (at != entries.end()) {
            at->right = &r.value;
            after = static_cast<std::size_t>(at - entries.begin()) + 1;
        } else {
            entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(after),
                           {&r.label, nullptr, &r.value});
            ++after;
        }
    }
    static const std::string none = "(none)";
    std::vector<side_by_side_row> rows;
    rows.reserve(entries.size());
    for (const entry& e : entries) {
        rows.push_back(
            {*e.label, e.left != nullptr ? *e.left : none, e.right != nullptr ? *e.right : none});
    }
    return rows;
}

/// The text of the rows of one room side by side, reused from room to room.
struct room_row_text {
    std::string label, left, right;
};

/// The rows of room `index` side by side: field by field when both levels hold it, else one
/// row with "(none)" on the side that lacks it.
template <class F>
void room_rows(const level_summary& left, const level_summary& right, std::size_t index,
               room_row_text& t, F&& f) {
    const bool in_left = index < left.rooms.size(), in_right = index < right.rooms.size();
    room_label(index, t.label);
    if (!in_left || !in_right) {
        t.left = in_left ? room_in_short(left.rooms[index]) : "(none)";
        t.right = in_right ? room_in_short(right.rooms[index]) : "(none)";
        f(side_by_side_row{t.label, t.left, t.right});
        return;
    }
    const room_entries l = room_fields(left.rooms[index], index);
    const room_entries r = room_fields(right.rooms[index], index);
    const std::size_t label_size = t.label.size();
    for (std::size_t k = 1; k < l.size(); ++k) { // every key after "index"
        t.label.resize(label_size);
        append_pieces(t.label, " ", l[k].first);
        t.left.clear();
        append_value(t.left, l[k].second);
        t.right.clear();
        append_value(t.right, r[k].second);
        f(side_by_side_row{t.label, t.left, t.right});
    }
}

} // namespace

level_summary describe_level(const Ttrlevel& l, const file_facts& file) {
    level_summary summary;
    summary.file = file;
    summary.version = l.version;
    summary.first_word = l.magic;
    summary.room_textiles = l.num_room_textiles;
    summary.object_textiles = l.num_object_textiles;
    summary.bump_textiles = l.num_bump_textiles;
    summary.pages = l.num_textiles;
    if (l.version >= level_tr4) {
        summary.chunks = {{"textiles32", l.textiles32_size, l.textiles32_packed_size},
                          {"textiles16", l.textiles16_size, l.textiles16_packed_size},
                          {"textiles_misc", l.textiles_misc_size, l.textiles_misc_packed_size}};
    }
    if (l.version == level_tr4) {
        summary.chunks.push_back(
            {"level_data", l.level_data_chunk_size, l.level_data_chunk_packed_size});
    }
    summary.marked = l.version == level_tr4 && has_conversion_marker(l);
    summary.counted_rooms = l.num_rooms;
    summary.rooms.reserve(l.rooms.size());
    for (const troom& r : l.rooms) {
        room_facts room;
        room.x = r.pos_x;
        room.z = r.pos_z;
        room.y_bottom = r.y_bottom;
        room.y_top = r.y_top;
        room.sectors_z = r.num_z_sectors;
        room.sectors_x = r.num_x_sectors;
        room.vertices = r.num_vertices;
        room.rectangles = r.num_rectangles;
        room.triangles = r.num_triangles;
        if (l.version == level_trc) {
            room.layers = r.num_layers;
        }
        for (std::size_t p = 0; p < r.num_portals; ++p) {
            room.portals.push_back(r.portals[p].room);
        }
        room.lights = r.num_lights;
        room.static_instances = r.num_static_instances;
        room.water = (r.flags[0] & 0x01u) != 0;
        room.alternate_room = room_alternate(r, l.version);
        summary.rooms.push_back(std::move(room));
    }
    summary.sections.reserve(std::size(all_sections) + 1);
    for (const tsection* section : all_sections) {
        const std::int32_t count = l.*section->count;
        summary.sections.push_back(
            {section->key(), count, true,
             static_cast<std::uint64_t>(count) * section->element_size(l.version)});
        if (section == &section_demo_data) {
            summary.sections.push_back({"sound_map",
                                        static_cast<std::int64_t>(sound_map_entries(l.version)),
                                        false, sound_map_bytes(l.version)});
        }
    }
    if (l.version >= level_tr4) {
        const sample_list list = read_sample_list(l.sample_data.span());
        summary.samples = list.samples.size();
        summary.declared_samples = list.declared;
    }
    summary.sample_bytes = l.sample_data_size;
    describe_objects(l, summary);
    return summary;
}

void write_problem(json_writer& out, const problem& p) {
    out.begin_object();
    out.key("where");
    out.text(p.where);
    out.key("message");
    out.text(p.message);
    out.key("offset");
    if (p.offset) {
        out.number(*p.offset);
    } else {
        out.null();
    }
    out.key("offset_in");
    if (p.offset) {
        out.text(p.space);
    } else {
        out.null();
    }
    out.end();
}

std::string problem_line(const problem& p) {
    std::string line = p.where;
    if (p.offset) {
        line += " (" + p.space + " " + std::to_string(*p.offset) + ")";
    }
    return line + ": " + p.message;
}

void json_writer::begin(char open) {
    if (!after_key_ && !open_.empty()) {
        next_element();
    }
    after_key_ = false;
    out_ << open;
    open_.push_back({open == '{' ? '}' : ']', true});
}

void json_writer::end() {
    const open_container closed = open_.back();
    open_.pop_back();
    if (!closed.empty) {
        out_ << '\n' << std::string(2 * open_.size(), ' ');
    }
    out_ << closed.close;
}

void json_writer::next_element() {
    out_ << (open_.back().empty ? "\n" : ",\n") << std::string(2 * open_.size(), ' ');
    open_.back().empty = false;
}

namespace {

/// True when dump() writes the text between quotes as it is: printable ASCII without quotes or
/// backslashes.
bool plain_text(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '\\'; });
}

} // namespace

void json_writer::key(std::string_view name) {
    next_element();
    if (plain_text(name)) {
        out_ << '"' << name << "\": ";
    } else {
        out_ << json(name).dump(-1, ' ', false, json::error_handler_t::replace) << ": ";
    }
    after_key_ = true;
}

void json_writer::value(const json& v) {
    // Objects and arrays element by element, which lays them out as dump() would.
    if (v.is_object()) {
        begin_object();
        for (auto it = v.begin(); it != v.end(); ++it) {
            key(it.key());
            value(*it);
        }
        end();
        return;
    }
    if (v.is_array()) {
        begin_array();
        for (const json& element : v) {
            value(element);
        }
        end();
        return;
    }
    if (v.is_number_unsigned()) {
        number(v.get<std::uint64_t>());
    } else if (v.is_number_integer()) {
        next_value();
        out_ << v.get<std::int64_t>();
    } else if (v.is_string()) {
        text(v.get_ref<const std::string&>());
    } else {
        // A dumped scalar never holds a line break.
        next_value();
        out_ << v.dump(2, ' ', false, json::error_handler_t::replace);
    }
}

void json_writer::text(std::string_view s) {
    next_value();
    if (plain_text(s)) {
        out_ << '"' << s << '"';
    } else {
        out_ << json(s).dump(-1, ' ', false, json::error_handler_t::replace);
    }
}

void json_writer::number(std::uint64_t n) {
    next_value();
    out_ << n;
}

void json_writer::integer(std::int64_t n) {
    next_value();
    out_ << n;
}

void json_writer::boolean(bool b) {
    next_value();
    out_ << (b ? "true" : "false");
}

void json_writer::null() {
    next_value();
    out_ << "null";
}

void json_writer::next_value() {
    if (!after_key_ && !open_.empty()) {
        next_element();
    }
    after_key_ = false;
}

void write_summary(json_writer& out, const level_summary& s) {
    const auto text = [&out](const char* key, std::string_view value) {
        out.key(key);
        out.text(value);
    };
    const auto number = [&out](std::string_view key, std::int64_t value) {
        out.key(key);
        out.integer(value);
    };
    const auto count = [&out](std::string_view key, std::uint64_t value) {
        out.key(key);
        out.number(value);
    };
    const auto maybe = [&out](const char* key, std::optional<std::uint64_t> value) {
        out.key(key);
        if (value) {
            out.number(*value);
        } else {
            out.null();
        }
    };
    const auto truth = [&out](const char* key, bool value) {
        out.key(key);
        out.boolean(value);
    };
    text("file", s.file.name);
    count("file_size", s.file.size);
    number("version", s.version);
    text("format", format_name(s.version));
    text("first_word", hex_word(s.first_word));
    const bool shared = shares_first_word(s.version);
    out.key("name_test");
    if (shared) {
        out.boolean(name_test_passed(s.version));
    } else {
        out.null();
    }
    out.key("name_test_for");
    if (shared) {
        out.text(name_test_of(s.version));
    } else {
        out.null();
    }
    truth("container", s.file.container);
    out.key("textiles");
    out.begin_object();
    count("room", s.room_textiles);
    count("object", s.object_textiles);
    count("bump", s.bump_textiles);
    count("pages", s.pages);
    out.end();
    out.key("chunks");
    out.begin_array();
    for (const chunk_facts& c : s.chunks) {
        out.begin_object();
        text("name", c.name);
        count("unpacked", c.unpacked);
        count("packed", c.packed);
        out.end();
    }
    out.end();
    truth("marked", s.marked);
    out.key("counts");
    out.begin_object();
    count("rooms", s.counted_rooms);
    for (const section_facts& section : s.sections) {
        if (section.counted) {
            number(section.key, section.count);
        }
    }
    out.end();
    out.key("rooms");
    out.begin_array();
    for (std::size_t i = 0; i < s.rooms.size(); ++i) {
        write_room(out, s.rooms[i], i);
    }
    out.end();
    out.key("sections");
    out.begin_object();
    for (const section_facts& section : s.sections) {
        out.key(section.key);
        out.begin_object();
        count("count", static_cast<std::uint64_t>(section.count));
        count("bytes", section.bytes);
        out.end();
    }
    out.end();
    out.key("samples");
    out.begin_object();
    maybe("count", s.samples);
    maybe("declared", s.declared_samples);
    count("bytes", s.sample_bytes);
    out.end();
    out.key("objects");
    out.begin_object();
    out.key("moveables");
    out.begin_array();
    for (std::size_t i = 0; i < s.moveables.size(); ++i) {
        const moveable_facts& m = s.moveables[i];
        out.begin_object();
        count("index", i);
        count("object_id", m.object_id);
        count("meshes", m.meshes);
        count("animations", m.animations);
        count("keyframes", m.keyframes);
        out.end();
    }
    out.end();
    out.key("static_meshes");
    out.begin_array();
    for (std::size_t i = 0; i < s.static_meshes.size(); ++i) {
        out.begin_object();
        count("index", i);
        count("id", s.static_meshes[i].id);
        count("mesh", s.static_meshes[i].mesh);
        out.end();
    }
    out.end();
    out.key("items");
    out.begin_array();
    for (const item_count& i : s.items) {
        out.begin_object();
        number("object_id", i.object_id);
        count("count", i.count);
        out.end();
    }
    out.end();
    out.end();
}

problem_list stream_problems(json_writer& out, std::size_t per_kind) {
    out.key("problems");
    out.begin_array();
    return problem_list(per_kind, [&out](const problem& p) { write_problem(out, p); });
}

void finish_problems(json_writer& out, const problem_list& problems) {
    out.end();
    const std::vector<problem_list::unlisted_kind> unlisted = problems.unlisted();
    if (unlisted.empty()) {
        return;
    }
    out.key("problems_unlisted");
    out.begin_array();
    for (const problem_list::unlisted_kind& kind : unlisted) {
        out.value(json{{"kind", kind.kind}, {"count", kind.count}});
    }
    out.end();
}

void print_report(const level_summary& summary, const problem_list* problems, std::ostream& out) {
    const std::vector<row> head = head_rows(summary);
    const std::vector<row> tail = tail_rows(summary);
    std::string label, text;
    if (!summary.rooms.empty()) {
        room_label(summary.rooms.size() - 1, label);
    }
    std::size_t width = label.size();
    for (const std::vector<row>* rows : {&head, &tail}) {
        for (const row& r : *rows) {
            width = std::max(width, r.label.size());
        }
    }
    width += 2;
    for (const row& r : head) {
        put_padded(out, r.label, width);
        out << r.value << '\n';
    }
    for (std::size_t i = 0; i < summary.rooms.size(); ++i) {
        room_label(i, label);
        put_padded(out, label, width);
        room_text(summary.rooms[i], text);
        out << text << '\n';
    }
    for (const row& r : tail) {
        put_padded(out, r.label, width);
        out << r.value << '\n';
    }
    if (problems != nullptr) {
        print_problems(*problems, out);
    }
}

void print_difference(const level_summary& left, const problem_list* left_problems,
                      const level_summary& right, const problem_list* right_problems,
                      std::ostream& out) {
    const std::vector<row> left_head = head_rows(left), right_head = head_rows(right);
    const std::vector<row> left_tail = tail_rows(left), right_tail = tail_rows(right);
    const std::vector<side_by_side_row> head = merged(left_head, right_head);
    const std::vector<side_by_side_row> tail = merged(left_tail, right_tail);
    // Rooms go in index order, each made again for the second pass rather than held: the
    // widths first, then the lines.
    const std::size_t rooms = std::max(left.rooms.size(), right.rooms.size());
    room_row_text text;
    const auto each_row = [&](auto&& f) {
        for (const side_by_side_row& r : head)
            f(r);
        for (std::size_t i = 0; i < rooms; ++i)
            room_rows(left, right, i, text, f);
        for (const side_by_side_row& r : tail)
            f(r);
    };
    std::size_t label_width = 0, left_width = 0;
    each_row([&](const side_by_side_row& r) {
        label_width = std::max(label_width, r.label.size());
        left_width = std::max(left_width, r.left.size());
    });
    std::size_t differ = 0;
    each_row([&](const side_by_side_row& r) {
        const bool same = r.left == r.right || r.label == "file";
        differ += same ? 0 : 1;
        out << (same ? "  " : "* ");
        put_padded(out, r.label, label_width + 2);
        put_padded(out, r.left, left_width + 2);
        out << r.right << '\n';
    });
    out << plural(differ, "line differs", "lines differ") << '\n';
    const std::pair<const level_summary*, const problem_list*> sides[] = {{&left, left_problems},
                                                                          {&right, right_problems}};
    for (const auto& [summary, problems] : sides) {
        if (problems != nullptr) {
            out << summary->file.name << ": ";
            print_problems(*problems, out);
        }
    }
}

} // namespace quarlix::info
