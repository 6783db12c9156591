// The file calls on Windows: the wide API for every name, which arrives as UTF-8.
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "storage/file_system.h"
#include "storage/file_system_shared.h"

namespace quarlix {

namespace fs = std::filesystem;

namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

/// Disk files only: a console, the null device or a pipe is a character or pipe handle.
bool is_disk_file(std::FILE* file) {
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK;
}

UINT console_code_page = 0;

void restore_console_code_page() { SetConsoleOutputCP(console_code_page); }

} // namespace

fs::path utf8_path(const std::string& name) { return fs::path(wide(name)); }
std::string utf8_name(const fs::path& path) { return narrow(path.native()); }

bool file_exists(const std::string& name) {
    std::error_code ec;
    const auto status = fs::status(utf8_path(name), ec);
    if (!ec && fs::exists(status)) {
        return !fs::is_directory(status);
    }
    // A device such as NUL has no status, but it is there; reading it is refused later.
    return output_state_of(name) == output_state::not_regular;
}

open_result open_for_reading(const std::string& name, std::FILE*& file) {
    file = _wfopen(wide(name).c_str(), L"rb");
    if (file == nullptr) {
        return open_result::failed;
    }
    if (!is_disk_file(file)) {
        std::fclose(file);
        file = nullptr;
        return open_result::not_regular;
    }
    return open_result::opened;
}

output_state output_state_of(const std::string& name) {
    const std::wstring w = wide(name);
    // Opened for no access at all, only to ask what it is: a device or pipe is not waited on.
    const HANDLE h =
        CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return output_state::missing;
    }
    const DWORD type = GetFileType(h);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = type == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (type != FILE_TYPE_DISK) {
        return output_state::not_regular;
    }
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return output_state::directory;
    }
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return output_state::read_only_file;
    }
    return output_state::writable_file;
}

creation create_new_file(const std::string& name, const std::string&, temporary_file& temp) {
    int fd = -1;
    const int rc = _wsopen_s(&fd, wide(name).c_str(),
                             _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                             _S_IREAD | _S_IWRITE);
    if (rc == EEXIST) {
        return creation::name_taken;
    }
    if (rc != 0 || fd < 0) {
        return creation::failed;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
        _wremove(wide(name).c_str());
        return creation::failed;
    }
    temp = temporary_file{file, name, {}};
    return creation::made;
}

bool put_on_disk(std::FILE* file) {
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
}

bool replace_with(temporary_file& temp, const std::string& target) {
    if (MoveFileExW(wide(temp.name).c_str(), wide(target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        return false;
    }
    temp = temporary_file{};
    return true;
}

bool remove_file(const std::string& name) noexcept {
    return _wremove(wide(name).c_str()) == 0 || errno == ENOENT;
}

// A console's Ctrl+C ends the process without running handlers that could remove names, so
// nothing is watched here.
bool create_watched_directory(const std::string& name, watched_name& watched) {
    watched = watched_name{};
    return CreateDirectoryW(wide(name).c_str(), nullptr) != 0;
}

void stop_watching(watched_name& watched) noexcept { watched = watched_name{}; }

ending_signals_held::ending_signals_held() = default;
ending_signals_held::~ending_signals_held() = default;

lock_result lock_directory(const std::string& dir, directory_lock& lock) {
    lock = directory_lock{};
    const std::string name = utf8_name(utf8_path(dir) / lock_file_name);
    // Shared with nobody, and deleted by the system when the handle closes, even when the
    // process is ended.
    const HANDLE h =
        CreateFileW(wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED
                   ? lock_result::busy
                   : lock_result::failed;
    }
    lock = directory_lock{reinterpret_cast<std::intptr_t>(h), name, {}};
    return lock_result::locked;
}

void unlock_directory(directory_lock& lock) noexcept {
    if (lock.handle != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
    }
    lock = directory_lock{};
}

void report_file_size_limit_as_write_error() noexcept {}

std::vector<std::string> utf8_arguments(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(narrow(argv[i]));
    }
    // A console shows the UTF-8 names in the messages; its own code page comes back at exit.
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0) {
        console_code_page = GetConsoleOutputCP();
        if (console_code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8) != 0) {
            std::atexit(restore_console_code_page);
        }
    }
    return args;
}

} // namespace quarlix

#endif
