#include "core/records/production_record.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>

#include "core/util/format.h"

namespace korvan {

using Json = nlohmann::ordered_json;

ZonedTime SystemZonedTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec},
          static_cast<int>(tm.tm_gmtoff / 60)};
}

std::string Iso8601Text(const ZonedTime& t) {
  const int offset = std::abs(t.utcOffsetMinutes);
  return Format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.local.year, t.local.month,
                t.local.day, t.local.hour, t.local.minute, t.local.second,
                t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
}

std::string StationHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string NewRecordId() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) id += Format("%08x", static_cast<unsigned>(random()));
  return id;
}

std::string ChecksumText(std::uint16_t value) {
  return Format("0x%04X", value);
}

namespace {

constexpr const char* kOriginNames[] = {"auto", "stand-alone"};

const char* OriginName(RecordOrigin origin) {
  return kOriginNames[static_cast<int>(origin)];
}

const char* Verdict(bool pass) {
  return pass ? "OK" : "NG";
}

// The CSV columns in their order; JSON writes the same fields, "station" right after "host".
constexpr const char* kFields[] = {
    "time",
    "host",
    "channel",
    "port",
    "programmer",
    "chip",
    "origin",
    "image_crc",
    "image_sum",
    "option_sum",
    "serial_number",
    "chip_uid",
    "result",
    "result_text",
    "verdict",
    "ok_count",
    "ng_count",
    "station",
    "serial_number_address",
    "record_id",
    "serial_number_derived",
    "job_fingerprint",
};

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, its quotes doubled.
// A text that a spreadsheet would take for a formula (it starts with =, +, -, @, a tab or a
// carriage return: a programmer's identity text or a port name can be anything) gets an
// apostrophe in front, so opening the file never runs it.
std::string CsvField(std::string_view text) {
  std::string guarded;
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    guarded = "'" + std::string(text);
    text = guarded;
  }
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::optional<std::uint16_t> ParseChecksum(const Json& value) {
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  if (text.size() != 6 || text.compare(0, 2, "0x") != 0) return std::nullopt;
  const std::optional<std::int64_t> number = ParseInteger(text);
  if (!number || *number < 0 || *number > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(*number);
}

template <typename T>
bool ReadUnsigned(const Json& object, const char* key, T& out) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_unsigned()) return false;
  const auto value = it->get<std::uint64_t>();
  if (value > std::numeric_limits<T>::max()) return false;
  out = static_cast<T>(value);
  return true;
}

bool ReadText(const Json& object, const char* key, std::string& out) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

}  // namespace

std::string RecordJsonLine(const ProductionRecord& r) {
  Json j;
  j["time"] = r.time;
  j["host"] = r.host;
  j["station"] = r.station;
  j["channel"] = r.channel;
  j["port"] = r.port;
  j["programmer"] = r.programmer;
  j["chip"] = r.chip;
  j["origin"] = OriginName(r.origin);
  j["image_crc"] = ChecksumText(r.imageCrc);
  j["image_sum"] = ChecksumText(r.imageSum);
  j["option_sum"] = ChecksumText(r.optionSum);
  j["serial_number"] = r.serialNumber ? Json(*r.serialNumber) : Json(nullptr);
  j["serial_number_address"] = r.serialNumberAddress ? Json(*r.serialNumberAddress) : Json(nullptr);
  if (r.serialNumberDerived) j["serial_number_derived"] = true;
  j["chip_uid"] = r.chipUid ? Json(*r.chipUid) : Json(nullptr);
  j["result"] = r.result;
  j["result_text"] = r.resultText;
  j["verdict"] = Verdict(r.pass);
  j["ok_count"] = r.okCount;
  j["ng_count"] = r.ngCount;
  if (r.interrupted) j["interrupted"] = true;
  j["record_id"] = r.recordId;
  j["job_fingerprint"] = r.jobFingerprint.empty() ? Json(nullptr) : Json(r.jobFingerprint);
  // A programmer's identity text is ASCII and the station's messages are UTF-8, but a record
  // must never be lost to a stray byte.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::string RecordCsvHeader() {
  std::string line;
  for (const char* field : kFields) {
    if (!line.empty()) line += ',';
    line += field;
  }
  return line + "\r\n";
}

std::string RecordCsvLine(const ProductionRecord& r) {
  const std::string fields[] = {
      CsvField(r.time),
      CsvField(r.host),
      std::to_string(r.channel),
      CsvField(r.port),
      CsvField(r.programmer),
      CsvField(r.chip),
      OriginName(r.origin),
      ChecksumText(r.imageCrc),
      ChecksumText(r.imageSum),
      ChecksumText(r.optionSum),
      r.serialNumber ? std::to_string(*r.serialNumber) : std::string(),
      r.chipUid ? CsvField(*r.chipUid) : std::string(),
      std::to_string(r.result),
      CsvField(r.resultText),
      Verdict(r.pass),
      std::to_string(r.okCount),
      std::to_string(r.ngCount),
      // Last, so that readers of the older files find every column where it was.
      std::to_string(r.station),
      r.serialNumberAddress ? std::to_string(*r.serialNumberAddress) : std::string(),
      CsvField(r.recordId),
      r.serialNumberDerived ? "derived" : "",
      CsvField(r.jobFingerprint),
  };
  static_assert(std::size(fields) == std::size(kFields));
  std::string line;
  for (const std::string& field : fields) {
    if (&field != fields) line += ',';
    line += field;
  }
  return line + "\r\n";
}

std::optional<ProductionRecord> ParseRecordJson(std::string_view line) {
  const Json j = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object()) return std::nullopt;
  ProductionRecord r;
  std::string origin, verdict;
  if (!ReadText(j, "time", r.time) || !ReadText(j, "host", r.host) ||
      !ReadUnsigned(j, "channel", r.channel) || !ReadText(j, "port", r.port) ||
      !ReadText(j, "programmer", r.programmer) || !ReadText(j, "chip", r.chip) ||
      !ReadText(j, "origin", origin) || !ReadUnsigned(j, "result", r.result) ||
      !ReadText(j, "result_text", r.resultText) || !ReadText(j, "verdict", verdict) ||
      !ReadUnsigned(j, "ok_count", r.okCount) || !ReadUnsigned(j, "ng_count", r.ngCount)) {
    return std::nullopt;
  }
  if (origin == kOriginNames[0]) {
    r.origin = RecordOrigin::Auto;
  } else if (origin == kOriginNames[1]) {
    r.origin = RecordOrigin::StandAlone;
  } else {
    return std::nullopt;
  }
  if (verdict != "OK" && verdict != "NG") return std::nullopt;
  r.pass = verdict == "OK";

  const auto crc = ParseChecksum(j.value("image_crc", Json()));
  const auto sum = ParseChecksum(j.value("image_sum", Json()));
  const auto option = ParseChecksum(j.value("option_sum", Json()));
  if (!crc || !sum || !option) return std::nullopt;
  r.imageCrc = *crc;
  r.imageSum = *sum;
  r.optionSum = *option;

  // Files written before stations were counted have none: their records are all station 1's.
  if (j.contains("station") && (!ReadUnsigned(j, "station", r.station) || r.station < 1)) {
    return std::nullopt;
  }
  if (const auto it = j.find("interrupted"); it != j.end()) {
    if (!it->is_boolean()) return std::nullopt;
    r.interrupted = it->get<bool>();
  }
  // Absent and null both mean "not given".
  if (const auto it = j.find("serial_number"); it != j.end() && !it->is_null()) {
    std::uint32_t serial = 0;
    if (!ReadUnsigned(j, "serial_number", serial)) return std::nullopt;
    r.serialNumber = serial;
  }
  if (const auto it = j.find("serial_number_address"); it != j.end() && !it->is_null()) {
    std::uint32_t address = 0;
    if (!ReadUnsigned(j, "serial_number_address", address)) return std::nullopt;
    r.serialNumberAddress = address;
  }
  if (const auto it = j.find("serial_number_derived"); it != j.end()) {
    if (!it->is_boolean()) return std::nullopt;
    r.serialNumberDerived = it->get<bool>();
  }
  // Files written before records had an id have none.
  if (j.contains("record_id") && !ReadText(j, "record_id", r.recordId)) return std::nullopt;
  if (const auto it = j.find("chip_uid"); it != j.end() && !it->is_null()) {
    if (!it->is_string()) return std::nullopt;
    r.chipUid = it->get<std::string>();
  }
  // Files written before records had a job's fingerprint have none; null: not known.
  if (const auto it = j.find("job_fingerprint"); it != j.end() && !it->is_null()) {
    if (!it->is_string()) return std::nullopt;
    r.jobFingerprint = it->get<std::string>();
  }
  return r;
}

}  // namespace korvan
