#include "core/job/job_desk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <memory>

#include "core/chips/catalogue.h"
#include "core/chips/chip_select_form.h"
#include "core/chips/n32g430x_opt_form.h"
#include "core/chips/n32x_opt_form.h"
#include "core/chips/nxm0_opt_form.h"
#include "core/chips/option_bytes.h"
#include "core/image/image_summary.h"
#include "core/image/project_file.h"
#include "core/image/writers.h"
#include "core/job/serial_numbers.h"
#include "core/util/format.h"

namespace korvan {

namespace fs = std::filesystem;

JobDesk::JobDesk(Job& job, InfoMemo& info, Frontend& frontend, Clock clock,
                 std::function<void(ViewPart)> notify)
    : job_(job),
      info_(info),
      frontend_(frontend),
      clock_(std::move(clock)),
      notify_(std::move(notify)) {}

FileDialog OpenDialog1() {
  return {"",
          "All Files (*.*)|*.*|All Binary Files (*.Bin)|*.Bin|All Intel Hex Files (*.Hex)|*.Hex|"
          "All Motorola Hex Files(*.S19)|*.S19;|"
          "All Hex/Binary/ELF Files (*.Hex,*.S1*,*.Bin,*.elf,*.axf,*.out)|"
          "*.Hex;*.S1*;*.Bin;*.elf;*.axf;*.out|"
          "All ELF Files (*.elf,*.axf,*.out)|*.elf;*.axf;*.out",
          5, "*.BIN", ""};
}

FileDialog SaveDialog1() {
  return {"",
          "All Binary Files(*.BIN)|*.BIN|Intel Hex Files(*.HEX)|*.HEX|"
          "Motorola S-record Files(*.mot)|*.S19",
          1, "", ""};
}

FileDialog OpenDialogPrj() {
  return {"Open Korvan200xx Project File", "Korvanxx Project Files(*.kvn)|*.kvn", 1, ".kvn", ""};
}

FileDialog SaveDialogPrj() {
  return {"Save to Korvan200xx Project File", "Korvanxx Project File(*.kvn)|*.kvn", 1, ".kvn", ""};
}

FileDialog OpenDialogOTP() {
  return {"",
          "All Binary Files (*.Bin)|*.bin|All Object Files(*.S19,*.HEX)|*.S19;*.HEX|"
          "All Hex/Binary Files (*.HEX,*.S1*,*.Bin)|*.Hex;*.S1*;*.Bin",
          1, "*.bin", ""};
}

namespace {

constexpr std::uint8_t kCheckShortFlash = 0x02;  // checkCtrl bit 1: last 512 bytes left out

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The characters after the last dot of the file name, upper-cased ("" without a dot).
std::string ExtensionOf(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : Upper(name.substr(dot + 1));
}

// The file's modification time as the window shows it, "yyyy-MM-dd HH:mm:ss".
std::string ModificationText(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  std::tm tm{};
  localtime_r(&st.st_mtime, &tm);
  const LocalTime t{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return DateText(t) + " " + TimeText(t);
}

}  // namespace

namespace {

// Saves `bytes` (target address `base` + i for byte i, `count` bytes) in the format of the
// chosen SaveDialog1 entry: 1 raw binary, 2 Intel HEX, 3 S-record.
bool SaveByFilter(const FileChoice& choice, std::span<const std::uint8_t> bytes, std::uint32_t base,
                  std::uint32_t count, std::string& error) {
  const std::uint32_t last = count - 1;
  if (count == 0) return SaveBinFile(choice.path, bytes, 1, 0, error);
  switch (choice.filterIndex) {
    case 2:
      return SaveHexFile(choice.path, bytes, base, base, base + last, error);
    case 3:
      return SaveS19File(choice.path, bytes, base, base, base + last, error);
    default:
      return SaveBinFile(choice.path, bytes, 0, last, error);
  }
}

}  // namespace

ChipControlBytes JobDesk::ControlBytes() const {
  return {job_.settings.linkCtrl, job_.settings.eraseCtrl, job_.settings.checkCtrl,
          job_.settings.familyCtrl};
}

void JobDesk::SyncWindows() {
  ImageWindows windows = job_.Image().windows;
  windows.flashStart = job_.chip.flashStart;
  windows.flashEnd = job_.chip.flashEnd;
  windows.eepStart = job_.chip.eepStart;
  windows.eepEnd = job_.chip.eepEnd;
  SetImageWindows(windows);
}

void JobDesk::SetImageWindows(const ImageWindows& windows) {
  if (job_.Image().windows != windows) OwnImage().windows = windows;
}

ImageBuffer& JobDesk::OwnImage() {
  const ImageBuffer& before = job_.Image();
  // The views move to the copy by address alone: nothing of the pictures is read here.
  const std::span<const std::uint8_t> flash(before.flash.Address(), FlashPicture::size()),
      otp(before.otp);
  ImageBuffer& image = job_.MutableImage();
  if (image.flash.Address() != flash.data()) {
    const std::span<const std::uint8_t> to(image.flash.Address(), FlashPicture::size());
    flashView_.Move(flash, to);
    otpView_.Move(flash, to);
    flashView_.Move(otp, image.otp);
    otpView_.Move(otp, image.otp);
  }
  return image;
}

void JobDesk::SetDataLoaded(bool loaded) {
  if (job_.Image().dataLoaded != loaded) OwnImage().dataLoaded = loaded;
}

void JobDesk::ShowError(const std::string& text) {
  frontend_.Ask(MessageKind::Error, text, Buttons::Ok);
}

bool JobDesk::RequireChip() {
  if (job_.chip.chipConfirmed) return true;
  frontend_.Inform("请先选择芯片型号！");
  return false;
}

void JobDesk::InitView() {
  window_.ViewPageCtrl = MainTab::ChipSetting;
  job_.chip.chipConfirmed = 0;
  SetDataLoaded(false);
  job_.fileLoaded = false;

  job_.chip.flashSizeKB = 128;
  job_.chip.blockSize = 1024;
  job_.chip.blockCount = 128;
  job_.chip.familyCode = 0;
  job_.chip.partIndex = 0;
  job_.chip.chipGroup = kChipGroup;
  job_.chip.otpSize = 0;
  job_.settings = JobSettings{};
  ImageWindows windows = job_.Image().windows;
  windows.otpStart = kWindowUnset;
  windows.optionStart = kWindowUnset;
  SetImageWindows(windows);

  job_.form.MCUNameEdit.text = kNoChipText;
  window_.TabSheetEEPVisible = false;
  Notify(ViewPart::Window);
  Notify(ViewPart::Form);
}

void JobDesk::DevButtonClick() {
  {
    TNChipSelectForm dialog(job_.chip, ControlBytes());
    dialog.FormShow();
    frontend_.ShowChipDialog(dialog);
  }
  SetMCUNameEdit(job_.chip.chipName);
  job_.form.CheckBoxOpt.checked = false;
  job_.form.lbFlashSize.caption = Format("%dK", job_.chip.flashSizeKB);
  job_.form.lbEEPSize.caption = job_.chip.otpSize ? Format("%dByte", job_.chip.otpSize) : "NILL";
  Notify(ViewPart::Form);
}

void JobDesk::SetMCUNameEdit(const std::string& text) {
  job_.form.MCUNameEdit.text = text;
  MCUNameEditChange();
}

void JobDesk::MCUNameEditChange() {
  if (job_.chip.chipConfirmed) {
    SetDataLoaded(false);
    flashView_.Clear();
    info_.AddInfoLine("Chip \"" + job_.chip.chipName + "\" is Selected!");
    SetOptionByteDefaults(job_.optionBytes, job_.chip);
    ApplyChip(job_.chip, ControlBytes(), job_.form);
    SyncWindows();
    window_.TabSheetEEPVisible = false;
    job_.form.CheckBoxOpt.enabled = !job_.chip.isN32G020;
    job_.form.ButtonOpt.enabled = !job_.chip.isN32G020;
    const bool otp = job_.chip.otpPresent != 0;
    window_.ReadOTPMemory1 = otp;
    window_.WriteOTPDataMemory1 = otp;
    window_.SaveOTPDatatoFile1 = otp;
    window_.LoadOTPDataFile1 = otp;
    Notify(ViewPart::FlashView);
  }
  const bool optionBytes = job_.chip.optionByteLength != 0;
  job_.form.CheckBoxOpt.visible = optionBytes;
  job_.form.CheckBoxOpt.checked = optionBytes;
  window_.WriteOptionByte1 = optionBytes;
  window_.ReadOptionByte1 = optionBytes;
  job_.form.ButtonOpt.visible = job_.chip.chipConfirmed && optionBytes;
  Notify(ViewPart::Window);
  Notify(ViewPart::Form);
}

bool JobDesk::AssembleJobSettings() {
  if (auto error = korvan::AssembleJobSettings(job_.form, job_.chip, job_.settings)) {
    ShowError(*error);
    return false;
  }
  info_.AddLine(ControlSettingLine(job_.chip, job_.settings));
  Notify(ViewPart::Form);
  return true;
}

void JobDesk::ChkBoxAutoClick() {
  korvan::ChkBoxAutoClick(job_.form);
  Notify(ViewPart::Form);
}

void JobDesk::CheckBoxCtrlClick() {
  korvan::CheckBoxCtrlClick(job_.form, job_.settings);
  Notify(ViewPart::Form);
}

void JobDesk::CheckBoxSNClick() {
  korvan::CheckBoxSNClick(job_.form, job_.settings);
  Notify(ViewPart::Form);
}

void JobDesk::ChkBoxSNDPClick() {
  if (auto error = korvan::ChkBoxSNDPClick(job_.form)) ShowError(*error);
  Notify(ViewPart::Form);
}

void JobDesk::AdvanceSerialNumbers() {
  korvan::AdvanceSerialNumbers(job_.form, job_.settings);
  Notify(ViewPart::Form);
}

void JobDesk::ShowImageSummary() {
  const ImageSummary summary =
      SummarizeImage(job_.Image(), job_.chip, job_.settings.checkCtrl, job_.fileLoaded);
  for (const ImageSummary::Line& line : summary.lines) {
    if (line.timed) {
      info_.AddInfoLine(line.text);
    } else {
      info_.AddLine(line.text);
    }
  }
  job_.settings.fileCrc = summary.fileCrc;
  job_.settings.fileSum = summary.fileSum;
  if (job_.Image().fileChecksum != summary.fileChecksum) {
    OwnImage().fileChecksum = summary.fileChecksum;
  }
  window_.StatusBar1[0] = summary.panel0;
  window_.StatusBar1[1] = summary.panel1;
  Notify(ViewPart::StatusBar);
}

void JobDesk::FillFlashView(std::uint32_t from, std::uint32_t to) {
  const std::uint64_t length = std::uint64_t{to} - from + 1;
  const std::uint64_t firstRow = (from - job_.chip.flashStart) / 16u;
  std::int64_t rows = static_cast<std::int64_t>(length / 16 + (length % 16 ? 1 : 0));
  if (job_.settings.checkCtrl & kCheckShortFlash) rows -= 32;
  const FlashPicture& flash = job_.Image().flash;
  if (rows <= 0 || firstRow * 16 >= flash.size()) {
    flashView_.Clear();
  } else {
    // The rows shown, as far as the picture goes.
    const std::uint64_t end =
        std::min<std::uint64_t>((firstRow + static_cast<std::uint64_t>(rows)) * 16, flash.size());
    flashView_.Show(flash.First(end).subspan(firstRow * 16), from & ~0xFu,
                    static_cast<std::size_t>(rows));
  }
  Notify(ViewPart::FlashView);
}

void JobDesk::FillOtpView() {
  if (job_.chip.otpPresent) {
    ShowOtpData();
    return;
  }
  if (job_.chip.otpSize != 0) {
    window_.TabSheetEEPVisible = true;
    window_.TabSheetEEPCaption = "OTP Data";
    otpView_.Show(job_.Image().otp, job_.chip.eepStart, job_.chip.otpSize / 16u);
  } else {
    window_.TabSheetEEPVisible = false;
  }
  Notify(ViewPart::Window);
  Notify(ViewPart::OtpView);
}

void JobDesk::ShowOtpData() {
  window_.TabSheetEEPVisible = true;
  window_.TabSheetEEPCaption = "OTP Data";
  const std::uint32_t last = std::uint32_t{job_.chip.otpSize} - 1;
  job_.settings.otpCrc = CRC(job_.Image().otp, 0, last);
  job_.settings.otpSum = static_cast<std::uint16_t>(ACC(job_.Image().otp, 0, last));
  info_.AddInfoLine(Format("OTP Data CRC  Sum = 0x%.4X", job_.settings.otpCrc));
  info_.AddInfoLine(Format("OTP Data CheckSum = 0x%.4X", job_.settings.otpSum));
  otpView_.Show(job_.Image().otp, job_.Image().windows.otpStart, job_.chip.otpSize / 16u);
  Notify(ViewPart::Window);
  Notify(ViewPart::OtpView);
}

void JobDesk::RefreshView(bool withViews) {
  ShowImageSummary();
  if (withViews) {
    FillFlashView(job_.chip.flashStart, job_.chip.flashEnd);
    FillOtpView();
  }
  window_.ViewPageCtrl = MainTab::ChipSetting;
  Notify(ViewPart::Window);
}

void JobDesk::FileOpenBtnClick() {
  LoadObjectFileCommand(false);
}

void JobDesk::SpdBtnLoadMoreClick() {
  LoadObjectFileCommand(true);
}

LoadResult JobDesk::LoadObjectFileCommand(bool more, std::optional<ObjectFileKind> kind) {
  LoadResult refused;
  refused.status = LoadStatus::Cancelled;
  if (!RequireChip()) return refused;
  const auto choice = frontend_.ChooseOpenFile(OpenDialog1());
  if (!choice) return refused;
  const std::string& path = choice->path;
  // Said once the file is open and its headers are accepted, before its records are read: a
  // refused file is never announced as loaded.
  const LoadResult result = LoadObjectFile(
      path, OwnImage(), job_.optionBytes, frontend_, more ? LoadMode::Overlay : LoadMode::NewImage,
      kind.value_or(ObjectFileKindOf(path)),
      [&] { info_.AddInfoLine(Format("File \"%s\" has been loaded!", path.c_str())); });
  if (result.status == LoadStatus::IoError) ShowError(result.message);
  if (result.status == LoadStatus::IoError || result.status == LoadStatus::Cancelled) {
    return result;
  }

  if (!more) {
    window_.DateEdit = ModificationText(path);
    job_.settings.loadedFileName = fs::path(path).filename().string();
    job_.settings.loadedFileNameGbk.clear();
    window_.StatusBar1[2] = path;
  }
  job_.fileLoaded = true;
  RefreshView(true);
  UpdateProgramOptionByteBox();
  return result;
}

void JobDesk::LoadOptionByteFile1Click() {
  if (!RequireChip()) return;
  const auto choice = frontend_.ChooseOpenFile(OpenDialog1());
  if (!choice) return;
  const std::string& path = choice->path;
  const std::string ext = ExtensionOf(path).substr(0, 3);

  std::string contents, error;
  const bool text = ext == "HEX" || (ext.size() == 3 && ext[0] == 'S' && ext[1] == '1' &&
                                     std::isdigit(static_cast<unsigned char>(ext[2])));
  if ((text || ext == "BIN") && !ReadWholeFile(path, contents, error)) {
    ShowError(error);
    return;
  }
  job_.optionBytes.fill(0xFF);
  if (text) {
    // The option-byte window lies at the option bytes' own address while an option-byte file
    // is read, so that its records land in the image rather than outside every window.
    const std::uint32_t savedStart = OwnImage().windows.optionStart;
    OwnImage().windows.optionStart = kOptionByteAddress;
    const ReadTarget target{job_.optionBytes, kOptionByteAddress, &OwnImage(), job_.optionBytes};
    ReadExtent extent;
    if (ext == "HEX") {
      LoadHexText(contents, target, frontend_, extent);
    } else {
      LoadS19Text(contents, target, frontend_, extent);
    }
    OwnImage().windows.optionStart = savedStart;
  } else if (ext == "BIN") {
    const std::size_t n = std::min(contents.size(), job_.optionBytes.size());
    std::copy_n(contents.begin(), n, job_.optionBytes.begin());
  }
  ShowOptionBytes();
}

void JobDesk::SaveOptionByte1Click() {
  const auto choice = frontend_.ChooseSaveFile(SaveDialog1());
  if (!choice) return;
  std::string error;
  if (!SaveByFilter(*choice, job_.optionBytes, kOptionByteAddress, kOptionByteImageSize, error)) {
    ShowError(error);
  }
}

bool JobDesk::FileSaveBtnClick() {
  if (!job_.Image().dataLoaded) return false;
  const auto choice = frontend_.ChooseSaveFile(SaveDialog1());
  if (!choice) return false;
  std::string error;
  bool ok = true;
  // The flash window's bytes (the picture's end bounds a window that runs past it).
  const std::uint32_t last = job_.chip.flashEnd - job_.chip.flashStart;
  const std::span<const std::uint8_t> window = job_.Image().flash.First(
      std::min<std::uint64_t>(std::uint64_t{last} + 1, FlashPicture::size()));
  switch (choice->filterIndex) {
    case 2:
      ok = SaveHexFile(choice->path, window, job_.chip.flashStart, job_.chip.flashStart,
                       job_.chip.flashEnd, error, saveDurability_);
      break;
    case 3:
      ok = SaveS19File(choice->path, window, job_.chip.flashStart, job_.chip.flashStart,
                       job_.chip.flashEnd, error, saveDurability_);
      break;
    default:
      ok = SaveBinFile(choice->path, window, 0, last, error, saveDurability_);
      break;
  }
  if (!ok) ShowError(error);
  return ok;
}

bool JobDesk::SavetoProjectFile1Click() {
  if (!job_.chip.chipConfirmed) {
    frontend_.Inform("未选择芯片型号！");
    return false;
  }
  if (!job_.Image().dataLoaded) {
    frontend_.Inform("未加载目标文件！");
    return false;
  }
  const auto choice = frontend_.ChooseSaveFile(SaveDialogPrj());
  if (!choice) return false;
  job_.settings.snDisplayFlags =
      (job_.form.ChkBoxSNDP.checked ? 0x01 : 0) | (job_.form.SNOrderChk.checked ? 0x04 : 0);
  const OptionChecksum sum = OptionSum(job_.optionBytes);
  job_.settings.optionSum = sum.optionSum;
  job_.settings.optionSumInv = sum.optionSumInv;
  if (!AssembleJobSettings()) return false;

  ProjectContent content;
  std::string error;
  if (!MakeProjectContent(job_.Image(), job_.chip, job_.settings, job_.optionBytes,
                          job_.chip.chipGroup, job_.projectMode, DefaultRandomBytes(), content,
                          error) ||
      !WriteProjectFile(choice->path, content, frontend_, error, DefaultRandomBytes(),
                        saveDurability_)) {
    ShowError(error);
    return false;
  }
  info_.AddInfoLine(kProjectCreatedPrefix + choice->path);
  return true;
}

bool JobDesk::SpdBtnLdPrjClick() {
  const auto choice = frontend_.ChooseOpenFile(OpenDialogPrj());
  if (!choice) return false;
  job_.fileLoaded = false;
  info_.AddInfoLine(Format("Load Tobrin Project file of \"%s\" at ", choice->path.c_str()) +
                    DateText(clock_()));
  ProjectContent content;
  std::string error;
  const int result = ReadProjectFile(choice->path, frontend_, content, error);
  if (result == kProjectIoError) ShowError(error);
  if (result != kProjectOk) return false;

  job_.projectMode =
      RestoreProject(content, OwnImage(), job_.chip, job_.settings, job_.optionBytes);
  // The part-name change resets option bytes, flash window and control bytes for a newly
  // chosen part; a project brings its own, so they are taken from the project once more.
  const ChipRecord chip = job_.chip;
  const JobSettings settings = job_.settings;
  const OptionByteImage optionBytes = job_.optionBytes;
  const ImageWindows windows = OwnImage().windows;
  SetMCUNameEdit(job_.chip.chipName);
  window_.StatusBar1[2] = content.objectFileName;
  job_.chip = chip;
  job_.settings = settings;
  job_.optionBytes = optionBytes;
  OwnImage().windows = windows;

  RefreshView(true);
  OwnImage().dataLoaded = true;
  job_.chip.chipConfirmed = 1;
  SetFormFromSettings(job_.form, job_.settings);
  ShowOptionBytes();
  job_.chip.isN32G020 = (job_.settings.familyCtrl & 0x01) ? 1 : 0;
  job_.chip.isN32G430G401 = (job_.settings.familyCtrl & 0x04) ? 1 : 0;
  Notify(ViewPart::Form);
  Notify(ViewPart::StatusBar);
  return true;
}

void JobDesk::LoadOTPDataFile1Click() {
  if (!RequireChip()) return;
  const auto choice = frontend_.ChooseOpenFile(OpenDialogOTP());
  if (!choice) return;
  const std::string& path = choice->path;
  const std::string ext = ExtensionOf(path);

  std::string contents, error;
  const std::uint64_t limit = (ext == "HEX" || ext == "S19") ? UINT64_MAX : kBinFileLimit;
  if (!ReadWholeFile(path, contents, error, limit)) {
    ShowError(error);
    return;
  }
  OwnImage().otp.fill(0xFF);
  const LocalTime now = clock_();
  info_.AddLine(Format("> Load OTP Data file of \"%s\" at ", path.c_str()) + DateText(now) + "," +
                TimeText(now));
  const ReadTarget target{OwnImage().otp, OwnImage().windows.otpStart, &OwnImage(),
                          job_.optionBytes};
  ReadExtent extent;
  if (ext == "HEX") {
    LoadHexText(contents, target, frontend_, extent);
  } else if (ext == "S19") {
    LoadS19Text(contents, target, frontend_, extent);
  } else {
    std::copy_n(contents.begin(), std::min(contents.size(), OwnImage().otp.size()),
                OwnImage().otp.begin());
  }
  ShowOtpData();
}

void JobDesk::SaveOTPDatatoFile1Click() {
  const auto choice = frontend_.ChooseSaveFile(SaveDialog1());
  if (!choice) return;
  std::string error;
  if (!SaveByFilter(*choice, job_.Image().otp, job_.chip.eepStart, job_.chip.otpSize, error))
    ShowError(error);
}

void JobDesk::ShowOptionBytes() {
  if (job_.chip.isN32G020) return;
  for (const std::string& line : DumpOptionBytes(job_.optionBytes, job_.chip.optionByteLength)) {
    info_.AddInfoLine(line);
  }
}

void JobDesk::ButtonOptClick() {
  std::unique_ptr<OptionByteEditor> editor;
  if (job_.chip.familyCode == kFamilyM0) {
    editor = std::make_unique<TNxM0OptBForm>(job_.optionBytes, job_.chip, frontend_);
  } else if (job_.chip.isN32G430G401) {
    editor = std::make_unique<TN32G430xOptBForm>(job_.optionBytes, job_.chip, frontend_);
  } else {
    editor = std::make_unique<TN32xOptBForm>(job_.optionBytes, job_.chip, frontend_);
  }
  editor->FormShow();
  frontend_.ShowOptionByteEditor(*editor);
  editor.reset();
  UpdateProgramOptionByteBox();
}

void JobDesk::UpdateProgramOptionByteBox() {
  job_.form.CheckBoxOpt.checked = OptionBytesChanged(job_.optionBytes);
  Notify(ViewPart::Form);
}

void JobDesk::AdoptJob(const JobDesk& other) {
  job_ = other.job_;
  flashView_ = other.flashView_;
  otpView_ = other.otpView_;
  const WindowState& shown = other.window_;
  window_.TabSheetEEPVisible = shown.TabSheetEEPVisible;
  window_.TabSheetEEPCaption = shown.TabSheetEEPCaption;
  window_.LoadOTPDataFile1 = shown.LoadOTPDataFile1;
  window_.SaveOTPDatatoFile1 = shown.SaveOTPDatatoFile1;
  window_.WriteOTPDataMemory1 = shown.WriteOTPDataMemory1;
  window_.ReadOTPMemory1 = shown.ReadOTPMemory1;
  window_.WriteOptionByte1 = shown.WriteOptionByte1;
  window_.ReadOptionByte1 = shown.ReadOptionByte1;
  // File checksum, chip checksum and file name; the counter panel stays the station's own.
  std::copy_n(shown.StatusBar1.begin(), 3, window_.StatusBar1.begin());
  window_.DateEdit = shown.DateEdit;
  for (ViewPart part : {ViewPart::Form, ViewPart::Window, ViewPart::StatusBar, ViewPart::FlashView,
                        ViewPart::OtpView}) {
    Notify(part);
  }
}

}  // namespace korvan
