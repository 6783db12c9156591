// quarlix-info's run: the arguments, the loads (read only), and the report, difference or JSON.
#include "info/quarlix_info.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "app/command_line.h"
#include "app/level_file.h"
#include "app/program.h"
#include "info/level_checks.h"
#include "info/level_report.h"
#include "level/trunit2.h"

namespace quarlix::info {

namespace {

std::string cannot_open(const std::string& name) {
    return "cannot open file '" + name + "' for reading";
}

std::string no_level(const std::string& name, std::uint32_t first_word) {
    char word[11];
    std::snprintf(word, sizeof word, "0x%08X", first_word);
    return "'" + name + "' is not a level of any known version (first word " + word + ")";
}

/// A level read from a file, with what the file showed and, for the checks, where the loader
/// found each table.
struct loaded {
    std::unique_ptr<Ttrlevel> level;
    file_facts facts;
    std::vector<ttable_place> places;
};

/// Reads the file whole (as the converter does, unwrapping a container), then the level.
loaded load(const std::string& name, bool check) {
    loaded result;
    const ttable_sink keep = [&result](const ttable_place& p) { result.places.push_back(p); };
    app::level_file file =
        app::open_level(name, {cannot_open, no_level}, check ? keep : ttable_sink{});
    result.level = std::move(file.level);
    result.facts = file_facts{name, file.size, file.container};
    return result;
}

/// One side of a text run: the summary of a level that was read (and its problems after a
/// --check), or the error that stopped it. The level itself is not kept.
struct outcome {
    std::optional<level_summary> summary;
    std::optional<problem_list> problems;
    std::string error;
};

outcome inspect(const std::string& name, bool check) {
    outcome result;
    try {
        const loaded file = load(name, check);
        result.summary = describe_level(*file.level, file.facts);
        if (check) {
            check_level(*file.level, file.places, result.problems.emplace());
        }
    } catch (...) {
        const app::error_report e = app::current_error();
        result.summary.reset();
        result.problems.reset();
        result.error = e.kind + ": " + e.message;
    }
    return result;
}

/// One level as JSON, written as it is made: the summary, then the problems as the checks find
/// them. A level that cannot be read gives its error object instead.
struct json_side {
    bool readable = false;
    bool problems = false;
};

json_side write_json(const std::string& name, bool check, json_writer& out) {
    loaded file;
    try {
        file = load(name, check);
    } catch (...) {
        const app::error_report e = app::current_error();
        out.value(json{{"error", json{{"kind", e.kind}, {"message", e.message}}}});
        return {};
    }
    out.begin_object();
    write_summary(out, describe_level(*file.level, file.facts));
    json_side side{true, false};
    if (check) {
        problem_list found = stream_problems(out);
        check_level(*file.level, file.places, found);
        finish_problems(out, found);
        side.problems = found.total() != 0;
    }
    out.end();
    return side;
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

    const bool two = cli.count("OTHER") != 0;
    // What escapes (an allocation while writing) follows whatever was written as the one
    // report line.
    return app::reporting_errors(out, status_unreadable, [&] {
        if (as_json) {
            // Each level is read, written and let go before the next is read.
            json_writer writer(out);
            json_side sides[2];
            if (two) {
                writer.begin_object();
                writer.key("left");
            }
            sides[0] = write_json(level_name, check, writer);
            if (two) {
                writer.key("right");
                sides[1] = write_json(other_name, check, writer);
                writer.end();
            } else {
                sides[1] = {true, false};
            }
            out << '\n' << std::flush;
            return !(sides[0].readable && sides[1].readable) ? status_unreadable
                   : sides[0].problems || sides[1].problems  ? status_problems
                                                             : status_read;
        }
        std::vector<outcome> sides;
        sides.push_back(inspect(level_name, check));
        if (two) {
            sides.push_back(inspect(other_name, check));
        }
        const bool all_read = std::all_of(sides.begin(), sides.end(),
                                          [](const outcome& o) { return o.summary.has_value(); });
        const bool problems = std::any_of(sides.begin(), sides.end(), [](const outcome& o) {
            return o.problems && o.problems->total() != 0;
        });
        if (!all_read) {
            for (const outcome& side : sides) {
                if (!side.summary) {
                    out << side.error << '\n';
                }
            }
        } else if (sides.size() == 1) {
            print_report(*sides[0].summary, sides[0].problems ? &*sides[0].problems : nullptr, out);
        } else {
            print_difference(*sides[0].summary, sides[0].problems ? &*sides[0].problems : nullptr,
                             *sides[1].summary, sides[1].problems ? &*sides[1].problems : nullptr,
                             out);
        }
        out << std::flush;
        return !all_read ? status_unreadable : problems ? status_problems : status_read;
    });
}

} // namespace quarlix::info
