// What the POSIX and the Windows file calls share: the names of temporary files, the file that
// a save through a symbolic link replaces, and making, finishing or dropping a temporary file.
#include "storage/file_system.h"

#include <cerrno>
#include <chrono>
#include <random>
#include <system_error>

#include "storage/file_system_shared.h"

namespace quarlix {

namespace fs = std::filesystem;

std::string replacement_target(const std::string& name) {
    std::error_code ec;
    const fs::path p = utf8_path(name);
    if (!fs::is_symlink(fs::symlink_status(p, ec))) {
        return name;
    }
    const fs::path resolved = fs::weakly_canonical(p, ec);
    return ec ? name : utf8_name(resolved);
}

temporary_names::temporary_names(const std::string& target)
    : dir_(utf8_path(target).parent_path()) {
    std::random_device device;
    salt_ = (std::uint64_t{device()} << 32) ^ device() ^
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::string temporary_names::next() {
    static const char digits[] = "0123456789abcdef";
    std::string stem = ".quarlix-";
    for (int i = 0; i < 12; ++i) {
        stem += digits[(salt_ >> (4 * i)) & 15];
    }
    salt_ = salt_ * 6364136223846793005u + 1;
    return utf8_name(dir_ / utf8_path(stem + ".tmp"));
}

bool create_temporary(const std::string& target, temporary_file& temp) {
    temp = temporary_file{};
    temporary_names names(target);
    for (int attempt = 0; attempt < temporary_names::attempts; ++attempt) {
        switch (create_new_file(names.next(), target, temp)) {
        case creation::made:
            return true;
        case creation::name_taken:
            continue;
        case creation::failed:
            return false;
        }
    }
    return false;
}

bool sync_and_close(temporary_file& temp) {
    std::FILE* file = temp.file;
    temp.file = nullptr;
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fflush(file) == 0 && put_on_disk(file);
    const int error = errno; // the failure's, not fclose's
    const bool closed = std::fclose(file) == 0;
    if (!ok) {
        errno = error;
    }
    return closed && ok;
}

bool drop_temporary(temporary_file& temp) noexcept {
    if (temp.file != nullptr) {
        std::fclose(temp.file);
    }
    const bool removed = temp.name.empty() || remove_file(temp.name);
    stop_watching(temp.watch);
    temp = temporary_file{};
    return removed;
}

} // namespace quarlix
