// The summary of a level and its two text forms: the report of one level and the side-by-side
// difference of two. Both are made from the JSON summary, so the three never disagree; the
// rooms are made one at a time as they are written.
#include "info/level_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <concepts>
#include <cstdio>
#include <map>
#include <set>
#include <span>
#include <sstream>
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

/// A value's JSON text as dump() writes it, numbers without setting up a serializer.
std::string text_of(const json& v) {
    if (v.is_number_unsigned()) {
        return std::to_string(v.get<std::uint64_t>());
    }
    if (v.is_number_integer()) {
        return std::to_string(v.get<std::int64_t>());
    }
    return v.dump();
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

/// Adds a key that the object does not hold yet, without comparing it with every key before it
/// as operator[] does.
void add_new_key(json& object, std::string_view key, json value) {
    object.get_ref<json::object_t&>().json::object_t::Container::emplace_back(key,
                                                                              std::move(value));
}

/// The counts of the model, keyed by their names without "num_".
json counts_of(const Ttrlevel& l) {
    json counts{{"rooms", l.num_rooms}};
    for (const tsection* section : all_sections) {
        add_new_key(counts, section->key(), l.*section->count);
    }
    return counts;
}

/// The objects: each moveable with its meshes, animations (its own, as the moveables' first
/// animations divide them) and the keyframes they declare; each static mesh; the items of
/// each object id.
json objects_of(const Ttrlevel& l) {
    const std::size_t animations =
        l.version >= level_tr4 ? l.animations.size() : l.animations_old.size();
    std::vector<std::uint64_t> keyframes_before(animations + 1, 0);
    for (std::size_t a = 0; a < animations; ++a) {
        keyframes_before[a + 1] = keyframes_before[a] + declared_keyframes(l, a).value_or(0);
    }
    const std::vector<animation_span> spans = moveable_animations(l);
    json moveables = json::array();
    for (std::size_t i = 0; i < l.moveables.size(); ++i) {
        const std::uint32_t object_id = l.moveables[i].object_id; // a copy: the field is packed
        const std::uint16_t meshes = l.moveables[i].num_meshes;
        moveables.push_back(
            {{"index", i},
             {"object_id", object_id},
             {"meshes", meshes},
             {"animations", spans[i].end - spans[i].first},
             {"keyframes", keyframes_before[spans[i].end] - keyframes_before[spans[i].first]}});
    }
    json statics = json::array();
    for (std::size_t i = 0; i < l.static_meshes.size(); ++i) {
        const std::uint32_t id = l.static_meshes[i].id;
        const std::uint16_t mesh = l.static_meshes[i].mesh;
        statics.push_back({{"index", i}, {"id", id}, {"mesh", mesh}});
    }
    std::map<std::int16_t, std::uint64_t> per_object;
    if (l.version <= 2) {
        for (const titem_old& item : l.items_old)
            ++per_object[std::int16_t{item.object_id}];
    } else {
        for (const titem& item : l.items)
            ++per_object[std::int16_t{item.object_id}];
    }
    json items = json::array();
    for (const auto& [object, count] : per_object) {
        items.push_back({{"object_id", object}, {"count", count}});
    }
    return json{{"moveables", std::move(moveables)},
                {"static_meshes", std::move(statics)},
                {"items", std::move(items)}};
}

json chunk(const char* name, std::uint32_t unpacked, std::uint32_t packed) {
    return json{{"name", name}, {"unpacked", unpacked}, {"packed", packed}};
}

std::string plural(std::uint64_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string bytes_text(std::uint64_t n) { return plural(n, "byte", "bytes"); }

template <std::integral N> void append_number(std::string& text, N n) {
    char digits[24];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

void append_count(std::string& text, std::uint64_t n, std::string_view one, std::string_view many) {
    append_number(text, n);
    text += ' ';
    text += n == 1 ? one : many;
}

/// One value of a room's object in the schema.
struct room_value {
    enum kind_t { number, absent, rooms, truth } kind = number;
    std::int64_t n = 0; // a number, or a truth as 0 or 1
    std::span<const std::uint16_t> list = {};
};

/// The keys of a room's object.
constexpr std::size_t room_keys = 16;

/// Calls f(key, value) for each key of a room's object, in the schema's order.
template <class F> void room_fields(const room_facts& r, std::size_t index, F&& f) {
    const auto n = [](std::int64_t v) { return room_value{room_value::number, v}; };
    f("index", n(static_cast<std::int64_t>(index)));
    f("x", n(r.x));
    f("z", n(r.z));
    f("y_bottom", n(r.y_bottom));
    f("y_top", n(r.y_top));
    f("sectors_z", n(r.sectors_z));
    f("sectors_x", n(r.sectors_x));
    f("vertices", n(r.vertices));
    f("rectangles", n(r.rectangles));
    f("triangles", n(r.triangles));
    f("layers", r.layers ? n(*r.layers) : room_value{room_value::absent});
    f("portals", room_value{room_value::rooms, 0, r.portals});
    f("lights", n(r.lights));
    f("static_instances", n(r.static_instances));
    f("water", room_value{room_value::truth, r.water ? 1 : 0});
    f("alternate_room", n(r.alternate_room));
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
    room_fields(room, index, [&out](const char* key, const room_value& v) {
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
    });
    out.end();
}

/// A room's line of the report, after its label.
void room_text(const room_facts& r, std::string& text) {
    text.assign("x ");
    append_number(text, r.x);
    text += ", z ";
    append_number(text, r.z);
    text += ", y ";
    append_number(text, r.y_top);
    text += " to ";
    append_number(text, r.y_bottom);
    text += "; sectors ";
    append_number(text, r.sectors_z);
    text += " x ";
    append_number(text, r.sectors_x);
    text += "; ";
    append_count(text, r.vertices, "vertex", "vertices");
    text += ", ";
    append_count(text, r.rectangles, "rectangle", "rectangles");
    text += ", ";
    append_count(text, r.triangles, "triangle", "triangles");
    if (r.layers) {
        text += ", ";
        append_count(text, *r.layers, "layer", "layers");
    }
    text += "; portals to";
    if (r.portals.empty()) {
        text += " none";
    }
    for (const std::uint16_t p : r.portals) {
        text += ' ';
        append_number(text, p);
    }
    text += "; ";
    append_count(text, r.lights, "light", "lights");
    text += ", ";
    append_count(text, r.static_instances, "static instance", "static instances");
    if (r.water) {
        text += "; water";
    }
    if (r.alternate_room != -1) {
        text += "; alternate room ";
        append_number(text, r.alternate_room);
    }
}

/// One line of a report: a label and a value.
struct row {
    std::string label, value;
};

/// The rows before the rooms: the file, its version and chunks, the room count.
std::vector<row> head_rows(const json& s) {
    std::vector<row> rows;
    const auto add = [&](std::string label, std::string value) {
        rows.push_back({std::move(label), std::move(value)});
    };
    add("file", s["file"].get<std::string>());
    add("file size", bytes_text(s["file_size"]));
    add("version", text_of(s["version"]) + " (" + s["format"].get<std::string>() + ")");
    std::string recognised = "first word " + s["first_word"].get<std::string>();
    if (!s["name_test"].is_null()) {
        recognised += ", name test " + s["name_test_for"].get<std::string>() +
                      (s["name_test"].get<bool>() ? ": yes" : ": no");
    }
    add("recognised by", recognised);
    add("container", s["container"].get<bool>() ? "yes, a \"ZLIB\" container unwrapped" : "no");
    const json& t = s["textiles"];
    add("textiles", "room " + text_of(t["room"]) + ", object " + text_of(t["object"]) + ", bump " +
                        text_of(t["bump"]) + "; " + plural(t["pages"], "page", "pages"));
    for (const auto& c : s["chunks"]) {
        add("chunk " + c["name"].get<std::string>(),
            bytes_text(c["unpacked"]) + ", " + text_of(c["packed"]) + " packed");
    }
    add("marked",
        s["marked"].get<bool>() ? "yes, the conversion marker and a hidden sound map" : "no");
    add("rooms", text_of(s["counts"]["rooms"]));
    return rows;
}

/// The rows after the rooms: the sections and the samples.
std::vector<row> tail_rows(const json& s) {
    std::vector<row> rows;
    for (const auto& [name, section] : s["sections"].items()) {
        rows.push_back({"section " + name,
                        text_of(section["count"]) + " (" + bytes_text(section["bytes"]) + ")"});
    }
    const json& samples = s["samples"];
    std::string sample_text = samples["count"].is_null() ? "-" : text_of(samples["count"]);
    if (samples["count"] != samples["declared"]) {
        sample_text += " of the " + text_of(samples["declared"]) + " declared";
    }
    rows.push_back(
        {"samples", sample_text + " (" + bytes_text(samples["bytes"]) + " of sample data)"});
    const json& objects = s["objects"];
    for (const auto& m : objects["moveables"]) {
        rows.push_back({"moveable " + text_of(m["index"]),
                        "object " + text_of(m["object_id"]) + "; " +
                            plural(m["meshes"], "mesh", "meshes") + ", " +
                            plural(m["animations"], "animation", "animations") + ", " +
                            plural(m["keyframes"], "keyframe", "keyframes")});
    }
    for (const auto& m : objects["static_meshes"]) {
        rows.push_back({"static mesh " + text_of(m["index"]),
                        "id " + text_of(m["id"]) + "; mesh " + text_of(m["mesh"])});
    }
    for (const auto& i : objects["items"]) {
        rows.push_back({"items of object " + text_of(i["object_id"]), text_of(i["count"])});
    }
    return rows;
}

void room_label(std::size_t index, std::string& label) {
    label.assign("room ");
    append_number(label, index);
}

/// A room that the other level lacks, in short.
std::string room_in_short(const room_facts& room) {
    return "x " + std::to_string(room.x) + ", z " + std::to_string(room.z) + "; " +
           plural(room.vertices, "vertex", "vertices");
}

/// Writes `text` and spaces after it up to `width` characters.
void put_padded(std::ostream& out, std::string_view text, std::size_t width) {
    out << text;
    for (std::size_t i = text.size(); i < width; ++i) {
        out << ' ';
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
    std::array<room_value, room_keys> right_values;
    std::size_t n = 0;
    room_fields(right.rooms[index], index,
                [&](const char*, const room_value& v) { right_values[n++] = v; });
    n = 0;
    const std::size_t label_size = t.label.size();
    room_fields(left.rooms[index], index, [&](const char* key, const room_value& v) {
        const room_value& other = right_values[n++];
        if (std::string_view(key) == "index") {
            return;
        }
        t.label.resize(label_size);
        t.label.append(" ").append(key);
        t.left.clear();
        append_value(t.left, v);
        t.right.clear();
        append_value(t.right, other);
        f(side_by_side_row{t.label, t.left, t.right});
    });
}

} // namespace

level_summary describe_level(const Ttrlevel& l, const file_facts& file) {
    level_summary summary;
    json& s = summary.head;
    s["file"] = file.name;
    s["file_size"] = file.size;
    s["version"] = l.version;
    s["format"] = format_name(l.version);
    s["first_word"] = hex_word(l.magic);
    // Only the first words shared by two versions go on to the name test.
    const bool shared = l.version != 5;
    s["name_test"] =
        shared ? json(l.version == 2 || l.version == 4 || l.version == level_trc) : json(nullptr);
    s["name_test_for"] = shared ? json(name_test_of(l.version)) : json(nullptr);
    s["container"] = file.container;
    s["textiles"] = json{{"room", l.num_room_textiles},
                         {"object", l.num_object_textiles},
                         {"bump", l.num_bump_textiles},
                         {"pages", l.num_textiles}};
    json chunks = json::array();
    if (l.version >= level_tr4) {
        chunks.push_back(chunk("textiles32", l.textiles32_size, l.textiles32_packed_size));
        chunks.push_back(chunk("textiles16", l.textiles16_size, l.textiles16_packed_size));
        chunks.push_back(chunk("textiles_misc", l.textiles_misc_size, l.textiles_misc_packed_size));
    }
    if (l.version == level_tr4) {
        chunks.push_back(
            chunk("level_data", l.level_data_chunk_size, l.level_data_chunk_packed_size));
    }
    s["chunks"] = std::move(chunks);
    const bool marked = l.version == level_tr4 && has_conversion_marker(l);
    s["marked"] = marked;
    s["counts"] = counts_of(l);
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
    json sections = json::object();
    for (const tsection* section : all_sections) {
        const auto n = static_cast<std::uint64_t>(l.*section->count);
        add_new_key(sections, section->key(),
                    json{{"count", n}, {"bytes", n * section->element_size(l.version)}});
        if (section == &section_demo_data) {
            const std::size_t entries = sound_map_entries(l.version);
            add_new_key(sections, "sound_map",
                        json{{"count", entries}, {"bytes", sound_map_bytes(l.version)}});
        }
    }
    summary.tail["sections"] = std::move(sections);
    const bool listed = l.version >= level_tr4;
    const sample_list list = read_sample_list(l.sample_data.span());
    summary.tail["samples"] = json{{"count", listed ? json(list.samples.size()) : json(nullptr)},
                                   {"declared", listed ? json(list.declared) : json(nullptr)},
                                   {"bytes", l.sample_data_size}};
    summary.tail["objects"] = objects_of(l);
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

void write_summary(json_writer& out, const level_summary& summary) {
    for (const auto& [key, value] : summary.head.items()) {
        out.key(key);
        out.value(value);
    }
    out.key("rooms");
    out.begin_array();
    for (std::size_t i = 0; i < summary.rooms.size(); ++i) {
        write_room(out, summary.rooms[i], i);
    }
    out.end();
    for (const auto& [key, value] : summary.tail.items()) {
        out.key(key);
        out.value(value);
    }
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
    const std::vector<row> head = head_rows(summary.head);
    const std::vector<row> tail = tail_rows(summary.tail);
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
    const std::vector<row> left_head = head_rows(left.head), right_head = head_rows(right.head);
    const std::vector<row> left_tail = tail_rows(left.tail), right_tail = tail_rows(right.tail);
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
            out << summary->head["file"].get<std::string>() << ": ";
            print_problems(*problems, out);
        }
    }
}

} // namespace quarlix::info
