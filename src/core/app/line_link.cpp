#include "core/app/line_link.h"

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

}  // namespace korvan
