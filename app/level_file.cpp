// Opening a level for a program.
#include "app/level_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "storage/file_system.h"

namespace quarlix::app {

level_file read_level(const std::string& name, const level_wording& wording,
                      const ttable_sink& places) {
    if (!file_exists(name)) {
        throw EInOutError(wording.missing(name));
    }
    level_file result;
    TZfile file;
    file.assign(name);
    file.reset();
    result.container = file.is_container();
    std::error_code ec;
    result.size = std::filesystem::file_size(utf8_path(name), ec);
    if (ec) {
        result.size = 0;
    }
    const std::span<const std::uint8_t> content = file.content();
    if (!content.empty()) {
        std::memcpy(&result.first_word, content.data(), std::min<std::size_t>(4, content.size()));
    }
    result.level = std::make_unique<Ttrlevel>();
    result.recognised = result.level->load_content(content, name, places) == 0;
    file.close(false);
    return result;
}

level_file open_level(const std::string& name, const level_wording& wording,
                      const ttable_sink& places) {
    level_file result = read_level(name, wording, places);
    if (!result.recognised) {
        throw ELevelFormatError(wording.unknown(name, result.first_word));
    }
    return result;
}

} // namespace quarlix::app
