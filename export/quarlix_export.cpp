// The export's run: arguments, load, every output made in memory, then written.
#include "export/quarlix_export.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <system_error>

#include "CLI/CLI.hpp"
#include "export/model.h"
#include "export/objects.h"
#include "export/pictures.h"
#include "level/samples.h"
#include "level/trunit2.h"
#include "storage/file_system.h"

namespace quarlix::exporting {

namespace {

namespace fs = std::filesystem;

void say(std::ostream& out, const std::string& line) { out << line << '\n' << std::flush; }

struct output_file {
    std::string name;  // relative to the directory, '/' separated
    std::vector<std::uint8_t> bytes;
};

std::string version_name(std::int32_t version) {
    return version == level_tr4 ? "TR4" : version == level_trc ? "TRC" : "version " + std::to_string(version);
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void add_textures(page_store& pages, std::vector<output_file>& files, std::ostream& out) {
    pages.encode_all();
    std::size_t by_form[4] = {};
    for (std::size_t i = 0; i < pages.pages().size(); ++i) {
        const level_page& page = pages.pages()[i];
        ++by_form[static_cast<int>(page.form)];
        files.push_back({"textures/" + page_name(page) + ".png", pages.png(i)});
    }
    std::string line = "textures: ";
    const char* labels[4] = {"of 32 bits", "of 16 bits", "of the third chunk", "of 8 bits"};
    bool first = true;
    for (int form : {3, 0, 1, 2}) {
        if (by_form[form] != 0) {
            line += (first ? "" : ", ") + plural(by_form[form], "page ", "pages ") + labels[form];
            first = false;
        }
    }
    say(out, first ? "textures: the level holds no whole page" : line);
}

/// Where an incomplete sample list stopped, said for the sounds line.
std::string sample_list_problem(std::span<const std::uint8_t> data, const sample_list& list) {
    if (data.size() < 4) {
        return "the sample data of " + std::to_string(data.size()) +
               " bytes is too short for a sample count";
    }
    const std::size_t at = list.fault_offset;
    const std::string sample = "sample " + std::to_string(list.samples.size()) + " of " +
                               std::to_string(list.declared);
    if (data.size() - at < 8) {
        return sample + ": its sizes at byte " + std::to_string(at) +
               " run past the end of the sample data";
    }
    std::uint32_t stored = 0;
    std::memcpy(&stored, data.data() + at + 4, 4);
    return sample + ": its " + std::to_string(stored) + " bytes at byte " + std::to_string(at + 8) +
           " run past the end of the sample data";
}

void add_sounds(const Ttrlevel& level, std::vector<output_file>& files, std::ostream& out) {
    if (level.version != level_tr4 && level.version != level_trc) {
        say(out, "sounds: not exported from " + version_name(level.version) + " levels");
        return;
    }
    const std::span<const std::uint8_t> data = level.sample_data.span();
    const sample_list list = read_sample_list(data);
    std::size_t written = 0;
    for (std::size_t i = 0; i < list.samples.size(); ++i) {
        const sample_entry& sample = list.samples[i];
        const std::span<const std::uint8_t> bytes = sample_bytes(data, sample);
        if (!is_riff_wave(bytes)) {
            say(out, "sounds: sample " + std::to_string(i) + " (" + std::to_string(bytes.size()) +
                         " bytes at sample-data byte " + std::to_string(sample.offset) +
                         ") is not a RIFF WAVE file; skipped");
            continue;
        }
        char name[48];
        std::snprintf(name, sizeof name, "sounds/sample-%04zu.wav", i);
        files.push_back({name, {bytes.begin(), bytes.end()}});
        ++written;
    }
    if (!list.complete) {
        say(out, "sounds: " + sample_list_problem(data, list) + "; it and any after it are skipped");
    }
    say(out, "sounds: " + plural(written, "sample", "samples"));
}

void add_model(const level_objects& objects, page_store& pages, std::vector<output_file>& files,
               std::ostream& out) {
    model_summary summary;
    files.push_back({"level.glb", build_glb(objects, pages, summary)});
    if (summary.skipped_faces != 0) {
        say(out, "model: " + plural(summary.skipped_faces, "face has", "faces have") +
                     " a corner beyond its room's vertices; skipped");
    }
    if (summary.untextured_faces != 0) {
        say(out, "model: " + plural(summary.untextured_faces, "face names", "faces name") +
                     " no object texture on an existing page; drawn untextured");
    }
    if (summary.unplaced != 0) {
        say(out, "model: " + plural(summary.unplaced, "item, static instance or sprite names",
                                    "items, static instances or sprites name") +
                     " a room, static mesh, vertex or sprite texture that does not exist; not placed");
    }
    if (summary.unmodelled != 0) {
        say(out, "model: " + plural(summary.unmodelled, "item is", "items are") +
                     " placed without a model (no moveable or sprite of its object, or past the bound on joints)");
    }
    say(out, "model: level.glb, " + plural(summary.rooms, "room", "rooms") + ", " +
                 plural(summary.faces, "face", "faces") + ", " +
                 plural(summary.images, "page", "pages") + "; " + plural(summary.items, "item", "items") + ", " +
                 plural(summary.statics, "static instance", "static instances") + ", " +
                 plural(summary.sprites, "room sprite", "room sprites"));
}

void add_objects(const Ttrlevel& level, const level_objects& objects, page_store& pages,
                 std::vector<output_file>& files, std::ostream& out) {
    objects_summary summary;
    for (object_file& file : build_object_files(level, objects, pages, summary)) {
        files.push_back({std::move(file.name), std::move(file.bytes)});
    }
    if (!objects.meshless().empty()) {
        std::string ids;
        for (const std::uint32_t id : objects.meshless()) {
            ids += (ids.empty() ? "" : ", ") + std::to_string(id);
        }
        say(out, "objects: " + plural(objects.meshless().size(), "moveable has", "moveables have") +
                     " no meshes and no model (object " + ids + ")");
    }
    say(out, "objects: " + plural(summary.moveables, "moveable", "moveables") + " with " +
                 plural(summary.animations, "animation", "animations") + " of " +
                 plural(summary.keyframes, "keyframe", "keyframes") + ", " +
                 plural(summary.statics, "static mesh", "static meshes"));
}

/// Writes the files under dir. A failure removes what this run created (files and
/// directories that did not exist before) and raises EInOutError.
void write_files(const std::string& dir, const std::vector<output_file>& files) {
    std::vector<fs::path> created_dirs, created_files;
    auto fail = [&](const std::string& what) {
        std::error_code ec;
        std::size_t removed = 0;
        for (const fs::path& f : created_files) {
            removed += fs::remove(f, ec) ? 1 : 0;
        }
        for (auto d = created_dirs.rbegin(); d != created_dirs.rend(); ++d) {
            fs::remove(*d, ec);
        }
        std::string message = what;
        if (removed != 0) {
            message += "; the " + plural(removed, "file", "files") + " it had created were removed";
        }
        throw EInOutError(message);
    };
    auto make_dir = [&](const fs::path& path, const std::string& shown) {
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            return;
        }
        if (!fs::create_directory(path, ec) || ec) {
            fail("cannot create the directory '" + shown + "'");
        }
        created_dirs.push_back(path);
    };
    // DIR and any missing parents; the parents are left in place once made.
    const fs::path root = utf8_path(dir);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        if (root.has_parent_path() && !fs::exists(root.parent_path(), ec)) {
            fs::create_directories(root.parent_path(), ec);
        }
        make_dir(root, dir);
    }
    for (const output_file& file : files) {
        const fs::path path = root / utf8_path(file.name).make_preferred();
        make_dir(path.parent_path(), dir + "/" + fs::path(file.name).parent_path().generic_string());
        const bool existed = fs::exists(path, ec);
        std::ofstream stream(path, std::ios::binary | std::ios::trunc);
        if (!existed && stream.is_open()) {
            created_files.push_back(path);
        }
        stream.write(reinterpret_cast<const char*>(file.bytes.data()),
                     static_cast<std::streamsize>(file.bytes.size()));
        stream.close();
        if (!stream) {
            if (existed) {
                fs::remove(path, ec);  // cut short: not left as if it were whole
            }
            fail("cannot write '" + dir + "/" + file.name + "'");
        }
    }
}

/// Fails when an output would land on the level file itself.
void keep_level_apart(const std::string& level_name, const std::string& dir,
                      const std::vector<output_file>& files) {
    for (const output_file& file : files) {
        std::error_code ec;
        const fs::path path = utf8_path(dir) / utf8_path(file.name).make_preferred();
        if (fs::equivalent(path, utf8_path(level_name), ec) && !ec) {
            throw EInOutError("'" + dir + "/" + file.name + "' is the level '" + level_name +
                              "' itself; nothing was written");
        }
    }
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out) {
    CLI::App app("Writes a level's texture pages as PNG pictures, its samples as WAVE files and "
                 "its rooms and objects as binary glTF models into a directory.",
                 "quarlix-export");
    std::string level_name, dir;
    bool textures = false, sounds = false, model = false, objects = false;
    app.add_option("LEVEL", level_name, "the level file (any version)")->required();
    app.add_option("DIR", dir, "the directory to write into (created when missing)")->required();
    app.add_flag("--textures", textures, "write textures/*.png");
    app.add_flag("--sounds", sounds, "write sounds/sample-NNNN.wav (TR4 and TRC)");
    app.add_flag("--model", model, "write level.glb");
    app.add_flag("--objects", objects,
                 "write objects/moveable-ID.glb and objects/static-ID.glb (and the textures they use)");
    app.set_version_flag("--version", "quarlix-export 1.0");
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, out);
        return status == 0 ? exit_done : exit_usage;
    }
    if (!textures && !sounds && !model && !objects) {
        textures = sounds = model = objects = true;
    }
    textures = textures || objects;  // the object models name the page files

    try {
        const auto level = std::make_unique<Ttrlevel>();
        const std::uint8_t loaded = level->load(level_name);
        if (loaded == 1) {
            throw EInOutError("'" + level_name + "' not found");
        }
        if (loaded == 2) {
            throw ELevelFormatError("'" + level_name + "' is not a level of a known version");
        }
        say(out, "quarlix-export: " + level_name + " (" + version_name(level->version) + ") to " + dir);
        std::vector<std::string> notes;
        page_store pages(*level, notes);
        for (const std::string& note : notes) {
            say(out, "textures: " + note);
        }
        std::vector<std::string> problems;
        std::optional<level_objects> decoded;
        if (objects || model) {
            decoded.emplace(*level, problems);
        }
        if (objects) {
            for (const std::string& problem : problems) {
                say(out, "objects: " + problem);
            }
        }
        std::vector<output_file> files;
        if (textures) {
            add_textures(pages, files, out);
        }
        if (sounds) {
            add_sounds(*level, files, out);
        }
        if (model) {
            add_model(*decoded, pages, files, out);
        }
        if (objects) {
            add_objects(*level, *decoded, pages, files, out);
        }
        keep_level_apart(level_name, dir, files);
        write_files(dir, files);
        say(out, "Done.");
        return exit_done;
    } catch (const EError& e) {
        say(out, std::string(e.kind()) + ": " + e.what());
    } catch (const std::bad_alloc&) {
        const EOutOfMemory e;
        say(out, std::string(e.kind()) + ": " + e.what());
    }
    return exit_failed;
}

} // namespace quarlix::exporting
