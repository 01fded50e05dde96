#include "core/app/places.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/app/station.h"
#include "core/image/firmware_image.h"
#include "support/fake_frontend.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;
using testing::FakeFrontend;
using testing::TempDir;

TEST(Places, TheBuildTreeIsKnownByItsCMakeCache) {
  TempDir dir;
  fs::create_directories(dir.path() / "build/src/gui");
  EXPECT_FALSE(InBuildTree(dir.path() / "build/src/gui"));
  dir.Write("build/CMakeCache.txt", "");
  EXPECT_TRUE(InBuildTree(dir.path() / "build/src/gui"));
  EXPECT_TRUE(InBuildTree(dir.path() / "build"));
  EXPECT_FALSE(InBuildTree(dir.path()));
}

// Where the station finds KorvanNAT.KFW and writes its logs, over build tree or installed,
// the XDG variables set or not (HOME too), and the firmware image in one place or several.
TEST(Places, FirmwareImageAndLogFolderTable) {
  enum At { Beside = 1, XdgData = 2, HomeData = 4, System = 8 };
  enum Logs { LogBeside, XdgState, HomeState, Refused };
  struct Row {
    const char* what;
    bool installed;
    bool xdg;   // XDG_DATA_HOME and XDG_STATE_HOME set
    bool home;  // HOME set
    int kfwAt;  // where a firmware image lies
    At found;   // where it is taken from (0: none)
    Logs logs;
  };
  const Row rows[] = {
      {"build tree, beside wins", false, true, true, Beside | XdgData | System, Beside, LogBeside},
      {"build tree, the user's data folder", false, false, true, HomeData | System, HomeData,
       LogBeside},
      {"build tree without HOME keeps its Log", false, false, false, System, System, LogBeside},
      {"installed, XDG folders", true, true, true, XdgData | HomeData | System, XdgData, XdgState},
      {"installed, XDG_DATA_HOME hides ~/.local/share", true, true, true, HomeData | System, System,
       XdgState},
      {"installed, HOME only", true, false, true, System, System, HomeState},
      {"installed, beside still first", true, false, true, Beside | System, Beside, HomeState},
      {"installed, nothing anywhere", true, true, true, 0, At(0), XdgState},
      {"installed without HOME or XDG refuses", true, false, false, Beside, Beside, Refused},
  };
  std::string error;
  const std::vector<std::uint8_t> firmware(64, 0x5A);
  const auto kfw = PackFirmwareImage(firmware, {"V3.10", "test", 0, 0, 7}, error);
  ASSERT_FALSE(kfw.empty()) << error;

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const fs::path bin = dir.path() / "bin";
    const fs::path xdgData = dir.path() / "xdg-data";
    const fs::path xdgState = dir.path() / "xdg-state";
    const fs::path home = dir.path() / "home";
    const fs::path system = dir.path() / "usr-share";
    const std::vector<std::pair<At, fs::path>> folders = {
        {Beside, bin},
        {XdgData, xdgData / "korvan200nat"},
        {HomeData, home / ".local/share/korvan200nat"},
        {System, system}};
    for (const auto& [at, folder] : folders) {
      fs::create_directories(folder);
      if (row.kfwAt & at) {
        std::ofstream(folder / kFirmwareFileName, std::ios::binary)
            .write(reinterpret_cast<const char*>(kfw.data()), kfw.size());
      }
    }
    StationEnvironment environment{bin, row.xdg ? xdgState.string() : "",
                                   row.home ? home.string() : ""};
    environment.xdgDataHome = row.xdg ? xdgData.string() : "";
    environment.installed = row.installed;
    environment.systemDataDir = system;
    FakeFrontend frontend;
    Station station(frontend, [] { return LocalTime{2024, 1, 5, 14, 3, 22}; });
    station.SetPortSources(testing::NoPorts(dir.path()));
    station.FormShow(environment);
    const std::vector<std::string> lines = station.info().Lines();
    auto has = [&](const std::string& text) {
      for (const auto& line : lines) {
        if (line.find(text) != std::string::npos) return true;
      }
      return false;
    };

    EXPECT_EQ(station.firmwarePresent(), row.found != 0);
    if (row.found != 0) {
      fs::path expected;
      for (const auto& [at, folder] : folders) {
        if (at == row.found) expected = folder / kFirmwareFileName;
      }
      EXPECT_TRUE(has("Firmware image \"" + expected.string() + "\" V3.10")) << lines[2];
    } else {
      EXPECT_TRUE(has("File of \"" + (bin / kFirmwareFileName).string() + "\" not Found!"));
      EXPECT_TRUE(has("Put KorvanNAT.KFW in one of: \"" + bin.string() + "\", \"" +
                      (xdgData / "korvan200nat").string() + "\", \"" + system.string() + "\""));
    }

    const LogLocation& logs = station.logLocation();
    switch (row.logs) {
      case LogBeside:
        EXPECT_EQ(logs.shutdownDir, bin / "Log");
        break;
      case XdgState:
        EXPECT_EQ(logs.shutdownDir, xdgState / "korvan200nat/Log");
        EXPECT_TRUE(has("Log files are written to \"" + logs.shutdownDir.string() + "\""));
        break;
      case HomeState:
        EXPECT_EQ(logs.shutdownDir, home / ".local/state/korvan200nat/Log");
        break;
      case Refused:
        EXPECT_TRUE(logs.shutdownDir.empty());
        EXPECT_TRUE(has("Neither XDG_STATE_HOME nor HOME is set"));
        ASSERT_FALSE(frontend.questions.empty());
        EXPECT_EQ(frontend.questions[0].kind, MessageKind::Error);
        break;
    }
    if (row.logs != Refused) {
      EXPECT_TRUE(fs::is_directory(logs.shutdownDir));
    }
    EXPECT_FALSE(fs::exists(bin / "Log") && row.installed) << "an installed station wrote beside";
  }
}

}  // namespace
}  // namespace korvan
