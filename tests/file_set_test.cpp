// Writing a set of files all or nothing, as quarlix-export does: a run that fails, is ended by
// a signal or meets a file-size limit leaves its directory exactly as it was; links and special
// files in it are replaced as names; one run at a time writes into a directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "export/quarlix_export.h"
#include "storage/errors.h"
#include "storage/file_system.h"
#include "test_support.h"
#include "tools/levelgen.h"

namespace fs = std::filesystem;
using quarlix::test::read_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct run_result {
    int status;
    std::string out;
};

run_result export_level(const std::string& level, const std::string& dir) {
    std::ostringstream out;
    const int status = quarlix::exporting::run({level, dir}, out);
    return {status, out.str()};
}

/// Every name under root, not following links: a file's permission bits, size and a hash of
/// its bytes, a link's target, or what else it is.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> names;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::file_status st = it->symlink_status();
        std::string& what = names[fs::relative(it->path(), root).generic_string()];
        if (fs::is_symlink(st)) {
            what = "link to " + fs::read_symlink(it->path()).string();
        } else if (fs::is_regular_file(st)) {
            std::uint64_t hash = 14695981039346656037u;
            const auto bytes = read_bytes(it->path().string());
            for (const std::uint8_t b : bytes) {
                hash = (hash ^ b) * 1099511628211u;
            }
            what = "mode " + std::to_string(static_cast<unsigned>(st.permissions())) + ", " +
                   std::to_string(bytes.size()) + " bytes, hash " + std::to_string(hash);
        } else {
            what = fs::is_directory(st) ? "directory" : "special";
        }
    }
    return names;
}

/// Two different levels with pages, samples and rooms, and DIR holding the first's export.
struct export_scene {
    scratch_dir scratch;
    std::string first = scratch.file("first.trc");
    std::string second = scratch.file("second.trc");
    std::string dir = scratch.file("out");

    export_scene() {
        levelgen::gen_level level = levelgen::bundled_example_level();
        write_bytes(first, levelgen::file_bytes(level));
        // Other pages (as many), model and first sample (a byte of its sound, past the header).
        levelgen::set_textiles(level, 3, 22);
        level.sample_data.at(4 + 8 + 44 + 100) ^= 0x55;
        write_bytes(second, levelgen::file_bytes(level));
        const run_result r = export_level(first, dir);
        EXPECT_EQ(r.status, 0) << r.out;
    }
};

/// The files of a complete export of level into a fresh directory.
std::map<std::string, std::string> complete_export(const std::string& level,
                                                   const std::string& dir) {
    const run_result r = export_level(level, dir);
    EXPECT_EQ(r.status, 0) << r.out;
    return snapshot(dir);
}

} // namespace

TEST(FileSet, AFailedExportLeavesEveryEarlierFileAsItWas) {
    struct failing_run {
        const char* what;
        void (*prepare)(const export_scene&);
        const char* said;
    };
    const failing_run runs[] = {
        {"a file where a directory goes",
         [](const export_scene& s) {
             fs::remove_all(s.dir + "/sounds");
             write_bytes(s.dir + "/sounds", std::vector<std::uint8_t>{'x'});
         },
         "cannot create the directory '"},
        {"a directory where the model goes",
         [](const export_scene& s) {
             fs::remove(s.dir + "/level.glb");
             fs::create_directory(s.dir + "/level.glb");
         },
         "level.glb': it is a directory"},
        {"a read-only earlier model (which a superuser may write)",
         [](const export_scene& s) {
             fs::permissions(s.dir + "/level.glb",
                             fs::perms::owner_write | fs::perms::group_write |
                                 fs::perms::others_write,
                             fs::perm_options::remove);
         },
         "level.glb': it is read-only"},
        {"the pages as a link to a directory outside",
         [](const export_scene& s) {
             fs::rename(s.dir + "/textures", s.scratch.file("elsewhere"));
             fs::create_directory_symlink(s.scratch.file("elsewhere"), s.dir + "/textures");
         },
         "textures': a symbolic link of that name is there, which is not followed"},
        {"a failure after some files are written",
         [](const export_scene&) {
             int written = 0;
             quarlix::exporting::set_file_written_hook([written](const std::string&) mutable {
                 if (++written == 3) {
                     throw quarlix::EInOutError("stand-in write failure");
                 }
             });
         },
         "stand-in write failure"},
    };
    for (const failing_run& r : runs) {
        if (geteuid() == 0 && std::string(r.what).find("superuser") != std::string::npos) {
            continue;
        }
        const export_scene scene;
        r.prepare(scene);
        const auto before = snapshot(scene.scratch.path());
        const run_result result = export_level(scene.second, scene.dir);
        quarlix::exporting::set_file_written_hook({});
        EXPECT_EQ(result.status, 1) << r.what;
        EXPECT_THAT(result.out, HasSubstr("\nEInOutError: ")) << r.what;
        EXPECT_THAT(result.out, HasSubstr(r.said)) << r.what << ": " << result.out;
        EXPECT_THAT(result.out, HasSubstr("'" + scene.dir + "' was left as it was\n")) << r.what;
        EXPECT_EQ(snapshot(scene.scratch.path()), before) << r.what;
    }

    // Into a directory that was not there: nothing of it is left, its parents neither.
    const export_scene scene;
    const std::string fresh = scene.scratch.file("new/deeper/out");
    quarlix::exporting::set_file_written_hook(
        [](const std::string&) { throw quarlix::EInOutError("stand-in write failure"); });
    const run_result result = export_level(scene.second, fresh);
    quarlix::exporting::set_file_written_hook({});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, HasSubstr("; no directory '" + fresh + "' was made\n"));
    EXPECT_FALSE(fs::exists(scene.scratch.file("new")));
}

TEST(FileSet, LinksAndSpecialFilesInTheDirectoryAreReplacedAsNames) {
    const export_scene scene;
    const auto want = complete_export(scene.second, scene.scratch.file("want"));
    const std::string outside = scene.scratch.file("outside.bin");
    write_bytes(outside, std::vector<std::uint8_t>{'k', 'e', 'e', 'p'});
    fs::remove(scene.dir + "/level.glb");
    fs::create_symlink(outside, scene.dir + "/level.glb");
    fs::remove(scene.dir + "/textures/page32-000.png");
    fs::create_symlink(scene.scratch.file("dangling"), scene.dir + "/textures/page32-000.png");
    fs::remove(scene.dir + "/sounds/sample-0000.wav");
    ASSERT_EQ(mkfifo((scene.dir + "/sounds/sample-0000.wav").c_str(), 0644), 0);
    fs::remove(scene.dir + "/sounds/sample-0001.wav");
    fs::create_symlink("/dev/null", scene.dir + "/sounds/sample-0001.wav");

    const run_result r = export_level(scene.second, scene.dir);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(snapshot(scene.dir), want);
    EXPECT_EQ(read_bytes(outside), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(scene.scratch.file("dangling"))));
}

TEST(FileSet, AnExportEndedBySignalLeavesItsDirectoryAsItWas) {
    // Raised once two files are whole under their temporary names, or met as a file-size
    // limit while the model is written; into the earlier export and into a new directory.
    struct ending {
        int sig;
        bool new_dir;
    };
    for (const ending e : {ending{SIGINT, false}, ending{SIGTERM, false}, ending{SIGHUP, true},
                           ending{SIGXFSZ, false}, ending{SIGXFSZ, true}}) {
        const export_scene scene;
        const std::string dir = e.new_dir ? scene.scratch.file("new/out") : scene.dir;
        const auto before = snapshot(scene.scratch.path());
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(e.sig, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            int written = 0;
            if (e.sig == SIGXFSZ) {
                const rlimit limit{8192, 8192}; // below the model
                setrlimit(RLIMIT_FSIZE, &limit);
            } else {
                quarlix::exporting::set_file_written_hook([&](const std::string&) {
                    if (++written == 2) {
                        raise(e.sig);
                    }
                });
            }
            std::ostringstream ignored;
            quarlix::exporting::run({scene.second, dir}, ignored);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << e.sig << ", status " << status;
        EXPECT_EQ(WTERMSIG(status), e.sig);
        EXPECT_EQ(snapshot(scene.scratch.path()), before) << "signal " << e.sig;
    }
}

TEST(FileSet, UnderAFileSizeLimitTheProgramsReportTheFailureAndLeaveNoTemporaryFile) {
    const export_scene scene;
    const std::string tr4 = scene.scratch.file("earlier.tr4");
    write_bytes(tr4, std::vector<std::uint8_t>(300, 1));
    const auto before = snapshot(scene.scratch.path());
    const std::string limited = "ulimit -f 8; exec ";
    for (const std::string& command :
         {limited + "'" + QUARLIX_EXPORT_BINARY + "' '" + scene.second + "' '" + scene.dir + "'",
          limited + "'" + QUARLIX_BINARY + "' '" + scene.second + "' '" + tr4 + "'"}) {
        const std::string log = scene.scratch.path().parent_path() /
                                (scene.scratch.path().filename().string() + ".log");
        const int raw = std::system(("sh -c \"" + command + "\" > '" + log + "' 2>&1").c_str());
        const auto printed = read_bytes(log);
        fs::remove(log);
        const std::string out(printed.begin(), printed.end());
        ASSERT_TRUE(WIFEXITED(raw)) << command << "\n" << out;
        EXPECT_EQ(WEXITSTATUS(raw), 1) << command << "\n" << out;
        EXPECT_THAT(out, HasSubstr("EInOutError: ")) << command;
        EXPECT_THAT(out, HasSubstr("was left as it was\n")) << command;
        EXPECT_EQ(snapshot(scene.scratch.path()), before) << command;
    }
}

TEST(FileSet, OneRunAtATimeWritesIntoADirectory) {
    const export_scene scene;
    const auto first = snapshot(scene.dir);
    const auto second = complete_export(scene.second, scene.scratch.file("want"));

    // While another run holds the directory, a run is refused and changes nothing.
    quarlix::directory_lock held;
    ASSERT_EQ(quarlix::lock_directory(scene.dir, held), quarlix::lock_result::locked);
    const run_result refused = export_level(scene.second, scene.dir);
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out,
                HasSubstr("EInOutError: another run is writing into '" + scene.dir + "'"));
    quarlix::unlock_directory(held);
    EXPECT_EQ(snapshot(scene.dir), first);

    // Two runs at once end with one run's complete set.
    for (int round = 0; round < 3; ++round) {
        pid_t pids[2];
        for (int i = 0; i < 2; ++i) {
            pids[i] = fork();
            ASSERT_GE(pids[i], 0);
            if (pids[i] == 0) {
                std::ostringstream out;
                const int status =
                    quarlix::exporting::run({i == 0 ? scene.first : scene.second, scene.dir}, out);
                _exit(status == 0                                                          ? 0
                      : out.str().find("another run is writing into") != std::string::npos ? 3
                                                                                           : 1);
            }
        }
        int done = 0;
        for (const pid_t pid : pids) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_THAT(WEXITSTATUS(status), ::testing::AnyOf(0, 3));
            done += WEXITSTATUS(status) == 0;
        }
        EXPECT_GE(done, 1);
        const auto now = snapshot(scene.dir);
        EXPECT_TRUE(now == first || now == second) << "round " << round;
    }
}
