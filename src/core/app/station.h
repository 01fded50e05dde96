// The station: the main window's logic without a widget. It owns everything that lives for the
// whole run (image buffer, chip record, option-byte image, job settings and the job form, the
// four channels, the counters, the information panel and the two hex views) and carries the
// window's handlers under their control names. Modal questions and file choices go through the
// Frontend; what the window shows is state here, and a StationListener hears when it changes.
//
// Threading: one thread, the front end's ("UI") thread, for every call.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/app/channel.h"
#include "core/app/clock.h"
#include "core/app/hex_view.h"
#include "core/app/info_panel.h"
#include "core/app/job_form.h"
#include "core/app/job_settings.h"
#include "core/app/log_file.h"
#include "core/chips/chip_record.h"
#include "core/chips/option_bytes.h"
#include "core/image/firmware_image.h"
#include "core/image/image_buffer.h"
#include "core/image/project.h"
#include "core/image/readers.h"
#include "core/util/frontend.h"

namespace korvan {

// The pages of ViewPageCtrl.
enum class MainTab { ChipSetting, MainFlash, OtpData };

// The parts of the window a listener is told to redraw.
enum class ViewPart {
  Form,       // the job form (every setting control, MCUNameEdit, lbFlashSize)
  Window,     // tabs, menu entries, DateEdit, device panel, port list
  StatusBar,  // StatusBar1 panels
  Gauges,     // the channels' gauges
  FlashView,  // HexViewer's rows
  OtpView,    // EEPDataView's rows
};

class StationListener : public InfoMemoListener {
 public:
  void InfoLineAdded(const std::string&) override {}
  void InfoCleared() override {}
  virtual void ViewChanged(ViewPart) {}
  // "退出": the window closes (and then calls FormClose).
  virtual void CloseRequested() {}
};

// The window's state beyond the job form.
struct WindowState {
  MainTab ViewPageCtrl = MainTab::ChipSetting;
  // The "OTP Data" tab, shown only while OTP data are displayed.
  bool TabSheetEEPVisible = false;
  std::string TabSheetEEPCaption = "OTP Data";

  // Menu entries that come and go with the part.
  bool LoadOTPDataFile1 = false;     // "Load OTP Data File"
  bool SaveOTPDatatoFile1 = false;   // "Save OTP Data to File"
  bool WriteOTPDataMemory1 = false;  // "Write OTP Memory"
  bool ReadOTPMemory1 = false;       // "Read OTP Memory"
  bool WriteOptionByte1 = true;      // "Write &Option Byte" and its tool button
  bool ReadOptionByte1 = true;       // "Read  Option Byte"

  // StatusBar1: file checksum, chip checksum, file name, counter.
  std::array<std::string, 4> StatusBar1 = {"文件校验和：", "芯片校验和：", "", "计数器：0"};

  // Hidden: the last object file's modification time.
  std::string DateEdit;

  // The red device panel, rewritten by the device search.
  std::string InfoPanel = "Device = ??????";
  // The sorted port list of group "通讯配置" and its text.
  std::vector<std::string> ComboBoxCOMItems;
  std::string ComboBoxCOMText = "请选择通讯口......";
};

// Where the station finds its executable folder and environment; tests give their own.
struct StationEnvironment {
  std::filesystem::path exeDir;
  std::string xdgStateHome;
  std::string home;

  static StationEnvironment Current();
};

// The file dialogs of the file commands.
FileDialog OpenDialog1();
FileDialog SaveDialog1();
FileDialog OpenDialogPrj();
FileDialog SaveDialogPrj();
FileDialog OpenDialogOTP();

class Station {
 public:
  explicit Station(Frontend& frontend, Clock clock = SystemLocalTime);
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  void SetListener(StationListener* listener);

  // --- Start-up and shutdown ---
  // First showing: log folder, channel reset, view and job defaults, option-byte defaults, the
  // programmers' firmware image.
  void FormShow(const StationEnvironment& environment = StationEnvironment::Current());
  void InitView();
  // "退出": asks the window to close.
  void SpdBtnExitClick();
  // The window closes: a panel of more than six lines is written as this run's log. Returns
  // the log written, if any.
  std::optional<std::filesystem::path> FormClose();
  // The log saved every 500 stand-alone results: every panel line to NATx_<date>_<time>.log
  // beside the executable; the panel is not cleared. A failed save shows the file layer's error.
  // Returns the log written, if any.
  std::optional<std::filesystem::path> WritePeriodicLog();

  // --- Chip ---
  // "..." beside the part name: the chip selection dialog, then the part-name change.
  void DevButtonClick();
  // Sets MCUNameEdit's text, which always runs MCUNameEditChange.
  void SetMCUNameEdit(const std::string& text);
  void MCUNameEditChange();

  // --- Job settings and serial numbers ---
  // Reads the form into the job settings and adds the control line. When a number text is no
  // number, shows the conversion error and returns false: the caller sends nothing.
  bool AssembleJobSettings();
  void ChkBoxAutoClick();
  void CheckBoxCtrlClick();
  void CheckBoxSNClick();
  void ChkBoxSNDPClick();
  void AdvanceSerialNumbers();

  // --- Information panel and views ---
  void AddInfoLine(std::string_view text) { info_.AddInfoLine(text); }
  void ClearInformation1Click() { info_.ClearInformation1Click(); }
  std::string CopytoCli1Click(std::string_view selectedText) const {
    return info_.CopytoCli1Click(selectedText);
  }
  // Ranges and checksums of the flash window after a load; the checksums feed the job settings
  // and the status bar.
  void ShowImageSummary();
  void FillFlashView(std::uint32_t from, std::uint32_t to);
  void FillOtpView();
  void ShowOtpData();
  void RefreshView(bool withViews);

  // --- File commands ---
  void FileOpenBtnClick();
  void SpdBtnLoadMoreClick();
  // Load Object File (`more` false) or Load More Data (true) with the reader chosen by `kind`,
  // by the file's extension when not given. Returns the reader's result; Cancelled when the
  // command was refused or the dialog cancelled.
  LoadResult LoadObjectFileCommand(bool more, std::optional<ObjectFileKind> kind = std::nullopt);
  void LoadOptionByteFile1Click();
  void SaveOptionByte1Click();
  // The save and project commands return false when they were refused, cancelled or failed.
  bool FileSaveBtnClick();
  bool SavetoProjectFile1Click();
  bool SpdBtnLdPrjClick();

  // --- OTP data and option bytes ---
  void LoadOTPDataFile1Click();
  void SaveOTPDatatoFile1Click();
  void ShowOptionByte1Click() { ShowOptionBytes(); }
  void ShowOptionBytes();
  void ButtonOptClick();
  void UpdateProgramOptionByteBox();

  // --- State, for the window and the commands ---
  JobForm& form() { return form_; }
  const JobForm& form() const { return form_; }
  const JobSettings& settings() const { return settings_; }
  JobSettings& settings() { return settings_; }
  const ChipRecord& chip() const { return chip_; }
  ChipRecord& chip() { return chip_; }
  const OptionByteImage& optionBytes() const { return optionBytes_; }
  OptionByteImage& optionBytes() { return optionBytes_; }
  const ImageBuffer& image() const { return image_; }
  ImageBuffer& image() { return image_; }
  const InfoMemo& info() const { return info_; }
  InfoMemo& info() { return info_; }
  const WindowState& window() const { return window_; }
  // The operator turned to another page of ViewPageCtrl.
  void SelectPage(MainTab page) { window_.ViewPageCtrl = page; }
  const HexView& HexViewer() const { return flashView_; }
  const HexView& EEPDataView() const { return otpView_; }
  ChannelState& channel(int number) { return channels_.at(static_cast<std::size_t>(number - 1)); }
  const ChannelState& channel(int number) const {
    return channels_.at(static_cast<std::size_t>(number - 1));
  }
  const FirmwareImage& firmware() const { return firmware_; }
  bool firmwarePresent() const { return firmwarePresent_; }
  bool fileLoaded() const { return fileLoaded_; }
  bool dataLoaded() const { return image_.dataLoaded; }
  std::int32_t totalCounter() const { return totalCounter_; }
  const LogLocation& logLocation() const { return logs_; }
  const ProjectMode& projectMode() const { return projectMode_; }
  const std::filesystem::path& exeDir() const { return exeDir_; }

  // Sets the total counter and its status-bar panel "计数器：%d".
  void SetTotalCounter(std::int32_t value);

 private:
  ChipControlBytes ControlBytes();
  // The image buffer's flash and EEP windows follow the chip record's.
  void SyncWindows();
  void Notify(ViewPart part);
  // "请先选择芯片型号！" when no part is confirmed; true when one is.
  bool RequireChip();
  void ShowError(const std::string& text);

  Frontend& frontend_;
  Clock clock_;
  StationListener* listener_ = nullptr;

  ChipRecord chip_;
  OptionByteImage optionBytes_{};
  ImageBuffer image_;
  JobSettings settings_;
  JobForm form_;
  std::array<ChannelState, kChannelCount> channels_{};
  InfoMemo info_;
  HexView flashView_;
  HexView otpView_;
  WindowState window_;
  FirmwareImage firmware_;

  std::filesystem::path exeDir_;
  LogLocation logs_;
  bool fileLoaded_ = false;
  bool firmwarePresent_ = false;
  ProjectMode projectMode_;
  std::int32_t totalCounter_ = 0;
};

}  // namespace korvan
