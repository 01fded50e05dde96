#include "cli/run_output.h"

#include <ostream>

#include "core/job/job_fingerprint.h"
#include "core/util/format.h"

namespace korvan::cli {

std::string DescribeResult(const ChannelStepResult& result) {
  if (result.ok) return "OK";
  if (result.outcome && result.outcome->result == OperationResult::Ok) return "not recorded";
  if (result.outcome && result.outcome->result == OperationResult::TimedOut) return "timed out";
  if (result.outcome) return Format("NG (0x%02X)", result.outcome->status);
  return "NG";
}

namespace {

class TextOutput : public RunOutput {
 public:
  TextOutput(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void InfoLine(const std::string& line) override { out_ << line << '\n' << std::flush; }

  void SearchEnded(const std::vector<ChannelReport>&) override {}

  void StepEnded(const StepReport& report) override {
    for (const ChannelStepResult& r : report.channels) {
      out_ << "[" << report.step << "] channel " << r.channel;
      if (!r.port.empty()) out_ << " (" << r.port << ")";
      out_ << ": " << DescribeResult(r);
      const bool operationFailed = r.outcome && r.outcome->result != OperationResult::Ok;
      const std::string& why =
          operationFailed && !r.outcome->message.empty() ? r.outcome->message : r.note;
      if (!r.ok && !why.empty()) out_ << ": " << why;
      out_ << '\n';
    }
    if (!report.note.empty()) out_ << "[" << report.step << "] " << report.note << '\n';
    out_ << std::flush;
  }

  void StandAloneResult(int, std::uint8_t) override {}

  void Problem(const std::string& text) override { err_ << "korvan-cli: " << text << '\n'; }

  void JobReady(const std::string& fingerprint) override {
    if (!fingerprint.empty()) out_ << "job fingerprint: " << ShortFingerprint(fingerprint) << '\n';
  }

  void Finished(int) override { out_ << std::flush; }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

std::unique_ptr<RunOutput> MakeTextOutput(std::ostream& out, std::ostream& err) {
  return std::make_unique<TextOutput>(out, err);
}

}  // namespace korvan::cli
