// Shared test helpers: a scratch directory and whole-file reads and writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace quarlix::test {

/// A fresh directory under the system's temporary directory, removed with the object.
class scratch_dir {
  public:
    scratch_dir() {
        static std::atomic<unsigned> serial{0};
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("quarlix-test-" + std::to_string(rd()) + "-" + std::to_string(serial++));
        std::filesystem::create_directories(path_);
    }
    ~scratch_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline void write_bytes(const std::string& name, std::span<const std::uint8_t> bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

/// The bytes of a stored record, as a file holds it.
template <class T> std::vector<std::uint8_t> record_bytes(const T& record) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* b = reinterpret_cast<const std::uint8_t*>(&record);
    return {b, b + sizeof(T)};
}

inline std::vector<std::uint8_t> read_bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace quarlix::test
