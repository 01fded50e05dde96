// The production record: one per finished part, for traceability. A part is finished when an
// Auto sequence started by the station ends (well or not), and when a programmer working on its
// own reports a completed cycle. The record says where (station, channel, port, programmer),
// what (chip, image and option-byte checksums, serial number, chip UID) and how it ended (result
// code and text, the channel's OK/NG counters after it).
//
// Two line formats carry the same fields: JSON Lines (one object per line, the format scripts
// read) and CSV (RFC 4180: comma separated, CR LF line ends, fields quoted when they hold a
// comma, a quote or a line break; a text cell a spreadsheet would take for a formula starts with
// an apostrophe). Both are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/util/clock.h"

namespace korvan {

// A moment of the local clock together with its distance from UTC.
struct ZonedTime {
  LocalTime local;
  int utcOffsetMinutes = 0;  // east of Greenwich positive
};

using ZonedClock = std::function<ZonedTime()>;

// The local time now with the zone's offset at this moment.
ZonedTime SystemZonedTime();

// ISO 8601 with the offset: "2026-12-10T14:03:22+08:00", "2026-12-10T03:24:01-03:30".
std::string Iso8601Text(const ZonedTime& t);

// This machine's host name; "localhost" when it cannot be read.
std::string StationHostName();

// How the part was programmed.
enum class RecordOrigin {
  Auto,        // the station's Auto sequence
  StandAlone,  // the programmer's own cycle, reported by a progress report
};

struct ProductionRecord {
  std::string time;  // Iso8601Text of the moment the part finished
  std::string host;
  int station = 1;  // the station of four within the process, 1-based
  int channel = 0;  // 1..N across the process's stations
  std::string port;
  std::string programmer;  // the programmer's identity text
  std::string chip;        // chip name
  RecordOrigin origin = RecordOrigin::Auto;
  std::uint16_t imageCrc = 0;   // CRC of the flash image over the flash window
  std::uint16_t imageSum = 0;   // additive checksum of the same bytes
  std::uint16_t optionSum = 0;  // option-byte sum
  // The serial number given to the part, when serial numbers are on, and the flash address it
  // was written at (set together).
  std::optional<std::uint32_t> serialNumber;
  std::optional<std::uint32_t> serialNumberAddress;
  // The serial number was not reported but worked out from the settings the station downloaded
  // (a programmer working on its own numbers its good parts itself: the start value plus one
  // step per good part since the download). JSON carries it as "serial_number_derived": true.
  bool serialNumberDerived = false;
  // The chip's unique ID as 24 upper-case hex digits, when it was read.
  std::optional<std::string> chipUid;
  int result = 0;  // the status or result code the part ended with
  std::string resultText;
  bool pass = false;  // the part is good
  // The station was stopped while the part was being worked on (always NG). JSON carries it as
  // "interrupted": true; in CSV the result text says so.
  bool interrupted = false;
  std::uint32_t okCount = 0;  // the channel's counters after this part
  std::uint32_t ngCount = 0;
  // Unique across stations and time (NewRecordId), made when the record is; empty in records
  // read from files written before records had one.
  std::string recordId;
  // The fingerprint (64 hex digits) of the job that programmed the part: the job an Auto cycle
  // ran, or the last job downloaded into a programmer working on its own. Empty when not known
  // (a programmer that got its job from another session, records from before fingerprints).
  std::string jobFingerprint;

  bool operator==(const ProductionRecord&) const = default;
};

// A new record id: 128 random bits as 32 lower-case hex digits.
std::string NewRecordId();

// One JSON object with a line feed at its end. Text that is not valid UTF-8 has the bad bytes
// replaced, so a record is always written.
std::string RecordJsonLine(const ProductionRecord& record);

// The CSV header line and a record's line, each ending in CR LF.
std::string RecordCsvHeader();
std::string RecordCsvLine(const ProductionRecord& record);

// Reads one JSON line (without its line feed) back. Returns nullopt when it is not a record:
// not JSON, a field missing or of the wrong type.
std::optional<ProductionRecord> ParseRecordJson(std::string_view line);

// "0x1A2B".
std::string ChecksumText(std::uint16_t value);

}  // namespace korvan
