// Where the station finds the programmers' firmware image and writes its logs and records.
//
// Run from its build tree, the station keeps everything beside the executable, as a station
// unpacked into one folder does. Installed (a package, `cmake --install`), the executable's
// folder is a shared bin folder: the firmware image may also come from the user's data folder
// or the system's, and logs and records go to the user's state folder, never the bin folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvan {

// The folder name under the XDG base folders and /usr/share.
inline constexpr const char* kPlacesFolderName = "korvan200nat";
// Where a package puts a firmware image for every user of the machine.
inline constexpr const char* kSystemDataFolder = "/usr/share/korvan200nat";

// True when `exeDir` lies in a CMake build tree: CMakeCache.txt in it or in a folder above.
bool InBuildTree(const std::filesystem::path& exeDir);

// An XDG base folder: `xdgValue` when it is an absolute path (the XDG rule: anything else is
// ignored), else `home`/`fallback` when `home` is set; empty when neither can be named.
std::filesystem::path XdgBaseFolder(const std::string& xdgValue, const std::string& home,
                                    const char* fallback);

// The folders searched for KorvanNAT.KFW, in order: beside the executable, then
// $XDG_DATA_HOME/korvan200nat (default ~/.local/share/korvan200nat; left out when neither
// XDG_DATA_HOME nor HOME is set), then `systemFolder` (unless empty).
std::vector<std::filesystem::path> FirmwareFolders(const std::filesystem::path& exeDir,
                                                   const std::string& xdgDataHome,
                                                   const std::string& home,
                                                   const std::filesystem::path& systemFolder);

// The first of `folders` that holds KorvanNAT.KFW: that file's path.
std::optional<std::filesystem::path> FindFirmwareImage(
    const std::vector<std::filesystem::path>& folders);

}  // namespace korvan
