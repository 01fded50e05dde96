#include "lib/virtual_bench.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "core/serial/tcomm.h"
#include "core/util/format.h"

namespace korvan::sim {

namespace {
// A port hands over what the line delivered in blocks of at most this much, as TComm does.
constexpr std::size_t kBlockSize = 2048;
}  // namespace

class VirtualBench::LinePort final : public Port {
 public:
  explicit LinePort(VirtualBench& bench) : bench_(bench) {}
  ~LinePort() override { ClosePort(); }

  const std::string& CommName() const override { return name_; }
  void SetCommName(const std::string& value) override { name_ = value; }

  void OpenPort() override {
    if (line_) throw ECommsError(kCommsAlreadyOpened);
    Line* line = bench_.Find(name_);
    if (!line || line->hungUp || line->owner) {
      throw ECommsError(Format(kCommsOpenFailed, name_.c_str()), line ? EBUSY : ENOENT);
    }
    line->owner = this;
    line_ = line;
  }
  void ClosePort() override {
    if (!line_) return;
    line_->owner = nullptr;
    line_ = nullptr;
  }
  bool IsOpen() const override { return line_ != nullptr; }
  bool SendBlock(const void* buffer, std::uint16_t length) override {
    if (!line_ || length == 0) return false;
    line_->programmer->OnRead(
        std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(buffer), length),
        bench_.now_);
    return true;
  }
  bool SendQueueEmpty() const override { return true; }
  void SetHandlers(PortHandlers handlers) override { handlers_ = std::move(handlers); }

  const PortHandlers& handlers() const { return handlers_; }

 private:
  VirtualBench& bench_;
  std::string name_;
  Line* line_ = nullptr;
  PortHandlers handlers_;
};

VirtualBench::VirtualBench(Options options, std::vector<std::string> names)
    : options_(std::move(options)), names_(std::move(names)) {
  for (int channel = 1; channel <= options_.count; ++channel) {
    if (names_.size() < static_cast<std::size_t>(channel)) {
      char leaf[32];
      std::snprintf(leaf, sizeof leaf, "ttyNAT%02d", channel);
      names_.emplace_back(leaf);
    }
    Line line;
    line.name = names_[static_cast<std::size_t>(channel - 1)];
    line.programmer = std::make_unique<Programmer>(channel, options_);
    lines_.push_back(std::move(line));
  }
  names_.resize(lines_.size());
}

VirtualBench::~VirtualBench() {
  // Ports that outlive the bench would point at nothing: they are closed here.
  for (Line& line : lines_) {
    if (line.owner) line.owner->ClosePort();
  }
}

PortProvider VirtualBench::Provider() {
  PortProvider provider;
  provider.make = [this](EventQueue&, int) -> std::unique_ptr<Port> {
    return std::make_unique<LinePort>(*this);
  };
  // The lines the sources name (KORVAN_PORTS, as for the emulator's pseudo-terminals) that are
  // still plugged in and not held by a port, sorted by name.
  provider.list = [this](const PortSources& sources) {
    std::vector<std::string> names;
    for (const std::string& name : CandidatePorts(sources)) {
      const Line* line = Find(name);
      if (line && !line->hungUp && !line->owner) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
  };
  return provider;
}

VirtualBench::Line* VirtualBench::Find(const std::string& name) {
  for (Line& line : lines_) {
    if (line.name == name) return &line;
  }
  return nullptr;
}

void VirtualBench::AdvanceTo(TimePoint t) {
  now_ = std::max(now_, t);
}

bool VirtualBench::SettleLine(Line& line) {
  if (line.hungUp) return false;
  Programmer& programmer = *line.programmer;
  bool moved = false;
  programmer.Advance(now_);
  for (;;) {
    const auto due = programmer.WriteNow(now_);
    if (due.empty()) break;
    // Copied first: the station's handler may send at once, which queues more replies.
    const std::vector<std::uint8_t> bytes(due.begin(), due.end());
    programmer.Written(bytes.size());
    moved = true;
    // Bytes sent while no port is open on the line are lost, as a closed port flushes them.
    for (std::size_t at = 0; at < bytes.size() && line.owner; at += kBlockSize) {
      const auto& received = line.owner->handlers().received;
      if (!received) break;
      const std::size_t n = std::min(kBlockSize, bytes.size() - at);
      received(std::span<const std::uint8_t>(bytes.data() + at, n));
    }
    programmer.Advance(now_);
  }
  if (programmer.HangupDue()) {
    line.hungUp = true;
    moved = true;
    if (LinePort* port = line.owner) {
      const auto hangup = port->handlers().hangup;
      if (hangup) hangup();
    }
  }
  return moved;
}

bool VirtualBench::Settle() {
  bool any = false;
  for (bool moved = true; moved;) {
    moved = false;
    for (Line& line : lines_) moved = SettleLine(line) || moved;
    any = any || moved;
  }
  return any;
}

std::optional<TimePoint> VirtualBench::NextDue() const {
  std::optional<TimePoint> next;
  for (const Line& line : lines_) {
    if (line.hungUp) continue;
    const auto due = line.programmer->NextDue();
    if (due && (!next || *due < *next)) next = due;
  }
  return next;
}

ChannelSnapshot VirtualBench::Snapshot(int channel) const {
  return lines_.at(static_cast<std::size_t>(channel - 1)).programmer->Snapshot();
}

bool VirtualBench::HungUp(int channel) const {
  return lines_.at(static_cast<std::size_t>(channel - 1)).hungUp;
}

}  // namespace korvan::sim
