// The platform's file calls, all in one place: file names are UTF-8 on Windows (opened through
// the wide API) and the system's bytes elsewhere.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace quarlix {

/// The path of a UTF-8 file name (on Windows a narrow path would be read in the system code
/// page instead).
std::filesystem::path utf8_path(const std::string& name);

/// True only for an existing file that is not a directory.
bool file_exists(const std::string& name);

/// Opening an existing file for reading; a pipe, device or socket is refused without waiting.
enum class open_result { opened, failed, not_regular };
open_result open_for_reading(const std::string& name, std::FILE*& file);

/// What an output name holds now (following symbolic links).
enum class output_state { missing, writable_file, read_only_file, directory, not_regular };
output_state output_state_of(const std::string& name);

/// The file that saving to name replaces: name itself, or the file that a symbolic link of
/// that name points to, so that the link stays.
std::string replacement_target(const std::string& name);

/// A new file under a fresh name in the directory of the file it will replace. While it
/// exists, SIGINT, SIGTERM or SIGHUP removes it before the process ends (POSIX).
struct temporary_file {
    std::FILE* file = nullptr;
    std::string name;
    int watch = -1;  // the slot that the signal handler looks at, -1 for none
};

/// Creates it beside target, empty and open for writing; an existing target lends it its
/// permission bits. False when no file can be made in that directory.
bool create_temporary(const std::string& target, temporary_file& temp);

/// Flushes the file, asks the system to put it on the disk, and closes it. False on failure
/// (the file is closed either way).
bool sync_and_close(temporary_file& temp);

/// Renames the closed temporary file over target in one step, replacing any file there.
/// False on failure, the temporary file then still being there.
bool replace_with(temporary_file& temp, const std::string& target);

/// Closes and removes the temporary file; false when it could not be removed.
bool drop_temporary(temporary_file& temp) noexcept;

#ifdef _WIN32
/// The wide command-line arguments after the program name, as UTF-8. Also lets a console
/// show the UTF-8 that the program prints.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);
#endif

} // namespace quarlix
