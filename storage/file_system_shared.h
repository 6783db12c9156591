// Pieces of the file calls that the POSIX and the Windows implementation share (internal).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace quarlix {

/// Fresh names for a temporary file beside target: ".quarlix-" and twelve hex digits, ".tmp".
class temporary_names {
  public:
    explicit temporary_names(const std::string& target);
    std::string next();
    static constexpr int attempts = 100;

  private:
    std::filesystem::path dir_;
    std::uint64_t salt_;
};

/// Creates the file name, which must not exist yet, empty and open for writing, and watches
/// it; an existing target lends it its permission bits.
enum class creation { made, name_taken, failed };
struct temporary_file;
creation create_new_file(const std::string& name, const std::string& target, temporary_file& temp);

/// Asks the system to put what was written to the file on the disk; false on failure.
bool put_on_disk(std::FILE* file);

/// Removes a file; true when it is gone (or was never there).
bool remove_file(const std::string& name) noexcept;

/// The lock file's name in a directory.
inline constexpr const char* lock_file_name = ".quarlix.lock";

} // namespace quarlix
