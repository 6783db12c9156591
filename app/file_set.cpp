// A set of files written all or nothing: temporary files first, renamed together at the end.
#include "app/file_set.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <set>
#include <streambuf>
#include <system_error>

#include "app/program.h"
#include "storage/errors.h"
#include "storage/file_system.h"

namespace quarlix::app {

namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& name) { return "'" + name + "'"; }

/// The reason that the last failed call left in errno, as ": reason".
std::string reason(int error) {
    return error == 0 ? "" : ": " + std::generic_category().message(error);
}

/// "out/" as "out", so that the directory is one name to make.
fs::path without_trailing_separators(fs::path p) {
    while (!p.has_filename() && p.has_relative_path()) {
        p = p.parent_path();
    }
    return p;
}

/// A stream buffer that writes straight to an open file and counts what it put there.
class file_buffer : public std::streambuf {
  public:
    explicit file_buffer(std::FILE* file) : file_(file) {}
    std::uint64_t put() const { return put_; }

  protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        const std::size_t n = std::fwrite(data, 1, static_cast<std::size_t>(size), file_);
        put_ += n;
        return static_cast<std::streamsize>(n);
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

  private:
    std::FILE* file_;
    std::uint64_t put_ = 0;
};

class set_writer {
  public:
    set_writer(const std::string& dir, const file_written_hook& written)
        : dir_(dir), root_(without_trailing_separators(utf8_path(dir))), written_(written) {}
    set_writer(const set_writer&) = delete;
    set_writer& operator=(const set_writer&) = delete;
    ~set_writer() { undo(); }

    void write(const std::vector<output_file>& files) {
        make_root();
        switch (lock_directory(utf8_name(root_), lock_)) {
        case lock_result::locked:
            break;
        case lock_result::busy:
            fail("another run is writing into " + quoted(dir_));
        case lock_result::failed:
            fail("cannot lock " + quoted(dir_) + " for writing" + reason(errno));
        }
        std::set<std::string> checked;
        for (const output_file& file : files) {
            const std::string sub = fs::path(file.name).parent_path().generic_string();
            if (!sub.empty() && checked.insert(sub).second) {
                make_subdirectory(sub);
            }
            check_target(file.name);
        }
        for (const output_file& file : files) {
            write_temporary(file);
        }
        commit(files);
    }

  private:
    fs::path path_of(const std::string& name) const {
        return root_ / utf8_path(name).make_preferred();
    }
    std::string shown(const std::string& name) const { return quoted(dir_ + "/" + name); }

    /// Undoes the run and raises the error, saying what is left; `plain` as the message
    /// alone when nothing of the directory was there or made.
    [[noreturn]] void fail(const std::string& what, bool plain = false) {
        std::string message = what;
        message += undo();
        if (!plain) {
            message += root_was_missing_ ? "; no directory " + quoted(dir_) + " was made"
                                         : "; " + quoted(dir_) + " was left as it was";
        }
        throw EInOutError(message);
    }

    /// Removes what this run put there; says what could not be removed.
    std::string undo() noexcept {
        std::string said;
        for (temporary_file& temp : temps_) {
            const std::string name = temp.name;
            if (!drop_temporary(temp)) {
                said += "; the temporary file " + quoted(name) + " could not be removed";
            }
        }
        temps_.clear();
        unlock_directory(lock_);
        for (auto d = made_.rbegin(); d != made_.rend(); ++d) {
            std::error_code ec;
            fs::remove(d->path, ec);
            stop_watching(d->watch);
        }
        made_.clear();
        return said;
    }

    /// Makes the directory; on failure raises "cannot create the directory NAME", plain
    /// (DIR itself) or with the reason.
    void make_directory(const fs::path& path, const std::string& name_shown, bool plain) {
        made_.push_back({path, {}});
        if (!create_watched_directory(utf8_name(path), made_.back().watch)) {
            const int error = errno;
            made_.pop_back();
            fail("cannot create the directory " + name_shown + (plain ? "" : reason(error)), plain);
        }
    }

    /// DIR and its missing parents; DIR given as a symbolic link to a directory is used.
    void make_root() {
        std::error_code ec;
        if (fs::is_directory(root_, ec)) {
            return;
        }
        std::vector<fs::path> missing;
        for (fs::path p = root_; !p.empty() && !fs::exists(fs::symlink_status(p, ec));
             p = p.parent_path()) {
            missing.push_back(p);
            if (p == p.parent_path()) {
                break;
            }
        }
        if (missing.empty()) {
            fail("cannot create the directory " + quoted(dir_), true);
        }
        root_was_missing_ = true;
        for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
            make_directory(*p, quoted(dir_), true);
        }
    }

    void make_subdirectory(const std::string& sub) {
        std::error_code ec;
        const fs::path path = path_of(sub);
        const fs::file_status st = fs::symlink_status(path, ec);
        if (fs::is_directory(st)) {
            return;
        }
        if (fs::is_symlink(st)) {
            fail("cannot create the directory " + shown(sub) +
                 ": a symbolic link of that name is there, which is not followed");
        }
        if (fs::exists(st)) {
            fail("cannot create the directory " + shown(sub) + ": a file of that name is there");
        }
        make_directory(path, shown(sub), false);
    }

    void check_target(const std::string& name) {
        std::error_code ec;
        const fs::path path = path_of(name);
        const fs::file_status st = fs::symlink_status(path, ec);
        if (fs::is_directory(st)) {
            fail("cannot write " + shown(name) + ": it is a directory");
        }
        if (fs::is_regular_file(st) &&
            output_state_of(utf8_name(path)) == output_state::read_only_file) {
            fail("cannot write " + shown(name) + ": it is read-only");
        }
    }

    void write_temporary(const output_file& file) {
        temps_.emplace_back();
        temporary_file& temp = temps_.back();
        errno = 0;
        if (!create_temporary(utf8_name(path_of(file.name)), temp)) {
            fail("cannot write " + shown(file.name) + reason(errno));
        }
        errno = 0;
        file_buffer buffer(temp.file);
        std::ostream stream(&buffer);
        stream.exceptions(std::ios::goodbit);
        file.write(stream);
        if (!stream || std::ferror(temp.file)) {
            fail("cannot write " + shown(file.name) + reason(errno) + " (" +
                 std::to_string(buffer.put()) + " bytes written)");
        }
        errno = 0;
        if (!sync_and_close(temp)) {
            fail("cannot write " + shown(file.name) + reason(errno));
        }
        if (written_) {
            try {
                written_(file.name);
            } catch (const EError& e) {
                fail(e.what());
            }
        }
    }

    /// Every temporary file renamed over its name, with no signal let in between.
    void commit(const std::vector<output_file>& files) {
        std::vector<std::string> targets;
        targets.reserve(files.size());
        for (const output_file& file : files) {
            targets.push_back(utf8_name(path_of(file.name)));
        }
        const ending_signals_held held;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (!replace_with(temps_[i], targets[i])) {
                const int error = errno;
                std::string message = "cannot write " + shown(files[i].name) + reason(error);
                message += undo();
                throw EInOutError(message + "; " + plural(i, "file", "files") +
                                  " of this run had already replaced the earlier ones");
            }
        }
        temps_.clear();
        for (made_directory& d : made_) {
            stop_watching(d.watch);
        }
        made_.clear();
        unlock_directory(lock_);
    }

    struct made_directory {
        fs::path path;
        watched_name watch;
    };

    const std::string& dir_;
    const fs::path root_;
    const file_written_hook& written_;
    directory_lock lock_;
    std::vector<made_directory> made_; // in making order: DIR's missing parents, DIR, below it
    bool root_was_missing_ = false;
    std::vector<temporary_file> temps_;
};

} // namespace

void write_file_set(const std::string& dir, const std::vector<output_file>& files,
                    const file_written_hook& written) {
    set_writer writer(dir, written);
    writer.write(files);
}

} // namespace quarlix::app
