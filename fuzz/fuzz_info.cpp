// Fuzz target: quarlix-info on arbitrary bytes (a "ZLIB" container unwrapped first). Every level
// that the bytes hold is summarised and checked, and written as the report, as JSON (written as
// it is made) and side by side with itself. The JSON must parse and agree with the summary and
// the report, the listing must keep its bound, and a level beside itself differs in no line.
#include <cstdint>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/json_read.h"
#include "info/level_checks.h"
#include "info/level_report.h"

using namespace quarlix;
using namespace quarlix::info;

namespace {

/// A small bound, so that inputs of a few kilobytes reach the counts of the unlisted too.
constexpr std::size_t per_kind = 8;

/// Where the loader found the tables of the level being looked at.
std::vector<ttable_place> places;

void report_on(const Ttrlevel& level, const std::string& name) {
    const level_summary summary = describe_level(level, {name, 0, false});

    std::ostringstream streamed;
    json_writer writer(streamed);
    writer.begin_object();
    write_summary(writer, summary);
    problem_list found = stream_problems(writer, per_kind);
    check_level(level, places, found);
    finish_problems(writer, found);
    writer.end();
    const fuzz::info_json_facts facts = fuzz::read_info_json(streamed.str());
    if (!facts.error.empty()) {
        fuzz::fail("the JSON written does not parse: " + facts.error);
    }
    if (facts.rooms != level.rooms.size() || facts.counted_rooms != level.num_rooms) {
        fuzz::fail("the JSON's rooms disagree with the level");
    }
    if (facts.problems + facts.unlisted != found.total()) {
        fuzz::fail("the JSON's problems and unlisted counts do not add up to the problems found");
    }

    problem_list listed(per_kind);
    check_level(level, places, listed);
    if (listed.total() != found.total()) {
        fuzz::fail("two checks of one level found different numbers of problems");
    }
    std::map<std::string, std::size_t> listed_of_kind;
    for (const problem& p : listed.listed()) {
        if (++listed_of_kind[problem_kind(p)] > per_kind) {
            fuzz::fail("more problems of one kind listed than the bound");
        }
    }
    std::ostringstream report;
    print_report(summary, &listed, report);
    std::ostringstream found_line;
    if (listed.total() == 0) {
        found_line << "\nno problems found\n";
    } else {
        found_line << '\n'
                   << listed.total() << (listed.total() == 1 ? " problem" : " problems")
                   << " found:\n";
    }
    if (report.str().find(found_line.str()) == std::string::npos) {
        fuzz::fail("the report does not state the number of problems found");
    }

    std::ostringstream beside;
    print_difference(summary, nullptr, summary, nullptr, beside);
    if (!beside.str().ends_with("\n0 lines differ\n")) {
        fuzz::fail("a level set beside itself differs");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::for_each_level(data, size, &places, report_on);
    return 0;
}
