// Jobs side by side: the same files and the same first error whatever the number of threads.
#include "storage/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "level/trunit2.h"
#include "test_support.h"
#include "tools/levelgen.h"

using namespace quarlix;
using quarlix::test::read_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;

namespace {

/// Restores the thread limit when a test ends.
struct thread_limit {
    explicit thread_limit(unsigned n) { set_max_threads(n); }
    ~thread_limit() { set_max_threads(0); }
};

} // namespace

TEST(Parallel, EveryJobRunsAndTheFirstFailureInOrderWins) {
    for (unsigned threads : {1u, 2u, 8u}) {
        SCOPED_TRACE(threads);
        thread_limit limit(threads);
        std::atomic<int> ran{0};
        const std::function<void()> jobs[] = {
            [&] { ++ran; },
            [&] {
                ++ran;
                throw std::runtime_error("second");
            },
            [&] { ++ran; },
            [&] {
                ++ran;
                throw std::logic_error("fourth");
            },
        };
        try {
            run_jobs(jobs);
            FAIL() << "no error came back";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "second");
        }
        EXPECT_EQ(ran.load(), 4);
    }
}

TEST(Parallel, TheCostliestJobsStartFirstAndFailuresStayInJobOrder) {
    // On one thread the start order shows: by cost, equal costs in job order. The failure of
    // job 0, which starts last, still wins over that of job 3.
    thread_limit limit(1);
    std::vector<int> started;
    const auto job = [&](int i, bool fails) {
        return [&started, i, fails] {
            started.push_back(i);
            if (fails) {
                throw std::runtime_error("job " + std::to_string(i));
            }
        };
    };
    const std::function<void()> jobs[] = {job(0, true), job(1, false), job(2, false), job(3, true)};
    const std::uint64_t costs[] = {1, 5, 3, 5};
    try {
        run_jobs(jobs, costs);
        FAIL() << "no error came back";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "job 0");
    }
    EXPECT_EQ(started, (std::vector<int>{1, 3, 2, 0}));
}

TEST(Parallel, SmallWorkStaysOnTheCallersThread) {
    thread_limit limit(4);
    // Less than small_work besides the costliest job: all run on the caller's thread.
    std::vector<std::thread::id> ran_on(3);
    const std::function<void()> small[] = {
        [&] { ran_on[0] = std::this_thread::get_id(); },
        [&] { ran_on[1] = std::this_thread::get_id(); },
        [&] { ran_on[2] = std::this_thread::get_id(); },
    };
    const std::uint64_t small_costs[] = {small_work / 2, UINT64_MAX, small_work / 2 - 1};
    run_jobs(small, small_costs);
    EXPECT_EQ(std::count(ran_on.begin(), ran_on.end(), std::this_thread::get_id()), 3);

    // As much as small_work: the costliest job can wait for the others, which another thread
    // runs (on one thread it would wait out its time).
    std::atomic<int> others{0};
    bool others_ran = false;
    const std::function<void()> larger[] = {
        [&] { ++others; },
        [&] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (others.load() < 2 && std::chrono::steady_clock::now() < until) {
                std::this_thread::yield();
            }
            others_ran = others.load() == 2;
        },
        [&] { ++others; },
    };
    const std::uint64_t larger_costs[] = {small_work / 2, UINT64_MAX, small_work / 2};
    run_jobs(larger, larger_costs);
    EXPECT_TRUE(others_ran);
}

TEST(Parallel, OneThreadAndManyWriteTheSameFiles) {
    scratch_dir dir;
    for (int version : {6, 7}) {
        SCOPED_TRACE(version);
        levelgen::gen_level g = levelgen::make_example_level(version, 12);
        const std::string in = dir.file(version == 7 ? "in.trc" : "in.tr4");
        write_bytes(in, levelgen::file_bytes(g));
        std::vector<std::uint8_t> outputs[2];
        for (int pass = 0; pass < 2; ++pass) {
            thread_limit limit(pass == 0 ? 1 : 4);
            for (const char* name : {"out.tr4", "out.trc"}) {
                auto level = std::make_unique<Ttrlevel>();
                ASSERT_EQ(level->load(in), 0);
                ASSERT_EQ(level->save(dir.file(name)), 0);
                const auto bytes = read_bytes(dir.file(name));
                outputs[pass].insert(outputs[pass].end(), bytes.begin(), bytes.end());
            }
        }
        EXPECT_EQ(outputs[0], outputs[1]);
    }
}

TEST(Parallel, LoadReportsTheFirstDamageInFileOrder) {
    // Chunk 1 damaged and the file cut inside chunk 3's header: the damage comes first.
    levelgen::gen_level g = levelgen::make_example_level(6, 3);
    levelgen::gen_layout layout;
    auto file = levelgen::file_bytes(g, &layout);
    file[layout.file.at("textiles32") + 8 + 40] ^= 0x55;
    file.resize(layout.file.at("textiles_misc") + 6);
    for (unsigned threads : {1u, 4u}) {
        thread_limit limit(threads);
        auto level = std::make_unique<Ttrlevel>();
        EXPECT_THROW(level->load_content(file, "a.tr4"), EDecompressionError);
    }
    // Without the damage, the cut header is what is reported.
    auto clean = levelgen::file_bytes(g);
    clean.resize(layout.file.at("textiles_misc") + 6);
    auto level = std::make_unique<Ttrlevel>();
    EXPECT_THROW(level->load_content(clean, "a.tr4"), ELevelFormatError);
}
