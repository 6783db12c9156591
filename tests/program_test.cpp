// The programs' way out of an allocation failure: wherever memory runs out, each program ends
// with the one report line and its failure status, never an abort.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "test_support.h"
#include "tools/levelgen.h"

namespace fs = std::filesystem;
using quarlix::test::read_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;

namespace {

std::string quoted(const std::string& s) {
    std::string q = "'";
    q += s;
    q += '\'';
    return q;
}

} // namespace

TEST(Program, RunningOutOfMemoryAnywhereIsTheOneReportLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator does not run under an address-space limit";
#endif
    scratch_dir dir;
    const std::string level = dir.file("example.trc");
    write_bytes(level, levelgen::file_bytes(levelgen::bundled_example_level()));
    const std::string rooms = dir.file("rooms.tr4");
    write_bytes(rooms, levelgen::file_bytes(levelgen::empty_rooms_level(6, 3000)));
    const fs::path bin = fs::path(QUARLIX_BINARY).parent_path();
    struct program {
        std::string command;
        int failure_status;
        std::string report; // how the report ends
    };
    const std::string line = "EOutOfMemory: out of memory\n";
    const std::string json =
        "\"kind\": \"EOutOfMemory\",\n    \"message\": \"out of memory\"\n  }\n}\n";
    const program programs[] = {
        {quoted((bin / "quarlix").string()) + " " + quoted(level) + " " +
             quoted(dir.file("out.tr4")),
         1, line},
        {quoted((bin / "quarlix-export").string()) + " " + quoted(level) + " " +
             quoted(dir.file("out")),
         1, line},
        {quoted((bin / "quarlix-info").string()) + " --check --json " + quoted(rooms), 2, json},
        {quoted((bin / "quarlix-info").string()) + " " + quoted(level) + " " + quoted(rooms), 2,
         line}};
    // From too little to load the level to enough for the whole run: every allocation of a
    // run fails at one of these limits.
    for (const program& p : programs) {
        for (int mib = 8; mib <= 32; mib += 3) {
            const std::string log = dir.file("log");
            const std::string command = "sh -c \"ulimit -v " + std::to_string(mib * 1024) +
                                        "; exec " + p.command + "\" > " + quoted(log) + " 2>&1";
            const int raw = std::system(command.c_str());
            const auto printed = read_bytes(log);
            const std::string out(printed.begin(), printed.end());
            ASSERT_TRUE(WIFEXITED(raw)) << p.command << " at " << mib << " MiB: " << out;
            const int status = WEXITSTATUS(raw);
            if (out.find("error while loading shared libraries") != std::string::npos) {
                continue; // too little to start the program at all
            }
            if (out.find("EOutOfMemory") != std::string::npos) {
                EXPECT_EQ(status, p.failure_status) << p.command << " at " << mib << " MiB";
                // JSON written as it is made ends, when memory runs out after the summary is
                // out, with the report line instead of the error object.
                EXPECT_TRUE(out.ends_with(p.report) || out.ends_with(line))
                    << p.command << " at " << mib << " MiB: " << out.substr(0, 400);
            } else {
                EXPECT_LE(status, 1) << p.command << " at " << mib << " MiB: " << out;
            }
        }
    }
}
