// The wall clock of the station: information lines carry the time of day, log files and a few
// messages the date and time. The station takes a Clock so that tests can fix the moment.
#pragma once

#include <functional>
#include <string>

namespace korvan {

struct LocalTime {
  int year = 2000;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

using Clock = std::function<LocalTime()>;

// The local time now.
LocalTime SystemLocalTime();

// "yyyy-MM-dd", the station's short date.
std::string DateText(const LocalTime& t);
// "HH:mm:ss", the station's long time.
std::string TimeText(const LocalTime& t);

}  // namespace korvan
