#include "core/line/line_module.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#ifndef KORVAN_LINE_MODULE_INSTALL_DIR
#error \
    "KORVAN_LINE_MODULE_INSTALL_DIR: the module's folder relative to the programs' (CMake sets it)"
#endif

namespace korvan {
namespace {

namespace fs = std::filesystem;

using Entry = const LineModule* (*)(int abi, std::uint64_t layout);

struct Loaded {
  const LineModule* module = nullptr;
  std::string error;
};

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "no reason given";
}

// The module's file: the one KORVAN_LINE_MODULE names, else the first found beside the program
// or in the installed folder; "" and *error when there is none.
std::string ModulePath(std::string* error) {
  std::error_code ec;
  if (const char* named = std::getenv("KORVAN_LINE_MODULE"); named && *named) {
    // Taken from the working folder: a bare name would send the loader to the system's
    // library folders instead.
    const fs::path path = fs::absolute(named, ec);
    return ec ? std::string(named) : path.string();
  }
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) {
    *error = "the program's folder cannot be read (/proc/self/exe: " + ec.message() + ")";
    return "";
  }
  const fs::path folder = exe.parent_path();
  const fs::path beside = folder / kLineModuleFile;
  const fs::path installed =
      (folder / KORVAN_LINE_MODULE_INSTALL_DIR / kLineModuleFile).lexically_normal();
  for (const fs::path& path : {beside, installed}) {
    if (fs::exists(path, ec)) return path.string();
  }
  *error = std::string(kLineModuleFile) + " is neither beside the program (in " + folder.string() +
           ") nor in " + installed.parent_path().string();
  return "";
}

Loaded Load() {
  const std::string failed = "the PostgreSQL client module could not be loaded: ";
  Loaded loaded;
  const std::string path = ModulePath(&loaded.error);
  if (path.empty()) {
    loaded.error = failed + loaded.error;
    return loaded;
  }
  // Every symbol is bound now: a libpq or libpqxx that does not fit fails here, with its name,
  // rather than in the middle of a forwarding.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    loaded.error = failed + DlError();
    return loaded;
  }
  void* symbol = dlsym(handle, kLineModuleEntry);
  if (symbol == nullptr) {
    loaded.error = failed + DlError();
    dlclose(handle);
    return loaded;
  }
  const Entry entry = reinterpret_cast<Entry>(symbol);
  loaded.module = entry(kLineModuleAbi, kLineModuleLayout);
  if (loaded.module == nullptr) {
    loaded.error = failed + path + " was built for another version of the station";
    dlclose(handle);
  }
  // A module in use stays loaded until the process ends: sessions may be open on any thread.
  return loaded;
}

}  // namespace

const LineModule* LoadLineModule(std::string* error) {
  static const Loaded loaded = Load();
  if (loaded.module == nullptr && error) *error = loaded.error;
  return loaded.module;
}

}  // namespace korvan
