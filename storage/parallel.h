// Independent jobs run side by side: the compressed chunks of a level do not wait for each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace quarlix {

/// Runs every job, up to max_threads() at a time, and returns when all have ended. The jobs
/// start costliest first (costs[i] is job i's, in bytes of work; without costs, in their
/// order), so that the longest one never starts last and leaves the other threads idle while it
/// runs. When the jobs besides the costliest come to less than small_work, the caller's thread
/// runs them all. The first job (in order) that threw has its exception rethrown, so the result
/// does not depend on how many run at once or in which order they started.
void run_jobs(std::span<const std::function<void()>> jobs,
              std::span<const std::uint64_t> costs = {});

/// Work that costs less than starting a thread for it: inflating or deflating this many bytes.
inline constexpr std::uint64_t small_work = std::uint64_t{64} << 10;

/// Threads that run_jobs may use; 1 runs the jobs one after the other on the caller's thread.
unsigned max_threads() noexcept;
/// Sets the limit (0: the number of hardware threads). For tests and tools.
void set_max_threads(unsigned n) noexcept;

/// Address space that each thread of run_jobs reserves for its stack (where the platform lets
/// it be chosen): the jobs keep their data on the heap, so a small stack keeps a small input's
/// memory in proportion to its bytes however many threads run.
inline constexpr std::size_t job_stack_bytes = std::size_t{2} << 20;

} // namespace quarlix
