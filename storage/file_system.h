// The platform's file calls, all behind this interface: file_system_posix.cpp and
// file_system_windows.cpp implement it, file_system.cpp holds what both share. File names are
// UTF-8 on Windows (opened through the wide API) and the system's bytes elsewhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

namespace quarlix {

/// The path of a UTF-8 file name (on Windows a narrow path would be read in the system code
/// page instead).
std::filesystem::path utf8_path(const std::string& name);
/// The name of a path, as utf8_path takes it.
std::string utf8_name(const std::filesystem::path& path);

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

/// A name that a signal ending the process removes (SIGINT, SIGTERM, SIGHUP, SIGXFSZ on POSIX)
/// while it is watched: a file is unlinked, a directory removed when it is empty by then.
struct watched_name {
    void* node = nullptr; // the entry that the signal handler reads, null for none
};

/// A new file under a fresh name in the directory of the file it will replace, watched while
/// it exists.
struct temporary_file {
    std::FILE* file = nullptr;
    std::string name;
    watched_name watch;
};

/// Creates it beside target, empty and open for writing; an existing target lends it its
/// permission bits. False when no file can be made in that directory.
bool create_temporary(const std::string& target, temporary_file& temp);

/// Flushes the file, asks the system to put it on the disk, and closes it. False on failure
/// (the file is closed either way).
bool sync_and_close(temporary_file& temp);

/// Renames the closed temporary file over target in one step, replacing any file there (a
/// symbolic link or special file of that name is replaced as a name, never written through).
/// False on failure, the temporary file then still being there.
bool replace_with(temporary_file& temp, const std::string& target);

/// Closes and removes the temporary file; false when it could not be removed.
bool drop_temporary(temporary_file& temp) noexcept;

/// Makes one directory and watches it until stop_watching; false when it cannot be made.
bool create_watched_directory(const std::string& name, watched_name& watch);
/// Ends the watch; the name stays as it is.
void stop_watching(watched_name& watch) noexcept;

/// Holds back the signals that end the process (in this thread) while the object lives, so
/// that a group of renames is either all done or, for a signal before it, none.
class ending_signals_held {
  public:
    ending_signals_held();
    ~ending_signals_held();
    ending_signals_held(const ending_signals_held&) = delete;
    ending_signals_held& operator=(const ending_signals_held&) = delete;

  private:
#ifndef _WIN32
    sigset_t saved_;
#endif
};

/// A lock that one process at a time holds on a directory, through a lock file in it that is
/// removed again when the lock is released (or by a signal ending the process).
struct directory_lock {
    std::intptr_t handle = -1; // the lock file, open while the lock is held
    std::string name;
    watched_name watch;
};
enum class lock_result { locked, busy, failed };
lock_result lock_directory(const std::string& dir, directory_lock& lock);
void unlock_directory(directory_lock& lock) noexcept;

/// Makes a write beyond the process's file-size limit fail as a write error (which the
/// caller reports and cleans up after) rather than end the process, unless the caller set
/// SIGXFSZ otherwise. Nothing to do on Windows.
void report_file_size_limit_as_write_error() noexcept;

#ifdef _WIN32
/// The wide command-line arguments after the program name, as UTF-8. Also lets a console
/// show the UTF-8 that the program prints.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);
#endif

} // namespace quarlix
