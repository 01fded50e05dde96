#include "core/host/line_link.h"

#include <cstdlib>
#include <new>

namespace korvan {

std::optional<std::string> LineDatabaseFromEnvironment() {
  const char* url = std::getenv("KORVAN_RECORDS_DB");
  if (url == nullptr || *url == '\0') return std::nullopt;
  return std::string(url);
}

LineLink::LineLink(Station& station, std::filesystem::path recordFolder, std::string url,
                   NoticeHandler onNotice, LineForwarderOptions options)
    : station_(station),
      url_(url),
      onNotice_(std::move(onNotice)),
      forwarder_(
          std::move(recordFolder), std::move(url),
          [this](const LineNotice& notice) { Notice(notice); }, options) {}

LineLink::~LineLink() {
  forwarder_.Stop();
  station_.serialEvents().Discard(this);
}

bool LineLink::Start(std::string* error) {
  return forwarder_.Start(error);
}

void LineLink::Notice(const LineNotice& notice) {
  {
    std::lock_guard lock(mutex_);
    notices_.push_back(notice);
  }
  Event event;
  event.receiver = this;
  try {
    station_.serialEvents().Post(std::move(event));
  } catch (const std::bad_alloc&) {
    // Told with the next notice that gets through.
  }
}

void LineLink::HandleEvent(Event&) {
  std::deque<LineNotice> notices;
  {
    std::lock_guard lock(mutex_);
    notices.swap(notices_);
  }
  for (const LineNotice& notice : notices) {
    station_.AddInfoLine(notice.text);
    if (onNotice_) onNotice_(notice);
  }
}

LineReservation ReserveOnLine(LineLink& link, const std::vector<SerialPlan>& plans,
                              bool allowReused) {
  std::vector<SerialRange> ranges;
  for (const SerialPlan& plan : plans) {
    if (!plan.enabled) continue;
    for (const SerialUse& use : plan.uses) {
      ranges.push_back({use.channel, plan.chip, plan.address, use.first, use.last});
    }
  }
  LineReservation result;
  if (ranges.empty()) {
    result.reached = true;
    return result;
  }
  std::optional<std::vector<SerialHolder>> holders;
  if (auto db = LineDatabase::Connect(link.url(), &result.error)) {
    holders = db->Reserve(link.forwarder().stationId(), StationHostName(), ranges, allowReused,
                          &result.error);
  }
  if (!holders) return result;
  result.reached = true;
  result.holders = std::move(*holders);
  return result;
}

bool ConfirmLineSerialNumbers(Station& station, LineLink& link, int stationNumber,
                              Frontend& frontend) {
  const std::vector<SerialPlan> plans = {
      PlanSerialNumbers(station, ConnectedChannels(station), stationNumber)};
  const LineReservation reservation = ReserveOnLine(link, plans, false);
  if (!reservation.reached) {
    const bool go = frontend.Ask(MessageKind::Warning,
                                 "Serial numbers cannot be reserved on the line database " +
                                     LineDatabaseName(link.url()) + ":\n" + reservation.error +
                                     "\n\nGo on with this station's own records as the only check?",
                                 Buttons::OkCancel) == Answer::Ok;
    if (go) {
      station.AddInfoLine("warning: serial numbers not reserved on the line (" + reservation.error +
                          "); only this station's own records were checked");
    }
    return go;
  }
  if (reservation.holders.empty()) return true;
  std::string held;
  for (const SerialHolder& holder : reservation.holders) held += holder.Text() + "\n";
  if (frontend.Ask(MessageKind::Warning,
                   "Serial numbers held elsewhere on the line:\n" + held +
                       "\nProgram the parts with these numbers anyway?",
                   Buttons::OkCancel) != Answer::Ok) {
    return false;
  }
  // Reserved anyway, so that the next station to ask sees this one.
  const LineReservation anyway = ReserveOnLine(link, plans, true);
  if (!anyway.reached) {
    station.AddInfoLine("warning: serial numbers not reserved on the line (" + anyway.error + ")");
  }
  for (const SerialHolder& holder : reservation.holders) {
    station.AddInfoLine("warning: " + holder.Text());
  }
  return true;
}

}  // namespace korvan
