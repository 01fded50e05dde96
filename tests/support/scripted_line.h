// One programmer line played by the test itself: the station's port for it is in-process, what
// the station sends is kept for the test to read, and what the test answers reaches the station
// when the test says so. No thread, no waiting.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/serial/port.h"
#include "core/serial/port_list.h"

namespace korvan::testing {

class ScriptedLine {
 public:
  explicit ScriptedLine(std::string name = "scripted-line") : name_(std::move(name)) {}

  // What the station makes its ports and its port list with: the one line, while no port holds it.
  PortProvider Provider() {
    PortProvider provider;
    provider.make = [this](EventQueue&, int) -> std::unique_ptr<Port> {
      return std::make_unique<LinePort>(*this);
    };
    provider.list = [this](const PortSources&) {
      return owner_ ? std::vector<std::string>{} : std::vector<std::string>{name_};
    };
    return provider;
  }

  // The bytes the station has sent since the last call, every block joined.
  std::vector<std::uint8_t> TakeSent() {
    std::vector<std::uint8_t> bytes;
    bytes.swap(sent_);
    return bytes;
  }
  // Hands `bytes` to the station as one received block; false when no port holds the line.
  bool Deliver(std::span<const std::uint8_t> bytes) {
    if (!owner_ || !owner_->handlers.received) return false;
    owner_->handlers.received(bytes);
    return true;
  }

 private:
  struct LinePort final : Port {
    explicit LinePort(ScriptedLine& line) : line(line) {}
    ~LinePort() override { ClosePort(); }
    const std::string& CommName() const override { return name; }
    void SetCommName(const std::string& value) override { name = value; }
    void OpenPort() override {
      if (open) throw ECommsError("This serial port already opened");
      if (name != line.name_ || line.owner_) throw ECommsError("Error opening serial port:" + name);
      line.owner_ = this;
      open = true;
    }
    void ClosePort() override {
      if (!open) return;
      open = false;
      line.owner_ = nullptr;
    }
    bool IsOpen() const override { return open; }
    bool SendBlock(const void* buffer, std::uint16_t length) override {
      if (!open || length == 0) return false;
      const auto* bytes = static_cast<const std::uint8_t*>(buffer);
      line.sent_.insert(line.sent_.end(), bytes, bytes + length);
      return true;
    }
    bool SendQueueEmpty() const override { return true; }
    void SetHandlers(PortHandlers h) override { handlers = std::move(h); }

    ScriptedLine& line;
    std::string name;
    bool open = false;
    PortHandlers handlers;
  };

  std::string name_;
  LinePort* owner_ = nullptr;
  std::vector<std::uint8_t> sent_;
};

}  // namespace korvan::testing
