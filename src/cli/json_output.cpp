#include "cli/json_output.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>

namespace korvan::cli {

namespace {

using Json = nlohmann::ordered_json;

const char* ResultName(const ChannelStepResult& r) {
  if (r.ok) return "ok";
  if (!r.outcome) return "no_outcome";
  if (r.outcome->result == OperationResult::Ok) return "not_recorded";
  return r.outcome->result == OperationResult::TimedOut ? "timed_out" : "failed";
}

class JsonOutput : public RunOutput {
 public:
  explicit JsonOutput(std::ostream& out) : out_(out) {}

  void InfoLine(const std::string& line) override { Emit({{"event", "info"}, {"line", line}}); }

  void SearchEnded(const std::vector<ChannelReport>& channels) override {
    Json list = Json::array();
    for (const ChannelReport& ch : channels) {
      list.push_back({{"channel", ch.channel},
                      {"port", ch.port},
                      {"identity", ch.identity},
                      {"connected", ch.connected}});
    }
    Emit({{"event", "search"}, {"channels", std::move(list)}});
  }

  void GaugeChanged(int channel, const GaugeState& gauge) override {
    Emit({{"event", "gauge"},
          {"channel", channel},
          // The station moves a gauge one step past its maximum at the last block; the gauge
          // itself shows that as full.
          {"progress", std::clamp(gauge.progress, 0, std::max(gauge.maximum, 0))},
          {"maximum", gauge.maximum},
          {"colour", gauge.colour == GaugeColour::Red ? "red" : "blue"},
          {"enabled", gauge.enabled}});
  }

  void StepEnded(const StepReport& report) override {
    Json channels = Json::array();
    for (const ChannelStepResult& r : report.channels) {
      Json ch = {{"channel", r.channel}, {"port", r.port}, {"ok", r.ok}, {"result", ResultName(r)}};
      if (r.outcome) {
        ch["status"] = r.outcome->status;
        ch["command"] = r.outcome->command;
        ch["auto_cycle"] = r.outcome->autoCycle;
        ch["message"] = r.outcome->message;
        ch["serial_number"] =
            r.outcome->serialNumber ? Json(*r.outcome->serialNumber) : Json(nullptr);
        ch["chip_uid"] = r.outcome->chipUid.empty() ? Json(nullptr) : Json(r.outcome->chipUid);
      } else {
        ch["status"] = nullptr;
        ch["command"] = nullptr;
        ch["auto_cycle"] = nullptr;
        ch["message"] = nullptr;
        ch["serial_number"] = nullptr;
        ch["chip_uid"] = nullptr;
      }
      ch["note"] = r.note;
      if (!r.ok) failedChannels_.insert(r.channel);
      channels.push_back(std::move(ch));
    }
    steps_.push_back({{"step", report.step}, {"ok", report.ok}});
    Emit({{"event", "step"},
          {"step", report.step},
          {"ok", report.ok},
          {"note", report.note},
          {"channels", std::move(channels)}});
  }

  void StandAloneResult(int channel, std::uint8_t code) override {
    // A part counts as good exactly when the station counts it OK.
    Emit({{"event", "stand_alone"},
          {"channel", channel},
          {"code", code},
          {"verdict", code == 6 ? "OK" : "NG"}});
  }

  void Problem(const std::string& text) override { Emit({{"event", "problem"}, {"text", text}}); }

  void ChannelMissing(int channel, const std::string& adapter, const std::string& text) override {
    failedChannels_.insert(channel);
    Emit({{"event", "missing"}, {"channel", channel}, {"adapter", adapter}, {"text", text}});
  }

  void LineDatabaseChanged(bool reachable, std::optional<std::size_t> pending,
                           const std::string& text) override {
    Emit({{"event", "line_database"},
          {"reachable", reachable},
          {"pending", pending ? Json(*pending) : Json(nullptr)},
          {"text", text}});
  }

  void JobReady(const std::string& fingerprint) override { fingerprint_ = fingerprint; }

  void Finished(int exitStatus) override {
    Emit({{"event", "summary"},
          {"exit_status", exitStatus},
          {"ok", exitStatus == 0},
          {"steps", steps_},
          {"failed_channels", failedChannels_},
          {"job_fingerprint", fingerprint_.empty() ? Json(nullptr) : Json(fingerprint_)}});
  }

 private:
  void Emit(const Json& event) {
    // The panel's texts are UTF-8; a stray byte must not cost the line.
    out_ << event.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n' << std::flush;
  }

  std::ostream& out_;
  Json steps_ = Json::array();
  std::set<int> failedChannels_;
  std::string fingerprint_;
};

class QuietOutput : public RunOutput {
 public:
  explicit QuietOutput(std::unique_ptr<RunOutput> inner) : inner_(std::move(inner)) {}
  void InfoLine(const std::string&) override {}
  void GaugeChanged(int, const GaugeState&) override {}
  void SearchEnded(const std::vector<ChannelReport>& channels) override {
    inner_->SearchEnded(channels);
  }
  void StepEnded(const StepReport& report) override { inner_->StepEnded(report); }
  void StandAloneResult(int channel, std::uint8_t code) override {
    inner_->StandAloneResult(channel, code);
  }
  void Problem(const std::string& text) override { inner_->Problem(text); }
  void ChannelMissing(int channel, const std::string& adapter, const std::string& text) override {
    inner_->ChannelMissing(channel, adapter, text);
  }
  void LineDatabaseChanged(bool reachable, std::optional<std::size_t> pending,
                           const std::string& text) override {
    inner_->LineDatabaseChanged(reachable, pending, text);
  }
  void JobReady(const std::string& fingerprint) override { inner_->JobReady(fingerprint); }
  void Finished(int exitStatus) override { inner_->Finished(exitStatus); }

 private:
  std::unique_ptr<RunOutput> inner_;
};

}  // namespace

std::unique_ptr<RunOutput> MakeJsonOutput(std::ostream& out) {
  return std::make_unique<JsonOutput>(out);
}

std::unique_ptr<RunOutput> MakeQuietOutput(std::unique_ptr<RunOutput> inner) {
  return std::make_unique<QuietOutput>(std::move(inner));
}

}  // namespace korvan::cli
