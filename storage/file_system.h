// The one file-system question asked outside an open file.
#pragma once

#include <string>

namespace quarlix {

/// True only for an existing file that is not a directory.
bool file_exists(const std::string& name);

} // namespace quarlix
