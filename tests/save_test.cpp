// Saving over a file: the output name holds the earlier file or the whole new one, never a
// part, whatever stops the save; and a pipe never makes the converter wait. The built
// converter runs in a scratch directory; a generous wall-clock guard only fails a hang.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/quarlix.h"
#include "test_support.h"
#include "tools/levelgen.h"

namespace fs = std::filesystem;
using quarlix::test::read_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct outcome {
    int status = -1;
    std::string out;
};

/// Runs the built converter through sh, after the given shell commands, under `timeout 20`.
outcome run_binary(const scratch_dir& dir, const std::string& input, const std::string& output,
                   const std::string& before = "") {
    const std::string log = dir.path().parent_path() / (dir.path().filename().string() + ".log");
    const std::string command = "sh -c \"" + before + " exec timeout 20 '" +
                                std::string(QUARLIX_BINARY) + "' '" + input + "' '" + output +
                                "'\" > '" + log + "' 2>&1";
    const int raw = std::system(command.c_str());
    const auto printed = read_bytes(log);
    fs::remove(log);
    return {raw == -1 ? -1 : WEXITSTATUS(raw), std::string(printed.begin(), printed.end())};
}

std::set<std::string> names_in(const scratch_dir& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string convert_in_process(const std::string& input, const std::string& output) {
    std::ostringstream out;
    quarlix::run({input, output}, out);
    return out.str();
}

} // namespace

TEST(SavingOverAFile, AFailedSaveLeavesTheEarlierFileAndNoTemporaryFile) {
    // The file-size limit makes the write of the new content fail halfway: to another file, to
    // the input itself, and to a name that held nothing.
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(levelgen::make_example_level(7, 3)));
    write_bytes(dir.file("out.tr4"), std::vector<std::uint8_t>(300, 1));
    struct failing_save {
        std::string output;
        std::string said;
    };
    for (const failing_save& c :
         {failing_save{"out.tr4", "; '" + dir.file("out.tr4") + "' was left as it was"},
          failing_save{"in.trc", "; '" + dir.file("in.trc") + "' was left as it was"},
          failing_save{"new.tr4", "; no output '" + dir.file("new.tr4") + "' was made"}}) {
        const auto names = names_in(dir);
        const auto in = read_bytes(dir.file("in.trc"));
        const auto out = read_bytes(dir.file("out.tr4"));
        const outcome o =
            run_binary(dir, dir.file("in.trc"), dir.file(c.output), "trap '' XFSZ; ulimit -f 16;");
        EXPECT_EQ(o.status, 1) << c.output;
        EXPECT_THAT(o.out, HasSubstr("\nSaving the level...\nEInOutError: '")) << c.output;
        EXPECT_THAT(o.out, EndsWith(c.said + "\n")) << c.output;
        EXPECT_THAT(o.out, Not(HasSubstr("Done.")));
        EXPECT_EQ(names_in(dir), names) << c.output;
        EXPECT_EQ(read_bytes(dir.file("in.trc")), in) << c.output;
        EXPECT_EQ(read_bytes(dir.file("out.tr4")), out) << c.output;
    }
}

TEST(SavingOverAFile, TheOutputIsReplacedWholeEvenWhenItIsTheInput) {
    scratch_dir dir;
    const auto trc = levelgen::file_bytes(levelgen::make_example_level(7, 4));
    levelgen::gen_level marked = levelgen::make_example_level(6, 4);
    levelgen::add_conversion_marker(marked);
    const auto tr4 = levelgen::file_bytes(marked);
    write_bytes(dir.file("a.trc"), trc);
    write_bytes(dir.file("a.tr4"), tr4);
    ASSERT_THAT(convert_in_process(dir.file("a.trc"), dir.file("want-from-trc.trc")),
                EndsWith("Done.\n"));
    ASSERT_THAT(convert_in_process(dir.file("a.tr4"), dir.file("want-from-tr4.tr4")),
                EndsWith("Done.\n"));

    // The same name as input and output, both directions, once through the built program.
    EXPECT_THAT(run_binary(dir, dir.file("a.trc"), dir.file("a.trc")).out, EndsWith("Done.\n"));
    EXPECT_EQ(read_bytes(dir.file("a.trc")), read_bytes(dir.file("want-from-trc.trc")));
    EXPECT_NE(read_bytes(dir.file("a.trc")), trc);
    EXPECT_THAT(convert_in_process(dir.file("a.tr4"), dir.file("a.tr4")), EndsWith("Done.\n"));
    EXPECT_EQ(read_bytes(dir.file("a.tr4")), read_bytes(dir.file("want-from-tr4.tr4")));

    // A replaced file keeps its permission bits; a link named as output stays a link, and the
    // file it points to gets the content.
    write_bytes(dir.file("kept.trc"), std::vector<std::uint8_t>(10, 7));
    fs::permissions(dir.file("kept.trc"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("kept.trc", dir.file("link.trc"));
    write_bytes(dir.file("c.trc"), trc);
    EXPECT_THAT(convert_in_process(dir.file("c.trc"), dir.file("link.trc")), EndsWith("Done.\n"));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.trc")));
    EXPECT_EQ(read_bytes(dir.file("kept.trc")), read_bytes(dir.file("want-from-trc.trc")));
    EXPECT_EQ(fs::status(dir.file("kept.trc")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    for (const std::string& name : names_in(dir)) {
        EXPECT_THAT(name, Not(HasSubstr("quarlix"))) << "a temporary file was left";
    }
}

TEST(SavingOverAFile, AnInterruptedSaveLeavesTheOldOrTheWholeNewFile) {
    // 32 textiles (8 MiB of 32-bit and 4 MiB of 16-bit texels) take a while to compress.
    scratch_dir dir;
    levelgen::gen_level big = levelgen::make_example_level(7, 6);
    levelgen::set_textiles(big, 32, 6);
    ASSERT_TRUE(levelgen::write_file(dir.file("big.trc"), levelgen::file_bytes(big)));
    ASSERT_THAT(convert_in_process(dir.file("big.trc"), dir.file("want.tr4")), EndsWith("Done.\n"));
    const auto want = read_bytes(dir.file("want.tr4"));
    const std::vector<std::uint8_t> old(1 << 20, 0x5A);

    // Signalled while the save compresses (a fifth of a second after it begins), and once the
    // new content is being written out: a file in the directory has grown, or the output has
    // changed size.
    struct interruption {
        int sig;
        bool mid_write;
    };
    for (const interruption& c :
         {interruption{SIGINT, false}, interruption{SIGTERM, false}, interruption{SIGINT, true}}) {
        write_bytes(dir.file("out.tr4"), old);
        const auto names = names_in(dir);
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(pipe_fds[1], STDOUT_FILENO);
            close(pipe_fds[0]);
            close(pipe_fds[1]);
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            const std::string in = dir.file("big.trc"), out = dir.file("out.tr4");
            execl(QUARLIX_BINARY, QUARLIX_BINARY, in.c_str(), out.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipe_fds[1]);
        std::string printed;
        char chunk[256];
        ssize_t got = 0;
        while (printed.find("Saving the level...\n") == std::string::npos &&
               (got = read(pipe_fds[0], chunk, sizeof chunk)) > 0) {
            printed.append(chunk, static_cast<std::size_t>(got));
        }
        int status = 0;
        bool ended = false;
        const auto writing = [&] {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(dir.path(), ec)) {
                const auto size = fs::file_size(entry.path(), ec);
                const bool known = names.contains(entry.path().filename().string());
                if (!ec && ((!known && size > 0) ||
                            (entry.path() == dir.file("out.tr4") && size != old.size()))) {
                    return true;
                }
            }
            return false;
        };
        const auto start = std::chrono::steady_clock::now();
        const auto until = start + (c.mid_write ? std::chrono::milliseconds(60000)
                                                : std::chrono::milliseconds(200));
        while (!ended && std::chrono::steady_clock::now() < until && !(c.mid_write && writing())) {
            ended = waitpid(pid, &status, WNOHANG) == pid;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!ended) {
            kill(pid, c.sig);
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
        }
        while ((got = read(pipe_fds[0], chunk, sizeof chunk)) > 0) {
            printed.append(chunk, static_cast<std::size_t>(got));
        }
        close(pipe_fds[0]);

        const auto now = read_bytes(dir.file("out.tr4"));
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), c.sig);
            EXPECT_TRUE(now == old || now == want) << "a part of the new file: " << now.size();
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 0) << printed;
            EXPECT_EQ(now, want); // finished before the signal
        }
        EXPECT_EQ(names_in(dir), names) << "signal " << c.sig;
    }
}

TEST(NonRegularFiles, APipeOrDeviceIsRefusedBeforeAnythingWaits) {
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(levelgen::make_example_level(7, 5)));
    ASSERT_EQ(mkfifo(dir.file("pipe.trc").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe.tr4").c_str(), 0600), 0);
    const auto names = names_in(dir);

    outcome o = run_binary(dir, dir.file("pipe.trc"), dir.file("out.tr4"));
    EXPECT_EQ(o.status, 1); // a hang ends with the 124 of timeout
    EXPECT_THAT(o.out,
                EndsWith("Loading level...\nEInOutError: cannot open file '" +
                         dir.file("pipe.trc") + "' for reading: it is not a regular file\n"));

    for (const std::string& output : {dir.file("pipe.tr4"), std::string("/dev/null")}) {
        o = run_binary(dir, dir.file("in.trc"), output);
        EXPECT_EQ(o.status, 1) << output;
        EXPECT_THAT(o.out, EndsWith("Saving the level...\nEInOutError: cannot create file '" +
                                    output + "': it exists and is not a regular file\n"));
    }
    EXPECT_TRUE(fs::is_fifo(dir.file("pipe.tr4")));
    EXPECT_EQ(names_in(dir), names);
}
