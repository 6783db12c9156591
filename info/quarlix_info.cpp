// quarlix-info's run: the arguments, the loads (read only), and the report, difference or JSON.
#include "info/quarlix_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include <CLI/CLI.hpp>

#include "info/level_checks.h"
#include "info/level_report.h"
#include "level/trunit2.h"
#include "storage/file_system.h"

#ifndef QUARLIX_VERSION
#define QUARLIX_VERSION "1.0"
#endif

namespace quarlix::info {

namespace {

/// One side of the run: the summary of a level that was read, or the error that stopped it.
struct outcome {
    json summary;
    bool readable = false;
    bool problems = false;
};

json error_json(const std::string& kind, const std::string& message) {
    return json{{"error", json{{"kind", kind}, {"message", message}}}};
}

/// Reads the file whole (as the converter does, unwrapping a container), then the level.
outcome inspect(const std::string& name, bool check) {
    outcome result;
    try {
        if (!file_exists(name)) {
            throw EInOutError("cannot open file '" + name + "' for reading");
        }
        TZfile file;
        file.assign(name);
        file.reset();
        file_facts facts{name, 0, file.is_container()};
        std::error_code ec;
        facts.size = std::filesystem::file_size(utf8_path(name), ec);
        const auto level = std::make_unique<Ttrlevel>();
        std::vector<ttable_place> places;  // the checks name the offsets of what they find
        const ttable_sink keep = [&places](const ttable_place& p) { places.push_back(p); };
        if (level->load_content(file.content(), name, check ? keep : ttable_sink{}) != 0) {
            std::uint32_t first_word = 0;
            if (!file.content().empty()) {
                std::memcpy(&first_word, file.content().data(),
                            std::min<std::size_t>(4, file.content().size()));
            }
            char word[11];
            std::snprintf(word, sizeof word, "0x%08X", first_word);
            throw ELevelFormatError("'" + name + "' is not a level of any known version (first word " +
                                    word + ")");
        }
        file.close(false);
        result.summary = describe_level(*level, facts);
        if (check) {
            const std::vector<problem> found = check_level(*level, places);
            result.problems = !found.empty();
            result.summary["problems"] = problems_json(found);
        }
        result.readable = true;
    } catch (const EError& e) {
        result.summary = error_json(e.kind(), e.what());
    } catch (const std::bad_alloc&) {
        const EOutOfMemory e;
        result.summary = error_json(e.kind(), e.what());
    }
    return result;
}

std::string error_line(const json& summary) {
    const json& e = summary["error"];
    return e["kind"].get<std::string>() + ": " + e["message"].get<std::string>();
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out) {
    CLI::App app{"Shows what a level file holds (one LEVEL), what differs between two levels "
                 "(LEVEL OTHER), and with --check what is broken in them. Never changes a file.",
                 "quarlix-info"};
    std::string level_name, other_name;
    bool as_json = false;
    bool check = false;
    app.add_option("LEVEL", level_name, "the level file")->required();
    app.add_option("OTHER", other_name, "another level file to set beside it");
    app.add_flag("--json", as_json, "print one JSON object instead of the report");
    app.add_flag("--check", check, "look for references that lead nowhere");
    app.set_version_flag("--version", "quarlix-info " QUARLIX_VERSION);
    app.footer("Exit status: 0 read (with --check: nothing found), 1 problems found, "
               "2 a file cannot be read, 3 bad usage.");
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, out);
        return code == static_cast<int>(CLI::ExitCodes::Success) ? status_read : status_usage;
    }

    std::vector<outcome> sides;
    sides.push_back(inspect(level_name, check));
    if (app.count("OTHER") != 0) {
        sides.push_back(inspect(other_name, check));
    }
    const bool all_read =
        std::all_of(sides.begin(), sides.end(), [](const outcome& o) { return o.readable; });
    const bool problems =
        std::any_of(sides.begin(), sides.end(), [](const outcome& o) { return o.problems; });

    if (as_json) {
        const json document = sides.size() == 1
                                  ? sides[0].summary
                                  : json{{"left", sides[0].summary}, {"right", sides[1].summary}};
        // Names that are not UTF-8 come out with replacement characters rather than failing.
        out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
    } else if (!all_read) {
        for (const outcome& side : sides) {
            if (!side.readable) {
                out << error_line(side.summary) << '\n';
            }
        }
    } else if (sides.size() == 1) {
        print_report(sides[0].summary, out);
    } else {
        print_difference(sides[0].summary, sides[1].summary, out);
    }
    out << std::flush;
    return !all_read ? status_unreadable : problems ? status_problems : status_read;
}

} // namespace quarlix::info
