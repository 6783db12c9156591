// The export's run: arguments, load, every output made in memory, then written.
#include "export/quarlix_export.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <system_error>

#include "app/command_line.h"
#include "app/file_set.h"
#include "app/level_file.h"
#include "app/program.h"
#include "export/model.h"
#include "export/objects.h"
#include "export/pictures.h"
#include "level/samples.h"
#include "level/trunit2.h"
#include "storage/file_system.h"

namespace quarlix::exporting {

namespace {

namespace fs = std::filesystem;

using app::output_file;
using app::plural;
using app::say;

std::string not_found(const std::string& name) { return "'" + name + "' not found"; }

std::string no_level(const std::string& name, std::uint32_t) {
    return "'" + name + "' is not a level of a known version";
}

/// The test seam of write_file_set: a run's files once each is whole, before any is renamed.
app::file_written_hook file_written;

std::function<void(std::ostream&)> bytes_of(std::span<const std::uint8_t> bytes) {
    return [bytes](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    };
}

std::string version_name(std::int32_t version) {
    return version == level_tr4   ? "TR4"
           : version == level_trc ? "TRC"
                                  : "version " + std::to_string(version);
}

void add_textures(page_store& pages, std::vector<output_file>& files, std::ostream& out) {
    pages.encode_all();
    std::size_t by_form[4] = {};
    for (std::size_t i = 0; i < pages.pages().size(); ++i) {
        const level_page& page = pages.pages()[i];
        ++by_form[static_cast<int>(page.form)];
        files.push_back({"textures/" + page_name(page) + ".png", bytes_of(pages.png(i))});
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
    const std::string sample =
        "sample " + std::to_string(list.samples.size()) + " of " + std::to_string(list.declared);
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
        files.push_back({name, bytes_of(bytes)});
        ++written;
    }
    if (!list.complete) {
        say(out,
            "sounds: " + sample_list_problem(data, list) + "; it and any after it are skipped");
    }
    say(out, "sounds: " + plural(written, "sample", "samples"));
}

void add_model(const level_objects& objects, page_store& pages, std::vector<output_file>& files,
               std::ostream& out) {
    model_summary summary;
    auto model = std::make_shared<glb_file>(objects, pages, summary);
    files.push_back({"level.glb", [model](std::ostream& stream) { model->write(stream); }});
    if (summary.skipped_faces != 0) {
        say(out, "model: " + plural(summary.skipped_faces, "face has", "faces have") +
                     " a corner beyond its room's vertices; skipped");
    }
    if (summary.untextured_faces != 0) {
        say(out, "model: " + plural(summary.untextured_faces, "face names", "faces name") +
                     " no object texture on an existing page; drawn untextured");
    }
    if (summary.unplaced != 0) {
        say(out,
            "model: " +
                plural(summary.unplaced, "item, static instance or sprite names",
                       "items, static instances or sprites name") +
                " a room, static mesh, vertex or sprite texture that does not exist; not placed");
    }
    if (summary.unmodelled != 0) {
        say(out, "model: " + plural(summary.unmodelled, "item is", "items are") +
                     " placed without a model (no moveable or sprite of its object, or past the "
                     "bound on joints)");
    }
    say(out, "model: level.glb, " + plural(summary.rooms, "room", "rooms") + ", " +
                 plural(summary.faces, "face", "faces") + ", " +
                 plural(summary.images, "page", "pages") + "; " +
                 plural(summary.items, "item", "items") + ", " +
                 plural(summary.statics, "static instance", "static instances") + ", " +
                 plural(summary.sprites, "room sprite", "room sprites"));
}

void add_objects(const Ttrlevel& level, const level_objects& objects, page_store& pages,
                 std::vector<output_file>& files, std::ostream& out) {
    objects_summary summary;
    for (object_file& file : build_object_files(level, objects, pages, summary)) {
        auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(file.bytes));
        files.push_back(
            {std::move(file.name), [bytes](std::ostream& stream) { bytes_of (*bytes)(stream); }});
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

void set_file_written_hook(std::function<void(const std::string& name)> hook) {
    file_written = std::move(hook);
}

int run(const std::vector<std::string>& args, std::ostream& out) {
    CLI::App cli("Writes a level's texture pages as PNG pictures, its samples as WAVE files and "
                 "its rooms and objects as binary glTF models into a directory.",
                 "quarlix-export");
    std::string level_name, dir;
    bool textures = false, sounds = false, model = false, objects = false;
    cli.add_option("LEVEL", level_name, "the level file (any version)")->required();
    cli.add_option("DIR", dir, "the directory to write into (created when missing)")->required();
    cli.add_flag("--textures", textures, "write textures/*.png");
    cli.add_flag("--sounds", sounds, "write sounds/sample-NNNN.wav (TR4 and TRC)");
    cli.add_flag("--model", model, "write level.glb");
    cli.add_flag(
        "--objects", objects,
        "write objects/moveable-ID.glb and objects/static-ID.glb (and the textures they use)");
    if (const auto ended = app::parse_arguments(cli, args, out, exit_done, exit_usage)) {
        return *ended;
    }
    if (!textures && !sounds && !model && !objects) {
        textures = sounds = model = objects = true;
    }
    textures = textures || objects; // the object models name the page files

    return app::reporting_errors(out, exit_failed, [&] {
        const app::level_file file = app::open_level(level_name, {not_found, no_level});
        const Ttrlevel& level = *file.level;
        say(out,
            "quarlix-export: " + level_name + " (" + version_name(level.version) + ") to " + dir);
        std::vector<std::string> notes;
        page_store pages(level, notes);
        for (const std::string& note : notes) {
            say(out, "textures: " + note);
        }
        std::vector<std::string> problems;
        std::optional<level_objects> decoded;
        if (objects || model) {
            decoded.emplace(level, problems);
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
            add_sounds(level, files, out);
        }
        if (model) {
            add_model(*decoded, pages, files, out);
        }
        if (objects) {
            add_objects(level, *decoded, pages, files, out);
        }
        keep_level_apart(level_name, dir, files);
        app::write_file_set(dir, files, file_written);
        say(out, "Done.");
        return exit_done;
    });
}

} // namespace quarlix::exporting
