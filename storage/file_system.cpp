// File existence through std::filesystem, never throwing.
#include "storage/file_system.h"

#include <filesystem>
#include <system_error>

namespace quarlix {

bool file_exists(const std::string& name) {
    std::error_code ec;
    const auto status = std::filesystem::status(std::filesystem::path(name), ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

} // namespace quarlix
