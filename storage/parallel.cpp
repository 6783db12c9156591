// run_jobs: a handful of jobs on std::thread, costliest first, exceptions carried back in job
// order.
#include "storage/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <numeric>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#include <pthread.h>
#endif

namespace quarlix {

namespace {

std::atomic<unsigned> thread_limit{0};

/// glibc gives every thread that allocates an arena of its own, each reserving 64 MiB of
/// address space, and every thread a stack of the stack limit (8 MiB by default). The jobs
/// allocate little besides their large buffers, which do not come from arenas, so one shared
/// arena serves them, and small stacks do too: the process's address space stays in
/// proportion to its data.
void prepare_threads() {
#if defined(__GLIBC__)
    static const bool once = [] {
        pthread_attr_t attr;
        if (pthread_getattr_default_np(&attr) == 0) {
            pthread_attr_setstacksize(&attr, job_stack_bytes);
            pthread_setattr_default_np(&attr);
            pthread_attr_destroy(&attr);
        }
        return mallopt(M_ARENA_MAX, 1) == 1;
    }();
    (void)once;
#endif
}

} // namespace

unsigned max_threads() noexcept {
    const unsigned n = thread_limit.load();
    if (n != 0) {
        return n;
    }
    // Asked once: the answer is read from the system on every call.
    static const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    return hardware;
}

void set_max_threads(unsigned n) noexcept { thread_limit.store(n); }

void run_jobs(std::span<const std::function<void()>> jobs, std::span<const std::uint64_t> costs) {
    std::vector<std::size_t> order(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const bool costed = costs.size() == jobs.size();
    if (costed) {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return costs[a] > costs[b]; });
    }
    std::vector<std::exception_ptr> failures(jobs.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t k = next++; k < order.size(); k = next++) {
            const std::size_t i = order[k];
            try {
                jobs[i]();
            } catch (...) {
                failures[i] = std::current_exception(); // rethrown below, in job order
            }
        }
    };
    std::uint64_t besides_costliest = 0;
    for (std::size_t k = 1; costed && k < order.size(); ++k) {
        besides_costliest += std::min(costs[order[k]], small_work); // cannot overflow
    }
    const bool small = costed && besides_costliest < small_work;
    const std::size_t wanted = small ? 1 : std::min<std::size_t>(max_threads(), jobs.size());
    if (wanted > 1) {
        prepare_threads();
    }
    std::vector<std::thread> threads;
    threads.reserve(wanted); // no allocation between starting threads and joining them
    for (std::size_t t = 1; t < wanted; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::exception&) {
            // No thread or no memory for one: fewer threads only means less at once, and the
            // caller's thread does the rest (a thread left unjoined would end the process).
            break;
        }
    }
    work();
    for (std::thread& t : threads) {
        t.join();
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

} // namespace quarlix
