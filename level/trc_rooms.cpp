// The TRC room block: the preamble, then every room as "XELA", a 216-byte header and its data.
#include <cstring>
#include <string>

#include "level/geometry.h"
#include "level/walks.h"

namespace quarlix {

namespace {

constexpr std::uint8_t separator = 0xCD;
/// Fewest bytes a TRC room occupies: the header, the portal count and its filler.
constexpr std::uint64_t smallest_trc_room = 216 + 2 + 2;
/// Bytes of a layer header that the reader keeps verbatim, from extra_2 on.
constexpr std::size_t kept_header_bytes = sizeof(tlayer_header) - offsetof(tlayer_header, extra_2);

/// The TRC lights: 85 bytes each, then three filler bytes. Lights that the room does not
/// hold in this form are written as zeros.
template <class Io> void walk_trc_lights(Io& io, troom& r, const field_place& at) {
    if constexpr (Io::loading) {
        io.need(std::uint64_t{r.num_lights} * 88, at + "lights");
        r.trc_lights.resize(r.num_lights);
    }
    for (std::size_t i = 0; i < r.num_lights; ++i) {
        if constexpr (Io::loading) {
            io.value(r.trc_lights[i], at + "lights");
        } else {
            io.value(i < r.trc_lights.size() ? r.trc_lights[i] : ttrc_light{});
        }
        filler(io, separator, 3, at + "light filler");
    }
}

/// What all rooms together may still read. Rooms may overlap, so many rooms could claim the
/// same bytes, and everything a room reads is held in memory: all rooms together read no
/// more bytes, and no more layer headers, than the level data holds.
struct room_reads {
    std::uint64_t bytes_left = 0;
    std::uint64_t layers_left = 0;
};

/// Fails unless the room, having read from `room_at` to here, may read `more` bytes. Bytes that
/// are not there at all are left to the reads themselves, which name what was cut short.
void claim(const level_loader& io, const room_reads& reads, std::size_t room_at, std::uint64_t more,
           const field_name& field) {
    const std::uint64_t read = io.position() - room_at;
    if (more <= io.left() && read + more > reads.bytes_left) {
        io.fail(io.position(), field,
                std::to_string(read + more) + " bytes of room data exceed the " +
                    std::to_string(reads.bytes_left) +
                    " bytes of level data that no other room has read");
    }
}

/// Reads the layers as stored: every header, every layer's faces, then every layer's vertices.
/// `reads` is what remains of what all rooms together may read; the room began at `room_at`.
void read_layers(level_loader& io, troom& r, const field_place& at, std::size_t count_at,
                 room_reads& reads, std::size_t room_at) {
    r.num_vertices = r.num_rectangles = r.num_triangles = r.num_sprites = 0;
    const std::uint32_t count = r.num_layers;
    const std::string headers = at.text + std::to_string(count) + " layer headers";
    io.need(std::uint64_t{count} * sizeof(tlayer_header), headers);
    if (count > reads.layers_left) {
        io.fail(count_at, at + "layer count",
                std::to_string(count) + " layers exceed the " + std::to_string(reads.layers_left) +
                    " that the level data has room for");
    }
    reads.layers_left -= count;
    claim(io, reads, room_at, std::uint64_t{count} * sizeof(tlayer_header), headers);
    r.layer_headers.assign(count, tlayer_header{});
    r.layers.vertex_blocks.assign(count, tlayer_vertex_block{});
    r.layers.rectangle_blocks.assign(count, tlayer_rectangle_block{});
    r.layers.triangle_blocks.assign(count, tlayer_triangle_block{});
    if (count == 0) {
        return;
    }
    std::uint64_t rectangles = 0;
    std::uint64_t triangles = 0;
    field_place layer; // "TRC room 5 layer 2 ", its text reused from layer to layer
    for (std::uint32_t k = 0; k < count; ++k) {
        layer.text.assign(at.text).append("layer ").append(std::to_string(k)).append(" ");
        tlayer_header& h = r.layer_headers[k];
        const std::size_t header_at = io.position();
        io.value(h.num_vertices, layer + "vertex count");
        io.value(h.extra_1, layer + "header");
        io.value(h.num_rectangles, layer + "rectangle count");
        io.value(h.num_triangles, layer + "triangle count");
        io.bytes(reinterpret_cast<std::uint8_t*>(&h) + offsetof(tlayer_header, extra_2),
                 kept_header_bytes, layer + "header");
        const auto vertices = static_cast<std::uint16_t>(h.num_vertices);
        io.capacity(vertices, max_room_vertices, header_at, layer + "vertices");
        io.capacity(h.num_rectangles, max_room_rectangles, header_at, layer + "rectangles");
        io.capacity(h.num_triangles, max_room_triangles, header_at, layer + "triangles");
        rectangles += h.num_rectangles;
        triangles += h.num_triangles;
        io.capacity(rectangles, max_room_rectangles, header_at, at + "rectangles of all layers");
        io.capacity(triangles, max_room_triangles, header_at, at + "triangles of all layers");
        r.layers.vertex_blocks[k].count = vertices;
        r.layers.rectangle_blocks[k].count = h.num_rectangles;
        r.layers.triangle_blocks[k].count = h.num_triangles;
    }
    r.num_triangles = static_cast<std::uint16_t>(triangles);
    std::uint64_t row_bytes =
        rectangles * sizeof(tlayer_rectangle) + triangles * sizeof(tlayer_triangle);
    for (const auto& vb : r.layers.vertex_blocks) {
        row_bytes += std::uint64_t{vb.count} * sizeof(tlayer_vertex);
    }
    claim(io, reads, room_at, row_bytes, at + "layer rows");
    for (std::uint32_t k = 0; k < count; ++k) {
        io.in_layer(static_cast<std::int32_t>(k));
        auto& rb = r.layers.rectangle_blocks[k];
        auto& tb = r.layers.triangle_blocks[k];
        io.rows_into(rb.rectangles, rb.count, at + "layer rectangles",
                     ttable_kind::layer_rectangles);
        io.rows_into(tb.triangles, tb.count, at + "layer triangles", ttable_kind::layer_triangles);
    }
    io.in_layer(-1);
    if (triangles % 2 != 0) {
        io.skip(2, at + "face filler");
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        io.in_layer(static_cast<std::int32_t>(k));
        auto& vb = r.layers.vertex_blocks[k];
        io.rows_into(vb.vertices, vb.count, at + "layer vertices", ttable_kind::layer_vertices);
    }
    io.in_layer(-1);
    layers_to_room_geometry(r);
}

/// A noted header field that the writer fills in once the data it describes is written.
struct patches {
    std::size_t data_size = 0, sectors_end = 0, sectors_start = 0, portals_end = 0;
    std::size_t layers = 0, vertices = 0, faces = 0, vertices_size = 0, data = 0;
};

template <class Io> void walk_trc_room(Io& io, troom& r, const field_place& at, room_reads& reads) {
    constexpr bool loading = Io::loading;
    const std::size_t room_at = io.position();
    patches p;
    if constexpr (loading) {
        io.skip(4, at + "marker");
    } else {
        io.bytes("XELA", 4);
    }
    p.data_size = io.position();
    io.value(r.trc_data_size, at + "data size");
    const std::size_t start = io.position();
    filler(io, separator, 4, at + "separator");
    p.sectors_end = io.position();
    io.value(r.trc_sectors_end, at + "sectors end");
    p.sectors_start = io.position();
    io.value(r.trc_sectors_start, at + "sectors start");
    io.value(r.trc_extra_1, at + "header");
    p.portals_end = io.position();
    io.value(r.trc_portals_end, at + "portals end");
    io.value(r.pos_x, at + "pos_x");
    io.value(r.pos_y, at + "pos_y");
    io.value(r.pos_z, at + "pos_z");
    io.value(r.y_bottom, at + "y_bottom");
    io.value(r.y_top, at + "y_top");
    const std::size_t counts_at = io.position();
    io.value(r.num_z_sectors, at + "sector count z");
    io.value(r.num_x_sectors, at + "sector count x");
    io.value(r.room_colour, at + "colour");
    io.value(r.num_lights, at + "light count");
    io.value(r.num_static_instances, at + "static instance count");
    io.value(r.trc_extra_2, at + "header");
    io.value(r.trc_extra_3, at + "header");
    io.value(r.trc_extra_4, at + "header");
    filler(io, separator, 8, at + "separator");
    // Six FF bytes when written; the last two hold the room's alternate room when read.
    filler(io, 0xFF, 4, at + "header");
    if constexpr (loading) {
        io.value(r.trc_alternate_room, at + "alternate room");
    } else {
        filler(io, 0xFF, 2, at + "alternate room");
    }
    io.value(r.flags, at + "flags");
    io.value(r.trc_extra_word, at + "header");
    filler(io, 0, 10, at + "header");
    filler(io, separator, 4, at + "separator");
    io.value(r.trc_extra_block, at + "header");
    filler(io, separator, 16, at + "separator");
    io.value(r.trc_extra_5, at + "header");
    filler(io, separator, 4, at + "separator");
    io.value(r.trc_num_triangles, at + "triangle count");
    io.value(r.trc_num_rectangles, at + "rectangle count");
    io.value(r.trc_extra_6, at + "header");
    if constexpr (!loading) {
        r.trc_light_data_size = 88u * r.num_lights;
    }
    io.value(r.trc_light_data_size, at + "light data size");
    io.value(r.trc_extra_7, at + "header");
    const std::size_t aux_at = io.position();
    io.value(r.num_aux_records, at + "aux record count");
    io.value(r.trc_extra_8, at + "header");
    io.value(r.trc_extra_9, at + "header");
    const std::size_t layers_at = io.position();
    if constexpr (loading) {
        io.value(r.num_layers, at + "layer count");
        r.layers.layer_count = r.num_layers;
    } else {
        io.value(std::uint32_t{1});
    }
    p.layers = io.position();
    io.value(r.trc_layers_offset, at + "layers offset");
    p.vertices = io.position();
    io.value(r.trc_vertices_offset, at + "vertices offset");
    p.faces = io.position();
    io.value(r.trc_faces_offset, at + "faces offset");
    io.value(r.trc_faces_offset_2, at + "faces offset");
    p.vertices_size = io.position();
    io.value(r.trc_vertices_size, at + "vertices size");
    filler(io, separator, 16, at + "separator");

    const std::size_t data = io.position();
    const auto patch_offset = [&](std::size_t field) {
        if constexpr (!loading) {
            io.patch_u32(field, io.position() - data, at + "offset");
        }
    };
    const std::uint64_t sectors = std::uint64_t{r.num_z_sectors} * r.num_x_sectors;
    if constexpr (loading) {
        io.capacity(r.num_lights, max_room_lights, counts_at, at + "lights");
        io.capacity(r.num_static_instances, max_room_static_instances, counts_at,
                    at + "static instances");
        io.capacity(sectors, max_room_sectors, counts_at, at + "sectors");
        io.capacity(r.num_aux_records, max_room_aux_records, aux_at, at + "aux records");
        claim(io, reads, room_at,
              88 * std::uint64_t{r.num_lights} + sizeof(taux_record) * r.num_aux_records +
                  sizeof(tsector) * sectors + sizeof(tstatic_instance) * r.num_static_instances,
              at + "tables");
    }
    walk_trc_lights(io, r, at);
    if constexpr (loading) {
        io.rows_into(r.aux_records, r.num_aux_records, at + "aux records",
                     ttable_kind::room_aux_records);
    } else {
        io.rows_from(r.aux_records, r.num_aux_records);
    }
    patch_offset(p.sectors_start);
    if constexpr (loading) {
        io.rows_into(r.sectors, sectors, at + "sectors", ttable_kind::room_sectors);
    } else {
        io.rows_from(r.sectors, static_cast<std::size_t>(sectors));
    }
    patch_offset(p.sectors_end);
    io.table(r.num_portals, r.portals, at + "portals", ttable_kind::room_portals);
    filler(io, separator, 2, at + "portal filler");
    patch_offset(p.portals_end);
    if constexpr (loading) {
        io.rows_into(r.static_instances, r.num_static_instances, at + "static instances",
                     ttable_kind::room_static_instances);
        read_layers(io, r, at, layers_at, reads, room_at);
        claim(io, reads, room_at, 0, at + "data");
        reads.bytes_left -= io.position() - room_at;
        // The declared size alone finds the next room, forward or back.
        const std::size_t end = start + r.trc_data_size;
        r.trc_unread_bytes = static_cast<std::int32_t>(static_cast<std::int64_t>(end) -
                                                       static_cast<std::int64_t>(io.position()));
        io.seek(end);
    } else {
        io.rows_from(r.static_instances, r.num_static_instances);
        patch_offset(p.layers);
        // One layer: the room's counts over the first layer header's kept words.
        const tlayer_header first = r.layer_headers.empty() ? tlayer_header{} : r.layer_headers[0];
        io.value(std::uint32_t{r.num_vertices});
        io.value(first.extra_1);
        io.value(r.num_rectangles);
        io.value(r.num_triangles);
        io.bytes(reinterpret_cast<const std::uint8_t*>(&first) + offsetof(tlayer_header, extra_2),
                 kept_header_bytes);
        patch_offset(p.faces);
        patch_offset(p.faces + 4);
        io.rows_from(r.trc_rectangles, r.num_rectangles);
        io.rows_from(r.trc_triangles, r.num_triangles);
        if (r.num_triangles % 2 != 0) {
            io.fill(separator, 2);
        }
        patch_offset(p.vertices);
        const std::size_t vertices_at = io.position();
        io.rows_from(r.trc_vertices, r.num_vertices);
        io.fill(separator, 2);
        const std::size_t end = io.position();
        io.patch_u32(p.data_size, end - (p.data_size + 4), at + "data size");
        io.patch_u32(p.vertices_size, end - vertices_at, at + "vertices size");
    }
}

} // namespace

template <class Io> void walk_trc_rooms(Io& io, Ttrlevel& l, trc_frame& frame) {
    io.value(l.trc_header_block, "TRC header block");
    frame.length_fields_at = io.position();
    io.value(l.trc_level_data_size, "level-data length");
    io.value(l.trc_level_data_size_2, "level-data length");
    frame.data_end = io.position() + l.trc_level_data_size;
    filler(io, 0, 4, "reserved word");
    std::uint32_t count = l.num_rooms;
    const std::size_t count_at = io.position();
    io.value(count, "room count");
    if constexpr (Io::loading) {
        // Only the low 16 bits of the stored count are the room count.
        size_rooms(io, l, static_cast<std::uint16_t>(count), count_at, smallest_trc_room);
    } else {
        (void)count_at;
    }
    room_reads reads;
    if constexpr (Io::loading) {
        reads.bytes_left = io.size();
        reads.layers_left = io.size() / sizeof(tlayer_header);
    }
    for (std::size_t i = 0; i < l.rooms.size(); ++i) {
        io.in_room(static_cast<std::int32_t>(i));
        walk_trc_room(io, l.rooms[i], field_place{"TRC room " + std::to_string(i) + " "}, reads);
    }
    io.in_room(-1);
}

template void walk_trc_rooms(level_loader&, Ttrlevel&, trc_frame&);
template void walk_trc_rooms(level_saver&, Ttrlevel&, trc_frame&);

} // namespace quarlix
