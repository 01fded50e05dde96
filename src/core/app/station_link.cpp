// The station's side of the programmers' link: the four ports, discovery, the receive path of
// each channel, and the operation commands that fan out to the channels.
#include <random>

#include "core/app/station.h"

namespace korvan {

void Station::SetUpLink() {
  for (int n = 1; n <= kChannelCount; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    links_[i] = std::make_unique<protocol::LinkBuffers>();
    ports_[i] = std::make_unique<TComm>(serialEvents_);
    TComm& p = *ports_[i];
    p.SetBaudRate(1000000);
    p.SetByteSize(TByteSize::_8);
    p.SetParity(TParity::None);
    p.SetStopBits(TStopBits::_2);
    p.SetParityCheck(false);
    p.SetOutx_CtsFlow(false);
    p.SetOutx_DsrFlow(false);
    p.SetOutx_XonXoffFlow(false);
    p.SetInx_XonXoffFlow(false);
    p.SetDtrControl(TDtrControl::DtrDisable);
    p.SetRtsControl(TRtsControl::RtsDisable);
    p.SetReadIntervalTimeout(5);
    p.OnReceiveData = [this, n](TComm&, const std::uint8_t* buffer, std::uint16_t length) {
      ReceiveData(n, {buffer, length});
    };
    p.OnReceiveError = [this, n](TComm&, std::uint32_t) { ReceiveError(n); };
    p.OnRequestHangup = [this, n](TComm&) { RequestHangup(n); };
  }
  random_ = [engine = std::make_shared<std::minstd_rand>(std::random_device{}())] {
    return static_cast<std::uint8_t>((*engine)() % 255);
  };
}

Station::~Station() {
  for (auto& p : ports_) {
    if (p) p->ClosePort();
  }
}

bool Station::AnyBusy() const {
  for (const ChannelState& ch : channels_) {
    if (ch.busy) return true;
  }
  return false;
}

void Station::ListSerialPorts() {}
void Station::FreshBtnClick() {}
void Station::BitBtnFindDevClick() {}
void Station::BitBtn1Click(int) {}
void Station::SendIdentityRequest(int) {}
void Station::ReceiveData(int, std::span<const std::uint8_t>) {}
void Station::ReceiveError(int) {}
void Station::RequestHangup(int) {}
void Station::Timer1Timer() {}
void Station::FormKeyPress(char key) {
  if (key == ' ' || key == '\r' || key == '\n') AutoSpdBtnClick();
}
void Station::SpdBtnDownLoadClick() {}
void Station::AutoSpdBtnClick() {}
void Station::SpdBtnBlankChkClick() {}
void Station::SpdBtnEraseClick() {}
void Station::SpdBtnProgClick() {}
void Station::SpdBtnVerifyClick() {}
void Station::SpdBtnWrtOPBClick() {}
void Station::ReadOptionByte1Click() {}
void Station::ReadMG32xxChipID1Click() {}
void Station::ReadChipMemoryX1Click() {}
void Station::WriteOTPDataMemory1Click() {}
void Station::ReadOTPMemory1Click() {}
void Station::ReadAddress1Click() {}
void Station::EnterOffLineMonitor1Click() {}
void Station::DoFirmWareUpgrade1Click() {}
void Station::StartFirmwareUpgrade(int) {}

}  // namespace korvan
