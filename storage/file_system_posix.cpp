// The file calls on POSIX systems: descriptors, and signal handlers that remove the temporary
// files (and the directories made for them) of a process that a signal ends.
#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "storage/file_system.h"
#include "storage/file_system_shared.h"

namespace quarlix {

namespace fs = std::filesystem;

namespace {

// The names that a signal ending the process removes: a list that only grows, each entry
// reused once free, so that the handler walks it without taking a lock or allocating.
enum watch_state : int { watch_free = 0, watch_filling = 1, watch_file = 2, watch_directory = 3 };
struct watch_node {
    std::atomic<int> state{watch_filling};
    watch_node* next = nullptr; // set before the node is published, never changed after
    std::size_t capacity = 0;
    char* path = nullptr;
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");
std::atomic<watch_node*> watch_head{nullptr};
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

extern "C" void remove_watched_and_end(int sig) {
    for (watch_node* n = watch_head.load(); n != nullptr; n = n->next) {
        if (n->state.load() == watch_file) {
            ::unlink(n->path);
        }
    }
    // Directories once their files are gone; a directory made inside another goes first.
    for (bool removed = true; removed;) {
        removed = false;
        for (watch_node* n = watch_head.load(); n != nullptr; n = n->next) {
            if (n->state.load() == watch_directory && ::rmdir(n->path) == 0) {
                removed = true;
            }
        }
    }
    // The default action, now that the handler returns with the signal pending again.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

/// Takes over the ending signals where they have their default action; a signal that the
/// caller ignores or handles stays as it is. Looked at again for every name watched, so that a
/// signal given back its default action (a forked child) is taken over again.
void install_handlers() noexcept {
    for (const int sig : ending_signals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
            old.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction now {};
        now.sa_handler = remove_watched_and_end;
        sigemptyset(&now.sa_mask);
        ::sigaction(sig, &now, nullptr);
    }
}

/// Watches name (kind watch_file or watch_directory); none when no memory is left for it.
watched_name watch(const std::string& name, int kind) noexcept {
    install_handlers();
    for (watch_node* n = watch_head.load(); n != nullptr; n = n->next) {
        int expected = watch_free;
        if (n->capacity > name.size() &&
            n->state.compare_exchange_strong(expected, watch_filling)) {
            std::memcpy(n->path, name.c_str(), name.size() + 1);
            n->state.store(kind);
            return {n};
        }
    }
    auto* n = new (std::nothrow) watch_node;
    char* path = new (std::nothrow) char[name.size() + 1];
    if (n == nullptr || path == nullptr) {
        delete n;
        delete[] path;
        return {};
    }
    std::memcpy(path, name.c_str(), name.size() + 1);
    n->path = path;
    n->capacity = name.size() + 1;
    n->state.store(kind);
    n->next = watch_head.load();
    while (!watch_head.compare_exchange_weak(n->next, n)) {
    }
    return {n};
}

/// Opens name with flags that never wait on a pipe, keeping it only when it is a regular file.
enum class opened { regular, failed, not_regular };
opened open_regular(const std::string& name, int flags, int& fd) {
    fd = ::open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return opened::failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fd = -1;
        return opened::not_regular;
    }
    return opened::regular;
}

} // namespace

fs::path utf8_path(const std::string& name) { return fs::path(name); }
std::string utf8_name(const fs::path& path) { return path.string(); }

bool file_exists(const std::string& name) {
    std::error_code ec;
    const auto status = fs::status(utf8_path(name), ec);
    return !ec && fs::exists(status) && !fs::is_directory(status);
}

open_result open_for_reading(const std::string& name, std::FILE*& file) {
    file = nullptr;
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        return open_result::failed;
    }
    if (!S_ISREG(st.st_mode)) {
        return open_result::not_regular;
    }
    // Not waiting for a writer even if a pipe took the file's place since the check.
    int fd = -1;
    switch (open_regular(name, O_RDONLY, fd)) {
    case opened::regular:
        break;
    case opened::failed:
        return open_result::failed;
    case opened::not_regular:
        return open_result::not_regular;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        (file = ::fdopen(fd, "rb")) == nullptr) {
        ::close(fd);
        return open_result::failed;
    }
    return open_result::opened;
}

output_state output_state_of(const std::string& name) {
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
}

creation create_new_file(const std::string& name, const std::string& target, temporary_file& temp) {
    int fd = -1;
    watched_name watched;
    {
        const ending_signals_held held;
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            watched = watch(name, watch_file);
        }
    }
    if (fd < 0) {
        return errno == EEXIST ? creation::name_taken : creation::failed;
    }
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        (void)::fchmod(fd, st.st_mode & 0777);
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        ::close(fd);
        ::unlink(name.c_str());
        stop_watching(watched);
        return creation::failed;
    }
    temp = temporary_file{file, name, watched};
    return creation::made;
}

bool put_on_disk(std::FILE* file) {
    // A file system without a sync of its own has nothing more to put on the disk.
    return ::fsync(::fileno(file)) == 0 || errno == EINVAL || errno == ENOSYS || errno == ENOTSUP;
}

bool replace_with(temporary_file& temp, const std::string& target) {
    {
        const ending_signals_held held;
        if (::rename(temp.name.c_str(), target.c_str()) != 0) {
            return false;
        }
        stop_watching(temp.watch);
    }
    // The new directory entry goes to the disk as well.
    const std::string dir = utf8_name(utf8_path(target).parent_path());
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
    temp = temporary_file{};
    return true;
}

bool remove_file(const std::string& name) noexcept {
    return ::unlink(name.c_str()) == 0 || errno == ENOENT;
}

bool create_watched_directory(const std::string& name, watched_name& watched) {
    const ending_signals_held held;
    if (::mkdir(name.c_str(), 0777) != 0) {
        return false;
    }
    watched = watch(name, watch_directory);
    return true;
}

void stop_watching(watched_name& watched) noexcept {
    if (watched.node != nullptr) {
        static_cast<watch_node*>(watched.node)->state.store(watch_free);
    }
    watched = watched_name{};
}

ending_signals_held::ending_signals_held() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : ending_signals) {
        sigaddset(&set, sig);
    }
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

ending_signals_held::~ending_signals_held() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

lock_result lock_directory(const std::string& dir, directory_lock& lock) {
    lock = directory_lock{};
    const std::string name = utf8_name(utf8_path(dir) / lock_file_name);
    // The holder removes the file as it lets go: a lock taken on a file no longer under the
    // name is no lock, so the file under the name is opened again.
    for (int attempt = 0; attempt < temporary_names::attempts; ++attempt) {
        const ending_signals_held held;
        int fd = -1;
        if (open_regular(name, O_RDWR | O_CREAT | O_NOFOLLOW, fd) != opened::regular) {
            return lock_result::failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(fd);
            return busy ? lock_result::busy : lock_result::failed;
        }
        struct stat held_file {};
        struct stat named {};
        if (::fstat(fd, &held_file) == 0 && ::lstat(name.c_str(), &named) == 0 &&
            held_file.st_dev == named.st_dev && held_file.st_ino == named.st_ino) {
            lock = directory_lock{fd, name, watch(name, watch_file)};
            return lock_result::locked;
        }
        ::close(fd);
    }
    return lock_result::failed;
}

void unlock_directory(directory_lock& lock) noexcept {
    if (lock.handle >= 0) {
        const ending_signals_held held;
        ::unlink(lock.name.c_str());
        stop_watching(lock.watch);
        ::close(static_cast<int>(lock.handle));
    }
    lock = directory_lock{};
}

void report_file_size_limit_as_write_error() noexcept {
    struct sigaction old {};
    if (::sigaction(SIGXFSZ, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
        old.sa_handler == SIG_DFL) {
        ::signal(SIGXFSZ, SIG_IGN);
    }
}

} // namespace quarlix

#endif
