#include "core/app/places.h"

#include <system_error>

#include "core/image/firmware_image.h"

namespace korvan {

namespace fs = std::filesystem;

bool InBuildTree(const fs::path& exeDir) {
  std::error_code ec;
  for (fs::path dir = exeDir; !dir.empty(); dir = dir.parent_path()) {
    if (fs::is_regular_file(dir / "CMakeCache.txt", ec)) return true;
    if (dir == dir.parent_path()) break;
  }
  return false;
}

fs::path XdgBaseFolder(const std::string& xdgValue, const std::string& home, const char* fallback) {
  if (!xdgValue.empty() && fs::path(xdgValue).is_absolute()) return xdgValue;
  if (!home.empty()) return fs::path(home) / fallback;
  return {};
}

std::vector<fs::path> FirmwareFolders(const fs::path& exeDir, const std::string& xdgDataHome,
                                      const std::string& home, const fs::path& systemFolder) {
  std::vector<fs::path> folders{exeDir};
  const fs::path data = XdgBaseFolder(xdgDataHome, home, ".local/share");
  if (!data.empty()) folders.push_back(data / kPlacesFolderName);
  if (!systemFolder.empty()) folders.push_back(systemFolder);
  return folders;
}

std::optional<fs::path> FindFirmwareImage(const std::vector<fs::path>& folders) {
  std::error_code ec;
  for (const fs::path& folder : folders) {
    const fs::path file = folder / kFirmwareFileName;
    if (fs::exists(file, ec)) return file;
  }
  return std::nullopt;
}

}  // namespace korvan
