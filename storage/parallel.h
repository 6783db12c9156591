// Independent jobs run side by side: the compressed chunks of a level do not wait for each other.
#pragma once

#include <functional>
#include <span>

namespace quarlix {

/// Runs every job, up to max_threads() at a time, and returns when all have ended. The first
/// job (in order) that threw has its exception rethrown, so the result does not depend on
/// how many run at once.
void run_jobs(std::span<const std::function<void()>> jobs);

/// Threads that run_jobs may use; 1 runs the jobs one after the other on the caller's thread.
unsigned max_threads() noexcept;
/// Sets the limit (0: the number of hardware threads). For tests and tools.
void set_max_threads(unsigned n) noexcept;

} // namespace quarlix
