#include "core/serial/port.h"

#include "core/serial/port_list.h"
#include "core/serial/tcomm.h"

namespace korvan {

std::unique_ptr<Port> MakeProgrammerSerialPort(EventQueue& events, int /*channel*/) {
  auto c = std::make_unique<TComm>(events);
  c->SetBaudRate(1000000);
  c->SetByteSize(TByteSize::_8);
  c->SetParity(TParity::None);
  c->SetStopBits(TStopBits::_2);
  c->SetParityCheck(false);
  c->SetOutx_CtsFlow(false);
  c->SetOutx_DsrFlow(false);
  c->SetOutx_XonXoffFlow(false);
  c->SetInx_XonXoffFlow(false);
  c->SetDtrControl(TDtrControl::DtrDisable);
  c->SetRtsControl(TRtsControl::RtsDisable);
  c->SetReadIntervalTimeout(5);
  return c;
}

PortProvider SystemPortProvider() {
  return {MakeProgrammerSerialPort,
          [](const PortSources& sources) { return ListPortNames(sources); },
          [](const std::string& path) { return PortProblem(path); }};
}

}  // namespace korvan
