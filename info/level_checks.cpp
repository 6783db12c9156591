// The checks: every index a record holds is set against the table it points into.
#include "info/level_checks.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <concepts>
#include <iterator>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "level/samples.h"
#include "level/sections.h"

namespace quarlix::info {

namespace {

/// A count or index as the checks write it: unsigned, so that a negative count read from a
/// file shows as the 64-bit value it becomes when compared.
constexpr std::uint64_t num(std::uint64_t n) { return n; }

/// A problem's place or message as it is given: string literals and numbers, written out only
/// when the text is wanted.
class text_pieces {
  public:
    template <class... Pieces> void set(const Pieces&... pieces) {
        static_assert(sizeof...(Pieces) <= max_pieces);
        size_ = 0;
        (add(pieces), ...);
    }

    void write(std::string& text) const {
        text.clear();
        for (std::size_t i = 0; i < size_; ++i) {
            const piece& p = pieces_[i];
            if (p.literal != nullptr) {
                text += p.literal;
            } else {
                char digits[24];
                const auto end = p.is_signed
                                     ? std::to_chars(digits, digits + sizeof digits,
                                                     static_cast<std::int64_t>(p.number))
                                     : std::to_chars(digits, digits + sizeof digits, p.number);
                text.append(digits, end.ptr);
            }
        }
    }

    /// True when the text of `other` has the kind of this one: the same literals in the same
    /// places (literals are never changed, so the same address is the same text), and numbers
    /// of the same signs between them. Only numbers differ, and each is a run of digits.
    bool same_kind(const text_pieces& other) const {
        if (size_ != other.size_) {
            return false;
        }
        for (std::size_t i = 0; i < size_; ++i) {
            const piece &a = pieces_[i], &b = other.pieces_[i];
            if (a.literal != b.literal || (a.literal == nullptr && a.sign() != b.sign())) {
                return false;
            }
        }
        return true;
    }

  private:
    static constexpr std::size_t max_pieces = 8;
    struct piece {
        const char* literal; // null for a number
        std::uint64_t number;
        bool is_signed;
        int sign() const { return is_signed && static_cast<std::int64_t>(number) < 0 ? -1 : 1; }
    };
    void add(const char* literal) { pieces_[size_++] = {literal, 0, false}; }
    template <class Number>
    requires std::same_as<Number, std::uint64_t> || std::same_as<Number, std::int64_t>
    void add(Number n) {
        pieces_[size_++] = {nullptr, static_cast<std::uint64_t>(n), std::is_signed_v<Number>};
    }
    std::array<piece, max_pieces> pieces_{};
    std::size_t size_ = 0;
};

/// Finds where the loader found a table.
class table_places {
  public:
    explicit table_places(std::span<const ttable_place> places) {
        by_table_.reserve(places.size());
        for (const ttable_place& p : places) {
            by_table_.push_back({key(p.table, p.room, p.layer), &p});
        }
        // The first place noted for a table is the one found.
        std::stable_sort(by_table_.begin(), by_table_.end(),
                         [](const entry& a, const entry& b) { return a.first < b.first; });
    }
    const ttable_place* find(ttable_key table, std::int32_t room, std::int32_t layer) const {
        const place_key wanted = key(table, room, layer);
        const auto it =
            std::lower_bound(by_table_.begin(), by_table_.end(), wanted,
                             [](const entry& e, const place_key& k) { return e.first < k; });
        return it == by_table_.end() || it->first != wanted ? nullptr : it->second;
    }

  private:
    using place_key = std::tuple<ttable_kind, const tsection*, std::int32_t, std::int32_t>;
    using entry = std::pair<place_key, const ttable_place*>;
    static place_key key(ttable_key table, std::int32_t room, std::int32_t layer) {
        return {table.kind, table.section, room, layer};
    }
    std::vector<entry> by_table_;
};

/// The checks. A problem's place and message are kept as their pieces; the text is written
/// (into buffers that every problem reuses) when the problem list needs it: for a kind not met
/// recently, or for a problem that it lists. A level with millions of problems of a few kinds
/// thus costs neither an allocation nor a written text for each.
class checker {
  public:
    checker(const Ttrlevel& level, std::span<const ttable_place> places, problem_list& found)
        : l_(level), places_(places), found_(found) {}

    void run() {
        rooms();
        object_sections();
        world_sections();
    }

  private:
    /// Sets the place of the next problem from its pieces: literals and num() values.
    template <class... Pieces> void where(const Pieces&... pieces) { where_.set(pieces...); }
    /// Sets the message of the next problem from its pieces.
    template <class... Pieces> void say(const Pieces&... pieces) { message_.set(pieces...); }

    /// Adds the problem set by where() and say(), with no place.
    void add() { add(place{}); }

    /// Adds the problem set by where() and say(), at record `index` of a table of elements of
    /// `element` bytes, in `room` and `layer` for the tables of rooms and layers.
    void add(ttable_key table, std::size_t index, std::size_t element, std::int32_t room = -1,
             std::int32_t layer = -1) {
        add(place{table, index * element, room, layer});
    }

    /// Adds the problem set by where() and say(), at record `index` of a section after the
    /// rooms.
    void add(const tsection& section, std::size_t index) {
        add(ttable_key(section), index, section.element_size(l_.version));
    }

    /// Where a problem lies: `from` bytes into a table (none: no place). Looked up only for a
    /// problem that is listed.
    struct place {
        std::optional<ttable_key> table;
        std::size_t from = 0;
        std::int32_t room = -1, layer = -1;
    };

    void add(const place& at) {
        const auto text = [&] {
            where_.write(where_text_);
            message_.write(message_text_);
        };
        const auto listed = [&] {
            const ttable_place* found =
                at.table ? places_.find(*at.table, at.room, at.layer) : nullptr;
            return found != nullptr ? problem{where_text_, message_text_, std::string(found->space),
                                              found->offset + at.from}
                                    : problem{where_text_, message_text_, {}, std::nullopt};
        };
        for (recent_kind& recent : recent_) {
            if (recent.kind && recent.where.same_kind(where_) &&
                recent.message.same_kind(message_)) {
                found_.add_again(recent.kind, [&] {
                    text();
                    return listed();
                });
                return;
            }
        }
        text();
        recent_[next_recent_] = {where_, message_, found_.add(where_text_, message_text_, listed)};
        next_recent_ = (next_recent_ + 1) % recent_.size();
    }

    bool room_missing(std::int64_t room) const { return room < 0 || room >= l_.num_rooms; }

    void rooms() {
        const bool trc = l_.version == level_trc;
        for (std::size_t r = 0; r < l_.rooms.size(); ++r) {
            const troom& room = l_.rooms[r];
            const auto room_index = static_cast<std::int32_t>(r);
            for (std::size_t p = 0; p < room.num_portals; ++p) {
                const tportal& portal = room.portals[p];
                if (room_missing(portal.room)) {
                    where("room ", num(r), " portal ", num(p));
                    say("leads to room ", num(portal.room), ", beyond the ", num(l_.num_rooms),
                        " rooms");
                    add(ttable_kind::room_portals, p, sizeof(tportal), room_index);
                }
            }
            const std::size_t sectors = std::size_t{room.num_z_sectors} * room.num_x_sectors;
            for (std::size_t s = 0; s < sectors; ++s) {
                sector(room.sectors[s], room_index, s);
            }
            if (trc) {
                layer_faces(room, room_index);
            } else {
                faces(room.rectangles, room.num_rectangles, room.num_vertices, "rectangle",
                      ttable_kind::room_rectangles, room_index, -1);
                faces(room.triangles, room.num_triangles, room.num_vertices, "triangle",
                      ttable_kind::room_triangles, room_index, -1);
            }
            const std::int16_t alternate = room_alternate(room, l_.version);
            if (alternate != -1 && room_missing(alternate)) {
                where("room ", num(r));
                say("its alternate room ", num(static_cast<std::uint16_t>(alternate)),
                    " is beyond the ", num(l_.num_rooms), " rooms");
                add();
            }
        }
    }

    void sector(const tsector& s, std::int32_t room, std::size_t index) {
        const auto at = [&](const auto&... message) {
            where("room ", num(static_cast<std::uint64_t>(room)), " sector ", num(index));
            say(message...);
            add(ttable_kind::room_sectors, index, sizeof(tsector), room);
        };
        if (s.room_below != no_room_8 && room_missing(s.room_below)) {
            at("the room below, ", num(s.room_below), ", is beyond the ", num(l_.num_rooms),
               " rooms");
        }
        if (s.room_above != no_room_8 && room_missing(s.room_above)) {
            at("the room above, ", num(s.room_above), ", is beyond the ", num(l_.num_rooms),
               " rooms");
        }
        const auto box = sector_box(s.box_field, l_.version);
        if (box && *box >= l_.num_boxes) {
            at("box ", num(*box), " is beyond the ", num(l_.num_boxes), " boxes");
        }
        if (s.floor_data_index >= l_.num_floor_data) {
            at("floor-data index ", num(s.floor_data_index), " is beyond the ",
               num(l_.num_floor_data), " floor-data words");
        }
    }

    /// Faces of one table: corners against `vertices`, texture against the object textures.
    /// Layer faces (`layer` 0 or more) are placed in their room's layer.
    template <class Table>
    void faces(const Table& rows, std::size_t count, std::size_t vertices, const char* kind,
               ttable_kind table, std::int32_t room, std::int32_t layer) {
        const bool layer_face = layer >= 0;
        const std::size_t element = sizeof(rows[0]);
        const auto at = [&](std::size_t i) {
            if (layer_face) {
                where("room ", num(static_cast<std::uint64_t>(room)), " layer ",
                      num(static_cast<std::uint64_t>(layer)), " ", kind, " ", num(i));
            } else {
                where("room ", num(static_cast<std::uint64_t>(room)), " ", kind, " ", num(i));
            }
            add(table, i, element, room, layer);
        };
        for (std::size_t i = 0; i < count; ++i) {
            const auto& face = rows[i];
            for (std::size_t c = 0; c < std::size(face.corners); ++c) {
                if (face.corners[c] >= vertices) {
                    say("corner ", num(c), " is vertex ", num(face.corners[c]), ", beyond the ",
                        num(vertices), " vertices");
                    at(i);
                    break;
                }
            }
            const std::uint16_t texture = face_texture_index(face.texture, layer_face);
            if (texture >= l_.num_object_textures) {
                say("object texture ", num(texture), " is beyond the ", num(l_.num_object_textures),
                    " object textures");
                at(i);
            }
        }
    }

    /// TRC rooms: the faces of each layer against that layer's vertices, and the layers'
    /// face counts against the totals in the room header.
    void layer_faces(const troom& room, std::int32_t room_index) {
        const ttr5_layers& layers = room.layers;
        std::uint64_t rectangles = 0, triangles = 0;
        for (std::size_t k = 0; k < room.layer_headers.size(); ++k) {
            rectangles += room.layer_headers[k].num_rectangles;
            triangles += room.layer_headers[k].num_triangles;
            if (k >= layers.vertex_blocks.size() || k >= layers.rectangle_blocks.size() ||
                k >= layers.triangle_blocks.size()) {
                continue;
            }
            const std::size_t vertices = layers.vertex_blocks[k].count;
            const auto layer_index = static_cast<std::int32_t>(k);
            faces(layers.rectangle_blocks[k].rectangles, layers.rectangle_blocks[k].count, vertices,
                  "rectangle", ttable_kind::layer_rectangles, room_index, layer_index);
            faces(layers.triangle_blocks[k].triangles, layers.triangle_blocks[k].count, vertices,
                  "triangle", ttable_kind::layer_triangles, room_index, layer_index);
        }
        const auto r = static_cast<std::uint64_t>(room_index);
        if (rectangles != room.trc_num_rectangles) {
            where("room ", num(r));
            say("its layers hold ", num(rectangles), " rectangles, its header says ",
                num(room.trc_num_rectangles));
            add();
        }
        if (triangles != room.trc_num_triangles) {
            where("room ", num(r));
            say("its layers hold ", num(triangles), " triangles, its header says ",
                num(room.trc_num_triangles));
            add();
        }
    }

    void object_sections() {
        const std::uint64_t mesh_bytes = 2 * std::uint64_t(l_.num_mesh_data);
        for (std::size_t i = 0; i < l_.mesh_pointers.size(); ++i) {
            const std::int32_t p = l_.mesh_pointers[i];
            if (p < 0 || std::uint64_t(p) >= mesh_bytes) {
                where("mesh pointer ", num(i));
                say("byte offset ", std::int64_t{p}, " is outside the ", num(mesh_bytes),
                    " bytes of mesh data");
                add(section_mesh_pointers, i);
            } else if (p % 4 != 0) {
                // Meshes start on 4-byte boundaries; readers that skip to the next one lose
                // their place in a mesh that does not.
                where("mesh pointer ", num(i));
                say("byte offset ", num(std::uint64_t(p)), " is not on a 4-byte boundary");
                add(section_mesh_pointers, i);
            }
        }
        for (std::size_t i = 0; i < l_.moveables.size(); ++i) {
            const tmoveable& m = l_.moveables[i];
            const auto at = [&](const auto&... message) {
                where("moveable ", num(i));
                say(message...);
                add(section_moveables, i);
            };
            if (m.num_meshes > 0 &&
                std::uint64_t{m.first_mesh} + m.num_meshes > std::uint64_t(l_.num_mesh_pointers)) {
                at("meshes ", num(m.first_mesh), " to ", num(m.first_mesh + m.num_meshes - 1u),
                   " run past the ", num(l_.num_mesh_pointers), " mesh pointers");
            }
            if (m.num_meshes > 1 && std::uint64_t{m.mesh_tree} + 4u * (m.num_meshes - 1u) >
                                        std::uint64_t(l_.num_mesh_trees)) {
                at("its mesh tree from word ", num(m.mesh_tree), " runs past the ",
                   num(l_.num_mesh_trees), " mesh-tree words");
            }
            if (m.animation != no_animation && m.animation >= l_.num_animations) {
                at("animation ", num(m.animation), " is beyond the ", num(l_.num_animations),
                   " animations");
            }
        }
        for (std::size_t i = 0; i < l_.static_meshes.size(); ++i) {
            const tstatic_mesh& s = l_.static_meshes[i];
            if (s.mesh >= l_.num_mesh_pointers) {
                where("static mesh ", num(i));
                say("mesh ", num(s.mesh), " is beyond the ", num(l_.num_mesh_pointers),
                    " mesh pointers");
                add(section_static_meshes, i);
            }
        }
        for (std::int32_t i = 0; i < l_.num_animations; ++i) {
            animation(i);
        }
        for (std::size_t i = 0; i < l_.state_changes.size(); ++i) {
            const tstate_change& s = l_.state_changes[i];
            if (s.num_dispatches > 0 && std::uint64_t{s.first_dispatch} + s.num_dispatches >
                                            std::uint64_t(l_.num_anim_dispatches)) {
                where("state change ", num(i));
                say("dispatches ", num(s.first_dispatch), " to ",
                    num(s.first_dispatch + s.num_dispatches - 1u), " run past the ",
                    num(l_.num_anim_dispatches), " animation dispatches");
                add(section_state_changes, i);
            }
        }
        const std::size_t pages = l_.num_textiles;
        for (std::size_t i = 0; i < l_.object_textures.size(); ++i) {
            const std::uint16_t page = texture_page(l_.object_textures[i]);
            if (page >= pages) {
                where("object texture ", num(i));
                say("page ", num(page), " is beyond the ", num(pages), " texture pages");
                add(section_object_textures, i);
            }
        }
        for (std::size_t i = 0; i < l_.sprite_textures.size(); ++i) {
            const tsprite_texture& t = l_.sprite_textures[i];
            if (t.page >= pages) {
                where("sprite texture ", num(i));
                say("page ", num(t.page), " is beyond the ", num(pages), " texture pages");
                add(section_sprite_textures, i);
            }
        }
    }

    void animation(std::int32_t index) {
        const auto i = static_cast<std::size_t>(index);
        const bool newer = l_.version >= level_tr4;
        if (newer) {
            animation(l_.animations[i], i);
        } else {
            animation(l_.animations_old[i], i);
        }
    }

    template <class Animation> void animation(const Animation& a, std::size_t i) {
        const auto at = [&](const auto&... message) {
            where("animation ", num(i));
            say(message...);
            add(section_animations, i);
        };
        const std::uint64_t frame_bytes = 2 * std::uint64_t(l_.num_frames);
        if (a.frame_offset >= frame_bytes) {
            at("frame offset ", num(a.frame_offset), " is beyond the ", num(frame_bytes),
               " bytes of frames");
        }
        if (a.num_state_changes > 0 && std::uint64_t{a.first_state_change} + a.num_state_changes >
                                           std::uint64_t(l_.num_state_changes)) {
            at("state changes ", num(a.first_state_change), " to ",
               num(a.first_state_change + a.num_state_changes - 1u), " run past the ",
               num(l_.num_state_changes), " state changes");
        }
        if (a.num_commands > 0 && a.first_command >= l_.num_anim_commands) {
            at("commands start at word ", num(a.first_command), ", beyond the ",
               num(l_.num_anim_commands), " command words");
        }
        if (a.next_animation >= l_.num_animations) {
            at("next animation ", num(a.next_animation), " is beyond the ", num(l_.num_animations),
               " animations");
        }
    }

    /// Record `index` of a table whose records stand in a room.
    void in_room(const char* kind, std::size_t index, std::int64_t room, const tsection& section) {
        if (room_missing(room)) {
            where(kind, " ", num(index));
            say("is in room ", room, ", beyond the ", num(l_.num_rooms), " rooms");
            add(section, index);
        }
    }

    void world_sections() {
        for (std::size_t i = 0; i < l_.items.size(); ++i) {
            in_room("item", i, l_.items[i].room, section_items);
        }
        if (l_.version >= level_tr4) {
            for (std::size_t i = 0; i < l_.ai_objects.size(); ++i) {
                in_room("AI object", i, l_.ai_objects[i].room, section_ai_objects);
            }
        }
        for (std::size_t i = 0; i < l_.cameras.size(); ++i) {
            in_room("camera", i, l_.cameras[i].room, section_cameras);
        }
        for (std::size_t i = 0; i < l_.flyby_cameras.size(); ++i) {
            in_room("flyby camera", i, l_.flyby_cameras[i].room, section_flyby_cameras);
        }
        const std::size_t map_entries = sound_map_entries(l_.version);
        for (std::size_t i = 0; i < l_.sound_sources.size(); ++i) {
            const std::uint16_t sound = l_.sound_sources[i].sound;
            if (sound >= map_entries) {
                where("sound source ", num(i));
                say("sound ", num(sound), " is beyond the ", num(map_entries),
                    " entries of the sound map");
                add(section_sound_sources, i);
            }
        }
        if (l_.version >= level_tr4) {
            sounds(map_entries);
        }
    }

    /// TR4 and TRC: the sound map against the sample infos, the sample infos against the
    /// sample list after the level data.
    void sounds(std::size_t map_entries) {
        for (std::size_t i = 0; i < map_entries; ++i) {
            const std::int16_t entry = sound_map_entry(l_, i);
            if (entry != -1 && (entry < 0 || entry >= l_.num_sample_infos)) {
                where("sound map entry ", num(i));
                say("sample info ", std::int64_t{entry}, " is beyond the ",
                    num(l_.num_sample_infos), " sample infos");
                add(ttable_kind::sound_map, i, 2);
            }
        }
        const sample_list list = read_sample_list(l_.sample_data.span());
        if (!list.complete) {
            // The sample data is everything after the level data, at the end of the file.
            where("sample data");
            say("sample ", num(list.samples.size()), " of the ", num(list.declared),
                " declared runs past the end of the file");
            add();
        }
        const std::size_t samples = list.samples.size();
        for (std::size_t i = 0; i < l_.sample_infos.size(); ++i) {
            const tsample_info& s = l_.sample_infos[i];
            const std::uint64_t end =
                std::uint64_t{s.first_sample} + std::max<std::uint16_t>(sample_count(s), 1);
            if (end > samples) {
                where("sample info ", num(i));
                say("samples ", num(s.first_sample), " to ", num(end - 1), " run past the ",
                    num(samples), " samples of the sample list");
                add(section_sample_infos, i);
            }
        }
    }

    const Ttrlevel& l_;
    table_places places_;
    problem_list& found_;
    text_pieces where_, message_;
    std::string where_text_, message_text_;
    /// The kinds of the last problems added, for the problems after them: most come in runs of
    /// one kind.
    struct recent_kind {
        text_pieces where, message;
        problem_list::kind_ref kind;
    };
    std::array<recent_kind, 8> recent_{};
    std::size_t next_recent_ = 0;
};

/// Appends the kind of the problem at `where` with `message`: both with every run of digits
/// written as "N".
void append_kind(std::string& kind, std::string_view where, std::string_view message) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto add = [&](std::string_view text) {
        std::size_t from = 0;
        for (std::size_t i = 0; i < text.size();) {
            if (!digit(text[i])) {
                ++i;
                continue;
            }
            kind.append(text.substr(from, i - from));
            kind += 'N';
            while (i < text.size() && digit(text[i])) {
                ++i;
            }
            from = i;
        }
        kind.append(text.substr(from));
    };
    add(where);
    kind += ": ";
    add(message);
}

} // namespace

problem_list::problem_list(std::size_t per_kind, std::function<void(const problem&)> on_listed)
    : per_kind_(per_kind), on_listed_(std::move(on_listed)) {}

problem_list::kind_count& problem_list::kind_of(std::string_view where, std::string_view message) {
    kind_.clear();
    append_kind(kind_, where, message);
    auto kind = kinds_.find(kind_);
    if (kind == kinds_.end()) {
        kind = kinds_.emplace(kind_, kind_count{kinds_.size(), 0}).first;
    }
    return kind->second;
}

void problem_list::list(problem p) {
    if (on_listed_) {
        on_listed_(p);
    } else {
        listed_.push_back(std::move(p));
    }
}

std::vector<problem_list::unlisted_kind> problem_list::unlisted() const {
    std::vector<std::pair<std::size_t, unlisted_kind>> beyond;
    for (const auto& [kind, seen] : kinds_) {
        if (seen.count > per_kind_) {
            beyond.push_back({seen.order, {kind, seen.count - per_kind_}});
        }
    }
    std::sort(beyond.begin(), beyond.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<unlisted_kind> kinds;
    for (auto& [order, kind] : beyond) {
        kinds.push_back(std::move(kind));
    }
    return kinds;
}

std::string problem_kind(const problem& p) {
    std::string kind;
    append_kind(kind, p.where, p.message);
    return kind;
}

void check_level(const Ttrlevel& level, std::span<const ttable_place> places, problem_list& found) {
    checker(level, places, found).run();
}

std::vector<problem> check_level(const Ttrlevel& level, std::span<const ttable_place> places) {
    problem_list found(SIZE_MAX);
    check_level(level, places, found);
    return found.take_listed();
}

} // namespace quarlix::info
