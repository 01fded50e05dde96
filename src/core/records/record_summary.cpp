#include "core/records/record_summary.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "core/util/format.h"

namespace korvan {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

std::string CountsText(const PartCounts& c) {
  return Format("%6zu %6zu %6zu %7.1f%% %9s", c.parts, c.ok, c.ng, c.yield(),
                c.partsPerHour ? Format("%.1f", *c.partsPerHour).c_str() : "-");
}

std::string ChannelName(int channel) {
  return channel == 0 ? "all" : std::to_string(channel);
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

struct Bar {
  std::string label;    // under the bar
  double value = 0;     // 0..100 (yield) or a count
  std::string caption;  // above the bar
  std::string title;    // tooltip
};

// A bar chart as inline SVG: bars of `value` against `maximum`, green at or above `good`
// percent, amber below, red under `bad`; a count chart (`percent` false) draws every bar red.
std::string BarChart(const std::vector<Bar>& bars, double maximum, bool percent,
                     const std::vector<double>* cumulative = nullptr) {
  const int width = 1100, height = 190, left = 50, right = cumulative ? 50 : 10, top = 24,
            bottom = 30;
  const double plotW = width - left - right, plotH = height - top - bottom;
  std::string svg = Format(
      "<svg viewBox=\"0 0 %d %d\" width=\"100%%\" role=\"img\" "
      "xmlns=\"http://www.w3.org/2000/svg\">\n",
      width, height);
  // Grid lines and the left axis.
  for (int i = 0; i <= 4; ++i) {
    const double y = top + plotH - plotH * i / 4;
    const double v = maximum * i / 4;
    svg += Format(
        "<line x1=\"%d\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"grid\"/>"
        "<text x=\"%d\" y=\"%.1f\" class=\"axis\" text-anchor=\"end\">%s</text>\n",
        left, y, left + plotW, y, left - 6, y + 4,
        percent ? Format("%.0f%%", v).c_str() : Format("%.0f", v).c_str());
  }
  if (bars.empty()) {
    svg += Format("<text x=\"%d\" y=\"%d\" class=\"axis\">no parts</text>", left + 10, top + 20);
  }
  const double slot = bars.empty() ? plotW : plotW / static_cast<double>(bars.size());
  const double barW = std::min(80.0, slot * 0.7);
  // Labels thin out when there are many bars.
  const std::size_t every = std::max<std::size_t>(1, bars.size() / 24 + 1);
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const Bar& b = bars[i];
    const double h = maximum > 0 ? plotH * std::clamp(b.value, 0.0, maximum) / maximum : 0;
    const double x = left + slot * static_cast<double>(i) + (slot - barW) / 2;
    const char* cls = !percent          ? "bad"
                      : b.value >= 99.0 ? "good"
                      : b.value >= 90.0 ? "fair"
                                        : "bad";
    svg += Format(
        "<g><title>%s</title><rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" "
        "class=\"%s\"/></g>\n",
        Escape(b.title).c_str(), x, top + plotH - h, barW, h, cls);
    if (bars.size() <= 40) {
      // Inside the top of a bar tall enough (above it a Pareto line would run through it).
      const bool inside = h >= 22;
      svg +=
          Format("<text x=\"%.1f\" y=\"%.1f\" class=\"value%s\" text-anchor=\"middle\">%s</text>\n",
                 x + barW / 2, inside ? top + plotH - h + 16 : top + plotH - h - 5,
                 inside ? " inside" : "", Escape(b.caption).c_str());
    }
    if (i % every == 0) {
      svg += Format("<text x=\"%.1f\" y=\"%.1f\" class=\"axis\" text-anchor=\"middle\">%s</text>\n",
                    x + barW / 2, top + plotH + 18, Escape(b.label).c_str());
    }
  }
  if (cumulative && !cumulative->empty()) {
    std::string points;
    for (std::size_t i = 0; i < cumulative->size(); ++i) {
      const double x = left + slot * static_cast<double>(i) + slot / 2;
      const double y = top + plotH - plotH * (*cumulative)[i] / 100.0;
      points += Format("%.1f,%.1f ", x, y);
      svg += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" class=\"cum\"/>\n", x, y);
    }
    svg += "<polyline points=\"" + points + "\" class=\"cumline\"/>\n";
    for (int i = 0; i <= 4; ++i) {
      const double y = top + plotH - plotH * i / 4;
      svg += Format("<text x=\"%.1f\" y=\"%.1f\" class=\"axis\">%d%%</text>\n", left + plotW + 6,
                    y + 4, i * 25);
    }
  }
  svg += Format("<line x1=\"%d\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"base\"/>\n", left,
                top + plotH, left + plotW, top + plotH);
  return svg + "</svg>\n";
}

std::string CountsCells(const PartCounts& c) {
  return Format("<td>%zu</td><td>%zu</td><td>%zu</td><td>%.1f%%</td><td>%s</td>", c.parts, c.ok,
                c.ng, c.yield(),
                c.partsPerHour ? Format("%.1f", *c.partsPerHour).c_str() : "&ndash;");
}

}  // namespace

std::optional<std::int64_t> RecordEpochSeconds(std::string_view t) {
  // yyyy-MM-ddTHH:mm:ss+hh:mm
  if (t.size() != 25 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
      t[16] != ':' || (t[19] != '+' && t[19] != '-') || t[22] != ':') {
    return std::nullopt;
  }
  auto num = [&](std::size_t at, std::size_t n) -> int {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return -1;
      v = v * 10 + (t[i] - '0');
    }
    return v;
  };
  const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2),
            s = num(17, 2), oh = num(20, 2), om = num(23, 2);
  if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 60 || oh < 0 || om < 0) {
    return std::nullopt;
  }
  const std::int64_t offset = (oh * 60 + om) * 60 * (t[19] == '-' ? -1 : 1);
  return DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset;
}

void SummaryBuilder::Add(const ProductionRecord& r) {
  const std::optional<std::int64_t> when = RecordEpochSeconds(r.time);
  auto add = [&](Tally& t) {
    ++(r.pass ? t.ok : t.ng);
    if (!when) return;
    if (!t.timed) {
      t.first = t.last = *when;
      t.timed = true;
    }
    t.first = std::min(t.first, *when);
    t.last = std::max(t.last, *when);
  };
  const std::string day = r.time.substr(0, 10);
  const std::string hour = r.time.size() >= 13 ? day + ' ' + r.time.substr(11, 2) : day;
  add(days_[{day, r.channel}]);
  add(days_[{day, 0}]);
  add(hours_[{hour, 0}]);
  add(channels_[r.channel]);
  if (!jobs_.contains(r.jobFingerprint)) jobOrder_.emplace_back(r.jobFingerprint, r.chip);
  add(jobs_[r.jobFingerprint]);
  add(total_);
  if (!r.pass) ++ngTexts_[r.result][r.resultText];
}

namespace {

PartCounts CountsOf(std::size_t ok, std::size_t ng, bool timed, std::int64_t first,
                    std::int64_t last) {
  PartCounts c;
  c.ok = ok;
  c.ng = ng;
  c.parts = ok + ng;
  if (timed && c.parts >= 2 && last - first >= 60) {
    c.partsPerHour = static_cast<double>(c.parts - 1) * 3600.0 / static_cast<double>(last - first);
  }
  return c;
}

}  // namespace

RecordSummary SummaryBuilder::Finish() const {
  RecordSummary s;
  auto counts = [](const Tally& t) { return CountsOf(t.ok, t.ng, t.timed, t.first, t.last); };
  // Each day's channels in order, then the day's total.
  std::string lastDay;
  std::optional<SummaryRow> dayTotal;
  for (const auto& [key, tally] : days_) {
    if (key.second == 0) {
      if (dayTotal) s.days.push_back(*dayTotal);
      dayTotal = SummaryRow{key.first, 0, counts(tally)};
      continue;
    }
    s.days.push_back({key.first, key.second, counts(tally)});
  }
  if (dayTotal) s.days.push_back(*dayTotal);
  for (const auto& [key, tally] : hours_) s.hours.push_back({key.first, 0, counts(tally)});
  for (const auto& [channel, tally] : channels_) s.channels.push_back({"", channel, counts(tally)});
  for (const auto& [fingerprint, chip] : jobOrder_) {
    s.jobs.push_back({fingerprint, chip, counts(jobs_.at(fingerprint))});
  }
  s.total = counts(total_);
  for (const auto& [code, texts] : ngTexts_) {
    NgCode ng;
    ng.result = code;
    std::size_t best = 0;
    for (const auto& [text, count] : texts) {
      ng.count += count;
      if (count > best) {
        best = count;
        ng.text = text;
      }
    }
    s.ngCodes.push_back(ng);
  }
  std::stable_sort(s.ngCodes.begin(), s.ngCodes.end(),
                   [](const NgCode& a, const NgCode& b) { return a.count > b.count; });
  return s;
}

std::string SummaryText(const RecordSummary& s) {
  std::string out = "day        channel  parts     OK     NG   yield   parts/h\n";
  for (const SummaryRow& row : s.days) {
    out += Format("%-10s %7s ", row.key.c_str(), ChannelName(row.channel).c_str()) +
           CountsText(row.counts) + '\n';
  }
  out += Format("%-10s %7s ", "total", "all") + CountsText(s.total) + '\n';
  out += "job               chip          parts     OK     NG   yield   parts/h\n";
  for (const JobSummaryRow& row : s.jobs) {
    out += Format("%-17s %-12s ",
                  row.fingerprint.empty() ? "unknown" : row.fingerprint.substr(0, 16).c_str(),
                  row.chip.c_str()) +
           CountsText(row.counts) + '\n';
  }
  if (s.ngCodes.empty()) {
    out += "no NG parts\n";
  } else {
    out += "NG result codes, most frequent first:\n  count  code  text\n";
    for (const NgCode& ng : s.ngCodes) {
      out +=
          Format("%7zu  0x%02X  %s\n", ng.count, static_cast<unsigned>(ng.result), ng.text.c_str());
    }
  }
  return out;
}

std::string SummaryJson(const RecordSummary& s) {
  using Json = nlohmann::ordered_json;
  auto counts = [](const PartCounts& c) {
    Json j;
    j["parts"] = c.parts;
    j["ok"] = c.ok;
    j["ng"] = c.ng;
    j["yield"] = c.parts ? Json(c.yield()) : Json(nullptr);
    j["parts_per_hour"] = c.partsPerHour ? Json(*c.partsPerHour) : Json(nullptr);
    return j;
  };
  Json j;
  j["total"] = counts(s.total);
  j["days"] = Json::array();
  for (const SummaryRow& row : s.days) {
    Json r = counts(row.counts);
    r["day"] = row.key;
    r["channel"] = row.channel == 0 ? Json("all") : Json(row.channel);
    j["days"].push_back(r);
  }
  j["jobs"] = Json::array();
  for (const JobSummaryRow& row : s.jobs) {
    Json r = counts(row.counts);
    r["job_fingerprint"] = row.fingerprint.empty() ? Json(nullptr) : Json(row.fingerprint);
    r["chip"] = row.chip;
    j["jobs"].push_back(r);
  }
  j["hours"] = Json::array();
  for (const SummaryRow& row : s.hours) {
    Json r = counts(row.counts);
    r["hour"] = row.key;
    j["hours"].push_back(r);
  }
  j["ng_codes"] = Json::array();
  for (const NgCode& ng : s.ngCodes) {
    j["ng_codes"].push_back({{"result", ng.result}, {"text", ng.text}, {"count", ng.count}});
  }
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::string SummaryHtml(const RecordSummary& s, const std::string& title) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" +
      Escape(title) +
      "</title>\n<style>\n"
      "body{font-family:'Noto Sans','WenQuanYi Micro Hei','DejaVu Sans',sans-serif;"
      "margin:24px;color:#1d2733;background:#f6f7f9}\n"
      "h1{font-size:22px;margin:0 0 12px}h2{font-size:17px;margin:16px 0 6px}\n"
      ".cards{display:flex;gap:12px;flex-wrap:wrap}\n"
      ".card{background:#fff;border:1px solid #d9dee5;border-radius:6px;padding:8px 16px;"
      "min-width:110px}\n.card b{display:block;font-size:22px}\n.card "
      "span{color:#5b6675;font-size:13px}\n"
      ".chart{background:#fff;border:1px solid #d9dee5;border-radius:6px;padding:8px}\n"
      "svg text{font-size:13px;fill:#1d2733}svg .axis{fill:#5b6675;font-size:12px}\n"
      "svg .value{font-size:12px;font-weight:bold}svg .value.inside{fill:#fff}\n"
      "svg .grid{stroke:#e3e7ec;stroke-width:1}svg .base{stroke:#8a94a3;stroke-width:1}\n"
      "svg .good{fill:#3a9a5b}svg .fair{fill:#e0a030}svg .bad{fill:#cc4b3c}\n"
      "svg .cum{fill:#2f5fa8}svg .cumline{fill:none;stroke:#2f5fa8;stroke-width:2}\n"
      "table{border-collapse:collapse;background:#fff;font-size:14px}\n"
      "th,td{border:1px solid #d9dee5;padding:4px 10px;text-align:right}\n"
      "th{background:#eef1f5}td.l,th.l{text-align:left}tr.total td{font-weight:bold;"
      "background:#f3f5f8}\n</style></head><body>\n<h1>" +
      Escape(title) + "</h1>\n<div class=\"cards\">\n";
  html += Format(
      "<div class=\"card\"><b>%zu</b><span>parts</span></div>\n"
      "<div class=\"card\"><b>%zu</b><span>OK</span></div>\n"
      "<div class=\"card\"><b>%zu</b><span>NG</span></div>\n"
      "<div class=\"card\"><b>%.1f%%</b><span>yield</span></div>\n"
      "<div class=\"card\"><b>%s</b><span>parts per hour</span></div>\n</div>\n",
      s.total.parts, s.total.ok, s.total.ng, s.total.yield(),
      s.total.partsPerHour ? Format("%.1f", *s.total.partsPerHour).c_str() : "&ndash;");

  std::vector<Bar> channelBars;
  for (const SummaryRow& row : s.channels) {
    channelBars.push_back(
        {"channel " + std::to_string(row.channel), row.counts.yield(),
         Format("%.1f%% of %zu", row.counts.yield(), row.counts.parts),
         Format("channel %d: %zu OK of %zu", row.channel, row.counts.ok, row.counts.parts)});
  }
  html += "<h2>Yield per channel</h2>\n<div class=\"chart\">\n" + BarChart(channelBars, 100, true) +
          "</div>\n";

  std::vector<Bar> hourBars;
  std::string lastDay;
  for (const SummaryRow& row : s.hours) {
    const std::string day = row.key.substr(0, 10);
    std::string label = row.key.size() > 11 ? row.key.substr(11) + ":00" : row.key;
    if (day != lastDay) label = day.substr(5) + " " + label;
    lastDay = day;
    hourBars.push_back(
        {label, row.counts.yield(), Format("%.0f%% of %zu", row.counts.yield(), row.counts.parts),
         Format("%s:00: %zu OK of %zu", row.key.c_str(), row.counts.ok, row.counts.parts)});
  }
  html += "<h2>Yield per hour</h2>\n<div class=\"chart\">\n" + BarChart(hourBars, 100, true) +
          "</div>\n";

  std::vector<Bar> ngBars;
  std::vector<double> cumulative;
  std::size_t ngTotal = 0, running = 0;
  for (const NgCode& ng : s.ngCodes) ngTotal += ng.count;
  double most = 0;
  for (const NgCode& ng : s.ngCodes) {
    running += ng.count;
    most = std::max(most, static_cast<double>(ng.count));
    ngBars.push_back(
        {Format("0x%02X", static_cast<unsigned>(ng.result)), static_cast<double>(ng.count),
         std::to_string(ng.count),
         Format("0x%02X %s: %zu", static_cast<unsigned>(ng.result), ng.text.c_str(), ng.count)});
    cumulative.push_back(100.0 * static_cast<double>(running) / static_cast<double>(ngTotal));
  }
  // A count axis in whole steps of four.
  const double maximum = std::max(4.0, std::ceil(most / 4) * 4);
  html += "<h2>NG result codes (Pareto)</h2>\n<div class=\"chart\">\n" +
          BarChart(ngBars, maximum, false, &cumulative) + "</div>\n";
  if (!s.ngCodes.empty()) {
    html +=
        "<table><tr><th>code</th><th class=\"l\">text</th><th>count</th><th>share</th>"
        "<th>cumulative</th></tr>\n";
    running = 0;
    for (const NgCode& ng : s.ngCodes) {
      running += ng.count;
      html += Format(
          "<tr><td>0x%02X</td><td class=\"l\">%s</td><td>%zu</td><td>%.1f%%</td>"
          "<td>%.1f%%</td></tr>\n",
          static_cast<unsigned>(ng.result), Escape(ng.text).c_str(), ng.count,
          100.0 * static_cast<double>(ng.count) / static_cast<double>(ngTotal),
          100.0 * static_cast<double>(running) / static_cast<double>(ngTotal));
    }
    html += "</table>\n";
  }

  html +=
      "<h2>Per day and channel</h2>\n<table><tr><th class=\"l\">day</th><th>channel</th>"
      "<th>parts</th><th>OK</th><th>NG</th><th>yield</th><th>parts per hour</th></tr>\n";
  for (const SummaryRow& row : s.days) {
    html += Format("<tr%s><td class=\"l\">%s</td><td>%s</td>",
                   row.channel == 0 ? " class=\"total\"" : "", row.key.c_str(),
                   ChannelName(row.channel).c_str()) +
            CountsCells(row.counts) + "</tr>\n";
  }
  html += "</table>\n</body></html>\n";
  return html;
}

}  // namespace korvan
