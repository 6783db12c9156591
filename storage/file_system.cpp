// The platform's file calls: POSIX descriptors and signals, or the Windows wide API.
#include "storage/file_system.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#include <cstdlib>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <mutex>
#endif

namespace quarlix {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

fs::path to_path(const std::string& name) { return fs::path(wide(name)); }
std::string from_path(const fs::path& p) { return narrow(p.native()); }

/// Disk files only: a console, the null device or a pipe is a character or pipe handle.
bool is_disk_file(std::FILE* file) {
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK;
}

UINT console_code_page = 0;

void restore_console_code_page() { SetConsoleOutputCP(console_code_page); }

void unwatch(int) {}

#else

fs::path to_path(const std::string& name) { return fs::path(name); }
std::string from_path(const fs::path& p) { return p.string(); }

// The temporary files that a signal ending the process removes. Slot states: 0 free, 1 being
// filled, 2 armed (the handler reads the name only then).
struct watch_slot {
    std::atomic<int> state{0};
    char path[4096];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slot states");
watch_slot watched[8];
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_temporaries_and_end(int sig) {
    for (watch_slot& slot : watched) {
        if (slot.state.load() == 2) {
            ::unlink(slot.path);
        }
    }
    // The default action, now that the handler returns with the signal pending again.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

/// Takes over SIGINT, SIGTERM and SIGHUP where they still have their default action; a signal
/// that the caller ignores or handles stays as it is.
void install_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int sig : ending_signals) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
                old.sa_handler != SIG_DFL) {
                continue;
            }
            struct sigaction now {};
            now.sa_handler = remove_temporaries_and_end;
            sigemptyset(&now.sa_mask);
            ::sigaction(sig, &now, nullptr);
        }
    });
}

int watch(const std::string& name) {
    if (name.size() >= sizeof watched[0].path) {
        return -1;
    }
    install_handlers();
    for (int i = 0; i < static_cast<int>(std::size(watched)); ++i) {
        int expected = 0;
        if (watched[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(watched[i].path, name.c_str(), name.size() + 1);
            watched[i].state.store(2);
            return i;
        }
    }
    return -1;
}

void unwatch(int slot) {
    if (slot >= 0) {
        watched[slot].state.store(0);
    }
}

/// Holds back the ending signals in this thread for the lifetime of the object, so that a
/// file and its watch slot change together.
class signals_held {
public:
    signals_held() {
        sigset_t set;
        sigemptyset(&set);
        for (const int sig : ending_signals) {
            sigaddset(&set, sig);
        }
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~signals_held() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

private:
    sigset_t old_;
};

#endif

std::string temporary_name_beside(const std::string& target, std::uint64_t salt) {
    static const char digits[] = "0123456789abcdef";
    std::string stem = ".quarlix-";
    for (int i = 0; i < 12; ++i) {
        stem += digits[(salt >> (4 * i)) & 15];
    }
    return from_path(to_path(target).parent_path() / to_path(stem + ".tmp"));
}

} // namespace

fs::path utf8_path(const std::string& name) { return to_path(name); }

bool file_exists(const std::string& name) {
    std::error_code ec;
    const auto status = fs::status(to_path(name), ec);
    if (!ec && fs::exists(status)) {
        return !fs::is_directory(status);
    }
#ifdef _WIN32
    // A device such as NUL has no status, but it is there; reading it is refused later.
    return output_state_of(name) == output_state::not_regular;
#else
    return false;
#endif
}

open_result open_for_reading(const std::string& name, std::FILE*& file) {
    file = nullptr;
#ifdef _WIN32
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
#else
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        return open_result::failed;
    }
    if (!S_ISREG(st.st_mode)) {
        return open_result::not_regular;
    }
    // Not waiting for a writer even if a pipe took the file's place since the check.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return open_result::failed;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return open_result::not_regular;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        (file = ::fdopen(fd, "rb")) == nullptr) {
        ::close(fd);
        return open_result::failed;
    }
    return open_result::opened;
#endif
}

output_state output_state_of(const std::string& name) {
#ifdef _WIN32
    const std::wstring w = wide(name);
    // Opened for no access at all, only to ask what it is: a device or pipe is not waited on.
    const HANDLE h = CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
#else
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        return output_state::missing;
    }
    if (S_ISDIR(st.st_mode)) {
        return output_state::directory;
    }
    if (!S_ISREG(st.st_mode)) {
        return output_state::not_regular;
    }
    return ::access(name.c_str(), W_OK) == 0 ? output_state::writable_file
                                             : output_state::read_only_file;
#endif
}

std::string replacement_target(const std::string& name) {
    std::error_code ec;
    const fs::path p = to_path(name);
    if (!fs::is_symlink(fs::symlink_status(p, ec))) {
        return name;
    }
    const fs::path resolved = fs::weakly_canonical(p, ec);
    return ec ? name : from_path(resolved);
}

bool create_temporary(const std::string& target, temporary_file& temp) {
    temp = temporary_file{};
    std::random_device device;
    std::uint64_t salt = (std::uint64_t{device()} << 32) ^ device() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt, salt = salt * 6364136223846793005u + 1) {
        const std::string name = temporary_name_beside(target, salt);
#ifdef _WIN32
        int fd = -1;
        const int rc = _wsopen_s(&fd, wide(name).c_str(),
                                 _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                 _SH_DENYNO, _S_IREAD | _S_IWRITE);
        if (rc == EEXIST) {
            continue;
        }
        if (rc != 0 || fd < 0) {
            return false;
        }
        std::FILE* file = _fdopen(fd, "wb");
        if (file == nullptr) {
            _close(fd);
            _wremove(wide(name).c_str());
            return false;
        }
        temp = temporary_file{file, name, -1};
        return true;
#else
        int fd = -1;
        int slot = -1;
        {
            const signals_held held;
            fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                slot = watch(name);
            }
        }
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            (void)::fchmod(fd, st.st_mode & 0777);
        }
        std::FILE* file = ::fdopen(fd, "wb");
        if (file == nullptr) {
            ::close(fd);
            ::unlink(name.c_str());
            unwatch(slot);
            return false;
        }
        temp = temporary_file{file, name, slot};
        return true;
#endif
    }
    return false;
}

bool sync_and_close(temporary_file& temp) {
    std::FILE* file = temp.file;
    temp.file = nullptr;
    if (file == nullptr) {
        return false;
    }
    bool ok = std::fflush(file) == 0;
#ifdef _WIN32
    if (ok) {
        const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
        ok = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
    }
#else
    // A file system without a sync of its own has nothing more to put on the disk.
    if (ok && ::fsync(::fileno(file)) != 0) {
        ok = errno == EINVAL || errno == ENOSYS || errno == ENOTSUP;
    }
#endif
    return std::fclose(file) == 0 && ok;
}

bool replace_with(temporary_file& temp, const std::string& target) {
#ifdef _WIN32
    if (MoveFileExW(wide(temp.name).c_str(), wide(target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        return false;
    }
#else
    {
        const signals_held held;
        if (::rename(temp.name.c_str(), target.c_str()) != 0) {
            return false;
        }
        unwatch(temp.watch);
    }
    // The new directory entry goes to the disk as well.
    const std::string dir = from_path(to_path(target).parent_path());
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
#endif
    temp = temporary_file{};
    return true;
}

bool drop_temporary(temporary_file& temp) noexcept {
    if (temp.file != nullptr) {
        std::fclose(temp.file);
    }
    bool removed = true;
    if (!temp.name.empty()) {
#ifdef _WIN32
        removed = _wremove(wide(temp.name).c_str()) == 0 || errno == ENOENT;
#else
        removed = ::unlink(temp.name.c_str()) == 0 || errno == ENOENT;
#endif
    }
    unwatch(temp.watch);
    temp = temporary_file{};
    return removed;
}

#ifdef _WIN32
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
#endif

} // namespace quarlix
