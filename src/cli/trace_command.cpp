// korvan-cli trace FILE [--channel N]: a wire trace (korvan-cli run --trace, korvan-sim
// --trace, or the window's KORVAN_TRACE) as a timeline per channel: each frame, noise run and
// line event with its time, each reply with the time since its request, requests that got no
// reply marked, and a summary per channel.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

using Json = nlohmann::json;

struct Entry {
  double t = 0;
  std::size_t order = 0;  // position in the file, to keep ties in file order
  Json j;
};

struct ChannelSummary {
  std::size_t requests = 0, replies = 0, reports = 0;
  std::size_t bytesOut = 0, bytesIn = 0, noiseBytes = 0;
  std::size_t badCrc = 0, undecodable = 0, unanswered = 0, unsolicited = 0, hangups = 0;
  double longestGap = -1;
  std::string longestWhat;
};

std::string Text(const Json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::size_t Count(const Json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_number_unsigned() ? it->get<std::size_t>() : 0;
}

// Up to 24 bytes of a hex string, spaced, with the rest counted.
std::string ShortHex(const std::string& hex) {
  std::string out;
  const std::size_t shown = std::min<std::size_t>(hex.size() / 2, 24);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i) out += ' ';
    out += hex.substr(2 * i, 2);
  }
  if (hex.size() / 2 > shown) out += Format(" … (%zu more)", hex.size() / 2 - shown);
  return out;
}

// What a frame says: "0x93 erase param 0x0003 body 0 crc ok".
std::string FrameText(const Json& j) {
  std::string out;
  const bool request = Text(j, "dir") == "pc>prog";
  if (!Text(j, "error").empty()) return "undecodable frame (" + Text(j, "error") + ")";
  if (Text(j, "name") == "progress") {
    return "progress report stage " + Text(j, "stage") + " result " + Text(j, "result");
  }
  if (request) {
    out = Text(j, "command");
  } else if (!Text(j, "status").empty()) {
    out = "status " + Text(j, "status");
  } else {
    out = "reply to " + Text(j, "command");
  }
  if (!Text(j, "name").empty()) out += " " + Text(j, "name");
  if (!Text(j, "identity").empty()) out += " \"" + Text(j, "identity") + "\"";
  if (!Text(j, "param").empty()) out += " param " + Text(j, "param");
  if (j.contains("body")) out += Format(" body %zu", Count(j, "body"));
  if (j.contains("packet")) out += Format(" (packet of %zu bytes)", Count(j, "packet"));
  const std::string crc = Text(j, "crc");
  if (crc == "bad") out += " CRC BAD";
  if (crc == "ok") out += " crc ok";
  return out;
}

// A request in a word or three: "0x95 program param 0x8001".
std::string RequestText(const Json& j) {
  std::string out = Text(j, "command");
  if (!Text(j, "name").empty()) out += " " + Text(j, "name");
  if (!Text(j, "param").empty()) out += " param " + Text(j, "param");
  return out;
}

class TraceCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "trace",
        "Show a wire trace (written by run --trace, korvan-sim --trace or the window's "
        "KORVAN_TRACE) as a timeline per channel: frames, noise and line events with their "
        "times, the gap between each request and its reply, requests left unanswered, and a "
        "summary per channel.");
    sub->footer(
        "Exit status: 0 shown (lines that are not trace lines, such as a last line cut short, "
        "are skipped and counted on stderr), 2 usage error, 3 the file could not be read.");
    sub->add_option("FILE", file_, "The trace file")->required();
    sub->add_option("--channel", channel_, "Only this channel")->check(CLI::PositiveNumber);
    return sub;
  }

  int Run() override {
    std::ifstream in(file_, std::ios::binary);
    if (!in.is_open()) {
      std::cerr << "trace: cannot read " << file_ << '\n';
      return kExitIo;
    }
    std::optional<double> start;
    std::map<int, std::vector<Entry>> channels;
    std::size_t skipped = 0, order = 0, lineNumber = 0, firstSkipped = 0;
    std::string line;
    while (std::getline(in, line)) {
      ++lineNumber;
      if (line.empty()) continue;
      Json j = Json::parse(line, nullptr, false);
      if (j.is_discarded() || !j.is_object() || !j.contains("t") || !j["t"].is_number()) {
        if (skipped++ == 0) firstSkipped = lineNumber;
        continue;
      }
      const double t = j["t"].get<double>();
      if (!start || t < *start) start = t;
      if (Text(j, "kind") == "trace") continue;
      const int channel = j.value("channel", 0);
      if (channel_ && channel != *channel_) continue;
      channels[channel].push_back({t, order++, std::move(j)});
    }
    if (in.bad()) {
      std::cerr << "trace: cannot read " << file_ << '\n';
      return kExitIo;
    }
    if (channels.empty()) {
      std::cout << (channel_ ? Format("channel %d: nothing in the trace\n", *channel_)
                             : std::string("nothing in the trace\n"));
    }
    for (auto& [channel, entries] : channels) Print(channel, entries, start.value_or(0));
    std::cout.flush();
    if (skipped) {
      std::cerr << "trace: " << skipped << " line(s) skipped: cut short or not a trace line"
                << " (first: line " << firstSkipped << ")\n";
    }
    return std::cout ? kExitOk : kExitIo;
  }

 private:
  static void Print(int channel, std::vector<Entry>& entries, double start) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.t < b.t; });
    std::cout << Format("channel %d\n", channel);
    ChannelSummary s;
    // The request waiting for its reply: the programmer answers each request with one frame.
    const Entry* pending = nullptr;
    // Said when it is known, at the time of what ends the wait.
    const auto unanswered = [&](double now, const char* why) {
      if (!pending) return;
      ++s.unanswered;
      std::cout << Format("  %12.6f  %-8s  !! no reply to %s sent at %.6f (%s)\n", now - start, "",
                          RequestText(pending->j).c_str(), pending->t - start, why);
      pending = nullptr;
    };
    std::string port;
    for (const Entry& e : entries) {
      const Json& j = e.j;
      const std::string kind = Text(j, "kind");
      const std::string dir = Text(j, "dir");
      const std::string where = Text(j, "port");
      if (where != port && !where.empty()) {
        port = where;
        std::cout << "  port " << port << '\n';
      }
      const bool out = dir == "pc>prog";
      std::string text;
      std::string note;
      if (kind == "frame") {
        (out ? s.bytesOut : s.bytesIn) += Count(j, "bytes");
        if (Text(j, "crc") == "bad") ++s.badCrc;
        if (!Text(j, "error").empty()) ++s.undecodable;
        text = FrameText(j);
        if (out) {
          ++s.requests;
          unanswered(e.t, "another request went first");
          pending = &e;
        } else if (Text(j, "name") == "progress") {
          ++s.reports;
        } else {
          ++s.replies;
          if (pending) {
            const double gap = (e.t - pending->t) * 1000.0;
            note = Format("  [%.3f ms after %s]", gap,
                          Text(pending->j, "name").empty() ? Text(pending->j, "command").c_str()
                                                           : Text(pending->j, "name").c_str());
            if (gap > s.longestGap) {
              s.longestGap = gap;
              s.longestWhat = RequestText(pending->j);
            }
            pending = nullptr;
          } else {
            ++s.unsolicited;
            note = "  [no request waiting]";
          }
        }
      } else if (kind == "noise" || kind == "trailer") {
        (out ? s.bytesOut : s.bytesIn) += Count(j, "bytes");
        if (kind == "noise") s.noiseBytes += Count(j, "bytes");
        text = Format("%s %zu bytes", kind.c_str(), Count(j, "bytes"));
        if (!Text(j, "reason").empty()) text += " (" + Text(j, "reason") + ")";
        text += ": " + ShortHex(Text(j, "raw"));
      } else if (kind == "hangup") {
        ++s.hangups;
        unanswered(e.t, "hang-up");
        text = "HANG-UP";
      } else if (kind == "close") {
        unanswered(e.t, "port closed");
        text = "port closed";
      } else if (kind == "open") {
        text = "port opened";
      } else if (kind == "line-error") {
        text = "line error " + Text(j, "flags");
      } else if (kind == "lost") {
        text = Format("%zu bytes not traced (the trace fell behind)", Count(j, "bytes"));
      } else {
        text = kind;
      }
      std::cout << Format("  %12.6f  %-8s  %s%s\n", e.t - start, dir.empty() ? "" : dir.c_str(),
                          text.c_str(), note.c_str());
    }
    unanswered(entries.empty() ? start : entries.back().t, "end of the trace");
    std::cout << Format(
        "  summary: %zu requests, %zu replies, %zu progress reports; %zu bytes out, %zu bytes "
        "in; %zu noise bytes; %zu bad CRC, %zu undecodable; %zu unanswered, %zu unsolicited; "
        "%zu hang-ups",
        s.requests, s.replies, s.reports, s.bytesOut, s.bytesIn, s.noiseBytes, s.badCrc,
        s.undecodable, s.unanswered, s.unsolicited, s.hangups);
    if (s.longestGap >= 0) {
      std::cout << Format("; longest reply %.3f ms (%s)", s.longestGap, s.longestWhat.c_str());
    }
    std::cout << "\n\n";
  }

  std::string file_;
  std::optional<int> channel_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::TraceCommand;
KORVAN_REGISTER_COMMAND(TraceCommand, "trace")
