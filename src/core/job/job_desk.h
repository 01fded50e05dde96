// The job's desk: the commands of the window that work on the job alone (the part, the job
// form's boxes, object files, projects, option-byte and OTP files, saving memory) with what they
// show: the information panel's lines, the window's job-related state (status-bar panels, tabs,
// menu entries) and the two hex views. It needs no programmer, no port and no station: the
// command line's convert runs it on its own, and the station runs it for the window.
//
// Questions go through the Frontend it is given (the station gives its modal one, so that the
// links stall while one is open). A change to what the window shows is told through the
// `notify` callback.
//
// Threading: one thread, the caller's.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/chips/chip_setup.h"
#include "core/image/readers.h"
#include "core/job/frontend.h"
#include "core/job/hex_view.h"
#include "core/job/info_panel.h"
#include "core/job/job.h"
#include "core/util/atomic_file.h"
#include "core/util/clock.h"

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

// The file dialogs of the file commands.
FileDialog OpenDialog1();
FileDialog SaveDialog1();
FileDialog OpenDialogPrj();
FileDialog SaveDialogPrj();
FileDialog OpenDialogOTP();

class JobDesk {
 public:
  JobDesk(Job& job, InfoMemo& info, Frontend& frontend, Clock clock,
          std::function<void(ViewPart)> notify = {});
  JobDesk(const JobDesk&) = delete;
  JobDesk& operator=(const JobDesk&) = delete;

  // The window's job defaults: no part, no data, default settings and windows.
  void InitView();

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
  // How far the save and project commands push what they write before it replaces the file:
  // to the disk (the window's saves; the default) or to the operating system (a command-line
  // conversion, whose output is made again from its inputs, as any build tool's is). Either way
  // a file is replaced whole or not at all.
  void SetSaveDurability(Durability durability) { saveDurability_ = durability; }
  // The save and project commands return false when they were refused, cancelled or failed.
  bool FileSaveBtnClick();
  bool SavetoProjectFile1Click();
  bool SpdBtnLdPrjClick();

  // --- OTP data and option bytes ---
  void LoadOTPDataFile1Click();
  void SaveOTPDatatoFile1Click();
  void ShowOptionBytes();
  void ButtonOptClick();
  void UpdateProgramOptionByteBox();

  // Takes `other`'s job as it stands (part, image, option bytes, settings, form, the views
  // and status-bar panels of the loaded file) without reading a file or adding a panel line.
  // The image is shared until either desk changes it.
  void AdoptJob(const JobDesk& other);

  // "请先选择芯片型号！" when no part is confirmed; true when one is.
  bool RequireChip();
  void ShowError(const std::string& text);
  ChipControlBytes ControlBytes() const;
  // The image buffer's flash and EEP windows follow the chip record's.
  void SyncWindows();
  // The image's windows and its loaded flag, changed only where they differ: a job that shares
  // its image with others gets its own copy only when the image really changes.
  void SetImageWindows(const ImageWindows& windows);
  void SetDataLoaded(bool loaded);
  // The job's image to change: its own, copied first (views and all) while another job shares
  // it.
  ImageBuffer& OwnImage();

  Job& job() { return job_; }
  const Job& job() const { return job_; }
  WindowState& window() { return window_; }
  const WindowState& window() const { return window_; }
  HexView& flashView() { return flashView_; }
  const HexView& flashView() const { return flashView_; }
  HexView& otpView() { return otpView_; }
  const HexView& otpView() const { return otpView_; }

 private:
  void Notify(ViewPart part) {
    if (notify_) notify_(part);
  }

  Job& job_;
  InfoMemo& info_;
  Frontend& frontend_;
  Clock clock_;
  std::function<void(ViewPart)> notify_;
  WindowState window_;
  HexView flashView_;
  HexView otpView_;
  Durability saveDurability_ = Durability::Synced;
};

}  // namespace korvan
