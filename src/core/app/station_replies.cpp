// Reply handling per channel: the dispatcher, one handler per pending command (the block
// transfers' through one loop, whose stepping is the link's), the Auto sequence, the end of an
// operation with its outcome, and the progress reports of programmers working on their own.
#include <algorithm>

#include "core/app/station.h"
#include "core/protocol/constants.h"
#include "core/protocol/replies.h"
#include "core/protocol/requests.h"
#include "core/util/format.h"

namespace korvan {

namespace p = protocol;

namespace {

constexpr std::size_t kBlockBytes = p::kReplyBlockBytes;
constexpr std::uint32_t kResultsPerLog = 500;
constexpr std::uint8_t kCheckShortFlash = 0x02;  // checkCtrl bit 1: last 512 bytes left out

bool Accepted(std::uint8_t s) {
  return s == p::kStatusOk || s == p::kStatusDone;
}

bool IsAutoStep(std::uint8_t command) {
  const StationOperation* op = Station::OperationAwaiting(command);
  return op && op->link.autoStep();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Beginning and ending operations

void Station::FinishOperation(int n, OperationResult result, std::uint8_t status, std::string text,
                              bool addLine, std::span<const std::uint8_t> chipUid) {
  ChannelLink& link = Link(n);
  const ChannelSnapshot& ch = link.snapshot();
  OperationOutcome outcome;
  outcome.command = ch.pendingCommand;
  outcome.autoCycle = ch.autoFlag != 0 && IsAutoStep(ch.pendingCommand);
  outcome.result = result;
  outcome.status = status;
  outcome.chipName = job_.chip.chipName;
  outcome.chipUidBytes.assign(chipUid.begin(), chipUid.end());
  for (const std::uint8_t b : chipUid) outcome.chipUid += Format("%02X ", b);
  if (outcome.autoCycle && result == OperationResult::Ok && job_.settings.snEnable) {
    outcome.serialNumber = job_.settings.snStart[static_cast<std::size_t>(n - 1)];
  }
  link.EndOperation(result != OperationResult::Ok);
  if (addLine) info_.AddInfoLine(text);
  outcome.message = std::move(text);
  outcome.totalCounter = totalCounter_;
  outcome.okCount = ch.okCount;
  outcome.ngCount = ch.ngCount;
  link.KeepOutcome(outcome);
  Notify(ViewPart::Gauges);
  ended_.emplace_back(n, outcome);
}

void Station::NotifyEnded() {
  // Told only once the handler that ended the operation is done (its last lines added, its
  // restart sent), so that a listener may start the next command at once.
  while (!ended_.empty()) {
    // Plain names rather than a structured binding: a lambda may not capture those in C++20.
    const int n = ended_.front().first;
    const OperationOutcome outcome = ended_.front().second;
    ended_.erase(ended_.begin());
    TellListeners([&](StationListener& l) { l.OperationEnded(n, outcome); });
  }
}

std::string Station::StatusLine(int n, std::uint8_t code, std::uint8_t operation) const {
  const std::string text = p::StatusText(code);
  if (operation == kPendingDownload) {
    // The programmer prefix has two blanks before the colon on channels 1 and 2.
    return Format(n <= 2 ? "编程器%d  ：%s" : "编程器%d ：%s", n, text.c_str());
  }
  return Format("芯片%d ：%s", n, text.c_str());
}

void Station::FailOperation(int n, std::uint8_t code) {
  // A bare success status where data was due (verify, read, chip ID, read OTP) is a reply
  // without its data: it fails as a packet error, never with the success text on a red gauge.
  if (code == p::kStatusOk || code == p::kStatusDone) code = p::kStatusBadPacket;
  const std::uint8_t operation = Channel(n).pendingCommand;
  FinishOperation(n, OperationResult::Failed, code, StatusLine(n, code, operation));
}

// ---------------------------------------------------------------------------------------------
// Dispatch

std::span<const std::uint8_t> Station::Packet(int n, std::size_t length) {
  return std::span<const std::uint8_t>(Buffers(n).packet.data(), length);
}

void Station::DispatchReply(int n, std::span<const std::uint8_t> frame) {
  p::LinkBuffers& buffers = Buffers(n);
  const ChannelSnapshot& ch = Channel(n);
  const p::DecodeResult decoded = p::DecodeFrame(frame, buffers.packet);
  const bool handled = ch.pendingCommand != kPendingIdle;
  if (decoded.code != p::kStatusOk) {
    // A frame that does not decode ends the operation awaiting it; an idle channel has none.
    if (ch.busy || handled) FailOperation(n, decoded.code);
    return;
  }
  const std::size_t length = decoded.length;
  const std::uint8_t s =
      p::CheckReply(std::span<const std::uint8_t>(buffers.packet.data(), length));
  if (const StationOperation* op = OperationAwaiting(ch.pendingCommand)) {
    return (this->*op->reply)(n, s, length);
  }
  HandleProgressReport(n, length);
}

// ---------------------------------------------------------------------------------------------
// Handlers

void Station::BlockStep(int n, std::uint8_t s, std::size_t length, BlockTaker take,
                        BlocksDone done) {
  ChannelLink& link = Link(n);
  // The row whose reply step called: its transfer and its request sender.
  const StationOperation& op = *OperationAwaiting(link.snapshot().pendingCommand);
  const BlockTransfer& blocks = *op.link.blocks;
  const BlockReply reply = ReadBlockReply(blocks, s, Packet(n, length));
  if (reply.failure) return FailOperation(n, *reply.failure);
  if (take) {
    const std::uint8_t taken = (this->*take)(n, link.snapshot().blockIndex, reply.data);
    if (taken != p::kStatusOk) return FailOperation(n, taken);
  }
  if (link.BlockDone(blocks)) {
    Notify(ViewPart::Gauges);
    link.SendBlock(blocks, [this, n, &op] { (this->*op.send)(n); });
    return;
  }
  (this->*done)(n, s);
}

void Station::DownloadStep(int n, std::uint8_t s, std::size_t length) {
  BlockStep(n, s, length, nullptr, &Station::DownloadDone);
}

void Station::DownloadDone(int n, std::uint8_t s) {
  FinishOperation(n, OperationResult::Ok, s, Format("编程器%d : 下载操作成功!", n));
  // The gauge stays full: the end-operation step set it.
  SendRestart(n);
  ExpectRestartAnswer(n);
  Notify(ViewPart::Gauges);
}

bool Station::ContinueAuto(int n, AutoOutcome outcome) {
  const ChannelSnapshot& ch = Channel(n);
  if (!ch.autoFlag) return false;
  const AutoTransition* move = NextAutoMove(ch.pendingCommand, outcome, job_.settings);
  if (!move) return false;
  info_.AddInfoLine(Format(move->line, n));
  const StationOperation& next = *OperationAwaiting(move->next);
  Link(n).ContinueAuto(*move, next.link, job_.chip, [this, n, &next] { (this->*next.send)(n); });
  Notify(ViewPart::Gauges);
  return true;
}

void Station::EraseResult(int n, std::uint8_t s, std::size_t /*length*/) {
  if (!Accepted(s)) return FailOperation(n, s);
  const std::string done = Format("芯片%d ：擦除芯片操作成功!", n);
  info_.AddInfoLine(done);
  if (ContinueAuto(n, AutoOutcome::Done)) return;
  FinishOperation(n, OperationResult::Ok, s, done, false);
}

void Station::BlankCheckResult(int n, std::uint8_t s, std::size_t /*length*/) {
  if (Accepted(s)) {
    const std::string blank = Format("芯片%d ：当前芯片为空!", n);
    info_.AddInfoLine(blank);
    if (ContinueAuto(n, AutoOutcome::Blank)) return;
    FinishOperation(n, OperationResult::Ok, s, blank, false);
  } else if (s == p::kStatusNotBlank) {
    const std::string notBlank = Format("芯片%d ：当前芯片不为空!", n);
    info_.AddInfoLine(notBlank);
    if (ContinueAuto(n, AutoOutcome::NotBlank)) return;
    FinishOperation(n, OperationResult::Failed, s, notBlank, false);
  } else if ((s == p::kStatusWriteProtected || s == p::kStatusReadProtected) &&
             ContinueAuto(n, AutoOutcome::Protected)) {
    return;
  } else {
    FailOperation(n, s);
  }
}

void Station::ProgramStep(int n, std::uint8_t s, std::size_t length) {
  BlockStep(n, s, length, nullptr, &Station::ProgramDone);
}

void Station::ProgramDone(int n, std::uint8_t s) {
  // The gauge shows the last block counted before the operation ends or Auto goes on.
  Notify(ViewPart::Gauges);
  const std::string done = Format("芯片%d ：编程操作成功!", n);
  info_.AddInfoLine(done);
  if (ContinueAuto(n, AutoOutcome::Done)) return;
  FinishOperation(n, OperationResult::Ok, s, done, false);
}

void Station::VerifyStep(int n, std::uint8_t s, std::size_t length) {
  BlockStep(n, s, length, &Station::CompareBlock, &Station::VerifyDone);
}

std::uint8_t Station::CompareBlock(int n, std::uint16_t index, std::span<const std::uint8_t> data) {
  std::uint32_t limit = job_.chip.flashEnd & 0x3FFFFF;
  if (job_.settings.checkCtrl & kCheckShortFlash) limit -= std::min<std::uint32_t>(limit, 0x200);
  const std::size_t base = std::size_t{index} * 64;  // in 16-byte lines
  bool error = false;
  for (std::size_t i = 0; i < 256 && !error && (base + i) * 16 < limit; ++i) {
    const std::size_t at = (base + i) * 16;
    for (std::size_t j = 0; j < 16 && at + j < job_.Image().flash.size(); ++j) {
      const std::uint8_t want = job_.Image().flash[at + j];
      const std::uint8_t got = data[16 * i + j];
      if (want == got) continue;
      error = true;
      const std::string text =
          Format("Chip %d ：Buffer Address 0x%08X = 0x%02X, Chip = 0x%02X", n,
                 static_cast<unsigned>(at + job_.chip.flashStart + j), want, got);
      // Yes goes on with the rest of the line; Abort stops comparing it.
      if (frontend_.Ask(MessageKind::Error, text, Buttons::YesAbort) != Answer::Yes) break;
    }
  }
  return error ? p::kStatusVerifyMismatch : p::kStatusOk;
}

void Station::VerifyDone(int n, std::uint8_t s) {
  Notify(ViewPart::Gauges);
  const std::string done = Format("芯片%d ：Flash数据校验成功!", n);
  info_.AddInfoLine(done);
  if (ContinueAuto(n, AutoOutcome::Done)) return;
  // An Auto cycle without option bytes ends here.
  if (Channel(n).autoFlag) {
    FinishOperation(n, OperationResult::Ok, s, p::StatusText(p::kStatusOk));
  } else {
    FinishOperation(n, OperationResult::Ok, s, done, false);
  }
}

void Station::ReadStep(int n, std::uint8_t s, std::size_t length) {
  BlockStep(n, s, length, &Station::StoreBlock, &Station::ReadDone);
}

std::uint8_t Station::StoreBlock(int /*n*/, std::uint16_t index,
                                 std::span<const std::uint8_t> data) {
  const std::size_t at = std::size_t{index} * 1024;
  if (at < FlashPicture::size()) {
    const std::size_t n = std::min(kBlockBytes, FlashPicture::size() - at);
    std::copy_n(data.begin(), n,
                OwnImage().flash.First(at + n).begin() + static_cast<std::ptrdiff_t>(at));
  }
  return p::kStatusOk;
}

void Station::ReadDone(int n, std::uint8_t s) {
  Notify(ViewPart::Gauges);
  FinishOperation(n, OperationResult::Ok, s, "芯片 ：Main Flash读取成功!");
  SetDataLoaded(true);
  FillFlashView(job_.chip.flashStart, job_.chip.flashEnd);
  ShowImageSummary();
}

void Station::WriteOptionBytesResult(int n, std::uint8_t s, std::size_t /*length*/) {
  if (!Accepted(s)) return FailOperation(n, s);
  const std::string done = Format("芯片%d ：写Option Byte操作成功!", n);
  info_.AddInfoLine(done);
  const bool autoCycle = Channel(n).autoFlag != 0;
  // The last step of a successful Auto: the part counts, and the serial numbers move on once
  // the outcome has named the number this part was given.
  if (autoCycle) SetTotalCounter(totalCounter_ + 1);
  FinishOperation(n, OperationResult::Ok, s, done, false);
  if (autoCycle) AdvanceSerialNumbers();
}

void Station::ReadOptionBytesResult(int n, std::uint8_t s, std::size_t length) {
  if (!Accepted(s)) return FailOperation(n, s);
  const auto packet = p::ReadOptionBytesRequest::ReadReply(Packet(n, length));
  const std::string dump = DumpReadOptionBytes(n, packet, job_.chip.optionByteLength);
  FinishOperation(n, OperationResult::Ok, s, dump);
}

void Station::ChipIdResult(int n, std::uint8_t s, std::size_t length) {
  if (s != p::kStatusOk) return FailOperation(n, s);
  const auto id = p::ReadChipIdRequest::ReadReply(Packet(n, length));
  if (!id) return FailOperation(n, p::kStatusBadPacket);
  std::string uid;
  for (const std::uint8_t b : *id) uid += Format("%02X ", b);
  FinishOperation(n, OperationResult::Ok, s, Format("芯片%d ：UID=%s", n, uid.c_str()), true, *id);
}

void Station::ReadAddressResult(int n, std::uint8_t s, std::size_t length) {
  if (!Accepted(s)) return FailOperation(n, s);
  FinishOperation(n, OperationResult::Ok, s, StatusLine(n, s, kPendingReadAddress), false);
  // One line per 16 bytes read, as far as the reply carries them.
  const auto carried = p::ReadAddressRequest::ReadReply(Packet(n, length));
  const std::size_t lines = std::min<std::size_t>(job_.settings.readLength, carried.size()) / 16;
  const std::uint8_t* data = carried.data();
  for (std::size_t b = 0; b < lines; ++b) {
    std::string line =
        Format("0x%08X : ", static_cast<unsigned>(job_.settings.readAddress + 16 * b));
    for (std::size_t j = 0; j < 16; ++j) line += Format("%02X ", data[16 * b + j]);
    info_.AddLine(line);
  }
}

void Station::WriteOtpResult(int n, std::uint8_t s, std::size_t /*length*/) {
  if (!Accepted(s)) return FailOperation(n, s);
  FinishOperation(n, OperationResult::Ok, s, StatusLine(n, s, kPendingWriteOtp));
}

void Station::ReadOtpResult(int n, std::uint8_t s, std::size_t length) {
  if (s != p::kStatusOk) return FailOperation(n, s);
  const std::size_t size = std::min<std::size_t>(job_.chip.otpSize, job_.Image().otp.size());
  const auto otp = p::ReadOtpRequest::ReadReply(Packet(n, length), size);
  if (!otp) return FailOperation(n, p::kStatusBadPacket);
  std::copy(otp->begin(), otp->end(), OwnImage().otp.begin());
  FinishOperation(n, OperationResult::Ok, s, StatusLine(n, s, kPendingReadOtp));
  if (size != 0) ShowOtpData();
}

// ---------------------------------------------------------------------------------------------
// Stand-alone progress

void Station::HandleProgressReport(int n, std::size_t length) {
  const auto report = p::ReadProgressReport(Packet(n, length));
  if (!report) return;
  // The link moves the gauge and counts a completed part; the panel lines are the station's.
  Link(n).StandAloneReport(*report);
  const ChannelSnapshot& ch = Channel(n);
  std::string text;
  bool show = true;
  switch (report->stage) {
    case p::kStageStart:
      text = n == 1 ? "Channel 1 : Initial Programming Interface ...."
                    : Format("Channel %d : Start Auto-Programming....", n);
      break;
    case p::kStageBlankCheck:
    case p::kStageErase:
    case p::kStageVerify:
    case p::kStageEepVerify:
    case p::kStageOptionBytes: {
      const char* what = report->stage == p::kStageBlankCheck  ? "Chip Blank Checking"
                         : report->stage == p::kStageErase     ? "Do Chip Erasing"
                         : report->stage == p::kStageVerify    ? "Do Main Flash Verification"
                         : report->stage == p::kStageEepVerify ? "Do EEP Data Verification"
                                                               : "Do Chip Option Byte Programming";
      text = Format("Channel %d : %s....", n, what);
      break;
    }
    case p::kStageProgram:
    case p::kStageEepProgram:
      text = Format(report->stage == p::kStageProgram ? "Channel %d : Do Main Flash Programming...."
                                                      : "Channel %d : Do EEP Data Programming....",
                    n);
      show = report->value == 0;
      break;
    case p::kStageCompleted: {
      text = Format("Channel %d : Progrmming Completed : ", n);
      if (report->result == p::kResultPartOk) {
        SetTotalCounter(totalCounter_ + 1);
        text += n == 1 ? "Successed !" : "Successed!";
        ++totalOk_;
      } else {
        ++totalNg_;
        text += report->result == p::kResultNotReadProtected
                    ? std::string("Error：芯片未设定读保护！")
                    : Format("Failed : Error=0x%02X!", report->result);
      }
      info_.AddInfoLine(Format("Channel %d : OK=%u, NG=%u.", n, ch.okCount, ch.ngCount));
      CountResult();
      break;
    }
    default:
      break;
  }
  if (show) info_.AddInfoLine(text);
  Notify(ViewPart::Gauges);
  if (report->stage == p::kStageCompleted) {
    TellListeners([&](StationListener& l) { l.StandAloneResult(n, report->result); });
  }
}

void Station::CountResult() {
  ++resultCount_;
  info_.AddLine(Format("Total OK Number is : %u, NG is %u", totalOk_, totalNg_));
  if (resultCount_ < kResultsPerLog) return;
  resultCount_ = 0;
  WritePeriodicLog();
}

}  // namespace korvan
