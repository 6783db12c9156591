// Independent jobs run side by side: the compressed chunks of a level do not wait for each other.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace quarlix {

/// Runs every job, up to max_threads() at a time, and returns when all have ended. The first
/// job (in order) that threw has its exception rethrown, so the result does not depend on
/// how many run at once. `work_bytes` is about how many bytes the jobs handle together: below
/// parallel_work_bytes they run one after the other on the caller's thread, since a thread's
/// stack and allocator reserve more address space than small work may cost.
void run_jobs(std::span<const std::function<void()>> jobs,
              std::uint64_t work_bytes = UINT64_MAX);

/// The least work for which run_jobs starts threads.
inline constexpr std::uint64_t parallel_work_bytes = std::uint64_t{8} << 20;

/// Threads that run_jobs may use; 1 runs the jobs one after the other on the caller's thread.
unsigned max_threads() noexcept;
/// Sets the limit (0: the number of hardware threads). For tests and tools.
void set_max_threads(unsigned n) noexcept;

} // namespace quarlix
