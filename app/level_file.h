// Opening a level for a program: the file read whole, the level in it, and every way that
// fails as one error that the program reports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "level/trunit2.h"

namespace quarlix::app {

/// How a program words the two failures that are its own: a file that is not there (or is a
/// directory), and a file of no known version (its first word given, 0 for a shorter file).
struct level_wording {
    std::string (*missing)(const std::string& name);
    std::string (*unknown)(const std::string& name, std::uint32_t first_word);
};

/// A level read from its file, with what the file itself showed.
struct level_file {
    std::unique_ptr<Ttrlevel> level;
    bool recognised = false; // false: no level of any known version (level stays empty)
    bool container = false;  // the file was a "ZLIB" container
    std::uint64_t size = 0;  // the file's size on disk
    std::uint32_t first_word = 0;
};

/// Reads the named file whole (unwrapping a container) and the level in it, telling `places`
/// where each table lies when it is given. A missing file raises EInOutError worded by the
/// program; a failure to read or a damaged level raises its own error.
level_file read_level(const std::string& name, const level_wording& wording,
                      const ttable_sink& places = {});

/// read_level, with a file of no known version raised as ELevelFormatError worded by the
/// program.
level_file open_level(const std::string& name, const level_wording& wording,
                      const ttable_sink& places = {});

} // namespace quarlix::app
