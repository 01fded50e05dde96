// A Port that tells a WireTrace every block it sends and receives, around any other Port.
//
// It changes nothing of what the station sees: every call and every handler goes through to and
// from the port inside, in the same order and on the same thread. A block is traced when the
// inner port took it (SendBlock true) and when its handler is run, on the owner's thread; the
// trace only copies it there.
#pragma once

#include <memory>
#include <string>

#include "core/serial/port.h"
#include "core/serial/port_list.h"
#include "core/trace/wire_trace.h"

namespace korvan::trace {

class TracingPort : public Port {
 public:
  // `channel`: the number the trace writes for this port's channel.
  TracingPort(std::unique_ptr<Port> inner, std::shared_ptr<WireTrace> trace, int channel);

  const std::string& CommName() const override { return inner_->CommName(); }
  void SetCommName(const std::string& value) override { inner_->SetCommName(value); }
  void OpenPort() override;
  void ClosePort() override;
  bool IsOpen() const override { return inner_->IsOpen(); }
  bool SendBlock(const void* buffer, std::uint16_t length) override;
  bool SendQueueEmpty() const override { return inner_->SendQueueEmpty(); }
  void SetHandlers(PortHandlers handlers) override;
  // The line's latency is the wrapped port's.
  void SetLowLatencyAccess(LowLatencyAccess access) override {
    inner_->SetLowLatencyAccess(std::move(access));
  }
  const LatencyResult* LineLatency() const override { return inner_->LineLatency(); }

  Port& inner() { return *inner_; }

 private:
  std::unique_ptr<Port> inner_;
  std::shared_ptr<WireTrace> trace_;
  int channel_;
  std::string openName_;  // the device as it was opened
};

// `ports` with every port it makes wrapped in a TracingPort. The station numbers its channels
// 1..4; the trace writes `firstChannel` + that number - 1, so that a front end driving several
// stations numbers channels across them.
PortProvider TracingPortProvider(PortProvider ports, std::shared_ptr<WireTrace> trace,
                                 int firstChannel = 1);

}  // namespace korvan::trace
