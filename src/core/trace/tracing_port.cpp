#include "core/trace/tracing_port.h"

namespace korvan::trace {

TracingPort::TracingPort(std::unique_ptr<Port> inner, std::shared_ptr<WireTrace> trace, int channel)
    : inner_(std::move(inner)), trace_(std::move(trace)), channel_(channel) {}

void TracingPort::OpenPort() {
  inner_->OpenPort();  // throws when it cannot be opened: nothing to trace then
  openName_ = inner_->CommName();
  trace_->Mark(channel_, openName_, WireTrace::Event::Open);
}

void TracingPort::ClosePort() {
  const bool wasOpen = inner_->IsOpen();
  inner_->ClosePort();
  if (wasOpen) trace_->Mark(channel_, openName_, WireTrace::Event::Close);
}

bool TracingPort::SendBlock(const void* buffer, std::uint16_t length) {
  if (!inner_->SendBlock(buffer, length)) return false;
  trace_->Bytes(channel_, openName_, Direction::ToProgrammer,
                std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(buffer), length));
  return true;
}

void TracingPort::SetHandlers(PortHandlers handlers) {
  PortHandlers traced;
  traced.received = [this,
                     received = std::move(handlers.received)](std::span<const std::uint8_t> block) {
    trace_->Bytes(channel_, openName_, Direction::FromProgrammer, block);
    if (received) received(block);
  };
  traced.lineError = [this, lineError = std::move(handlers.lineError)](std::uint32_t flags) {
    trace_->Mark(channel_, openName_, WireTrace::Event::LineError, flags);
    if (lineError) lineError(flags);
  };
  traced.hangup = [this, hangup = std::move(handlers.hangup)] {
    trace_->Mark(channel_, openName_, WireTrace::Event::Hangup);
    if (hangup) hangup();
  };
  inner_->SetHandlers(std::move(traced));
}

PortProvider TracingPortProvider(PortProvider ports, std::shared_ptr<WireTrace> trace,
                                 int firstChannel) {
  PortProvider traced;
  traced.list = ports.list;
  traced.problem = ports.problem;
  traced.make = [make = ports.make, trace, firstChannel](EventQueue& events, int channel) {
    return std::unique_ptr<Port>(
        std::make_unique<TracingPort>(make(events, channel), trace, firstChannel + channel - 1));
  };
  return traced;
}

}  // namespace korvan::trace
