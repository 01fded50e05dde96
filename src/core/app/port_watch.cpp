#include "core/app/port_watch.h"

#include "core/util/format.h"

namespace korvan {

namespace {

// The channel bound to `port`, or 0.
int ChannelOf(const Station& station, const std::string& port) {
  for (int n = 1; n <= kChannelCount; ++n) {
    if (station.channel(n).portName == port) return n;
  }
  return 0;
}

bool AnyAtWork(const Station& station) {
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelSnapshot& ch = station.channel(n);
    if (ch.busy != 0 || ch.upgrading != 0) return true;
  }
  return false;
}

}  // namespace

PortWatch::PortWatch(Station& station, Frontend& frontend, EventQueue& queue,
                     HotPlugOptions options)
    : station_(station),
      frontend_(frontend),
      monitor_(
          queue, [this](const PortChange& change) { Handle(change); }, std::move(options)) {}

void PortWatch::Start() {
  monitor_.Start();
  station_.AddInfoLine(Format("Watching USB serial adapters (%s).", monitor_.Method()));
}

void PortWatch::Handle(const PortChange& change) {
  const char* port = change.port.c_str();
  if (change.kind == PortChangeKind::Disappeared) {
    const int n = ChannelOf(station_, change.port);
    station_.AddInfoLine(n != 0 ? Format("USB serial adapter %s of channel %d removed.", port, n)
                                : Format("USB serial adapter %s removed.", port));
    return;
  }
  station_.AddInfoLine(Format("USB serial adapter %s plugged in.", port));
  if (AnyAtWork(station_)) {
    // A search now would close the ports of the channels at work.
    station_.AddInfoLine("Search for programmers (连接设备) once every channel is idle.");
    return;
  }
  const Answer answer =
      frontend_.Ask(MessageKind::Information,
                    Format("USB serial adapter %s plugged in.\nSearch for programmers now?", port),
                    Buttons::OkCancel);
  // The question is modal; a channel may have started meanwhile (the blank key).
  if (answer == Answer::Ok && !AnyAtWork(station_)) station_.BitBtnFindDevClick();
}

std::string ChannelTooltip(const Station& station, int channel) {
  const ChannelSnapshot& ch = station.channel(channel);
  if (ch.portName.empty()) return Format("Channel %d: no port", channel);
  if (ch.connected == 0 || ch.identity.empty()) {
    return Format("Channel %d: %s, no programmer answered", channel, ch.portName.c_str());
  }
  return Format("Channel %d: %s, %s", channel, ch.portName.c_str(), ch.identity.c_str());
}

}  // namespace korvan
