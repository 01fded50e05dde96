// Small helpers of the station's tests: a temporary folder and whole-file reads and writes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "core/serial/port_list.h"

namespace korvan::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "korvan-station-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `contents` to the file `name` in the folder and returns its full path.
  std::string Write(std::string_view name, std::string_view contents) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << contents;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

// Port sources that find no port: the station's first showing searches nothing.
inline PortSources NoPorts(const std::filesystem::path& dir) {
  return {dir / "no-sysfs", dir / "no-dev", ""};
}

inline std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace korvan::testing
