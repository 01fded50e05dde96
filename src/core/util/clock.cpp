#include "core/util/clock.h"

#include <ctime>

#include "core/util/format.h"

namespace korvan {

LocalTime SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string DateText(const LocalTime& t) {
  return Format("%04d-%02d-%02d", t.year, t.month, t.day);
}

std::string TimeText(const LocalTime& t) {
  return Format("%02d:%02d:%02d", t.hour, t.minute, t.second);
}

}  // namespace korvan
