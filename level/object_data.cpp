// Meshes, skeletons and keyframes read from the words that hold them.
#include "level/object_data.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>

#include "level/records.h"

namespace quarlix {

namespace {

/// Reads 16-bit words from a table, stopping (ok() false) at its end.
template <class Word> class word_reader {
  public:
    word_reader(const std::vector<Word>& words, std::size_t at) : words_(words), at_(at) {}
    std::int16_t next() {
        if (at_ >= words_.size()) {
            ok_ = false;
            return 0;
        }
        return static_cast<std::int16_t>(words_[at_++]);
    }
    /// Skips n words; false (and not ok) when they are not all there.
    bool skip(std::size_t n) {
        if (n > words_.size() - std::min(at_, words_.size())) {
            ok_ = false;
            return false;
        }
        at_ += n;
        return true;
    }
    bool has(std::size_t n) const { return at_ <= words_.size() && n <= words_.size() - at_; }
    bool ok() const { return ok_; }
    std::size_t at() const { return at_; }

  private:
    const std::vector<Word>& words_;
    std::size_t at_;
    bool ok_ = true;
};

} // namespace

std::optional<decoded_mesh> read_mesh(const Ttrlevel& level, std::size_t index,
                                      std::string& problem) {
    if (index >= level.mesh_pointers.size()) {
        problem = "is beyond the " + std::to_string(level.mesh_pointers.size()) + " mesh pointers";
        return std::nullopt;
    }
    const std::int32_t offset = level.mesh_pointers[index];
    // Written only for a problem: most meshes have none.
    const auto place = [offset] { return "at mesh-data offset " + std::to_string(offset); };
    if (offset < 0 || offset % 2 != 0 || std::size_t(offset) / 2 >= level.mesh_data.size()) {
        problem = place() + " is outside the " + std::to_string(2 * level.mesh_data.size()) +
                  " bytes of mesh data";
        return std::nullopt;
    }
    word_reader<std::uint16_t> r(level.mesh_data, std::size_t(offset) / 2);
    const auto past_end = [&] {
        problem = place() + " runs past the mesh data";
        return std::nullopt;
    };
    decoded_mesh mesh;
    r.skip(5); // centre and radius
    const std::int16_t num_vertices = r.next();
    if (!r.ok() || num_vertices < 0 || !r.has(3 * std::size_t(num_vertices))) {
        return num_vertices < 0
                   ? (problem = place() + " has " + std::to_string(num_vertices) + " vertices",
                      std::nullopt)
                   : past_end();
    }
    mesh.vertices.resize(std::size_t(num_vertices));
    for (auto& v : mesh.vertices) {
        v = {r.next(), r.next(), r.next()};
    }
    const std::int16_t n = r.next();
    const std::size_t lights = n < 0 ? std::size_t(-std::int32_t{n}) : 0;
    if (!r.ok() || !r.has(n > 0 ? 3 * std::size_t(n) : lights)) {
        return past_end();
    }
    if (n > 0) {
        mesh.normals.resize(std::size_t(n));
        for (auto& v : mesh.normals) {
            v = {r.next(), r.next(), r.next()};
        }
        if (mesh.normals.size() != mesh.vertices.size()) {
            mesh.normals.clear(); // not one a vertex: drawn unlit
        }
    } else {
        mesh.shades.resize(lights);
        for (auto& s : mesh.shades) {
            s = r.next();
        }
    }
    const bool newer = level.version >= level_tr4;
    // Textured rectangles, textured triangles; versions 1-5 then coloured ones.
    const std::size_t lists = newer ? 2 : 4;
    for (std::size_t list = 0; list < lists; ++list) {
        const std::size_t corners = list % 2 == 0 ? 4 : 3;
        const std::size_t words = corners + 1 + (newer ? 1 : 0);
        const std::int16_t count = r.next();
        if (!r.ok() || count < 0 || !r.has(words * std::size_t(count))) {
            return count < 0
                       ? (problem = place() + " has " + std::to_string(count) + " faces in a list",
                          std::nullopt)
                       : past_end();
        }
        for (std::int16_t f = 0; f < count; ++f) {
            mesh_face face{};
            face.num_corners = static_cast<std::uint8_t>(corners);
            bool inside = true;
            for (std::size_t c = 0; c < corners; ++c) {
                face.corners[c] = static_cast<std::uint16_t>(r.next());
                inside = inside && face.corners[c] < mesh.vertices.size();
            }
            face.texture = static_cast<std::uint16_t>(r.next());
            face.additive = newer && (r.next() & 1) != 0;
            face.coloured = list >= 2;
            if (inside) {
                mesh.faces.push_back(face);
            } else {
                ++mesh.skipped_faces;
            }
        }
    }
    return mesh;
}

std::optional<std::vector<skeleton_joint>> read_skeleton(const Ttrlevel& level,
                                                         std::uint32_t first_word,
                                                         std::uint16_t num_meshes,
                                                         std::string& problem) {
    std::vector<skeleton_joint> joints;
    if (num_meshes == 0) {
        return joints;
    }
    const std::size_t nodes = num_meshes - 1u;
    if (nodes != 0 && (first_word > level.mesh_trees.size() ||
                       4 * nodes > level.mesh_trees.size() - first_word)) {
        problem = "its mesh tree of " + std::to_string(nodes) + " nodes from word " +
                  std::to_string(first_word) + " runs past the " +
                  std::to_string(level.mesh_trees.size()) + " mesh-tree words";
        return std::nullopt;
    }
    joints.reserve(num_meshes);
    joints.push_back({-1, {0, 0, 0}});
    std::vector<std::int32_t> stack;
    for (std::size_t i = 1; i < num_meshes; ++i) {
        const std::int32_t* node = &level.mesh_trees[first_word + 4 * (i - 1)];
        std::int32_t parent = static_cast<std::int32_t>(i - 1);
        if ((node[0] & 1) != 0) {
            // Pop: an empty stack leaves the object's origin as the parent.
            parent = stack.empty() ? -1 : stack.back();
            if (!stack.empty()) {
                stack.pop_back();
            }
        }
        if ((node[0] & 2) != 0) {
            stack.push_back(parent);
        }
        joints.push_back({parent, {node[1], node[2], node[3]}});
    }
    return joints;
}

namespace {

/// The fields of an animation that its keyframes depend on, in either record form.
struct keyframe_fields {
    std::uint32_t frame_offset;
    std::uint8_t frame_rate, frame_size;
    std::uint16_t first_frame, last_frame;
};

template <class Record> keyframe_fields keyframe_fields_of(const Record& a) {
    return {a.frame_offset, a.frame_rate, a.frame_size, a.first_frame, a.last_frame};
}

keyframe_fields animation_at(const Ttrlevel& level, std::size_t index) {
    return level.version >= level_tr4 ? keyframe_fields_of(level.animations[index])
                                      : keyframe_fields_of(level.animations_old[index]);
}

std::size_t animation_count(const Ttrlevel& level) {
    return level.version >= level_tr4 ? level.animations.size() : level.animations_old.size();
}

/// Words a keyframe of n meshes takes at the least: box, offset (versions 1-2 a mesh count),
/// one word a rotation (versions 1-2: two).
std::size_t least_keyframe_words(std::int32_t version, std::size_t meshes) {
    return version <= 2 ? 10 + 2 * meshes : 9 + meshes;
}

} // namespace

std::optional<std::size_t> declared_keyframes(const Ttrlevel& level, std::size_t index) {
    const keyframe_fields a = animation_at(level, index);
    if (level.version > 2 && a.frame_size == 0) {
        return 0;
    }
    if (a.frame_rate == 0 || a.last_frame < a.first_frame) {
        return std::nullopt;
    }
    return (a.last_frame - a.first_frame + a.frame_rate - 1u) / a.frame_rate + 1u;
}

std::optional<decoded_animation> read_keyframes(const Ttrlevel& level, std::size_t index,
                                                std::uint16_t num_meshes, std::string& problem) {
    const keyframe_fields a = animation_at(level, index);
    decoded_animation out{index, a.frame_rate, {}};
    const std::optional<std::size_t> count = declared_keyframes(level, index);
    if (!count) {
        problem = a.frame_rate == 0
                      ? "its frame rate is 0"
                      : "its last frame " + std::to_string(a.last_frame) +
                            " is before its first frame " + std::to_string(a.first_frame);
        return std::nullopt;
    }
    if (*count == 0) {
        return out;
    }
    const std::size_t least = least_keyframe_words(level.version, num_meshes);
    const std::size_t size = level.version <= 2 ? least : a.frame_size;
    if (size < least) {
        problem = "its frame size of " + std::to_string(size) + " words is below the " +
                  std::to_string(least) + " that a keyframe of " + std::to_string(num_meshes) +
                  " meshes takes";
        return std::nullopt;
    }
    const std::size_t words = level.frames.size();
    const std::size_t start = a.frame_offset / 2;
    // Every keyframe stands inside the frames: the count is bounded by the words there are.
    if (a.frame_offset % 2 != 0 || start > words || (words - start) / size < *count) {
        problem = "its " + std::to_string(*count) + " keyframes of " + std::to_string(size) +
                  " words from frame byte " + std::to_string(a.frame_offset) + " run past the " +
                  std::to_string(2 * words) + " bytes of frames";
        return std::nullopt;
    }
    const bool three_axes_only = level.version <= 2;
    const double single_unit = level.version >= level_tr4 ? 4096.0 : 1024.0;
    const std::uint16_t single_mask = level.version >= level_tr4 ? 0xFFF : 0x3FF;
    out.keyframes.resize(*count);
    for (std::size_t k = 0; k < *count; ++k) {
        word_reader<std::int16_t> r(level.frames, start + k * size + 6);
        keyframe& f = out.keyframes[k];
        f.offset = {r.next(), r.next(), r.next()};
        if (three_axes_only) {
            r.next(); // the mesh count
        }
        f.angles.resize(num_meshes);
        for (auto& angles : f.angles) {
            auto w = static_cast<std::uint16_t>(r.next());
            if (three_axes_only || (w & 0xC000) == 0) {
                auto w2 = static_cast<std::uint16_t>(r.next());
                if (three_axes_only) {
                    std::swap(w, w2); // stored second word first
                }
                angles = {((w >> 4) & 0x3FF) / 1024.0, (((w & 0xF) << 6) | (w2 >> 10)) / 1024.0,
                          (w2 & 0x3FF) / 1024.0};
            } else {
                const double turn = (w & single_mask) / single_unit;
                angles = {0, 0, 0};
                angles[(w >> 14) - 1u] = turn;
            }
        }
        if (!r.ok()) {
            problem = "its keyframe " + std::to_string(k) + " runs past the " +
                      std::to_string(2 * words) + " bytes of frames";
            return std::nullopt;
        }
    }
    return out;
}

std::vector<animation_span> moveable_animations(const Ttrlevel& level) {
    const std::size_t total = animation_count(level);
    std::set<std::size_t> starts;
    for (const tmoveable& m : level.moveables) {
        const std::size_t first = m.animation;
        if (first != no_animation && first < total) {
            starts.insert(first);
        }
    }
    std::vector<animation_span> spans;
    spans.reserve(level.moveables.size());
    for (const tmoveable& m : level.moveables) {
        const std::size_t first = m.animation;
        if (first == no_animation || first >= total) {
            spans.push_back({});
            continue;
        }
        const auto next = starts.upper_bound(first);
        spans.push_back({first, next == starts.end() ? total : *next});
    }
    return spans;
}

namespace {

/// Sine and cosine of an angle of `turns` full turns, from the same additions and
/// multiplications on every platform: the C libraries' sin and cos differ in the last bit
/// between platforms, and the exported files must not.
std::array<double, 2> sin_cos_of_turns(double turns) {
    // Quarter turns q and the rest r in [-1/8, 1/8] of a turn.
    const double quarters = std::floor(turns * 4 + 0.5);
    const double r = (turns - quarters / 4) * (2 * std::numbers::pi);
    const double r2 = r * r;
    // Taylor series to r^17 and r^18: below half a unit in the last place for |r| <= pi/4.
    double s = 0, c = 0, term_s = r, term_c = 1;
    for (int k = 1; k <= 17; k += 2) {
        s += term_s;
        c += term_c;
        term_s *= -r2 / ((k + 1) * (k + 2));
        term_c *= -r2 / (k * (k + 1));
    }
    switch (static_cast<int>(quarters - 4 * std::floor(quarters / 4))) {
    case 0:
        return {s, c};
    case 1:
        return {c, -s};
    case 2:
        return {-s, -c};
    default:
        return {-c, s};
    }
}

} // namespace

std::array<double, 4> rotation_yxz(const std::array<double, 3>& angles) {
    const auto axis = [](int a, double turns) {
        const auto [sin_half, cos_half] = sin_cos_of_turns(turns / 2);
        std::array<double, 4> q{0, 0, 0, cos_half};
        q[static_cast<std::size_t>(a)] = sin_half;
        return q;
    };
    const auto times = [](const std::array<double, 4>& a, const std::array<double, 4>& b) {
        return std::array<double, 4>{a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
                                     a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
                                     a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
                                     a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
    };
    return times(times(axis(1, angles[1]), axis(0, angles[0])), axis(2, angles[2]));
}

} // namespace quarlix
