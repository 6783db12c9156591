// quarlix-info's run: the arguments, the loads (read only), and the report, difference or JSON.
#include "info/quarlix_info.h"

#include <algorithm>
#include <cstdio>

#include "app/command_line.h"
#include "app/level_file.h"
#include "app/program.h"
#include "info/level_checks.h"
#include "info/level_report.h"
#include "level/trunit2.h"

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

std::string cannot_open(const std::string& name) {
    return "cannot open file '" + name + "' for reading";
}

std::string no_level(const std::string& name, std::uint32_t first_word) {
    char word[11];
    std::snprintf(word, sizeof word, "0x%08X", first_word);
    return "'" + name + "' is not a level of any known version (first word " + word + ")";
}

/// Reads the file whole (as the converter does, unwrapping a container), then the level.
outcome inspect(const std::string& name, bool check) {
    outcome result;
    try {
        std::vector<ttable_place> places;  // the checks name the offsets of what they find
        const ttable_sink keep = [&places](const ttable_place& p) { places.push_back(p); };
        const app::level_file file =
            app::open_level(name, {cannot_open, no_level}, check ? keep : ttable_sink{});
        const file_facts facts{name, file.size, file.container};
        result.summary = describe_level(*file.level, facts);
        if (check) {
            const std::vector<problem> found = check_level(*file.level, places);
            result.problems = !found.empty();
            result.summary["problems"] = problems_json(found);
        }
        result.readable = true;
    } catch (...) {
        const app::error_report e = app::current_error();
        result.summary = error_json(e.kind, e.message);
    }
    return result;
}

std::string error_line(const json& summary) {
    const json& e = summary["error"];
    return e["kind"].get<std::string>() + ": " + e["message"].get<std::string>();
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out) {
    CLI::App cli{"Shows what a level file holds (one LEVEL), what differs between two levels "
                 "(LEVEL OTHER), and with --check what is broken in them. Never changes a file.",
                 "quarlix-info"};
    std::string level_name, other_name;
    bool as_json = false;
    bool check = false;
    cli.add_option("LEVEL", level_name, "the level file")->required();
    cli.add_option("OTHER", other_name, "another level file to set beside it");
    cli.add_flag("--json", as_json, "print one JSON object instead of the report");
    cli.add_flag("--check", check, "look for references that lead nowhere");
    cli.footer("Exit status: 0 read (with --check: nothing found), 1 problems found, "
               "2 a file cannot be read, 3 bad usage.");
    if (const auto ended = app::parse_arguments(cli, args, out, status_read, status_usage)) {
        return *ended;
    }

    // What escapes a side (an allocation while printing) is still the one report line.
    return app::reporting_errors(out, status_unreadable, [&] {
        std::vector<outcome> sides;
        sides.push_back(inspect(level_name, check));
        if (cli.count("OTHER") != 0) {
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
    });
}

} // namespace quarlix::info
