// The summary of a level and its two text forms: the report of one level and the side-by-side
// difference of two. Both are made from the JSON summary, so the three never disagree.
#include "info/level_report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "level/conversion.h"
#include "level/samples.h"
#include "level/sections.h"

namespace quarlix::info {

namespace {

std::string hex_word(std::uint32_t word) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", word);
    return text;
}

std::string format_name(std::int32_t version) {
    return version == level_tr4 ? "TR4" : version == level_trc ? "TRC" : "older";
}

/// The name test that decided between the two versions of a first word: what it looks for.
const char* name_test_of(std::int32_t version) {
    switch (version) {
    case 1: case 2: return ".TUB/.tub";
    case 3: case 4: return ".TRG/.trg";
    case level_tr4: case level_trc: return ".TRC/.trc";
    default: return nullptr;
    }
}

/// The counts of the model, keyed by their names without "num_".
json counts_of(const Ttrlevel& l) {
    json counts{{"rooms", l.num_rooms}};
    for (const tsection* section : all_sections) {
        counts[std::string(section->key())] = l.*section->count;
    }
    return counts;
}

json room_of(const Ttrlevel& l, std::size_t index) {
    const troom& r = l.rooms[index];
    json portals = json::array();
    for (std::size_t p = 0; p < r.num_portals; ++p) {
        portals.push_back(r.portals[p].room);
    }
    return json{{"index", index},
                {"x", r.pos_x},
                {"z", r.pos_z},
                {"y_bottom", r.y_bottom},
                {"y_top", r.y_top},
                {"sectors_z", r.num_z_sectors},
                {"sectors_x", r.num_x_sectors},
                {"vertices", r.num_vertices},
                {"rectangles", r.num_rectangles},
                {"triangles", r.num_triangles},
                {"layers", l.version == level_trc ? json(r.num_layers) : json(nullptr)},
                {"portals", std::move(portals)},
                {"lights", r.num_lights},
                {"static_instances", r.num_static_instances},
                {"water", (r.flags[0] & 0x01u) != 0},
                {"alternate_room", r.alternate_room}};
}

json chunk(const char* name, std::uint32_t unpacked, std::uint32_t packed) {
    return json{{"name", name}, {"unpacked", unpacked}, {"packed", packed}};
}

std::string plural(std::uint64_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string bytes_text(std::uint64_t n) { return plural(n, "byte", "bytes"); }

std::string room_text(const json& r) {
    std::ostringstream text;
    text << "x " << r["x"] << ", z " << r["z"] << ", y " << r["y_top"] << " to " << r["y_bottom"]
         << "; sectors " << r["sectors_z"] << " x " << r["sectors_x"] << "; "
         << plural(r["vertices"], "vertex", "vertices") << ", "
         << plural(r["rectangles"], "rectangle", "rectangles") << ", "
         << plural(r["triangles"], "triangle", "triangles");
    if (!r["layers"].is_null()) {
        text << ", " << plural(r["layers"], "layer", "layers");
    }
    text << "; portals to";
    if (r["portals"].empty()) {
        text << " none";
    }
    for (const auto& p : r["portals"]) {
        text << ' ' << p;
    }
    text << "; " << plural(r["lights"], "light", "lights") << ", "
         << plural(r["static_instances"], "static instance", "static instances");
    if (r["water"].get<bool>()) {
        text << "; water";
    }
    if (r["alternate_room"] != -1) {
        text << "; alternate room " << r["alternate_room"];
    }
    return text.str();
}

/// One line of a report: a label and a value; room rows name their room, and `field` marks
/// the rows of a room's single fields.
struct row {
    std::string first, second;
    std::string room{};
    bool field = false;
};

/// The report as label and value rows. `room_fields`: each room field a row of its own (for
/// the side-by-side form), else one row a room.
std::vector<row> rows_of(const json& s, bool room_fields) {
    std::vector<row> rows;
    const auto add = [&](std::string label, std::string value) {
        rows.push_back({std::move(label), std::move(value)});
    };
    add("file", s["file"].get<std::string>());
    add("file size", bytes_text(s["file_size"]));
    add("version", s["version"].dump() + " (" + s["format"].get<std::string>() + ")");
    std::string recognised = "first word " + s["first_word"].get<std::string>();
    if (!s["name_test"].is_null()) {
        recognised += ", name test " + s["name_test_for"].get<std::string>() +
                      (s["name_test"].get<bool>() ? ": yes" : ": no");
    }
    add("recognised by", recognised);
    add("container", s["container"].get<bool>() ? "yes, a \"ZLIB\" container unwrapped" : "no");
    const json& t = s["textiles"];
    add("textiles", "room " + t["room"].dump() + ", object " + t["object"].dump() + ", bump " +
                        t["bump"].dump() + "; " + plural(t["pages"], "page", "pages"));
    for (const auto& c : s["chunks"]) {
        add("chunk " + c["name"].get<std::string>(),
            bytes_text(c["unpacked"]) + ", " + c["packed"].dump() + " packed");
    }
    add("marked", s["marked"].get<bool>() ? "yes, the conversion marker and a hidden sound map"
                                          : "no");
    add("rooms", s["counts"]["rooms"].dump());
    for (const auto& r : s["rooms"]) {
        const std::string label = "room " + r["index"].dump();
        if (!room_fields) {
            rows.push_back({label, room_text(r), label});
            continue;
        }
        // Side by side, a room that the other level lacks shows in short.
        rows.push_back({label,
                        "x " + r["x"].dump() + ", z " + r["z"].dump() + "; " +
                            plural(r["vertices"], "vertex", "vertices"),
                        label});
        for (const auto& [key, value] : r.items()) {
            if (key != "index") {
                rows.push_back({label + " " + key, value.is_null() ? "-" : value.dump(), label, true});
            }
        }
    }
    for (const auto& [name, section] : s["sections"].items()) {
        add("section " + name,
            section["count"].dump() + " (" + bytes_text(section["bytes"]) + ")");
    }
    const json& samples = s["samples"];
    std::string sample_text = samples["count"].is_null() ? "-" : samples["count"].dump();
    if (samples["count"] != samples["declared"]) {
        sample_text += " of the " + samples["declared"].dump() + " declared";
    }
    add("samples", sample_text + " (" + bytes_text(samples["bytes"]) + " of sample data)");
    return rows;
}

std::size_t widest(const std::vector<row>& rows, bool first) {
    std::size_t n = 0;
    for (const row& r : rows) {
        n = std::max(n, (first ? r.first : r.second).size());
    }
    return n;
}

std::string padded(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

void print_problems(const json& summary, std::ostream& out) {
    if (!summary.contains("problems")) {
        return;
    }
    const json& problems = summary["problems"];
    out << (problems.empty() ? std::string("no problems found")
                             : plural(problems.size(), "problem", "problems") + " found:")
        << '\n';
    for (const auto& p : problems) {
        out << "  " << problem_line(p) << '\n';
    }
}

} // namespace

json describe_level(const Ttrlevel& l, const file_facts& file) {
    json s;
    s["file"] = file.name;
    s["file_size"] = file.size;
    s["version"] = l.version;
    s["format"] = format_name(l.version);
    s["first_word"] = hex_word(l.magic);
    // Only the first words shared by two versions go on to the name test.
    const bool shared = l.version != 5;
    s["name_test"] = shared ? json(l.version == 2 || l.version == 4 || l.version == level_trc)
                            : json(nullptr);
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
    json rooms = json::array();
    for (std::size_t i = 0; i < l.rooms.size(); ++i) {
        rooms.push_back(room_of(l, i));
    }
    s["rooms"] = std::move(rooms);
    json sections = json::object();
    for (const tsection* section : all_sections) {
        const auto n = static_cast<std::uint64_t>(l.*section->count);
        sections[std::string(section->key())] =
            json{{"count", n}, {"bytes", n * section->element_size(l.version)}};
        if (section == &section_demo_data) {
            const std::size_t entries = sound_map_entries(l.version);
            sections["sound_map"] = json{{"count", entries}, {"bytes", sound_map_bytes(l.version)}};
        }
    }
    s["sections"] = std::move(sections);
    const bool listed = l.version >= level_tr4;
    const sample_list list = read_sample_list(l.sample_data.span());
    s["samples"] = json{{"count", listed ? json(list.samples.size()) : json(nullptr)},
                        {"declared", listed ? json(list.declared) : json(nullptr)},
                        {"bytes", l.sample_data_size}};
    return s;
}

json problems_json(const std::vector<problem>& problems) {
    json list = json::array();
    for (const problem& p : problems) {
        list.push_back(json{{"where", p.where},
                            {"message", p.message},
                            {"offset", p.offset ? json(*p.offset) : json(nullptr)},
                            {"offset_in", p.offset ? json(p.space) : json(nullptr)}});
    }
    return list;
}

std::string problem_line(const json& p) {
    std::string line = p["where"].get<std::string>();
    if (!p["offset"].is_null()) {
        line += " (" + p["offset_in"].get<std::string>() + " " + p["offset"].dump() + ")";
    }
    return line + ": " + p["message"].get<std::string>();
}

void print_report(const json& summary, std::ostream& out) {
    const std::vector<row> rows = rows_of(summary, false);
    const std::size_t width = widest(rows, true) + 2;
    for (const row& r : rows) {
        out << padded(r.first, width) << r.second << '\n';
    }
    print_problems(summary, out);
}

void print_difference(const json& left, const json& right, std::ostream& out) {
    // A room that both levels hold shows field by field, any other as one row.
    std::set<std::string> left_rooms, right_rooms;
    for (const row& r : rows_of(left, false)) left_rooms.insert(r.room);
    for (const row& r : rows_of(right, false)) right_rooms.insert(r.room);
    const auto shown = [&](const json& side) {
        std::vector<row> rows;
        for (row& r : rows_of(side, true)) {
            const bool both = left_rooms.count(r.room) != 0 && right_rooms.count(r.room) != 0;
            if (r.room.empty() || r.field == both) {
                rows.push_back(std::move(r));
            }
        }
        return rows;
    };
    const std::vector<row> a = shown(left);
    const std::vector<row> b = shown(right);
    // Labels in the left's order; a label only the right has follows the label before it.
    std::vector<std::string> labels;
    std::map<std::string, std::string> left_values, right_values;
    for (const row& r : a) {
        labels.push_back(r.first);
        left_values[r.first] = r.second;
    }
    std::size_t after = 0;
    for (const row& r : b) {
        right_values[r.first] = r.second;
        const auto at = std::find(labels.begin(), labels.end(), r.first);
        if (at != labels.end()) {
            after = static_cast<std::size_t>(at - labels.begin()) + 1;
        } else {
            labels.insert(labels.begin() + static_cast<std::ptrdiff_t>(after), r.first);
            ++after;
        }
    }
    const auto value = [](const std::map<std::string, std::string>& values,
                          const std::string& label) {
        const auto it = values.find(label);
        return it == values.end() ? std::string("(none)") : it->second;
    };
    std::size_t label_width = 0, left_width = 0;
    for (const std::string& label : labels) {
        label_width = std::max(label_width, label.size());
        left_width = std::max(left_width, value(left_values, label).size());
    }
    std::size_t differ = 0;
    for (const std::string& label : labels) {
        const std::string l = value(left_values, label);
        const std::string r = value(right_values, label);
        const bool same = l == r || label == "file";
        differ += same ? 0 : 1;
        out << (same ? "  " : "* ") << padded(label, label_width + 2) << padded(l, left_width + 2)
            << r << '\n';
    }
    out << plural(differ, "line differs", "lines differ") << '\n';
    for (const json* side : {&left, &right}) {
        if (side->contains("problems")) {
            out << (*side)["file"].get<std::string>() << ": ";
            print_problems(*side, out);
        }
    }
}

} // namespace quarlix::info
