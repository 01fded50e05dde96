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
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/app/log_file.h"
#include "core/app/places.h"
#include "core/chips/option_bytes.h"
#include "core/image/firmware_image.h"
#include "core/image/image_buffer.h"
#include "core/image/project.h"
#include "core/image/readers.h"
#include "core/job/frontend.h"
#include "core/job/job.h"
#include "core/job/job_desk.h"
#include "core/job/job_form.h"
#include "core/link/channel.h"
#include "core/link/channel_link.h"
#include "core/link/link_engine.h"
#include "core/model/chip_record.h"
#include "core/model/job_settings.h"
#include "core/model/settings_block.h"
#include "core/protocol/codec.h"
#include "core/serial/low_latency.h"
#include "core/serial/port.h"
#include "core/serial/port_list.h"
#include "core/util/clock.h"
#include "core/util/event_queue.h"

namespace korvan {

class StationListener : public InfoMemoListener {
 public:
  void InfoLineAdded(const std::string&) override {}
  void InfoCleared() override {}
  virtual void ViewChanged(ViewPart) {}
  // "退出": the window closes (and then calls FormClose).
  virtual void CloseRequested() {}
  // An operation on `channel` (1..4) ended: by its last reply, a failure or a time-out. The
  // outcome is also kept as the channel's lastOutcome. Called once the reply or tick that ended
  // it has been handled completely, so the listener may start the next command from here.
  virtual void OperationEnded(int channel, const OperationOutcome& outcome) {
    (void)channel;
    (void)outcome;
  }
  // A programmer working on its own finished a part: the result code of its progress report
  // (6 programmed, 0x1E read protection not set, anything else a failure code).
  virtual void StandAloneResult(int channel, std::uint8_t code) {
    (void)channel;
    (void)code;
  }
  // Channels were bound, found, lost or reset (device search, list refresh, identity reply,
  // hang-up, upgrade start).
  virtual void ChannelsChanged() {}
};

// Where the station finds its executable folder and environment; tests give their own.
struct StationEnvironment {
  StationEnvironment() = default;
  StationEnvironment(std::filesystem::path exe, std::string stateHome, std::string homeDir)
      : exeDir(std::move(exe)), xdgStateHome(std::move(stateHome)), home(std::move(homeDir)) {}

  std::filesystem::path exeDir;
  std::string xdgStateHome;
  std::string home;
  std::string xdgDataHome;
  // Not run from the build tree: logs and records go to the user's state folder.
  bool installed = false;
  // The system's folder for the firmware image (/usr/share/korvan200nat; empty: none).
  std::filesystem::path systemDataDir;

  static StationEnvironment Current();
};

class Station;

// What follows a step word of the command line: nothing, "=OUT" (the file the flash read is
// saved to) or "=ADDR,LEN" (the read-address dialog's entry).
enum class StepArgument { None, OutputFile, AddressAndLength };

// Which channels an operation's command starts it on.
enum class OperationChannels {
  Idle,   // every connected channel with no operation running
  First,  // channel 1 alone, once it is connected
  Own,    // its handler picks the channels itself (read address, monitor, upgrade)
};

// How an operation's command starts it.
struct OperationFlags {
  OperationChannels channels;
  bool needsImage;  // refused unless data are loaded
  bool assembles;   // reads the job form into the job settings first
  // Parts get serial numbers from it: the station's serial-number check comes first. These are
  // also the commands that put the job into programmers or parts: the job check comes before.
  bool numbersParts = false;
};

// One operation the front ends offer: what its channel's link runs (LinkOperation: pending
// command, gauge, time-out, names, block transfer), how each front end starts it, how its
// command starts it on the channels (checks, panel line, first request) and the reply step that
// takes its replies. Station::Operations() lists them all, every slot named; the commands, the
// links, the records, the command line's steps, the window's commands and the fuzzers enumerate
// that list. A new operation is a row, its reply step and its request sender.
struct StationOperation {
  LinkOperation link;  // what the channel's link runs
  const char* step;    // korvan-cli run's step word
  StepArgument argument;
  const char* handler;       // the station's handler, by name
  void (Station::*start)();  // ... and the handler itself
  // The window's menu entry and tool button that start it (nullptr: none).
  std::array<const char*, 2> controls;
  // The reply step of the pending command, nullptr when another row carries it (Auto starts
  // with the blank check's) or there is none.
  void (Station::*reply)(int n, std::uint8_t status, std::size_t length) = nullptr;
  OperationFlags flags;
  void (Station::*prepare)() = nullptr;  // runs first, before any check (nullptr: nothing)
  const char* message = nullptr;         // the panel line as it starts on a channel, %d the channel
  void (Station::*send)(int n);          // the first request
};

// The Frontend the station asks through: every question, dialog and file choice is modal, and
// while one is open the station's links stall (see Station::ReceiveData and Timer1Timer).
class ModalFrontend final : public Frontend {
 public:
  ModalFrontend(Frontend& inner, int& depth) : inner_(inner), depth_(depth) {}
  Answer Ask(MessageKind kind, const std::string& text, Buttons buttons) override;
  std::optional<FileChoice> ChooseOpenFile(const FileDialog& dialog) override;
  std::optional<FileChoice> ChooseSaveFile(const FileDialog& dialog) override;
  std::optional<std::string> AskLoadOffset(const std::string& shown) override;
  std::optional<ReadAddressEntry> AskReadAddress(const std::string& shownAddress,
                                                 int shownLength) override;
  void ShowChipDialog(TNChipSelectForm& dialog) override;
  void ShowOptionByteEditor(OptionByteEditor& editor) override;

 private:
  // Counts the open question for as long as `ask` runs.
  template <typename Ask>
  auto Modal(Ask ask) {
    struct Open {
      int& depth;
      explicit Open(int& d) : depth(d) { ++depth; }
      ~Open() { --depth; }
    } open(depth_);
    return ask();
  }
  Frontend& inner_;
  int& depth_;
};

class Station : private LinkHost {
 public:
  // Every operation the front ends offer.
  static std::span<const StationOperation> Operations();
  // The row whose reply step takes the replies of `pending`; nullptr when none does.
  static const StationOperation* OperationAwaiting(std::uint8_t pending);
  // The row of the command `handler` (one of the handlers the rows name).
  static const StationOperation& OperationStartedBy(void (Station::*handler)());

  // `ports` makes the four channels' ports and lists the ports a search may bind: the
  // system's serial devices unless given (an in-process emulator, a test's scripted line).
  // The four channels' links go into `engine`, the run's link engine shared with other
  // stations (a gang of programmers), which must outlive the station; into an engine of the
  // station's own when none is given (the window).
  explicit Station(Frontend& frontend, Clock clock = SystemLocalTime,
                   PortProvider ports = SystemPortProvider(), LinkEngine* engine = nullptr);
  ~Station() override;
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Listeners hear of every change the front ends show; any number may listen, each told in
  // the order they were added. SetListener replaces them all with `listener` (none when null).
  void SetListener(StationListener* listener);
  void AddListener(StationListener* listener);
  void RemoveListener(StationListener* listener);
  // True while a question, dialog or file choice is open: the links stall until it is answered.
  bool QuestionOpen() const { return modalDepth_ > 0; }
  // The door the station asks through (modal: the links stall while a question is open), for
  // questions a front end asks on the station's behalf.
  Frontend& frontend() { return frontend_; }

  // --- Start-up and shutdown ---
  // First showing: log folder, channel reset, view and job defaults, option-byte defaults, the
  // programmers' firmware image, the port list and a device search (set the port sources
  // before).
  void FormShow(const StationEnvironment& environment = StationEnvironment::Current());
  void InitView() { desk_.InitView(); }
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
  void DevButtonClick() { desk_.DevButtonClick(); }
  // Sets MCUNameEdit's text, which always runs MCUNameEditChange.
  void SetMCUNameEdit(const std::string& text) { desk_.SetMCUNameEdit(text); }
  void MCUNameEditChange() { desk_.MCUNameEditChange(); }

  // --- Job settings and serial numbers ---
  // Reads the form into the job settings and adds the control line. When a number text is no
  // number, shows the conversion error and returns false: the caller sends nothing.
  bool AssembleJobSettings() { return desk_.AssembleJobSettings(); }
  void ChkBoxAutoClick() { desk_.ChkBoxAutoClick(); }
  void CheckBoxCtrlClick() { desk_.CheckBoxCtrlClick(); }
  void CheckBoxSNClick() { desk_.CheckBoxSNClick(); }
  void ChkBoxSNDPClick() { desk_.ChkBoxSNDPClick(); }
  void AdvanceSerialNumbers() { desk_.AdvanceSerialNumbers(); }

  // --- Information panel and views ---
  void AddInfoLine(std::string_view text) { info_.AddInfoLine(text); }
  // "Job fingerprint: " and its first 16 hex digits (job_fingerprint.h), when the job has one:
  // after a job was loaded, and as Download, Auto and Program start.
  void ShowJobFingerprint();
  void ClearInformation1Click() { info_.ClearInformation1Click(); }
  std::string CopytoCli1Click(std::string_view selectedText) const {
    return info_.CopytoCli1Click(selectedText);
  }
  // Ranges and checksums of the flash window after a load; the checksums feed the job settings
  // and the status bar.
  void ShowImageSummary() { desk_.ShowImageSummary(); }
  void FillFlashView(std::uint32_t from, std::uint32_t to) { desk_.FillFlashView(from, to); }
  void FillOtpView() { desk_.FillOtpView(); }
  void ShowOtpData() { desk_.ShowOtpData(); }
  void RefreshView(bool withViews) { desk_.RefreshView(withViews); }

  // --- File commands ---
  void FileOpenBtnClick() { desk_.FileOpenBtnClick(); }
  void SpdBtnLoadMoreClick() { desk_.SpdBtnLoadMoreClick(); }
  // Load Object File (`more` false) or Load More Data (true) with the reader chosen by `kind`,
  // by the file's extension when not given. Returns the reader's result; Cancelled when the
  // command was refused or the dialog cancelled.
  LoadResult LoadObjectFileCommand(bool more, std::optional<ObjectFileKind> kind = std::nullopt) {
    return desk_.LoadObjectFileCommand(more, kind);
  }
  void LoadOptionByteFile1Click() { desk_.LoadOptionByteFile1Click(); }
  void SaveOptionByte1Click() { desk_.SaveOptionByte1Click(); }
  // The save and project commands return false when they were refused, cancelled or failed.
  bool FileSaveBtnClick() { return desk_.FileSaveBtnClick(); }
  bool SavetoProjectFile1Click() { return desk_.SavetoProjectFile1Click(); }
  bool SpdBtnLdPrjClick() { return desk_.SpdBtnLdPrjClick(); }

  // --- OTP data and option bytes ---
  void LoadOTPDataFile1Click() { desk_.LoadOTPDataFile1Click(); }
  void SaveOTPDatatoFile1Click() { desk_.SaveOTPDatatoFile1Click(); }
  void ShowOptionByte1Click() { ShowOptionBytes(); }
  void ShowOptionBytes() { desk_.ShowOptionBytes(); }
  void ButtonOptClick() { desk_.ButtonOptClick(); }
  void UpdateProgramOptionByteBox() { desk_.UpdateProgramOptionByteBox(); }

  // --- State, for the window and the commands ---
  // The job: part, image, option bytes, settings and the form's values.
  const Job& job() const { return job_; }
  JobForm& form() { return job_.form; }
  const JobForm& form() const { return job_.form; }
  const JobSettings& settings() const { return job_.settings; }
  JobSettings& settings() { return job_.settings; }
  const ChipRecord& chip() const { return job_.chip; }
  ChipRecord& chip() { return job_.chip; }
  const OptionByteImage& optionBytes() const { return job_.optionBytes; }
  OptionByteImage& optionBytes() { return job_.optionBytes; }
  const ImageBuffer& image() const { return job_.Image(); }
  // The image to change (the station's own: copied first while another station shares it).
  ImageBuffer& image() { return OwnImage(); }
  // Takes `other`'s job as it stands (part, image, option bytes, settings, form, the views
  // and status-bar panels of the loaded file) without reading a file or adding a panel line:
  // the stations of a gang run one job, loaded once. The image is shared until either
  // station changes it.
  void AdoptJob(const Station& other) { desk_.AdoptJob(other.desk_); }
  // The job's commands, for a caller that runs them directly (the command line's inputs).
  JobDesk& desk() { return desk_; }
  // While set, the stations that took this one's job follow its image as it changes (see
  // Job::SetLeading); they take the job again afterwards.
  void LeadJob(bool leading) { job_.SetLeading(leading); }
  const InfoMemo& info() const { return info_; }
  InfoMemo& info() { return info_; }
  const WindowState& window() const { return window_; }
  // The operator turned to another page of ViewPageCtrl.
  void SelectPage(MainTab page) { window_.ViewPageCtrl = page; }
  const HexView& HexViewer() const { return flashView_; }
  const HexView& EEPDataView() const { return otpView_; }
  // Channel `number` (1..4) as the front ends see it: read only, current on the station's
  // thread. Its state is assigned by its link alone; front ends learn of changes through the
  // listeners.
  const ChannelSnapshot& channel(int number) const { return Link(number).snapshot(); }
  // For tests and fuzzers that put a channel into a given state before they drive it.
  ChannelState& ChannelStateForTest(int number) { return Link(number).StateForTest(); }
  const FirmwareImage& firmware() const { return firmware_; }
  bool firmwarePresent() const { return firmwarePresent_; }
  bool fileLoaded() const { return job_.fileLoaded; }
  bool dataLoaded() const { return job_.Image().dataLoaded; }
  std::int32_t totalCounter() const { return totalCounter_; }
  const LogLocation& logLocation() const { return logs_; }
  const ProjectMode& projectMode() const { return job_.projectMode; }
  const std::filesystem::path& exeDir() const { return exeDir_; }

  // Sets the total counter and its status-bar panel "计数器：%d".
  void SetTotalCounter(std::int32_t value);

  // --- Ports and discovery ---
  // The queue the four ports post their events to (their link engine's): the front end drains
  // it on the station's thread (the core's EventLoop with AddQueue, the window with a notifier
  // on its NotifyFd).
  EventQueue& serialEvents() { return engine_->events(); }
  // SPComm1..SPComm4, n = 1..4.
  Port& port(int n) { return Link(n).port(); }
  // Where ListSerialPorts looks; the system's sysfs, /dev and KORVAN_PORTS unless set.
  void SetPortSources(PortSources sources) { portSources_ = std::move(sources); }
  const PortSources& portSources() const { return portSources_; }
  // An ordering and selection of the ports listed before the device search binds them: entry
  // i of the result goes to channel i + 1, and an empty entry leaves that channel without a
  // port. Unset: the ports as listed. (The command line binds channels to adapters this way.)
  using PortArrangement =
      std::function<std::vector<std::string>(const std::vector<std::string>& listed)>;
  void SetPortArrangement(PortArrangement arrange) { arrangePorts_ = std::move(arrange); }
  // How a channel's port reaches the driver and sysfs for low latency (the sysfs root is
  // always that of the port sources); tests put their own in place.
  void SetLowLatencyAccess(LowLatencyAccess access) { lowLatencyAccess_ = std::move(access); }
  // Fills the port list (ComboBoxCOM) with the ports that may carry a programmer; its text
  // becomes the last port, or "无可用的串口" when there is none. The list is not cleared here.
  void ListSerialPorts();
  // "刷新列表": every channel idle and its port closed, the port list filled afresh.
  void FreshBtnClick();
  // "连接设备": the port list afresh, the first four ports bound to channels 1..4 and each
  // sent the identity request. A port that cannot be opened shows its error and ends the
  // search there.
  void BitBtnFindDevClick();
  // The hidden reconnect button: channel `index` + 1 takes port-list entry `index` afresh and
  // is sent the identity request. An index beyond the channels or the list does nothing.
  void BitBtn1Click(int index);
  // Sends the identity request on channel `index` + 1's port.
  void SendIdentityRequest(int index);

  // --- Port events of channel n (1..4), as the ports raise them ---
  // Received bytes: the time-out restarts, complete frames are handled at once.
  void ReceiveData(int channel, std::span<const std::uint8_t> block);
  // A line error: received bytes dropped, the channel no longer busy.
  void ReceiveError(int channel);
  // The port is gone: closed, the channel not connected, its port-list entry removed.
  void RequestHangup(int channel);

  // --- The 10 ms tick ---
  void Timer1Timer();

  // --- Keys ---
  // The blank key or Enter starts Auto from anywhere in the window.
  void FormKeyPress(char key);

  // --- Operation commands: each fans out to every connected, idle channel ---
  void SpdBtnDownLoadClick();
  void AutoSpdBtnClick();
  void SpdBtnBlankChkClick();
  void SpdBtnEraseClick();
  void SpdBtnProgClick();
  void SpdBtnVerifyClick();
  void SpdBtnWrtOPBClick();
  void ReadOptionByte1Click();
  void ReadMG32xxChipID1Click();
  void ReadChipMemoryX1Click();  // channel 1 only
  void WriteOTPDataMemory1Click();
  void ReadOTPMemory1Click();  // channel 1 only
  void ReadAddress1Click();    // channel 1 only, after the read-address dialog
  void EnterOffLineMonitor1Click();
  void DoFirmWareUpgrade1Click();

  // --- Programmer firmware upgrade ---
  // Starts sending the firmware image to channel n; nothing when no image was loaded.
  void StartFirmwareUpgrade(int channel);

  // --- Queries ---
  // True while any channel has an operation running.
  bool AnyBusy() const;
  // The identity text of channel n's programmer ("" until one answered).
  const std::string& IdentityText(int n) const { return channel(n).identity; }
  // Counters of the stand-alone results, over all channels.
  std::uint32_t totalOk() const { return totalOk_; }
  std::uint32_t totalNg() const { return totalNg_; }
  std::uint32_t resultCount() const { return resultCount_; }

  // The precondition of every command whose parts get serial numbers (Download, Auto,
  // Program), however it is started (menu, button, key): false refuses the command before
  // anything is shown or sent. The window asks its record store and line database here; unset,
  // nothing is asked.
  using SerialNumberCheck = std::function<bool()>;
  void SetSerialNumberCheck(SerialNumberCheck check) { serialNumberCheck_ = std::move(check); }

  // The precondition of every command that puts the job into programmers or parts (Download,
  // Auto, Program), asked first with the job's fingerprint (job_fingerprint.h): false refuses
  // the command before anything is shown or sent (the check has told why). A job that has no
  // fingerprint (no part, no data, a number text that is no number) is refused by the command's
  // own checks. Unset, every job may run.
  using JobCheck = std::function<bool(const std::string& fingerprint)>;
  void SetJobCheck(JobCheck check) { jobCheck_ = std::move(check); }

  // The fingerprint (64 hex digits) of the job the last command that carries the job started
  // on channel n with (its Download, Auto or Program); "" before any.
  const std::string& ChannelJobFingerprint(int n) const {
    return channelFingerprint_.at(static_cast<std::size_t>(n - 1));
  }

  // The generator of the random bytes (0..254) in requests; tests give a fixed one.
  void SetRandom(protocol::RandomByte random) { random_ = std::move(random); }

 private:
  ChannelLink& Link(int n) { return engine_->Link(EngineChannel(n)); }
  const ChannelLink& Link(int n) const { return engine_->Link(EngineChannel(n)); }
  // The engine's number of the station's channel n (1..4).
  int EngineChannel(int n) const;
  // Channel n read only: its link alone assigns it, through its named steps.
  const ChannelState& Channel(int number) const { return Link(number).state(); }
  // Calls `tell` on every listener (a copy of the list: a listener may add or remove some).
  template <typename Tell>
  void TellListeners(Tell tell) {
    const std::vector<StationListener*> listeners = listeners_;
    for (StationListener* l : listeners) tell(*l);
  }
  // Hands the deferred blocks of every channel to its receive path once no question is open.
  void ReceiveDeferred();
  ChipControlBytes ControlBytes() const { return desk_.ControlBytes(); }
  void SyncWindows() { desk_.SyncWindows(); }
  void SetImageWindows(const ImageWindows& windows) { desk_.SetImageWindows(windows); }
  void SetDataLoaded(bool loaded) { desk_.SetDataLoaded(loaded); }
  ImageBuffer& OwnImage() { return desk_.OwnImage(); }
  void Notify(ViewPart part);
  bool RequireChip() { return desk_.RequireChip(); }
  void ShowError(const std::string& text) { desk_.ShowError(text); }

  // The link (station_link.cpp and friends): the channels' links serve the station.
  void SetUpLink();
  bool LinksStalled() const override { return QuestionOpen(); }
  void FrameReceived(int n, std::span<const std::uint8_t> frame) override;
  void StandAloneReportReceived(int n, std::span<const std::uint8_t> packet) override;
  void BeforeTick() override { ReceiveDeferred(); }
  void ChannelTimedOut(int n, const LinkTick& tick) override;
  void AfterTick(bool gaugesMoved) override;
  const LinkOperation* AwaitedOperation(std::uint8_t pending) const override {
    const StationOperation* op = OperationAwaiting(pending);
    return op ? &op->link : nullptr;
  }
  protocol::LinkBuffers& Buffers(int n) { return Link(n).buffers(); }
  // Binds channel n to `portName` and opens it; false (the error shown) when it cannot open.
  bool OpenChannelPort(int n, const std::string& portName);
  // Channel n's decoded packet of `length` bytes.
  std::span<const std::uint8_t> Packet(int n, std::size_t length);
  void HandleIdentityReply(int n, std::span<const std::uint8_t> frame);
  void DispatchReply(int n, std::span<const std::uint8_t> frame);

  // The end-operation step with the gauge redrawn: ends the operation, adds `text` as an
  // information message when `addLine` is set, and records the outcome.
  void FinishOperation(int n, OperationResult result, std::uint8_t status, std::string text,
                       bool addLine = true, std::span<const std::uint8_t> chipUid = {});
  // "芯片1 ：%s" with the status text; "编程器1  ：%s" for a failed download.
  std::string StatusLine(int n, std::uint8_t code, std::uint8_t operation) const;
  void FailOperation(int n, std::uint8_t code);
  // Tells the listener of the operations ended since the last call.
  void NotifyEnded();

  // Reply steps by pending command (see Operations()); `s` is the reply check's status,
  // `length` the decoded packet's length.
  void DownloadStep(int n, std::uint8_t s, std::size_t length);
  void EraseResult(int n, std::uint8_t s, std::size_t length);
  void BlankCheckResult(int n, std::uint8_t s, std::size_t length);
  void ProgramStep(int n, std::uint8_t s, std::size_t length);
  void VerifyStep(int n, std::uint8_t s, std::size_t length);
  void ReadStep(int n, std::uint8_t s, std::size_t length);
  // The job's part in a block transfer: what it does with block `index` read back (kStatusOk
  // when taken, else the status the operation fails with), and what follows the last block.
  using BlockTaker = std::uint8_t (Station::*)(int n, std::uint16_t index,
                                               std::span<const std::uint8_t> data);
  using BlocksDone = void (Station::*)(int n, std::uint8_t s);
  // The reply step of every block transfer (download, program, verify, read): the reply
  // checked and the block taken, then the link steps the blocks and the next request goes,
  // or `done` follows the last.
  void BlockStep(int n, std::uint8_t s, std::size_t length, BlockTaker take, BlocksDone done);
  std::uint8_t CompareBlock(int n, std::uint16_t index, std::span<const std::uint8_t> data);
  std::uint8_t StoreBlock(int n, std::uint16_t index, std::span<const std::uint8_t> data);
  void DownloadDone(int n, std::uint8_t s);
  void ProgramDone(int n, std::uint8_t s);
  void VerifyDone(int n, std::uint8_t s);
  void ReadDone(int n, std::uint8_t s);
  void WriteOptionBytesResult(int n, std::uint8_t s, std::size_t length);
  void ReadOptionBytesResult(int n, std::uint8_t s, std::size_t length);
  void ChipIdResult(int n, std::uint8_t s, std::size_t length);
  void ReadAddressResult(int n, std::uint8_t s, std::size_t length);
  void WriteOtpResult(int n, std::uint8_t s, std::size_t length);
  void ReadOtpResult(int n, std::uint8_t s, std::size_t length);
  void ContinueFirmwareUpgrade(int n, std::uint8_t s, std::size_t length);
  void HandleProgressReport(int n, std::size_t length);
  void CountResult();
  // On an Auto cycle, the move of the link's AutoSequence() from channel n's step on `outcome`:
  // true when the cycle went on (the next step started), false when there is none or no cycle
  // runs.
  bool ContinueAuto(int n, AutoOutcome outcome);

  // Request senders of channel n: each builds its packet in the channel's packet buffer,
  // frames it and queues it on the channel's port.
  // Builds `request` (a protocol request type) in channel n's packet buffer and sends it.
  template <typename Request>
  void SendRequest(int n, const Request& request) {
    Link(n).Send(request);
  }
  std::array<std::uint8_t, protocol::kSettingsHeaderSize> SettingsHeader(int n);
  void SendBlankCheck(int n);
  void SendErase(int n);
  void SendReadOptionBytes(int n);
  void SendReadChipId(int n);
  void SendReadOtp(int n);
  void SendReadBack(int n);
  void SendDownload(int n);
  void SendProgramBlock(int n);
  void SendWriteOptionBytes(int n);
  void SendWriteOtp(int n);
  void SendReadAddress(int n);
  void SendRestart(int n);
  // The restart request was sent on an idle channel (or one whose operation it ends): the next
  // frame is its answer and is set aside, or none is expected once kRestartAnswerWait ticks
  // pass without one. Requests for the channel wait for it (SendWhenFree).
  void ExpectRestartAnswer(int n) { Link(n).ExpectRestartAnswer(); }
  // Runs `send` (the first request of a command) now, or, while a restart's answer is due on
  // the channel, once it came or its wait ended. A held operation is busy but its time-out
  // does not run.
  void SendWhenFree(int n, std::function<void()> send) { Link(n).SendWhenFree(std::move(send)); }
  void SendFirmwareBlock(int n);

  // Refuses without a confirmed part, or without data when `needsImage`; true when both hold.
  bool OperationAllowed(bool needsImage);
  // The commands of channel 1 alone: a confirmed part ("请选择并确认芯片型号！") and a connected
  // first programmer ("请连接好设备！").
  bool FirstChannelReady();
  // The command of `op`: its preparation and checks, then its start on each of its channels
  // ("请连接好设备！" when there is none).
  void StartOperation(const StationOperation& op);
  // Starts `op` on channel n: pending command, Auto flag, panel line, gauge, first request.
  void StartOn(int n, const StationOperation& op);
  // Before Auto: a separator and the option bytes shown; before a download also their sums
  // into the job settings.
  void PrepareAuto();
  void PrepareDownload();

  int modalDepth_ = 0;
  ModalFrontend frontend_;
  Clock clock_;
  // The station's own link engine when it was given none; declared before everything the
  // ports' handlers reach, so that it outlives them.
  std::unique_ptr<LinkEngine> ownEngine_;
  LinkEngine* engine_;
  std::vector<StationListener*> listeners_;
  // Passes the information panel's lines on to every listener.
  struct InfoFanOut : InfoMemoListener {
    Station* station = nullptr;
    void InfoLineAdded(const std::string& line) override;
    void InfoCleared() override;
  } infoFanOut_;

  Job job_;
  InfoMemo info_;
  // The job's commands and what they show; the window state and views are the desk's.
  JobDesk desk_;
  WindowState& window_ = desk_.window();
  HexView& flashView_ = desk_.flashView();
  HexView& otpView_ = desk_.otpView();
  FirmwareImage firmware_;

  std::filesystem::path exeDir_;
  LogLocation logs_;
  bool firmwarePresent_ = false;
  std::int32_t totalCounter_ = 0;

  // The link: the channels' links (port, buffers, state), the port sources, the random bytes.
  PortProvider portProvider_;
  // The engine's number of the station's channel 1.
  int firstChannel_ = 0;
  PortSources portSources_ = SystemPortSources();
  PortArrangement arrangePorts_;
  LowLatencyAccess lowLatencyAccess_ = SystemLowLatencyAccess();
  // Ports whose kept latency the panel has told of: once per port.
  std::set<std::string> latencyNoted_;
  protocol::RandomByte random_;
  SerialNumberCheck serialNumberCheck_;
  JobCheck jobCheck_;
  std::array<std::string, kChannelCount> channelFingerprint_;
  std::uint32_t totalOk_ = 0;
  std::uint32_t totalNg_ = 0;
  std::uint32_t resultCount_ = 0;
  // Channels whose operation ended and whose listener call is still due.
  std::vector<std::pair<int, OperationOutcome>> ended_;
};

}  // namespace korvan
