// Writing a set of files into a directory all or nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quarlix::app {

/// One file of a set: its name under the directory ('/' separated) and what writes its bytes
/// (made as they are written, or taken from where they lie, so that no output is held twice).
struct output_file {
    std::string name;
    std::function<void(std::ostream&)> write;
};

/// Called once a file of the set is whole under its temporary name, before any is renamed.
using file_written_hook = std::function<void(const std::string& name)>;

/// Writes the files under dir (made, with missing parents, when it is not there), all or
/// nothing. Every file goes to a temporary file in its own directory and is put on the disk;
/// only when all are complete are they renamed over their names, with the signals that end
/// the process held back meanwhile. One run at a time writes into a directory: another one is
/// refused while it holds the directory's lock file.
///
/// A name in the way is refused before anything is written: a directory or read-only file
/// where a file goes, anything but a directory (a symbolic link too) where a directory goes.
/// A symbolic link or special file where a file goes is replaced as a name, never written
/// through. A failure raises EInOutError saying what failed and that the directory was left
/// as it was: the temporary files, the lock file and the directories this run made are gone
/// again. So does a signal that ends the process (SIGINT, SIGTERM, SIGHUP, SIGXFSZ on POSIX).
void write_file_set(const std::string& dir, const std::vector<output_file>& files,
                    const file_written_hook& written = {});

} // namespace quarlix::app
