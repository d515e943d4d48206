// A fresh folder per test, removed afterwards, with small file helpers.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace m32::test_support {

class TempDir {
 public:
  TempDir() {
    // A new folder of a random name (as mkdtemp, which Windows lacks).
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    std::random_device random;
    for (int i = 0; i < 100 && path_.empty(); ++i) {
      const std::filesystem::path p = temp / ("m32cfg" + std::to_string(random()));
      if (std::filesystem::create_directory(p, ec)) path_ = p;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  // Names of all entries in the folder.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace m32::test_support
