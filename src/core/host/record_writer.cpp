#include "core/host/record_writer.h"

#include <cctype>
#include <cstring>

#include "core/chips/option_bytes.h"
#include "core/util/format.h"

namespace korvan {

namespace {

// The result text of a stand-alone result, as the panel's "Progrmming Completed" line ends.
std::string StandAloneResultText(int channel, std::uint8_t code) {
  if (code == 6) return channel == 1 ? "Successed !" : "Successed!";
  if (code == 0x1E) return "Error：芯片未设定读保护！";
  return Format("Failed : Error=0x%02X!", code);
}

// "01 02 0a ..." as the station shows a UID → "01020A...".
std::optional<std::string> UidDigits(std::span<const std::uint8_t> uid) {
  if (uid.empty()) return std::nullopt;
  std::string digits;
  for (const std::uint8_t b : uid) digits += Format("%02X", b);
  return digits;
}

// What a channel was doing, for the record of an interrupted part: its operation's name, as a
// step of the Auto cycle when one runs.
const char* PendingCommandName(std::uint8_t command, bool autoCycle) {
  const StationOperation* op = Station::OperationAwaiting(command);
  if (autoCycle) return op && op->link.autoStep() ? op->link.autoStepName : "Auto";
  return op && op->link.recordName ? op->link.recordName : "an operation";
}

}  // namespace

RecordWriter::RecordWriter(Station& station, std::filesystem::path folder, Durability durability,
                           ZonedClock clock, std::string host)
    : station_(station),
      keeper_(std::move(folder), durability),
      clock_(std::move(clock)),
      host_(std::move(host)) {
  openError_ = keeper_.Open();
  if (!openError_ && keeper_.repaired() != 0) {
    station_.AddInfoLine(
        Format("%zu production record(s) of an interrupted station added to the day files",
               keeper_.repaired()));
  }
}

ProductionRecord RecordWriter::Common(int channel) const {
  ProductionRecord r;
  r.time = Iso8601Text(clock_());
  r.recordId = NewRecordId();
  r.host = host_;
  r.station = stationNumber_;
  r.channel = (stationNumber_ - 1) * kChannelCount + channel;
  r.port = station_.channel(channel).portName;
  r.programmer = station_.IdentityText(channel);
  r.chip = station_.chip().chipName;
  const JobSettings& job = station_.settings();
  r.imageCrc = job.fileCrc;
  r.imageSum = job.fileSum;
  // What the download gave the programmers; an Auto cycle writes the option-byte image as it
  // stands (AutoRecord).
  r.optionSum = job.optionSum;
  return r;
}

ProductionRecord RecordWriter::AutoRecord(int channel, const OperationOutcome& outcome) const {
  ProductionRecord r = Common(channel);
  const auto i = static_cast<std::size_t>(channel - 1);
  r.origin = RecordOrigin::Auto;
  r.optionSum = OptionSum(station_.optionBytes()).optionSum;
  r.jobFingerprint = station_.ChannelJobFingerprint(channel);
  if (!outcome.chipName.empty()) r.chip = outcome.chipName;
  r.serialNumber = outcome.serialNumber;
  if (r.serialNumber) r.serialNumberAddress = station_.settings().snAddress;
  r.chipUid = UidDigits(outcome.chipUidBytes);
  r.result = outcome.status;
  r.resultText = outcome.message;
  r.pass = outcome.result == OperationResult::Ok;
  // The channel's parts so far, both ways: its stand-alone counts and its Auto cycles.
  const ChannelSnapshot& ch = station_.channel(channel);
  r.okCount = ch.okCount + autoOk_[i] + (r.pass ? 1 : 0);
  r.ngCount = ch.ngCount + autoNg_[i] + (r.pass ? 0 : 1);
  return r;
}

ProductionRecord RecordWriter::StandAloneRecord(int channel, std::uint8_t code) const {
  ProductionRecord r = Common(channel);
  const auto i = static_cast<std::size_t>(channel - 1);
  r.origin = RecordOrigin::StandAlone;
  r.result = code;
  r.resultText = StandAloneResultText(channel, code);
  r.pass = code == 6;
  // The programmer numbers its parts itself and does not report the number: it is the start
  // value of the last download plus one step per good part since (32-bit, wrapping).
  const Numbering& n = numbering_[i];
  if (r.pass && n.known && n.enabled) {
    r.serialNumber = static_cast<std::uint32_t>(n.start + std::uint64_t{n.step} * n.goodParts);
    r.serialNumberAddress = n.address;
    r.serialNumberDerived = true;
  }
  // The programmer runs the job it was given by the last download.
  r.jobFingerprint = n.jobFingerprint;
  // The station has already counted this result.
  const ChannelSnapshot& ch = station_.channel(channel);
  r.okCount = ch.okCount + autoOk_[i];
  r.ngCount = ch.ngCount + autoNg_[i];
  return r;
}

void RecordWriter::OperationEnded(int channel, const OperationOutcome& outcome) {
  if (channel < 1 || channel > kChannelCount) return;
  if (outcome.command == kPendingDownload && outcome.result == OperationResult::Ok) {
    // The programmer now holds these settings and numbers its next good part with the start.
    const JobSettings& job = station_.settings();
    Numbering& n = numbering_[static_cast<std::size_t>(channel - 1)];
    n.known = true;
    n.enabled = job.snEnable != 0;
    n.start = job.snStart[static_cast<std::size_t>(channel - 1)];
    n.step = job.snGain;
    n.address = job.snAddress;
    n.goodParts = 0;
    n.jobFingerprint = station_.ChannelJobFingerprint(channel);
  }
  if (!outcome.autoCycle) return;
  const ProductionRecord record = AutoRecord(channel, outcome);
  ++(record.pass ? autoOk_ : autoNg_)[static_cast<std::size_t>(channel - 1)];
  Write(record);
}

void RecordWriter::StandAloneResult(int channel, std::uint8_t code) {
  if (channel < 1 || channel > kChannelCount) return;
  const ProductionRecord record = StandAloneRecord(channel, code);
  if (record.pass) ++numbering_[static_cast<std::size_t>(channel - 1)].goodParts;
  Write(record);
}

void RecordWriter::Interrupted(int channel, int signalNumber) {
  if (channel < 1 || channel > kChannelCount) return;
  const auto i = static_cast<std::size_t>(channel - 1);
  const ChannelSnapshot& ch = station_.channel(channel);
  ProductionRecord r = Common(channel);
  r.origin = RecordOrigin::Auto;
  r.optionSum = OptionSum(station_.optionBytes()).optionSum;
  r.jobFingerprint = station_.ChannelJobFingerprint(channel);
  r.result = 128 + signalNumber;
  const char* name = sigabbrev_np(signalNumber);
  r.resultText = Format("Interrupted by SIG%s during %s", name ? name : "?",
                        PendingCommandName(ch.pendingCommand, ch.autoFlag != 0));
  r.pass = false;
  r.interrupted = true;
  ++autoNg_[i];
  r.okCount = ch.okCount + autoOk_[i];
  r.ngCount = ch.ngCount + autoNg_[i];
  Write(r);
}

void RecordWriter::Write(const ProductionRecord& record) {
  lastError_ = keeper_.Append(record);
  if (lastError_) {
    ++failed_;
    station_.AddInfoLine(Format("Production record of channel %d not written: %s", record.channel,
                                lastError_->c_str()));
  } else {
    ++written_;
  }
}

}  // namespace korvan
