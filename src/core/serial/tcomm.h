// `TComm`: one serial port, its read thread and its write thread.
//
// The component opens and configures a POSIX terminal device (a USB serial adapter, or a
// pseudo-terminal of the emulator), moves bytes both ways on two worker threads of its own and
// turns everything they learn into events raised on the owner's thread: received blocks, line
// errors, modem events, hang-up, and an empty transmit queue. It knows nothing of packets; a
// received block is whatever the port returned, 1 to 2048 bytes.
//
// Threads. The owner's thread is the one that drains the `EventQueue` given to the constructor;
// it alone may call the public functions and it alone runs the event handlers. The workers
// never touch the component's state: received blocks reach the owner inside queued events and
// blocks to send reach the write thread inside its own queue, each as a heap copy whose
// ownership moves with it.
//
// It keeps the contract of `Port` (port.h), whose view of the events is `SetHandlers`.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "core/serial/low_latency.h"
#include "core/serial/port.h"
#include "core/util/event_queue.h"

namespace korvan {

// The messages of `ECommsError`.
inline constexpr char kCommsAlreadyOpened[] = "This serial port already opened";
inline constexpr char kCommsOpenFailed[] = "Error opening serial port:%s";  // %s: CommName
inline constexpr char kCommsNotACommHandle[] = "File handle is not a comm handle ";
// Terminal devices have no driver queue sizes to set, so this one is never raised here.
inline constexpr char kCommsCannotSetupBuffer[] = "Cannot setup comm buffer";
inline constexpr char kCommsUnableToCreateEvent[] = "Unable to create event";
inline constexpr char kCommsUnableToCreateReadThread[] = "Unable to create read thread";
inline constexpr char kCommsUnableToCreateWriteThread[] = "Unable to create write thread";
// %s: CommName, the settings asked for, the settings the driver reports.
inline constexpr char kCommsLineNotTaken[] =
    "Serial port %s did not take the line settings %s (it reports %s)";

// Line-setting enumerations; their ordinals are what the line settings are built from.
enum class TParity : std::uint8_t { None, Odd, Even, Mark, Space };
enum class TStopBits : std::uint8_t { _1, _1_5, _2 };
enum class TByteSize : std::uint8_t { _5, _6, _7, _8 };
enum class TDtrControl : std::uint8_t { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl : std::uint8_t {
  RtsEnable,
  RtsDisable,
  RtsHandshake,
  RtsTransmissionAvailable
};

// Line-error flags of `OnReceiveError`.
inline constexpr std::uint32_t kLineErrorRxOver = 0x0001;   // input buffer overflow
inline constexpr std::uint32_t kLineErrorOverrun = 0x0002;  // hardware overrun
inline constexpr std::uint32_t kLineErrorParity = 0x0004;
inline constexpr std::uint32_t kLineErrorFrame = 0x0008;
inline constexpr std::uint32_t kLineErrorBreak = 0x0010;
// Modem event bits of `OnModemStateChange`.
inline constexpr std::uint32_t kModemEventRing = 4;
inline constexpr std::uint32_t kModemEventCarrier = 8;

class TComm;

using TReceiveDataEvent =
    std::function<void(TComm& sender, const std::uint8_t* buffer, std::uint16_t bufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm& sender, std::uint32_t eventMask)>;
using TModemStateChangeEvent = std::function<void(TComm& sender, std::uint32_t modemEvent)>;
using TNotifyEvent = std::function<void(TComm& sender)>;
using TSendDataEmptyEvent = std::function<void(TComm& sender)>;

class TComm final : public Port, private EventReceiver {
 public:
  // Sets the defaults (a closed port named "COM2" at 9600 baud 8N1). `events` is the queue the
  // owner's thread drains; it must outlive the component. No port is opened here.
  explicit TComm(EventQueue& events);
  // Closes the port if it is open and forgets the events still queued for this component.
  // Owner's thread.
  ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  // Opens the device named by `CommName` (a path such as /dev/ttyUSB0), takes it for exclusive
  // use (flock, and TIOCEXCL where the caller is not privileged), sets the line and starts the
  // read and write threads. Owner's thread.
  // Throws ECommsError:
  //   "This serial port already opened" when this component is open (the port is untouched);
  //   "Error opening serial port:<CommName>" when the device cannot be opened or another
  //     program holds it (SystemError() carries errno);
  //   "File handle is not a comm handle " when it is not a terminal device;
  //   kCommsLineNotTaken when the driver does not keep the line settings asked for (speed,
  //     data bits, parity, stop bits, flow control, raw mode), so the port never runs at a
  //     wrong speed;
  //   "Unable to create event", "Unable to create read thread", "Unable to create write thread".
  // After any failure but the first the component is closed (Handle() == -1).
  // Once the line is set, the driver is asked for low latency (RequestLowLatency); not getting
  // it is never a failure: Latency() says what was done.
  void OpenPort() override;

  // How OpenPort reaches the driver and sysfs for low latency; tests put their own in place.
  void SetLowLatencyAccess(LowLatencyAccess access) override {
    lowLatencyAccess_ = std::move(access);
  }
  const LatencyResult* LineLatency() const override { return &latency_; }
  // What the last successful OpenPort got (NotAnAdapter before any).
  const LatencyResult& Latency() const { return latency_; }

  // Stops both threads (each ends at once on the close signal, and is joined), discards what
  // was still queued for sending, flushes both directions and closes the device. Does nothing
  // when the port is not open. Events queued before the close are still delivered. Owner's
  // thread; may be called from inside an event handler of this component. A hang-up reported
  // before the close is not raised any more: OnRequestHangup is raised only while the port is
  // still open in the opening that reported it.
  void ClosePort() override;

  // Queues a copy of `length` bytes from `buffer` for the write thread and returns true; the
  // caller keeps its buffer. Blocks are written whole and in the order queued; true means
  // queued, not yet written. Returns false (and queues nothing) when the port is not open,
  // when the write thread has ended after a failure, when `length` is 0, or when memory runs
  // out. Owner's thread.
  bool SendBlock(const void* buffer, std::uint16_t length) override;

  // The open device's file descriptor, or -1 when the port is closed.
  int Handle() const { return fd_; }
  bool IsOpen() const override { return fd_ >= 0; }
  // True when nothing is waiting to be written (advisory: the write thread may be writing the
  // last block still).
  bool SendQueueEmpty() const override { return sendQueueEmpty_.load(); }

  // Events, raised on the owner's thread while it drains the queue; each is optional. The
  // buffer of OnReceiveData belongs to the component and is released when the handler returns
  // (one zero byte follows the data).
  TReceiveDataEvent OnReceiveData;
  TReceiveErrorEvent OnReceiveError;
  TModemStateChangeEvent OnModemStateChange;
  TNotifyEvent OnRequestHangup;
  TSendDataEmptyEvent OnSendDataEmpty;
  // The Port view of the events: sets OnReceiveData, OnReceiveError and OnRequestHangup.
  void SetHandlers(PortHandlers handlers) override;

  // Properties. Setting a line property while the port is open applies the line at once
  // (failures are not reported then; OpenPort checks the line). `CommName` takes effect at the
  // next OpenPort. Setting a property to its current value does nothing.
  const std::string& CommName() const override { return commName_; }
  void SetCommName(const std::string& value) override { commName_ = value; }

  std::int32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(std::int32_t value) { SetLine(baudRate_, value); }
  bool ParityCheck() const { return parityCheck_; }
  void SetParityCheck(bool value) { SetLine(parityCheck_, value); }
  bool Outx_CtsFlow() const { return outxCtsFlow_; }
  void SetOutx_CtsFlow(bool value) { SetLine(outxCtsFlow_, value); }
  // Not available on POSIX terminals; kept for the owner's settings.
  bool Outx_DsrFlow() const { return outxDsrFlow_; }
  void SetOutx_DsrFlow(bool value) { SetLine(outxDsrFlow_, value); }
  // DtrEnable raises DTR, DtrDisable lowers it; DtrHandshake leaves DTR as the driver has it.
  TDtrControl DtrControl() const { return dtrControl_; }
  void SetDtrControl(TDtrControl value) { SetLine(dtrControl_, value); }
  // Not available on POSIX terminals; kept for the owner's settings.
  bool DsrSensitivity() const { return dsrSensitivity_; }
  void SetDsrSensitivity(bool value) { SetLine(dsrSensitivity_, value); }
  // Not available on POSIX terminals; kept for the owner's settings.
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value) { SetLine(txContinueOnXoff_, value); }
  bool Outx_XonXoffFlow() const { return outxXonXoffFlow_; }
  void SetOutx_XonXoffFlow(bool value) { SetLine(outxXonXoffFlow_, value); }
  bool Inx_XonXoffFlow() const { return inxXonXoffFlow_; }
  void SetInx_XonXoffFlow(bool value) { SetLine(inxXonXoffFlow_, value); }
  // The terminal driver reads a byte with a parity error as 0, which is the default
  // `ReplacedChar`; other replacement characters are not available.
  bool ReplaceWhenParityError() const { return replaceWhenParityError_; }
  void SetReplaceWhenParityError(bool value) { SetLine(replaceWhenParityError_, value); }
  // Zero bytes are dropped from received blocks by the read thread.
  bool IgnoreNullChar() const { return ignoreNullChar_; }
  void SetIgnoreNullChar(bool value) { SetLine(ignoreNullChar_, value); }
  // RtsEnable raises RTS, RtsDisable lowers it, RtsHandshake is RTS/CTS flow control;
  // RtsTransmissionAvailable leaves RTS as the driver has it.
  TRtsControl RtsControl() const { return rtsControl_; }
  void SetRtsControl(TRtsControl value) { SetLine(rtsControl_, value); }
  // Not available on POSIX terminals; kept for the owner's settings.
  std::uint16_t XonLimit() const { return xonLimit_; }
  void SetXonLimit(std::uint16_t value) { SetLine(xonLimit_, value); }
  std::uint16_t XoffLimit() const { return xoffLimit_; }
  void SetXoffLimit(std::uint16_t value) { SetLine(xoffLimit_, value); }
  TByteSize ByteSize() const { return byteSize_; }
  void SetByteSize(TByteSize value) { SetLine(byteSize_, value); }
  TParity Parity() const { return parity_; }
  void SetParity(TParity value) { SetLine(parity_, value); }
  // _1_5 and _2 both select the driver's "two stop bits" (1.5 with 5 data bits).
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value) { SetLine(stopBits_, value); }
  char XonChar() const { return xonChar_; }
  void SetXonChar(char value) { SetLine(xonChar_, value); }
  char XoffChar() const { return xoffChar_; }
  void SetXoffChar(char value) { SetLine(xoffChar_, value); }
  char ReplacedChar() const { return replacedChar_; }
  void SetReplacedChar(char value) { SetLine(replacedChar_, value); }

  // Time-outs in milliseconds. Kept for the owner's settings: the read thread delivers what has
  // arrived as soon as the port reports it, and writes are never cut short.
  std::uint32_t ReadIntervalTimeout() const { return readIntervalTimeout_; }
  void SetReadIntervalTimeout(std::uint32_t value) { readIntervalTimeout_ = value; }
  std::uint32_t ReadTotalTimeoutMultiplier() const { return readTotalTimeoutMultiplier_; }
  void SetReadTotalTimeoutMultiplier(std::uint32_t value) { readTotalTimeoutMultiplier_ = value; }
  std::uint32_t ReadTotalTimeoutConstant() const { return readTotalTimeoutConstant_; }
  void SetReadTotalTimeoutConstant(std::uint32_t value) { readTotalTimeoutConstant_ = value; }
  std::uint32_t WriteTotalTimeoutMultiplier() const { return writeTotalTimeoutMultiplier_; }
  void SetWriteTotalTimeoutMultiplier(std::uint32_t value) { writeTotalTimeoutMultiplier_ = value; }
  std::uint32_t WriteTotalTimeoutConstant() const { return writeTotalTimeoutConstant_; }
  void SetWriteTotalTimeoutConstant(std::uint32_t value) { writeTotalTimeoutConstant_ = value; }

 private:
  struct SendItem {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint16_t length = 0;
  };
  friend class TWriteThread;

  void HandleEvent(Event& event) override;

  template <typename T>
  void SetLine(T& field, T value) {
    if (field == value) return;
    field = value;
    if (fd_ >= 0) ApplyLineSettings(nullptr);
  }
  // Sets the line from the properties. With `mismatch` it reads the settings back and, when
  // the driver did not keep them, fills in what was asked and what it reports and returns false.
  bool ApplyLineSettings(std::string* mismatch);
  // Releases exclusive use and closes the device.
  void CloseDevice();

  EventQueue& events_;
  int fd_ = -1;
  int closeFd_ = -1;  // eventfd, readable once the port is being closed
  std::thread readThread_;
  std::thread writeThread_;
  NotifyingQueue<SendItem> sendQueue_;
  std::atomic<bool> sendQueueEmpty_{true};
  std::atomic<bool> writerRunning_{false};
  std::atomic<bool> dropNulls_{false};
  std::uint32_t session_ = 0;  // counts the openings; events carry the one that raised them
  LowLatencyAccess lowLatencyAccess_ = SystemLowLatencyAccess();
  LatencyResult latency_;

  std::string commName_ = "COM2";
  std::int32_t baudRate_ = 9600;
  bool parityCheck_ = false;
  bool outxCtsFlow_ = false;
  bool outxDsrFlow_ = false;
  TDtrControl dtrControl_ = TDtrControl::DtrEnable;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = true;
  bool outxXonXoffFlow_ = true;
  bool inxXonXoffFlow_ = true;
  bool replaceWhenParityError_ = false;
  bool ignoreNullChar_ = false;
  TRtsControl rtsControl_ = TRtsControl::RtsEnable;
  std::uint16_t xonLimit_ = 500;
  std::uint16_t xoffLimit_ = 500;
  TByteSize byteSize_ = TByteSize::_8;
  TParity parity_ = TParity::None;
  TStopBits stopBits_ = TStopBits::_1;
  char xonChar_ = 0x11;
  char xoffChar_ = 0x13;
  char replacedChar_ = 0x00;
  std::uint32_t readIntervalTimeout_ = 100;
  std::uint32_t readTotalTimeoutMultiplier_ = 0;
  std::uint32_t readTotalTimeoutConstant_ = 0;
  std::uint32_t writeTotalTimeoutMultiplier_ = 0;
  std::uint32_t writeTotalTimeoutConstant_ = 0;
};

// The driver's line counters (TIOCGICOUNT), where the driver keeps them.
struct LineCounters {
  std::uint32_t frame = 0;
  std::uint32_t overrun = 0;
  std::uint32_t parity = 0;
  std::uint32_t brk = 0;
  std::uint32_t bufOverrun = 0;
  std::uint32_t dcd = 0;
  std::uint32_t rng = 0;
};

// What changed between two readings of the counters: the line-error flags for OnReceiveError
// and the modem event bits for OnModemStateChange (0 when nothing of that kind changed).
struct LineChanges {
  std::uint32_t errorFlags = 0;
  std::uint32_t modemEvents = 0;
};
LineChanges CompareLineCounters(const LineCounters& before, const LineCounters& after);

}  // namespace korvan
