// What a set of production records says about production: per day and channel the parts, OK,
// NG, yield and parts per hour; per hour the same for the whole station; per job (its
// fingerprint) the same; the NG result codes
// with their texts, most frequent first. As text, JSON, and a self-contained HTML page (inline
// CSS and SVG, nothing fetched) with yield bars and a Pareto chart of the NG codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/records/production_record.h"

namespace korvan {

// Seconds since 1970 (UTC) of an Iso8601Text; nullopt when it is not one.
std::optional<std::int64_t> RecordEpochSeconds(std::string_view iso);

struct PartCounts {
  std::size_t parts = 0, ok = 0, ng = 0;
  // Parts per hour: the parts after the first, over the time from the first to the last (both
  // finished parts); nullopt with fewer than two parts or under a minute between them.
  std::optional<double> partsPerHour;
  double yield() const { return parts ? 100.0 * static_cast<double>(ok) / parts : 0.0; }
};

struct SummaryRow {
  std::string key;  // "2026-12-10" (a day), "2026-12-10 14" (an hour)
  int channel = 0;  // 0: every channel
  PartCounts counts;
};

struct NgCode {
  int result = 0;
  std::string text;  // the text it came with most often
  std::size_t count = 0;
};

// The parts of one job (its fingerprint; "" for records that name none) and the parts it was
// chosen for.
struct JobSummaryRow {
  std::string fingerprint;
  std::string chip;  // the chip of its first record
  PartCounts counts;
};

struct RecordSummary {
  std::vector<SummaryRow> days;      // by day, each day's channels then its total (channel 0)
  std::vector<JobSummaryRow> jobs;   // per job, in the order each first appears
  std::vector<SummaryRow> channels;  // the whole selection per channel (key empty)
  std::vector<SummaryRow> hours;     // per hour, every channel together
  std::vector<NgCode> ngCodes;       // most frequent first, then by code
  PartCounts total;
};

class SummaryBuilder {
 public:
  void Add(const ProductionRecord& record);
  RecordSummary Finish() const;

 private:
  struct Tally {
    std::size_t ok = 0, ng = 0;
    std::int64_t first = 0, last = 0;
    bool timed = false;
  };
  std::map<std::pair<std::string, int>, Tally> days_, hours_;  // (day or hour, channel)
  std::map<int, Tally> channels_;
  std::map<std::string, Tally> jobs_;
  std::vector<std::pair<std::string, std::string>> jobOrder_;  // fingerprint, chip
  Tally total_;
  std::map<int, std::map<std::string, std::size_t>> ngTexts_;  // code -> text -> count
};

// The summary as text lines for a terminal, and as one JSON object.
std::string SummaryText(const RecordSummary& summary);
std::string SummaryJson(const RecordSummary& summary);
// One self-contained HTML page; `title` names the selection.
std::string SummaryHtml(const RecordSummary& summary, const std::string& title);

}  // namespace korvan
