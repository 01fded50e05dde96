#include "core/app/station.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/util/format.h"

namespace korvan {

namespace fs = std::filesystem;

StationEnvironment StationEnvironment::Current() {
  auto value = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  StationEnvironment environment;
  environment.exeDir = ExecutableDirectory();
  environment.xdgStateHome = value("XDG_STATE_HOME");
  environment.home = value("HOME");
  environment.xdgDataHome = value("XDG_DATA_HOME");
  environment.installed = !InBuildTree(environment.exeDir);
  environment.systemDataDir = kSystemDataFolder;
  return environment;
}

Station::Station(Frontend& frontend, Clock clock, PortProvider ports, LinkEngine* engine)
    : frontend_(frontend, modalDepth_),
      clock_(clock),
      ownEngine_(engine ? nullptr : std::make_unique<LinkEngine>()),
      engine_(engine ? engine : ownEngine_.get()),
      info_(std::move(clock)),
      desk_(job_, info_, frontend_, clock_, [this](ViewPart part) { Notify(part); }),
      portProvider_(std::move(ports)) {
  SetUpLink();
}

void Station::SetListener(StationListener* listener) {
  listeners_.clear();
  if (listener) listeners_.push_back(listener);
  infoFanOut_.station = this;
  info_.SetListener(&infoFanOut_);
}

void Station::AddListener(StationListener* listener) {
  if (!listener || std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
    return;
  }
  listeners_.push_back(listener);
  infoFanOut_.station = this;
  info_.SetListener(&infoFanOut_);
}

void Station::RemoveListener(StationListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void Station::InfoFanOut::InfoLineAdded(const std::string& line) {
  station->TellListeners([&](StationListener& l) { l.InfoLineAdded(line); });
}

void Station::InfoFanOut::InfoCleared() {
  station->TellListeners([](StationListener& l) { l.InfoCleared(); });
}

Answer ModalFrontend::Ask(MessageKind kind, const std::string& text, Buttons buttons) {
  return Modal([&] { return inner_.Ask(kind, text, buttons); });
}
std::optional<FileChoice> ModalFrontend::ChooseOpenFile(const FileDialog& dialog) {
  return Modal([&] { return inner_.ChooseOpenFile(dialog); });
}
std::optional<FileChoice> ModalFrontend::ChooseSaveFile(const FileDialog& dialog) {
  return Modal([&] { return inner_.ChooseSaveFile(dialog); });
}
std::optional<std::string> ModalFrontend::AskLoadOffset(const std::string& shown) {
  return Modal([&] { return inner_.AskLoadOffset(shown); });
}
std::optional<ReadAddressEntry> ModalFrontend::AskReadAddress(const std::string& shownAddress,
                                                              int shownLength) {
  return Modal([&] { return inner_.AskReadAddress(shownAddress, shownLength); });
}
void ModalFrontend::ShowChipDialog(TNChipSelectForm& dialog) {
  Modal([&] { inner_.ShowChipDialog(dialog); });
}
void ModalFrontend::ShowOptionByteEditor(OptionByteEditor& editor) {
  Modal([&] { inner_.ShowOptionByteEditor(editor); });
}

void Station::Notify(ViewPart part) {
  TellListeners([part](StationListener& l) { l.ViewChanged(part); });
}

void Station::SetTotalCounter(std::int32_t value) {
  totalCounter_ = value;
  window_.StatusBar1[3] = Format("计数器：%d", value);
  Notify(ViewPart::StatusBar);
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

void Station::FormShow(const StationEnvironment& environment) {
  exeDir_ = environment.exeDir;
  job_.form.PageControlSet = SettingsTab::SerialNumbers;
  info_.AddInfoLine("Hello! Korvan200NAT User!");
  info_.AddLine("");

  logs_ = PrepareLogLocation(
      exeDir_, environment.xdgStateHome.empty() ? nullptr : environment.xdgStateHome.c_str(),
      environment.home.empty() ? nullptr : environment.home.c_str(), environment.installed);
  if (!logs_.problem.empty()) {
    info_.AddInfoLine(logs_.problem);
    frontend_.Ask(MessageKind::Error, logs_.problem, Buttons::Ok);
  } else if (!logs_.besideExecutable) {
    info_.AddInfoLine(Format("Log files are written to \"%s\"", logs_.shutdownDir.c_str()));
  }

  totalCounter_ = 0;
  for (int n = 1; n <= kChannelCount; ++n) Link(n).ResetAtStart();
  InitView();
  SetOptionByteDefaults(job_.optionBytes, job_.chip);
  SyncWindows();

  // The firmware image: beside the executable, else in the user's data folder, else in the
  // system's; the panel names the file used, or where one may go.
  const std::vector<fs::path> folders = FirmwareFolders(
      exeDir_, environment.xdgDataHome, environment.home, environment.systemDataDir);
  if (const auto found = FindFirmwareImage(folders)) {
    firmwarePresent_ = LoadFirmwareImage(found->string(), firmware_);
    info_.AddInfoLine(
        firmwarePresent_
            ? Format("Firmware image \"%s\" %s", found->c_str(), firmware_.VersionText().c_str())
            : Format("Firmware image \"%s\" is damaged and not used", found->c_str()));
  } else {
    firmwarePresent_ = false;
    const fs::path firmwarePath = exeDir_ / kFirmwareFileName;
    info_.AddInfoLine("File of \"" + firmwarePath.string() + "\" not Found!");
    std::string where;
    for (const fs::path& folder : folders) {
      where += (where.empty() ? "\"" : ", \"") + folder.string() + "\"";
    }
    info_.AddInfoLine(Format("Put %s in one of: %s", kFirmwareFileName, where.c_str()));
    frontend_.Ask(MessageKind::Plain, "文件\"" + firmwarePath.string() + "\"没有找到，请确认！",
                  Buttons::Ok);
  }
  Notify(ViewPart::Form);
  Notify(ViewPart::Gauges);

  // The ports, then a refresh and a device search: the programmers answer while the window
  // is already up.
  ListSerialPorts();
  FreshBtnClick();
  BitBtnFindDevClick();
}

void Station::SpdBtnExitClick() {
  TellListeners([](StationListener& l) { l.CloseRequested(); });
}

std::optional<fs::path> Station::FormClose() {
  if (info_.LineCount() <= kShutdownLogMinLines) return std::nullopt;
  fs::path file;
  if (WriteLogFile(logs_.shutdownDir / ShutdownLogName(clock_()), info_.Lines(), &file)) {
    frontend_.Ask(MessageKind::Plain, "Write Log File error!", Buttons::Ok);
    return std::nullopt;
  }
  return file;
}

std::optional<fs::path> Station::WritePeriodicLog() {
  fs::path file;
  if (auto error =
          WriteLogFile(logs_.periodicDir / PeriodicLogName(clock_()), info_.Lines(), &file)) {
    ShowError(*error);
    return std::nullopt;
  }
  return file;
}

// ---------------------------------------------------------------------------------------------
// Chip

// ---------------------------------------------------------------------------------------------
// Job settings and serial numbers

// ---------------------------------------------------------------------------------------------
// Information panel and views

// ---------------------------------------------------------------------------------------------
// File commands

// ---------------------------------------------------------------------------------------------
// OTP data and option bytes

}  // namespace korvan
